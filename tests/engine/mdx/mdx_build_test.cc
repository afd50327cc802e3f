// kbdmindex: tags built over data files through the sorted work file hold
// one entry per record (deleted ones too) in key and record order (unique
// tags the first record of each key), in full pages, pass the checks,
// agree with keys added one by one, reuse the blocks of the tag they
// replace, and walk in the same order under Perl XBase. Failures leave no
// tag, no lost block and no work file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/btree/key_order.h"
#include "engine/collate/collation.h"
#include "engine/mdx/mdx_decimal.h"
#include "tests/engine/mdx/mdx_test_util.h"

namespace qx::engine::testing {
namespace {

// A tag to build: name, type word, expression, key length.
struct TagCase {
  const char* tag;
  uint16_t type;
  const char* expression;
  uint16_t length;
};

class MdxBuildTest : public MdxTest {
 protected:
  int16_t MakeTable(const std::string& name, uint32_t n, uint32_t seed) {
    return MakeBuildTable(Path(name), n, seed, 2);
  }

  // The keys kbdmkmake gives for every record, in the tag's order.
  std::vector<IndexEntry> ExpectedEntries(int16_t dbf, int32_t t) {
    KbdMdxTagInfo info;
    EXPECT_EQ(kbdmtaginfo(t, &info), kKbdOk);
    uint32_t count = 0;
    EXPECT_EQ(kbddreccount(dbf, &count), kKbdOk);
    std::vector<IndexEntry> entries;
    for (uint32_t r = 1; r <= count; ++r) {
      EXPECT_GE(kbddread(dbf, r), 0);
      void* key = nullptr;
      EXPECT_EQ(kbdmkmake(dbf, t, &key), kKbdOk);
      entries.push_back(
          {std::string(static_cast<char*>(key), info.key_length), r});
      kbdfree(key);
    }
    const bool unique = (info.flags & 128) != 0;
    auto compare = [&](const IndexEntry& a, const IndexEntry& b) {
      const uint8_t* x = reinterpret_cast<const uint8_t*>(a.key.data());
      const uint8_t* y = reinterpret_cast<const uint8_t*>(b.key.data());
      if (info.type == 'N') return CompareMdxDecimals(x, y);
      if (info.type == 'D') return btree::CompareLeDoubleKeys(x, y);
      return CompareCharKeys(x, y, info.key_length);
    };
    std::sort(entries.begin(), entries.end(),
              [&](const IndexEntry& a, const IndexEntry& b) {
                int c = compare(a, b);
                if (c != 0) return c < 0;
                if (a.key != b.key) return a.key < b.key;
                return a.recno < b.recno;
              });
    // A unique tag keeps the first record of each key.
    if (unique)
      entries.erase(std::unique(entries.begin(), entries.end(),
                                [&](const IndexEntry& a, const IndexEntry& b) {
                                  return compare(a, b) == 0;
                                }),
                    entries.end());
    return entries;
  }

