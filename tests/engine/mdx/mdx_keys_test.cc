// Key operations of MDX tags: positioning and find outcomes, a split that
// records the new root at once and merges that give blocks back, unique
// tags, the order of packed-decimal and date keys, the key images of
// kbdmnkey and kbdmdkey, and the key of a record for each key type.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/dates/date_format.h"
#include "tests/engine/mdx/mdx_test_util.h"

namespace qx::engine::testing {
namespace {

std::string Text(const std::string& key, size_t length) {
  std::string padded = key;
  padded.resize(length, ' ');
  return padded;
}

TEST_F(MdxTest, PositioningAndFindOutcomes) {
  const int16_t h = CreateOpen("t.mdx");
  const int32_t t = DefineOpen(h, "K", 'C', "NAME", 4);
  char key[5];
  uint32_t recno = 0;
  EXPECT_EQ(kbdmkfirst(t, key, &recno), kKbdEmptyFile);
  EXPECT_EQ(kbdmknext(t, key, &recno), kKbdKeyNotFound);  // no current key
  ASSERT_EQ(Add(t, "B", 1), kKbdOk);
  ASSERT_EQ(Add(t, "D", 3), kKbdOk);
  ASSERT_EQ(Add(t, "D", 2), kKbdOk);
  ASSERT_EQ(Add(t, "FA", 4), kKbdOk);
  EXPECT_EQ(Add(t, "X", 0), kKbdErrCommand);
  kbdseterror(0);
  const std::vector<IndexEntry> walk = Walk(t);
  ASSERT_EQ(walk.size(), 4u);
  EXPECT_EQ(walk[1], (IndexEntry{"D   ", 2}));  // equal keys by record
  EXPECT_EQ(WalkBack(t), walk);

  IndexEntry found;
  EXPECT_EQ(Find(t, "D", 0, 0, &found), kKbdOk);
  EXPECT_EQ(found, (IndexEntry{"D   ", 2}));
  EXPECT_EQ(Find(t, "D", 3, kKbdFindRecno, &found), kKbdOk);
  EXPECT_EQ(found, (IndexEntry{"D   ", 3}));
  EXPECT_EQ(Find(t, "F", 0, 0, &found), kKbdOk);  // a prefix
  EXPECT_EQ(found.recno, 4u);
  EXPECT_EQ(Find(t, "C", 0, 0, &found), kKbdKeyNotFound);
  EXPECT_EQ(found.recno, 1u);  // the greatest smaller key
  EXPECT_EQ(kbdmknext(t, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 2u);
  EXPECT_EQ(Find(t, "A", 0, 0, &found), kKbdKeyNotFoundEnd);
  EXPECT_EQ(found.recno, 1u);
  EXPECT_EQ(kbdmkprev(t, key, &recno), kKbdNoMoreKeys);
  EXPECT_EQ(Find(t, "Z", 0, 0, &found), kKbdKeyNotFound);
  EXPECT_EQ(found.recno, 4u);
  EXPECT_EQ(kbdmknext(t, key, &recno), kKbdNoMoreKeys);
  EXPECT_EQ(Find(t, "?A", 0, kKbdFindWildcard, &found), kKbdOk);
  EXPECT_EQ(found.recno, 4u);

  // The current key gone: current lands on the greatest smaller key.
  EXPECT_EQ(Find(t, "D", 3, kKbdFindRecno, &found), kKbdOk);
  ASSERT_EQ(Del(t, "D", 3), kKbdOk);
  EXPECT_EQ(Del(t, "D", 3), kKbdKeyNotFound);
  EXPECT_EQ(kbdmkcur(t, key, &recno), kKbdKeyNotFound);
  EXPECT_EQ(recno, 2u);
  EXPECT_EQ(kbdmknext(t, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 4u);
  EXPECT_EQ(std::string(key), "FA  ");
  Check(t);
}

TEST_F(MdxTest, SplitRecordsTheRootAtOnceAndMergesGiveBlocksBack) {
  const int16_t h = CreateOpen("t.mdx", qx::testing::ModeForTestReads());
  const int32_t t = DefineOpen(h, "K", 'C', "NAME", 10);
  auto root_on_disk = [&] {
    const std::string file = qx::testing::ReadWholeFile(Path("t.mdx"));
    return GetLe32(reinterpret_cast<const uint8_t*>(file.data()) + 4 * 512);
  };
  auto key_of = [](int i) {
    char key[11];
    std::snprintf(key, sizeof key, "K%04d", i);
    return std::string(key);
  };
  for (int i = 0; i < 63; ++i) ASSERT_EQ(Add(t, key_of(i), i + 1u), kKbdOk);
  EXPECT_EQ(root_on_disk(), 6u);
  ASSERT_EQ(Add(t, key_of(63), 64), kKbdOk);
  // 64 keys: a new lower leaf of 32 (sectors 8-9), the old root keeps 32,
  // and a new root (sectors 10-11) is recorded before the tag closes.
  EXPECT_EQ(root_on_disk(), 10u);
  const std::string file = qx::testing::ReadWholeFile(Path("t.mdx"));
  auto word = [&](uint32_t sector, uint32_t offset) {
    return GetLe32(reinterpret_cast<const uint8_t*>(file.data()) +
                   sector * 512 + offset);
  };
  EXPECT_EQ(word(10, 0), 1u);       // one key
  EXPECT_EQ(word(10, 8), 8u);       // left child
  EXPECT_EQ(word(10, 8 + 16), 6u);  // rightmost child
  EXPECT_EQ(word(8, 0), 32u);
  EXPECT_EQ(word(6, 0), 32u);
  EXPECT_EQ(Check(t).levels, 2u);

  // Deletes merge the leaves again; the root collapses onto the survivor
  // and the two blocks go on the free chain.
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Del(t, key_of(i), i + 1u), kKbdOk);
  btree::CheckReport report = Check(t);
  EXPECT_EQ(report.levels, 1u);
  EXPECT_EQ(report.keys, 24u);
  MdxFileReport file_report = CheckFile(h);
  EXPECT_EQ(file_report.free_blocks, 2u);
  // The next split takes them back.
  for (int i = 0; i < 40; ++i) ASSERT_EQ(Add(t, key_of(i), i + 1u), kKbdOk);
  EXPECT_EQ(CheckFile(h).free_blocks, 0u);
  EXPECT_EQ(FileSize(Path("t.mdx")), 12u * 512);
}

TEST_F(MdxTest, UniqueTagsKeepTheFirstRecordOfAKey) {
  const int16_t h = CreateOpen("t.mdx");
  const int32_t t = DefineOpen(h, "K", 'C' | kKbdKeyUnique, "NAME", 4);
  ASSERT_EQ(Add(t, "K", 1), kKbdOk);
  for (uint32_t r = 2; r <= 3; ++r)
    ASSERT_EQ(Add(t, "K", r), kKbdAlreadyExists);
  ASSERT_EQ(Add(t, "A", 4), kKbdOk);
  EXPECT_EQ(Recnos(Walk(t)), (std::vector<uint32_t>{4, 1}));
  // A delete takes the exact pair only.
  EXPECT_EQ(Del(t, "K", 2), kKbdKeyNotFound);
  ASSERT_EQ(Del(t, "K", 1), kKbdOk);
  EXPECT_EQ(Recnos(Walk(t)), (std::vector<uint32_t>{4}));
  EXPECT_EQ(Del(t, "B", 4), kKbdKeyNotFound);
  Check(t);
}

TEST_F(MdxTest, NumberAndDateKeysSortByTheirValues) {
  const int16_t h = CreateOpen("t.mdx");
  const int32_t n = DefineOpen(h, "N", 'N', "AMOUNT", 0);
  const double values[] = {10, -1.5, 0.000001, 0, -100, 1.5, 1e15, -0.25};
  uint32_t recno = 0;
  for (double v : values) {
    uint8_t key[13] = {};
    ASSERT_EQ(kbdmnkey(key, v), kKbdOk);
    ASSERT_EQ(kbdmkadd(n, key, ++recno), kKbdOk);
  }
  // -100 -1.5 -0.25 0 0.000001 1.5 10 1e15: records 5 2 8 4 3 6 1 7.
  EXPECT_EQ(Recnos(Walk(n)), (std::vector<uint32_t>{5, 2, 8, 4, 3, 6, 1, 7}));
  IndexEntry found;
  EXPECT_EQ(Find(n, DecimalKey(1.5), 0, 0, &found), kKbdOk);
  EXPECT_EQ(found.recno, 6u);
  EXPECT_EQ(Find(n, DecimalKey(-1), 0, 0, &found), kKbdKeyNotFound);
  EXPECT_EQ(found.recno, 2u);
  Check(n);

  const int32_t d = DefineOpen(h, "D", 'D', "BIRTH", 0);
  const char* dates[] = {"20000101", "19991231", "        ", "18000301"};
  recno = 0;
  for (const char* date : dates) {
    uint8_t key[9] = {};
    ASSERT_EQ(kbdmdkey(key, date), kKbdOk);
    ASSERT_EQ(kbdmkadd(d, key, ++recno), kKbdOk);
  }
  const std::vector<IndexEntry> walk = Walk(d);
  EXPECT_EQ(Recnos(walk), (std::vector<uint32_t>{4, 2, 1, 3}));
  EXPECT_EQ(walk[1].key, DayKey(DateToKeyDay(1999, 12, 31)));
  EXPECT_EQ(walk[3].key, DayKey(1.0e100));  // the empty date last
  // The date text is read in the current format.
  kbdseterror(0);
  ASSERT_EQ(kbdsetdatefmt(7), kKbdOk);
  uint8_t key[8];
  ASSERT_EQ(kbdmdkey(key, "31.12.1999"), kKbdOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 8), walk[1].key);
  EXPECT_EQ(kbdmdkey(key, "32.12.1999"), kKbdErrDate);
  kbdseterror(0);
  EXPECT_EQ(kbdmdkey(nullptr, "31.12.1999"), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbdmnkey(nullptr, 1), kKbdErrNullPointer);
  kbdseterror(0);
  Check(d);
}

TEST_F(MdxTest, RecordKeysOfEachType) {
  const KbdFieldDef fields[4] = {
      FieldDef("NAME", 'C', 10), FieldDef("AMOUNT", 'N', 10, 2),
      FieldDef("RATE", 'F', 8, 3), FieldDef("BIRTH", 'D', 8)};
  ASSERT_EQ(kbddcreate(Path("t.dbf").c_str(), 4, fields, 2), kKbdOk);
  int16_t dbf = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&dbf, Path("t.dbf").c_str(), 2), kKbdOk);
  ASSERT_EQ(kbddblankrec(dbf), kKbdOk);
  ASSERT_EQ(kbddput(dbf, 0, "smith"), kKbdOk);
  const double amount = -12.5, rate = 0.125;
  ASSERT_EQ(kbddput(dbf, 1, &amount), kKbdOk);
  ASSERT_EQ(kbddput(dbf, 2, &rate), kKbdOk);
  ASSERT_EQ(kbddput(dbf, 3, "19650412"), kKbdOk);

