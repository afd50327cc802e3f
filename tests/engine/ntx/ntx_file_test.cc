// NTX files: the header a create writes, the open checks in their order,
// the file-size warning, root splits, prefix finds and seeks, walks and
// their ends, the update counter, description and refusals, and damaged
// pages answered with statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/ntx/ntx_test_util.h"

namespace qx::engine::testing {
namespace {

TEST_F(NtxTest, CreateWritesTheHeaderAndAnEmptyRoot) {
  const std::string path = Path("h10.ntx");
  ASSERT_EQ(kbdxcreate(path.c_str(), 'c', "name + city", 10, 0), kKbdOk);
  std::string bytes = ReadFile(path);
  ASSERT_EQ(bytes.size(), 2048u);
  EXPECT_EQ(Word(bytes, 0, 2), 6u);     // signature
  EXPECT_EQ(Word(bytes, 2, 2), 1u);     // update counter
  EXPECT_EQ(Word(bytes, 4, 4), 1024u);  // root
  EXPECT_EQ(Word(bytes, 8, 4), 0u);     // free list
  EXPECT_EQ(Word(bytes, 12, 2), 18u);   // item size
  EXPECT_EQ(Word(bytes, 14, 2), 10u);   // key length
  // 1020 / (18 + 2) - 1 = 50 keys a page (the files of other writers
  // agree), half of them at least.
  EXPECT_EQ(Word(bytes, 18, 2), 50u);
  EXPECT_EQ(Word(bytes, 20, 2), 25u);
  EXPECT_EQ(bytes.substr(22, 10), std::string("NAME+CITY\0", 10));
  EXPECT_EQ(bytes[278], 0);
  // The empty root: no key, the offset table laid out after 51 entries.
  EXPECT_EQ(Word(bytes, 1024, 2), 0u);
  EXPECT_EQ(Word(bytes, 1026, 2), 2u * 52u);
  EXPECT_EQ(Word(bytes, 1028, 2), 2u * 52u + 18u);

  ASSERT_EQ(kbdxcreate(path.c_str(), 'C' | kKbdKeyUnique, "K", 100, 0), kKbdOk);
  bytes = ReadFile(path);
  EXPECT_EQ(Word(bytes, 12, 2), 108u);
  EXPECT_EQ(Word(bytes, 18, 2), 8u);
  EXPECT_EQ(Word(bytes, 20, 2), 4u);
  EXPECT_EQ(bytes[278], 1);

  ASSERT_EQ(kbdxcreate(path.c_str(), 'D', "BIRTH", 3, 0), kKbdOk);
  EXPECT_EQ(Word(ReadFile(path), 14, 2), 8u);  // dates are 8 characters
  ASSERT_EQ(kbdxcreate(path.c_str(), 'N', "AMOUNT", 12, 3), kKbdOk);
  bytes = ReadFile(path);
  EXPECT_EQ(Word(bytes, 14, 2), 12u);
  EXPECT_EQ(Word(bytes, 16, 2), 3u);

  // Refusals.
  EXPECT_EQ(kbdxcreate(nullptr, 'C', "K", 10, 0), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbdxcreate(path.c_str(), 'C', std::string(256, 'A').c_str(), 10, 0),
            kKbdErrKeyExpression);
  kbdseterror(0);
  // Blanks do not count.
  EXPECT_EQ(kbdxcreate(path.c_str(), 'C',
                       (std::string(255, 'A') + "   ").c_str(), 10, 0),
            kKbdOk);
  for (uint16_t length : {0, 101}) {
    EXPECT_EQ(kbdxcreate(path.c_str(), 'C', "K", length, 0), kKbdErrKeySize);
    kbdseterror(0);
  }
  EXPECT_EQ(kbdxcreate(path.c_str(), 'N', "K", 20, 0), kKbdErrKeySize);
  kbdseterror(0);
  EXPECT_EQ(kbdxcreate(path.c_str(), 'N', "K", 5, 4), kKbdErrDecimals);
  kbdseterror(0);
  EXPECT_EQ(kbdxcreate(path.c_str(), 'N', "K", 19, 16), kKbdErrDecimals);
  kbdseterror(0);
  EXPECT_EQ(kbdxcreate(path.c_str(), 'L', "K", 1, 0), kKbdErrKeyType);
  kbdseterror(0);
}

TEST_F(NtxTest, OpenChecksTheHeaderInOrder) {
  const std::string good = Path("good.ntx");
  ASSERT_EQ(kbdxcreate(good.c_str(), 'C', "K", 10, 0), kKbdOk);
  const std::string original = ReadFile(good);
  struct Case {
    size_t offset;
    uint32_t value;
    int width;
    int16_t status;
  };
  // Each damage also breaks the checks after it: the first one decides.
  const Case cases[] = {
      {14, 0, 2, kKbdErrKeySize},   {14, 101, 2, kKbdErrKeySize},
      {12, 19, 2, kKbdErrItemSize}, {4, 1000, 4, kKbdErrRootPage},
      {4, 0, 4, kKbdErrRootPage},   {4, 2048, 4, kKbdErrRootPage},
      {18, 52, 2, kKbdErrMaxKeys},  {18, 1, 2, kKbdErrMaxKeys},
      {20, 26, 2, kKbdErrMinKeys},  {20, 0, 2, kKbdErrMinKeys},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("offset " + std::to_string(c.offset));
    WriteFile(good, original);
    PatchWord(good, c.offset, c.value, c.width);
    if (c.offset == 14) PatchWord(good, 18, 0, 2);
    int16_t h = 7;
    EXPECT_EQ(kbdxopenx(&h, good.c_str(), 0), c.status);
    EXPECT_EQ(h, kKbdNoHandle);
    kbdseterror(0);
  }
  // An expression without its NUL.
  std::string bytes = original;
  for (size_t i = 22; i < 278; ++i) bytes[i] = 'A';
  WriteFile(good, bytes);
  int16_t h = kKbdNoHandle;
  EXPECT_EQ(kbdxopenx(&h, good.c_str(), 0), kKbdErrKeyExpression);
  kbdseterror(0);

  // Dialects: 0, 5, 6 only.
  WriteFile(good, original);
  EXPECT_EQ(kbdxopenx(&h, good.c_str(), 3), kKbdErrVersion);
  EXPECT_EQ(h, kKbdNoHandle);
  kbdseterror(0);
  for (uint16_t mode : {0, 5, 6, 0x806}) {
    ASSERT_EQ(kbdxopenx(&h, good.c_str(), mode), kKbdOk);
    ASSERT_EQ(kbdxclose(h), kKbdOk);
  }

  // A size that is not a multiple of 1024: warning 7, and the index works.
  WriteFile(good, original + "xyz");
  ASSERT_EQ(kbdxopenx(&h, good.c_str(), 0), kKbdBadFileSize);
  ASSERT_NE(h, kKbdNoHandle);
  ASSERT_EQ(Add(h, "ONE", 1), kKbdOk);
  ASSERT_EQ(Add(h, "TWO", 2), kKbdOk);
  EXPECT_EQ(Walk(h).size(), 2u);
  ASSERT_EQ(kbdxclose(h), kKbdOk);

  // Not an NTX handle.
  char key[11];
  uint32_t recno = 0;
  EXPECT_EQ(kbdxfirst(0, key, &recno), kKbdErrHandle);
  kbdseterror(0);
}

TEST_F(NtxTest, AFullRootSplitsIntoANewRoot) {
  kbdsetsync(0);
  const std::string path = Path("split.ntx");
  int16_t h =
      CreateOpen("split.ntx", 'C', "K", 10, 0, qx::testing::ModeForTestReads());
  for (uint32_t i = 0; i < 50; ++i)
    ASSERT_EQ(Add(h, "K" + std::to_string(1000 + i * 2), i + 1), kKbdOk);
  std::string bytes = ReadFile(path);
  EXPECT_EQ(Word(bytes, 4, 4), 1024u);
  // One more for each add: in the file at once when it is shared, at the
  // close when no one else can read it meanwhile.
  const bool shared = (qx::testing::ModeForTestReads() & 0x400) != 0;
  EXPECT_EQ(Word(bytes, 2, 2), shared ? 51u : 1u);
  EXPECT_EQ(Word(bytes, 1024, 2), 50u);
  ASSERT_EQ(Add(h, "K1051", 51), kKbdOk);
  bytes = ReadFile(path);
  // A new left page and a new root of one key at the end of the file.
  ASSERT_EQ(bytes.size(), 4096u);
  EXPECT_EQ(Word(bytes, 4, 4), 3072u);
  const size_t root = 3072;
  EXPECT_EQ(Word(bytes, root, 2), 1u);
  const size_t item = root + Word(bytes, root + 2, 2);
  EXPECT_EQ(Word(bytes, item, 4), 2048u);         // left child
  EXPECT_EQ(bytes.substr(item + 8, 5), "K1050");  // the 26th key
  const size_t right = root + Word(bytes, root + 4, 2);
  EXPECT_EQ(Word(bytes, right, 4), 1024u);  // the old root
  EXPECT_EQ(Word(bytes, 2048, 2), 25u);
  EXPECT_EQ(Word(bytes, 1024, 2), 25u);
  btree::CheckReport report = NtxCheck(h);
  EXPECT_EQ(report.keys, 51u);
  EXPECT_EQ(report.levels, 2u);
  // Deleting back below the smallest count merges and collapses the root;
  // the freed pages are chained and reused.
  ASSERT_EQ(Del(h, "K1051", 51), kKbdOk);
  ASSERT_EQ(Del(h, "K1000", 1), kKbdOk);
  report = NtxCheck(h);
  EXPECT_EQ(report.levels, 1u);
  EXPECT_EQ(report.chain_pages, 2u);
  ASSERT_EQ(Add(h, "K1000", 1), kKbdOk);
  ASSERT_EQ(Add(h, "K1051", 51), kKbdOk);
  report = NtxCheck(h);
  EXPECT_EQ(report.levels, 2u);
  EXPECT_EQ(report.chain_pages, 0u);
  EXPECT_EQ(FileSize(path), 4096u);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  EXPECT_EQ(Word(ReadFile(path), 2, 2), 56u);  // 55 changes
}

TEST_F(NtxTest, KeysPerPageOfOtherWritersAndTheHeaderFlags) {
  kbdsetsync(0);
  // Written: (1022 div (key length + 10)) - 1, made even, and half.
  for (const auto& [length, largest] :
       std::vector<std::pair<uint16_t, uint16_t>>{
           {3, 76}, {4, 72}, {10, 50}, {20, 32}, {100, 8}}) {
    const std::string path = Path("k" + std::to_string(length) + ".ntx");
    ASSERT_EQ(kbdxcreate(path.c_str(), 'C', "K", length, 0), kKbdOk);
    const std::string bytes = ReadFile(path);
    EXPECT_EQ(Word(bytes, 18, 2), largest) << length;
    EXPECT_EQ(Word(bytes, 20, 2), largest / 2u) << length;
  }
  // Read: any largest whose page fits and smallest up to its half, kept
  // through splits and merges.
  const std::string path = Path("k4.ntx");
  const std::string fresh = ReadFile(path);
  for (const auto& [largest, smallest] :
       std::vector<std::pair<uint16_t, uint16_t>>{{70, 35}, {71, 20}, {3, 1}}) {
    SCOPED_TRACE(largest);
    WriteFile(path, fresh);
    PatchWord(path, 18, largest, 2);
    PatchWord(path, 20, smallest, 2);
    int16_t h = kKbdNoHandle;
    ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0), kKbdOk);
    for (uint32_t i = 0; i < 3000; ++i)
      ASSERT_EQ(Add(h, std::to_string(i * 7 % 3000).c_str(), i + 1), kKbdOk);
    for (uint32_t i = 0; i < 3000; i += 2)
      ASSERT_EQ(Del(h, std::to_string(i * 7 % 3000).c_str(), i + 1), kKbdOk);
    EXPECT_EQ(NtxCheck(h).keys, 1500u);
    ASSERT_EQ(kbdxclose(h), kKbdOk);
  }

