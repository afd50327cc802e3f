// Key operations of NDX indexes: positioning and its warnings, find flags
// (record number, prefix, wildcard), splits, merges, unique indexes,
// numeric and date keys, keys of records.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "engine/core/coding.h"
#include "engine/ndx/ndx_format.h"
#include "tests/engine/ndx/ndx_test_util.h"

namespace qx::engine::testing {
namespace {

using qx::testing::ReadWholeFile;

std::string Padded(const std::string& text, size_t length) {
  std::string key = text;
  key.resize(length, ' ');
  return key;
}

TEST_F(NdxTest, EmptyIndexAndFirstKeys) {
  int16_t h = CreateOpen("e.ndx", 'C', "NAME", 10);
  std::vector<char> buffer(11);
  uint32_t recno = 99;
  EXPECT_EQ(kbdnkfirst(h, buffer.data(), &recno), kKbdEmptyFile);
  EXPECT_EQ(kbdnklast(h, buffer.data(), &recno), kKbdEmptyFile);
  EXPECT_EQ(kbdnknext(h, buffer.data(), &recno), kKbdKeyNotFound);  // none
  EXPECT_EQ(kbdnkcur(h, buffer.data(), &recno), kKbdKeyNotFound);
  NdxEntry found;
  EXPECT_EQ(Find(h, "A", 0, 0, &found), kKbdEmptyFile);
  EXPECT_EQ(Del(h, "A", 1), kKbdEmptyFile);
  EXPECT_EQ(Add(h, "A", 0), kKbdErrCommand);
  kbdseterror(0);
  EXPECT_EQ(kbdnkadd(h, nullptr, 1), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbdnkfirst(h, nullptr, &recno), kKbdErrNullPointer);
  kbdseterror(0);

  ASSERT_EQ(Add(h, "MARTIN", 3), kKbdOk);
  ASSERT_EQ(Add(h, "DUPONT", 1), kKbdOk);
  ASSERT_EQ(Add(h, "MARTIN", 2), kKbdOk);
  EXPECT_EQ(Walk(h), (std::vector<NdxEntry>{{Padded("DUPONT", 10), 1},
                                            {Padded("MARTIN", 10), 2},
                                            {Padded("MARTIN", 10), 3}}));
  EXPECT_EQ(WalkBack(h), Walk(h));
  ASSERT_EQ(kbdnklast(h, buffer.data(), &recno), kKbdOk);
  EXPECT_EQ(recno, 3u);
  EXPECT_EQ(kbdnknext(h, buffer.data(), &recno), kKbdNoMoreKeys);
  EXPECT_EQ(recno, 3u);  // stays on the last key
  ASSERT_EQ(kbdnkfirst(h, buffer.data(), &recno), kKbdOk);
  EXPECT_EQ(kbdnkprev(h, buffer.data(), &recno), kKbdNoMoreKeys);
  EXPECT_EQ(recno, 1u);
  EXPECT_EQ(std::string(buffer.data()), Padded("DUPONT", 10));
  ASSERT_EQ(kbdnkcur(h, buffer.data(), &recno), kKbdOk);
  EXPECT_EQ(recno, 1u);
  Check(h);
}

TEST_F(NdxTest, FindPositionsAndWarnings) {
  int16_t h = CreateOpen("f.ndx", 'C', "NAME", 8);
  const char* names[] = {"BAKER", "CARTER", "CARVER", "DAVIS", "EVANS"};
  for (uint32_t i = 0; i < 5; ++i) ASSERT_EQ(Add(h, names[i], i + 1), kKbdOk);
  NdxEntry found;
  // Exact, prefix (the first key that starts with it).
  EXPECT_EQ(Find(h, "CARVER", 0, 0, &found), kKbdOk);
  EXPECT_EQ(found.recno, 3u);
  EXPECT_EQ(Find(h, "CAR", 0, 0, &found), kKbdOk);
  EXPECT_EQ(found.recno, 2u);
  EXPECT_EQ(found.key, Padded("CARTER", 8));
  // Not found: the greatest smaller key, warning 4; next gives the first
  // greater one.
  EXPECT_EQ(Find(h, "CAT", 0, 0, &found), kKbdKeyNotFound);
  EXPECT_EQ(found.recno, 3u);
  std::vector<char> buffer(9);
  uint32_t recno = 0;
  EXPECT_EQ(kbdnknext(h, buffer.data(), &recno), kKbdOk);
  EXPECT_EQ(recno, 4u);
  // Below every key: the first key, warning 12; above: the last, 4.
  EXPECT_EQ(Find(h, "AAA", 0, 0, &found), kKbdKeyNotFoundEnd);
  EXPECT_EQ(found.recno, 1u);
  EXPECT_EQ(Find(h, "ZZZ", 0, 0, &found), kKbdKeyNotFound);
  EXPECT_EQ(found.recno, 5u);
  // With the record number: both must match; a short key is padded.
  EXPECT_EQ(Find(h, "CARTER", 2, kKbdFindRecno, &found), kKbdOk);
  EXPECT_EQ(Find(h, "CARTER", 3, kKbdFindRecno, &found), kKbdKeyNotFound);
  EXPECT_EQ(found.recno, 2u);
  EXPECT_EQ(Find(h, "CAR", 2, kKbdFindRecno, &found), kKbdKeyNotFound);
  // Wildcards match any byte.
  EXPECT_EQ(Find(h, "CAR?ER", 0, kKbdFindWildcard, &found), kKbdOk);
  EXPECT_EQ(found.recno, 2u);
  EXPECT_EQ(Find(h, "?AVIS", 0, kKbdFindWildcard, &found), kKbdOk);
  EXPECT_EQ(found.recno, 4u);
  // A null key or record pointer.
  EXPECT_EQ(kbdnkfind(h, nullptr, &recno, 0), kKbdErrNullPointer);
  kbdseterror(0);
}

TEST_F(NdxTest, SplitOfAFullRootLeaf) {
  // Key length 10: 25 keys per page. The 26th key splits the root leaf:
  // 13 keys go to the new left page, 13 stay right, a new root of one key.
  int16_t h = CreateOpen("s.ndx", 'C', "K", 10);
  for (uint32_t i = 0; i < 26; ++i) {
    char key[12];
    std::snprintf(key, sizeof key, "KEY%03u", i);
    ASSERT_EQ(Add(h, key, i + 1), kKbdOk);
  }
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  std::string bytes = ReadWholeFile(Path("s.ndx"));
  ASSERT_EQ(bytes.size(), 4u * 512);
  EXPECT_EQ(Word(bytes, 0), 3u);  // root: page 3
  EXPECT_EQ(Word(bytes, 4), 4u);  // next free
  const size_t root = 3 * 512, left = 2 * 512, right = 1 * 512;
  EXPECT_EQ(bytes[root], 1);
  EXPECT_EQ(Word(bytes, root + 4), 2u);  // entry 0: left child page 2
  EXPECT_EQ(bytes.substr(root + 4 + 8, 6), "KEY012");  // its greatest key
  EXPECT_EQ(Word(bytes, root + 4 + 20), 1u);  // trailing child: old page 1
  EXPECT_EQ(bytes[left], 13);
  EXPECT_EQ(bytes[right], 13);
  EXPECT_EQ(Word(bytes, left + 4 + 4), 1u);    // first record of the left
  EXPECT_EQ(Word(bytes, right + 4 + 4), 14u);  // first record of the right
  ASSERT_EQ(kbdnopenx(&h, Path("s.ndx").c_str(), 0), kKbdOk);
  EXPECT_EQ(Walk(h).size(), 26u);
  Check(h);
}

TEST_F(NdxTest, DeleteMergesAndCollapsesTheRoot) {
  kbdsetsync(0);
  int16_t h = CreateOpen("m.ndx", 'C', "K", 10);
  for (uint32_t i = 0; i < 26; ++i) {
    char key[12];
    std::snprintf(key, sizeof key, "KEY%03u", i);
    ASSERT_EQ(Add(h, key, i + 1), kKbdOk);
  }
  // Removing the last key of the left leaf moves the separator.
  ASSERT_EQ(Del(h, "KEY012", 13), kKbdOk);
  ASSERT_EQ(Del(h, "KEY012", 13), kKbdKeyNotFound);
  ASSERT_EQ(Del(h, "KEY011", 99), kKbdKeyNotFound);
  Check(h);
  // Emptying the right leaf below half merges both leaves; the root then
  // holds no key and gives way to the merged leaf.
  for (uint32_t i = 25; i >= 20; --i) {
    char key[12];
    std::snprintf(key, sizeof key, "KEY%03u", i);
    ASSERT_EQ(Del(h, key, i + 1), kKbdOk);
    Check(h);
  }
  btree::CheckReport report = Check(h);
  EXPECT_EQ(report.levels, 1u);
  EXPECT_EQ(report.keys, 19u);
  EXPECT_EQ(report.chain_pages, 2u);  // the left leaf and the old root
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  EXPECT_EQ(FileSize(Path("m.ndx")), 2u * 512);
  ASSERT_EQ(kbdnopenx(&h, Path("m.ndx").c_str(), 0), kKbdOk);
  EXPECT_EQ(Walk(h).size(), 19u);
  Check(h);
}

TEST_F(NdxTest, NextAndPreviousSurviveChangesThroughAnotherHandle) {
  int16_t a = CreateOpen("x.ndx", 'C', "K", 4, 0x400);
  for (uint32_t i = 1; i <= 9; ++i)
    ASSERT_EQ(Add(a, std::string(1, static_cast<char>('0' + i)), i), kKbdOk);
  int16_t b = kKbdNoHandle;
  ASSERT_EQ(kbdnopenx(&b, Path("x.ndx").c_str(), 0x400), kKbdOk);
  NdxEntry found;
  ASSERT_EQ(Find(a, "5", 0, 0, &found), kKbdOk);
  // The current key disappears through the other handle: next lands on
  // the next greater key, previous on the greatest smaller one.
  ASSERT_EQ(Del(b, "5", 5), kKbdOk);
  std::vector<char> buffer(5);
  uint32_t recno = 0;
  ASSERT_EQ(kbdnknext(a, buffer.data(), &recno), kKbdOk);
  EXPECT_EQ(recno, 6u);
  ASSERT_EQ(Del(b, "6", 6), kKbdOk);
  ASSERT_EQ(kbdnkprev(a, buffer.data(), &recno), kKbdOk);
  EXPECT_EQ(recno, 4u);
  ASSERT_EQ(Del(b, "4", 4), kKbdOk);
  EXPECT_EQ(kbdnkcur(a, buffer.data(), &recno), kKbdKeyNotFound);
  EXPECT_EQ(recno, 3u);
  // A key added elsewhere is seen at the next call.
  ASSERT_EQ(Add(b, "35", 35), kKbdOk);
  ASSERT_EQ(kbdnknext(a, buffer.data(), &recno), kKbdOk);
  EXPECT_EQ(recno, 35u);
  // The first key removed: previous from it stays before the first key.
  ASSERT_EQ(kbdnkfirst(a, buffer.data(), &recno), kKbdOk);
  ASSERT_EQ(Del(b, "1", 1), kKbdOk);
  EXPECT_EQ(kbdnkprev(a, buffer.data(), &recno), kKbdNoMoreKeys);
  EXPECT_EQ(recno, 2u);
  ASSERT_EQ(kbdnkfirst(a, buffer.data(), &recno), kKbdOk);
  ASSERT_EQ(Del(b, "2", 2), kKbdOk);
  ASSERT_EQ(kbdnknext(a, buffer.data(), &recno), kKbdOk);
  EXPECT_EQ(recno, 3u);
  EXPECT_EQ(kbdnclose(b), kKbdOk);
  Check(a);
}

TEST_F(NdxTest, UniqueIndexesKeepTheFirstRecordOfAKey) {
  int16_t h = CreateOpen("u.ndx", 'C' | kKbdKeyUnique, "K", 4);
  ASSERT_EQ(Add(h, "A", 1), kKbdOk);
  ASSERT_EQ(Add(h, "B", 2), kKbdOk);
  ASSERT_EQ(Add(h, "B", 3), kKbdAlreadyExists);  // nothing written
  std::vector<NdxEntry> walk = Walk(h);
  ASSERT_EQ(walk.size(), 2u);
  EXPECT_EQ(walk[1].recno, 2u);
  // Delete takes the exact pair: record 3 has no entry to remove, and
  // record 2's stays.
  EXPECT_EQ(Del(h, "B", 3), kKbdKeyNotFound);
  ASSERT_EQ(Walk(h).size(), 2u);
  ASSERT_EQ(Del(h, "B", 2), kKbdOk);
  ASSERT_EQ(Add(h, "B", 3), kKbdOk);  // the key is free again
  walk = Walk(h);
  ASSERT_EQ(walk.size(), 2u);
  EXPECT_EQ(walk[1].recno, 3u);
  Check(h);
}

TEST_F(NdxTest, NumericAndDateKeysOrderAsNumbers) {
  int16_t h = CreateOpen("n.ndx", 'N', "AMOUNT", 8);
  const double values[] = {
      3.5, -2.0, 0.0, -0.0, 1e99, -1e-300, 42.0, kNdxEmptyDateKey, -7.25};
  uint32_t recno = 0;
  for (double v : values) ASSERT_EQ(Add(h, NumericKey(v), ++recno), kKbdOk);
  std::vector<NdxEntry> walk = Walk(h);
  ASSERT_EQ(walk.size(), 9u);
  std::vector<double> order;
  for (const NdxEntry& e : walk) order.push_back(KeyNumber(e.key));
  EXPECT_EQ(order, (std::vector<double>{-7.25, -2.0, -1e-300, -0.0, 0.0, 3.5,
                                        42.0, 1e99, kNdxEmptyDateKey}));
  EXPECT_TRUE(std::signbit(order[3]));  // -0.0 sorts just below +0.0
  NdxEntry found;
  EXPECT_EQ(Find(h, NumericKey(42.0), 0, 0, &found), kKbdOk);
  EXPECT_EQ(found.recno, 7u);
  EXPECT_EQ(Find(h, NumericKey(10.0), 0, 0, &found), kKbdKeyNotFound);
  EXPECT_EQ(KeyNumber(found.key), 3.5);
  EXPECT_EQ(Find(h, NumericKey(-100.0), 0, 0, &found), kKbdKeyNotFoundEnd);
  Check(h);
}

TEST_F(NdxTest, KeysOfRecords) {
  KbdFieldDef fields[3] = {};
  std::snprintf(fields[0].name, sizeof fields[0].name, "NAME");
  fields[0].type = 'C';
  fields[0].length = 12;
  std::snprintf(fields[1].name, sizeof fields[1].name, "AMOUNT");
  fields[1].type = 'N';
  fields[1].length = 8;
  fields[1].decimals = 2;
  std::snprintf(fields[2].name, sizeof fields[2].name, "BIRTH");
  fields[2].type = 'D';
  fields[2].length = 8;
  ASSERT_EQ(kbddcreate(Path("t.dbf").c_str(), 3, fields, 1), kKbdOk);
  int16_t dbf = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&dbf, Path("t.dbf").c_str(), 1), kKbdOk);
  ASSERT_EQ(kbddblankrec(dbf), kKbdOk);
  ASSERT_EQ(kbddput(dbf, 0, "Smith"), kKbdOk);
  double amount = -12.5;
  ASSERT_EQ(kbddput(dbf, 1, &amount), kKbdOk);
  ASSERT_EQ(kbddput(dbf, 2, "20240229"), kKbdOk);

