// Real compound files of the corpus (written by other programs, the
// database-container .dcx files included): each opens with dialect 0,
// lists its tags, walks every tag forward and backward in the order the
// peer reader found, and passes the structural check, except the files
// the corpus marks as stale, corrupt or in a national collation, which
// must be read and checked without a crash (their check may report
// problems).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "tests/engine/cdx/cdx_test_util.h"

namespace qx::engine::testing {
namespace {

// Files whose trees are damaged, stale or ordered by a collation table.
const std::set<std::string> kNotClean = {"issue115.cdx", "Corrupt3.CDX",
                                         "Customers.CDX", "Categories.CDX"};

// The type letter of a field of a data file, read from its field
// descriptors (32 bytes each from offset 32: the name, then the type at
// 11), or ' '.
char FieldType(const std::string& table, std::string name) {
  std::ifstream in(table, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)),
                          std::istreambuf_iterator<char>());
  // Longer names of the container are cut to the 10 of a descriptor.
  name.resize(std::min<size_t>(name.size(), 10));
  for (char& c : name) c = static_cast<char>(std::toupper(c));
  for (size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\r'; at += 32) {
    if (std::string(bytes.c_str() + at) == name) return bytes[at + 11];
  }
  return ' ';
}

// A string value of the corpus description after key, searched from at.
std::string JsonText(const std::string& json, const std::string& key,
                     size_t from, size_t to) {
  const std::string pattern = "\"" + key + "\": \"";
  const size_t at = json.find(pattern, from);
  if (at == std::string::npos || at > to) return "";
  const size_t begin = at + pattern.size();
  return json.substr(begin, json.find('"', begin) - begin);
}

// The key type the access layer would set from the field a tag is keyed
// by: text for C fields and for expressions, D and L as they are, numbers
// of every kind N.
char KeyTypeOfTag(const std::filesystem::path& folder, const std::string& file,
                  const std::string& tag) {
  std::ifstream in((folder / "expected" / (file + ".info.json")).string());
  const std::string json((std::istreambuf_iterator<char>(in)),
                         std::istreambuf_iterator<char>());
  const size_t at = json.find("\"tag\": \"" + tag + "\"");
  if (at == std::string::npos) return 'C';
  // This tag's object: after the name of the tag before it.
  const size_t previous = json.rfind("\"tag\": \"", at - 1);
  const size_t from = previous == std::string::npos ? 0 : previous + 1;
  const std::string expression = JsonText(json, "key_expression", from, at);
  const std::string table = JsonText(json, "table", 0, json.size());
  if (expression.empty() || table.empty() ||
      expression.find_first_of("()+") != std::string::npos)
    return 'C';
  const char field = FieldType((folder / table).string(), expression);
  return field == ' ' || field == 'C' || field == 'D' || field == 'L'
             ? (field == ' ' ? 'C' : field)
             : 'N';
}

TEST_F(CdxTest, RealFilesWalkAsThePeerAndPassTheCheck) {
  const std::vector<std::filesystem::path> files =
      CorpusFiles({".cdx", ".dcx"});
  ASSERT_GE(files.size(), 30u);
  for (const std::filesystem::path& path : files) {
    const std::string file = path.filename().string();
    const bool clean = kNotClean.count(file) == 0;
    SCOPED_TRACE(path.string());
    // Other programs keep a change counter where this engine keeps the
    // end of the file: warning 7 is no failure.
    int16_t h = kKbdNoHandle;
    const int16_t opened = kbdcopenx(&h, path.string().c_str(), kFixtureMode);
    ASSERT_TRUE(opened == kKbdOk || opened == kKbdBadFileSize) << opened;
    const std::vector<std::string> names = TagNames(h);
    ASSERT_FALSE(names.empty());
    std::vector<int32_t> key_lengths;
    {
      int16_t count = 0;
      KbdCdxTagInfo* tags = nullptr;
      ASSERT_EQ(kbdctaglist(h, &count, &tags), kKbdOk);
      for (int i = 0; i < count; ++i) key_lengths.push_back(tags[i].key_length);
      kbdfree(tags);
    }
    for (size_t n = 0; n < names.size(); ++n) {
      const std::string& name = names[n];
      SCOPED_TRACE("tag " + name);
      const std::string order_file =
          (path.parent_path() / "expected" / (file + "." + name + ".order"))
              .string();
      ASSERT_TRUE(std::filesystem::exists(order_file));
      int32_t tag = -1;
      ASSERT_EQ(kbdctagopen(&tag, h, name.c_str()), kKbdOk);
      const std::vector<uint32_t> expected = ReadOrderFile(order_file);
      if (!clean) {
        // Stale, damaged or ordered by a collation: the walk still follows
        // the file (from the leaf of the entry last given); the check runs
        // to its end.
        EXPECT_EQ(Recnos(Walk(tag)), expected);
        btree::CheckReport report;
        EXPECT_EQ(CheckCdxTag(tag, &report), kKbdOk);
        ASSERT_EQ(kbdctagclose(tag), kKbdOk);
        continue;
      }
      // The key type the access layer would set from the field.
      const char type = KeyTypeOfTag(path.parent_path(), file, name);
      if (type != 'C') {
        ASSERT_EQ(kbdckeytype(tag, static_cast<uint16_t>(type)), kKbdOk);
      }
      std::vector<IndexEntry> walk = Walk(tag);
      EXPECT_EQ(Recnos(walk), expected);
      EXPECT_EQ(WalkBack(tag), walk);
      btree::CheckReport report;
      ASSERT_EQ(CheckCdxTag(tag, &report), kKbdOk);
      EXPECT_EQ(report.keys, walk.size());
      // Every entry is found again by key and record number (a text key
      // ends at a NUL: binary keys of an unknown type are left out).
      for (const IndexEntry& e : walk) {
        if (type == 'C' && e.key.find('\0') != std::string::npos) continue;
        IndexEntry found;
        ASSERT_EQ(Find(tag, e.key, e.recno, 2, &found), kKbdOk);
        ASSERT_EQ(found, e);
      }
      ASSERT_EQ(kbdctagclose(tag), kKbdOk);
      // The same tag by its position.
      if (n + 1 < 20) {
        ASSERT_EQ(kbdctagopenno(&tag, h, static_cast<int16_t>(n + 1)), kKbdOk);
        KbdCdxTagInfo info;
        ASSERT_EQ(kbdctaginfo(tag, &info), kKbdOk);
        EXPECT_EQ(info.name, name);
        ASSERT_EQ(kbdctagclose(tag), kKbdOk);
      }
    }
    btree::CheckReport report;
    ASSERT_EQ(CheckCdx(h, &report), kKbdOk);
    if (clean) {
      for (const std::string& problem : report.problems)
        ADD_FAILURE() << problem;
    }
    ASSERT_EQ(kbdcclose(h), kKbdOk);
  }
}

