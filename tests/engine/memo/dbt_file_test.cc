// DBT memo files: create, open checks, dBase III values (marker, line
// breaking, in-place or new placement, damaged chains) and dBase IV values
// (block header, filler, free-chain reuse), plus the header codecs.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/coding.h"
#include "engine/memo/dbt_format.h"
#include "qx/engine.h"
#include "tests/support/engine_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

using qx::testing::ReadWholeFile;
using qx::testing::WriteWholeFile;

class DbtTest : public testing::EngineTest {
 protected:
  // Creates and opens a DBT; the handle is closed by kbdterm. A test that
  // reads the file while it is open says so (test_reads).
  int16_t CreateOpen(const char* name, uint16_t dialect, int16_t factor = 1,
                     bool test_reads = false) {
    EXPECT_EQ(kbdtcreate(Path(name).c_str(), factor, dialect), kKbdOk);
    int16_t h = kKbdNoHandle;
    const uint16_t share = test_reads ? qx::testing::ModeForTestReads() : 0;
    EXPECT_EQ(kbdtopenx(&h, Path(name).c_str(), dialect | share), kKbdOk);
    return h;
  }

  // The value at block through the binary form, or "<status>" on error.
  static std::string Read(int16_t h, uint32_t block) {
    char* data = nullptr;
    uint32_t length = 0;
    int16_t status = kbdtreadx(h, block, &data, &length);
    if (status != kKbdOk) {
      kbdseterror(0);
      EXPECT_EQ(data, nullptr);
      return "<" + std::to_string(status) + ">";
    }
    std::string value(data, length);
    EXPECT_EQ(data[length], '\0');
    kbdfree(data);
    return value;
  }

  static uint32_t NextFree(int16_t h) {
    uint32_t block_size = 0, next_free = 0;
    EXPECT_EQ(kbdtinfo(h, &block_size, &next_free), kKbdOk);
    return next_free;
  }

  // Expects status and clears the sticky error.
  static void ExpectError(int16_t status, int16_t expected) {
    EXPECT_EQ(status, expected);
    kbdseterror(0);
  }
};

TEST_F(DbtTest, CreateWritesTheNewFileLayouts) {
  ASSERT_EQ(kbdtcreate(Path("d3.dbt").c_str(), 1, kKbdDbase3), kKbdOk);
  std::string d3 = ReadWholeFile(Path("d3.dbt"));
  ASSERT_EQ(d3.size(), 513u);
  EXPECT_EQ(GetLe32(reinterpret_cast<const uint8_t*>(d3.data())), 1u);
  EXPECT_EQ(d3.find_first_not_of('\0', 4), 512u);
  EXPECT_EQ(static_cast<uint8_t>(d3[512]), 0x1A);

  ASSERT_EQ(kbdtcreate(Path("notes.dbt").c_str(), 1, kKbdDbase4), kKbdOk);
  std::string d4 = ReadWholeFile(Path("notes.dbt"));
  ASSERT_EQ(d4.size(), 513u);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(d4.data());
  EXPECT_EQ(GetLe32(p), 1u);
  EXPECT_STREQ(d4.c_str() + 8, "NOTES");
  EXPECT_EQ(p[18], 2);
  EXPECT_EQ(p[19], 1);
  EXPECT_EQ(GetLe16(p + 20), 512);
  EXPECT_EQ(GetLe16(p + 22), 0);
  EXPECT_EQ(p[512], 0x1A);
  ASSERT_EQ(kbdtcreate(Path("big.dbt").c_str(), 4, kKbdDbase4), kKbdOk);
  EXPECT_EQ(ReadWholeFile(Path("big.dbt")).size(), 2049u);

  // Dialect 66 and 0 are dBase III; refused arguments leave no file.
  ASSERT_EQ(kbdtcreate(Path("x66.dbt").c_str(), 1, 66), kKbdOk);
  EXPECT_EQ(ReadWholeFile(Path("x66.dbt")).size(), 513u);
  ExpectError(kbdtcreate(Path("fox.dbt").c_str(), 1, kKbdFoxpro1),
              kKbdErrVersion);
  // A base name past 8 characters keeps its first 8 in the header.
  ASSERT_EQ(kbdtcreate(Path("customers.dbt").c_str(), 1, kKbdDbase4), kKbdOk);
  EXPECT_STREQ(ReadWholeFile(Path("customers.dbt")).c_str() + 8, "CUSTOMER");
  int16_t long_name = kKbdNoHandle;
  ASSERT_EQ(kbdtopenx(&long_name, Path("customers.dbt").c_str(), kKbdDbase4),
            kKbdOk);
  EXPECT_EQ(kbdtclose(long_name), kKbdOk);
  ExpectError(kbdtcreate(Path("f0.dbt").c_str(), 0, kKbdDbase3),
              kKbdErrPageSize);
  ExpectError(kbdtcreate(Path("f33.dbt").c_str(), 33, kKbdDbase4),
              kKbdErrPageSize);
  EXPECT_FALSE(std::filesystem::exists(Path("fox.dbt")));
  ExpectError(kbdtcreate(nullptr, 1, kKbdDbase3), kKbdErrNullPointer);
}