  int16_t c = CreateOpen("c.ndx", 'C', "upper(name)", 8);
  int16_t n = CreateOpen("n.ndx", 'N', "AMOUNT", 8);
  int16_t d = CreateOpen("d.ndx", 'D', "BIRTH", 8);
  void* key = nullptr;
  ASSERT_EQ(kbdnkmake(dbf, c, &key), kKbdOk);
  EXPECT_EQ(std::string(static_cast<char*>(key)), "SMITH   ");  // cut to 8
  kbdfree(key);
  ASSERT_EQ(kbdnkmake(dbf, n, &key), kKbdOk);
  EXPECT_EQ(KeyNumber(std::string(static_cast<char*>(key), 8)), -12.5);
  kbdfree(key);
  ASSERT_EQ(kbdnkmake(dbf, d, &key), kKbdOk);
  EXPECT_EQ(KeyNumber(std::string(static_cast<char*>(key), 8)), 2460370.0);
  kbdfree(key);
  ASSERT_EQ(kbddput(dbf, 2, "        "), kKbdOk);
  ASSERT_EQ(kbdnkmake(dbf, d, &key), kKbdOk);
  EXPECT_EQ(KeyNumber(std::string(static_cast<char*>(key), 8)),
            kNdxEmptyDateKey);
  kbdfree(key);
  // A text expression for a numeric index, and the reverse, are -7.
  int16_t wrong = CreateOpen("w.ndx", 'N', "NAME", 8);
  EXPECT_EQ(kbdnkmake(dbf, wrong, &key), kKbdErrKeyExpression);
  EXPECT_EQ(key, nullptr);
  kbdseterror(0);
  int16_t wrong2 = CreateOpen("w2.ndx", 'C', "AMOUNT", 8);
  EXPECT_EQ(kbdnkmake(dbf, wrong2, &key), kKbdErrKeyExpression);
  kbdseterror(0);
  EXPECT_EQ(kbdnkmake(dbf, c, nullptr), kKbdErrNullPointer);
  kbdseterror(0);
}

}  // namespace
}  // namespace qx::engine::testing
