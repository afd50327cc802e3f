// The fault-injection harness (see fault_harness.h) and the data-file
// helpers the fault tests share.
#include "tests/engine/faults/fault_harness.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

namespace qx::engine::faults_test {

namespace faults = platform::faults;
using faults::Kind;
using faults::Op;

namespace {

bool short_fault_run = false;
// The lock fault kind of the run being verified, when its fault is a lock's.
std::optional<Kind> lock_fault_run;

const char* OpName(Op op) {
  switch (op) {
    case Op::kRead:
      return "read";
    case Op::kWrite:
      return "write";
    case Op::kFlush:
      return "flush";
    case Op::kLock:
      return "lock";
    case Op::kRename:
      return "rename";
    case Op::kRemove:
      return "remove";
    case Op::kOpen:
      return "open";
    case Op::kAllocate:
      return "allocate";
  }
  return "?";
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kFail:
      return " failing";
    case Kind::kShort:
      return " short";
    case Kind::kRefuse:
      return " refused";
    case Kind::kExit:
      return " killed";
  }
  return "?";
}

// One run: fresh engine, prepare uncounted, act counted with the fault (if
// any) armed, verify uncounted.
int16_t RunOnce(const FaultPath& path, Op op, uint64_t nth, Kind kind) {
  short_fault_run = nth != 0 && kind == Kind::kShort;
  lock_fault_run.reset();
  if (nth != 0 && op == Op::kLock) lock_fault_run = kind;
  kbdterm();
  EXPECT_EQ(kbdinit(32767, 4), kKbdOk);
  faults::Reset();
  faults::SetCounting(false);
  path.prepare();
  faults::Arm(op, nth, kind);
  faults::SetCounting(true);
  kbdseterror(0);
  const int16_t status = path.act();
  faults::SetCounting(false);
  faults::Disarm();
  kbdseterror(0);
  path.verify(status);
  kbdterm();
  return status;
}

}  // namespace

bool ShortFaultRun() { return short_fault_run; }

void ExpectOperationLockOutcome(int16_t status) {
  if (!lock_fault_run || !faults::Fired()) return;
  if (*lock_fault_run == Kind::kRefuse) {
    EXPECT_LT(status, 0) << "a refused lock went unreported";
  } else {
    EXPECT_GE(status, 0) << "a busy lock was not waited for";
  }
}

FaultTest::FaultTest() {
  saved_cwd_ = std::filesystem::current_path().string();
  std::filesystem::current_path(dir_.path());
}

FaultTest::~FaultTest() {
  kbdterm();
  faults::Reset();
  std::error_code ignored;
  std::filesystem::current_path(saved_cwd_, ignored);
}

void FaultTest::ClearDirectory() {
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    std::filesystem::remove_all(entry.path());
}

namespace {

// The operation indexes a path's runs fault, of a kind it performs count
// times: every one up to max_points; beyond, an even sample that keeps the
// first and the last.
std::vector<uint64_t> Points(uint64_t count, uint64_t max_points) {
  std::vector<uint64_t> points;
  const uint64_t stride = (count + max_points - 1) / max_points;
  for (uint64_t n = 1; n <= count;
       n = (n + stride > count && n < count) ? count : n + stride)
    points.push_back(n);
  return points;
}

}  // namespace

bool FaultTest::CountOperations(const FaultPath& path,
                                uint64_t counts[faults::kOpCount]) {
  // No fault armed (nth 0 never fires); the counts stay after the run, as
  // verify runs uncounted.
  ClearDirectory();
  {
    SCOPED_TRACE("no fault");
    RunOnce(path, Op::kRead, 0, Kind::kFail);
  }
  for (int i = 0; i < faults::kOpCount; ++i)
    counts[i] = faults::Count(static_cast<Op>(i));
  return !HasFailure();
}

FaultTally FaultTest::RunEveryFault(const FaultPath& path, std::vector<Op> skip,
                                    uint64_t max_points) {
  FaultTally tally;
  uint64_t counts[faults::kOpCount];
  if (!CountOperations(path, counts)) return tally;
  for (int i = 0; i < faults::kOpCount; ++i) {
    const Op op = static_cast<Op>(i);
    if (counts[i] == 0 || std::find(skip.begin(), skip.end(), op) != skip.end())
      continue;
    if (!tally.summary.empty()) tally.summary += ", ";
    tally.summary += std::string(OpName(op)) + " " + std::to_string(counts[i]);
    const bool shortens = op == Op::kRead || op == Op::kWrite;
    for (Kind kind : {Kind::kFail, Kind::kShort, Kind::kRefuse}) {
      if (kind == Kind::kShort && !shortens) continue;
      if (kind == Kind::kRefuse && op != Op::kLock) continue;
      for (uint64_t n : Points(counts[i], max_points)) {
        SCOPED_TRACE(std::string(OpName(op)) + " #" + std::to_string(n) +
                     KindName(kind));
        ClearDirectory();
        const int16_t status = RunOnce(path, op, n, kind);
        ++tally.points;
        if (HasFailure()) {
          ADD_FAILURE() << "status of the faulted path: " << status;
          return tally;
        }
      }
    }
  }
  std::printf("[ fault points ] %llu (%s)\n",
              static_cast<unsigned long long>(tally.points),
              tally.summary.c_str());
  return tally;
}

