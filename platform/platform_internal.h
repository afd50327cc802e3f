// Private seams between the OS-independent part of the platform layer
// (platform/file.cc) and its backends (platform/posix/, platform/win32/).
// Nothing outside platform/ includes this header.
#ifndef QX_PLATFORM_PLATFORM_INTERNAL_H_
#define QX_PLATFORM_PLATFORM_INTERNAL_H_

#include <cstdint>

#include "platform/fault_injection.h"

namespace qx::platform {
struct File;
}  // namespace qx::platform

namespace qx::platform::internal {

// Moves a file's position (the backend's own field), for SeekFile.
void SetFilePosition(File* file, uint32_t position);

// Sets the calling thread's last error and answers false, so a failing
// path reads `return Fail(kErrorX);`. The single place a failure is stored.
bool Fail(uint32_t error);

// Records the C runtime's view of a failed delete or rename: the errno the
// Windows C runtime derives from error (its DOS-error table), kept per
// thread for RuntimeErrno().
void RecordRuntimeError(uint32_t win_error);

// The Windows C runtime errno for a system error code. The numbers are the
// Windows C runtime's own (ENOTEMPTY is 41 there, 39 on Linux), so callers
// see the same values on every backend.
int CrtErrnoFromWinError(uint32_t win_error);

// Case folding as Windows file systems and profile files compare names,
// limited to the letters code page 1252 has: ASCII, Latin-1 and the five
// pairs 1252 places in 0x80..0x9F (S/Z caron, OE, Y diaeresis).
// FoldCodePoint maps Unicode code points, FoldAnsiByte 1252 bytes; both
// map upper case to lower case and leave everything else alone.
char32_t FoldCodePoint(char32_t c);
uint8_t FoldAnsiByte(uint8_t c);

// The fault hook every counted operation passes (see fault_injection.h).
// Only the test variant qx_platform_faults, compiled with
// QX_PLATFORM_FAULTS, counts and injects; elsewhere the hook is a constant
// the compiler removes.
enum class FaultAction { kNone, kFail, kShort, kRefuse };
#if defined(QX_PLATFORM_FAULTS)
FaultAction NextFault(faults::Op op);
#else
constexpr FaultAction NextFault(faults::Op) { return FaultAction::kNone; }
#endif

}  // namespace qx::platform::internal

#endif  // QX_PLATFORM_PLATFORM_INTERNAL_H_