TEST_F(DbtTest, OpenChecksDialectSizeAndHeader) {
  ASSERT_EQ(kbdtcreate(Path("a.dbt").c_str(), 2, kKbdDbase4), kKbdOk);
  int16_t h = 7;
  for (uint16_t dialect : {4, 8, 9, 10, 11}) {
    ExpectError(kbdtopenx(&h, Path("a.dbt").c_str(), dialect), kKbdErrVersion);
    EXPECT_EQ(h, kKbdNoHandle);
  }
  ASSERT_EQ(kbdtopenx(&h, Path("a.dbt").c_str(), kKbdDbase4), kKbdOk);
  uint32_t block_size = 0, next_free = 0;
  ASSERT_EQ(kbdtinfo(h, &block_size, &next_free), kKbdOk);
  EXPECT_EQ(block_size, 1024u);
  EXPECT_EQ(next_free, 1u);
  EXPECT_EQ(kbdtclose(h), kKbdOk);
  ExpectError(kbdtclose(h), kKbdErrHandle);

  // Read as dBase III (mode 0 is dialect 1) the header is not checked.
  ASSERT_EQ(kbdtopenx(&h, Path("a.dbt").c_str(), 0x0800), kKbdOk);
  ASSERT_EQ(kbdtinfo(h, &block_size, &next_free), kKbdOk);
  EXPECT_EQ(block_size, 512u);
  ExpectError(kbdfclose(h), kKbdErrHandle);  // not an FPT handle
  EXPECT_EQ(kbdtclose(h), kKbdOk);

  std::string header = ReadWholeFile(Path("a.dbt"));
  auto expect_open = [&](const std::string& bytes, int16_t status) {
    WriteWholeFile(Path("b.dbt"), bytes);
    int16_t bh = 0;
    ExpectError(kbdtopenx(&bh, Path("b.dbt").c_str(), kKbdDbase4), status);
    if (status == kKbdOk)
      EXPECT_EQ(kbdtclose(bh), kKbdOk);
    else
      EXPECT_EQ(bh, kKbdNoHandle);
  };
  expect_open(header.substr(0, 27), kKbdErrNotMemo);
  // Block sizes: multiples of 64 up to 32768 (the Borland Database Engine
  // writes 64); anything else is no block size of a dBase IV file.
  std::string bad = header;
  for (uint16_t size : {64, 256, 16384, 32768}) {
    PutLe16(reinterpret_cast<uint8_t*>(bad.data()) + 20, size);
    expect_open(bad, kKbdOk);
  }
  for (uint16_t size : {0, 32, 100, 32832}) {
    PutLe16(reinterpret_cast<uint8_t*>(bad.data()) + 20, size);
    expect_open(bad, kKbdErrPageSize);
  }
  bad = header;
  bad[19] = 2;
  expect_open(bad, kKbdErrParameter);
  bad = header;
  bad[22] = 1;
  expect_open(bad, kKbdErrParameter);
  // The shifted header: signature at 20, block size at 22, zero word at 24.
  std::string shifted = header;
  uint8_t* s = reinterpret_cast<uint8_t*>(shifted.data());
  s[18] = s[19] = 0;
  s[20] = 2;
  s[21] = 1;
  PutLe16(s + 22, 2048);
  expect_open(shifted, kKbdOk);
  s[24] = 1;
  expect_open(shifted, kKbdErrParameter);
  ExpectError(kbdtopenx(&h, Path("missing.dbt").c_str(), 1), kKbdErrOpen);
  ExpectError(kbdtopenx(nullptr, Path("a.dbt").c_str(), 1), kKbdErrNullPointer);
}

