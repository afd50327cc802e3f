// Windows file handles on POSIX: CreateFileA share modes, per-handle
// positions, LockFile byte ranges and DeleteFileA/MoveFileA refusal on open
// files, all between handles of one process and between processes.
//
// Divisions: the File object; errno and lock helpers; share-mode claims;
// open and close; read, write and seek; delete, rename and attributes;
// byte-range locks.
//
// Every handle is its own open file description (its own open() call), and
// every lock is an open-file-description lock (F_OFD_*): owned by the
// handle, not by the process, so two handles of one process exclude each
// other as on Windows, and closing one handle never drops the locks of
// another (classic POSIX record locks would do both wrong).
//
// Lock chart. Share modes live in OFD locks on sentinel bytes at
// kShareBase = 2^62, far beyond any data byte and any LockFile range
// (those end below 2^33):
//
//   byte             kind held             meaning
//   kShareBase + 0   exclusive, briefly    gate: one open/delete/rename
//                                          check at a time per file
//   kShareBase + 1   shared, while open    the file is open (with read
//                                          or write access: Windows
//                                          ignores opens without either)
//   kShareBase + 2   shared, while open    this handle has read access
//   kShareBase + 3   shared, while open    this handle has write access
//   kShareBase + 4   shared, while open    this handle denies reading
//   kShareBase + 5   shared, while open    this handle denies writing
//
// Windows admits a new open (access A, share S) iff for every open already
// there (A', S'): A is within S' and A' is within S. Open, in order:
//   1. open() the file; for CREATE_ALWAYS with O_CREAT but never O_TRUNC.
//   2. Take the gate (F_OFD_SETLKW: waits only for another claim's few
//      system calls).
//   3. Take our own markers (shared locks on bytes 1 and 2..5 as A and S
//      say).
//   4. Probe the markers our open conflicts with (F_OFD_GETLK for a write
//      lock reports any other handle's shared lock there): "denies read"
//      if A reads, "denies write" if A writes, "has read" unless S shares
//      reading, "has write" unless S shares writing. On a conflict drop our
//      markers: the open fails with kErrorSharingViolation and nothing of
//      it stays held.
//   5. Check the name still leads to the inode we opened (a delete or
//      rename may have run between 1 and 2); if not, drop the markers and
//      start again from 1.
//   6. Drop the gate; only now may CREATE_ALWAYS truncate, so a refused
//      open never destroys the file another handle has open.
// Delete and rename open the file, take the gate, probe "is open" and
// unlink or rename while still holding the gate, so no open can claim the
// file between the probe and the change (step 5 catches an open whose
// open() came first).
//
// Taking our markers before probing (3 before 4) keeps the check sound
// even without the gate: of two racing opens, the later probe sees the
// other's markers, so both may fail but never both succeed. That matters
// for handles whose file could only be opened read-only (no write
// permission): an O_RDONLY descriptor cannot take the exclusive gate or
// exclusive byte-range locks, so such handles claim without the gate and
// lock ranges with a shared lock plus a probe for any other holder, with
// the same "both may fail, never both succeed" guarantee. Every handle we
// can open read-write (the usual case) uses the gate and true exclusive
// locks. A delete or rename of a file we may not write probes without the
// gate, so an open racing with it can, rarely, end up holding the removed
// file; a file we cannot open at all is removed unprobed.
//
// Closing a handle first unlocks the whole file through its description,
// then closes it: a child that inherited the descriptor across fork()
// must not keep the handle's locks and share claim alive.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_internal.h"
#include "platform/posix/path_posix.h"

