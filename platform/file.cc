// The OS-independent part of the platform layer's error and naming rules:
// the per-thread last error (GetLastError) and runtime errno, the Windows
// C runtime's mapping from system error codes to errno values, and the
// case folding that file-name and profile-file lookups share, and the file
// position arithmetic of SetFilePointer. Every backend uses these, so the
// numbers callers see do not depend on the OS.

#include <limits>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace qx::platform {

namespace {

// Per-thread, as GetLastError and the C runtime's errno are on Windows.
// Both start at 0 in every thread and live as long as it.
thread_local uint32_t tls_last_error = kErrorSuccess;
thread_local int tls_runtime_errno = 0;

// errno values of the Windows C runtime (not the host's <cerrno>).
enum CrtErrno : int {
  kCrtEnoent = 2,
  kCrtE2big = 7,
  kCrtEnoexec = 8,
  kCrtEbadf = 9,
  kCrtEchild = 10,
  kCrtEagain = 11,
  kCrtEnomem = 12,
  kCrtEacces = 13,
  kCrtEexist = 17,
  kCrtExdev = 18,
  kCrtEinval = 22,
  kCrtEmfile = 24,
  kCrtEnospc = 28,
  kCrtEpipe = 32,
  kCrtEnotempty = 41,
};

}  // namespace

uint32_t LastError() { return tls_last_error; }

void SetLastError(uint32_t error) { tls_last_error = error; }

int RuntimeErrno() { return tls_runtime_errno; }

namespace internal {

bool Fail(uint32_t error) {
  tls_last_error = error;
  return false;
}

void RecordRuntimeError(uint32_t win_error) {
  tls_runtime_errno = CrtErrnoFromWinError(win_error);
}

int CrtErrnoFromWinError(uint32_t win_error) {
  // The Windows C runtime's DOS-error table: the codes it names, then two
  // ranges (write-protect..sharing-buffer-exceeded are access errors,
  // 188..202 are executable-format errors), else EINVAL.
  switch (win_error) {
    case 1:
      return kCrtEinval;  // invalid function
    case 2:
      return kCrtEnoent;  // file not found
    case 3:
      return kCrtEnoent;  // path not found
    case 4:
      return kCrtEmfile;  // too many open files
    case 5:
      return kCrtEacces;  // access denied
    case 6:
      return kCrtEbadf;  // invalid handle
    case 7:
      return kCrtEnomem;  // arena trashed
    case 8:
      return kCrtEnomem;  // not enough memory
    case 9:
      return kCrtEnomem;  // invalid block
    case 10:
      return kCrtE2big;  // bad environment
    case 11:
      return kCrtEnoexec;  // bad format
    case 12:
      return kCrtEinval;  // invalid access
    case 13:
      return kCrtEinval;  // invalid data
    case 15:
      return kCrtEnoent;  // invalid drive
    case 16:
      return kCrtEacces;  // current directory
    case 17:
      return kCrtExdev;  // not same device
    case 18:
      return kCrtEnoent;  // no more files
    case 53:
      return kCrtEnoent;  // bad network path
    case 65:
      return kCrtEacces;  // network access denied
    case 67:
      return kCrtEnoent;  // bad network name
    case 80:
      return kCrtEexist;  // file exists
    case 82:
      return kCrtEacces;  // cannot make
    case 83:
      return kCrtEacces;  // fail I24
    case 87:
      return kCrtEinval;  // invalid parameter
    case 89:
      return kCrtEagain;  // no process slots
    case 108:
      return kCrtEacces;  // drive locked
    case 109:
      return kCrtEpipe;  // broken pipe
    case 112:
      return kCrtEnospc;  // disk full
    case 114:
      return kCrtEbadf;  // invalid target handle
    case 128:
      return kCrtEchild;  // wait: no children
    case 129:
      return kCrtEchild;  // child not complete
    case 130:
      return kCrtEbadf;  // direct access handle
    case 131:
      return kCrtEinval;  // negative seek
    case 132:
      return kCrtEacces;  // seek on device
    case 145:
      return kCrtEnotempty;  // directory not empty
    case 158:
      return kCrtEacces;  // not locked
    case 161:
      return kCrtEnoent;  // bad path name
    case 164:
      return kCrtEagain;  // max threads reached
    case 167:
      return kCrtEacces;  // lock failed
    case 183:
      return kCrtEexist;  // already exists
    case 206:
      return kCrtEnoent;  // file name too long
    case 215:
      return kCrtEagain;  // nesting not allowed
    case 1816:
      return kCrtEnomem;  // not enough quota
    default:
      break;
  }
  if (win_error >= 19 && win_error <= 36) return kCrtEacces;
  if (win_error >= 188 && win_error <= 202) return kCrtEnoexec;
  return kCrtEinval;
}

char32_t FoldCodePoint(char32_t c) {
  if (c >= U'A' && c <= U'Z') return c + 0x20;
  // Latin-1 capitals U+00C0..U+00DE, except the multiplication sign.
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 0x20;
  switch (c) {
    case 0x0152:
      return 0x0153;  // OE ligature
    case 0x0160:
      return 0x0161;  // S caron
    case 0x0178:
      return 0x00FF;  // Y diaeresis
    case 0x017D:
      return 0x017E;  // Z caron
    default:
      return c;
  }
}

uint8_t FoldAnsiByte(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return static_cast<uint8_t>(c + 0x20);
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
    return static_cast<uint8_t>(c + 0x20);
  switch (c) {
    case 0x8A:
      return 0x9A;  // S caron
    case 0x8C:
      return 0x9C;  // OE ligature
    case 0x8E:
      return 0x9E;  // Z caron
    case 0x9F:
      return 0xFF;  // Y diaeresis
    default:
      return c;
  }
}

}  // namespace internal
bool SeekFile(File* file, int32_t distance, int origin,
              uint32_t* new_position) {
  if (file == nullptr) return internal::Fail(kErrorInvalidHandle);
  int64_t base = 0;
  switch (origin) {
    case kSeekBegin:
      break;
    case kSeekCurrent:
      base = FilePosition(file);
      break;
    case kSeekEnd: {
      uint32_t size = 0;
      if (!FileSize(file, &size)) return false;
      base = size;
      break;
    }
    default:
      return internal::Fail(kErrorInvalidParameter);
  }
  const int64_t target = base + distance;
  if (target < 0) return internal::Fail(kErrorNegativeSeek);
  if (target > std::numeric_limits<uint32_t>::max())
    return internal::Fail(kErrorInvalidParameter);
  internal::SetFilePosition(file, static_cast<uint32_t>(target));
  if (new_position) *new_position = static_cast<uint32_t>(target);
  SetLastError(kErrorSuccess);
  return true;
}

}  // namespace qx::platform
