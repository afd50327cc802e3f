// Tests of the file services: Windows share modes between handles and
// between processes, positions and short reads, delete and rename refusals,
// and names that are case-insensitive, code page 1252 and may use '\'.

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "platform/platform.h"
#include "tests/support/test_support.h"

namespace qx::platform {
namespace {

using qx::testing::ChildProcess;
using qx::testing::ReadWholeFile;
using qx::testing::RunInChild;
using qx::testing::TempDir;
using qx::testing::WriteWholeFile;

struct FileCloser {
  void operator()(File* file) const { CloseFile(file); }
};
using FilePtr = std::unique_ptr<File, FileCloser>;

FilePtr Open(const std::string& name, uint32_t access) {
  return FilePtr(OpenFile(name.c_str(), access));
}

constexpr uint32_t kReadWrite = kFileRead | kFileWrite;

// Windows admits a second open iff its access lies within the first's
// share mode and the first's access within its own.
bool SharesAllow(uint32_t first, uint32_t second) {
  auto access = [](uint32_t w) { return w & kReadWrite; };
  auto shared = [](uint32_t w) {
    uint32_t s = 0;
    if (w & (kFileShareRead | kFileShareBoth)) s |= kFileRead;
    if (w & (kFileShareWrite | kFileShareBoth)) s |= kFileWrite;
    return s;
  };
  return (access(second) & ~shared(first)) == 0 &&
         (access(first) & ~shared(second)) == 0;
}

std::vector<uint32_t> AllOpenWords() {
  std::vector<uint32_t> words;
  const uint32_t accesses[] = {kFileRead, kFileWrite, kReadWrite};
  const uint32_t shares[] = {0, kFileShareRead, kFileShareWrite, kFileShareBoth,
                             kFileShareRead | kFileShareWrite};
  for (uint32_t access : accesses) {
    for (uint32_t share : shares) {
      words.push_back(access | share | kFileOpenExisting);
    }
  }
  return words;
}

TEST(FileShareTest, MatrixBetweenHandlesAndProcesses) {
  TempDir dir;
  const std::string path = dir.File("share.dat");
  WriteWholeFile(path, "x");
  // The child opens with the access word it is sent and answers 1 opened,
  // 0 sharing violation, 2 anything else.
  ChildProcess child([&](int word) {
    File* f = OpenFile(path.c_str(), static_cast<uint32_t>(word));
    if (f == nullptr) return LastError() == kErrorSharingViolation ? 0 : 2;
    CloseFile(f);
    return 1;
  });
  for (uint32_t first : AllOpenWords()) {
    FilePtr held = Open(path, first);
    ASSERT_NE(held, nullptr) << std::hex << first;
    for (uint32_t second : AllOpenWords()) {
      SCOPED_TRACE(::testing::Message()
                   << std::hex << "first " << first << " second " << second);
      const bool allowed = SharesAllow(first, second);
      FilePtr other = Open(path, second);
      EXPECT_EQ(other != nullptr, allowed);
      if (!other) {
        EXPECT_EQ(LastError(), kErrorSharingViolation);
      }
      other.reset();
      EXPECT_EQ(child.Run(static_cast<int>(second)), allowed ? 1 : 0);
    }
  }
  // After every handle closed, an exclusive open succeeds again.
  EXPECT_NE(Open(path, kReadWrite | kFileOpenExisting), nullptr);
}

TEST(FileShareTest, ExclusiveOpenInChildAndRefusedCreateKeepsData) {
  TempDir dir;
  const std::string path = dir.File("excl.dat");
  WriteWholeFile(path, "precious");
  File* child_file = nullptr;
  ChildProcess child([&](int step) {
    if (step == 1) {
      child_file = OpenFile(path.c_str(), kReadWrite | kFileOpenExisting);
      return child_file ? 0 : static_cast<int>(LastError());
    }
    return CloseFile(child_file) ? 0 : 1;
  });
  ASSERT_EQ(child.Run(1), 0);
  EXPECT_EQ(Open(path, kFileRead | kFileShareBoth | kFileOpenExisting),
            nullptr);
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  // CREATE_ALWAYS refused by the share mode must not truncate.
  EXPECT_EQ(Open(path, kReadWrite | kFileShareBoth), nullptr);
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  // An open without data access is neither checked nor counted.
  FilePtr no_access = Open(path, kFileOpenExisting);
  EXPECT_NE(no_access, nullptr);
  ASSERT_EQ(child.Run(2), 0);
  // Read once the child is gone: Windows lets nobody read while it holds
  // the file exclusively.
  EXPECT_EQ(ReadWholeFile(path), "precious");
  // Admitted now, and CREATE_ALWAYS truncates.
  FilePtr f = Open(path, kReadWrite | kFileShareBoth);
  ASSERT_NE(f, nullptr);
  uint32_t size = 1;
  EXPECT_TRUE(FileSize(f.get(), &size));
  EXPECT_EQ(size, 0u);
}

TEST(FileShareTest, RacingExclusiveOpensNeverBothSucceed) {
  TempDir dir;
  const std::string path = dir.File("race.dat");
  const std::string witness = dir.File("owner");
  WriteWholeFile(path, "x");
  // Each child opens exclusively over and over; while it holds the file it
  // creates the witness exclusively, which fails if the other child holds
  // the file too. Answers the number of overlaps seen.
  auto hammer = [&](int) {
    int overlaps = 0;
    for (int i = 0; i < 2000; ++i) {
      File* f =
          OpenFile(path.c_str(), kFileRead | kFileWrite | kFileOpenExisting);
      if (f == nullptr) continue;
      if (!qx::testing::CreateNewFile(witness)) {
        ++overlaps;
      } else {
        std::filesystem::remove(witness);
      }
      CloseFile(f);
    }
    return overlaps;
  };
  ChildProcess a(hammer);
  ChildProcess b(hammer);
  int overlaps_a = -1;
  std::thread t([&] { overlaps_a = a.Run(1); });
  const int overlaps_b = b.Run(1);
  t.join();
  EXPECT_EQ(overlaps_a, 0);
  EXPECT_EQ(overlaps_b, 0);
}

TEST(FileIoTest, PositionsShortReadsAndSeeks) {
  TempDir dir;
  FilePtr f = Open(dir.File("io.dat"), kReadWrite);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(LastError(), kErrorSuccess);
  ASSERT_TRUE(WriteFile(f.get(), "hello world", 11));
  EXPECT_EQ(FilePosition(f.get()), 11u);
  EXPECT_TRUE(WriteFile(f.get(), nullptr, 0));

  uint32_t pos = 0;
  ASSERT_TRUE(SeekFile(f.get(), 6, kSeekBegin, &pos));
  EXPECT_EQ(pos, 6u);
  char buf[32] = {};
  // Without a count pointer a short read fails, yet moves the position.
  EXPECT_FALSE(ReadFile(f.get(), buf, 10, nullptr));
  EXPECT_EQ(LastError(), kErrorHandleEof);
  EXPECT_EQ(FilePosition(f.get()), 11u);
  EXPECT_EQ(std::string(buf, 5), "world");
  // With one it succeeds and reports what came; at the end, 0 bytes.
  uint32_t got = 99;
  ASSERT_TRUE(SeekFile(f.get(), -5, kSeekCurrent, &pos));
  EXPECT_TRUE(ReadFile(f.get(), buf, 10, &got));
  EXPECT_EQ(got, 5u);
  EXPECT_TRUE(ReadFile(f.get(), buf, 10, &got));
  EXPECT_EQ(got, 0u);

  EXPECT_FALSE(SeekFile(f.get(), -1, kSeekBegin, &pos));
  EXPECT_EQ(LastError(), kErrorNegativeSeek);
  EXPECT_FALSE(SeekFile(f.get(), -12, kSeekEnd, &pos));
  EXPECT_EQ(LastError(), kErrorNegativeSeek);
  EXPECT_FALSE(SeekFile(f.get(), 0, 3, &pos));
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_EQ(FilePosition(f.get()), 11u);  // failed seeks do not move
  ASSERT_TRUE(SeekFile(f.get(), -2, kSeekEnd, &pos));
  EXPECT_EQ(pos, 9u);

  // Positioned forms leave the position after the transfer; a write past
  // the end fills the gap with zeros.
  ASSERT_TRUE(WriteFileAt(f.get(), 14, "!", 1));
  EXPECT_EQ(FilePosition(f.get()), 15u);
  ASSERT_TRUE(ReadFileAt(f.get(), 10, buf, 5, nullptr));
  EXPECT_EQ(std::string(buf, 5), std::string("d\0\0\0!", 5));
  EXPECT_EQ(FilePosition(f.get()), 15u);

  ASSERT_TRUE(SeekFile(f.get(), 5, kSeekBegin, nullptr));
  ASSERT_TRUE(SetEndOfFile(f.get()));
  uint32_t size = 0;
  ASSERT_TRUE(FileSize(f.get(), &size));
  EXPECT_EQ(size, 5u);
  EXPECT_TRUE(FlushFile(f.get()));

  // Access is enforced per handle.
  FilePtr reader =
      Open(dir.File("io.dat"), kFileRead | kFileShareBoth | kFileOpenExisting);
  ASSERT_EQ(reader, nullptr);  // the first handle shares nothing
  f.reset();
  reader = Open(dir.File("io.dat"), kFileRead | kFileOpenExisting);
  ASSERT_NE(reader, nullptr);
  EXPECT_FALSE(WriteFile(reader.get(), "x", 1));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_FALSE(SetEndOfFile(reader.get()));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
}

TEST(FileIoTest, OpenErrors) {
  TempDir dir;
  EXPECT_EQ(Open(dir.File("missing.dat"), kReadWrite | kFileOpenExisting),
            nullptr);
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_EQ(Open(dir.File("nodir/x.dat"), kReadWrite), nullptr);
  EXPECT_EQ(LastError(), kErrorPathNotFound);
  EXPECT_EQ(Open(dir.path(), kFileRead | kFileOpenExisting), nullptr);
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_EQ(OpenFile(nullptr, kFileRead), nullptr);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_EQ(Open(dir.File("x"), kFileRead | 0x10), nullptr);
  EXPECT_EQ(LastError(), kErrorInvalidParameter);
  EXPECT_FALSE(CloseFile(nullptr));
  EXPECT_EQ(LastError(), kErrorInvalidHandle);
}

TEST(FileNameTest, DeleteAndRename) {
  TempDir dir;
  const std::string a = dir.File("a.dat");
  const std::string b = dir.File("b.dat");
  WriteWholeFile(a, "A");
  WriteWholeFile(b, "B");

  EXPECT_FALSE(RemoveFile(dir.File("none.dat").c_str()));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_EQ(RuntimeErrno(), 2);
  EXPECT_FALSE(RenameFile(a.c_str(), b.c_str()));
  EXPECT_EQ(LastError(), kErrorAlreadyExists);
  EXPECT_EQ(RuntimeErrno(), 17);
  EXPECT_FALSE(RenameFile(dir.File("none.dat").c_str(), b.c_str()));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  EXPECT_FALSE(RenameFile(a.c_str(), dir.File("nodir/c.dat").c_str()));
  EXPECT_EQ(LastError(), kErrorPathNotFound);
  EXPECT_FALSE(RemoveFile(dir.path().c_str()));
  EXPECT_EQ(LastError(), kErrorAccessDenied);

  {
    // Open here, even with full sharing: neither delete nor rename.
    FilePtr f = Open(a, kFileRead | kFileShareBoth | kFileOpenExisting);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(RemoveFile(a.c_str()));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
    EXPECT_EQ(RuntimeErrno(), 13);
    EXPECT_FALSE(RenameFile(a.c_str(), dir.File("c.dat").c_str()));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
  }
  // Open in another process: the same.
  File* held = nullptr;  // the child's own copy
  ChildProcess child([&](int step) {
    if (step == 1)
      held =
          OpenFile(b.c_str(), kFileRead | kFileShareBoth | kFileOpenExisting);
    if (step == 2) CloseFile(held);
    return 0;
  });
  child.Run(1);
  EXPECT_FALSE(RemoveFile(b.c_str()));
  EXPECT_EQ(LastError(), kErrorSharingViolation);
  child.Run(2);
  EXPECT_TRUE(RemoveFile(b.c_str()));
  EXPECT_EQ(LastError(), kErrorSuccess);
  EXPECT_FALSE(FileExists(b.c_str()));

  ASSERT_TRUE(RenameFile(a.c_str(), b.c_str()));
  EXPECT_EQ(ReadWholeFile(b), "A");
  EXPECT_FALSE(FileExists(a.c_str()));
  // A rename that only changes case renames the file itself.
  ASSERT_TRUE(RenameFile(b.c_str(), dir.File("B.DAT").c_str()));
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  ASSERT_EQ(names.size(), 1u);
  // Wine keeps the old case of a case-only rename; Windows and POSIX
  // take the new one.
  if (qx::testing::CaseSensitiveFileNames()) {
    EXPECT_EQ(names[0], "B.DAT");
  }
}

// The step that puts a rewritten file in place of the old one: the name
// is never missing, and neither file may be open anywhere.
TEST(FileNameTest, ReplaceByRename) {
  TempDir dir;
  const std::string work = dir.File("1.dbf"), table = dir.File("t.dbf");
  WriteWholeFile(work, "new");
  WriteWholeFile(table, "old");
  {
    FilePtr f = Open(table, kFileRead | kFileShareBoth | kFileOpenExisting);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(ReplaceFileByRename(work.c_str(), table.c_str()));
    EXPECT_EQ(LastError(), kErrorAccessDenied);
  }
  {
    FilePtr f = Open(work, kFileRead | kFileShareBoth | kFileOpenExisting);
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(ReplaceFileByRename(work.c_str(), table.c_str()));
    EXPECT_EQ(LastError(), kErrorSharingViolation);
  }
  EXPECT_EQ(ReadWholeFile(table), "old");
  ASSERT_TRUE(ReplaceFileByRename(work.c_str(), table.c_str()));
  EXPECT_EQ(LastError(), kErrorSuccess);
  EXPECT_EQ(ReadWholeFile(table), "new");
  EXPECT_FALSE(FileExists(work.c_str()));

  EXPECT_FALSE(ReplaceFileByRename(work.c_str(), table.c_str()));
  EXPECT_EQ(LastError(), kErrorFileNotFound);
  // No file under the new name: a plain rename.
  ASSERT_TRUE(ReplaceFileByRename(table.c_str(), work.c_str()));
  EXPECT_EQ(ReadWholeFile(work), "new");
  std::filesystem::create_directory(dir.File("sub"));
  EXPECT_FALSE(ReplaceFileByRename(work.c_str(), dir.File("sub").c_str()));
  EXPECT_EQ(LastError(), kErrorAccessDenied);
  EXPECT_EQ(ReadWholeFile(work), "new");
}

TEST(FileNameTest, CaseInsensitiveAnsiAndBackslashNames) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("SubDir"));
  WriteWholeFile(dir.File("SubDir/Data.DBF"), "data");
  // Any case of any component, '\' between components.
  const std::string folded = dir.path() + "\\subdir\\DATA.dbf";
  EXPECT_TRUE(FileExists(folded.c_str()));
  EXPECT_TRUE(DirectoryExists((dir.path() + "\\SUBDIR").c_str()));
  EXPECT_FALSE(DirectoryExists(folded.c_str()));
  {
    FilePtr f = Open(folded, kFileRead | kFileOpenExisting);
    ASSERT_NE(f, nullptr);
    char buf[4];
    ASSERT_TRUE(ReadFile(f.get(), buf, 4, nullptr));
    EXPECT_EQ(std::string(buf, 4), "data");
  }
  // Creating under another case reuses the existing file (CREATE_ALWAYS
  // truncates it) instead of adding a second name.
  {
    FilePtr f = Open(folded, kReadWrite);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(WriteFile(f.get(), "new", 3));
  }
  EXPECT_EQ(ReadWholeFile(dir.File("SubDir/Data.DBF")), "new");
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(dir.File("SubDir")),
                    std::filesystem::directory_iterator()),
      1);

  // The exact name wins over other cases, where two such names can exist.
  if (qx::testing::CaseSensitiveFileNames()) {
    WriteWholeFile(dir.File("a.txt"), "lower");
    WriteWholeFile(dir.File("A.txt"), "upper");
    FilePtr exact = Open(dir.File("a.txt"), kFileRead | kFileOpenExisting);
    ASSERT_NE(exact, nullptr);
    char buf[5];
    ASSERT_TRUE(ReadFile(exact.get(), buf, 5, nullptr));
    EXPECT_EQ(std::string(buf, 5), "lower");
  }

  // Code page 1252 names: "\xC9t\xE9" is "Été", stored as UTF-8 and
  // matched in any case ("éTÉ").
  {
    FilePtr f = Open(dir.path() + "/\xC9t\xE9.txt", kReadWrite);
    ASSERT_NE(f, nullptr);
  }
  EXPECT_TRUE(std::filesystem::exists(
      qx::testing::Utf8Path(dir.File("\xC3\x89t\xC3\xA9.txt"))));
  EXPECT_TRUE(FileExists((dir.path() + "/\xE9T\xC9.TXT").c_str()));
  // FileExists does not touch the last error.
  SetLastError(kErrorLockViolation);
  EXPECT_FALSE(FileExists(dir.File("nothing").c_str()));
  EXPECT_EQ(LastError(), kErrorLockViolation);
}

TEST(FileHandleTest, ReserveRoomForMoreThan1024Files) {
  TempDir dir;
  // In a child, so the lowered limit does not outlive the test.
  const int rc = RunInChild([&] {
    if (qx::testing::OpenFileHardLimit() < 1200) return 77;
    if (!qx::testing::LowerOpenFileLimit(256)) return 2;
    ReserveFileHandles(1100);
    ReserveFileHandles(1100);  // idempotent
    if (LastError() != kErrorSuccess) return 3;
    std::vector<File*> files;
    for (int i = 0; i < 1100; ++i) {
      const std::string name = dir.File(std::to_string(i) + ".dat");
      File* f = OpenFile(name.c_str(), kReadWrite);
      if (f == nullptr) return 4;
      files.push_back(f);
    }
    for (File* f : files) {
      if (!CloseFile(f)) return 5;
    }
    return 0;
  });
  if (rc == 77) GTEST_SKIP() << "hard descriptor limit below 1200";
  EXPECT_EQ(rc, 0);
}

}  // namespace
}  // namespace qx::platform
