// Files and byte-range locks on Windows: CreateFileW with the caller's
// share mode, transfers at explicit offsets, LockFile/LockFileEx/UnlockFile
// and DeleteFileW/MoveFileW. The system enforces share modes, lock
// conflicts between handles and processes, and the refusal to delete or
// rename an open file (no handle is ever opened with FILE_SHARE_DELETE);
// this file adds only what the platform contract says beyond the raw calls:
// names in code page 1252 whatever the machine's ANSI code page, a file
// position kept per File (every transfer names its offset), 32-bit sizes,
// and critical-error boxes switched off around opens and deletes.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <limits>
#include <new>
#include <string>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/win32/win32_util.h"

namespace qx::platform {

using internal::Fail;
using win32::FailWithSystemError;
using win32::WideFromAnsi;

struct File {
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool can_read = false;   // GENERIC_READ was asked for
  bool can_write = false;  // GENERIC_WRITE was asked for
  uint32_t position = 0;   // bytes from the start of the file
};

namespace {

constexpr uint64_t kMaxFileSize = std::numeric_limits<uint32_t>::max();

// SetErrorMode for the length of a scope: a missing floppy or an unready
// drive fails the call instead of showing a system box to the user.
class QuietErrors {
 public:
  QuietErrors()
      : previous_(
            ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX)) {}
  ~QuietErrors() { ::SetErrorMode(previous_); }
  QuietErrors(const QuietErrors&) = delete;
  QuietErrors& operator=(const QuietErrors&) = delete;

 private:
  UINT previous_;
};

OVERLAPPED At(uint32_t offset) {
  OVERLAPPED at = {};
  at.Offset = offset;
  return at;
}

bool FailNameChange() {
  const DWORD error = ::GetLastError();
  internal::RecordRuntimeError(error);
  return FailWithSystemError(error);
}

}  // namespace

// ---------------------------------------------------------------------------
// Open and close

File* OpenFile(const char* name, uint32_t access) {
  constexpr uint32_t kKnownBits = kFileRead | kFileWrite | kFileShareRead |
                                  kFileShareWrite | kFileShareBoth |
                                  kFileOpenExisting;
  if (name == nullptr || (access & ~kKnownBits) != 0) {
    Fail(kErrorInvalidParameter);
    return nullptr;
  }
  if (*name == '\0') {
    Fail(kErrorPathNotFound);
    return nullptr;
  }
  DWORD desired = 0;
  if (access & kFileRead) desired |= GENERIC_READ;
  if (access & kFileWrite) desired |= GENERIC_WRITE;
  DWORD share = 0;
  if (access & (kFileShareRead | kFileShareBoth)) share |= FILE_SHARE_READ;
  if (access & (kFileShareWrite | kFileShareBoth)) share |= FILE_SHARE_WRITE;
  const DWORD disposition =
      (access & kFileOpenExisting) ? OPEN_EXISTING : CREATE_ALWAYS;
  const std::wstring wide = WideFromAnsi(name);
  HANDLE handle;
  {
    QuietErrors quiet;
    handle = ::CreateFileW(wide.c_str(), desired, share, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) {
    FailWithSystemError();
    return nullptr;
  }
  File* file = new (std::nothrow) File;
  if (file == nullptr) {
    ::CloseHandle(handle);
    Fail(kErrorNotEnoughMemory);
    return nullptr;
  }
  file->handle = handle;
  file->can_read = (access & kFileRead) != 0;
  file->can_write = (access & kFileWrite) != 0;
  SetLastError(kErrorSuccess);
  return file;
}

bool CloseFile(File* file) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  const BOOL ok = ::CloseHandle(file->handle);
  delete file;
  if (!ok) return FailWithSystemError();
  SetLastError(kErrorSuccess);
  return true;
}

// ---------------------------------------------------------------------------
// Read, write and seek

bool ReadFileAt(File* file, uint32_t offset, void* buffer, uint32_t count,
                uint32_t* bytes_read) {
  if (bytes_read) *bytes_read = 0;
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!file->can_read) return Fail(kErrorAccessDenied);
  if (buffer == nullptr && count != 0) return Fail(kErrorInvalidParameter);
  auto* bytes = static_cast<char*>(buffer);
  uint32_t done = 0;
  // One call normally moves everything; a pipe-like short count loops.
  while (done < count) {
    OVERLAPPED at = At(offset + done);
    DWORD n = 0;
    if (!::ReadFile(file->handle, bytes + done, count - done, &n, &at)) {
      // Reading at or past the end through an offset reports end of file.
      if (::GetLastError() == ERROR_HANDLE_EOF) break;
      file->position = offset + done;
      if (bytes_read) *bytes_read = done;
      return FailWithSystemError();
    }
    if (n == 0) break;
    done += n;
  }
  file->position = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{offset} + done, kMaxFileSize));
  if (bytes_read) *bytes_read = done;
  if (done < count && bytes_read == nullptr) return Fail(kErrorHandleEof);
  SetLastError(kErrorSuccess);
  return true;
}

bool ReadFile(File* file, void* buffer, uint32_t count, uint32_t* bytes_read) {
  if (file == nullptr) {
    if (bytes_read) *bytes_read = 0;
    return Fail(kErrorInvalidHandle);
  }
  return ReadFileAt(file, file->position, buffer, count, bytes_read);
}

