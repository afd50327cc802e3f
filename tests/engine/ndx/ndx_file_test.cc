// NDX files: create, the checks of open in their order, warning 7, the
// description and expression, close with compaction, handle errors.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/coding.h"
#include "engine/ndx/ndx_format.h"
#include "tests/engine/ndx/ndx_test_util.h"

namespace qx::engine::testing {
namespace {

using qx::testing::ReadWholeFile;
using qx::testing::WriteWholeFile;

class NdxFileTest : public NdxTest {
 protected:
  // A header page for the open checks, patched by each case.
  std::string Header(uint16_t key_length, uint16_t entry_size,
                     uint16_t keys_per_page, uint16_t key_type, uint32_t root,
                     uint32_t next_free, const std::string& expression) {
    NdxHeader h;
    h.root = root;
    h.next_free = next_free;
    h.key_length = key_length;
    h.entry_size = entry_size;
    h.keys_per_page = keys_per_page;
    h.key_type = key_type;
    std::string page(2 * kNdxPageSize, '\0');
    h.EncodeTo(reinterpret_cast<uint8_t*>(page.data()));
    std::memcpy(page.data() + kNdxExpressionOffset, expression.data(),
                std::min<size_t>(expression.size(), 224));
    return page;
  }
  int16_t OpenBytes(const std::string& bytes, uint16_t mode = 0) {
    WriteWholeFile(Path("t.ndx"), bytes);
    int16_t h = 0;
    kbdseterror(0);
    int16_t status = kbdnopenx(&h, Path("t.ndx").c_str(), mode);
    if (status < 0) {
      EXPECT_EQ(h, kKbdNoHandle);
    }
    if (h != kKbdNoHandle) kbdnclose(h);
    kbdseterror(0);
    return status;
  }
};

TEST_F(NdxFileTest, CreateWritesHeaderAndEmptyRoot) {
  ASSERT_EQ(kbdncreate(Path("a.ndx").c_str(), 'c', " last  + first", 10),
            kKbdOk);
  std::string bytes = ReadWholeFile(Path("a.ndx"));
  ASSERT_EQ(bytes.size(), 1024u);
  NdxHeader h =
      NdxHeader::DecodeFrom(reinterpret_cast<const uint8_t*>(bytes.data()));
  EXPECT_EQ(h.root, 1u);
  EXPECT_EQ(h.next_free, 2u);
  EXPECT_EQ(h.key_length, 10);
  EXPECT_EQ(h.entry_size, 20);
  EXPECT_EQ(h.keys_per_page, 25);
  EXPECT_EQ(h.key_type, kNdxKeyCharacter);
  EXPECT_EQ(h.unique, 0);
  EXPECT_EQ(h.expression, "LAST+FIRST");
  EXPECT_EQ(bytes.find_first_not_of('\0', kNdxExpressionOffset + 11),
            std::string::npos);

  // Numeric and date keys are 8 bytes whatever is asked; 0x80 is unique.
  ASSERT_EQ(
      kbdncreate(Path("n.ndx").c_str(), 'N' | kKbdKeyUnique, "AMOUNT", 30),
      kKbdOk);
  bytes = ReadWholeFile(Path("n.ndx"));
  h = NdxHeader::DecodeFrom(reinterpret_cast<const uint8_t*>(bytes.data()));
  EXPECT_EQ(h.key_length, 8);
  EXPECT_EQ(h.entry_size, 16);
  EXPECT_EQ(h.keys_per_page, 31);
  EXPECT_EQ(h.key_type, kNdxKeyNumeric);
  EXPECT_EQ(h.unique, 1);
  ASSERT_EQ(kbdncreate(Path("d.ndx").c_str(), 'd', "BIRTH", 0), kKbdOk);
  ASSERT_EQ(kbdncreate(Path("w.ndx").c_str(), 'C', "W", 100), kKbdOk);
  bytes = ReadWholeFile(Path("w.ndx"));
  h = NdxHeader::DecodeFrom(reinterpret_cast<const uint8_t*>(bytes.data()));
  EXPECT_EQ(h.entry_size, 108);
  EXPECT_EQ(h.keys_per_page, 4);

  // Errors: null pointers, key lengths, letters, expression lengths (blanks
  // do not count).
  EXPECT_EQ(kbdncreate(nullptr, 'C', "A", 10), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbdncreate(Path("x.ndx").c_str(), 'C', nullptr, 10),
            kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbdncreate(Path("x.ndx").c_str(), 'C', "A", 0), kKbdErrKeySize);
  kbdseterror(0);
  EXPECT_EQ(kbdncreate(Path("x.ndx").c_str(), 'C', "A", 101), kKbdErrKeySize);
  kbdseterror(0);
  EXPECT_EQ(kbdncreate(Path("x.ndx").c_str(), 'L', "A", 1), kKbdErrKeyType);
  kbdseterror(0);
  std::string longest(220, 'A');
  EXPECT_EQ(
      kbdncreate(Path("x.ndx").c_str(), 'C', (longest + "   ").c_str(), 10),
      kKbdOk);
  EXPECT_EQ(kbdncreate(Path("x.ndx").c_str(), 'C', (longest + "B").c_str(), 10),
            kKbdErrKeyExpression);
  kbdseterror(0);
}

TEST_F(NdxFileTest, OpenChecksHeaderInOrder) {
  const std::string good = Header(10, 20, 25, 0, 1, 2, "NAME");
  EXPECT_EQ(OpenBytes(good), kKbdOk);
  // Dialects 0, 1, 2 and 7 only.
  EXPECT_EQ(OpenBytes(good, 2), kKbdOk);
  EXPECT_EQ(OpenBytes(good, 7), kKbdOk);
  EXPECT_EQ(OpenBytes(good, 5), kKbdErrVersion);
  // Key length, then entry size, root, keys per page, expression, type.
  EXPECT_EQ(OpenBytes(Header(0, 20, 25, 9, 0, 2, "N")), kKbdErrKeySize);
  EXPECT_EQ(OpenBytes(Header(101, 108, 4, 0, 1, 2, "N")), kKbdErrKeySize);
  EXPECT_EQ(OpenBytes(Header(10, 16, 25, 9, 0, 2, "N")), kKbdErrItemSize);
  EXPECT_EQ(OpenBytes(Header(10, 18, 25, 9, 0, 2, "N")), kKbdErrRootPage);
  EXPECT_EQ(OpenBytes(Header(10, 18, 25, 9, 3, 2, "N")), kKbdErrRootPage);
  EXPECT_EQ(OpenBytes(Header(10, 20, 26, 9, 1, 2, "N")), kKbdErrMaxKeys);
  EXPECT_EQ(OpenBytes(Header(10, 20, 25, 9, 1, 2, std::string(221, 'E'))),
            kKbdErrKeyExpression);
  EXPECT_EQ(OpenBytes(Header(10, 20, 25, 9, 1, 2, std::string(220, 'E'))),
            kKbdErrKeyType);
  EXPECT_EQ(OpenBytes(Header(10, 20, 25, 1, 1, 2, "N")), kKbdErrKeySize);
  // A file that is not next_free pages long opens with warning 7.
  EXPECT_EQ(OpenBytes(good + std::string(100, '\0')), kKbdBadFileSize);
  EXPECT_EQ(OpenBytes(Header(10, 20, 25, 0, 1, 3, "NAME")), kKbdBadFileSize);
  // A missing file.
  int16_t h = 0;
  EXPECT_EQ(kbdnopenx(&h, Path("none.ndx").c_str(), 0), kKbdErrOpen);
  EXPECT_EQ(h, kKbdNoHandle);
  kbdseterror(0);
  EXPECT_EQ(kbdnopenx(nullptr, "x", 0), kKbdErrNullPointer);
  kbdseterror(0);
}

TEST_F(NdxFileTest, InfoExpressionAndHandles) {
  ASSERT_EQ(
      kbdncreate(Path("a.ndx").c_str(), 'C' | kKbdKeyUnique, "upper(name)", 12),
      kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdnopenx(&h, Path("a.ndx").c_str(), 0x400 | 0x100), kKbdOk);
  KbdNdxInfo info;
  ASSERT_EQ(kbdninfo(h, &info), kKbdOk);
  EXPECT_EQ(std::string(info.name), Path("a.ndx"));
  EXPECT_EQ(info.flags, 0x03);  // read-only, shared
  EXPECT_EQ(info.key_length, 12);
  EXPECT_EQ(info.type, 'C');
  EXPECT_EQ(info.unique, 128);
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.expression_length, 11);
  EXPECT_STREQ(info.expression, "UPPER(NAME)");
  char expression[221];
  ASSERT_EQ(kbdnexpr(h, expression), kKbdOk);
  EXPECT_STREQ(expression, "UPPER(NAME)");
  // Read-only: add and delete are refused.
  EXPECT_EQ(Add(h, "A", 1), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(Del(h, "A", 1), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(kbdnclose(h), kKbdOk);
  // A closed handle, and a handle of another kind.
  EXPECT_EQ(kbdninfo(h, &info), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(kbdnclose(h), kKbdErrHandle);
  kbdseterror(0);
  ASSERT_EQ(kbdncreate(Path("n.ndx").c_str(), 'N', "AMOUNT", 0), kKbdOk);
  ASSERT_EQ(kbdnopenx(&h, Path("n.ndx").c_str(), 0x800), kKbdOk);
  ASSERT_EQ(kbdninfo(h, &info), kKbdOk);
  EXPECT_EQ(info.flags, 0x02);  // 0x800 shares
  EXPECT_EQ(info.type, 'N');
  EXPECT_EQ(info.unique, 0);
  EXPECT_EQ(kbdnclose(h), kKbdOk);
}

TEST_F(NdxFileTest, CloseGivesFreedPagesBackAndCutsTheFile) {
  kbdsetsync(0);
  int16_t h = CreateOpen("c.ndx", 'C', "K", 10);
  const int n = 2000;
  for (int i = 0; i < n; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "K%06d", i);
    ASSERT_EQ(Add(h, key, static_cast<uint32_t>(i + 1)), kKbdOk);
  }
  Check(h);
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  const uint64_t full = FileSize(Path("c.ndx"));
  ASSERT_EQ(kbdnopenx(&h, Path("c.ndx").c_str(), 0), kKbdOk);
  // Delete most keys, scattered: pages merge and are freed.
  for (int i = 0; i < n; ++i) {
    if (i % 10 == 3) continue;
    char key[16];
    std::snprintf(key, sizeof key, "K%06d", i);
    ASSERT_EQ(Del(h, key, static_cast<uint32_t>(i + 1)), kKbdOk) << i;
  }
  btree::CheckReport before = Check(h);
  EXPECT_GT(before.chain_pages, 0u);
  EXPECT_EQ(FileSize(Path("c.ndx")), full);  // freed pages stay until close
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  const uint64_t shrunk = FileSize(Path("c.ndx"));
  EXPECT_EQ(shrunk, (before.tree_pages + 1) * 512u);
  EXPECT_LT(shrunk, full);
  ASSERT_EQ(kbdnopenx(&h, Path("c.ndx").c_str(), 0), kKbdOk);
  btree::CheckReport after = Check(h);
  EXPECT_EQ(after.keys, static_cast<uint64_t>(n / 10));
  EXPECT_EQ(after.foreign_free_pages, 0u);
  std::vector<NdxEntry> walk = Walk(h);
  ASSERT_EQ(walk.size(), static_cast<size_t>(n / 10));
  for (size_t i = 0; i < walk.size(); ++i)
    EXPECT_EQ(walk[i].recno, static_cast<uint32_t>(i * 10 + 4));
  EXPECT_EQ(kbdnclose(h), kKbdOk);
}

TEST_F(NdxFileTest, DamagedPagesAreErrorsAndProblems) {
  int16_t h = CreateOpen("d.ndx", 'C', "K", 10);
  for (uint32_t i = 0; i < 60; ++i) {
    char key[12];
    std::snprintf(key, sizeof key, "K%04u", i);
    ASSERT_EQ(Add(h, key, i + 1), kKbdOk);
  }
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  const std::string good = ReadWholeFile(Path("d.ndx"));
  const uint32_t root = GetLe32(reinterpret_cast<const uint8_t*>(good.data()));
  struct Damage {
    const char* what;
    size_t offset;  // within the root page
    uint32_t value;
    int16_t status;  // of kbdnkfirst
  };
  const Damage damages[] = {
      {"child loops back to the root", 4, root, kKbdErrCorrupt},
      {"child past the end", 4, 999, kKbdErrSeek},
      {"count beyond the page", 0, 200, kKbdErrCorrupt},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::string bad = good;
    uint8_t* page = reinterpret_cast<uint8_t*>(bad.data()) + root * 512;
    if (d.offset == 0)
      page[0] = static_cast<uint8_t>(d.value);
    else
      PutLe32(page + d.offset, d.value);
    WriteWholeFile(Path("d.ndx"), bad);
    ASSERT_EQ(kbdnopenx(&h, Path("d.ndx").c_str(), 0), kKbdOk);
    std::vector<char> buffer(11);
    uint32_t recno = 0;
    EXPECT_EQ(kbdnkfirst(h, buffer.data(), &recno), d.status);
    kbdseterror(0);
    EXPECT_LT(Add(h, "A", 99), 0);  // goes down slot 0
    kbdseterror(0);
    btree::CheckReport report;
    EXPECT_EQ(CheckNdx(h, &report), kKbdOk);
    EXPECT_GT(report.problem_count, 0u);
    EXPECT_EQ(kbdnclose(h), kKbdOk);
  }
}

}  // namespace
}  // namespace qx::engine::testing