namespace qx::platform {

using internal::Fail;

// ---------------------------------------------------------------------------
// The File object

namespace {

// A range held by LockFile, half-open [offset, offset + length) in bytes.
struct HeldRange {
  uint32_t offset;
  uint32_t length;
  bool shared = false;  // LockFileShared; else exclusive
};

}  // namespace

struct File {
  int fd = -1;
  bool can_read = false;   // GENERIC_READ was asked for
  bool can_write = false;  // GENERIC_WRITE was asked for
  // The descriptor is O_RDWR, so it can take exclusive OFD locks. False
  // only for files this process may not write (see the top comment).
  bool fd_writable = false;
  uint32_t position = 0;         // bytes from the start of the file
  std::vector<HeldRange> locks;  // ranges this handle holds, disjoint
};

namespace {

// ---------------------------------------------------------------------------
// errno and lock helpers

// The share-mode bytes of the lock chart. Every process using the files
// must agree on them: moving them breaks share modes against a build with
// the old value running at the same time. 2^62 is far past any offset a
// 32-bit interface can name and below the kernel's largest lock offset.
constexpr off_t kShareBase = off_t{1} << 62;
constexpr off_t kGateByte = kShareBase + 0;
constexpr off_t kOpenByte = kShareBase + 1;
constexpr off_t kHasReadByte = kShareBase + 2;
constexpr off_t kHasWriteByte = kShareBase + 3;
constexpr off_t kDeniesReadByte = kShareBase + 4;
constexpr off_t kDeniesWriteByte = kShareBase + 5;
constexpr off_t kShareBytes = 6;

// Files stay below 4 GiB: positions and sizes are 32-bit.
constexpr uint64_t kMaxFileSize = std::numeric_limits<uint32_t>::max();

// How often an open restarts when the name moved to another inode between
// open() and the share claim; each restart needs a concurrent delete or
// rename, so a handful is plenty.
constexpr int kMaxOpenAttempts = 16;

// Descriptors beyond the caller's count, for the rest of the process.
constexpr rlim_t kSpareDescriptors = 64;

bool FailErrno(int error) { return Fail(posix::WinErrorFromErrno(error)); }

// fcntl with an OFD lock request, retrying EINTR; 0 or errno.
int OfdLock(int fd, int command, short type, off_t start, off_t length,
            short* found_type = nullptr) {
  struct flock fl = {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = length;
  fl.l_pid = 0;  // required for OFD commands
  int rc;
  do {
    rc = ::fcntl(fd, command, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return errno;
  if (found_type) *found_type = fl.l_type;
  return 0;
}

// True when some other open file description holds any lock overlapping
// [start, start + length): the kernel answers F_OFD_GETLK for a write lock
// with the first conflicting lock, ignoring our own description's locks.
bool OthersHold(int fd, off_t start, off_t length) {
  short found = F_UNLCK;
  if (OfdLock(fd, F_OFD_GETLK, F_WRLCK, start, length, &found) != 0) {
    return true;  // cannot tell: refuse rather than corrupt
  }
  return found != F_UNLCK;
}

void Unlock(int fd, off_t start, off_t length) {
  OfdLock(fd, F_OFD_SETLK, F_UNLCK, start, length);
}

// Holds the gate byte for a scope when the descriptor can take it.
class GateLock {
 public:
  GateLock(int fd, bool writable) : fd_(fd) {
    held_ = writable && OfdLock(fd_, F_OFD_SETLKW, F_WRLCK, kGateByte, 1) == 0;
  }
  ~GateLock() {
    if (held_) Unlock(fd_, kGateByte, 1);
  }
  GateLock(const GateLock&) = delete;
  GateLock& operator=(const GateLock&) = delete;

 private:
  int fd_;
  bool held_;
};

// Closes a descriptor at scope end unless released.
class ScopedFd {
 public:
  explicit ScopedFd(int fd) : fd_(fd) {}
  ~ScopedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  ScopedFd(const ScopedFd&) = delete;
  ScopedFd& operator=(const ScopedFd&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when path still names the file open on fd.
bool PathNamesFd(const std::string& path, int fd) {
  struct stat by_path, by_fd;
  return ::stat(path.c_str(), &by_path) == 0 && ::fstat(fd, &by_fd) == 0 &&
         SameInode(by_path, by_fd);
}

// Opens path read-write, or read-only when that is refused and
// read_only_ok; *writable tells which. -1 with errno on failure.
int OpenDescriptor(const std::string& path, int extra_flags, bool read_only_ok,
                   bool* writable) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | extra_flags, 0666);
  } while (fd < 0 && errno == EINTR);
  *writable = fd >= 0;
  if (fd < 0 && read_only_ok && (errno == EACCES || errno == EROFS)) {
    do {
      fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | extra_flags);
    } while (fd < 0 && errno == EINTR);
  }
  return fd;
}

// ---------------------------------------------------------------------------
// Share-mode claims

enum class Claim { kTaken, kSharingViolation, kNameMoved };

struct ShareRequest {
  bool read;  // access asked for
  bool write;
  bool share_read;  // what other handles may do
  bool share_write;
};

// Steps 2 to 5 of the chart. On kTaken the handle holds its markers; on
// anything else it holds nothing.
Claim ClaimShare(int fd, bool writable, const std::string& path,
                 const ShareRequest& req) {
  // Windows neither checks nor records the share mode of an open that
  // asks for no data access.
  if (!req.read && !req.write) return Claim::kTaken;
  GateLock gate(fd, writable);

  const struct {
    bool wanted;
    off_t byte;
  } markers[] = {
      {true, kOpenByte},
      {req.read, kHasReadByte},
      {req.write, kHasWriteByte},
      {!req.share_read, kDeniesReadByte},
      {!req.share_write, kDeniesWriteByte},
  };
  bool ok = true;
  for (const auto& m : markers) {
    if (m.wanted && OfdLock(fd, F_OFD_SETLK, F_RDLCK, m.byte, 1) != 0) {
      ok = false;  // someone holds a write lock here: not one of ours
    }
  }
  if (ok) {
    ok = !(req.read && OthersHold(fd, kDeniesReadByte, 1)) &&
         !(req.write && OthersHold(fd, kDeniesWriteByte, 1)) &&
         !(!req.share_read && OthersHold(fd, kHasReadByte, 1)) &&
         !(!req.share_write && OthersHold(fd, kHasWriteByte, 1));
  }
  if (!ok) {
    Unlock(fd, kOpenByte, kShareBytes - 1);
    return Claim::kSharingViolation;
  }
  if (!PathNamesFd(path, fd)) {
    Unlock(fd, kOpenByte, kShareBytes - 1);
    return Claim::kNameMoved;
  }
  return Claim::kTaken;
}

// The file open on fd is open through a handle of any process. The caller
// holds the gate through fd, or cannot take it (see the top comment).
bool FileIsOpen(int fd) { return OthersHold(fd, kOpenByte, 1); }

// Transfers count bytes at offset with pread/pwrite semantics, retrying
// EINTR and continuing short transfers; stops at end of file (read) or the
// first error. Answers the bytes moved; *error gets errno or 0.
template <typename Op>
uint32_t Transfer(Op op, uint32_t offset, uint32_t count, int* error) {
  uint32_t done = 0;
  *error = 0;
  while (done < count) {
    ssize_t n = op(done, static_cast<off_t>(offset) + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = errno;
      break;
    }
    if (n == 0) break;
    done += static_cast<uint32_t>(n);
  }
  return done;
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
  if (internal::NextFault(faults::Op::kOpen) != internal::FaultAction::kNone) {
    Fail(kErrorAccessDenied);
    return nullptr;
  }
  const ShareRequest req = {
      (access & kFileRead) != 0,
      (access & kFileWrite) != 0,
      (access & (kFileShareRead | kFileShareBoth)) != 0,
      (access & (kFileShareWrite | kFileShareBoth)) != 0,
  };
  const bool create = (access & kFileOpenExisting) == 0;
  const std::string path = posix::ResolveAnsiPath(name);

  for (int attempt = 0; attempt < kMaxOpenAttempts; ++attempt) {
    // CREATE_ALWAYS truncates, which needs a writable descriptor whatever
    // access was asked for; an open for reading only settles for O_RDONLY
    // when the file refuses writing.
    bool writable = false;
    ScopedFd fd(OpenDescriptor(path, create ? O_CREAT : 0,
                               !create && !req.write, &writable));
    if (fd.get() < 0) {
      Fail(posix::WinErrorForPath(errno, path));
      return nullptr;
    }
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) {
      FailErrno(errno);
      return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {  // CreateFile on a directory
      Fail(kErrorAccessDenied);
      return nullptr;
    }
    switch (ClaimShare(fd.get(), writable, path, req)) {
      case Claim::kSharingViolation:
        Fail(kErrorSharingViolation);
        return nullptr;
      case Claim::kNameMoved:
        continue;
      case Claim::kTaken:
        break;
    }
    if (create && st.st_size != 0 && ::ftruncate(fd.get(), 0) != 0) {
      const int error = errno;
      Unlock(fd.get(), 0, 0);
      FailErrno(error);
      return nullptr;
    }
    File* file = new (std::nothrow) File;
    if (file == nullptr) {
      Unlock(fd.get(), 0, 0);
      Fail(kErrorNotEnoughMemory);
      return nullptr;
    }
    file->fd = fd.release();
    file->can_read = req.read;
    file->can_write = req.write;
    file->fd_writable = writable;
    SetLastError(kErrorSuccess);
    return file;
  }
  // The name kept moving under us: some other process is busy with it.
  Fail(kErrorSharingViolation);
  return nullptr;
}

bool CloseFile(File* file) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  Unlock(file->fd, 0, 0);  // l_len 0: every lock of this description
  const int rc = ::close(file->fd);
  const int error = errno;
  delete file;
  // close() fails only after releasing the descriptor (EINTR, EIO of a
  // late write-back); the handle is gone either way, as with CloseHandle.
  if (rc != 0 && error != EINTR) return FailErrno(error);
  SetLastError(kErrorSuccess);
  return true;
}

// ---------------------------------------------------------------------------
// Read, write and seek

// Hot: a record scan calls it once per record, with the engine's hot code.
[[gnu::hot]] bool ReadFileAt(File* file, uint32_t offset, void* buffer,
                             uint32_t count, uint32_t* bytes_read) {
  if (bytes_read) *bytes_read = 0;
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!file->can_read) return Fail(kErrorAccessDenied);
  if (buffer == nullptr && count != 0) return Fail(kErrorInvalidParameter);
  auto* bytes = static_cast<char*>(buffer);
  const int fd = file->fd;
  int error = 0;
  uint32_t wanted = count;
  if (count != 0) {
    switch (internal::NextFault(faults::Op::kRead)) {
      case internal::FaultAction::kNone:
        break;
      case internal::FaultAction::kFail:
      case internal::FaultAction::kRefuse:
        return Fail(kErrorReadFault);
      case internal::FaultAction::kShort:
        wanted = count / 2;
        break;
    }
  }
  const uint32_t done =
      Transfer([&](uint32_t at, off_t where,
                   uint32_t n) { return ::pread(fd, bytes + at, n, where); },
               offset, wanted, &error);
  // An offset past 4 GiB is beyond every file: nothing to read there.
  file->position = static_cast<uint32_t>(
      std::min<uint64_t>(uint64_t{offset} + done, kMaxFileSize));
  if (bytes_read) *bytes_read = done;
  if (error != 0) return FailErrno(error);
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
  const int fd = file->fd;
  int error = 0;
  uint32_t wanted = count;
  switch (internal::NextFault(faults::Op::kWrite)) {
    case internal::FaultAction::kNone:
      break;
    case internal::FaultAction::kFail:
    case internal::FaultAction::kRefuse:
      return Fail(kErrorDiskFull);
    case internal::FaultAction::kShort:
      wanted = count / 2;
      break;
  }
  const uint32_t done =
      Transfer([&](uint32_t at, off_t where,
                   uint32_t n) { return ::pwrite(fd, bytes + at, n, where); },
               offset, wanted, &error);
  file->position = offset + done;
  if (error != 0) return FailErrno(error);
  if (done < count) return Fail(kErrorDiskFull);  // pwrite wrote nothing
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
  struct stat st;
  if (::fstat(file->fd, &st) != 0) return FailErrno(errno);
  if (static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
    return Fail(kErrorInvalidParameter);  // not a file of ours
  }
  *size = static_cast<uint32_t>(st.st_size);
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
  if (internal::NextFault(faults::Op::kWrite) != internal::FaultAction::kNone)
    return Fail(kErrorDiskFull);
  int rc;
  do {
    rc = ::ftruncate(file->fd, file->position);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return FailErrno(errno);
  SetLastError(kErrorSuccess);
  return true;
}

bool FlushFile(File* file) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  // FlushFileBuffers refuses handles without write access.
  if (!file->can_write) return Fail(kErrorAccessDenied);
  if (internal::NextFault(faults::Op::kFlush) != internal::FaultAction::kNone)
    return Fail(kErrorWriteFault);
  int rc;
  do {
    rc = ::fdatasync(file->fd);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) return FailErrno(errno);
  SetLastError(kErrorSuccess);
  return true;
}

// ---------------------------------------------------------------------------
// Delete, rename and attributes

namespace {

// Fails a delete or rename: the system error and the runtime's errno.
bool FailNameChange(uint32_t error) {
  internal::RecordRuntimeError(error);
  return Fail(error);
}

// MoveFile across file systems: copy to a new file, then remove the
// source. The target is created exclusively, so an existing one is never
// overwritten; a failed copy removes its partial target.
uint32_t CopyThenRemove(const std::string& from, int from_fd,
                        const std::string& to) {
  struct stat st;
  if (::fstat(from_fd, &st) != 0) return posix::WinErrorFromErrno(errno);
  int to_fd;
  do {
    to_fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                   st.st_mode & 07777);
  } while (to_fd < 0 && errno == EINTR);
  if (to_fd < 0) {
    return errno == EEXIST ? kErrorAlreadyExists
                           : posix::WinErrorForPath(errno, to);
  }
  ScopedFd out(to_fd);
  char buffer[64 * 1024];
  uint32_t offset = 0;
  int error = 0;
  for (;;) {
    const uint32_t got = Transfer(
        [&](uint32_t at, off_t where, uint32_t n) {
          return ::pread(from_fd, buffer + at, n, where);
        },
        offset, sizeof buffer, &error);
    if (error != 0 || got == 0) break;
    Transfer([&](uint32_t at, off_t where,
                 uint32_t n) { return ::pwrite(to_fd, buffer + at, n, where); },
             offset, got, &error);
    if (error != 0) break;
    offset += got;
  }
  if (error == 0 && ::fsync(to_fd) != 0) error = errno;
  if (error == 0 && ::unlink(from.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(to.c_str());
    return posix::WinErrorFromErrno(error);
  }
  return kErrorSuccess;
}

// Renames without replacing: renameat2(RENAME_NOREPLACE) where the file
// system supports it, else a hard link plus unlink, which also refuses an
// existing target atomically.
uint32_t RenameNoReplace(const std::string& from, int from_fd,
                         const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return kErrorSuccess;
  }
  int error = errno;
  if (error == EINVAL || error == ENOSYS || error == EOPNOTSUPP) {
    if (::link(from.c_str(), to.c_str()) == 0) {
      if (::unlink(from.c_str()) == 0) return kErrorSuccess;
      error = errno;
      ::unlink(to.c_str());
      return posix::WinErrorFromErrno(error);
    }
    error = errno;
  }
  if (error == EEXIST) return kErrorAlreadyExists;
  if (error == EXDEV && from_fd >= 0) return CopyThenRemove(from, from_fd, to);
  // The source was there a moment ago: a missing name is the target's
  // directory.
  return posix::WinErrorForPath(error, error == ENOENT ? to : from);
}

// Opens path to probe its share markers (O_NONBLOCK: a FIFO must not
// stall the probe). *fd is -1 when the file cannot be opened (no
// permission to read or write it, a symbolic link, a directory): no handle
// of ours can have it open, so the change may go ahead unprobed.
uint32_t OpenForProbe(const std::string& path, int* fd, bool* writable) {
  *fd = OpenDescriptor(path, O_NOFOLLOW | O_NONBLOCK, true, writable);
  if (*fd >= 0) return kErrorSuccess;
  if (errno == EACCES || errno == ELOOP || errno == EISDIR) {
    return kErrorSuccess;  // unreadable, a symbolic link, or a directory
  }
  return posix::WinErrorForPath(errno, path);
}

}  // namespace

