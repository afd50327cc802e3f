// The engine's handle table (see handle_table.h).
#include "engine/core/handle_table.h"

#include "engine/core/last_error.h"

namespace qx::engine {
namespace {

HandleSlot* SlotOf(int16_t handle) {
  TaskRecord* task = CurrentTask();
  if (task == nullptr || handle < 0 || handle >= task->slot_count)
    return nullptr;
  return &task->handles[handle];
}

}  // namespace

int16_t AllocateHandle(int16_t* handle, uint8_t kind, CloseOperation close,
                       std::unique_ptr<ControlBlock> block) {
  if (handle == nullptr) return Fail(kKbdErrNullPointer);
  TaskRecord* task = CurrentTask();
  if (task == nullptr) return Fail(kKbdErrNoTask);
  int16_t slot = 0;
  while (slot < task->slot_count && task->handles[slot].kind != kKbdKindFree)
    ++slot;
  if (slot == task->slot_count) {
    *handle = kKbdNoHandle;
    return Fail(kKbdErrNoHandle);
  }
  if (kind < kKbdKindDbf || kind > kKbdKindCdx) return Fail(kKbdErrParameter);
  if (block == nullptr) {
    *handle = kKbdNoHandle;
    return Fail(kKbdErrNullPointer);
  }
  HandleSlot& s = task->handles[slot];
  s.kind = kind;
  s.working = block.get();
  s.block = std::move(block);
  s.close = close;
  ++task->open_count;  // H2
  *handle = slot;
  return kKbdOk;
}

void FreeHandle(int16_t handle) {
  HandleSlot* s = SlotOf(handle);
  if (s == nullptr || s->kind == kKbdKindFree) return;
  s->block.reset();  // H1
  s->working = nullptr;
  s->close = nullptr;
  s->kind = kKbdKindFree;
  TaskRecord* task = CurrentTask();
  --task->open_count;
  if ((task->short_way_key & 0xFFFF) == static_cast<uint16_t>(handle)) {
    task->short_way_key = -1;
    task->short_way_block = nullptr;
  }
}

uint8_t HandleKind(int16_t handle) {
  HandleSlot* s = SlotOf(handle);
  return s ? s->kind : static_cast<uint8_t>(kKbdKindFree);
}

}  // namespace qx::engine
