// Real NTX files of the corpus (written by other programs): every one
// opens, walks forward and backward in the order the peer reader found,
// passes the structural check, and finds each of its entries again. Files
// written under a national collation are not in byte order: their check
// may only report the order, and finds (which bisect by bytes) are not
// tried on them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/ntx/ntx_test_util.h"

namespace qx::engine::testing {
namespace {

TEST_F(NtxTest, RealFilesWalkCheckAndFind) {
  const std::vector<std::filesystem::path> files = CorpusFiles({".ntx"});
  EXPECT_GE(files.size(), 17u);
  for (const std::filesystem::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::string expected_dir = file.parent_path().string() + "/expected/";
    const std::string name = file.filename().string();
    const std::vector<uint32_t> expected =
        ReadOrderFile(expected_dir + name + ".order");
    ASSERT_FALSE(expected.empty());
    const std::string info = ReadFile(expected_dir + name + ".info.json");
    const bool byte_order =
        info.find("\"sorted_by_raw_value\": false") == std::string::npos;

    int16_t h = kKbdNoHandle;
    ASSERT_EQ(kbdxopenx(&h, file.string().c_str(), 0x100), kKbdOk);
    const std::vector<IndexEntry> walk = Walk(h);
    EXPECT_EQ(Recnos(walk), expected);
    EXPECT_EQ(WalkBack(h), walk);

    btree::CheckReport report;
    ASSERT_EQ(CheckNtx(h, &report), kKbdOk);
    EXPECT_EQ(report.keys, expected.size());
    for (const std::string& problem : report.problems) {
      if (byte_order || problem.rfind("R3 order:", 0) != 0)
        ADD_FAILURE() << problem;
    }
    if (byte_order) {
      for (const IndexEntry& e : walk) {
        EXPECT_EQ(kbdxfind(h, e.key.c_str(), e.recno), kKbdOk)
            << "record " << e.recno;
      }
    }
    ASSERT_EQ(kbdxclose(h), kKbdOk);
  }
}

}  // namespace
}  // namespace qx::engine::testing
