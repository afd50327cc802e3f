// The engine's handle table: 1019 slots, each free or holding one open file
// of a kind (1 DBF .. 8 CDX) with its owned control block.
//
// Invariants:
//  H1. A slot's kind is 0 exactly when it owns no control block.
//  H2. The task's open count equals the number of slots with a kind.
//  H3. A handle names slot 0..1018; -1 is no handle.
#ifndef QX_ENGINE_CORE_HANDLE_TABLE_H_
#define QX_ENGINE_CORE_HANDLE_TABLE_H_

#include <cstdint>
#include <memory>

#include "engine/core/engine_state.h"
#include "engine/core/last_error.h"

namespace qx::engine {

// Takes the first free slot for a file of kind, storing block and the
// kind's close operation there; *handle gets the slot number. Statuses:
// -21 null handle pointer or block, -8 every slot taken (*handle = -1),
// -56 a kind outside 1..8. Sets the last error on failure.
int16_t AllocateHandle(int16_t* handle, uint8_t kind, CloseOperation close,
                       std::unique_ptr<ControlBlock> block);

// Typed form: makes a zero-initialised Block and returns it in *block.
template <typename Block>
int16_t AllocateHandle(int16_t* handle, uint8_t kind, CloseOperation close,
                       Block** block) {
  if (block == nullptr) return AllocateHandle(handle, kind, close, nullptr);
  auto owned = std::make_unique<Block>();
  Block* raw = owned.get();
  int16_t status = AllocateHandle(handle, kind, close, std::move(owned));
  *block = status == 0 ? raw : nullptr;
  return status;
}

// The control block of handle when its slot holds kind, else null with
// -13 as the last error. Refreshes the slot's working pointer. Inline:
// every operation on an open file starts here.
inline ControlBlock* CheckHandle(int16_t handle, uint8_t kind) {
  TaskRecord* task = CurrentTask();
  if (task != nullptr && handle >= 0 && handle < task->slot_count) [[likely]] {
    HandleSlot& s = task->handles[handle];
    if (s.kind == kind && kind != kKbdKindFree) [[likely]] {
      s.working = s.block.get();
      return s.working;
    }
  }
  Fail(kKbdErrHandle);
  return nullptr;
}

// CheckHandle for a short way (see last_error.h): the control block of
// handle in task when its slot holds kind, else null with nothing set.
inline ControlBlock* ShortWayHandle(TaskRecord* task, int16_t handle,
                                    uint8_t kind) {
  // The handle found valid last time, not freed since: its slot still
  // holds it, and its working pointer already is this block.
  const int32_t key = static_cast<uint16_t>(handle) | kind << 16;
  if (key == task->short_way_key) [[likely]]
    return task->short_way_block;
  if (handle < 0 || handle >= task->slot_count) return nullptr;
  HandleSlot& s = task->handles[handle];
  if (s.kind != kind || kind == kKbdKindFree) return nullptr;
  s.working = s.block.get();
  task->short_way_key = key;
  task->short_way_block = s.working;
  return s.working;
}

template <typename Block>
Block* CheckHandleAs(int16_t handle, uint8_t kind) {
  return static_cast<Block*>(CheckHandle(handle, kind));
}

// Frees the slot: destroys its control block, clears its kind, decrements
// the open count. A free or out-of-range slot is left alone.
void FreeHandle(int16_t handle);

// The kind in a slot (0 for free or out of range); for kbdterm and tests.
uint8_t HandleKind(int16_t handle);

}  // namespace qx::engine

#endif  // QX_ENGINE_CORE_HANDLE_TABLE_H_
