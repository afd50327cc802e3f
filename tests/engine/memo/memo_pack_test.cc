// Packing memo files: live records get their values copied and renumbered,
// deleted records keep their old numbers, the old file stays as ".BKT",
// and a pack that cannot lock the data file changes nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

using qx::testing::ReadWholeFile;
using qx::testing::TempDir;

// One memo layout under test: how to make and use its memo file.
struct Layout {
  const char* name;
  uint16_t dbf_dialect;
  const char* memo_file;
  const char* backup_file;
  uint16_t memo_mode;
  bool fpt;
};

void PrintTo(const Layout& layout, std::ostream* os) { *os << layout.name; }

const Layout kLayouts[] = {
    {"dBase3", kKbdDbase3, "t.dbt", "t.BKT", kKbdDbase3, false},
    {"dBase4", kKbdDbase4, "t.dbt", "t.BKT", kKbdDbase4, false},
    {"Fpt", kKbdFoxpro2, "t.fpt", "t.BKT", kKbdFoxpro1, true},
};

class MemoPackTest : public ::testing::TestWithParam<Layout> {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    const Layout& l = GetParam();
    KbdFieldDef fields[2] = {};
    std::strcpy(fields[0].name, "NAME");
    fields[0].type = 'C';
    fields[0].length = 8;
    std::strcpy(fields[1].name, "NOTE");
    fields[1].type = 'M';
    fields[1].length = 10;
    ASSERT_EQ(kbddcreate(Path("t.dbf").c_str(), 2, fields, l.dbf_dialect),
              kKbdOk);
    ASSERT_EQ(l.fpt ? kbdfcreate(Path(l.memo_file).c_str(), 64)
                    : kbdtcreate(Path(l.memo_file).c_str(), 1, l.dbf_dialect),
              kKbdOk);
    ASSERT_EQ(kbddopenx(&dbf_, Path("t.dbf").c_str(), l.dbf_dialect | 0x400),
              kKbdOk);
    ASSERT_EQ(OpenMemo(&memo_), kKbdOk);
  }
  void TearDown() override { kbdterm(); }

  std::string Path(const char* name) const { return dir_.File(name); }

  // The tests read the memo file while it is open.
  int16_t OpenMemo(int16_t* handle) {
    const Layout& l = GetParam();
    const uint16_t mode = l.memo_mode | qx::testing::ModeForTestReads();
    return l.fpt ? kbdfopenx(handle, Path(l.memo_file).c_str(), mode)
                 : kbdtopenx(handle, Path(l.memo_file).c_str(), mode);
  }
  uint32_t WriteMemo(const std::string& value) {
    uint32_t block = 0;
    int16_t status = GetParam().fpt
                         ? kbdfwritex(memo_, &block, value.data(),
                                      static_cast<uint32_t>(value.size()), 1)
                         : kbdtwrite(memo_, &block, value.c_str(), 0);
    EXPECT_EQ(status, kKbdOk);
    return block;
  }
  std::string ReadMemo(uint32_t block) {
    char* data = nullptr;
    uint32_t length = 0, type = 0;
    int16_t status = GetParam().fpt
                         ? kbdfreadx(memo_, block, &data, &length, &type)
                         : kbdtreadx(memo_, block, &data, &length);
    if (status != kKbdOk) {
      kbdseterror(0);
      return "<" + std::to_string(status) + ">";
    }
    std::string value(data, length);
    kbdfree(data);
    return value;
  }
  uint32_t Append(const char* name, uint32_t block) {
    EXPECT_EQ(kbddput(dbf_, 0, name), kKbdOk);
    EXPECT_EQ(kbddput(dbf_, 1, &block), kKbdOk);
    uint32_t recno = 0;
    EXPECT_EQ(kbddwrite(dbf_, &recno, kKbdWriteAppend), kKbdOk);
    return recno;
  }
  uint32_t BlockOf(uint32_t recno) {
    EXPECT_GE(kbddread(dbf_, recno), 0);
    uint32_t block = 0;
    EXPECT_EQ(kbddget(dbf_, 1, &block), kKbdOk);
    return block;
  }
  int16_t Pack(int16_t* handle) {
    return GetParam().fpt ? kbdfpack(dbf_, handle) : kbdtpack(dbf_, handle);
  }

  TempDir dir_;
  int16_t dbf_ = kKbdNoHandle;
  int16_t memo_ = kKbdNoHandle;
};