TEST_F(DbtTest, Dbase3ValuesEndWithMarkersAndReserveBlocks) {
  int16_t h = CreateOpen("m.dbt", kKbdDbase3, 1, true);
  uint32_t block = 0;
  ASSERT_EQ(kbdtwrite(h, &block, "hello", 0), kKbdOk);
  EXPECT_EQ(block, 1u);
  EXPECT_EQ(NextFree(h), 2u);
  char* text = nullptr;
  ASSERT_EQ(kbdtread(h, 1, &text), kKbdOk);
  EXPECT_STREQ(text, "hello");
  kbdfree(text);

  // 510 characters and 1A 1A fill one block exactly, yet reserve two.
  std::string v510(510, 'a');
  ASSERT_EQ(kbdtwrite(h, &block, v510.c_str(), 0), kKbdOk);
  EXPECT_EQ(block, 2u);
  EXPECT_EQ(NextFree(h), 4u);
  std::string file = ReadWholeFile(Path("m.dbt"));
  EXPECT_EQ(file.size(), 3u * 512);
  EXPECT_EQ(file.substr(2 * 512 + 510), "\x1A\x1A");
  EXPECT_EQ(Read(h, 2), v510);

  // Replace: a value needing more blocks moves; one that fits stays.
  std::string v600(600, 'b'), v900(900, 'c'), v1100(1100, 'd');
  block = 0;
  ASSERT_EQ(kbdtwrite(h, &block, v600.c_str(), 0), kKbdOk);
  EXPECT_EQ(block, 4u);
  ASSERT_EQ(kbdtwrite(h, &block, v900.c_str(), kKbdMemoReplace), kKbdOk);
  EXPECT_EQ(block, 4u);
  EXPECT_EQ(Read(h, 4), v900);
  uint32_t next = NextFree(h);
  ASSERT_EQ(kbdtwrite(h, &block, v1100.c_str(), kKbdMemoReplace), kKbdOk);
  EXPECT_EQ(block, next);
  EXPECT_EQ(Read(h, block), v1100);
  block = 1;
  ASSERT_EQ(kbdtwrite(h, &block, "bye", kKbdMemoReplace), kKbdOk);
  EXPECT_EQ(block, 1u);
  EXPECT_EQ(Read(h, 1), "bye");

  // Line widths: 0 keeps the text, 9 and 133 are refused.
  ExpectError(kbdtwrite(h, &block, "x", 9), kKbdErrMemoLine);
  ExpectError(kbdtwrite(h, &block, "x", 133), kKbdErrMemoLine);
  ExpectError(kbdtwrite(h, &block, "x", 0x0200), kKbdErrCommand);
  block = 0;
  ASSERT_EQ(kbdtwrite(h, &block, "aaaa bbbb cccc dddd eeee", 10), kKbdOk);
  EXPECT_EQ(Read(h, block), "aaaa bbbb \x8D\ncccc dddd \x8D\neeee");
  ASSERT_EQ(kbdtwrite(h, &block, "line one\r\nabcdefghijklmnop",
                      kKbdMemoReplace | 10),
            kKbdOk);
  EXPECT_EQ(Read(h, block), "line one\r\nabcdefghij\x8D\nklmnop");

  ExpectError(kbdtread(h, 0, &text), kKbdErrSeek);
  EXPECT_EQ(text, nullptr);
  // A 0x1A ends a value: a text holding one would not read back whole.
  const uint32_t before = NextFree(h);
  ExpectError(kbdtwrite(h, &block, "cuthere", 0), kKbdErrData);
  EXPECT_EQ(NextFree(h), before);
  ExpectError(kbdtwrite(h, &block, nullptr, 0), kKbdErrNullPointer);
  block = 0;
  ExpectError(kbdtwrite(h, &block, "x", kKbdMemoReplace), kKbdErrSeek);

  ASSERT_EQ(kbdtclose(h), kKbdOk);
  int16_t ro = kKbdNoHandle;
  ASSERT_EQ(kbdtopenx(&ro, Path("m.dbt").c_str(), 0x0101), kKbdOk);
  EXPECT_EQ(Read(ro, 1), "bye");
  ExpectError(kbdtwrite(ro, &block, "x", 0), kKbdErrReadOnly);
}

