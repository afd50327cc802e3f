// The first steps of opening an index file, whatever its format: a handle
// of the format's kind with a new control block, and the file opened by
// the open-mode word; on a later failure of the open, their release; and
// the close of the file when the control block goes.
//
// The control block (Block) is the format's: it has the file name, the
// file slot and the file flags (name, slot, file_flags), and its
// destructor closes the file when the slot is still open.
#ifndef QX_ENGINE_INDEX_INDEX_OPEN_H_
#define QX_ENGINE_INDEX_INDEX_OPEN_H_

#include <cstdint>

#include "engine/core/engine_state.h"
#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/core/open_mode.h"
#include "engine/fileio/file_layer.h"
#include "qx/engine.h"

namespace qx::engine::index {

// The close in a control block's destructor: when *slot is open and a
// task is running, *slot becomes kNoFileSlot and the file is closed
// without disturbing the pending error.
inline void CloseSlotOfBlock(uint16_t* slot) {
  if (*slot == kNoFileSlot || CurrentTask() == nullptr) return;
  const uint16_t open_slot = *slot;
  *slot = kNoFileSlot;
  RunDespiteError([open_slot] { return FileClose(open_slot); });
}

template <typename Block>
class IndexOpening {
 public:
  // Null handle or name: -21 (*handle -1 when it can be set); then the
  // handle (-8 when none is free) and the file (file-layer errors, the
  // handle released again). The mode's dialect byte is the caller's to
  // check, before NormalizeOpenMode turns 0 into 1.
  int16_t Begin(int16_t* handle, const char* name, uint16_t mode, uint8_t kind,
                CloseOperation close) {
    handle_ = handle;
    if (handle == nullptr || name == nullptr) {
      if (handle != nullptr) *handle = kKbdNoHandle;
      return engine::Fail(kKbdErrNullPointer);
    }
    if (int16_t e = AllocateHandle(handle, kind, close, &block_)) return e;
    block_->name = name;
    if (int16_t e = FileOpen(&block_->slot, name, NormalizeOpenMode(mode),
                             &block_->file_flags))
      return Fail(e);
    // Opened without sharing, the file changes only through this handle:
    // what a call reads stays in memory for the next (the file layer's
    // kept blocks, under every format's own page cache).
    FileKeepBlocks(block_->slot);
    return kKbdOk;
  }

  Block* block() const { return block_; }

  // Gives up the open: the handle is released (its control block closes
  // the file) and *handle becomes -1. Returns status.
  int16_t Fail(int16_t status) {
    const int16_t h = *handle_;
    *handle_ = kKbdNoHandle;
    block_ = nullptr;
    FreeHandle(h);
    return status;
  }

 private:
  int16_t* handle_ = nullptr;
  Block* block_ = nullptr;
};

}  // namespace qx::engine::index

#endif  // QX_ENGINE_INDEX_INDEX_OPEN_H_
