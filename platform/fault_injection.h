// Fault injection for tests: the platform library variant qx_platform_faults
// (the same sources compiled with QX_PLATFORM_FAULTS, plus fault_injection.cc)
// counts the operations of each kind below and fails, or cuts short, the
// Nth one of a kind. The production library qx_platform does not define
// these functions: nothing there can arm a fault, and its operations carry
// no check (the hooks compile to nothing).
//
// What an injected fault does:
//   kRead     ReadFile/ReadFileAt fail with kErrorReadFault and transfer
//             nothing; kShort transfers half the bytes (at least one fewer)
//             and then behaves as a read that met the end of the file.
//   kWrite    WriteFile/WriteFileAt and SetEndOfFile fail with
//             kErrorDiskFull; kShort writes half the bytes first.
//   kFlush    FlushFile fails with kErrorWriteFault.
//   kLock     LockFile/LockFileShared fail with kErrorLockViolation, as
//             when another handle holds the range (the operation locks
//             that wait try again); kRefuse fails them with
//             kErrorSharingBufferExceeded, as when the system has no lock
//             left to give (ENOLCK), which nobody retries.
//   kRename   RenameFile fails with kErrorAccessDenied, nothing renamed.
//   kRemove   RemoveFile fails with kErrorAccessDenied, nothing removed.
//   kOpen     OpenFile fails with kErrorAccessDenied, nothing created.
//   kAllocate AllocateMemory/ReallocateMemory answer null.
// A fault of kind kExit ends the process at once instead (std::_Exit with
// kExitStatus, no clean-up), before the operation: what a kill at that
// moment leaves on disk.
// Zero-byte reads and writes are not operations (they move nothing).
//
// The state is process-wide and meant for one test thread at a time.
#ifndef QX_PLATFORM_FAULT_INJECTION_H_
#define QX_PLATFORM_FAULT_INJECTION_H_

#include <cstdint>

namespace qx::platform::faults {

enum class Op : int {
  kRead,
  kWrite,
  kFlush,
  kLock,
  kRename,
  kRemove,
  kOpen,
  kAllocate,
};
inline constexpr int kOpCount = 8;

enum class Kind : int {
  kFail,    // the operation fails and does nothing
  kShort,   // a read or write moves part of its bytes (other ops: kFail)
  kRefuse,  // the system refuses a lock outright (other ops: kFail)
  kExit,    // the process ends before the operation
};

// The exit status of a process ended by a kExit fault.
inline constexpr int kExitStatus = 86;

// Zeroes every count and disarms.
void Reset();
// Arms one fault: the nth (1-based) operation of op counted from now
// (counts are zeroed) gets kind. Only one fault is armed at a time.
void Arm(Op op, uint64_t nth, Kind kind = Kind::kFail);
// Disarms without touching the counts.
void Disarm();
// Operations of op since the last Reset or Arm.
uint64_t Count(Op op);
// True once the armed fault has been delivered.
bool Fired();
// Counting on or off (on by default): set-up and verification can run
// uncounted so that N numbers only the operations of the path under test.
void SetCounting(bool on);

}  // namespace qx::platform::faults

#endif  // QX_PLATFORM_FAULT_INJECTION_H_
