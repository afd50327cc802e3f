// The fault-injection harness: a write path is run once with no fault to
// count the platform operations it performs, then once per operation index
// N and fault kind with the fault at N. Each run starts from fresh files
// (prepare, not counted), performs the path (act, counted) and hands its
// status to verify (not counted), which closes the handles, reopens the
// files and checks what the status promised: everything acknowledged
// before the failing call intact, and after a success the new data too.
#ifndef QX_TESTS_ENGINE_FAULTS_FAULT_HARNESS_H_
#define QX_TESTS_ENGINE_FAULTS_FAULT_HARNESS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/fault_injection.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::faults_test {

struct FaultPath {
  std::function<void()> prepare;
  std::function<int16_t()> act;
  std::function<void(int16_t status)> verify;
};

// Bounds the runs of one operation kind (and fault kind) of a path.
inline constexpr uint64_t kMaxPointsPerKind = 100;

// Fault points run, per operation kind, for the report of a test.
struct FaultTally {
  uint64_t points = 0;
  std::string summary;  // "write 12, flush 4, ..."
};

// A test with its own directory (also the current directory, where the
// builds put their work file) and a fresh engine for every run.
class FaultTest : public ::testing::Test {
 protected:
  FaultTest();
  ~FaultTest() override;

  std::string Path(const std::string& name) const { return dir_.File(name); }

  // Runs path with every fault in turn (see the top of this file). The
  // operations of kinds in `skip` are not faulted. Beyond max_points
  // operations of one kind, an even sample of max_points of them (the
  // first and the last included) is faulted.
  FaultTally RunEveryFault(const FaultPath& path,
                           std::vector<platform::faults::Op> skip = {},
                           uint64_t max_points = kMaxPointsPerKind);

  // Kills path's act at every operation that changes a file (write,
  // flush, rename, remove, open), sampled as RunEveryFault does: act runs
  // in a child process that ends just before the Nth such operation of a
  // kind, as a kill at that moment would. prepare and verify run in this
  // process (prepare must leave no handle open: the child opens its own);
  // verify gets 0 when the child finished its work, else -1.
  FaultTally RunEveryKill(const FaultPath& path);

  qx::testing::TempDir dir_;

 private:
  void ClearDirectory();
  // The run with no fault, which counts the operations of each kind the
  // path performs; false when it failed.
  bool CountOperations(const FaultPath& path,
                       uint64_t counts[platform::faults::kOpCount]);
  std::string saved_cwd_;
};

// Whether the run being verified cut a read or write short (a torn page
// is damage no structural check can see; the data comparison shows it).
bool ShortFaultRun();

// For paths whose every lock is an operation lock (index and memo calls,
// appends on a shared file): those wait out a range another handle holds,
// so a busy lock (kFail) costs a retry and the call succeeds; a lock the
// system refuses (kRefuse) fails the call. Checks status against the
// lock fault the run being verified delivered, if any.
void ExpectOperationLockOutcome(int16_t status);

// --- Data files ----------------------------------------------------------

// Every record of the table as stored (deletion flag included); *status
// gets the open status (negative: the table refused to open).
std::vector<std::string> ReadRecords(const std::string& path, uint16_t mode,
                                     int16_t* status);

// Creates a table of two fields, NAME C(10) and QTY N(6), plus NOTE M(10)
// when with_memo, in dialect.
int16_t CreateTable(const std::string& path, uint16_t dialect, bool with_memo);

// Puts record i's values into the buffer of handle (NOTE: block).
void FillRecord(int16_t handle, uint32_t i, uint32_t block = 0);

// Appends record i: the new record number, or 0 on failure.
uint32_t AppendRecord(int16_t handle, uint32_t i, uint32_t block = 0);

// The bytes of the record buffer of handle after a read of recno.
std::string RecordBytes(int16_t handle, uint32_t recno);

}  // namespace qx::engine::faults_test

#endif  // QX_TESTS_ENGINE_FAULTS_FAULT_HARNESS_H_
