// MDX files and tags: create, the checks of open in their order, warning
// 7; tag definition (blocks, table entry and threads, replacement, the
// 48th tag), the tag header checks of a tag open, deletion with its blocks
// going to the free chain and coming back for the next definition; tag
// numbers and handles; the file check on a damaged file.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/coding.h"
#include "engine/mdx/mdx_format.h"
#include "tests/engine/mdx/mdx_test_util.h"

namespace qx::engine::testing {
namespace {

using qx::testing::ReadWholeFile;
using qx::testing::WriteWholeFile;
using namespace std::string_literals;

class MdxFileTest : public MdxTest {
 protected:
  std::string Bytes(const std::string& name) {
    return ReadWholeFile(Path(name));
  }
  static uint32_t Le32(const std::string& bytes, size_t offset) {
    return GetLe32(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
  }
  static uint16_t Le16(const std::string& bytes, size_t offset) {
    return GetLe16(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
  }
  // Opens a copy of bytes: the status, with the handle closed again.
  int16_t OpenBytes(const std::string& bytes, uint16_t mode = 0) {
    WriteWholeFile(Path("t.mdx"), bytes);
    int16_t h = 0;
    kbdseterror(0);
    int16_t status = kbdmopenx(&h, Path("t.mdx").c_str(), mode);
    if (status >= 0) {
      EXPECT_EQ(kbdmclose(h), kKbdOk);
    } else {
      EXPECT_EQ(h, kKbdNoHandle);
    }
    kbdseterror(0);
    return status;
  }
  // Defines many keys in a tag so that its tree spans several levels.
  static void Fill(int32_t t, int keys) {
    for (int i = 0; i < keys; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "K%07d", (i * 7919) % keys);
      ASSERT_EQ(Add(t, key, static_cast<uint32_t>(i + 1)), kKbdOk);
    }
  }
};

TEST_F(MdxFileTest, CreateAndTheOpenChecksInOrder) {
  ASSERT_EQ(kbdmcreate(Path("people.mdx").c_str()), kKbdOk);
  const std::string file = Bytes("people.mdx");
  ASSERT_EQ(file.size(), 2048u);
  EXPECT_EQ(file[0], 2);
  EXPECT_EQ(file.substr(4, 7), std::string("PEOPLE\0", 7));
  EXPECT_EQ(Le16(file, 20), 2);
  EXPECT_EQ(Le16(file, 22), 1024);
  EXPECT_EQ(file[24], 0);
  EXPECT_EQ(file[25], '0');
  EXPECT_EQ(file[26], ' ');
  EXPECT_EQ(Le16(file, 28), 0);
  EXPECT_EQ(Le32(file, 32), 4u);
  EXPECT_EQ(Le32(file, 36), 0u);
  EXPECT_EQ(Le32(file, 40), 0u);
  EXPECT_EQ(file.substr(1, 3), file.substr(44, 3));  // today, twice
  EXPECT_EQ(file.substr(512), std::string(1536, '\0'));
  // A longer base name keeps its first 8 characters.
  ASSERT_EQ(kbdmcreate(Path("customers.mdx").c_str()), kKbdOk);
  EXPECT_EQ(ReadWholeFile(Path("customers.mdx")).substr(4, 16),
            std::string("CUSTOMER\0\0\0\0\0\0\0\0", 16));
  EXPECT_EQ(kbdmcreate(nullptr), kKbdErrNullPointer);
  kbdseterror(0);

  EXPECT_EQ(OpenBytes(file), kKbdOk);
  EXPECT_EQ(OpenBytes(file, 2), kKbdOk);
  EXPECT_EQ(OpenBytes(file, 1), kKbdErrVersion);
  struct Patch {
    size_t offset;
    uint8_t value;
    int16_t status;
  };
  // Each patch breaks one check; applied together, the first one wins.
  const Patch patches[] = {
      {0, 3, kKbdErrVersion},          {20, 33, kKbdErrPageSize},
      {23, 0x05, kKbdErrOffsetAdder},  {25, 47, kKbdErrIndexTableMax},
      {26, 31, kKbdErrIndexTableItem}, {28, 48, kKbdErrTagCount},
      {32, 3, kKbdErrHeaderSize},
  };
  for (const Patch& p : patches) {
    std::string bytes = file;
    bytes[p.offset] = static_cast<char>(p.value);
    EXPECT_EQ(OpenBytes(bytes), p.status) << "offset " << p.offset;
  }
  for (size_t first = 0; first < std::size(patches); ++first) {
    std::string bytes = file;
    for (size_t i = first; i < std::size(patches); ++i)
      bytes[patches[i].offset] = static_cast<char>(patches[i].value);
    EXPECT_EQ(OpenBytes(bytes), patches[first].status) << "from " << first;
  }
  EXPECT_EQ(OpenBytes(file + std::string(512, '\0')), kKbdBadFileSize);
  int16_t h = kKbdNoHandle;
  EXPECT_EQ(kbdmopenx(&h, Path("missing.mdx").c_str(), 0), kKbdErrOpen);
  EXPECT_EQ(h, kKbdNoHandle);
}

TEST_F(MdxFileTest, DefinitionWritesBlocksTableAndThreads) {
  const int16_t h = CreateOpen("t.mdx", qx::testing::ModeForTestReads());
  ASSERT_EQ(kbdmtagdef(h, "name", 'c', "upper( name )", 10), kKbdOk);
  std::string file = Bytes("t.mdx");
  // Header and root take sectors 4-5 and 6-7; the file has 8 sectors.
  ASSERT_EQ(file.size(), 4096u);
  EXPECT_EQ(Le16(file, 28), 1);
  EXPECT_EQ(Le32(file, 32), 8u);
  const size_t entry = 512 + 32;
  EXPECT_EQ(Le32(file, entry), 4u);
  EXPECT_EQ(file.substr(entry + 4, 5), "NAME\0"s);
  EXPECT_EQ(file[entry + 17], 0);  // forward: the last tag
  EXPECT_EQ(file[entry + 18], 0);  // backward: entry 0
  EXPECT_EQ(file[entry + 19], 2);
  EXPECT_EQ(file[entry + 20], 'C');
  EXPECT_EQ(file[512 + 17], 1);  // entry 0 heads the thread
  const size_t tag = 4 * 512;
  EXPECT_EQ(Le32(file, tag), 6u);
  EXPECT_EQ(file[tag + 8], 0x10);
  EXPECT_EQ(file[tag + 9], 'C');
  EXPECT_EQ(Le16(file, tag + 12), 10);
  EXPECT_EQ(Le16(file, tag + 14), 63);
  EXPECT_EQ(Le16(file, tag + 16), 0);
  EXPECT_EQ(Le16(file, tag + 18), 16);
  EXPECT_EQ(file.substr(tag + 24, 12), "UPPER(NAME)\0"s);
  EXPECT_EQ(file.substr(6 * 512, 1024), std::string(1024, '\0'));

  // Key types, lengths and flags.
  ASSERT_EQ(kbdmtagdef(h, "AMOUNT", 'n', "AMOUNT", 30), kKbdOk);
  ASSERT_EQ(kbdmtagdef(h, "BIRTH", 'D' | kKbdKeyUnique | kKbdKeyDescending,
                       "BIRTH", 0),
            kKbdOk);
  ASSERT_EQ(kbdmtagdef(h, "INITIAL", 'C', "LEFT(NAME,1)", 1), kKbdOk);
  file = Bytes("t.mdx");
  EXPECT_EQ(file[512 + 32 + 17], 2);  // threads 1 -> 2 -> 3 -> 4
  EXPECT_EQ(file[512 + 64 + 17], 3);
  EXPECT_EQ(file[512 + 64 + 18], 1);
  EXPECT_EQ(file[512 + 128 + 17], 0);
  EXPECT_EQ(file[512 + 128 + 18], 3);
  struct Want {
    const char* name;
    uint16_t key_length;
    char type;
    uint16_t flags;
    uint8_t format;
  };
  for (const Want& w :
       {Want{"AMOUNT", 12, 'N', 0, 0x10},
        Want{"BIRTH", 8, 'D', kKbdKeyUnique | kKbdKeyDescending, 0x58},
        Want{"INITIAL", 1, 'C', 0, 0x00}}) {
    SCOPED_TRACE(w.name);
    int32_t t = kKbdNoHandle;
    ASSERT_EQ(kbdmtagopen(&t, h, w.name), kKbdOk);
    KbdMdxTagInfo info;
    ASSERT_EQ(kbdmtaginfo(t, &info), kKbdOk);
    EXPECT_STREQ(info.name, w.name);
    EXPECT_EQ(info.key_length, w.key_length);
    EXPECT_EQ(info.type, w.type);
    EXPECT_EQ(info.flags, w.flags);
    const uint32_t sector = Le32(file, 512 + 32 * (t >> 16));
    EXPECT_EQ(static_cast<uint8_t>(file[sector * 512 + 8]), w.format);
    if (w.type == 'D') {
      EXPECT_EQ(Le16(file, sector * 512 + 16), 1);
      EXPECT_EQ(Le16(file, sector * 512 + 14), 84);
    }
    ASSERT_EQ(kbdmtagclose(t), kKbdOk);
  }

  // Refusals: each leaves the file as it was.
  const std::string before = Bytes("t.mdx");
  const std::string long_expression(221, 'A');
  struct Refused {
    const char* name;
    uint16_t type;
    const char* expression;
    uint16_t length;
    int16_t status;
  };
  for (const Refused& r : {
           Refused{"", 'C', "NAME", 10, kKbdErrTagName},
           Refused{"ELEVENCHARS", 'C', "NAME", 10, kKbdErrTagName},
           Refused{"X", 'C', long_expression.c_str(), 10, kKbdErrKeyExpression},
           Refused{"X", 'C', "  ", 10, kKbdErrKeyExpression},
           Refused{"X", 'L', "NAME", 10, kKbdErrKeyType},
           Refused{"X", 'C', "NAME", 0, kKbdErrKeySize},
           Refused{"X", 'C', "NAME", 101, kKbdErrKeySize},
           Refused{"AMOUNT", 'Q', "NAME", 10, kKbdErrKeyType},
           Refused{nullptr, 'C', "NAME", 10, kKbdErrNullPointer},
       }) {
    EXPECT_EQ(kbdmtagdef(h, r.name, r.type, r.expression, r.length), r.status)
        << (r.name ? r.name : "null");
    kbdseterror(0);
  }
  EXPECT_EQ(Bytes("t.mdx"), before);
  // 220 characters (blanks removed first) are accepted.
  const std::string spaced = " " + std::string(220, 'B') + " ";
  EXPECT_EQ(kbdmtagdef(h, "LONG", 'C', spaced.c_str(), 10), kKbdOk);
  CheckFile(h);
}

TEST_F(MdxFileTest, ReplacementAndTheFortyEighthTag) {
  const int16_t h = CreateOpen("t.mdx");
  for (int i = 1; i <= 47; ++i) {
    const std::string name = "TAG" + std::to_string(i);
    ASSERT_EQ(kbdmtagdef(h, name.c_str(), 'C', "NAME", 10), kKbdOk) << i;
  }
  EXPECT_EQ(kbdmtagdef(h, "ONEMORE", 'C', "NAME", 10), kKbdErrNoHandle);
  kbdseterror(0);
  // The same name (in another case) replaces: the tag moves to the end,
  // the last tag takes its number, and its blocks come back.
  const uint64_t size = FileSize(Path("t.mdx"));
  ASSERT_EQ(kbdmtagdef(h, "tag5", 'N', "AMOUNT", 0), kKbdOk);
  EXPECT_EQ(FileSize(Path("t.mdx")), size);
  int32_t t = kKbdNoHandle;
  ASSERT_EQ(kbdmtagopenn(&t, h, 47), kKbdOk);
  KbdMdxTagInfo info;
  ASSERT_EQ(kbdmtaginfo(t, &info), kKbdOk);
  EXPECT_STREQ(info.name, "TAG5");
  EXPECT_EQ(info.type, 'N');
  ASSERT_EQ(kbdmtagopenn(&t, h, 5), kKbdOk);
  ASSERT_EQ(kbdmtaginfo(t, &info), kKbdOk);
  EXPECT_STREQ(info.name, "TAG47");
  KbdMdxInfo file_info;
  ASSERT_EQ(kbdminfo(h, &file_info), kKbdOk);
  EXPECT_EQ(file_info.tag_count, 47);
  EXPECT_EQ(kbdmtagopenn(&t, h, 48), kKbdErrTagName);
  kbdseterror(0);
  MdxFileReport report = CheckFile(h);
  EXPECT_EQ(report.tags, 47u);
  EXPECT_EQ(report.free_blocks, 0u);
}

TEST_F(MdxFileTest, DeletedBlocksServeTheNextDefinition) {
  const int16_t h = CreateOpen("t.mdx", qx::testing::ModeForTestReads());
  int32_t first = DefineOpen(h, "FIRST", 'C', "NAME", 8);
  int32_t second = DefineOpen(h, "SECOND", 'C', "NAME", 8);
  ASSERT_NO_FATAL_FAILURE(Fill(first, 4000));
  ASSERT_NO_FATAL_FAILURE(Fill(second, 500));
  const uint32_t first_pages = Check(first).tree_pages;
  EXPECT_GT(first_pages, 40u);
  EXPECT_EQ(kbdmtagdel(h, "first"), kKbdErrTagInUse);
  kbdseterror(0);
  ASSERT_EQ(kbdmtagclose(first), kKbdOk);
  EXPECT_EQ(kbdmtagclose(first), kKbdErrTagId);
  kbdseterror(0);

  // SECOND (open, the last tag) moves into number 1 with its state; its
  // old handle names no tag any more.
  const uint64_t size = FileSize(Path("t.mdx"));
  ASSERT_EQ(kbdmtagdel(h, "FIRST"), kKbdOk);
  EXPECT_EQ(FileSize(Path("t.mdx")), size);
  std::string file = Bytes("t.mdx");
  EXPECT_EQ(Le16(file, 28), 1);
  EXPECT_EQ(Le32(file, 40), first_pages + 1);  // the header and the tree
  EXPECT_EQ(file.substr(512 + 32 + 4, 7), "SECOND\0"s);
  EXPECT_EQ(file[512 + 32 + 17], 0);
  EXPECT_EQ(file[512 + 32 + 18], 0);
  EXPECT_EQ(file.substr(512 + 64, 32), std::string(32, '\0'));
  uint32_t recno = 0;
  char key[9];
  EXPECT_EQ(kbdmkfirst(second, key, &recno), kKbdErrTagId);
  kbdseterror(0);
  second = 1 * 65536 + h;
  EXPECT_EQ(Walk(second).size(), 500u);
  MdxFileReport report = CheckFile(h);
  EXPECT_EQ(report.free_blocks, first_pages + 1);

  // Redefinitions and builds take the freed blocks: the file does not
  // grow until they are used up.
  int32_t third = DefineOpen(h, "THIRD", 'C', "NAME", 8);
  ASSERT_NO_FATAL_FAILURE(Fill(third, 2000));
  EXPECT_EQ(FileSize(Path("t.mdx")), size);
  report = CheckFile(h);
  EXPECT_LT(report.free_blocks, first_pages + 1 - 2);
  EXPECT_EQ(report.keys, 2500u);
  ASSERT_EQ(kbdmtagclose(third), kKbdOk);
  ASSERT_EQ(kbdmtagdel(h, "THIRD"), kKbdOk);
  ASSERT_EQ(kbdmtagdef(h, "THIRD", 'D', "BIRTH", 8), kKbdOk);
  EXPECT_EQ(FileSize(Path("t.mdx")), size);
  EXPECT_EQ(kbdmtagdel(h, "NOSUCH"), kKbdErrTagName);
  kbdseterror(0);
  CheckFile(h);
  ASSERT_EQ(kbdmclose(h), kKbdOk);

  // The chain survives close and open.
  int16_t again = kKbdNoHandle;
  ASSERT_EQ(kbdmopenx(&again, Path("t.mdx").c_str(), 0), kKbdOk);
  report = CheckFile(again);
  EXPECT_EQ(report.tags, 2u);
}

TEST_F(MdxFileTest, TagHeaderChecksInOrder) {
  const int16_t h = CreateOpen("t.mdx");
  ASSERT_EQ(kbdmtagdef(h, "T", 'C', "NAME", 10), kKbdOk);
  ASSERT_EQ(kbdmclose(h), kKbdOk);
  const std::string file = Bytes("t.mdx");
  struct Patch {
    size_t offset;  // in the tag header
    uint16_t value;
    int16_t status;
  };
  const Patch patches[] = {
      {12, 0, kKbdErrKeySize},     {12, 101, kKbdErrKeySize},
      {18, 15, kKbdErrItemSize},   {0, 3, kKbdErrRootPage},
      {0, 8, kKbdErrRootPage},     {14, 64, kKbdErrMaxKeys},
      {14, 1, kKbdErrMaxKeys},     {8, 0x01, kKbdErrKeyFormat},
      {8, 0x80, kKbdErrKeyFormat}, {9, 'X', kKbdErrKeyType},
      {16, 2, kKbdErrKeyType},     {9, 'N', kKbdErrKeySize},
  };
  for (const Patch& p : patches) {
    std::string bytes = file;
    PutLe16(reinterpret_cast<uint8_t*>(bytes.data()) + 4 * 512 + p.offset,
            p.value);
    WriteWholeFile(Path("p.mdx"), bytes);
    int16_t ph = kKbdNoHandle;
    kbdseterror(0);
    ASSERT_EQ(kbdmopenx(&ph, Path("p.mdx").c_str(), 0), kKbdOk);
    int32_t t = 0;
    EXPECT_EQ(kbdmtagopen(&t, ph, "t"), p.status) << "offset " << p.offset;
    EXPECT_EQ(t, kKbdNoHandle);
    kbdseterror(0);
    ASSERT_EQ(kbdmclose(ph), kKbdOk);
  }
  // An expression of 221 characters without its NUL.
  std::string bytes = file;
  bytes.replace(4 * 512 + 24, 224, std::string(224, 'E'));
  WriteWholeFile(Path("p.mdx"), bytes);
  int16_t ph = kKbdNoHandle;
  ASSERT_EQ(kbdmopenx(&ph, Path("p.mdx").c_str(), 0), kKbdOk);
  int32_t t = 0;
  EXPECT_EQ(kbdmtagopen(&t, ph, "T"), kKbdErrKeyExpression);
  kbdseterror(0);
  // Entry 0 is no tag: its header is the file header.
  EXPECT_EQ(kbdmtagopenn(&t, ph, 0), kKbdErrKeySize);
  kbdseterror(0);
  EXPECT_EQ(kbdmtagopenn(&t, ph, 2), kKbdErrTagName);
  kbdseterror(0);
  EXPECT_EQ(kbdmtagopen(&t, ph, "NONE"), kKbdErrTagName);
  kbdseterror(0);
  EXPECT_EQ(kbdmtagopen(&t, 999, "T"), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(kbdmkfirst(5 * 65536 + ph, bytes.data(), nullptr),
            kKbdErrNullPointer);
  kbdseterror(0);
  uint32_t recno = 0;
  EXPECT_EQ(kbdmkfirst(5 * 65536 + ph, bytes.data(), &recno), kKbdErrTagId);
  kbdseterror(0);
  EXPECT_EQ(kbdmkfirst(-1, bytes.data(), &recno), kKbdErrHandle);
  kbdseterror(0);
}

TEST_F(MdxFileTest, ReadOnlyFilesAndTheFileCheckOnDamage) {
  int16_t h = CreateOpen("t.mdx");
  int32_t a = DefineOpen(h, "A", 'C', "NAME", 8);
  int32_t b = DefineOpen(h, "B", 'C', "NAME", 8);
  ASSERT_NO_FATAL_FAILURE(Fill(a, 400));
  ASSERT_NO_FATAL_FAILURE(Fill(b, 400));
  ASSERT_EQ(kbdmclose(h), kKbdOk);

  ASSERT_EQ(kbdmopenx(&h, Path("t.mdx").c_str(), 0x100), kKbdOk);
  EXPECT_EQ(kbdmtagdef(h, "C", 'C', "NAME", 8), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(kbdmtagdel(h, "A"), kKbdErrReadOnly);
  kbdseterror(0);
  ASSERT_EQ(kbdmtagopen(&a, h, "A"), kKbdOk);
  EXPECT_EQ(Del(a, "K0000001", 2), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(Walk(a).size(), 400u);
  ASSERT_EQ(kbdmclose(h), kKbdOk);

  // Tag B's root made tag A's: pages of two trees, lost blocks.
  std::string file = Bytes("t.mdx");
  const uint32_t a_header = Le32(file, 512 + 32);
  const uint32_t b_header = Le32(file, 512 + 64);
  file.replace(b_header * 512, 4, file.substr(a_header * 512, 4));
  WriteWholeFile(Path("bad.mdx"), file);
  ASSERT_EQ(kbdmopenx(&h, Path("bad.mdx").c_str(), 0x100), kKbdOk);
  MdxFileReport report;
  ASSERT_EQ(CheckMdxFile(h, &report), kKbdOk);
  bool shared = false, lost = false;
  for (const std::string& p : report.problems) {
    shared =
        shared || p.find("belongs to the tree of tag 1") != std::string::npos;
    lost = lost || p.find("neither a tag's nor free") != std::string::npos;
  }
  EXPECT_TRUE(shared);
  EXPECT_TRUE(lost);
}

}  // namespace
}  // namespace qx::engine::testing