bool RemoveFile(const char* name) {
  if (name == nullptr) return FailNameChange(kErrorInvalidParameter);
  if (*name == '\0') return FailNameChange(kErrorPathNotFound);
  if (internal::NextFault(faults::Op::kRemove) != internal::FaultAction::kNone)
    return FailNameChange(kErrorAccessDenied);
  const std::string path = posix::ResolveAnsiPath(name);
  struct stat st;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    return FailNameChange(kErrorAccessDenied);  // DeleteFile on a directory
  }
  for (int attempt = 0; attempt < kMaxOpenAttempts; ++attempt) {
    int raw_fd = -1;
    bool writable = false;
    if (uint32_t e = OpenForProbe(path, &raw_fd, &writable); e != 0) {
      return FailNameChange(e);
    }
    ScopedFd fd(raw_fd);
    if (fd.get() >= 0) {
      GateLock gate(fd.get(), writable);
      if (FileIsOpen(fd.get())) return FailNameChange(kErrorSharingViolation);
      if (!PathNamesFd(path, fd.get())) continue;  // replaced meanwhile
      if (::unlink(path.c_str()) != 0) {
        return FailNameChange(posix::WinErrorForPath(errno, path));
      }
      SetLastError(kErrorSuccess);
      return true;
    }
    if (::unlink(path.c_str()) != 0) {
      return FailNameChange(posix::WinErrorForPath(errno, path));
    }
    SetLastError(kErrorSuccess);
    return true;
  }
  return FailNameChange(kErrorSharingViolation);
}

