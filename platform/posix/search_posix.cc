// FindFirstFileW / FindNextFileW / FindClose on POSIX: a directory stream
// read in the kernel's order, each name tested against the pattern without
// regard to case. The directory part of the pattern is found as file names
// are (an exact name wins, else a case-insensitive match per component).

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/posix/path_posix.h"

namespace qx::platform {

struct FileSearch::Impl {
  ~Impl() {
    if (dir != nullptr) ::closedir(dir);
  }
  DIR* dir = nullptr;
  std::string name_pattern;  // UTF-8, the file-name part
  bool include_directories = false;
};

FileSearch::FileSearch() = default;

FileSearch::~FileSearch() = default;

void FileSearch::Close() { impl_.reset(); }

bool FileSearch::First(std::u16string_view pattern, FoundFile* found,
                       bool include_directories) {
  Close();
  std::string utf8 = Utf16ToUtf8(pattern);
  const size_t slash = utf8.find_last_of("\\/");
  std::string directory;
  std::string name_pattern = utf8;
  if (slash != std::string::npos) {
    // Keep the root's separator: "/x" searches "/", not "".
    directory = utf8.substr(0, slash == 0 ? 1 : slash);
    name_pattern = utf8.substr(slash + 1);
  }
  if (name_pattern.empty()) return internal::Fail(kErrorFileNotFound);
  directory = directory.empty() ? "." : posix::ResolveUtf8Path(directory);
  auto impl = std::make_unique<Impl>();
  impl->dir = ::opendir(directory.c_str());
  if (impl->dir == nullptr) {
    return internal::Fail(errno == ENOTDIR || errno == ENOENT
                              ? kErrorPathNotFound
                              : posix::WinErrorFromErrno(errno));
  }
  impl->name_pattern = std::move(name_pattern);
  impl->include_directories = include_directories;
  impl_ = std::move(impl);
  if (Next(found)) return true;
  Close();
  return internal::Fail(kErrorFileNotFound);
}

bool FileSearch::Next(FoundFile* found) {
  if (impl_ == nullptr) return internal::Fail(kErrorInvalidHandle);
  while (const dirent* entry = ::readdir(impl_->dir)) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    if (!posix::MatchesWildcardIgnoringCase(impl_->name_pattern, name)) {
      continue;
    }
    // The entry may go between readdir and stat; it is then not found.
    struct stat st;
    if (::fstatat(::dirfd(impl_->dir), entry->d_name, &st, 0) != 0) continue;
    const bool is_directory = S_ISDIR(st.st_mode);
    if (is_directory && !impl_->include_directories) continue;
    if (found != nullptr) {
      found->name = Utf8ToUtf16(name);
      found->is_directory = is_directory;
      found->size = is_directory ? 0 : static_cast<uint64_t>(st.st_size);
    }
    SetLastError(kErrorSuccess);
    return true;
  }
  return internal::Fail(kErrorNoMoreFiles);
}

}  // namespace qx::platform
