// The single place where the engine's last error is written.
#include "engine/core/last_error.h"

namespace qx::engine {

int16_t SetLastError(int16_t code) {
  EngineState& engine = Engine();
  if (engine.current_task == nullptr) code = kKbdErrNoTask;
  else engine.current_task->last_error = code;
  engine.last_error_copy = code;
  return code;
}

int16_t LastError() {
  TaskRecord* task = CurrentTask();
  return task ? task->last_error : static_cast<int16_t>(kKbdErrNoTask);
}

}  // namespace qx::engine
