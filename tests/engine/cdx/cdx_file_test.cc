// CDX files and tags through the C interface: the new file's layout, the
// open checks, tag slots and names, descriptions, replacing and deleting
// tags without losing blocks, adds and deletes with their limits, every
// search mode of kbdcfind against a model, the key images and the key of
// a record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "engine/core/coding.h"
#include "engine/dates/key_codec.h"
#include "tests/engine/cdx/cdx_test_util.h"

namespace qx::engine::testing {
namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string bytes = qx::testing::ReadWholeFile(path);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

uint16_t Le16(const std::vector<uint8_t>& b, size_t at) {
  return GetLe16(b.data() + at);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return GetLe32(b.data() + at);
}

TEST_F(CdxTest, NewFileAndOpenChecks) {
  const std::string path = Path("new.cdx");
  ASSERT_EQ(kbdccreate(path.c_str()), kKbdOk);
  // Directory header at 0, its expression block, its empty root leaf.
  std::vector<uint8_t> bytes = ReadBytes(path);
  ASSERT_EQ(bytes.size(), 1536u);
  EXPECT_EQ(Le32(bytes, 0), 1024u);
  EXPECT_EQ(Le16(bytes, 12), 10);
  // Options 0xE0 and signature 1, as in the compound files of the FoxPro
  // programs; the word at 8 is their change counter, 0.
  EXPECT_EQ(bytes[14], 0xE0);
  EXPECT_EQ(bytes[15], 1);
  EXPECT_EQ(Le32(bytes, 8), 0u);
  EXPECT_EQ(Le16(bytes, 1024), 3);  // root and leaf
  EXPECT_EQ(Le16(bytes, 1024 + 12), 488);

  int16_t h = kKbdNoHandle;
  for (uint16_t dialect : {0, 3, 4, 8}) {
    ASSERT_EQ(kbdcopenx(&h, path.c_str(), dialect), kKbdOk) << dialect;
    EXPECT_TRUE(TagNames(h).empty());
    ASSERT_EQ(kbdcclose(h), kKbdOk);
  }
  for (uint16_t dialect : {1, 2, 5, 10}) {
    EXPECT_EQ(kbdcopenx(&h, path.c_str(), dialect), kKbdErrVersion);
    EXPECT_EQ(h, kKbdNoHandle);
    kbdseterror(0);
  }
  EXPECT_EQ(kbdcopenx(&h, Path("absent.cdx").c_str(), 0), kKbdErrOpen);
  kbdseterror(0);

  // Flags of kbdcinfo: read-only, shared, write-through.
  ASSERT_EQ(kbdcopenx(&h, path.c_str(), 0x800), kKbdOk);
  KbdCdxInfo info;
  ASSERT_EQ(kbdcinfo(h, &info), kKbdOk);
  EXPECT_EQ(std::string(info.name), path);
  EXPECT_EQ(info.file_flags, 0x06);
  EXPECT_EQ(info.locked, 0);
  EXPECT_EQ(info.tag_count, 0);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
  ASSERT_EQ(kbdcopenx(&h, path.c_str(), 0x100), kKbdOk);
  ASSERT_EQ(kbdcinfo(h, &info), kKbdOk);
  EXPECT_EQ(info.file_flags, 0x01);
  EXPECT_EQ(kbdctagcreate(h, "T", 'C', "K", 10), kKbdErrReadOnly);
  kbdseterror(0);
  ASSERT_EQ(kbdcclose(h), kKbdOk);

  // A file of partial blocks opens with warning 7.
  { std::ofstream(path, std::ios::app | std::ios::binary) << "xx"; }
  EXPECT_EQ(kbdcopenx(&h, path.c_str(), 0), kKbdBadFileSize);
  ASSERT_EQ(kbdcclose(h), kKbdOk);

  EXPECT_EQ(kbdcclose(h), kKbdErrHandle);
  kbdseterror(0);
}

TEST_F(CdxTest, TagSlotsAndNames) {
  int16_t h = CreateOpen("slots.cdx");
  char name[16];
  for (int i = 0; i < 20; ++i) {
    std::snprintf(name, sizeof name, "tag%02d", i);
    ASSERT_EQ(kbdctagcreate(h, name, 'C', "NAME", 10), kKbdOk) << i;
  }
  ASSERT_EQ(TagNames(h).size(), 20u);
  EXPECT_EQ(TagNames(h).front(), "TAG00");

  int32_t tag = -1;
  ASSERT_EQ(kbdctagopen(&tag, h, "Tag00"), kKbdOk);
  EXPECT_EQ(tag, 1 << 16 | h);
  // The same tag again, whatever the case: -57.
  EXPECT_EQ(kbdctagopen(&tag, h, "TAG00"), kKbdErrTagInUse);
  kbdseterror(0);
  for (int i = 1; i < 19; ++i) {
    std::snprintf(name, sizeof name, "TAG%02d", i);
    ASSERT_EQ(kbdctagopen(&tag, h, name), kKbdOk) << i;
  }
  // The twentieth tag: every slot is in use.
  EXPECT_EQ(kbdctagopen(&tag, h, "TAG19"), kKbdErrIndexTableMax);
  kbdseterror(0);
  // Names of 0 or 11 characters, and absent names: -50.
  EXPECT_EQ(kbdctagopen(&tag, h, "ABCDEFGHIJK"), kKbdErrTagName);
  kbdseterror(0);
  EXPECT_EQ(kbdctagcreate(h, "ABCDEFGHIJK", 'C', "K", 10), kKbdErrTagName);
  kbdseterror(0);
  EXPECT_EQ(kbdctagcreate(h, "", 'C', "K", 10), kKbdErrTagName);
  kbdseterror(0);
  // An open tag can be neither deleted nor replaced.
  EXPECT_EQ(kbdctagdelete(h, "tag05"), kKbdErrTagInUse);
  kbdseterror(0);
  EXPECT_EQ(kbdctagcreate(h, "TAG05", 'C', "K", 10), kKbdErrTagInUse);
  kbdseterror(0);

  // Closing a slot frees it; a closed slot is a bad identifier.
  const int32_t fifth = 5 << 16 | h;
  ASSERT_EQ(kbdctagclose(fifth), kKbdOk);
  KbdCdxTagInfo info;
  EXPECT_EQ(kbdctaginfo(fifth, &info), kKbdErrTagId);
  kbdseterror(0);
  EXPECT_EQ(kbdctagclose(fifth), kKbdErrTagId);
  kbdseterror(0);
  EXPECT_EQ(kbdctaginfo(25 << 16 | h, &info), kKbdErrTagId);
  kbdseterror(0);
  ASSERT_EQ(kbdctagopen(&tag, h, "tag19"), kKbdOk);
  EXPECT_EQ(tag, fifth);
  ASSERT_EQ(kbdctaginfo(tag, &info), kKbdOk);
  EXPECT_STREQ(info.name, "TAG19");

  // By position: slot n gets the n-th name; an occupied slot is left as is.
  ASSERT_EQ(kbdcclose(h), kKbdOk);
  ASSERT_EQ(kbdcopenx(&h, Path("slots.cdx").c_str(), 0), kKbdOk);
  EXPECT_EQ(kbdctagopenno(&tag, h, 0), kKbdErrTagCount);
  kbdseterror(0);
  EXPECT_EQ(kbdctagopenno(&tag, h, 20), kKbdErrTagCount);
  kbdseterror(0);
  ASSERT_EQ(kbdctagopenno(&tag, h, 3), kKbdOk);
  EXPECT_EQ(tag, 3 << 16 | h);
  ASSERT_EQ(kbdctaginfo(tag, &info), kKbdOk);
  EXPECT_STREQ(info.name, "TAG02");
  ASSERT_EQ(kbdctagopenno(&tag, h, 3), kKbdOk);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

TEST_F(CdxTest, DescriptionsAndExpressions) {
  int16_t h = CreateOpen("desc.cdx");
  ASSERT_EQ(
      kbdctagcreate(h, "byname", 'C' | kKbdKeyUnique, "upper( name )", 20),
      kKbdOk);
  ASSERT_EQ(kbdctagcreate(h, "amount", 'n', "AMOUNT", 3), kKbdOk);
  // Expression, type and key length errors as for IDX files.
  EXPECT_EQ(kbdctagcreate(h, "BAD", 'X', "K", 10), kKbdErrKeyType);
  kbdseterror(0);
  EXPECT_EQ(kbdctagcreate(h, "BAD", 'C', "K", 101), kKbdErrKeySize);
  kbdseterror(0);
  EXPECT_EQ(kbdctagcreate(h, "BAD", 'C', std::string(230, 'A').c_str(), 10),
            kKbdErrKeyExpression);
  kbdseterror(0);

  int16_t count = 0;
  KbdCdxTagInfo* tags = nullptr;
  ASSERT_EQ(kbdctaglist(h, &count, &tags), kKbdOk);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(tags[0].name, "AMOUNT");
  EXPECT_EQ(tags[0].key_length, 8);
  EXPECT_EQ(tags[0].flags, kKbdKeyCompact);
  EXPECT_STREQ(tags[1].name, "BYNAME");
  EXPECT_EQ(tags[1].key_length, 20);
  EXPECT_EQ(tags[1].flags, 0x480);
  EXPECT_EQ(tags[1].expression_length, 11);
  EXPECT_STREQ(tags[1].expression, "UPPER(NAME)");
  kbdfree(tags);

  int32_t tag = -1;
  ASSERT_EQ(kbdctagopen(&tag, h, "byname"), kKbdOk);
  char text[256];
  ASSERT_EQ(kbdcexpr(tag, text), kKbdOk);
  EXPECT_STREQ(text, "UPPER(NAME)");
  ASSERT_EQ(kbdcforexpr(tag, text), kKbdOk);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(kbdckeytype(tag, 'x'), kKbdErrKeyType);
  kbdseterror(0);
  ASSERT_EQ(kbdckeytype(tag, 'd'), kKbdOk);
  KbdCdxTagInfo info;
  ASSERT_EQ(kbdctaginfo(tag, &info), kKbdOk);
  EXPECT_EQ(info.type, 'D');
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

TEST_F(CdxTest, ReplaceAndDeleteKeepEveryBlock) {
  int16_t h = CreateOpen("cycle.cdx");
  const std::string keys[] = {"apple", "pear", "plum", "fig"};
  for (int round = 0; round < 6; ++round) {
    // Replacing by name keeps one directory entry, the new tag, empty.
    int32_t tag = NewTag(h, "FRUIT", 'C', round % 2 ? "A" : "B", 12);
    EXPECT_TRUE(Walk(tag).empty());
    for (int i = 0; i < 300; ++i)
      ASSERT_EQ(Add(tag, keys[i % 4] + std::to_string(i), i + 1), kKbdOk);
    int32_t other = NewTag(h, "OTHER", 'C', "X", 30);
    for (int i = 0; i < 100; ++i)
      ASSERT_EQ(
          Add(other, std::string(20, 'a' + i % 26) + std::to_string(i), i + 1),
          kKbdOk);
    ASSERT_EQ(kbdctagclose(tag), kKbdOk);
    ASSERT_EQ(kbdctagclose(other), kKbdOk);
    btree::CheckReport report = CheckFile(h);
    EXPECT_EQ(report.keys, 400u);
    EXPECT_EQ(TagNames(h), (std::vector<std::string>{"FRUIT", "OTHER"}));
    ASSERT_EQ(kbdctagdelete(h, "other"), kKbdOk);
    EXPECT_EQ(kbdctagdelete(h, "other"), kKbdErrTagName);
    kbdseterror(0);
    CheckFile(h);
  }
  // The freed blocks are used again: the file grows only by the two
  // header blocks each new tag takes at its end.
  const uint64_t size = FileSize(Path("cycle.cdx"));
  for (int round = 0; round < 3; ++round) {
    int32_t tag = NewTag(h, "OTHER", 'C', "X", 30);
    for (int i = 0; i < 100; ++i)
      ASSERT_EQ(
          Add(tag, std::string(20, 'a' + i % 26) + std::to_string(i), i + 1),
          kKbdOk);
    ASSERT_EQ(kbdctagclose(tag), kKbdOk);
    ASSERT_EQ(kbdctagdelete(h, "OTHER"), kKbdOk);
  }
  EXPECT_EQ(FileSize(Path("cycle.cdx")), size + 3 * 1024);
  CheckFile(h);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

TEST_F(CdxTest, AddAndDeleteLimits) {
  int16_t h = CreateOpen("limits.cdx");
  int32_t unique = NewTag(h, "UNIQ", 'C' | kKbdKeyUnique, "K", 10);
  ASSERT_EQ(Add(unique, "alpha", 5), kKbdOk);
  ASSERT_EQ(Add(unique, "beta", 6), kKbdOk);
  // An existing key in a unique tag: 11, and nothing changes.
  const std::vector<IndexEntry> before = Walk(unique);
  EXPECT_EQ(Add(unique, "alpha", 9), kKbdAlreadyExists);
  EXPECT_EQ(Walk(unique), before);
  ASSERT_EQ(before.size(), 2u);
  EXPECT_EQ(before[0].key, "alpha     ");

  // A new tag of key length 10 has 16-bit record numbers.
  int32_t plain = NewTag(h, "PLAIN", 'C', "K", 10);
  ASSERT_EQ(Add(plain, "k", 65535), kKbdOk);
  EXPECT_EQ(Add(plain, "k", 70000), kKbdErrCorrupt);
  kbdseterror(0);
  EXPECT_EQ(Walk(plain).size(), 1u);
  // Equal keys by record number; a pair that is not there is 4.
  ASSERT_EQ(Add(plain, "k", 2), kKbdOk);
  EXPECT_EQ(Add(plain, "k", 2), kKbdAlreadyExists);
  EXPECT_EQ(Del(plain, "k", 3), kKbdKeyNotFound);
  ASSERT_EQ(Del(plain, "k", 65535), kKbdOk);
  ASSERT_EQ(Del(plain, "k", 2), kKbdOk);
  EXPECT_EQ(Del(plain, "k", 2), kKbdEmptyFile);
  // The directory is slot 0: readable, never changed through a tag call.
  EXPECT_EQ(Add(static_cast<int32_t>(h), "X", 1), kKbdErrTagId);
  kbdseterror(0);
  EXPECT_EQ(Walk(static_cast<int32_t>(h)).size(), 2u);
  ASSERT_EQ(kbdcclose(h), kKbdOk);

  ASSERT_EQ(kbdcopenx(&h, Path("limits.cdx").c_str(), 0x100), kKbdOk);
  int32_t tag = -1;
  ASSERT_EQ(kbdctagopen(&tag, h, "UNIQ"), kKbdOk);
  EXPECT_EQ(Add(tag, "gamma", 1), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(Del(tag, "alpha", 5), kKbdErrReadOnly);
  kbdseterror(0);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

// kbdcfind against a model of the tag: entries in walk order, (key,
// recno) ascending, or descending for a descending tag, where "below" and
// "above" follow the walk.
struct ModelEntry {
  std::string key;
  uint32_t recno;
};

// Where mode m lands: status and the index of the entry (-1 none).
std::pair<int16_t, int> ModelFind(const std::vector<ModelEntry>& entries,
                                  const std::string& search, uint32_t recno,
                                  uint16_t mode, bool descending) {
  const int n = static_cast<int>(entries.size());
  if (n == 0) return {kKbdEmptyFile, -1};
  auto cmp = [&](int i) {
    const int c = entries[i].key.compare(0, search.size(), search);
    return descending ? -c : c;
  };
  auto recno_before = [&](int i) {
    return descending ? entries[i].recno > recno : entries[i].recno < recno;
  };
  int at = 0;
  int16_t s = 0;
  const int base = mode == 2 ? 2 : (mode == 3 || mode == 15) ? 3 : 1;
  if (base == 3) {
    while (at < n && cmp(at) <= 0) ++at;
  } else {
    while (at < n &&
           (cmp(at) < 0 || (base == 2 && cmp(at) == 0 && recno_before(at))))
      ++at;
  }
  if (at == n) {
    s = kKbdNoMoreKeys;
  } else {
    s = (cmp(at) == 0 && (base == 1 || entries[at].recno == recno)) ? 0 : 4;
  }
  const int pos = at == n ? -1 : at;
  switch (mode) {
    case 11:
      if (s == 0) {
        if (at == 0) return {kKbdKeyNotFound, 0};
        return {0, at - 1};
      }
      return {s == 4 ? int16_t{0} : (s == 3 ? int16_t{4} : s), pos};
    case 12:
      return {s == 4 ? int16_t{0} : (s == 3 ? int16_t{4} : s), pos};
    case 13:
      return {s == 3 ? int16_t{4} : s, pos};
    case 14:
      if (s == 3) return {0, -1};
      if (s == 4)
        return at + 1 < n ? std::pair<int16_t, int>{0, at + 1}
                          : std::pair<int16_t, int>{4, at};
      return {s, pos};
    case 15:
      if (s == 3) return {0, -1};
      return {s, pos};
    default:
      return {s, pos};
  }
}

TEST_F(CdxTest, EverySearchModeAgainstAModel) {
  int16_t h = CreateOpen("modes.cdx");
  IndexEntry found;
  int32_t tag = -1;
  for (bool descending : {true, false}) {
    SCOPED_TRACE(descending ? "descending" : "ascending");
    tag = NewTag(h, descending ? "MODESD" : "MODES",
                 'C' | (descending ? kKbdKeyDescending : 0), "K", 6);
    std::vector<ModelEntry> entries;
    // An empty tag: 2 in every mode.
    for (uint16_t mode : {1, 2, 3, 11, 12, 13, 14, 15})
      EXPECT_EQ(Find(tag, "B", 0, mode, &found), kKbdEmptyFile) << mode;
    char bad_mode_key[7] = "B";
    uint32_t bad_mode_at = 0;
    EXPECT_EQ(kbdcfind(tag, bad_mode_key, &bad_mode_at, 4), kKbdErrCommand);
    kbdseterror(0);
    const char* keys[] = {"BB", "BB", "BC", "DA", "DA", "DA", "F", "FA"};
    for (uint32_t i = 0; i < 8; ++i) {
      std::string key = keys[i];
      key.resize(6, ' ');
      entries.push_back({key, 10 * (i + 1)});
      ASSERT_EQ(Add(tag, keys[i], 10 * (i + 1)), kKbdOk);
    }
    if (descending) std::reverse(entries.begin(), entries.end());
    const char* searches[] = {"A", "B", "BB",     "BC", "C",  "DA", "DA    ",
                              "E", "F", "F     ", "FA", "FB", "Z"};
    for (const char* search : searches) {
      for (uint32_t recno : {0u, 20u, 50u, 60u, 80u}) {
        for (uint16_t mode : {1, 2, 3, 11, 12, 13, 14, 15}) {
          SCOPED_TRACE(std::string("search '") + search + "' recno " +
                       std::to_string(recno) + " mode " + std::to_string(mode));
          auto [status, at] =
              ModelFind(entries, search, recno, mode, descending);
          ASSERT_EQ(Find(tag, search, recno, mode, &found), status);
          if (at >= 0) {
            EXPECT_EQ(found.key, entries[at].key);
            EXPECT_EQ(found.recno, entries[at].recno);
          }
        }
      }
    }
    // Walks both ways, in the tag's order.
    std::vector<IndexEntry> walk = Walk(tag);
    ASSERT_EQ(walk.size(), 8u);
    for (size_t i = 0; i < walk.size(); ++i)
      EXPECT_EQ(walk[i].recno, entries[i].recno);
    EXPECT_EQ(WalkBack(tag), walk);
    CheckTag(tag);
  }
  // A key above every key with mode 14: 0.
  EXPECT_EQ(Find(tag, "ZZZ", 0, 14, &found), kKbdOk);

  // Next and previous from an entry no longer there.
  char key[7] = "DA    ";
  uint32_t recno = 55;
  ASSERT_EQ(kbdcnext(tag, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 60u);
  std::memcpy(key, "DA    ", 7);
  recno = 55;
  ASSERT_EQ(kbdcprev(tag, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 50u);
  std::memcpy(key, "ZZ    ", 7);
  ASSERT_EQ(kbdcprev(tag, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 80u);
  EXPECT_EQ(kbdcnext(tag, key, &recno), kKbdNoMoreKeys);
  std::memcpy(key, "DA    ", 7);
  recno = 50;
  EXPECT_EQ(kbdccurrent(tag, key, &recno), kKbdOk);
  recno = 51;
  EXPECT_EQ(kbdccurrent(tag, key, &recno), kKbdKeyNotFound);
  EXPECT_EQ(recno, 60u);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

// Tag headers as the FoxPro programs write them: options 0x60 (| 0x01
// unique, | 0x08 FOR), signature 1, the key order word 1 for a descending
// tag, the FOR expression after the key expression; every change counted
// in the directory's change counter (big-endian, at 8).
TEST_F(CdxTest, TagHeadersAsFoxProWritesThem) {
  const std::string path = Path("headers.cdx");
  int16_t h = CreateOpen("headers.cdx", qx::testing::ModeForTestReads());
  struct Case {
    const char* name;
    uint16_t type;
    const char* for_expression;
    uint8_t options;
    uint16_t order;
  };
  const Case cases[] = {{"PLAIN", 'C', nullptr, 0x60, 0},
                        {"UNIQ", 'C' | kKbdKeyUnique, "", 0x61, 0},
                        {"DOWN", 'C' | kKbdKeyDescending, nullptr, 0x60, 1},
                        {"FILTER", 'C', "age > 0", 0x68, 0}};
  for (const Case& c : cases)
    ASSERT_EQ(kbdctagcreatex(h, c.name, c.type, "name", 10, c.for_expression),
              kKbdOk)
        << c.name;
  // Both expressions must fit the 512-byte expression block.
  EXPECT_EQ(kbdctagcreatex(h, "LONG", 'C', std::string(200, 'A').c_str(), 10,
                           std::string(310, 'B').c_str()),
            kKbdErrKeyExpression);
  kbdseterror(0);
  std::vector<uint8_t> bytes = ReadBytes(path);
  EXPECT_EQ(GetBe32(bytes.data() + 8), static_cast<uint32_t>(std::size(cases)));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int32_t tag = -1;
    ASSERT_EQ(kbdctagopen(&tag, h, c.name), kKbdOk);
    KbdCdxTagInfo info;
    ASSERT_EQ(kbdctaginfo(tag, &info), kKbdOk);
    EXPECT_EQ(info.flags, kKbdKeyCompact | (c.options & 1 ? kKbdKeyUnique : 0) |
                              (c.order ? kKbdKeyDescending : 0));
    char text[256];
    ASSERT_EQ(kbdcforexpr(tag, text), kKbdOk);
    EXPECT_STREQ(text, c.options & 8 ? "AGE>0" : "");
    ASSERT_EQ(kbdctagclose(tag), kKbdOk);
    // The header's offset is the directory entry's record number.
    uint32_t offset = 0;
    for (uint32_t at = 1536; at + 1024 <= bytes.size(); at += 512) {
      if (bytes[at + 512] == 'N' && bytes[at + 14] == c.options &&
          Le16(bytes, at + 502) == c.order)
        offset = at;
    }
    ASSERT_NE(offset, 0u);
    EXPECT_EQ(bytes[offset + 15], 1);
    EXPECT_EQ(Le32(bytes, offset + 8), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[offset + 512]),
                          c.options & 8 ? 13 : 5),
              c.options & 8 ? std::string("NAME\0age > 0\0", 13)
                            : std::string("NAME\0", 5));
  }
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

// A descending tag walks from the greatest key (equal keys by falling
// record number) and finds as Harbour's dbSeek finds on such a tag: the
// first key of the walk not above the value (for a prefix: the last key
// holding it). The answers below are Harbour's on the same records.
TEST_F(CdxTest, DescendingTagSeeksAsHarbour) {
  int16_t h = CreateOpen("down.cdx");
  int32_t tag = NewTag(h, "DOWN", 'C' | kKbdKeyDescending, "NAME", 4);
  const char* names[] = {"Jb", "Ia", "Hx", "Kx", "Jb", "Ia", "Ja", "Jc", "Jc"};
  for (uint32_t i = 0; i < std::size(names); ++i)
    ASSERT_EQ(Add(tag, names[i], i + 1), kKbdOk);
  EXPECT_EQ(Recnos(Walk(tag)),
            (std::vector<uint32_t>{4, 9, 8, 5, 1, 7, 6, 2, 3}));
  struct Seek {
    const char* value;
    int16_t status;
    uint32_t recno;  // 0: past the end
  };
  const Seek seeks[] = {{"Jb", kKbdOk, 5},          {"J", kKbdOk, 9},
                        {"Jx", kKbdKeyNotFound, 9}, {"Ib", kKbdKeyNotFound, 6},
                        {"A", kKbdNoMoreKeys, 0},   {"Z", kKbdKeyNotFound, 4},
                        {"Ia", kKbdOk, 6},          {"Kx", kKbdOk, 4},
                        {"Hx", kKbdOk, 3}};
  for (const Seek& seek : seeks) {
    SCOPED_TRACE(seek.value);
    IndexEntry found;
    ASSERT_EQ(Find(tag, seek.value, 0, kKbdCdxFirstNotBelow, &found),
              seek.status);
    if (seek.recno != 0) {
      EXPECT_EQ(found.recno, seek.recno);
    }
  }
  // Next and previous follow the walk, from an entry gone too.
  char key[5] = "Jb  ";
  uint32_t recno = 5;
  ASSERT_EQ(kbdcnext(tag, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 1u);
  std::memcpy(key, "Jb  ", 5);
  recno = 3;
  ASSERT_EQ(kbdcprev(tag, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 5u);
  ASSERT_EQ(kbdclast(tag, key, &recno), kKbdOk);
  EXPECT_EQ(recno, 3u);
  CheckTag(tag);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

TEST_F(CdxTest, KeyImagesAndRecordKeys) {
  uint8_t key[9];
  uint8_t other[9];
  ASSERT_EQ(kbdcdatekey(key, "20240229"), kKbdOk);
  EXPECT_EQ(DecodeDoubleKey(key), 2460370.0);
  EXPECT_EQ(key[8], 0);
  EXPECT_EQ(kbdcdatekey(key, "20230229"), kKbdErrDate);
  kbdseterror(0);
  ASSERT_EQ(kbdcdatekey(other, "        "), kKbdOk);
  ASSERT_EQ(kbdcdatekey(key, "99991231"), kKbdOk);
  EXPECT_GT(std::memcmp(key, other, 8), 0);  // the empty date sorts first
  ASSERT_EQ(kbdcnumkey(key, -2.5), kKbdOk);
  ASSERT_EQ(kbdcnumkey(other, 1.0), kKbdOk);
  EXPECT_LT(std::memcmp(key, other, 8), 0);
  EXPECT_EQ(DecodeDoubleKey(key), -2.5);

  // Keys of records, and a numeric tag walked in value order.
  kbdsetsync(0);
  const KbdFieldDef fields[2] = {FieldDef("NAME", 'C', 8),
                                 FieldDef("AMOUNT", 'N', 8, 2)};
  ASSERT_EQ(kbddcreate(Path("t.dbf").c_str(), 2, fields, 4), kKbdOk);
  int16_t dbf = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&dbf, Path("t.dbf").c_str(), 4), kKbdOk);
  int16_t h = CreateOpen("t.cdx");
  int32_t name = NewTag(h, "NAME", 'C', "UPPER(NAME)", 10);
  int32_t amount = NewTag(h, "AMOUNT", 'N', "AMOUNT", 8);
  ASSERT_EQ(kbdckeytype(amount, 'N'), kKbdOk);
  const double amounts[] = {3.5, -1.25, 0.0, 12.0};
  const char* names[] = {"dora", "al", "Cy", "bo"};
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_EQ(kbddblankrec(dbf), kKbdOk);
    ASSERT_EQ(kbddput(dbf, 0, names[i]), kKbdOk);
    ASSERT_EQ(kbddput(dbf, 1, &amounts[i]), kKbdOk);
    uint32_t recno = 0;
    ASSERT_EQ(kbddwrite(dbf, &recno, kKbdWriteAppend), kKbdOk);
    for (int32_t tag : {name, amount}) {
      void* made = nullptr;
      ASSERT_EQ(kbdckeyrec(dbf, tag, &made), kKbdOk);
      ASSERT_EQ(kbdcadd(tag, made, recno), kKbdOk);
      kbdfree(made);
    }
  }
  EXPECT_EQ(Recnos(Walk(name)), (std::vector<uint32_t>{2, 4, 3, 1}));
  EXPECT_EQ(Walk(name)[0].key, "AL        ");
  EXPECT_EQ(Recnos(Walk(amount)), (std::vector<uint32_t>{2, 3, 1, 4}));
  ASSERT_EQ(kbdcnumkey(key, 12.0), kKbdOk);
  IndexEntry found;
  ASSERT_EQ(
      Find(amount, std::string(reinterpret_cast<char*>(key), 8), 0, 1, &found),
      kKbdOk);
  EXPECT_EQ(found.recno, 4u);
  EXPECT_EQ(kbdckeyrec(dbf, name, nullptr), kKbdErrNullPointer);
  kbdseterror(0);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
  ASSERT_EQ(kbddclose(dbf), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