namespace {

// What every rename checks first: two names, neither empty (and, in the
// fault-injection build, whether this rename is the one to fail).
bool NamesMayChange(const char* old_name, const char* new_name) {
  if (old_name == nullptr || new_name == nullptr) {
    return FailNameChange(kErrorInvalidParameter);
  }
  if (*old_name == '\0' || *new_name == '\0') {
    return FailNameChange(kErrorPathNotFound);
  }
  if (internal::NextFault(faults::Op::kRename) != internal::FaultAction::kNone)
    return FailNameChange(kErrorAccessDenied);
  return true;
}

}  // namespace

bool RenameFile(const char* old_name, const char* new_name) {
  if (!NamesMayChange(old_name, new_name)) return false;
  const std::string from = posix::ResolveAnsiPath(old_name);
  // The target as an existing entry would be found (any case), and as
  // written, for a rename that only changes the case of a name.
  const std::string to_found = posix::ResolveAnsiPath(new_name);
  const std::string to_written = posix::ResolveAnsiPath(new_name, false);
  struct stat from_st, to_st;
  if (::lstat(from.c_str(), &from_st) != 0) {
    return FailNameChange(posix::WinErrorForPath(errno, from));
  }
  std::string to = to_found;
  bool case_change = false;
  if (::lstat(to_found.c_str(), &to_st) == 0) {
    // One entry (a single link) found under both names is the same file
    // named in another case, which MoveFile renames; anything else is a
    // different file, or a hard link, in the way. (A directory has more
    // links by nature, but only one entry.)
    if (!SameInode(from_st, to_st) ||
        (!S_ISDIR(from_st.st_mode) && from_st.st_nlink != 1) ||
        to_written == from) {
      return FailNameChange(kErrorAlreadyExists);
    }
    to = to_written;
    case_change = true;
  }
  // A case change renames plainly: RENAME_NOREPLACE would refuse it on a
  // case-insensitive file system, where the target "exists".
  auto move = [&](int fd) -> uint32_t {
    if (!case_change) return RenameNoReplace(from, fd, to);
    if (::rename(from.c_str(), to.c_str()) == 0) return kErrorSuccess;
    return posix::WinErrorForPath(errno, from);
  };
  for (int attempt = 0; attempt < kMaxOpenAttempts; ++attempt) {
    int raw_fd = -1;
    bool writable = false;
    if (uint32_t e = OpenForProbe(from, &raw_fd, &writable); e != 0) {
      return FailNameChange(e);
    }
    ScopedFd fd(raw_fd);
    uint32_t result;
    if (fd.get() >= 0) {
      GateLock gate(fd.get(), writable);
      if (FileIsOpen(fd.get())) return FailNameChange(kErrorSharingViolation);
      if (!PathNamesFd(from, fd.get())) continue;  // replaced meanwhile
      result = move(fd.get());
    } else {
      result = move(-1);
    }
    if (result != kErrorSuccess) return FailNameChange(result);
    SetLastError(kErrorSuccess);
    return true;
  }
  return FailNameChange(kErrorSharingViolation);
}

