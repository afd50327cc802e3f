// Engine start and stop, the last-error entry points and the task's date
// format.
//
// State diagram:
//   not started --kbdinit--> running --kbdterm--> not started
//   running --kbdinit--> (kbdterm, then kbdinit) running
// While not started every operation answers -59.
#include <cstring>
#include <memory>

#include "engine/collate/collation.h"
#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/fileio/file_layer.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

// The task record of the calling process, found by process identity.
TaskRecord* FindCallerTask() {
  uint32_t pid = platform::CurrentProcessId();
  for (auto& task : Engine().tasks)
    if (task->process_id == pid) return task.get();
  return nullptr;
}

}  // namespace
}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbdinit(int16_t /*memory*/, int16_t /*files*/) {
  uint32_t pid = qx::platform::CurrentProcessId();
  EngineState& engine = Engine();
  if (engine.current_task != nullptr) kbdterm();
  try {
    auto task = std::make_unique<TaskRecord>();
    task->process_id = pid;
    task->last_error = 0;
    task->date_format = 4;
    task->handles = std::make_unique<HandleSlot[]>(kKbdHandleSlots);
    task->slot_count = kKbdHandleSlots;
    task->open_count = 0;
    engine.tasks.push_back(std::move(task));
  } catch (const std::bad_alloc&) {
    return kKbdErrNoMemory;  // no task record: nowhere to keep it
  }
  engine.current_task = engine.tasks.back().get();
  SetLastError(kKbdOk);
  StartFileLayer();
  LoadCollationSettings();
  return kKbdOk;
}

extern "C" int16_t kbdterm(void) {
  EngineState& engine = Engine();
  TaskRecord* task = engine.current_task;
  if (task == nullptr) return SetLastError(kKbdErrNoTask);
  for (int16_t h = 0; h < task->slot_count; ++h) {
    HandleSlot& slot = task->handles[h];
    if (slot.kind == kKbdKindFree) continue;
    SetLastError(kKbdOk);
    if (slot.close != nullptr) slot.close(h);  // errors are not reported
    FreeHandle(h);  // in case the close failed part way
  }
  for (auto it = engine.tasks.begin(); it != engine.tasks.end(); ++it) {
    if (it->get() == task) {
      engine.tasks.erase(it);
      break;
    }
  }
  if (engine.tasks.empty()) engine.tasks.shrink_to_fit();
  engine.current_task = nullptr;
  EndFileLayer();
  engine.last_error_copy = kKbdOk;
  return kKbdOk;
}

extern "C" int16_t kbdgeterror(void) {
  EngineState& engine = Engine();
  engine.last_error_copy = engine.current_task
                               ? engine.current_task->last_error
                               : static_cast<int16_t>(kKbdErrNoTask);
  return engine.last_error_copy;
}

extern "C" int16_t kbdseterror(int16_t code) { return SetLastError(code); }

extern "C" int16_t kbdsetdatefmt(uint16_t code) {
  TaskRecord* task = FindCallerTask();
  if (task == nullptr) return SetLastError(kKbdErrNoTask);
  if (task->last_error < 0) return task->last_error;
  if (DateFormatName(code) == nullptr) return SetLastError(kKbdErrCommand);
  task->date_format = code;
  return task->last_error;
}

extern "C" int16_t kbdgetdatefmt(uint16_t* code, char* name) {
  if (code == nullptr || name == nullptr)
    return SetLastError(kKbdErrNullPointer);
  TaskRecord* task = FindCallerTask();
  if (task == nullptr) return SetLastError(kKbdErrNoTask);
  if (task->last_error < 0) return task->last_error;
  *code = task->date_format;
  const char* text = DateFormatName(task->date_format);
  std::strncpy(name, text ? text : "", kKbdDateFormatNameSize - 1);
  name[kKbdDateFormatNameSize - 1] = '\0';
  return SetLastError(kKbdOk);
}