  // Descending (byte 280), unique (278) and FOR (282, signature 7).
  const std::string flagged = Path("flags.ntx");
  ASSERT_EQ(
      kbdxcreatex(flagged.c_str(), 'C' | kKbdKeyUnique | kKbdKeyDescending,
                  "name", 10, 0, "  AGE > 0 .AND. name = \"A\" "),
      kKbdOk);
  const std::string bytes = ReadFile(flagged);
  EXPECT_EQ(Word(bytes, 0, 2), 7u);
  EXPECT_EQ(bytes[278], 1);
  EXPECT_EQ(bytes[280], 1);
  EXPECT_EQ(std::string(bytes.c_str() + 282), "AGE > 0 .AND. name = \"A\"");
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdxopenx(&h, flagged.c_str(), 0), kKbdOk);
  KbdNtxInfo info;
  ASSERT_EQ(kbdxinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.flags, kKbdKeyUnique | kKbdKeyDescending);
  EXPECT_EQ(info.for_length, 24);
  EXPECT_STREQ(info.for_expression, "AGE > 0 .AND. name = \"A\"");
  char condition[257];
  ASSERT_EQ(kbdxforexpr(h, condition), kKbdOk);
  EXPECT_STREQ(condition, info.for_expression);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  // No FOR: signature 6, an empty condition; a condition too long is -7.
  ASSERT_EQ(kbdxcreatex(flagged.c_str(), 'C', "K", 10, 0, "   "), kKbdOk);
  EXPECT_EQ(Word(ReadFile(flagged), 0, 2), 6u);
  ASSERT_EQ(kbdxopenx(&h, flagged.c_str(), 0), kKbdOk);
  ASSERT_EQ(kbdxforexpr(h, condition), kKbdOk);
  EXPECT_STREQ(condition, "");
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  EXPECT_EQ(kbdxcreatex(flagged.c_str(), 'C', "K", 10, 0,
                        std::string(256, 'A').c_str()),
            kKbdErrKeyExpression);
  kbdseterror(0);
  // A FOR text without its NUL is refused at open.
  std::string unterminated = bytes;
  for (size_t i = 282; i < 282 + 256; ++i) unterminated[i] = 'A';
  WriteFile(flagged, unterminated);
  EXPECT_EQ(kbdxopenx(&h, flagged.c_str(), 0), kKbdErrKeyExpression);
  kbdseterror(0);
}

