// The fault layer itself: counts, the Nth operation failing, cut short or
// (a lock) refused with the errors callers see, and nothing injected once
// disarmed.
#include <gtest/gtest.h>

#include <string>

#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace qx::platform {
namespace {

TEST(PlatformFaults, FailsAndShortensTheNthOperation) {
  qx::testing::TempDir dir;
  const std::string name = dir.File("f.bin");
  faults::Reset();
  File* file = OpenFile(name.c_str(), kFileRead | kFileWrite);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(faults::Count(faults::Op::kOpen), 1u);

  // Second write cut short: half the bytes land, then disk full.
  faults::Arm(faults::Op::kWrite, 2, faults::Kind::kShort);
  EXPECT_TRUE(WriteFileAt(file, 0, "abcd", 4));
  EXPECT_FALSE(WriteFileAt(file, 4, "efgh", 4));
  EXPECT_EQ(LastError(), kErrorDiskFull);
  EXPECT_TRUE(faults::Fired());
  uint32_t size = 0;
  ASSERT_TRUE(FileSize(file, &size));
  EXPECT_EQ(size, 6u);

  // A short read with a count given succeeds with fewer bytes; without
  // one it is end of file. A failing read moves nothing.
  char buffer[8] = {};
  uint32_t got = 0;
  faults::Arm(faults::Op::kRead, 1, faults::Kind::kShort);
  EXPECT_TRUE(ReadFileAt(file, 0, buffer, 6, &got));
  EXPECT_EQ(got, 3u);
  faults::Arm(faults::Op::kRead, 1, faults::Kind::kShort);
  EXPECT_FALSE(ReadFileAt(file, 0, buffer, 6, nullptr));
  EXPECT_EQ(LastError(), kErrorHandleEof);
  faults::Arm(faults::Op::kRead, 1);
  EXPECT_FALSE(ReadFileAt(file, 0, buffer, 6, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(LastError(), kErrorReadFault);

  faults::Arm(faults::Op::kFlush, 1);
  EXPECT_FALSE(FlushFile(file));
  EXPECT_EQ(LastError(), kErrorWriteFault);
  faults::Arm(faults::Op::kLock, 1);
  EXPECT_FALSE(LockFile(file, 100, 1));
  EXPECT_EQ(LastError(), kErrorLockViolation);
  EXPECT_TRUE(LockFile(file, 100, 1));
  EXPECT_TRUE(UnlockFile(file, 100, 1));
  // Refused: the system has no lock to give, whoever holds the range.
  faults::Arm(faults::Op::kLock, 1, faults::Kind::kRefuse);
  EXPECT_FALSE(LockFileShared(file, 100, 1));
  EXPECT_EQ(LastError(), kErrorSharingBufferExceeded);
  EXPECT_TRUE(LockFileShared(file, 100, 1));
  EXPECT_TRUE(UnlockFile(file, 100, 1));
  ASSERT_TRUE(CloseFile(file));

  faults::Arm(faults::Op::kRename, 1);
  EXPECT_FALSE(RenameFile(name.c_str(), dir.File("g.bin").c_str()));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_TRUE(FileExists(name.c_str()));
  faults::Arm(faults::Op::kRemove, 1);
  EXPECT_FALSE(RemoveFile(name.c_str()));
  EXPECT_TRUE(FileExists(name.c_str()));
  faults::Arm(faults::Op::kAllocate, 1);
  EXPECT_EQ(AllocateMemory(16), nullptr);
  void* block = AllocateMemory(16);
  EXPECT_NE(block, nullptr);
  FreeMemory(block);

  // Disarmed: every operation goes through, still counted.
  faults::Arm(faults::Op::kRemove, 5);
  faults::Disarm();
  EXPECT_TRUE(RemoveFile(name.c_str()));
  EXPECT_EQ(faults::Count(faults::Op::kRemove), 1u);
  EXPECT_FALSE(faults::Fired());
  faults::Reset();
}

}  // namespace
}  // namespace qx::platform
