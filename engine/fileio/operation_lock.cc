// Operation locks with a bounded wait (see operation_lock.h).
#include "engine/fileio/operation_lock.h"

#include <cassert>

#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "platform/platform.h"

namespace qx::engine {
namespace {

// Retries that only give the processor away (a sleep of 0 ms) before the
// pauses of a millisecond: the holder of an operation lock usually ends
// its operation within microseconds, and a millisecond's pause at each
// hand-over would leave the file idle most of the time.
constexpr uint32_t kQuickAttempts = 50;

}  // namespace

int16_t LockWaiting(uint16_t slot, LockKind kind, uint32_t offset,
                    uint32_t length, uint32_t wait_ms) {
  const uint64_t deadline = platform::TickCount() + wait_ms;
  // The holder is another process in the middle of one operation. Look
  // again soon and often: a writer gets its turn only in a gap between the
  // calls of readers, which never wait for it, so it must not sleep
  // through the gaps.
  uint32_t attempts = 0;
  for (;;) {
    int16_t status = kind == LockKind::kShared
                         ? FileLockShared(slot, offset, length)
                         : FileLock(slot, false, offset, length);
    if (status != kKbdErrLockViolation) return status;
    if (platform::TickCount() >= deadline) return status;
    SetLastError(kKbdOk);  // busy: try again
    platform::SleepMilliseconds(++attempts < kQuickAttempts ? 0 : 1);
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

int16_t FileOperationLock::Enter(uint16_t slot, bool shared, uint32_t offset,
                                 LockKind kind) {
  if (depth_ > 0) {
    assert(kind_ == LockKind::kExclusive || kind == LockKind::kShared);
    if (kind_ == LockKind::kShared && kind == LockKind::kExclusive)
      return Fail(kKbdErrCommand);
    ++depth_;
    return kKbdOk;
  }
  if (shared) {
    if (int16_t e = lock_.Hold(slot, kind, offset, 1)) return e;
  }
  kind_ = kind;
  depth_ = 1;
  return kKbdOk;
}

void FileOperationLock::Leave() {
  if (depth_ == 0 || --depth_ > 0) return;
  lock_.Release();
}

int16_t OperationScope::Enter(FileOperationLock* lock, uint16_t slot,
                              uint16_t file_flags, uint32_t offset,
                              LockKind kind) {
  if (int16_t e =
          lock->Enter(slot, (file_flags & kFileFlagShared) != 0, offset, kind))
    return e;
  lock_ = lock;
  return kKbdOk;
}

}  // namespace qx::engine
