// Faults in the data-file write paths: append, rewrite, delete and recall,
// create, and in the file and record locks. Acknowledged records must read
// back byte-exact after any fault; a record in flight is there whole,
// absent, or (a rewrite cut short) a mix of its old and new bytes; a lock
// call that fails holds nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "tests/engine/faults/fault_harness.h"

namespace qx::engine::faults_test {
namespace {

constexpr uint16_t kDialect = kKbdDbase3;

// Whether every byte of got comes from old_bytes or new_bytes at its place.
bool MixOf(const std::string& got, const std::string& old_bytes,
           const std::string& new_bytes) {
  if (got.size() != old_bytes.size() || got.size() != new_bytes.size())
    return false;
  for (size_t i = 0; i < got.size(); ++i)
    if (got[i] != old_bytes[i] && got[i] != new_bytes[i]) return false;
  return true;
}

class DbfFaultTest : public FaultTest {
 protected:
  // A table of three records, open shared; before_ holds them.
  void PrepareTable() {
    ASSERT_EQ(CreateTable(Path("t.dbf"), kDialect, false), kKbdOk);
    // Shared: the writes take their locks and re-read the header.
    ASSERT_EQ(
        kbddopenx(&dbf_, Path("t.dbf").c_str(), kDialect | kKbdModeShared),
        kKbdOk);
    before_.clear();
    for (uint32_t i = 1; i <= 3; ++i) {
      ASSERT_EQ(AppendRecord(dbf_, i), i);
      before_.push_back(RecordBytes(dbf_, i));
    }
  }
  // The record buffer filled with record i's values, as bytes.
  std::string Staged(uint32_t i) {
    FillRecord(dbf_, i);
    uint8_t* buffer = nullptr;
    uint16_t size = 0;
    int16_t fields = 0;
    EXPECT_EQ(kbddrecinfo(dbf_, &buffer, &size, &fields), kKbdOk);
    return std::string(reinterpret_cast<const char*>(buffer), size);
  }
  // The handle still works after the fault (a read), then closes.
  void CloseTable() {
    EXPECT_EQ(RecordBytes(dbf_, 1), before_[0]);
    EXPECT_EQ(kbddclose(dbf_), kKbdOk);
    dbf_ = -1;
  }
  std::vector<std::string> Reopen() {
    int16_t status = 0;
    std::vector<std::string> records =
        ReadRecords(Path("t.dbf"), kDialect, &status);
    EXPECT_GE(status, 0) << "the table refuses to open";
    return records;
  }