bool WriteFileAt(File* file, uint32_t offset, const void* buffer,
                 uint32_t count) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!file->can_write) return Fail(kErrorAccessDenied);
  if (count == 0) {
    file->position = offset;
    SetLastError(kErrorSuccess);
    return true;
  }
  if (buffer == nullptr) return Fail(kErrorInvalidParameter);
  if (uint64_t{offset} + count > kMaxFileSize) return Fail(kErrorDiskFull);
  const auto* bytes = static_cast<const char*>(buffer);
  uint32_t done = 0;
  while (done < count) {
    OVERLAPPED at = At(offset + done);
    DWORD n = 0;
    if (!::WriteFile(file->handle, bytes + done, count - done, &n, &at)) {
      file->position = offset + done;
      return FailWithSystemError();
    }
    if (n == 0) break;
    done += n;
  }
  file->position = offset + done;
  if (done < count) return Fail(kErrorDiskFull);
  SetLastError(kErrorSuccess);
  return true;
}

bool WriteFile(File* file, const void* buffer, uint32_t count) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  return WriteFileAt(file, file->position, buffer, count);
}

bool FileSize(File* file, uint32_t* size) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (size == nullptr) return Fail(kErrorInvalidParameter);
  LARGE_INTEGER bytes;
  if (!::GetFileSizeEx(file->handle, &bytes)) return FailWithSystemError();
  if (static_cast<uint64_t>(bytes.QuadPart) > kMaxFileSize) {
    return Fail(kErrorInvalidParameter);  // not a file of ours
  }
  *size = static_cast<uint32_t>(bytes.QuadPart);
  SetLastError(kErrorSuccess);
  return true;
}

uint32_t FilePosition(const File* file) {
  return file == nullptr ? 0 : file->position;
}

void internal::SetFilePosition(File* file, uint32_t position) {
  file->position = position;
}

bool SetEndOfFile(File* file) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!file->can_write) return Fail(kErrorAccessDenied);
  LARGE_INTEGER to;
  to.QuadPart = file->position;
  if (!::SetFilePointerEx(file->handle, to, nullptr, FILE_BEGIN) ||
      !::SetEndOfFile(file->handle)) {
    return FailWithSystemError();
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool FlushFile(File* file) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!file->can_write) return Fail(kErrorAccessDenied);
  if (!::FlushFileBuffers(file->handle)) return FailWithSystemError();
  SetLastError(kErrorSuccess);
  return true;
}

// ---------------------------------------------------------------------------
// Delete, rename and attributes

bool RemoveFile(const char* name) {
  if (name == nullptr) return Fail(kErrorInvalidParameter);
  QuietErrors quiet;
  if (!::DeleteFileW(WideFromAnsi(name).c_str())) return FailNameChange();
  SetLastError(kErrorSuccess);
  return true;
}

bool RenameFile(const char* old_name, const char* new_name) {
  if (old_name == nullptr || new_name == nullptr) {
    return Fail(kErrorInvalidParameter);
  }
  QuietErrors quiet;
  if (!::MoveFileW(WideFromAnsi(old_name).c_str(),
                   WideFromAnsi(new_name).c_str())) {
    return FailNameChange();
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool ReplaceFileByRename(const char* old_name, const char* new_name) {
  if (old_name == nullptr || new_name == nullptr) {
    return Fail(kErrorInvalidParameter);
  }
  QuietErrors quiet;
  if (!::MoveFileExW(WideFromAnsi(old_name).c_str(),
                     WideFromAnsi(new_name).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return FailNameChange();
  }
  SetLastError(kErrorSuccess);
  return true;
}

namespace {

// The attributes of a name, INVALID_FILE_ATTRIBUTES when it cannot be
// reached. The platform's last error is left alone.
DWORD Attributes(const char* name) {
  if (name == nullptr || *name == '\0') return INVALID_FILE_ATTRIBUTES;
  QuietErrors quiet;
  return ::GetFileAttributesW(WideFromAnsi(name).c_str());
}

}  // namespace

bool FileExists(const char* name) {
  const DWORD attributes = Attributes(name);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool DirectoryExists(const char* name) {
  const DWORD attributes = Attributes(name);
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileIdentity(const char* name, std::string* identity) {
  if (name == nullptr || identity == nullptr) return false;
  HANDLE handle;
  {
    QuietErrors quiet;
    // No access asked: the identity is readable even of a file opened
    // elsewhere without sharing.
    handle = ::CreateFileW(
        WideFromAnsi(name).c_str(), 0,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  }
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const BOOL ok = ::GetFileInformationByHandle(handle, &info);
  ::CloseHandle(handle);
  if (!ok) return false;
  *identity = std::to_string(info.dwVolumeSerialNumber) + ":" +
              std::to_string(info.nFileIndexHigh) + ":" +
              std::to_string(info.nFileIndexLow);
  return true;
}

// SetHandleCount has nothing to do on Win32: a process opens as many
// handles as memory allows.
void ReserveFileHandles(uint32_t) {}

// ---------------------------------------------------------------------------
// Byte-range locks: the system's own. They belong to the handle, never
// wait, conflict with any other handle (of this or another process) and
// with an overlapping range of the same handle, and go with the handle.

bool LockFile(File* file, uint32_t offset, uint32_t length) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!::LockFile(file->handle, offset, 0, length, 0)) {
    return FailWithSystemError();
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool LockFileShared(File* file, uint32_t offset, uint32_t length) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!file->can_read) return Fail(kErrorAccessDenied);
  OVERLAPPED at = At(offset);
  if (!::LockFileEx(file->handle, LOCKFILE_FAIL_IMMEDIATELY, 0, length, 0,
                    &at)) {
    return FailWithSystemError();
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool UnlockFile(File* file, uint32_t offset, uint32_t length) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!::UnlockFile(file->handle, offset, 0, length, 0)) {
    // An unlock conflicts with nothing: it fails only for a range the
    // handle does not hold exactly, which Windows reports as not locked
    // (Wine reports a lock violation).
    if (::GetLastError() == ERROR_LOCK_VIOLATION) {
      return Fail(kErrorNotLocked);
    }
    return FailWithSystemError();
  }
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace qx::platform