TEST_F(DbtTest, Dbase3ReadRefusesDamagedChains) {
  std::string header(512, '\0');
  header[0] = 9;
  std::string open_end = header + "no marker until the end";
  WriteWholeFile(Path("open.dbt"), open_end);
  // Clipper-family programs write values past 64 KiB: no length limit.
  std::string long_value = header + std::string(128 * 512, 'x') + "\x1A\x1A";
  WriteWholeFile(Path("long.dbt"), long_value);
  std::string long_open = header + std::string(300 * 512 + 7, 'y');
  WriteWholeFile(Path("longopen.dbt"), long_open);

  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdtopenx(&h, Path("open.dbt").c_str(), 1), kKbdOk);
  EXPECT_EQ(Read(h, 1), "<-6>");
  EXPECT_EQ(Read(h, 5), "<-6>");  // past the end
  ASSERT_EQ(kbdtopenx(&h, Path("long.dbt").c_str(), 1), kKbdOk);
  EXPECT_EQ(Read(h, 1), std::string(128 * 512, 'x'));
  EXPECT_EQ(Read(h, 100), std::string(29 * 512, 'x'));
  ASSERT_EQ(kbdtopenx(&h, Path("longopen.dbt").c_str(), 1), kKbdOk);
  EXPECT_EQ(Read(h, 1), "<-6>");
}

// Whatever we write we read back: values around and far past 64 KiB in
// both layouts, written, replaced and read again after a reopen.
TEST_F(DbtTest, LargeValuesRoundTripInBothLayouts) {
  for (uint16_t dialect : {kKbdDbase3, kKbdDbase4}) {
    SCOPED_TRACE(dialect);
    std::string name = "large" + std::to_string(dialect) + ".dbt";
    int16_t h = CreateOpen(name.c_str(), dialect);
    std::vector<std::pair<uint32_t, std::string>> written;
    for (std::size_t size : {65535u, 65536u, 65537u, 1000000u, 10u}) {
      std::string value(size, '\0');
      for (std::size_t i = 0; i < size; ++i)
        value[i] = static_cast<char>('a' + (i * 7 + size) % 26);
      uint32_t block = 0;
      ASSERT_EQ(kbdtwrite(h, &block, value.c_str(), 0), kKbdOk) << size;
      EXPECT_EQ(Read(h, block), value) << size;
      written.emplace_back(block, value);
    }
    // The small value grows past 64 KiB in place of itself.
    std::string grown(200000, 'g');
    ASSERT_EQ(
        kbdtwrite(h, &written.back().first, grown.c_str(), kKbdMemoReplace),
        kKbdOk);
    written.back().second = grown;
    ASSERT_EQ(kbdtclose(h), kKbdOk);
    ASSERT_EQ(kbdtopenx(&h, Path(name.c_str()).c_str(), dialect), kKbdOk);
    for (const auto& [block, value] : written)
      EXPECT_EQ(Read(h, block), value) << value.size();
    ASSERT_EQ(kbdtclose(h), kKbdOk);
  }
}

TEST_F(DbtTest, Dbase4ValuesHaveHeaderAndFiller) {
  int16_t h = CreateOpen("d4.dbt", kKbdDbase4, 1, true);
  uint32_t block = 0;
  ASSERT_EQ(kbdtwrite(h, &block, "First memo\r\n", 0), kKbdOk);
  EXPECT_EQ(block, 1u);
  EXPECT_EQ(NextFree(h), 2u);
  std::string file = ReadWholeFile(Path("d4.dbt"));
  ASSERT_EQ(file.size(), 1024u);
  EXPECT_EQ(
      file.substr(512, 20),
      std::string("\xFF\xFF\x08\x00\x14\x00\x00\x00", 8) + "First memo\r\n");
  EXPECT_EQ(file.substr(532, 6), "\x1F \x1F \x1F ");
  EXPECT_EQ(Read(h, 1), "First memo\r\n");

  // A value that still fits its run is rewritten in place.
  std::string v500(500, 'q');
  ASSERT_EQ(kbdtwrite(h, &block, v500.c_str(), kKbdMemoReplace), kKbdOk);
  EXPECT_EQ(block, 1u);
  EXPECT_EQ(Read(h, 1), v500);
  EXPECT_EQ(NextFree(h), 2u);
  ExpectError(kbdtreadx(h, 1, nullptr, nullptr), kKbdErrNullPointer);
}