  int16_t dbf_ = -1;
  std::vector<std::string> before_;
  std::string staged_;
};

TEST_F(DbfFaultTest, Append) {
  FaultTally tally =
      RunEveryFault({[&] {
                       PrepareTable();
                       staged_ = Staged(4);
                     },
                     [&] {
                       uint32_t recno = 0;
                       return kbddwrite(dbf_, &recno, kKbdWriteAppend);
                     },
                     [&](int16_t status) {
                       ExpectOperationLockOutcome(status);  // the append lock
                       CloseTable();
                       std::vector<std::string> after = Reopen();
                       ASSERT_GE(after.size(), 3u);
                       for (size_t i = 0; i < 3; ++i) {
                         EXPECT_EQ(after[i], before_[i]);
                       }
                       if (status >= 0) {
                         ASSERT_EQ(after.size(), 4u);
                         EXPECT_EQ(after[3], staged_);
                       } else if (after.size() == 4) {
                         EXPECT_EQ(after[3], staged_)
                             << "a torn record was counted";
                       } else {
                         EXPECT_EQ(after.size(), 3u);
                       }
                     }});
  EXPECT_GT(tally.points, 0u);
}

TEST_F(DbfFaultTest, Rewrite) {
  FaultTally tally =
      RunEveryFault({[&] {
                       PrepareTable();
                       staged_ = Staged(9);
                     },
                     [&] {
                       uint32_t recno = 2;
                       return kbddwrite(dbf_, &recno, kKbdWriteRewrite);
                     },
                     [&](int16_t status) {
                       CloseTable();
                       std::vector<std::string> after = Reopen();
                       ASSERT_EQ(after.size(), 3u);
                       EXPECT_EQ(after[0], before_[0]);
                       EXPECT_EQ(after[2], before_[2]);
                       if (status >= 0) {
                         EXPECT_EQ(after[1], staged_);
                       } else {
                         EXPECT_TRUE(MixOf(after[1], before_[1], staged_));
                       }
                     }});
  EXPECT_GT(tally.points, 0u);
}

TEST_F(DbfFaultTest, DeleteAndRecall) {
  bool deleted = false, recalled = false;
  FaultTally tally =
      RunEveryFault({[&] {
                       PrepareTable();
                       ASSERT_EQ(kbdddelete(dbf_, 3), kKbdOk);
                       before_[2] = RecordBytes(dbf_, 3);
                       deleted = recalled = false;
                     },
                     [&] {
                       int16_t status = kbdddelete(dbf_, 2);
                       if (status < 0) return status;
                       deleted = true;
                       status = kbddrecall(dbf_, 3);
                       if (status < 0) return status;
                       recalled = true;
                       return status;
                     },
                     [&](int16_t status) {
                       CloseTable();
                       std::vector<std::string> after = Reopen();
                       ASSERT_EQ(after.size(), 3u);
                       EXPECT_EQ(after[0], before_[0]);
                       for (size_t i = 1; i < 3; ++i)
                         EXPECT_EQ(after[i].substr(1), before_[i].substr(1));
                       if (deleted) {
                         EXPECT_EQ(after[1][0], '*');
                       }
                       if (recalled) {
                         EXPECT_EQ(after[2][0], ' ');
                       }
                       if (status >= 0) {
                         EXPECT_TRUE(deleted && recalled);
                       }
                     }});
  EXPECT_GT(tally.points, 0u);
}

// File locks of every mode and record locks, an append under the mode-1
// lock among them. A lock call that fails holds nothing: another handle of
// the file can lock the whole lock area (mode 2) once the faulted handle has
// released what its calls acknowledged.
TEST_F(DbfFaultTest, FileAndRecordLocks) {
  // What the faulted handle holds: file-lock modes 1..4, records as -recno.
  std::set<int> held;
  uint32_t appended = 0;
  bool append_in_flight = false;
  int16_t other = -1;
  FaultTally tally = RunEveryFault(
      {[&] {
         PrepareTable();
         // Opened now: an open waits a while for a file the faulted handle
         // holds locked.
         ASSERT_EQ(kbddopenx(&other, Path("t.dbf").c_str(),
                             kDialect | kKbdModeShared),
                   kKbdOk);
         held.clear();
         appended = 0;
         append_in_flight = false;
       },
       [&] {
         int16_t status = kKbdOk;
         for (int16_t mode = 1; mode <= 5; ++mode) {
           if ((status = kbddlock(dbf_, mode)) < 0) return status;
           if (mode <= 4) held.insert(mode);
           if (mode == 1) {  // under the lock that covers the append byte
             FillRecord(dbf_, 4);
             uint32_t recno = 0;
             append_in_flight = true;
             if ((status = kbddwrite(dbf_, &recno, kKbdWriteAppend)) < 0)
               return status;
             append_in_flight = false;
             ++appended;
           }
           held.erase(mode);  // an unlock frees its range whatever it answers
           if ((status = kbddunlock(dbf_, mode)) < 0) return status;
         }
         for (uint32_t r = 1; r <= 2; ++r) {
           if ((status = kbddlockrec(dbf_, r, kKbdLockRec)) < 0) return status;
           held.insert(-static_cast<int>(r));
         }
         if ((status = kbddlockrec(dbf_, 3, kKbdLockRecTest)) < 0)
           return status;
         held.clear();
         return kbddlockrec(dbf_, 0, kKbdLockRecUnlock);
       },
       [&](int16_t status) {
         if (!held.empty()) {
           EXPECT_EQ(kbddlock(other, 2), kKbdErrLockViolation);
           kbdseterror(0);
           for (int token : held) {
             EXPECT_EQ(token > 0 ? kbddunlock(dbf_, static_cast<int16_t>(token))
                                 : kbddlockrec(dbf_, -token, kKbdLockRecUnlock),
                       kKbdOk);
           }
         }
         // Nothing of the faulted handle's stays: the whole area locks.
         EXPECT_EQ(kbddlock(other, 2), kKbdOk) << "a lock stays held";
         kbdseterror(0);
         EXPECT_EQ(kbddunlock(other, 2), kKbdOk);
         EXPECT_NE(AppendRecord(other, 9), 0u) << "the other cannot append";
         kbdseterror(0);
         EXPECT_EQ(kbddclose(other), kKbdOk);
         CloseTable();
         std::vector<std::string> after = Reopen();
         const size_t count = 3 + appended + 1;  // the other's append too
         EXPECT_TRUE(after.size() == count ||
                     (append_in_flight && after.size() == count + 1))
             << after.size();
         for (size_t i = 0; i < 3 && i < after.size(); ++i) {
           EXPECT_EQ(after[i], before_[i]);
         }
         if (status >= 0) {
           EXPECT_EQ(appended, 1u);
         }
       }});
  EXPECT_GT(tally.points, 0u);
}

TEST_F(DbfFaultTest, Create) {
  FaultTally tally = RunEveryFault(
      {[] {},
       [&] { return CreateTable(Path("t.dbf"), kKbdVisualFoxpro, true); },
       [&](int16_t status) {
         int16_t open_status = 0;
         if (status >= 0) {
           std::vector<std::string> after =
               ReadRecords(Path("t.dbf"), kKbdVisualFoxpro, &open_status);
           EXPECT_GE(open_status, 0);
           EXPECT_TRUE(after.empty());
         }
         // Whatever a failed create left, a second one succeeds.
         ASSERT_EQ(CreateTable(Path("t.dbf"), kKbdVisualFoxpro, true), kKbdOk);
         ReadRecords(Path("t.dbf"), kKbdVisualFoxpro, &open_status);
         EXPECT_GE(open_status, 0);
       }});
  EXPECT_GT(tally.points, 0u);
}

}  // namespace
}  // namespace qx::engine::faults_test
