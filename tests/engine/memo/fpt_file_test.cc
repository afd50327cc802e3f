// FPT memo files: create sizes, open checks, append-only writes with their
// block arithmetic, typed binary values, and the header codecs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/core/coding.h"
#include "engine/memo/fpt_format.h"
#include "qx/engine.h"
#include "tests/support/engine_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

using qx::testing::ReadWholeFile;
using qx::testing::WriteWholeFile;

class FptTest : public testing::EngineTest {
 protected:
  static void ExpectError(int16_t status, int16_t expected) {
    EXPECT_EQ(status, expected);
    kbdseterror(0);
  }

  static uint32_t Be32At(const std::string& bytes, size_t offset) {
    return GetBe32(reinterpret_cast<const uint8_t*>(bytes.data()) + offset);
  }
};

TEST_F(FptTest, CreateSizesTheHeaderInBlocks) {
  struct Case {
    int16_t argument;
    size_t file_size;
    uint32_t block_size, next_free;
  } cases[] = {
      {64, 512, 64, 8},      {1, 512, 512, 1},  {2, 1024, 1024, 1},
      {32, 16384, 16384, 1}, {33, 528, 33, 16}, {511, 511 * 2, 511, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    std::string path =
        Path(("f" + std::to_string(c.argument) + ".fpt").c_str());
    ASSERT_EQ(kbdfcreate(path.c_str(), c.argument), kKbdOk);
    std::string file = ReadWholeFile(path);
    EXPECT_EQ(file.size(), c.file_size);
    EXPECT_EQ(Be32At(file, 0), c.next_free);
    EXPECT_EQ(Be32At(file, 4), c.block_size);
    EXPECT_EQ(file.find_first_not_of('\0', 8), std::string::npos);
  }
  ExpectError(kbdfcreate(Path("z.fpt").c_str(), 0), kKbdErrPageSize);
  ExpectError(kbdfcreate(Path("z.fpt").c_str(), 512), kKbdErrPageSize);
  ExpectError(kbdfcreate(nullptr, 64), kKbdErrNullPointer);
}

TEST_F(FptTest, OpenChecksModeSizeAndBlockSize) {
  ASSERT_EQ(kbdfcreate(Path("a.fpt").c_str(), 64), kKbdOk);
  int16_t h = 5;
  for (uint16_t mode : {1, 2, 8, 10}) {
    ExpectError(kbdfopenx(&h, Path("a.fpt").c_str(), mode), kKbdErrVersion);
    EXPECT_EQ(h, kKbdNoHandle);
  }
  ASSERT_EQ(kbdfopenx(&h, Path("a.fpt").c_str(), 0x0E00), kKbdOk);
  uint32_t block_size = 0, next_free = 0;
  ASSERT_EQ(kbdfinfo(h, &block_size, &next_free), kKbdOk);
  EXPECT_EQ(block_size, 64u);
  EXPECT_EQ(next_free, 8u);
  ExpectError(kbdtinfo(h, &block_size, &next_free), kKbdErrHandle);
  EXPECT_EQ(kbdfclose(h), kKbdOk);

  std::string header = ReadWholeFile(Path("a.fpt"));
  auto expect_open = [&](const std::string& bytes, int16_t status) {
    WriteWholeFile(Path("b.fpt"), bytes);
    int16_t bh = 0;
    ExpectError(kbdfopenx(&bh, Path("b.fpt").c_str(), 4), status);
    if (status == kKbdOk)
      EXPECT_EQ(kbdfclose(bh), kKbdOk);
    else
      EXPECT_EQ(bh, kKbdNoHandle);
  };
  expect_open(header.substr(0, 511), kKbdErrNotMemo);
  // Any block size the 16-bit word holds opens (Visual FoxPro writes 1 for
  // SET BLOCKSIZE TO 0); 0 and sizes past 16 bits do not.
  std::string bad = header;
  for (uint32_t size : {1u, 32u, 16385u, 65535u}) {
    PutBe32(reinterpret_cast<uint8_t*>(bad.data()) + 4, size);
    expect_open(bad, kKbdOk);
  }
  for (uint32_t size : {0u, 65536u, 0x01000040u}) {
    PutBe32(reinterpret_cast<uint8_t*>(bad.data()) + 4, size);
    expect_open(bad, kKbdErrPageSize);
  }
}

// One-byte blocks (Visual FoxPro's SET BLOCKSIZE TO 0): block numbers are
// byte offsets and the first value sits at 512, right after the header.
// Values read and append there as in any other block size, and large
// values round-trip.
TEST_F(FptTest, ByteBlocksAndLargeValues) {
  std::string file(512, '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(file.data());
  PutBe32(p + 4, 1);
  std::string first("\0\0\0\x01\0\0\0\x05hello", 13);
  std::string second("\0\0\0\x01\0\0\0\x02ok", 10);
  file += first + second;
  PutBe32(reinterpret_cast<uint8_t*>(file.data()), 512 + 13 + 10);
  WriteWholeFile(Path("bs1.fpt"), file);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdfopenx(&h, Path("bs1.fpt").c_str(), 0), kKbdOk);
  char* text = nullptr;
  ASSERT_EQ(kbdfread(h, 512, &text), kKbdOk);
  EXPECT_STREQ(text, "hello");
  kbdfree(text);
  ASSERT_EQ(kbdfread(h, 525, &text), kKbdOk);
  EXPECT_STREQ(text, "ok");
  kbdfree(text);
  ExpectError(kbdfread(h, 535, &text), kKbdErrSeek);  // at next_free

  std::string large(1000000, 'L');
  for (std::size_t i = 0; i < large.size(); i += 4093) large[i] = 'x';
  uint32_t block = 0;
  ASSERT_EQ(kbdfwrite(h, &block, large.c_str()), kKbdOk);
  EXPECT_EQ(block, 535u);
  ASSERT_EQ(kbdfwrite(h, &block, "after"), kKbdOk);
  EXPECT_EQ(block, 535u + 8 + 1000000);
  ASSERT_EQ(kbdfclose(h), kKbdOk);
  ASSERT_EQ(kbdfopenx(&h, Path("bs1.fpt").c_str(), 0), kKbdOk);
  ASSERT_EQ(kbdfread(h, 535, &text), kKbdOk);
  EXPECT_EQ(std::string(text), large);
  kbdfree(text);
  ASSERT_EQ(kbdfread(h, block, &text), kKbdOk);
  EXPECT_STREQ(text, "after");
  kbdfree(text);
  ASSERT_EQ(kbdfclose(h), kKbdOk);

  ASSERT_EQ(kbdfcreate(Path("big.fpt").c_str(), 64), kKbdOk);
  ASSERT_EQ(kbdfopenx(&h, Path("big.fpt").c_str(), 0), kKbdOk);
  ASSERT_EQ(kbdfwrite(h, &block, large.c_str()), kKbdOk);
  ASSERT_EQ(kbdfread(h, block, &text), kKbdOk);
  EXPECT_EQ(std::string(text), large);
  kbdfree(text);
}

TEST_F(FptTest, WritesAppendAndNeverReuse) {
  ASSERT_EQ(kbdfcreate(Path("w.fpt").c_str(), 64), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(
      kbdfopenx(&h, Path("w.fpt").c_str(), 4 | qx::testing::ModeForTestReads()),
      kKbdOk);
  uint32_t block = 3;  // ignored: values are appended
  ASSERT_EQ(kbdfwrite(h, &block, "abc"), kKbdOk);
  EXPECT_EQ(block, 8u);
  std::string file = ReadWholeFile(Path("w.fpt"));
  EXPECT_EQ(file.size(), 512u + 8 + 3);  // the last block is not padded
  EXPECT_EQ(Be32At(file, 0), 9u);
  EXPECT_EQ(file.substr(512), std::string("\0\0\0\1\0\0\0\3abc", 11));

  // 56 bytes of text fill one block with the header; 57 need two.
  std::string v56(56, 'x'), v57(57, 'y');
  ASSERT_EQ(kbdfwrite(h, &block, v56.c_str()), kKbdOk);
  EXPECT_EQ(block, 9u);
  ASSERT_EQ(kbdfwrite(h, &block, v57.c_str()), kKbdOk);
  EXPECT_EQ(block, 10u);
  ASSERT_EQ(kbdfwrite(h, &block, ""), kKbdOk);
  EXPECT_EQ(block, 12u);
  uint32_t block_size = 0, next_free = 0;
  ASSERT_EQ(kbdfinfo(h, &block_size, &next_free), kKbdOk);
  EXPECT_EQ(next_free, 13u);

  char* text = nullptr;
  ASSERT_EQ(kbdfread(h, 8, &text), kKbdOk);
  EXPECT_STREQ(text, "abc");
  kbdfree(text);
  ASSERT_EQ(kbdfread(h, 10, &text), kKbdOk);
  EXPECT_EQ(std::string(text), v57);
  kbdfree(text);
  ASSERT_EQ(kbdfread(h, 12, &text), kKbdOk);
  EXPECT_STREQ(text, "");
  kbdfree(text);
  ExpectError(kbdfread(h, 0, &text), kKbdErrSeek);
  EXPECT_EQ(text, nullptr);
  ExpectError(kbdfread(h, 13, &text), kKbdErrSeek);

  // Bytes past next_free (a write that did not finish) are cut away.
  kbdfclose(h);
  file = ReadWholeFile(Path("w.fpt")) + std::string(300, 'G');
  WriteWholeFile(Path("w.fpt"), file);
  ASSERT_EQ(
      kbdfopenx(&h, Path("w.fpt").c_str(), 4 | qx::testing::ModeForTestReads()),
      kKbdOk);
  ASSERT_EQ(kbdfwrite(h, &block, "z"), kKbdOk);
  EXPECT_EQ(block, 13u);
  EXPECT_EQ(ReadWholeFile(Path("w.fpt")).size(), 13u * 64 + 9);
}

TEST_F(FptTest, BinaryValuesKeepTypeAndLength) {
  ASSERT_EQ(kbdfcreate(Path("b.fpt").c_str(), 1), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdfopenx(&h, Path("b.fpt").c_str(), 0), kKbdOk);
  const char bytes[] = {'G', 'I', 'F', '\0', '\x1A', '\xFF', '\0'};
  uint32_t block = 0;
  ASSERT_EQ(kbdfwritex(h, &block, bytes, sizeof bytes, kFptTypePicture),
            kKbdOk);
  EXPECT_EQ(block, 1u);
  char* data = nullptr;
  uint32_t length = 0, type = 9;
  ASSERT_EQ(kbdfreadx(h, 1, &data, &length, &type), kKbdOk);
  EXPECT_EQ(length, sizeof bytes);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(std::memcmp(data, bytes, sizeof bytes), 0);
  EXPECT_EQ(data[length], '\0');
  kbdfree(data);
  ExpectError(kbdfreadx(h, 1, &data, &length, nullptr), kKbdErrNullPointer);
  ExpectError(kbdfwritex(h, nullptr, bytes, 1, 1), kKbdErrNullPointer);

  // A read-only handle refuses writes.
  kbdfclose(h);
  ASSERT_EQ(kbdfopenx(&h, Path("b.fpt").c_str(), 0x0104), kKbdOk);
  ExpectError(kbdfwrite(h, &block, "x"), kKbdErrReadOnly);
  ExpectError(kbdfpack(0, &h), kKbdErrReadOnly);
}

TEST(FptFormatTest, HeaderCodecsRoundTrip) {
  uint8_t bytes[kFptHeaderWordsSize];
  FptHeader{0x01020304, 64}.EncodeTo(bytes);
  EXPECT_EQ(std::memcmp(bytes, "\x01\x02\x03\x04\x00\x00\x00\x40", 8), 0);
  FptHeader header = FptHeader::DecodeFrom(bytes);
  EXPECT_EQ(header.next_free, 0x01020304u);
  EXPECT_EQ(header.block_size, 64u);
  FptValueHeader{kFptTypeObject, 70000}.EncodeTo(bytes);
  FptValueHeader value = FptValueHeader::DecodeFrom(bytes);
  EXPECT_EQ(value.type, 2u);
  EXPECT_EQ(value.length, 70000u);
  EXPECT_EQ(FptHeaderBlocks(64), 8u);
  EXPECT_EQ(FptHeaderBlocks(33), 16u);
  EXPECT_EQ(FptHeaderBlocks(16384), 1u);
}

}  // namespace
}  // namespace qx::engine
