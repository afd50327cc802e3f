// Operation locks with a bounded wait (see operation_lock.h).
#include "engine/fileio/operation_lock.h"

#include <algorithm>

#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "platform/platform.h"

namespace qx::engine {

int16_t LockWaiting(uint16_t slot, LockKind kind, uint32_t offset,
                    uint32_t length, uint32_t wait_ms) {
  const uint64_t deadline = platform::TickCount() + wait_ms;
  // The holder is another process in the middle of one operation: look
  // again soon, then less and less often.
  uint32_t pause_ms = 0;
  for (;;) {
    int16_t status = kind == LockKind::kShared
                         ? FileLockShared(slot, offset, length)
                         : FileLock(slot, false, offset, length);
    if (status != kKbdErrLockViolation) return status;
    if (platform::TickCount() >= deadline) return status;
    SetLastError(kKbdOk);  // busy: try again
    platform::SleepMilliseconds(pause_ms);
    pause_ms = std::min<uint32_t>(pause_ms == 0 ? 1 : pause_ms * 2, 8);
  }
}

int16_t OperationLock::Hold(uint16_t slot, LockKind kind, uint32_t offset,
                            uint32_t length, uint32_t wait_ms) {
  if (int16_t e = LockWaiting(slot, kind, offset, length, wait_ms)) return e;
  slot_ = slot;
  offset_ = offset;
  length_ = length;
  held_ = true;
  return kKbdOk;
}

void OperationLock::Release() {
  if (!held_) return;
  held_ = false;
  RunDespiteError([&] { return FileLock(slot_, true, offset_, length_); });
}

}  // namespace qx::engine