TEST_P(MemoPackTest, RenumbersLiveRecordsAndKeepsABackup) {
  const Layout& l = GetParam();
  std::string long_value(1500, 'L');
  uint32_t dropped = WriteMemo("not referenced");
  uint32_t alpha = WriteMemo("alpha");
  uint32_t beta = WriteMemo("beta");
  uint32_t longer = WriteMemo(long_value);
  ASSERT_GT(alpha, dropped);
  Append("one", alpha);
  Append("two", beta);
  Append("three", 0);
  Append("four", longer);
  ASSERT_EQ(kbdddelete(dbf_, 2), kKbdOk);
  std::string before = ReadWholeFile(Path(l.memo_file));

  int16_t handle = memo_;
  ASSERT_EQ(Pack(&handle), kKbdOk);
  memo_ = handle;
  EXPECT_EQ(ReadWholeFile(Path(l.backup_file)), before);
  EXPECT_FALSE(std::filesystem::exists(Path(l.fpt ? "0.FPT" : "0.DBT")));
  EXPECT_LT(ReadWholeFile(Path(l.memo_file)).size(), before.size());

  // Live records point at fresh copies from the first value block on.
  uint32_t first = l.fpt ? 8 : 1;
  EXPECT_EQ(BlockOf(1), first);
  EXPECT_EQ(ReadMemo(BlockOf(1)), "alpha");
  EXPECT_EQ(BlockOf(3), 0u);
  EXPECT_EQ(BlockOf(4), first + 1);
  EXPECT_EQ(ReadMemo(BlockOf(4)), long_value);
  // The deleted record keeps its old number.
  EXPECT_EQ(BlockOf(2), beta);

  // The reopened file is shared and writable; a second pack replaces the
  // backup.
  uint32_t block = WriteMemo("after");
  EXPECT_EQ(ReadMemo(block), "after");
  std::string second = ReadWholeFile(Path(l.memo_file));
  ASSERT_EQ(Pack(&handle), kKbdOk);
  memo_ = handle;
  EXPECT_EQ(ReadWholeFile(Path(l.backup_file)), second);
  EXPECT_EQ(ReadMemo(BlockOf(4)), long_value);
}

TEST_P(MemoPackTest, FailsCleanlyWhenTheDataFileIsLocked) {
  const Layout& l = GetParam();
  Append("one", WriteMemo("alpha"));
  std::string before = ReadWholeFile(Path(l.memo_file));
  int16_t other = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&other, Path("t.dbf").c_str(), l.dbf_dialect | 0x400),
            kKbdOk);
  ASSERT_EQ(kbddlock(other, 2), kKbdOk);

  int16_t handle = memo_;
  EXPECT_EQ(Pack(&handle), kKbdErrLockViolation);
  kbdseterror(0);
  EXPECT_EQ(handle, memo_);
  EXPECT_EQ(ReadWholeFile(Path(l.memo_file)), before);
  EXPECT_FALSE(std::filesystem::exists(Path(l.backup_file)));
  EXPECT_FALSE(std::filesystem::exists(Path(l.fpt ? "0.FPT" : "0.DBT")));
  EXPECT_EQ(ReadMemo(BlockOf(1)), "alpha");

  EXPECT_EQ(Pack(nullptr), kKbdErrNullPointer);
  kbdseterror(0);
  int16_t wrong = dbf_;
  EXPECT_EQ(Pack(&wrong), kKbdErrHandle);
  kbdseterror(0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, MemoPackTest, ::testing::ValuesIn(kLayouts),
                         [](const auto& param_info) {
                           return std::string(param_info.param.name);
                         });

// Binary FPT values survive a pack with their type and every byte.
TEST(MemoPackBinaryTest, FptKeepsTypeAndBytes) {
  kbdterm();
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  TempDir dir;
  KbdFieldDef field = {};
  std::strcpy(field.name, "PIC");
  field.type = 'M';
  field.length = 10;
  std::string dbf_path = dir.File("b.dbf"), fpt_path = dir.File("b.fpt");
  ASSERT_EQ(kbddcreate(dbf_path.c_str(), 1, &field, kKbdFoxpro2), kKbdOk);
  ASSERT_EQ(kbdfcreate(fpt_path.c_str(), 33), kKbdOk);
  int16_t dbf = kKbdNoHandle, fpt = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&dbf, dbf_path.c_str(), kKbdFoxpro2), kKbdOk);
  ASSERT_EQ(kbdfopenx(&fpt, fpt_path.c_str(), 0), kKbdOk);
  const std::string bytes("\x89PNG\r\n\x1A\n\0\0\0\rIHDR", 16);
  uint32_t block = 0;
  ASSERT_EQ(kbdfwritex(fpt, &block, "x", 1, 1), kKbdOk);  // dropped
  ASSERT_EQ(kbdfwritex(fpt, &block, bytes.data(), 16, 0), kKbdOk);
  ASSERT_EQ(kbddput(dbf, 0, &block), kKbdOk);
  uint32_t recno = 0;
  ASSERT_EQ(kbddwrite(dbf, &recno, kKbdWriteAppend), kKbdOk);

  ASSERT_EQ(kbdfpack(dbf, &fpt), kKbdOk);
  uint32_t block_size = 0, next_free = 0;
  ASSERT_EQ(kbdfinfo(fpt, &block_size, &next_free), kKbdOk);
  EXPECT_EQ(block_size, 33u);  // kept exactly, not rounded to 512
  ASSERT_EQ(kbddread(dbf, 1), kKbdOk);
  ASSERT_EQ(kbddget(dbf, 0, &block), kKbdOk);
  EXPECT_EQ(block, 16u);
  char* data = nullptr;
  uint32_t length = 0, type = 9;
  ASSERT_EQ(kbdfreadx(fpt, block, &data, &length, &type), kKbdOk);
  EXPECT_EQ(std::string(data, length), bytes);
  EXPECT_EQ(type, 0u);
  kbdfree(data);
  kbdterm();
}

}  // namespace
}  // namespace qx::engine
