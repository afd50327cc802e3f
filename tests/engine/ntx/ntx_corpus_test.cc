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

// Every .ntx file below the corpus folder, with its expected order.
std::vector<std::filesystem::path> CorpusFiles() {
  std::vector<std::filesystem::path> files;
  const std::filesystem::path root =
      qx::testing::SharedDir() + "/fixtures/real";
  for (const auto& entry :
       std::filesystem::recursive_directory_iterator(root)) {
    std::string extension = entry.path().extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(c));
    if (entry.is_regular_file() && extension == ".ntx")
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST_F(NtxTest, RealFilesWalkCheckAndFind) {
  const std::vector<std::filesystem::path> files = CorpusFiles();
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
    ASSERT_EQ(kbdxopenx(&h, file.c_str(), 0x100), kKbdOk);
    const std::vector<IndexEntry> walk = Walk(h);
    std::vector<uint32_t> order;
    for (const IndexEntry& e : walk) order.push_back(e.recno);
    EXPECT_EQ(order, expected);
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