namespace {

// fsync of the directory holding path: a rename reaches the disk.
void SyncDirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos
                              ? "."
                              : (slash == 0 ? "/" : path.substr(0, slash));
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool ReplaceFileByRename(const char* old_name, const char* new_name) {
  if (!NamesMayChange(old_name, new_name)) return false;
  const std::string from = posix::ResolveAnsiPath(old_name);
  const std::string to = posix::ResolveAnsiPath(new_name);
  struct stat from_st, to_st;
  if (::lstat(from.c_str(), &from_st) != 0) {
    return FailNameChange(posix::WinErrorForPath(errno, from));
  }
  const bool target_exists = ::lstat(to.c_str(), &to_st) == 0;
  if (target_exists && S_ISDIR(to_st.st_mode)) {
    return FailNameChange(kErrorAccessDenied);
  }
  for (int attempt = 0; attempt < kMaxOpenAttempts; ++attempt) {
    // Neither file may be open anywhere: both are probed under their gates.
    int raw_from = -1, raw_to = -1;
    bool from_writable = false, to_writable = false;
    if (uint32_t e = OpenForProbe(from, &raw_from, &from_writable); e != 0) {
      return FailNameChange(e);
    }
    ScopedFd from_fd(raw_from);
    if (target_exists) {
      if (uint32_t e = OpenForProbe(to, &raw_to, &to_writable);
          e != 0 && e != kErrorFileNotFound) {
        return FailNameChange(e);
      }
    }
    ScopedFd to_fd(raw_to);
    if (from_fd.get() >= 0 && to_fd.get() >= 0 && SameInode(from_st, to_st)) {
      SetLastError(kErrorSuccess);  // one file under both names
      return true;
    }
    GateLock from_gate(from_fd.get(), from_fd.get() >= 0 && from_writable);
    GateLock to_gate(to_fd.get(), to_fd.get() >= 0 && to_writable);
    if (from_fd.get() >= 0 && FileIsOpen(from_fd.get())) {
      return FailNameChange(kErrorSharingViolation);
    }
    if (to_fd.get() >= 0 && FileIsOpen(to_fd.get())) {
      return FailNameChange(kErrorAccessDenied);  // Windows: in use
    }
    if ((from_fd.get() >= 0 && !PathNamesFd(from, from_fd.get())) ||
        (to_fd.get() >= 0 && !PathNamesFd(to, to_fd.get()))) {
      continue;  // replaced meanwhile
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
      return FailNameChange(posix::WinErrorForPath(errno, from));
    }
    SyncDirectoryOf(to);
    SetLastError(kErrorSuccess);
    return true;
  }
  return FailNameChange(kErrorSharingViolation);
}

bool FileExists(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  const std::string path = posix::ResolveAnsiPath(name);
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool FileIdentity(const char* name, std::string* identity) {
  if (name == nullptr || *name == '\0' || identity == nullptr) return false;
  const std::string path = posix::ResolveAnsiPath(name);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  *identity = std::to_string(static_cast<unsigned long long>(st.st_dev)) + ':' +
              std::to_string(static_cast<unsigned long long>(st.st_ino));
  return true;
}

bool DirectoryExists(const char* name) {
  if (name == nullptr || *name == '\0') return false;
  const std::string path = posix::ResolveAnsiPath(name);
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void ReserveFileHandles(uint32_t count) {
  struct rlimit limit;
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    FailErrno(errno);
    return;
  }
  rlim_t wanted = static_cast<rlim_t>(count) + kSpareDescriptors;
  if (limit.rlim_max != RLIM_INFINITY && wanted > limit.rlim_max) {
    wanted = limit.rlim_max;
  }
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    limit.rlim_cur = wanted;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) {
      FailErrno(errno);
      return;
    }
  }
  SetLastError(kErrorSuccess);
}

