// LockFile cases that exist only on POSIX: a forked child inheriting a
// descriptor, and handles that could only be opened read-only (file
// permissions and a second user).

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

uint32_t Lock(File* f, uint32_t offset, uint32_t length) {
  return LockFile(f, offset, length) ? 0 : LastError();
}
uint32_t Unlock(File* f, uint32_t offset, uint32_t length) {
  return UnlockFile(f, offset, length) ? 0 : LastError();
}

TEST(LockTest, CloseReleasesWhatAForkedChildInherited) {
  TempDir dir;
  const std::string path = dir.File("inherit.dat");
  WriteWholeFile(path, "x");
  FilePtr ours(OpenFile(
      path.c_str(), kFileRead | kFileWrite | kFileOpenExisting));  // exclusive
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
      case 2:
        return Lock(ro2, 12, 1);
      case 3:
        return Lock(ro1, 30, 1);
      case 4:
        return Unlock(ro1, 10, 5);
      case 5:
        return Lock(ro2, 12, 1);
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
