// Tests of LockFile/UnlockFile: per-handle exclusive ranges that never
// wait, between two handles of one process and between processes, exact
// unlock matching and release on close. The cases that need POSIX
// itself (fork, permissions) are in lock_posix_test.cc.

#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace qx::platform {
namespace {

using qx::testing::ChildProcess;
using qx::testing::TempDir;
using qx::testing::WriteWholeFile;

struct FileCloser {
  void operator()(File* file) const { CloseFile(file); }
};
using FilePtr = std::unique_ptr<File, FileCloser>;

constexpr uint32_t kSharedReadWrite =
    kFileRead | kFileWrite | kFileShareBoth | kFileOpenExisting;

FilePtr OpenShared(const std::string& path) {
  return FilePtr(OpenFile(path.c_str(), kSharedReadWrite));
}

// 0 on success, else the last error: comparable in one EXPECT_EQ.
uint32_t Lock(File* f, uint32_t offset, uint32_t length) {
  return LockFile(f, offset, length) ? 0 : LastError();
}
uint32_t LockShared(File* f, uint32_t offset, uint32_t length) {
  return LockFileShared(f, offset, length) ? 0 : LastError();
}
uint32_t Unlock(File* f, uint32_t offset, uint32_t length) {
  return UnlockFile(f, offset, length) ? 0 : LastError();
}

TEST(LockTest, TwoHandlesOfOneProcess) {
  TempDir dir;
  const std::string path = dir.File("lock.dat");
  WriteWholeFile(path, "0123456789");
  FilePtr h1 = OpenShared(path);
  FilePtr h2 = OpenShared(path);
  ASSERT_TRUE(h1 && h2);

  EXPECT_EQ(Lock(h1.get(), 10, 5), 0u);
  EXPECT_EQ(Lock(h2.get(), 12, 1), kErrorLockViolation);
  EXPECT_EQ(Lock(h2.get(), 14, 10), kErrorLockViolation);
  EXPECT_EQ(Lock(h2.get(), 15, 5), 0u);  // adjacent, not overlapping
  // The same handle may not lock into a range it holds either.
  EXPECT_EQ(Lock(h1.get(), 14, 1), kErrorLockViolation);
  EXPECT_EQ(Lock(h1.get(), 5, 6), kErrorLockViolation);
  // Unlock must name a held range exactly.
  EXPECT_EQ(Unlock(h1.get(), 10, 4), kErrorNotLocked);
  EXPECT_EQ(Unlock(h1.get(), 11, 5), kErrorNotLocked);
  EXPECT_EQ(Unlock(h2.get(), 10, 5), kErrorNotLocked);
  EXPECT_EQ(Unlock(h1.get(), 10, 5), 0u);
  EXPECT_EQ(Unlock(h1.get(), 10, 5), kErrorNotLocked);
  EXPECT_EQ(Lock(h2.get(), 10, 5), 0u);

  // Adjacent ranges of one handle stay separate: unlocking one keeps the
  // other although the kernel may have merged them.
  EXPECT_EQ(Unlock(h2.get(), 10, 5), 0u);
  EXPECT_EQ(Lock(h2.get(), 20, 5), 0u);
  EXPECT_EQ(Unlock(h2.get(), 15, 5), 0u);
  EXPECT_EQ(Lock(h1.get(), 15, 5), 0u);
  EXPECT_EQ(Lock(h1.get(), 24, 1), kErrorLockViolation);

  // Zero-length ranges: one placed inside another handle's range conflicts
  // with it; elsewhere it conflicts with nothing and is held and unlocked
  // like any other.
  EXPECT_EQ(Lock(h1.get(), 22, 0), kErrorLockViolation);
  EXPECT_EQ(Lock(h1.get(), 30, 0), 0u);
  EXPECT_EQ(Lock(h2.get(), 31, 0), 0u);
  EXPECT_EQ(Lock(h2.get(), 25, 5), 0u);  // ends where h1's empty range is
  EXPECT_EQ(Unlock(h2.get(), 25, 5), 0u);
  EXPECT_EQ(Unlock(h1.get(), 30, 0), 0u);
  EXPECT_EQ(Unlock(h1.get(), 30, 0), kErrorNotLocked);

  // The data file's lock area just below 2^31, and the largest range the
  // interface can name, do not touch the share-mode bookkeeping.
  EXPECT_EQ(Lock(h1.get(), 0x5FFFFFC0, 0x2000003F), 0u);
  EXPECT_EQ(Lock(h2.get(), 0x7FFFFFBF - 7, 1), kErrorLockViolation);
  EXPECT_EQ(Lock(h2.get(), 0x80000000, 0xFFFFFFFF), 0u);
  EXPECT_NE(OpenShared(path), nullptr);

  // Closing a handle releases its locks.
  h2.reset();
  EXPECT_EQ(Lock(h1.get(), 20, 5), 0u);
  EXPECT_EQ(Lock(nullptr, 0, 1), kErrorInvalidHandle);
}

TEST(LockTest, TwoProcessesInLockstep) {
  TempDir dir;
  const std::string path = dir.File("lock.dat");
  WriteWholeFile(path, "x");
  File* theirs = nullptr;  // the child's handle, in the child's memory
  ChildProcess child([&](int step) -> int {
    switch (step) {
      case 1:
        theirs = OpenFile(path.c_str(), kSharedReadWrite);
        return theirs ? Lock(theirs, 100, 10) : 99;
      case 2:
        return Lock(theirs, 110, 1);
      case 3:
        return Unlock(theirs, 100, 10);
      case 4:
        return Lock(theirs, 200, 1);
      case 5:
        return CloseFile(theirs) ? 0 : 1;
    }
    return 98;
  });
  FilePtr ours = OpenShared(path);
  ASSERT_NE(ours, nullptr);

  ASSERT_EQ(child.Run(1), 0);
  EXPECT_EQ(Lock(ours.get(), 105, 1), kErrorLockViolation);  // at once
  EXPECT_EQ(Lock(ours.get(), 110, 1), 0u);
  EXPECT_EQ(child.Run(2), static_cast<int>(kErrorLockViolation));
  EXPECT_EQ(child.Run(3), 0);
  EXPECT_EQ(Lock(ours.get(), 100, 10), 0u);

  EXPECT_EQ(Lock(ours.get(), 200, 1), 0u);
  EXPECT_EQ(child.Run(4), static_cast<int>(kErrorLockViolation));
  ours.reset();  // the child sees the release
  EXPECT_EQ(child.Run(4), 0);
  ours = OpenShared(path);
  EXPECT_EQ(Lock(ours.get(), 200, 1), kErrorLockViolation);
  EXPECT_EQ(child.Run(5), 0);  // and we see the child's
  EXPECT_EQ(Lock(ours.get(), 200, 1), 0u);
}

// Shared ranges overlap each other and exclude exclusive ones both ways,
// between handles and between processes; a handle never stacks locks.
TEST(LockTest, SharedRangesBetweenHandlesAndProcesses) {
  TempDir dir;
  const std::string path = dir.File("lock.dat");
  WriteWholeFile(path, "x");
  File* theirs = nullptr;
  ChildProcess child([&](int step) -> int {
    switch (step) {
      case 1:
        theirs = OpenFile(path.c_str(), kSharedReadWrite);
        return theirs ? LockShared(theirs, 50, 1) : 99;
      case 2:
        return Lock(theirs, 60, 1);
      case 3:
        return Unlock(theirs, 50, 1);
      case 4:
        return LockShared(theirs, 60, 1);
      case 5:
        return Unlock(theirs, 60, 1);
    }
    return 98;
  });
  FilePtr h1 = OpenShared(path);
  FilePtr h2 = OpenShared(path);
  ASSERT_TRUE(h1 && h2);

  EXPECT_EQ(LockShared(h1.get(), 50, 1), 0u);
  EXPECT_EQ(LockShared(h2.get(), 50, 1), 0u);
  // Shared ranges stack on one handle too; each is released on its own.
  EXPECT_EQ(LockShared(h1.get(), 50, 1), 0u);
  EXPECT_EQ(Lock(h1.get(), 50, 1), kErrorLockViolation);
  ASSERT_EQ(child.Run(1), 0);  // a third reader, in another process
  EXPECT_EQ(Unlock(h1.get(), 50, 1), 0u);
  EXPECT_EQ(Unlock(h2.get(), 50, 1), 0u);
  EXPECT_EQ(Lock(h2.get(), 50, 1), kErrorLockViolation);  // h1 still reads
  EXPECT_EQ(Unlock(h1.get(), 50, 1), 0u);
  EXPECT_EQ(Lock(h1.get(), 50, 1), kErrorLockViolation);  // the child reads
  EXPECT_EQ(child.Run(3), 0);
  EXPECT_EQ(Lock(h1.get(), 50, 1), 0u);
  EXPECT_EQ(LockShared(h2.get(), 50, 1), kErrorLockViolation);  // a writer
  EXPECT_EQ(Unlock(h1.get(), 50, 1), 0u);

  ASSERT_EQ(child.Run(2), 0);  // the child writes at 60
  EXPECT_EQ(LockShared(h1.get(), 60, 1), kErrorLockViolation);
  EXPECT_EQ(Lock(h2.get(), 60, 1), kErrorLockViolation);
  // A handle may read-lock inside its own exclusive range; the range stays
  // exclusive until the exclusive lock goes, then it is shared.
  EXPECT_EQ(child.Run(4), 0);
  EXPECT_EQ(LockShared(h1.get(), 60, 1), kErrorLockViolation);
  EXPECT_EQ(child.Run(5), 0);  // the child drops its exclusive lock at 60
  EXPECT_EQ(LockShared(h1.get(), 60, 1), 0u);
  EXPECT_EQ(Lock(h2.get(), 60, 1), kErrorLockViolation);
}

}  // namespace
}  // namespace qx::platform
