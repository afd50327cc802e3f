// Headers that claim more than their file holds: reading stays within the
// file and nothing is allocated after the claim. A count of 2^32 - 1
// records over two, and the largest header size (2,046 descriptors, the
// most a 16-bit header size can claim) over one.
#include <gtest/gtest.h>

#include <string>

#include "engine/dbf/dbf_format.h"
#include "tests/engine/dbf/dbf_test_util.h"

namespace qx::engine::testing {
namespace {

using DbfDamageTest = DbfTest;

RawDbf TwoRecords() {
  RawDbf dbf;
  dbf.fields = {{"NAME", 'C', 10, 0}};
  dbf.records = {" Smith     ", " Jones     "};
  return dbf;
}

TEST_F(DbfDamageTest, RecordCountOfTwoToThe32) {
  RawDbf dbf = TwoRecords();
  dbf.record_count_adjust = -3;  // 0xFFFFFFFF in the header
  const std::string path = Write("huge.dbf", dbf);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(Open(path, kKbdDbase3, &h), kKbdBadFileSize);
  kbdseterror(0);
  uint32_t count = 0;
  ASSERT_EQ(kbddreccount(h, &count), kKbdOk);
  EXPECT_EQ(count, 0xFFFFFFFFu);
  EXPECT_EQ(kbddread(h, 2), kKbdOk);
  char name[11];
  EXPECT_EQ(kbddget(h, 0, name), kKbdOk);
  EXPECT_STREQ(name, "Jones     ");
  for (uint32_t recno : {3u, 0x80000000u, 0xFFFFFFFFu}) {
    kbdseterror(0);
    EXPECT_LT(kbddread(h, recno), 0) << recno;
  }
  // An index build reads the records there are and stops at the first
  // that is not there, without sizing anything by the claim.
  kbdseterror(0);
  EXPECT_LT(kbdnindex(h, dir_.File("huge.ndx").c_str(), 'C', "NAME", 10), 0);
  kbdseterror(0);
  EXPECT_EQ(kbddclose(h), kKbdOk);
}

TEST_F(DbfDamageTest, LargestHeaderSizeOverOneDescriptor) {
  std::string bytes = TwoRecords().Bytes();
  PutLe16(reinterpret_cast<uint8_t*>(bytes.data()) + kDbfHeaderSizeOffset,
          0xFFFF);
  const std::string path = dir_.File("wide.dbf");
  qx::testing::WriteWholeFile(path, bytes);
  int16_t h = kKbdNoHandle;
  EXPECT_LT(Open(path, kKbdDbase3, &h), 0);
  EXPECT_EQ(h, kKbdNoHandle);
  kbdseterror(0);
}

}  // namespace
}  // namespace qx::engine::testing