TEST_F(NtxTest, FindsSeeksAndWalks) {
  int16_t h = CreateOpen("walk.ntx", 'C', "K", 8);
  char key[9] = "APPLE";
  uint32_t recno = 0;
  // Empty.
  EXPECT_EQ(kbdxfind(h, key, 0), kKbdEmptyFile);
  EXPECT_EQ(kbdxseek(h, key, &recno, kKbdSeekKey), kKbdEmptyFile);
  EXPECT_EQ(kbdxfirst(h, key, &recno), kKbdEmptyFile);
  EXPECT_EQ(kbdxlast(h, key, &recno), kKbdEmptyFile);
  EXPECT_EQ(Del(h, "APPLE", 1), kKbdEmptyFile);

  ASSERT_EQ(Add(h, "BANANA", 3), kKbdOk);
  ASSERT_EQ(Add(h, "APRICOT", 2), kKbdOk);
  ASSERT_EQ(Add(h, "APPLE", 1), kKbdOk);
  ASSERT_EQ(Add(h, "APPLE", 5), kKbdOk);
  const std::vector<IndexEntry> all = {
      {"APPLE   ", 1}, {"APPLE   ", 5}, {"APRICOT ", 2}, {"BANANA  ", 3}};
  EXPECT_EQ(Walk(h), all);
  EXPECT_EQ(WalkBack(h), all);

  // A shorter key is a prefix: the first key that begins with it.
  EXPECT_EQ(kbdxfind(h, "AP", 0), kKbdOk);
  EXPECT_EQ(kbdxfind(h, "APR", 0), kKbdOk);
  EXPECT_EQ(kbdxfind(h, "AQ", 0), kKbdKeyNotFound);
  EXPECT_EQ(kbdxfind(h, "APPLE", 5), kKbdOk);
  EXPECT_EQ(kbdxfind(h, "APPLE", 2), kKbdKeyNotFound);
  std::strcpy(key, "APR");
  EXPECT_EQ(kbdxseek(h, key, &recno, kKbdSeekKey), kKbdOk);
  EXPECT_STREQ(key, "APRICOT ");
  EXPECT_EQ(recno, 2u);
  std::strcpy(key, "AQ");
  EXPECT_EQ(kbdxseek(h, key, &recno, kKbdSeekKey), kKbdKeyNotFound);
  EXPECT_STREQ(key, "BANANA  ");
  std::strcpy(key, "ZZ");
  EXPECT_EQ(kbdxseek(h, key, &recno, kKbdSeekKey), kKbdKeyNotFoundEnd);
  EXPECT_STREQ(key, "BANANA  ");
  EXPECT_EQ(recno, 3u);
  // Mode 2: key and record number.
  std::strcpy(key, "APPLE");
  recno = 2;
  EXPECT_EQ(kbdxseek(h, key, &recno, kKbdSeekKeyRecno), kKbdKeyNotFound);
  EXPECT_EQ(recno, 5u);
  recno = 5;
  EXPECT_EQ(kbdxseek(h, key, &recno, kKbdSeekKeyRecno), kKbdOk);
  EXPECT_EQ(kbdxseek(h, key, &recno, 3), kKbdErrCommand);
  kbdseterror(0);

  // Next and previous from an entry, 3 at the ends, and from an entry
  // that is not there: the place it would take.
  std::strcpy(key, "BANANA");
  recno = 3;
  EXPECT_EQ(kbdxnext(h, key, &recno), kKbdNoMoreKeys);
  EXPECT_EQ(kbdxprev(h, key, &recno), kKbdOk);
  EXPECT_STREQ(key, "APRICOT ");
  std::strcpy(key, "APPLE");
  recno = 1;
  EXPECT_EQ(kbdxprev(h, key, &recno), kKbdNoMoreKeys);
  std::strcpy(key, "APPLE");
  recno = 3;
  EXPECT_EQ(kbdxnext(h, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 5u);
  std::strcpy(key, "APPLE");
  recno = 3;
  EXPECT_EQ(kbdxprev(h, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 1u);

  // Deletes: a pair that is not there changes nothing.
  EXPECT_EQ(Del(h, "APPLE", 2), kKbdKeyNotFound);
  EXPECT_EQ(Del(h, "APPLE", 5), kKbdOk);
  EXPECT_EQ(Walk(h).size(), 3u);
  EXPECT_EQ(Add(h, "X", 0), kKbdErrCommand);
  kbdseterror(0);
}

TEST_F(NtxTest, WalksGoOnAcrossChangesOfOtherHandles) {
  kbdsetsync(0);
  const std::string path = Path("moving.ntx");
  int16_t h = CreateOpen("moving.ntx", 'C', "K", 6, 0, 0x400);
  int16_t other = kKbdNoHandle;
  ASSERT_EQ(kbdxopenx(&other, path.c_str(), 0x400), kKbdOk);
  for (uint32_t i = 0; i < 2000; ++i)
    ASSERT_EQ(Add(h, std::to_string(100000 + i * 2), i + 1), kKbdOk);
  char key[7];
  uint32_t recno = 0;
  ASSERT_EQ(kbdxfirst(h, key, &recno), kKbdOk);
  for (uint32_t i = 1; i < 700; ++i) {
    ASSERT_EQ(kbdxnext(h, key, &recno), kKbdOk);
    // The other handle splits and merges the pages around the walk.
    if (i % 50 == 0) {
      for (uint32_t j = 0; j < 300; ++j) {
        ASSERT_EQ(Add(other, std::to_string(100001 + (i + j) * 2), 9000 + j),
                  kKbdOk);
      }
      for (uint32_t j = 0; j < 300; ++j) {
        ASSERT_EQ(Del(other, std::to_string(100001 + (i + j) * 2), 9000 + j),
                  kKbdOk);
      }
    }
    ASSERT_EQ(std::string(key), std::to_string(100000 + i * 2)) << i;
    ASSERT_EQ(recno, i + 1);
  }
  NtxCheck(h);
}

TEST_F(NtxTest, EqualKeysKeepInsertionOrderAndUniqueKeysTheFirst) {
  kbdsetsync(0);
  // Equal keys go after their equals, in both directions of order, across
  // page splits; every entry is found, stepped from and deleted wherever
  // it sits among them.
  for (uint16_t flags : {uint16_t{0}, uint16_t{kKbdKeyDescending}}) {
    SCOPED_TRACE(flags);
    const std::string name = "equal" + std::to_string(flags) + ".ntx";
    int16_t h = CreateOpen(name, 'C' | flags, "K", 4);
    std::vector<IndexEntry> expected;
    for (uint32_t i = 0; i < 600; ++i) {
      const uint32_t recno = 1 + (i * 389) % 600;  // records out of order
      const std::string key = i % 3 == 0 ? "B" : (flags ? "C" : "A");
      ASSERT_EQ(Add(h, key.c_str(), recno), kKbdOk);
      expected.push_back({key + "   ", recno});
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [&](const IndexEntry& a, const IndexEntry& b) {
                       return flags ? a.key > b.key : a.key < b.key;
                     });
    EXPECT_EQ(Walk(h), expected);
    EXPECT_EQ(WalkBack(h), expected);
    NtxCheck(h);
    for (size_t i = 0; i < expected.size(); i += 37) {
      char key[5] = {};
      std::memcpy(key, expected[i].key.c_str(), 4);
      uint32_t recno = expected[i].recno;
      ASSERT_EQ(kbdxfind(h, key, recno), kKbdOk);
      ASSERT_EQ(kbdxseek(h, key, &recno, kKbdSeekKeyRecno), kKbdOk);
      ASSERT_EQ(recno, expected[i].recno);
      if (i + 1 < expected.size()) {
        ASSERT_EQ(kbdxnext(h, key, &recno), kKbdOk);
        ASSERT_EQ(recno, expected[i + 1].recno);
      }
    }
    for (size_t i = 0; i < expected.size(); i += 3)
      ASSERT_EQ(Del(h, expected[i].key.c_str(), expected[i].recno), kKbdOk);
    NtxCheck(h);
    EXPECT_EQ(Walk(h).size(), expected.size() - (expected.size() + 2) / 3);
  }

  // Unique: a key that is there is refused (11, nothing written); delete
  // takes only the entry of that key and record.
  int16_t h = CreateOpen("unique.ntx", 'C' | kKbdKeyUnique, "K", 4, 0,
                         qx::testing::ModeForTestReads());
  ASSERT_EQ(Add(h, "A", 7), kKbdOk);
  const std::string before = ReadFile(Path("unique.ntx"));
  EXPECT_EQ(Add(h, "A", 9), kKbdAlreadyExists);
  EXPECT_EQ(ReadFile(Path("unique.ntx")), before);
  EXPECT_EQ(Del(h, "A", 9), kKbdKeyNotFound);
  EXPECT_EQ(Walk(h), std::vector<IndexEntry>({{"A   ", 7}}));
  ASSERT_EQ(Del(h, "A", 7), kKbdOk);
  EXPECT_EQ(Walk(h), std::vector<IndexEntry>());
  KbdNtxInfo info;
  ASSERT_EQ(kbdxinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.flags, kKbdKeyUnique);
  // The check reports a key held twice in a unique file.
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  h = CreateOpen("twice.ntx", 'C', "K", 4);
  ASSERT_EQ(Add(h, "A", 3), kKbdOk);
  ASSERT_EQ(Add(h, "A", 2), kKbdOk);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  std::string bytes = ReadFile(Path("twice.ntx"));
  bytes[278] = 1;
  WriteFile(Path("twice.ntx"), bytes);
  ASSERT_EQ(kbdxopenx(&h, Path("twice.ntx").c_str(), 0), kKbdOk);
  btree::CheckReport report;
  ASSERT_EQ(CheckNtx(h, &report), kKbdOk);
  ASSERT_EQ(report.problems.size(), 1u);
  EXPECT_EQ(report.problems[0].rfind("R3 unique:", 0), 0u)
      << report.problems[0];
}

TEST_F(NtxTest, CounterDescriptionAndRefusals) {
  const std::string path = Path("info.ntx");
  ASSERT_EQ(kbdxcreate(path.c_str(), 'N', "descend(amount)", 10, 2), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0x400), kKbdOk);
  KbdNtxInfo info;
  ASSERT_EQ(kbdxinfo(h, &info), kKbdOk);
  EXPECT_STREQ(info.name, path.c_str());
  EXPECT_EQ(info.key_length, 10);
  EXPECT_EQ(info.decimals, 2);
  EXPECT_EQ(info.flags, 0);  // descending only by header byte 280
  EXPECT_EQ(info.expression_length, 15);
  EXPECT_STREQ(info.expression, "DESCEND(AMOUNT)");
  EXPECT_EQ(info.file_flags, 0x02);
  char expression[257];
  ASSERT_EQ(kbdxexpr(h, expression), kKbdOk);
  EXPECT_STREQ(expression, "DESCEND(AMOUNT)");

  // Every add and delete counts; another handle's change is seen at once.
  int16_t other = kKbdNoHandle;
  ASSERT_EQ(kbdxopenx(&other, path.c_str(), 0x400), kKbdOk);
  ASSERT_EQ(Add(h, "1", 1), kKbdOk);
  ASSERT_EQ(Add(other, "2", 2), kKbdOk);
  ASSERT_EQ(Del(h, "1", 1), kKbdOk);
  EXPECT_EQ(Word(ReadFile(path), 2, 2), 4u);
  ASSERT_EQ(kbdxrefresh(h), kKbdOk);
  EXPECT_EQ(Walk(h), std::vector<IndexEntry>({{"2         ", 2}}));
  ASSERT_EQ(kbdxclose(other), kKbdOk);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  EXPECT_EQ(Word(ReadFile(path), 2, 2), 4u);  // nothing to stamp

  // Read-only.
  ASSERT_EQ(
      kbdxopenx(&h, path.c_str(), 0x100 | qx::testing::ModeForTestReads()),
      kKbdOk);
  EXPECT_EQ(Add(h, "3", 3), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(Del(h, "2", 2), kKbdErrReadOnly);
  kbdseterror(0);
  ASSERT_EQ(kbdxinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.file_flags & 0x01, 0x01);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  // A root word another process damaged is seen by the next call of a
  // shared handle (one opened without sharing trusts what it read: no one
  // else can write the file).
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0x100 | 0x400), kKbdOk);
  char key[11];
  uint32_t recno = 0;
  EXPECT_EQ(kbdxfirst(h, key, &recno), kKbdOk);
  PatchWord(path, 4, 5000, 4);
  EXPECT_EQ(kbdxfirst(h, key, &recno), kKbdErrRootPage);
  EXPECT_EQ(kbdxfirst(h, key, &recno), kKbdErrRootPage);  // sticky
  kbdseterror(0);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
}

