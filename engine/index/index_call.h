// The frame of every public operation on an open single-index handle
// (NDX, NTX, IDX): the handle's control block is checked, in a shared file
// the operation lock of the call's kind is taken (operation_lock.h), the
// header words other processes may have changed are read again, the body
// runs, the end of the call empties the page cache and, when pages were
// written and writes are synced, flushes the file, and the lock is
// released. Beside it: the read that first tries the pages earlier calls
// kept, without the lock (ReadKeptFirst); the rule that keeps or drops
// those pages at the end of a call (KeepPagesOrDrop); and the frame of a
// handle's check (RunCheckCall).
#ifndef QX_ENGINE_INDEX_INDEX_CALL_H_
#define QX_ENGINE_INDEX_INDEX_CALL_H_

#include <cstdint>

#include "engine/core/engine_state.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/operation_lock.h"
#include "qx/engine.h"

namespace qx::engine::index {

// Runs refresh(file), then body(*file) when refresh gave no error, then
// end(file) in any case, all inside the file's operation lock (of byte
// lock_offset, of kind). file null (the handle check failed, the last
// error set): -13 and nothing runs; a change of a read-only file: -36; a
// lock not had: -37 and nothing runs. The first error wins; else the
// body's status (a warning stays). Block has slot, file_flags, op_lock and
// read_only().
template <typename Block, typename Refresh, typename End, typename Body>
int16_t RunIndexCall(Block* file, LockKind kind, uint32_t lock_offset,
                     Refresh&& refresh, End&& end, Body&& body) {
  if (file == nullptr) return kKbdErrHandle;
  if (kind == LockKind::kExclusive && file->read_only())
    return Fail(kKbdErrReadOnly);
  OperationScope scope;
  if (int16_t e = scope.Enter(&file->op_lock, file->slot, file->file_flags,
                              lock_offset, kind))
    return e;
  int16_t status = refresh(file);
  if (status >= 0) status = body(*file);
  int16_t ended = end(file);
  return status < 0 ? status : (ended < 0 ? ended : status);
}

// The frame of the check of an open single-index handle, a public
// operation of its own: a null report fails, the report starts empty,
// check() gives the handle's control block (null: the handle check failed
// and set the last error), and body(Block&) runs inside the shared
// operation lock (of byte lock_offset) of a shared file. Report is a
// btree::CheckReport.
template <typename Report, typename Check, typename Body>
int16_t RunCheckCall(Report* report, Check&& check, uint32_t lock_offset,
                     Body&& body) {
  return RunOperation([&]() -> int16_t {
    if (report == nullptr) return Fail(kKbdErrNullPointer);
    *report = Report();
    auto* file = check();
    if (file == nullptr) return kKbdErrHandle;
    OperationScope scope;  // a read: no change of another process inside
    if (int16_t e = scope.Enter(&file->op_lock, file->slot, file->file_flags,
                                lock_offset, LockKind::kShared))
      return e;
    return body(*file);
  });
}

// Runs body() on what reads kept from earlier calls, with reads held
// back (page_cache.h), after the caller has found the file unchanged since
// they were read. Reads is a PageCache or a tree with HoldReads and
// TakeMissed. True with *status when that was enough. False when the body
// needed a page not kept: what it did counts for nothing, the last error
// is put back as it was, and the caller runs the call again under the
// file's lock. Bodies write their results only after their last page
// load, so a dropped attempt leaves none behind.
template <typename Reads, typename Body>
bool RunOnKeptPages(Reads* reads, Body&& body, int16_t* status) {
  const int16_t before = LastError();
  reads->HoldReads(true);
  const int16_t result = body();
  reads->HoldReads(false);
  if (reads->TakeMissed()) {
    SetLastError(before);
    return false;
  }
  *status = result;
  return true;
}

// A read that first tries, without the lock, what earlier calls kept.
// Unless the last try missed (!*probe_first) or the call's step may leave
// what is kept (may_leave), and when current() finds the kept pages still
// the file's, body() runs on them (RunOnKeptPages): done, end_kept(status)
// ends the call and gives its result; missed, drop_try() undoes the try.
// Otherwise locked() runs the call under the lock, and *probe_first
// records whether it found every page it needed kept (reads.reads() did
// not grow), except after a step that may leave them, which says nothing
// of the next one. Reads is what RunOnKeptPages takes, with reads().
template <typename Reads, typename Current, typename Body, typename EndKept,
          typename DropTry, typename Locked>
int16_t ReadKeptFirst(Reads* reads, bool* probe_first, bool may_leave,
                      Current&& current, Body&& body, EndKept&& end_kept,
                      DropTry&& drop_try, Locked&& locked) {
  if (*probe_first && !may_leave && current()) {
    int16_t status = kKbdOk;
    if (RunOnKeptPages(reads, body, &status)) return end_kept(status);
    drop_try();
  }
  const uint64_t before = reads->reads();
  const int16_t status = locked();
  if (!may_leave) *probe_first = reads->reads() == before;
  return status;
}

// The kept pages at the end of a call. When may_keep and the call left no
// error, the cache's changed pages are written (every change was written
// as it was made, so there are none unless a write was held back) and its
// pages stay for the next call (*kept); otherwise, or when that write
// failed, drop() empties the cache and forgets what else the format kept.
// Returns the first error of the write and drop(). Cache is a PageCache.
template <typename Cache, typename Drop>
int16_t KeepPagesOrDrop(bool may_keep, Cache* cache, bool* kept, Drop&& drop) {
  const bool keep = may_keep && StickyError() == 0;
  int16_t status = keep ? cache->WriteDirty() : int16_t{kKbdOk};
  *kept = keep && status == kKbdOk;
  if (!*kept) {
    const int16_t dropped = drop();
    if (status == kKbdOk) status = dropped;
  }
  return status;
}

// The flush at the end of a call: when *wrote is set it is cleared and,
// if status is kKbdOk and writes are synced (kbdsetsync), the file of
// slot is flushed. Returns the call's end status.
inline int16_t FlushAfterWrites(int16_t status, bool* wrote, uint16_t slot) {
  if (*wrote) {
    *wrote = false;
    if (status == kKbdOk && Engine().sync_writes) status = FileFlush(slot);
  }
  return status;
}

}  // namespace qx::engine::index

#endif  // QX_ENGINE_INDEX_INDEX_CALL_H_
