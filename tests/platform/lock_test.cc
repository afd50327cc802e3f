// Tests of LockFile/UnlockFile: per-handle exclusive ranges that never
// wait, between two handles of one process and between processes, exact
// unlock matching, release on close, and handles that could only be
// opened read-only.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

  // Zero-length ranges are empty: they conflict with nothing, but are held
  // and unlocked like any other.
  EXPECT_EQ(Lock(h1.get(), 22, 0), 0u);
  EXPECT_EQ(Lock(h2.get(), 16, 0), 0u);
  EXPECT_EQ(Unlock(h1.get(), 22, 0), 0u);
  EXPECT_EQ(Unlock(h1.get(), 22, 0), kErrorNotLocked);

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
      case 2: return Lock(theirs, 110, 1);
      case 3: return Unlock(theirs, 100, 10);
      case 4: return Lock(theirs, 200, 1);
      case 5: return CloseFile(theirs) ? 0 : 1;
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
      case 2: return Lock(theirs, 60, 1);
      case 3: return Unlock(theirs, 50, 1);
      case 4: return LockShared(theirs, 60, 1);
    }
    return 98;
  });
  FilePtr h1 = OpenShared(path);
  FilePtr h2 = OpenShared(path);
  ASSERT_TRUE(h1 && h2);

  EXPECT_EQ(LockShared(h1.get(), 50, 1), 0u);
  EXPECT_EQ(LockShared(h2.get(), 50, 1), 0u);
  EXPECT_EQ(LockShared(h1.get(), 50, 1), kErrorLockViolation);  // no stacking
  EXPECT_EQ(Lock(h1.get(), 50, 1), kErrorLockViolation);
  ASSERT_EQ(child.Run(1), 0);  // a third reader, in another process
  EXPECT_EQ(Unlock(h1.get(), 50, 1), 0u);
  EXPECT_EQ(Unlock(h2.get(), 50, 1), 0u);
  EXPECT_EQ(Lock(h1.get(), 50, 1), kErrorLockViolation);  // the child reads
  EXPECT_EQ(child.Run(3), 0);
  EXPECT_EQ(Lock(h1.get(), 50, 1), 0u);
  EXPECT_EQ(LockShared(h2.get(), 50, 1), kErrorLockViolation);  // a writer
  EXPECT_EQ(Unlock(h1.get(), 50, 1), 0u);

  ASSERT_EQ(child.Run(2), 0);  // the child writes at 60
  EXPECT_EQ(LockShared(h1.get(), 60, 1), kErrorLockViolation);
  EXPECT_EQ(Lock(h2.get(), 60, 1), kErrorLockViolation);
  EXPECT_EQ(child.Run(4), static_cast<int>(kErrorLockViolation));
}

TEST(LockTest, CloseReleasesWhatAForkedChildInherited) {
  TempDir dir;
  const std::string path = dir.File("inherit.dat");
  WriteWholeFile(path, "x");
  FilePtr ours(OpenFile(path.c_str(), kFileRead | kFileWrite |
                                          kFileOpenExisting));  // exclusive
  ASSERT_NE(ours, nullptr);
  ASSERT_EQ(Lock(ours.get(), 0, 1), 0u);
  // The child shares our descriptor (fork) but is not our handle.
  ChildProcess child([&](int) -> int {
    File* f = OpenFile(path.c_str(), kSharedReadWrite);
    if (f == nullptr) return static_cast<int>(LastError());
    const int rc = static_cast<int>(Lock(f, 0, 1));
    CloseFile(f);
    return rc;
  });
  EXPECT_EQ(child.Run(1), static_cast<int>(kErrorSharingViolation));
  ours.reset();
  EXPECT_EQ(child.Run(1), 0);
}

TEST(LockTest, ReadOnlyDescriptorsStillExclude) {
  TempDir dir;
  const std::string path = dir.File("ro.dat");
  WriteWholeFile(path, "x");
  FilePtr writer = OpenShared(path);
  ASSERT_NE(writer, nullptr);
  // The child cannot open the file for writing: as an unprivileged user
  // when we are root, else because the file is read-only.
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
  ASSERT_EQ(chmod(path.c_str(), 0444), 0);
  File* ro1 = nullptr;
  File* ro2 = nullptr;
  ChildProcess child([&](int step) -> int {
    switch (step) {
      case 1: {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
          return 97;
        }
        const int fd = open(path.c_str(), O_RDWR);
        if (fd >= 0 || errno != EACCES) return 98;
        const uint32_t shared_read =
            kFileRead | kFileShareBoth | kFileOpenExisting;
        ro1 = OpenFile(path.c_str(), shared_read);
        ro2 = OpenFile(path.c_str(), shared_read);
        return ro1 && ro2 ? Lock(ro1, 10, 5) : 99;
      }
      case 2: return Lock(ro2, 12, 1);
      case 3: return Lock(ro1, 30, 1);
      case 4: return Unlock(ro1, 10, 5);
      case 5: return Lock(ro2, 12, 1);
      case 6: {
        File* f = OpenFile(path.c_str(), kFileRead | kFileOpenExisting);
        return f ? 0 : static_cast<int>(LastError());
      }
    }
    return 96;
  });
  ASSERT_EQ(child.Run(1), 0);
  EXPECT_EQ(Lock(writer.get(), 14, 1), kErrorLockViolation);
  EXPECT_EQ(Lock(writer.get(), 30, 1), 0u);
  EXPECT_EQ(child.Run(2), static_cast<int>(kErrorLockViolation));
  EXPECT_EQ(child.Run(3), static_cast<int>(kErrorLockViolation));
  EXPECT_EQ(child.Run(4), 0);
  EXPECT_EQ(child.Run(5), 0);
  EXPECT_EQ(Lock(writer.get(), 12, 1), kErrorLockViolation);
  // Share modes hold for such handles too: our write access rules out an
  // open that shares nothing.
  EXPECT_EQ(child.Run(6), static_cast<int>(kErrorSharingViolation));
}

}  // namespace
}  // namespace qx::platform