TEST_F(NtxTest, DamagedPagesGiveStatusesNotCrashes) {
  kbdsetsync(0);
  const std::string path = Path("damaged.ntx");
  int16_t h = CreateOpen("damaged.ntx", 'C', "K", 6);
  for (uint32_t i = 0; i < 3000; ++i)
    ASSERT_EQ(Add(h, std::to_string((i * 7919) % 3000), i + 1), kKbdOk);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  const std::string original = ReadFile(path);
  const uint32_t seed = TestSeed(99);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  for (int round = 0; round < 150; ++round) {
    std::string bytes = original;
    // A few bytes of node pages, and now and then a header word.
    for (int n = 0; n < 1 + round % 6; ++n) {
      const size_t at = 1024 + rng() % (bytes.size() - 1024);
      bytes[at] = static_cast<char>(rng() % 4 == 0 ? 0 : rng());
    }
    if (round % 10 == 0) bytes[4 + rng() % 8] = static_cast<char>(rng());
    WriteFile(path, bytes);
    kbdseterror(0);
    if (kbdxopenx(&h, path.c_str(), 0) < 0) continue;
    char key[7] = {};
    uint32_t recno = 0;
    int16_t status = kbdxfirst(h, key, &recno);
    for (int steps = 0; status == kKbdOk && steps < 4000; ++steps)
      status = kbdxnext(h, key, &recno);
    kbdseterror(0);
    btree::CheckReport report;
    EXPECT_GE(CheckNtx(h, &report), kKbdErrNoTask);
    for (uint32_t i = 0; i < 20; ++i) {
      kbdseterror(0);
      const std::string k = std::to_string(rng() % 3000);
      kbdxadd(h, k.c_str(), 5000 + i);
      kbdseterror(0);
      kbdxdelete(h, k.c_str(), 1 + rng() % 3000);
      kbdseterror(0);
      std::memcpy(key, k.c_str(), k.size() + 1);
      kbdxseek(h, key, &recno, kKbdSeekKey);
    }
    kbdseterror(0);
    kbdxclose(h);
  }
  kbdseterror(0);
}

}  // namespace
}  // namespace qx::engine::testing
