// kbdnindex: indexes built over data files through the sorted work file
// hold one entry per record (deleted ones too; unique indexes the first of
// each key) in key and record order,
// in full leaves, pass the check, agree with keys added one by one, and
// walk in the same order under Perl XBase. Failures leave no index and no
// work file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/collate/collation.h"
#include "engine/dates/date_format.h"
#include "tests/engine/ndx/ndx_test_util.h"

namespace qx::engine::testing {
namespace {

class NdxBuildTest : public NdxTest {
 protected:
  int16_t MakeTable(const std::string& name, uint32_t n, uint32_t seed) {
    return MakeBuildTable(Path(name), n, seed, 1);
  }

  // The keys kbdnkmake gives for every record, sorted as the index sorts
  // them (key, then record number).
  std::vector<NdxEntry> ExpectedEntries(int16_t dbf, int16_t index,
                                        bool numeric) {
    uint32_t count = 0;
    EXPECT_EQ(kbddreccount(dbf, &count), kKbdOk);
    const uint16_t length = KeyLength(index);
    std::vector<NdxEntry> entries;
    for (uint32_t r = 1; r <= count; ++r) {
      EXPECT_GE(kbddread(dbf, r), 0);
      void* key = nullptr;
      EXPECT_EQ(kbdnkmake(dbf, index, &key), kKbdOk);
      entries.push_back({std::string(static_cast<char*>(key), length), r});
      kbdfree(key);
    }
    std::stable_sort(
        entries.begin(), entries.end(),
        [&](const NdxEntry& a, const NdxEntry& b) {
          if (numeric) {
            return KeyNumber(a.key) < KeyNumber(b.key);
          }
          return CompareCharKeys(reinterpret_cast<const uint8_t*>(a.key.data()),
                                 reinterpret_cast<const uint8_t*>(b.key.data()),
                                 length) < 0;
        });
    return entries;
  }

  // Builds, opens and checks; the handle is closed by kbdterm.
  int16_t Build(int16_t dbf, const std::string& name, uint16_t type,
                const char* expression, uint16_t length) {
    EXPECT_EQ(kbdnindex(dbf, Path(name).c_str(), type, expression, length),
              kKbdOk);
    EXPECT_FALSE(std::filesystem::exists("stacks.tmp"));
    int16_t h = kKbdNoHandle;
    EXPECT_EQ(kbdnopenx(&h, Path(name).c_str(), 0), kKbdOk);
    return h;
  }

