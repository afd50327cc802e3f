// Locks that one engine operation holds on a shared file for its whole
// duration, so that processes sharing the file take turns. Lock chart
// (one byte each; the format headers say why each byte):
//
//   file        byte          kind       taken by
//   DBF         0x7FFFFFFE    exclusive  each append (the byte of file-lock
//               (file-lock                mode 1; skipped when this handle's
//               mode 1)                   mode 1 or 2 file lock covers it)
//                             shared     the open, while it judges the size
//                                         (waiting 200 ms at most; the size
//                                         is not judged without it)
//   NTX         1,000,000,000 exclusive  add, delete, build, the close that
//                                         stamps the header
//                             shared     first, last, next, prev, find,
//                                         seek, refresh, check
//   IDX         0x7FFFFFFE    exclusive  add, delete, build
//                             shared     reads as NTX
//   CDX         0x7FFFFFFE    exclusive  add, delete, tag create, delete
//               (0x40000000               and build
//               without the   shared     reads as NTX, current, tag open,
//               compact bit)              tag list, file description
//   NDX         0x7FFFFFFF    exclusive  add, delete, build, the close that
//                                         compacts
//                             shared     reads as NTX, current
//   MDX         0x7FFFFFFF    exclusive  add, delete, tag define, delete and
//                                         build, the close that stamps the
//                                         date
//                             shared     reads as NDX, tag open
//   DBT, FPT    0x7FFFFFFF    exclusive  write (allocates blocks, moves the
//                                         next-free pointer), pack
//                             shared     read, description
//
// Order: no operation waits for one of these bytes while it holds
// another: an MDX or CDX build takes its index byte, then the data file's
// mode 2; a memo pack the data file's mode 2, then its memo byte. Those
// data-file locks never wait, and an operation holding a byte waits for
// nothing else, so no cycle of waits can form. Each operation re-reads
// what it depends on (header words, root, free list, file size, a tag
// table) after taking its lock.
// What a failure leaves held: nothing. A lock that cannot be had within
// kOperationLockWaitMs fails the operation with -37 before it has read or
// changed anything; an operation that fails part way releases its lock
// as it returns (the scopes below), and the destructor of a control block
// never runs inside an operation's scope. A process that dies holding a
// lock loses it with its descriptors: the system releases it.
//
// Unlike the record and file locks a caller asks for, which fail at once
// when another handle holds them, these locks wait: another process holds
// one only for the length of one operation, and an append must not fail
// merely because another process appended at the same instant. The wait
// is bounded (kOperationLockWaitMs) and looks again often (at once, then
// every millisecond). A
// reader is not held back by a writer waiting for its turn (that would
// cost every read a second lock): writers go in the gaps between the
// readers' calls.
//
// A file opened without sharing needs none of this: no lock is taken at
// all (OperationScope tests the file's shared flag; AppendRecord does the
// same).
//
// Nesting. Some operations run others' bodies (a tag build defines its
// tag, a definition deletes the tag it replaces, a read walks the
// directory). The lock of an index or memo file therefore lives in the
// file's control block (FileOperationLock) and is entered through a scope
// per step: the outermost step takes it, the inner ones find it held and
// take nothing. An inner step never asks for more than the outer one
// holds (no exclusive step inside a shared one).
//
// Cost: a shared file pays one lock and one unlock system call per
// operation; a file opened without sharing pays none. Reads of NTX files
// and CDX tags first try, without the lock, the pages kept from earlier
// calls when the file's change counter says they are current (ntx_file.h,
// fox_tree.h).
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

// The operation lock of one open index or memo file, kept in its control
// block for as long as the file is open. Invariant: depth_ > 0 exactly
// while lock_ is held (or, for a file opened without sharing, while a
// scope is open), and then kind_ is the kind it was taken with.
class FileOperationLock {
 public:
  FileOperationLock() = default;
  FileOperationLock(const FileOperationLock&) = delete;
  FileOperationLock& operator=(const FileOperationLock&) = delete;

  // Enters one step: the first takes the lock of byte offset of slot when
  // shared is set (waiting as LockWaiting does), nested ones take
  // nothing. -37 after the wait; -12 for an exclusive step inside a
  // shared one (a fault of ours: nothing is taken).
  int16_t Enter(uint16_t slot, bool shared, uint32_t offset, LockKind kind);
  // Leaves one step; the last releases the lock.
  void Leave();
  bool entered() const { return depth_ > 0; }

 private:
  OperationLock lock_;
  LockKind kind_ = LockKind::kShared;
  uint32_t depth_ = 0;
};

// One step's stay in a file's operation lock: left when the scope ends,
// on every path out of the step.
class OperationScope {
 public:
  OperationScope() = default;
  ~OperationScope() {
    if (lock_ != nullptr) lock_->Leave();
  }
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

  // Enters *lock for the file of slot; file_flags tell whether it is
  // shared (kFileFlagShared). REQUIRES: not entered yet.
  int16_t Enter(FileOperationLock* lock, uint16_t slot, uint16_t file_flags,
                uint32_t offset, LockKind kind);

 private:
  FileOperationLock* lock_ = nullptr;
};

}  // namespace qx::engine

#endif  // QX_ENGINE_FILEIO_OPERATION_LOCK_H_