FaultTally FaultTest::RunEveryKill(const FaultPath& path) {
  FaultTally tally;
  uint64_t counts[faults::kOpCount];
  if (!CountOperations(path, counts)) return tally;
  for (Op op : {Op::kWrite, Op::kFlush, Op::kRename, Op::kRemove, Op::kOpen}) {
    const uint64_t count = counts[static_cast<int>(op)];
    if (count == 0) continue;
    if (!tally.summary.empty()) tally.summary += ", ";
    tally.summary += std::string(OpName(op)) + " " + std::to_string(count);
    for (uint64_t n : Points(count, kMaxPointsPerKind)) {
      SCOPED_TRACE(std::string("killed before ") + OpName(op) + " #" +
                   std::to_string(n));
      ClearDirectory();
      kbdterm();
      EXPECT_EQ(kbdinit(32767, 4), kKbdOk);
      faults::Reset();
      faults::SetCounting(false);
      path.prepare();
      int status = 0;
      {
        qx::testing::ChildGroup child;
        child.Start([&](const qx::testing::ChildGroup::Context&) {
          faults::Arm(op, n, Kind::kExit);
          faults::SetCounting(true);
          kbdseterror(0);
          return path.act() < 0 ? 1 : 0;
        });
        child.Go();
        status = child.Wait(0);
      }
      EXPECT_TRUE(status == faults::kExitStatus || status == 0)
          << "the child's status: " << status;
      kbdseterror(0);
      path.verify(status == 0 ? int16_t{0} : int16_t{-1});
      kbdterm();
      ++tally.points;
      if (HasFailure()) return tally;
    }
  }
  std::printf("[ kill points ] %llu (%s)\n",
              static_cast<unsigned long long>(tally.points),
              tally.summary.c_str());
  return tally;
}

std::vector<std::string> ReadRecords(const std::string& path, uint16_t mode,
                                     int16_t* status) {
  std::vector<std::string> records;
  int16_t handle = -1;
  kbdseterror(0);
  *status = kbddopenx(&handle, path.c_str(), mode);
  if (*status < 0) {
    kbdseterror(0);
    return records;
  }
  uint32_t count = 0;
  EXPECT_EQ(kbddreccount(handle, &count), kKbdOk);
  for (uint32_t r = 1; r <= count; ++r)
    records.push_back(RecordBytes(handle, r));
  EXPECT_EQ(kbddclose(handle), kKbdOk);
  return records;
}

int16_t CreateTable(const std::string& path, uint16_t dialect, bool with_memo) {
  KbdFieldDef fields[3] = {};
  std::strcpy(fields[0].name, "NAME");
  fields[0].type = 'C';
  fields[0].length = 10;
  std::strcpy(fields[1].name, "QTY");
  fields[1].type = 'N';
  fields[1].length = 6;
  std::strcpy(fields[2].name, "NOTE");
  fields[2].type = 'M';
  fields[2].length = 10;
  return kbddcreate(path.c_str(), with_memo ? 3 : 2, fields, dialect);
}

void FillRecord(int16_t handle, uint32_t i, uint32_t block) {
  const std::string name = "name" + std::to_string(i);
  const double qty = i * 7.0;
  EXPECT_GE(kbddblankrec(handle), 0);
  EXPECT_EQ(kbddput(handle, 0, name.c_str()), kKbdOk);
  EXPECT_EQ(kbddput(handle, 1, &qty), kKbdOk);
  if (block != 0) {
    EXPECT_EQ(kbddsetmemoblock(handle, 2, block), kKbdOk);
  }
}

uint32_t AppendRecord(int16_t handle, uint32_t i, uint32_t block) {
  FillRecord(handle, i, block);
  uint32_t recno = 0;
  if (kbddwrite(handle, &recno, kKbdWriteAppend) < 0) return 0;
  return recno;
}

std::string RecordBytes(int16_t handle, uint32_t recno) {
  if (kbddread(handle, recno) < 0) {
    kbdseterror(0);
    return "<unreadable>";
  }
  uint8_t* buffer = nullptr;
  uint16_t size = 0;
  int16_t fields = 0;
  EXPECT_EQ(kbddrecinfo(handle, &buffer, &size, &fields), kKbdOk);
  return std::string(reinterpret_cast<const char*>(buffer), size);
}

}  // namespace qx::engine::faults_test
