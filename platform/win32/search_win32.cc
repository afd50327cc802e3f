// FindFirstFileW / FindNextFileW / FindClose on Windows. The system matches
// the pattern; each name it gives is matched again against the long name,
// because Windows also matches the 8.3 alias ("*.dbf" finds "x.dbfx"
// through "X~1.DBF"), which the platform contract excludes.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/win32/win32_util.h"

namespace qx::platform {

namespace {

// '*' any run, '?' exactly one, without regard to case; "*.*" everything.
bool Matches(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*") return true;
  size_t p = 0, n = 0, star = std::u16string_view::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() &&
        (pattern[p] == u'?' || internal::FoldCodePoint(pattern[p]) ==
                                   internal::FoldCodePoint(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

}  // namespace

struct FileSearch::Impl {
  ~Impl() {
    if (handle != INVALID_HANDLE_VALUE) ::FindClose(handle);
  }
  HANDLE handle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAW pending = {};  // the entry FindFirstFileExW gave
  bool has_pending = false;
  std::u16string name_pattern;
  bool include_directories = false;
};

FileSearch::FileSearch() = default;

FileSearch::~FileSearch() = default;

void FileSearch::Close() { impl_.reset(); }

bool FileSearch::First(std::u16string_view pattern, FoundFile* found,
                       bool include_directories) {
  Close();
  const size_t slash = pattern.find_last_of(u"\\/");
  const std::u16string_view name_pattern =
      slash == std::u16string_view::npos ? pattern : pattern.substr(slash + 1);
  if (name_pattern.empty()) return internal::Fail(kErrorFileNotFound);
  auto impl = std::make_unique<Impl>();
  {
    const UINT previous = ::SetErrorMode(SEM_FAILCRITICALERRORS);
    impl->handle = ::FindFirstFileExW(win32::WideFromUtf16(pattern).c_str(),
                                      FindExInfoBasic, &impl->pending,
                                      FindExSearchNameMatch, nullptr, 0);
    ::SetErrorMode(previous);
  }
  if (impl->handle == INVALID_HANDLE_VALUE) {
    // Nothing matching is "not found"; a directory part that is missing,
    // names a file or is malformed is "path not found", as the contract
    // has it (the system says 3, 123 or 267 for those).
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) {
      return internal::Fail(kErrorFileNotFound);
    }
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
        error == ERROR_DIRECTORY) {
      return internal::Fail(kErrorPathNotFound);
    }
    return internal::Fail(static_cast<uint32_t>(error));
  }
  impl->has_pending = true;
  impl->name_pattern = std::u16string(name_pattern);
  impl->include_directories = include_directories;
  impl_ = std::move(impl);
  if (Next(found)) return true;
  Close();
  return internal::Fail(kErrorFileNotFound);
}

bool FileSearch::Next(FoundFile* found) {
  if (impl_ == nullptr) return internal::Fail(kErrorInvalidHandle);
  for (;;) {
    if (!impl_->has_pending) {
      if (!::FindNextFileW(impl_->handle, &impl_->pending)) {
        return internal::Fail(kErrorNoMoreFiles);
      }
    }
    impl_->has_pending = false;
    const WIN32_FIND_DATAW& entry = impl_->pending;
    const std::u16string name = win32::Utf16FromWide(entry.cFileName);
    if (name == u"." || name == u"..") continue;
    if (!Matches(impl_->name_pattern, name)) continue;
    const bool is_directory =
        (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_directory && !impl_->include_directories) continue;
    if (found != nullptr) {
      found->name = name;
      found->is_directory = is_directory;
      found->size = is_directory ? 0
                                 : (uint64_t{entry.nFileSizeHigh} << 32) |
                                       entry.nFileSizeLow;
    }
    SetLastError(kErrorSuccess);
    return true;
  }
}

}  // namespace qx::platform
