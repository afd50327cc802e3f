// Memo values whose length word claims 2^32 - 16 bytes, in a dBASE IV DBT
// and an FPT file: the read fails or stops at the end of the file, and
// nothing is allocated after the claim.
#include <gtest/gtest.h>

#include <string>

#include "engine/core/coding.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

using qx::testing::ReadWholeFile;
using qx::testing::WriteWholeFile;

class MemoDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  }
  void TearDown() override { kbdterm(); }

  // The read of block 1 fails, or gives no more than the file holds.
  static void ExpectBoundedRead(int16_t status, const char* data,
                                uint32_t length, size_t file_size) {
    if (status >= 0) {
      ASSERT_NE(data, nullptr);
      EXPECT_LE(length, file_size);
    }
    kbdfree(const_cast<char*>(data));
    kbdseterror(0);
  }

  qx::testing::TempDir dir_;
};

TEST_F(MemoDamageTest, LengthWordsBeyondTheFile) {
  const std::string dbt = dir_.File("t.dbt");
  ASSERT_EQ(kbdtcreate(dbt.c_str(), 1, kKbdDbase4), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdtopenx(&h, dbt.c_str(), kKbdDbase4), kKbdOk);
  uint32_t block = 0;
  ASSERT_EQ(kbdtwrite(h, &block, "a short value", 0), kKbdOk);
  ASSERT_EQ(kbdtclose(h), kKbdOk);
  std::string bytes = ReadWholeFile(dbt);
  // The value's header: FF FF 08 00, then the length (block header
  // included), little-endian.
  PutLe32(reinterpret_cast<uint8_t*>(bytes.data()) + block * 512 + 4,
          0xFFFFFFF0u);
  WriteWholeFile(dbt, bytes);
  ASSERT_EQ(kbdtopenx(&h, dbt.c_str(), kKbdDbase4), kKbdOk);
  char* data = nullptr;
  uint32_t length = 0;
  ExpectBoundedRead(kbdtreadx(h, block, &data, &length), data, length,
                    bytes.size());
  EXPECT_EQ(kbdtclose(h), kKbdOk);

  const std::string fpt = dir_.File("t.fpt");
  ASSERT_EQ(kbdfcreate(fpt.c_str(), 64), kKbdOk);
  ASSERT_EQ(kbdfopenx(&h, fpt.c_str(), 0), kKbdOk);
  ASSERT_EQ(kbdfwrite(h, &block, "a short value"), kKbdOk);
  ASSERT_EQ(kbdfclose(h), kKbdOk);
  bytes = ReadWholeFile(fpt);
  // The block header: type, then length, both big-endian.
  PutBe32(reinterpret_cast<uint8_t*>(bytes.data()) + block * 64 + 4,
          0xFFFFFFF0u);
  WriteWholeFile(fpt, bytes);
  ASSERT_EQ(kbdfopenx(&h, fpt.c_str(), 0), kKbdOk);
  uint32_t type = 0;
  data = nullptr;
  ExpectBoundedRead(kbdfreadx(h, block, &data, &length, &type), data, length,
                    bytes.size());
  EXPECT_EQ(kbdfclose(h), kKbdOk);
}

}  // namespace
}  // namespace qx::engine