  // Builds and opens; the handles are closed by kbdterm.
  int32_t Build(int16_t dbf, int16_t h, const char* tag, uint16_t type,
                const char* expression, uint16_t length) {
    EXPECT_EQ(kbdmindex(dbf, h, tag, type, expression, length), kKbdOk);
    EXPECT_FALSE(std::filesystem::exists("stacks.tmp"));
    int32_t t = kKbdNoHandle;
    EXPECT_EQ(kbdmtagopen(&t, h, tag), kKbdOk);
    return t;
  }
};

TEST_F(MdxBuildTest, CharacterBuildThroughManyRuns) {
  // 20-byte keys make 24-byte sort items: 2,708 per run, so 30,000
  // records sort in 12 runs.
  const uint32_t n = 30000;
  const int16_t dbf = MakeTable("t.dbf", n, 11);
  const int16_t h = CreateOpen("t.mdx");
  const int32_t t = Build(dbf, h, "NAME", 'C', "NAME", 20);
  const std::vector<IndexEntry> expected = ExpectedEntries(dbf, t);
  EXPECT_EQ(Walk(t), expected);
  const btree::CheckReport report = Check(t);
  EXPECT_EQ(report.keys, n);
  // 24-byte items: 42 keys per full leaf, 43 children per interior page.
  const uint32_t leaves = (n + 41) / 42;
  uint32_t pages = leaves;
  for (uint32_t level = leaves; level > 1; level = (level + 42) / 43)
    pages += (level + 42) / 43;
  EXPECT_EQ(report.tree_pages, pages);
  // Header and tag table, the tag header, the tree.
  EXPECT_EQ(FileSize(Path("t.mdx")), 2048u + (1 + pages) * 1024u);
  const MdxFileReport file_report = CheckFile(h);
  EXPECT_EQ(file_report.free_blocks, 0u);

  // The same keys added one by one walk the same way.
  const int32_t added = DefineOpen(h, "ADDED", 'C', "NAME", 20);
  for (const IndexEntry& e : expected)
    ASSERT_EQ(Add(added, e.key, e.recno), kKbdOk);
  EXPECT_EQ(Walk(added), expected);

  // Rebuilding the first tag reuses its blocks: the file does not grow.
  ASSERT_EQ(kbdmtagclose(t), kKbdOk);
  const uint64_t size = FileSize(Path("t.mdx"));
  const int32_t again = Build(dbf, h, "name", 'C', "NAME", 20);
  EXPECT_EQ(FileSize(Path("t.mdx")), size);
  EXPECT_EQ(Walk(again), expected);
  EXPECT_EQ(CheckFile(h).keys, 2u * n);
}

TEST_F(MdxBuildTest, NumericDateUniqueAndExpressionBuilds) {
  const uint32_t n = 5000;
  const int16_t dbf = MakeTable("t.dbf", n, 5);
  const int16_t h = CreateOpen("t.mdx");
  const TagCase cases[] = {
      {"AMOUNT", 'N', "AMOUNT", 0},
      {"BIRTH", 'D', "BIRTH", 0},
      {"UPPER", 'C', "UPPER(NAME)+STR(AMOUNT,12,3)", 32},
      {"DTOS", 'C' | kKbdKeyUnique, "DTOS(BIRTH)", 8},
      {"DOWN", 'C' | kKbdKeyDescending, "LEFT(NAME,5)", 5},
  };
  uint64_t keys = 0;
  for (const TagCase& c : cases) {
    SCOPED_TRACE(c.tag);
    const int32_t t = Build(dbf, h, c.tag, c.type, c.expression, c.length);
    const std::vector<IndexEntry> walk = Walk(t);
    const std::vector<IndexEntry> expected = ExpectedEntries(dbf, t);
    EXPECT_EQ(walk, expected);
    EXPECT_EQ(Check(t).keys, expected.size());
    keys += expected.size();
    if ((c.type & kKbdKeyUnique) != 0) {
      EXPECT_LT(expected.size(), n);
    }
    if (std::string(c.tag) == "BIRTH") {
      // Records without a date come last, as 1.0e100.
      EXPECT_EQ(walk.back().key, DayKey(1.0e100));
    }
  }
  EXPECT_EQ(CheckFile(h).keys, keys);
}

TEST_F(MdxBuildTest, CollationTableOrdersTheBuild) {
  const uint32_t n = 8000;
  const int16_t dbf = MakeTable("t.dbf", n, 3);
  kbdsetsort(0, 1);
  const int16_t h = CreateOpen("t.mdx");
  const int32_t t = Build(dbf, h, "NAME", 'C', "NAME", 20);
  EXPECT_EQ(Walk(t), ExpectedEntries(dbf, t));
  // Adds keep the same order.
  ASSERT_EQ(Add(t, "\xC4", n + 1), kKbdOk);
  ASSERT_EQ(Add(t, "b", n + 2), kKbdOk);
  Check(t);
}

TEST_F(MdxBuildTest, PerlXBaseWalksTheBuiltTags) {
  const int16_t dbf = MakeTable("t.dbf", 3000, 9);
  const int16_t h = CreateOpen("t.mdx");
  std::vector<std::vector<uint32_t>> ours;
  const TagCase cases[] = {{"NAME", 'C', "NAME", 20},
                           {"AMOUNT", 'N', "AMOUNT", 0},
                           {"BIRTH", 'D', "BIRTH", 0}};
  for (const TagCase& c : cases) {
    const int32_t t = Build(dbf, h, c.tag, c.type, c.expression, c.length);
    ours.push_back(Recnos(Walk(t)));
  }
  ASSERT_EQ(kbdmclose(h), kKbdOk);
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].tag);
    std::vector<uint32_t> perl;
    std::string failure;
    if (!PerlOrder(Path("t.mdx"), static_cast<char>(cases[i].type),
                   cases[i].tag, &perl, &failure)) {
      GTEST_SKIP() << (failure.empty()
                           ? "Perl XBase is not installed"
                           : "Perl XBase cannot read this MDX file: " +
                                 failure);
    }
    EXPECT_EQ(perl, ours[i]);
  }
}

TEST_F(MdxBuildTest, SmallEmptyAndFailedBuilds) {
  int16_t dbf = MakeTable("e.dbf", 0, 1);
  const int16_t h = CreateOpen("t.mdx", qx::testing::ModeForTestReads());
  int32_t t = Build(dbf, h, "EMPTY", 'C', "NAME", 10);
  char key[11];
  uint32_t recno = 0;
  EXPECT_EQ(kbdmkfirst(t, key, &recno), kKbdEmptyFile);
  ASSERT_EQ(kbddclose(dbf), kKbdOk);

  // One record: the leaf goes into the tag's root block.
  dbf = MakeTable("one.dbf", 1, 1);
  const uint64_t before = FileSize(Path("t.mdx"));
  t = Build(dbf, h, "ONE", 'C', "NAME", 10);
  EXPECT_EQ(Walk(t).size(), 1u);
  EXPECT_EQ(FileSize(Path("t.mdx")), before + 2 * 1024u);
  Check(t);

  // A bad expression, a type that does not suit it, a bad handle: the tag
  // is gone, its blocks are free, and the work file too.
  dbf = MakeTable("many.dbf", 3000, 2);
  const std::string file_before = qx::testing::ReadWholeFile(Path("t.mdx"));
  EXPECT_EQ(kbdmindex(dbf, h, "BAD", 'C', "NAME+AMOUNT", 10),
            kKbdErrKeyExpression);
  kbdseterror(0);
  EXPECT_EQ(kbdmindex(dbf, h, "BAD", 'N', "NAME", 0), kKbdErrKeyExpression);
  kbdseterror(0);
  EXPECT_EQ(kbdmindex(h, h, "BAD", 'C', "NAME", 10), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(kbdmindex(dbf, dbf, "BAD", 'C', "NAME", 10), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_FALSE(std::filesystem::exists("stacks.tmp"));
  EXPECT_EQ(kbdmtagopen(&t, h, "BAD"), kKbdErrTagName);
  kbdseterror(0);
  const MdxFileReport report = CheckFile(h);
  EXPECT_EQ(report.tags, 2u);
  EXPECT_GT(report.free_blocks, 0u);
  // The data-file lock was released: another handle can take it.
  int16_t other = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&other, Path("many.dbf").c_str(), 0x402), kKbdOk);
  EXPECT_EQ(kbddlock(other, 2), kKbdOk);
  EXPECT_EQ(kbddunlock(other, 2), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