// A tag's record key is its key expression's value, with or without a
// FOR condition (which is the caller's to test).
TEST_F(CdxTest, RecordKeysOfARealFile) {
  const std::string folder =
      qx::testing::SharedDir() + "/fixtures/real/dbd-xbase/";
  int16_t h = kKbdNoHandle;
  ASSERT_GE(kbdcopenx(&h, (folder + "rooms.cdx").c_str(), kFixtureMode), 0);
  int16_t dbf = kKbdNoHandle;
  ASSERT_GE(kbddopenx(&dbf, (folder + "rooms.dbf").c_str(), kFixtureMode), 0);
  int32_t audio = -1;
  int32_t name = -1;
  ASSERT_EQ(kbdctagopen(&audio, h, "audio"), kKbdOk);
  ASSERT_EQ(kbdctagopen(&name, h, "roomname"), kKbdOk);
  char text[256];
  ASSERT_EQ(kbdcforexpr(audio, text), kKbdOk);
  EXPECT_STREQ(text, "TRIM(UPPER(FACILITY))==\"AUDIO\"");
  for (const IndexEntry& e : Walk(name)) {
    ASSERT_GE(kbddread(dbf, e.recno), 0);
    void* key = nullptr;
    ASSERT_EQ(kbdckeyrec(dbf, name, &key), kKbdOk);
    EXPECT_EQ(std::string(static_cast<char*>(key), e.key.size()), e.key);
    kbdfree(key);
    ASSERT_EQ(kbdckeyrec(dbf, audio, &key), kKbdOk);
    EXPECT_EQ(std::string(static_cast<char*>(key), e.key.size()), e.key);
    kbdfree(key);
  }
  ASSERT_EQ(kbddclose(dbf), kKbdOk);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

// A real file takes changes: a new tag and keys in an existing one. Its
// header keeps a change counter where this engine keeps the end of the
// file, which must not decide where new blocks go.
TEST_F(CdxTest, ChangesARealFile) {
  const std::string copy = Path("rooms.cdx");
  std::filesystem::copy_file(
      qx::testing::SharedDir() + "/fixtures/real/dbd-xbase/rooms.cdx", copy);
  const uint64_t size = FileSize(copy);
  int16_t h = kKbdNoHandle;
  ASSERT_GE(kbdcopenx(&h, copy.c_str(), 0), 0);
  int32_t name = -1;
  ASSERT_EQ(kbdctagopen(&name, h, "ROOMNAME"), kKbdOk);
  const size_t before = Walk(name).size();
  for (uint32_t i = 0; i < 300; ++i)
    ASSERT_EQ(Add(name, "room" + std::to_string(i), 100 + i), kKbdOk) << i;
  int32_t added = NewTag(h, "ADDED", 'C', "ROOMNAME", 10);
  for (uint32_t i = 0; i < 300; ++i)
    ASSERT_EQ(Add(added, "room" + std::to_string(i), i + 1), kKbdOk) << i;
  EXPECT_EQ(Walk(name).size(), before + 300);
  EXPECT_LT(FileSize(copy), size + 64 * 1024);
  btree::CheckReport report;
  ASSERT_EQ(CheckCdx(h, &report), kKbdOk);
  for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
  ASSERT_EQ(kbdcclose(h), kKbdOk);
  // The peer reader walks the changed tag.
  std::vector<uint32_t> peer;
  std::string failure;
  if (PerlOrder(copy, 'C', "ROOMNAME", &peer, &failure)) {
    EXPECT_EQ(peer.size(), before + 300);
  } else {
    EXPECT_TRUE(failure.empty()) << failure;
  }
}

}  // namespace
}  // namespace qx::engine::testing