  // Record numbers in the order Perl XBase walks the file; false when
  // the peer is missing.
  static bool PerlOrder(const std::string& path, char type,
                        std::vector<uint32_t>* order) {
    std::string failure;
    bool walked =
        qx::engine::testing::PerlOrder(path, type, "", order, &failure);
    EXPECT_EQ(failure, "");
    return walked;
  }
};

TEST_F(NdxBuildTest, CharacterBuildThroughManyRuns) {
  // 20-byte keys make 24-byte sort items: 2,708 per run, so 30,000
  // records sort in 12 runs.
  const uint32_t n = 30000;
  int16_t dbf = MakeTable("t.dbf", n, 11);
  int16_t h = Build(dbf, "name.ndx", 'C', "NAME", 20);
  std::vector<NdxEntry> expected = ExpectedEntries(dbf, h, false);
  EXPECT_EQ(Walk(h), expected);
  btree::CheckReport report = Check(h);
  EXPECT_EQ(report.keys, n);
  // 28-byte entries: 18 keys per full leaf; leaves and the levels above.
  const uint32_t leaves = (n + 17) / 18;
  uint32_t pages = leaves;
  for (uint32_t level = leaves; level > 1; level = (level + 18) / 19)
    pages += (level + 18) / 19;
  EXPECT_EQ(report.tree_pages, pages);
  EXPECT_EQ(FileSize(Path("name.ndx")), (pages + 1) * 512u);
  ASSERT_EQ(kbdnclose(h), kKbdOk);

  // The same keys added one by one walk the same way.
  h = CreateOpen("inc.ndx", 'C', "NAME", 20);
  for (const NdxEntry& e : expected) ASSERT_EQ(Add(h, e.key, e.recno), kKbdOk);
  EXPECT_EQ(Walk(h), expected);

  std::vector<uint32_t> perl;
  if (!PerlOrder(Path("name.ndx"), 'C', &perl)) GTEST_SKIP() << "no Perl XBase";
  EXPECT_EQ(perl, Recnos(expected));
}

TEST_F(NdxBuildTest, NumericDateAndExpressionBuilds) {
  const uint32_t n = 5000;
  int16_t dbf = MakeTable("t.dbf", n, 5);
  struct Case {
    const char* file;
    uint16_t type;
    const char* expression;
    uint16_t length;
    bool numeric;
    char perl_type;
  };
  const Case cases[] = {
      {"amount.ndx", 'N', "AMOUNT", 8, true, 'N'},
      {"birth.ndx", 'D', "BIRTH", 8, true, 'D'},
      {"upper.ndx", 'C', "UPPER(NAME)+STR(AMOUNT,12,3)", 32, false, 'C'},
      {"dtos.ndx", 'C' | kKbdKeyUnique, "DTOS(BIRTH)", 8, false, 'C'},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    int16_t h = Build(dbf, c.file, c.type, c.expression, c.length);
    std::vector<NdxEntry> expected = ExpectedEntries(dbf, h, c.numeric);
    if ((c.type & kKbdKeyUnique) != 0) {
      // A unique index keeps the first record of each key.
      expected.erase(std::unique(expected.begin(), expected.end(),
                                 [](const NdxEntry& a, const NdxEntry& b) {
                                   return a.key == b.key;
                                 }),
                     expected.end());
      ASSERT_LT(expected.size(), n);
    }
    std::vector<NdxEntry> walk = Walk(h);
    EXPECT_EQ(walk, expected);
    EXPECT_EQ(Check(h).keys, expected.size());
    if (std::string(c.file) == "birth.ndx") {
      // Records without a date come last, as 1.0e100.
      EXPECT_EQ(KeyNumber(walk.back().key), 1.0e100);
    }
    ASSERT_EQ(kbdnclose(h), kKbdOk);
    std::vector<uint32_t> perl;
    if (PerlOrder(Path(c.file), c.perl_type, &perl)) {
      EXPECT_EQ(perl, Recnos(expected));
    }
  }
}

TEST_F(NdxBuildTest, CollationTableOrdersTheBuild) {
  const uint32_t n = 8000;
  int16_t dbf = MakeTable("t.dbf", n, 3);
  kbdsetsort(0, 1);
  int16_t h = Build(dbf, "coll.ndx", 'C', "NAME", 20);
  std::vector<NdxEntry> expected = ExpectedEntries(dbf, h, false);
  EXPECT_EQ(Walk(h), expected);
  Check(h);
  // Adds keep the same order.
  ASSERT_EQ(Add(h, "\xC4", n + 1), kKbdOk);
  ASSERT_EQ(Add(h, "b", n + 2), kKbdOk);
  Check(h);
}

TEST_F(NdxBuildTest, SmallEmptyAndFailedBuilds) {
  int16_t dbf = MakeTable("t.dbf", 0, 1);
  ASSERT_EQ(kbdnindex(dbf, Path("e.ndx").c_str(), 'C', "NAME", 10), kKbdOk);
  EXPECT_EQ(FileSize(Path("e.ndx")), 1024u);
  ASSERT_EQ(kbddclose(dbf), kKbdOk);

  dbf = MakeTable("one.dbf", 1, 1);
  int16_t h = Build(dbf, "one.ndx", 'C', "NAME", 10);
  EXPECT_EQ(Walk(h).size(), 1u);
  EXPECT_EQ(FileSize(Path("one.ndx")), 1024u);  // page 1 took the leaf
  Check(h);

  // A bad expression, a type that does not suit it, a bad handle: the
  // index and the work file are gone.
  EXPECT_EQ(kbdnindex(dbf, Path("bad.ndx").c_str(), 'C', "NAME+AMOUNT", 10),
            kKbdErrKeyExpression);
  kbdseterror(0);
  EXPECT_FALSE(std::filesystem::exists(Path("bad.ndx")));
  EXPECT_EQ(kbdnindex(dbf, Path("bad.ndx").c_str(), 'N', "NAME", 8),
            kKbdErrKeyExpression);
  kbdseterror(0);
  EXPECT_FALSE(std::filesystem::exists(Path("bad.ndx")));
  EXPECT_FALSE(std::filesystem::exists("stacks.tmp"));
  EXPECT_EQ(kbdnindex(h, Path("bad.ndx").c_str(), 'C', "NAME", 10),
            kKbdErrHandle);
  kbdseterror(0);
  EXPECT_FALSE(std::filesystem::exists(Path("bad.ndx")));
  // The data-file lock was released: another handle can take it.
  int16_t other = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&other, Path("one.dbf").c_str(), 0x401), kKbdOk);
  EXPECT_EQ(kbddlock(other, 2), kKbdOk);
  EXPECT_EQ(kbddunlock(other, 2), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
