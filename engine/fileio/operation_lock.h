// Locks that one engine operation holds on a shared file for its whole
// duration, so that processes sharing the file take turns:
//
//   data file    the append lock (the single byte of file-lock mode 1),
//                exclusive, around each append: the record count is read
//                again under it, so two appends never take one number;
//   index file   the write lock, exclusive, around every change (add,
//                delete, build, tag definition), and the read lock,
//                shared, around every read (walk, find, seek, count), so
//                that a reader never sees a change half made;
//   memo file    the write lock, exclusive, around every write (which
//                allocates blocks and moves the next-free pointer).
//
// The byte each family locks is its format's own (see the format
// headers). Unlike the record and file locks a caller asks for, which fail
// at once when another handle holds them, these locks wait: another process
// holds one only for the length of one operation, and an append must not
// fail merely because another process appended at the same instant. The
// wait is bounded (kOperationLockWaitMs); after it the operation fails
// with the lock status (-37) and changes nothing.
//
// A file opened without sharing needs none of this: Hold() is then not
// called at all (callers test the file's shared flag).
#ifndef QX_ENGINE_FILEIO_OPERATION_LOCK_H_
#define QX_ENGINE_FILEIO_OPERATION_LOCK_H_

#include <cstdint>

namespace qx::engine {

// How long an operation waits for another process's operation lock, in
// milliseconds. Long enough for any single operation of another process
// (a flushed page write included), short enough that a stuck holder is
// reported rather than waited for.
inline constexpr uint32_t kOperationLockWaitMs = 5000;

enum class LockKind { kExclusive, kShared };

// Takes the lock of [offset, offset + length) on a file slot, retrying
// while another handle holds a conflicting lock, for at most wait_ms.
// Answers 0, -37 after the wait, or another lock failure at once.
int16_t LockWaiting(uint16_t slot, LockKind kind, uint32_t offset,
                    uint32_t length, uint32_t wait_ms = kOperationLockWaitMs);

// One held operation lock; the destructor releases it (an unlock failure
// is not reported, and a pending error stays pending).
class OperationLock {
 public:
  OperationLock() = default;
  ~OperationLock() { Release(); }
  OperationLock(const OperationLock&) = delete;
  OperationLock& operator=(const OperationLock&) = delete;

  // REQUIRES: nothing held.
  int16_t Hold(uint16_t slot, LockKind kind, uint32_t offset, uint32_t length,
               uint32_t wait_ms = kOperationLockWaitMs);
  void Release();
  bool held() const { return held_; }

 private:
  uint16_t slot_ = 0;
  uint32_t offset_ = 0;
  uint32_t length_ = 0;
  bool held_ = false;
};

}  // namespace qx::engine

#endif  // QX_ENGINE_FILEIO_OPERATION_LOCK_H_
