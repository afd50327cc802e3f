// Faults in the memo write paths (DBT dBASE III, DBT dBASE IV, FPT): a new
// value and a replaced one, then the pack of data file and memo file. Values
// acknowledged before the fault read back unchanged; after a pack, failed
// or not, every record of the data file finds its own memo value. The
// writes run on memo files opened exclusively and shared.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <ostream>
#include <string>

#include "tests/engine/faults/fault_harness.h"

namespace qx::engine::faults_test {
namespace {

struct MemoLayout {
  const char* name;
  uint16_t dialect;  // of the data file
  uint16_t memo_mode;
  const char* memo_file;
  bool fpt;
};

void PrintTo(const MemoLayout& layout, std::ostream* os) { *os << layout.name; }

const MemoLayout kMemoLayouts[] = {
    {"Dbt3", kKbdDbase3, kKbdDbase3, "t.dbt", false},
    {"Dbt4", kKbdDbase4, kKbdDbase4, "t.dbt", false},
    {"Fpt", kKbdFoxpro2, kKbdFoxpro1, "t.fpt", true},
};

std::string Value(char c, size_t length) {
  std::string v;
  for (size_t i = 0; i < length; ++i) v += static_cast<char>(c + i % 7);
  return v;
}

// The memo value of record i of the pack tests.
std::string PackValue(uint32_t i) { return Value('a' + i, 100 + 150 * i); }

class MemoFaultTest : public FaultTest,
                      public ::testing::WithParamInterface<MemoLayout> {
 protected:
  int16_t CreateMemo() {
    const MemoLayout& l = GetParam();
    return l.fpt ? kbdfcreate(Path(l.memo_file).c_str(), 64)
                 : kbdtcreate(Path(l.memo_file).c_str(), 1, l.dialect);
  }
  int16_t OpenMemo(int16_t* handle) {
    const MemoLayout& l = GetParam();
    const uint16_t mode = l.memo_mode | share_;
    return l.fpt ? kbdfopenx(handle, Path(l.memo_file).c_str(), mode)
                 : kbdtopenx(handle, Path(l.memo_file).c_str(), mode);
  }
  int16_t CloseMemo(int16_t handle) {
    return GetParam().fpt ? kbdfclose(handle) : kbdtclose(handle);
  }
  int16_t WriteMemo(int16_t handle, uint32_t* block, const std::string& v,
                    bool replace = false) {
    if (GetParam().fpt) {
      if (replace) return kbdfwrite(handle, block, v.c_str());
      return kbdfwritex(handle, block, v.data(),
                        static_cast<uint32_t>(v.size()), 1);
    }
    return kbdtwrite(handle, block, v.c_str(), replace ? kKbdMemoReplace : 0);
  }
  std::string ReadMemo(int16_t handle, uint32_t block) {
    char* data = nullptr;
    uint32_t length = 0, type = 0;
    const int16_t status = GetParam().fpt
                               ? kbdfreadx(handle, block, &data, &length, &type)
                               : kbdtreadx(handle, block, &data, &length);
    if (status < 0) {
      kbdseterror(0);
      return "<" + std::to_string(status) + ">";
    }
    std::string value(data, length);
    kbdfree(data);
    return value;
  }

  // The pack tests' table, left open in dbf_ and memo_: five records with
  // the values PackValue(i), records 2 and 4 deleted.
  void MakePackTable() {
    const MemoLayout& l = GetParam();
    ASSERT_EQ(CreateTable(Path("t.dbf"), l.dialect, true), kKbdOk);
    ASSERT_EQ(CreateMemo(), kKbdOk);
    ASSERT_EQ(kbddopenx(&dbf_, Path("t.dbf").c_str(), l.dialect), kKbdOk);
    ASSERT_EQ(OpenMemo(&memo_), kKbdOk);
    for (uint32_t i = 1; i <= 5; ++i) {
      uint32_t block = 0;
      ASSERT_EQ(WriteMemo(memo_, &block, PackValue(i)), kKbdOk);
      ASSERT_EQ(AppendRecord(dbf_, i, block), i);
    }
    ASSERT_EQ(kbdddelete(dbf_, 2), kKbdOk);
    ASSERT_EQ(kbdddelete(dbf_, 4), kKbdOk);
  }

  // After the packs of that table: it opens with expect_count records (0:
  // 3 or 5), every live record finds its own memo value, and no journal
  // of the memo pack is left.
  void VerifyPackedTable(size_t expect_count) {
    const MemoLayout& l = GetParam();
    int16_t dbf = -1, memo = -1;
    ASSERT_GE(kbddopenx(&dbf, Path("t.dbf").c_str(), l.dialect), 0)
        << "the table refuses to open";
    ASSERT_GE(OpenMemo(&memo), 0) << "the memo file refuses to open";
    uint32_t count = 0;
    EXPECT_EQ(kbddreccount(dbf, &count), kKbdOk);
    if (expect_count != 0) {
      EXPECT_EQ(count, expect_count);
    } else {
      EXPECT_TRUE(count == 3 || count == 5) << count;
    }
    for (uint32_t r = 1; r <= count; ++r) {
      // A deleted record keeps its old block number, which a memo pack
      // gives to another value: only live records are checked.
      const int16_t read = kbddread(dbf, r);
      ASSERT_GE(read, 0);
      if (read == kKbdDeletedRecord) continue;
      char name[11] = {};
      ASSERT_EQ(kbddget(dbf, 0, name), kKbdOk);
      const uint32_t i = static_cast<uint32_t>(std::stoul(name + 4));
      uint32_t block = 0;
      ASSERT_EQ(kbddmemoblock(dbf, 2, &block), kKbdOk);
      EXPECT_EQ(ReadMemo(memo, block), PackValue(i)) << "record " << r;
    }
    EXPECT_EQ(CloseMemo(memo), kKbdOk);
    EXPECT_EQ(kbddclose(dbf), kKbdOk);
    EXPECT_FALSE(std::filesystem::exists(Path("t.PKJ")))
        << "the open leaves the memo pack's journal";
  }

  // A new value, then a replaced one (see the top).
  void WriteAndReplace();

  // A second handle, opened while the faulted one is still open, writes a
  // value, which it cannot while the faulted handle keeps the file's lock;
  // the faulted handle reads that value back.
  void OtherHandleWrites() {
    int16_t other = -1;
    ASSERT_GE(OpenMemo(&other), 0);
    uint32_t block = 0;
    EXPECT_EQ(WriteMemo(other, &block, Value('o', 600)), kKbdOk)
        << "a lock stays held";
    EXPECT_EQ(ReadMemo(memo_, block), Value('o', 600));
    EXPECT_EQ(CloseMemo(other), kKbdOk);
  }

  int16_t memo_ = -1;
  int16_t dbf_ = -1;
  uint16_t share_ = 0;  // kKbdModeShared: memo files open shared
};

// The memo write paths on a file opened shared: each write takes the
// file's operation lock and re-reads the header, and lock faults meet it.
class SharedMemoFaultTest : public MemoFaultTest {
 protected:
  SharedMemoFaultTest() { share_ = kKbdModeShared; }
};

void MemoFaultTest::WriteAndReplace() {
  uint32_t a = 0, b = 0, c = 0;
  bool c_written = false, a_replaced = false;
  FaultTally tally = RunEveryFault(
      {[&] {
         ASSERT_EQ(CreateMemo(), kKbdOk);
         ASSERT_EQ(OpenMemo(&memo_), kKbdOk);
         a = b = c = 0;
         c_written = a_replaced = false;
         ASSERT_EQ(WriteMemo(memo_, &a, Value('a', 300)), kKbdOk);
         ASSERT_EQ(WriteMemo(memo_, &b, Value('b', 700)), kKbdOk);
       },
       [&] {
         int16_t status = WriteMemo(memo_, &c, Value('c', 1100));
         if (status < 0) return status;
         c_written = true;
         status = WriteMemo(memo_, &a, Value('A', 900), true);
         if (status < 0) return status;
         a_replaced = true;
         return status;
       },
       [&](int16_t status) {
         EXPECT_EQ(ReadMemo(memo_, b), Value('b', 700));  // handle usable
         if (share_ != 0) {
           ExpectOperationLockOutcome(status);
           OtherHandleWrites();
         }
         EXPECT_EQ(CloseMemo(memo_), kKbdOk);
         int16_t h = -1;
         ASSERT_GE(OpenMemo(&h), 0) << "the memo file refuses to open";
         EXPECT_EQ(ReadMemo(h, b), Value('b', 700));
         if (c_written) {
           EXPECT_EQ(ReadMemo(h, c), Value('c', 1100));
         }
         if (a_replaced) {
           EXPECT_EQ(ReadMemo(h, a), Value('A', 900));
         }
         if (!c_written) {
           EXPECT_EQ(ReadMemo(h, a), Value('a', 300));
         }
         if (status >= 0) {
           EXPECT_TRUE(c_written && a_replaced);
         }
         EXPECT_EQ(CloseMemo(h), kKbdOk);
       }});
  EXPECT_GT(tally.points, 0u);
}

TEST_P(MemoFaultTest, WriteAndReplace) { WriteAndReplace(); }

TEST_P(SharedMemoFaultTest, WriteAndReplace) { WriteAndReplace(); }

// Pack of data file and memo file: five records, two deleted.
TEST_P(MemoFaultTest, Pack) {
  const MemoLayout& l = GetParam();
  FaultTally tally = RunEveryFault({[&] { MakePackTable(); },
                                    [&] {
                                      int16_t status =
                                          l.fpt ? kbdfpack(dbf_, &memo_)
                                                : kbdtpack(dbf_, &memo_);
                                      if (status < 0) return status;
                                      return kbddpack(&dbf_);
                                    },
                                    [&](int16_t status) {
                                      if (memo_ >= 0) CloseMemo(memo_);
                                      kbdseterror(0);
                                      if (dbf_ >= 0) kbddclose(dbf_);
                                      kbdseterror(0);
                                      memo_ = dbf_ = -1;
                                      VerifyPackedTable(status >= 0 ? 3 : 0);
                                    }});
  EXPECT_GT(tally.points, 0u);
}

// The same packs killed before each change they make to a file: the table
// reopens with every live record's value, as before the packs or after
// them (a memo pack killed after it began renumbering is finished by the
// open).
TEST_P(MemoFaultTest, PackKilled) {
  const MemoLayout& l = GetParam();
  FaultTally tally = RunEveryKill(
      {[&] {
         MakePackTable();
         ASSERT_EQ(CloseMemo(memo_), kKbdOk);
         ASSERT_EQ(kbddclose(dbf_), kKbdOk);
         memo_ = dbf_ = -1;
       },
       [&] {
         if (int16_t s = kbddopenx(&dbf_, Path("t.dbf").c_str(), l.dialect);
             s < 0)
           return s;
         if (int16_t s = OpenMemo(&memo_); s < 0) return s;
         if (int16_t s =
                 l.fpt ? kbdfpack(dbf_, &memo_) : kbdtpack(dbf_, &memo_);
             s < 0)
           return s;
         if (int16_t s = kbddpack(&dbf_); s < 0) return s;
         if (int16_t s = CloseMemo(memo_); s < 0) return s;
         return kbddclose(dbf_);
       },
       [&](int16_t status) {
         memo_ = dbf_ = -1;
         VerifyPackedTable(status >= 0 ? 3 : 0);
       }});
  EXPECT_GT(tally.points, 0u);
}

TEST_P(MemoFaultTest, Create) {
  FaultTally tally =
      RunEveryFault({[] {}, [&] { return CreateMemo(); },
                     [&](int16_t status) {
                       if (status >= 0) {
                         int16_t h = -1;
                         ASSERT_GE(OpenMemo(&h), 0);
                         EXPECT_EQ(CloseMemo(h), kKbdOk);
                       }
                       ASSERT_EQ(CreateMemo(), kKbdOk);
                       int16_t h = -1;
                       ASSERT_GE(OpenMemo(&h), 0);
                       uint32_t block = 0;
                       EXPECT_EQ(WriteMemo(h, &block, "x"), kKbdOk);
                       EXPECT_EQ(CloseMemo(h), kKbdOk);
                     }});
  EXPECT_GT(tally.points, 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, MemoFaultTest,
                         ::testing::ValuesIn(kMemoLayouts),
                         [](const auto& param_info) {
                           return param_info.param.name;
                         });
INSTANTIATE_TEST_SUITE_P(Layouts, SharedMemoFaultTest,
                         ::testing::ValuesIn(kMemoLayouts),
                         [](const auto& param_info) {
                           return param_info.param.name;
                         });

}  // namespace
}  // namespace qx::engine::faults_test
