// kbdxbuild: indexes built over data files through the sorted work file
// hold one entry per record (deleted ones too) in key and record order,
// keys as kbdxkeyrec makes them, full leaves, pass the check, walk as the
// same keys added one by one, and walk in the same order under Perl
// XBase. An empty data file gives the empty index; failures leave no
// index and no work file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/ntx/ntx_test_util.h"

namespace qx::engine::testing {
namespace {

class NtxBuildTest : public NtxTest {
 protected:
  // The keys kbdxkeyrec gives for every record the FOR condition accepts
  // (kbdxforrec), in key and record order.
  static std::vector<IndexEntry> ExpectedEntries(int16_t dbf, int16_t index) {
    uint32_t count = 0;
    EXPECT_EQ(kbddreccount(dbf, &count), kKbdOk);
    const uint16_t length = NtxKeyLength(index);
    std::vector<IndexEntry> entries;
    for (uint32_t r = 1; r <= count; ++r) {
      EXPECT_GE(kbddread(dbf, r), 0);
      const int16_t belongs = kbdxforrec(dbf, index);
      EXPECT_GE(belongs, 0);
      if (belongs == 0) continue;
      void* key = nullptr;
      EXPECT_EQ(kbdxkeyrec(dbf, index, &key), kKbdOk);
      entries.push_back({std::string(static_cast<char*>(key), length), r});
      kbdfree(key);
    }
    std::stable_sort(
        entries.begin(), entries.end(),
        [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; });
    return entries;
  }

  // Builds, opens and checks; the handle is closed by kbdterm. The tests
  // read the built file while it is open.
  int16_t Build(int16_t dbf, const std::string& name, uint16_t type,
                const char* expression, uint16_t length,
                uint16_t decimals = 0) {
    EXPECT_EQ(
        kbdxbuild(dbf, Path(name).c_str(), type, expression, length, decimals),
        kKbdOk);
    EXPECT_FALSE(std::filesystem::exists("stacks.tmp"));
    int16_t h = kKbdNoHandle;
    EXPECT_EQ(
        kbdxopenx(&h, Path(name).c_str(), qx::testing::ModeForTestReads()),
        kKbdOk);
    return h;
  }