// ---------------------------------------------------------------------------
// Byte-range locks
//
// A zero-length range is a valid empty range, as LockFile accepts it: it is
// recorded (UnlockFile of the same offset and length 0 then succeeds) but
// never conflicts with anything and takes no OS lock (an OFD lock of length
// 0 would mean "to the end of the file and beyond").

namespace {

bool Overlaps(const HeldRange& a, uint32_t offset, uint32_t length) {
  if (a.length == 0 || length == 0) return false;
  return uint64_t{offset} < uint64_t{a.offset} + a.length &&
         uint64_t{a.offset} < uint64_t{offset} + length;
}

// errno of a refused lock request as LockFile reports it.
uint32_t LockError(int error) {
  if (error == EAGAIN || error == EACCES) return kErrorLockViolation;
  return posix::WinErrorFromErrno(error);
}

// Whether the handle's own exclusive ranges cover [offset, offset+length)
// entirely (they are disjoint, so their covered lengths add up).
bool CoveredByOwnExclusive(const File* file, uint32_t offset, uint32_t length) {
  uint64_t covered = 0;
  const uint64_t end = uint64_t{offset} + length;
  for (const HeldRange& held : file->locks) {
    if (held.shared || !Overlaps(held, offset, length)) continue;
    covered += std::min<uint64_t>(end, uint64_t{held.offset} + held.length) -
               std::max<uint64_t>(offset, held.offset);
  }
  return covered == length;
}

// Checks shared by both lock kinds: the handle, its access, and the
// ranges it holds already. As on Windows, an exclusive range may overlap
// none of the handle's own ranges, while a shared one may overlap its own
// shared ranges (they stack, each released on its own) and lie inside its
// own exclusive ones (a shared range straddling the edge of one is refused
// here; Windows would take it).
bool CanLock(const File* file, uint32_t offset, uint32_t length, bool shared) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  if (!file->can_read && !file->can_write) return Fail(kErrorAccessDenied);
  for (const HeldRange& held : file->locks) {
    if (!Overlaps(held, offset, length)) continue;
    if (!shared) return Fail(kErrorLockViolation);
    if (!held.shared && !CoveredByOwnExclusive(file, offset, length)) {
      return Fail(kErrorLockViolation);
    }
  }
  return true;
}