  const int16_t h = CreateOpen("t.mdx");
  struct Case {
    const char* tag;
    uint16_t type;
    const char* expression;
    uint16_t length;
    std::string want;  // empty: -7
  };
  const Case cases[] = {
      {"UP", 'C', "UPPER(NAME)", 12, Text("SMITH", 12)},
      {"SHORT", 'C', "NAME", 3, "smi"},
      {"AMOUNT", 'N', "AMOUNT", 0, DecimalKey(-12.5)},
      {"RATE", 'N', "RATE", 0, DecimalKey(0.125)},
      {"SUM", 'N', "AMOUNT+RATE", 0, DecimalKey(-12.375)},
      {"BIRTH", 'D', "BIRTH", 0, DayKey(DateToKeyDay(1965, 4, 12))},
      {"DTOS", 'C', "DTOS(BIRTH)", 8, "19650412"},
      {"BADC", 'C', "AMOUNT", 10, ""},
      {"BADD", 'D', "NAME", 0, ""},
      {"BADN", 'N', "BIRTH", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    const int32_t t = DefineOpen(h, c.tag, c.type, c.expression, c.length);
    void* key = reinterpret_cast<void*>(1);
    if (c.want.empty()) {
      EXPECT_EQ(kbdmkmake(dbf, t, &key), kKbdErrKeyExpression);
      EXPECT_EQ(key, nullptr);
      kbdseterror(0);
      continue;
    }
    ASSERT_EQ(kbdmkmake(dbf, t, &key), kKbdOk);
    EXPECT_EQ(std::string(static_cast<char*>(key), c.want.size()), c.want);
    EXPECT_EQ(static_cast<char*>(key)[c.want.size()], '\0');
    kbdfree(key);
  }
  void* key = nullptr;
  EXPECT_EQ(kbdmkmake(h, 1 * 65536 + h, &key), kKbdErrHandle);
  kbdseterror(0);
}

}  // namespace
}  // namespace qx::engine::testing
