// Real NDX files of the corpus (written by other programs): they open,
// walk forward and backward in the order the peer reader found, pass the
// structural check, hold one entry per record with the key the
// expression gives, and find every key.
#include <gtest/gtest.h>

#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "tests/engine/ndx/ndx_test_util.h"

namespace qx::engine::testing {
namespace {

struct CorpusIndex {
  const char* folder;
  const char* index;
  const char* table;
};
void PrintTo(const CorpusIndex& c, std::ostream* os) { *os << c.index; }

// Every NDX file of the corpus.
const CorpusIndex kCorpus[] = {
    {"dbd-xbase", "ndx-char.ndx", "ndx-char.dbf"},
    {"dbd-xbase", "ndx-date.ndx", "ndx-date.dbf"},
    {"dbd-xbase", "ndx-num.ndx", "ndx-num.dbf"},
    {"ndbfreaderex", "test_ix.NDX", "test_ix.DBF"},
};

class NdxCorpusTest : public NdxTest,
                      public ::testing::WithParamInterface<CorpusIndex> {};

TEST_P(NdxCorpusTest, WalksChecksAndMatchesTheTable) {
  const CorpusIndex& c = GetParam();
  const std::string folder =
      qx::testing::SharedDir() + "/fixtures/real/" + c.folder + "/";
  const std::vector<uint32_t> expected =
      ReadOrderFile(folder + "expected/" + c.index + ".order");
  ASSERT_FALSE(expected.empty());

  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdnopenx(&h, (folder + c.index).c_str(), kFixtureMode), kKbdOk);
  std::vector<NdxEntry> walk = Walk(h);
  EXPECT_EQ(Recnos(walk), expected);
  EXPECT_EQ(WalkBack(h), walk);
  btree::CheckReport report = Check(h);
  EXPECT_EQ(report.keys, expected.size());

  // Each entry holds its record's key; every key is found again.
  int16_t dbf = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&dbf, (folder + c.table).c_str(), kFixtureMode), kKbdOk);
  uint32_t count = 0;
  ASSERT_EQ(kbddreccount(dbf, &count), kKbdOk);
  EXPECT_EQ(count, walk.size());
  for (const NdxEntry& e : walk) {
    ASSERT_GE(kbddread(dbf, e.recno), 0);
    void* key = nullptr;
    ASSERT_EQ(kbdnkmake(dbf, h, &key), kKbdOk);
    EXPECT_EQ(std::string(static_cast<char*>(key), e.key.size()), e.key)
        << "record " << e.recno;
    kbdfree(key);
    NdxEntry found;
    EXPECT_EQ(Find(h, e.key, e.recno, kKbdFindRecno, &found), kKbdOk);
    EXPECT_EQ(found, e);
  }
  EXPECT_EQ(kbddclose(dbf), kKbdOk);
  EXPECT_EQ(kbdnclose(h), kKbdOk);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, NdxCorpusTest, ::testing::ValuesIn(kCorpus),
                         [](const auto& param_info) {
                           std::string name = param_info.param.index;
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c)))
                               c = '_';
                           return name;
                         });

}  // namespace
}  // namespace qx::engine::testing