// A zero-length range at offset conflicts, as on Windows, with another
// handle's range that holds the byte at offset; it takes no OS lock of its
// own (an OFD lock of length 0 means "to the end of the file and beyond"),
// so a range locked later across it is not refused.
bool EmptyRangeInsideOthers(const File* file, uint32_t offset) {
  return OthersHold(file->fd, offset, 1);
}

// The error of an injected lock fault, 0 when none is due: another
// handle's range, or (kRefuse) a system out of locks.
uint32_t InjectedLockError() {
  switch (internal::NextFault(faults::Op::kLock)) {
    case internal::FaultAction::kNone:
      return 0;
    case internal::FaultAction::kRefuse:
      return kErrorSharingBufferExceeded;
    case internal::FaultAction::kFail:
    case internal::FaultAction::kShort:
      break;
  }
  return kErrorLockViolation;
}

}  // namespace

bool LockFile(File* file, uint32_t offset, uint32_t length) {
  if (!CanLock(file, offset, length, false)) return false;
  if (uint32_t error = InjectedLockError()) return Fail(error);
  if (length == 0 && EmptyRangeInsideOthers(file, offset)) {
    return Fail(kErrorLockViolation);
  }
  if (length != 0) {
    const int fd = file->fd;
    if (file->fd_writable) {
      if (int e = OfdLock(fd, F_OFD_SETLK, F_WRLCK, offset, length); e != 0) {
        return Fail(LockError(e));
      }
    } else {
      // Read-only descriptor: shared lock, then make sure nobody else
      // holds any part of the range (see the top comment).
      if (int e = OfdLock(fd, F_OFD_SETLK, F_RDLCK, offset, length); e != 0) {
        return Fail(LockError(e));
      }
      if (OthersHold(fd, offset, length)) {
        Unlock(fd, offset, length);
        return Fail(kErrorLockViolation);
      }
    }
  }
  file->locks.push_back({offset, length});
  SetLastError(kErrorSuccess);
  return true;
}

