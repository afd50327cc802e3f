// The frame of every public operation on an open single-index handle
// (NDX, NTX, IDX): the handle's control block is checked, in a shared file
// the operation lock of the call's kind is taken (operation_lock.h), the
// header words other processes may have changed are read again, the body
// runs, the end of the call empties the page cache and, when pages were
// written and writes are synced, flushes the file, and the lock is
// released.
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