  // Compares the record order Perl XBase walks with ours; false when the
  // peer is missing.
  static bool SameUnderPerl(const std::string& path,
                            const std::vector<IndexEntry>& entries) {
    std::vector<uint32_t> perl;
    std::string failure;
    if (!PerlOrder(path, 'C', "", &perl, &failure)) {
      EXPECT_EQ(failure, "");
      return false;
    }
    EXPECT_EQ(perl, Recnos(entries));
    return true;
  }
};

TEST_F(NtxBuildTest, DescendingAndUniqueBuilds) {
  // Descending: the largest key first, equal keys by record; unique: the
  // first record of each key. Both through many sort runs (the unique
  // build sorts its distinct keys a second time) and both work files gone.
  const uint32_t n = 30000;
  int16_t dbf = MakeBuildTable(Path("t.dbf"), n, 5, 5);
  for (uint16_t flags : {uint16_t{kKbdKeyDescending}, uint16_t{kKbdKeyUnique},
                         uint16_t{kKbdKeyUnique | kKbdKeyDescending}}) {
    SCOPED_TRACE(flags);
    const std::string name = "d" + std::to_string(flags) + ".ntx";
    ASSERT_EQ(kbdxbuildx(dbf, Path(name).c_str(), 'C' | flags, "LEFT(NAME,3)",
                         3, 0, "NAME > \"A\""),
              kKbdOk);
    EXPECT_FALSE(std::filesystem::exists("stacks.tmp"));
    EXPECT_FALSE(std::filesystem::exists("stacku.tmp"));
    int16_t h = kKbdNoHandle;
    ASSERT_EQ(kbdxopenx(&h, Path(name).c_str(), 0), kKbdOk);
    std::vector<IndexEntry> expected = ExpectedEntries(dbf, h);
    if (flags & kKbdKeyUnique) {
      expected.erase(std::unique(expected.begin(), expected.end(),
                                 [](const IndexEntry& a, const IndexEntry& b) {
                                   return a.key == b.key;
                                 }),
                     expected.end());
    }
    if (flags & kKbdKeyDescending) {
      std::stable_sort(expected.begin(), expected.end(),
                       [](const IndexEntry& a, const IndexEntry& b) {
                         return a.key > b.key;
                       });
    }
    EXPECT_EQ(Walk(h), expected);
    EXPECT_EQ(NtxCheck(h).keys, expected.size());
    // Names beginning with "A" equal "A" over its length (Clipper's "="
    // on texts), so they are not greater: the condition leaves them out.
    EXPECT_LT(expected.size(), n);
    char condition[257];
    ASSERT_EQ(kbdxforexpr(h, condition), kKbdOk);
    EXPECT_STREQ(condition, "NAME > \"A\"");
  }
}

TEST_F(NtxBuildTest, CharacterBuildThroughManyRuns) {
  // 20-byte keys make 24-byte sort items: 2,708 per run of the 65,000-byte
  // area, so 30,000 records sort in 12 runs.
  const uint32_t n = 30000;
  int16_t dbf = MakeBuildTable(Path("t.dbf"), n, 11, 5);
  int16_t h = Build(dbf, "name.ntx", 'C', "NAME", 20);
  const std::vector<IndexEntry> expected = ExpectedEntries(dbf, h);
  EXPECT_EQ(Walk(h), expected);
  btree::CheckReport report = NtxCheck(h);
  EXPECT_EQ(report.keys, n);
  // 28-byte items: 32 keys a page. Full leaves, every 33rd key one level
  // up: 910 leaves (the last two share 35 keys), 28 pages above them
  // and a root.
  EXPECT_EQ(report.tree_pages, 910u + 28u + 1u);
  EXPECT_EQ(report.levels, 3u);
  EXPECT_EQ(FileSize(Path("name.ntx")), (report.tree_pages + 1) * 1024u);
  // The header was stamped at close: counter 2.
  EXPECT_EQ(Word(ReadFile(Path("name.ntx")), 2, 2), 2u);
  ASSERT_EQ(kbdxclose(h), kKbdOk);

  // The same keys added one by one walk the same way.
  kbdsetsync(0);
  h = CreateOpen("inc.ntx", 'C', "NAME", 20);
  for (const IndexEntry& e : expected)
    ASSERT_EQ(Add(h, e.key, e.recno), kKbdOk);
  EXPECT_EQ(Walk(h), expected);
  NtxCheck(h);

  if (!SameUnderPerl(Path("name.ntx"), expected))
    GTEST_SKIP() << "no Perl XBase";
}

TEST_F(NtxBuildTest, NumericDateAndExpressionBuilds) {
  const uint32_t n = 3000;
  int16_t dbf = MakeBuildTable(Path("t.dbf"), n, 5, 6);
  const struct {
    const char* file;
    uint16_t type;
    const char* expression;
    uint16_t length;
    uint16_t decimals;
  } cases[] = {{"amount.ntx", 'N', "AMOUNT", 12, 3},
               {"birth.ntx", 'D', "BIRTH", 8, 0},
               {"str.ntx", 'C', "STR(AMOUNT,10,1)+UPPER(NAME)", 30, 0},
               {"short.ntx", 'N', "AMOUNT", 6, 0}};
  bool perl = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    int16_t h = Build(dbf, c.file, c.type, c.expression, c.length, c.decimals);
    const std::vector<IndexEntry> expected = ExpectedEntries(dbf, h);
    EXPECT_EQ(Walk(h), expected);
    EXPECT_EQ(NtxCheck(h).keys, n);
    if (c.type == 'N') {
      // Numbers in value order, negatives first.
      double previous = -1e300;
      for (const IndexEntry& e : expected) {
        ASSERT_GE(kbddread(dbf, e.recno), 0);
        double amount = 0;
        ASSERT_EQ(kbddget(dbf, 1, &amount), kKbdOk);
        if (c.decimals > 0) {
          EXPECT_LE(previous, amount);
        }
        previous = amount;
      }
    }
    if (perl) perl = SameUnderPerl(Path(c.file), expected);
  }
}

TEST_F(NtxBuildTest, EmptyTablesAndFailures) {
  int16_t dbf = MakeBuildTable(Path("empty.dbf"), 0, 1, 5);
  int16_t h = Build(dbf, "empty.ntx", 'C', "NAME", 20);
  EXPECT_EQ(FileSize(Path("empty.ntx")), 2048u);
  EXPECT_TRUE(Walk(h).empty());

  // A failing expression: no index, no work file.
  int16_t full = MakeBuildTable(Path("t.dbf"), 50, 2, 5);
  EXPECT_EQ(kbdxbuild(full, Path("bad.ntx").c_str(), 'C', "NAME+AMOUNT", 20, 0),
            kKbdErrKeyExpression);
  kbdseterror(0);
  EXPECT_FALSE(std::filesystem::exists(Path("bad.ntx")));
  EXPECT_FALSE(std::filesystem::exists("stacks.tmp"));
  EXPECT_EQ(kbdxbuild(h, Path("bad.ntx").c_str(), 'C', "NAME", 20, 0),
            kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(kbdxbuild(full, Path("bad.ntx").c_str(), 'C', "NAME", 0, 0),
            kKbdErrKeySize);
  kbdseterror(0);
}

}  // namespace
}  // namespace qx::engine::testing