// A read lock of the description: other descriptions' read locks overlap
// it, their write locks refuse it. An exclusive range taken through a
// read-only descriptor (emulated by a read lock, see the top comment) does
// not refuse it: such handles cannot write, so they never hold the write
// locks that shared locks exist to wait for.
bool LockFileShared(File* file, uint32_t offset, uint32_t length) {
  if (!CanLock(file, offset, length, true)) return false;
  if (uint32_t error = InjectedLockError()) return Fail(error);
  if (!file->can_read) return Fail(kErrorAccessDenied);
  if (length == 0 && EmptyRangeInsideOthers(file, offset)) {
    return Fail(kErrorLockViolation);
  }
  // Inside the handle's own exclusive range the bytes are held already; a
  // read lock there would turn the description's write lock into a read
  // lock.
  if (length != 0 && !CoveredByOwnExclusive(file, offset, length)) {
    if (int e = OfdLock(file->fd, F_OFD_SETLK, F_RDLCK, offset, length); e != 0)
      return Fail(LockError(e));
  }
  file->locks.push_back({offset, length, true});
  SetLastError(kErrorSuccess);
  return true;
}

bool UnlockFile(File* file, uint32_t offset, uint32_t length) {
  if (file == nullptr) return Fail(kErrorInvalidHandle);
  // An exclusive range goes before a shared one of the same bytes.
  auto it = std::find_if(
      file->locks.begin(), file->locks.end(), [&](const HeldRange& held) {
        return held.offset == offset && held.length == length && !held.shared;
      });
  if (it == file->locks.end()) {
    it = std::find_if(file->locks.begin(), file->locks.end(),
                      [&](const HeldRange& held) {
                        return held.offset == offset && held.length == length;
                      });
  }
  if (it != file->locks.end()) {
    const bool was_exclusive = !it->shared;
    file->locks.erase(it);
    // The description holds one lock per byte, however many of the
    // handle's ranges cover it: release only the bytes no remaining range
    // covers (stacked shared ranges), so the others stay whole even where
    // the kernel merged adjacent ones, and no other handle can slip in.
    std::vector<HeldRange> kept;
    for (const HeldRange& held : file->locks) {
      if (Overlaps(held, offset, length)) kept.push_back(held);
    }
    std::sort(kept.begin(), kept.end(),
              [](const HeldRange& a, const HeldRange& b) {
                return a.offset < b.offset;
              });
    uint64_t from = offset;
    const uint64_t end = uint64_t{offset} + length;
    for (size_t i = 0; i <= kept.size() && from < end; ++i) {
      const uint64_t gap_end =
          i < kept.size() ? std::min<uint64_t>(kept[i].offset, end) : end;
      if (gap_end > from) {
        if (int e = OfdLock(file->fd, F_OFD_SETLK, F_UNLCK,
                            static_cast<off_t>(from),
                            static_cast<off_t>(gap_end - from));
            e != 0) {
          return FailErrno(e);
        }
      }
      if (i < kept.size()) {
        from =
            std::max<uint64_t>(from, uint64_t{kept[i].offset} + kept[i].length);
      }
    }
    // Shared ranges that lay inside the released exclusive one are still
    // write-locked bytes: make them read locks (a conversion on our own
    // description, which never conflicts).
    if (was_exclusive) {
      for (const HeldRange& held : kept) {
        if (held.shared && held.length != 0) {
          OfdLock(file->fd, F_OFD_SETLK, F_RDLCK, held.offset, held.length);
        }
      }
    }
    SetLastError(kErrorSuccess);
    return true;
  }
  return Fail(kErrorNotLocked);
}

}  // namespace qx::platform