TEST_F(DbtTest, Dbase4FreeChainIsReused) {
  int16_t h = CreateOpen("chain.dbt", kKbdDbase4, 1, true);
  auto write = [&](uint32_t block, size_t length, char fill, uint16_t mode) {
    std::string text(length, fill);
    EXPECT_EQ(kbdtwrite(h, &block, text.c_str(), mode), kKbdOk);
    return block;
  };
  // P: 1 block at 1; Q: 3 blocks at 2..4; R: 1 block at 5.
  EXPECT_EQ(write(0, 100, 'p', 0), 1u);
  EXPECT_EQ(write(0, 1400, 'q', 0), 2u);
  EXPECT_EQ(write(0, 10, 'r', 0), 5u);
  EXPECT_EQ(NextFree(h), 6u);

  // Q grows to 4 blocks: its run heads the chain, the value is appended
  // and the run's link moves past it.
  EXPECT_EQ(write(2, 2000, 'Q', kKbdMemoReplace), 6u);
  EXPECT_EQ(NextFree(h), 2u);
  // P grows to 2 blocks: its own 1-block run heads the chain and is too
  // small; Q's old run is unlinked from behind it and used.
  EXPECT_EQ(write(1, 600, 'P', kKbdMemoReplace), 2u);
  EXPECT_EQ(NextFree(h), 1u);
  std::string file = ReadWholeFile(Path("chain.dbt"));
  const uint8_t* p = reinterpret_cast<const uint8_t*>(file.data());
  EXPECT_EQ(GetLe32(p + 512), 10u);  // P's run now links past the end
  EXPECT_EQ(GetLe32(p + 516), 1u);   // and keeps its count
  // A 1-block value takes the head run; the head goes past the end.
  EXPECT_EQ(write(0, 20, 'o', 0), 1u);
  EXPECT_EQ(NextFree(h), 10u);
  EXPECT_EQ(write(0, 20, 'z', 0), 10u);
  EXPECT_EQ(NextFree(h), 11u);

  EXPECT_EQ(Read(h, 1), std::string(20, 'o'));
  EXPECT_EQ(Read(h, 2), std::string(600, 'P'));
  EXPECT_EQ(Read(h, 5), std::string(10, 'r'));
  EXPECT_EQ(Read(h, 6), std::string(2000, 'Q'));
  EXPECT_EQ(Read(h, 10), std::string(20, 'z'));

  // A chain that loops inside the file is corrupt.
  file = ReadWholeFile(Path("chain.dbt"));
  PutLe32(reinterpret_cast<uint8_t*>(file.data()) + 5 * 512, 5);
  PutLe32(reinterpret_cast<uint8_t*>(file.data()) + 5 * 512 + 4, 0);
  PutLe32(reinterpret_cast<uint8_t*>(file.data()), 5);
  WriteWholeFile(Path("loop.dbt"), file);
  int16_t loop = kKbdNoHandle;
  ASSERT_EQ(kbdtopenx(&loop, Path("loop.dbt").c_str(), kKbdDbase4), kKbdOk);
  uint32_t block = 0;
  ExpectError(kbdtwrite(loop, &block, "x", 0), kKbdErrCorrupt);
}

TEST(DbtFormatTest, HeaderAndRunCodecsRoundTrip) {
  DbtHeader header;
  header.next_free = 0x01020304;
  std::strcpy(header.name, "ABCDEFGH");
  header.signature[0] = kDbtSignature0;
  header.signature[1] = kDbtSignature1;
  header.block_size = 4096;
  uint8_t bytes[kDbtHeaderSize];
  header.EncodeTo(bytes);
  DbtHeader back = DbtHeader::DecodeFrom(bytes);
  EXPECT_EQ(back.next_free, header.next_free);
  EXPECT_STREQ(back.name, "ABCDEFGH");
  EXPECT_EQ(back.block_size, 4096);
  EXPECT_EQ(bytes[18], 2);
  EXPECT_EQ(bytes[19], 1);
  EXPECT_FALSE(back.shifted);

  uint8_t run_bytes[kDbtRunHeaderSize];
  DbtFreeRun{77, 3}.EncodeTo(run_bytes);
  DbtFreeRun run = DbtFreeRun::DecodeFrom(run_bytes);
  EXPECT_EQ(run.next, 77u);
  EXPECT_EQ(run.count, 3u);

  uint8_t value_bytes[kDbtValueHeaderSize];
  DbtValueHeader{28}.EncodeTo(value_bytes);
  EXPECT_EQ(std::memcmp(value_bytes, "\xFF\xFF\x08\x00\x1C\x00\x00\x00", 8), 0);
  EXPECT_EQ(DbtValueHeader::DecodeFrom(value_bytes).stored_length, 28u);
}

}  // namespace
}  // namespace qx::engine
