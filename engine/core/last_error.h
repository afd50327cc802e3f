// The sticky last error and the guard every public engine operation runs in.
//
// Rules kept here:
//  L1. Without a task record every operation returns -59 and leaves -59 in
//      the process-wide copy.
//  L2. While the last error is negative every operation returns it at once,
//      doing nothing; warnings (positive) do not block.
//  L3. An operation that runs starts from 0 and leaves its result as the
//      last error; an internal step that failed (SetLastError with a
//      negative code) wins over a non-negative result.
//  L4. No exception leaves an operation: allocation failure is -3, any other
//      exception -6.
// SetLastError is the single place where the last error changes. All of
// this is inline: a record read runs it for every field it gets.
#ifndef QX_ENGINE_CORE_LAST_ERROR_H_
#define QX_ENGINE_CORE_LAST_ERROR_H_

#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "engine/core/engine_state.h"

namespace qx::engine {

// The current task, or null when the engine is not started.
inline TaskRecord* CurrentTask() { return Engine().current_task; }

// Stores code as the last error of the current task and in the process-wide
// copy; without a task stores -59. Returns what it stored.
inline int16_t SetLastError(int16_t code) {
  EngineState& engine = Engine();
  if (engine.current_task == nullptr)
    code = kKbdErrNoTask;
  else
    engine.current_task->last_error = code;
  engine.last_error_copy = code;
  return code;
}

// The current last error (-59 without a task).
inline int16_t LastError() {
  TaskRecord* task = CurrentTask();
  return task ? task->last_error : static_cast<int16_t>(kKbdErrNoTask);
}

// The last error when it is negative (an operation must stop), else 0.
inline int16_t StickyError() {
  int16_t e = LastError();
  return e < 0 ? e : 0;
}

// Sets the last error to a negative code and returns it: the point-of-
// failure helper of internal steps.
inline int16_t Fail(int16_t code) { return SetLastError(code); }

// Runs body() -> int16_t as a public operation under rules L1..L4.
template <typename Body>
int16_t RunOperation(Body&& body) {
  TaskRecord* task = CurrentTask();
  if (task == nullptr) [[unlikely]]
    return SetLastError(kKbdErrNoTask);               // L1
  if (task->last_error < 0) return task->last_error;  // L2
  task->last_error = 0;
  int16_t status;
  try {
    status = std::forward<Body>(body)();
  } catch (const std::bad_alloc&) {
    status = kKbdErrNoMemory;
  } catch (...) {
    status = kKbdErrCorrupt;
  }
  // The body may have stopped the engine (kbdterm inside kbdinit).
  if (CurrentTask() != nullptr && LastError() < 0 && status >= 0)
    status = LastError();  // L3
  return SetLastError(status);
}

// Short ways. A frequent operation may first try a short way: with the
// task of TaskOfShortWay (null when L1 or L2 must answer), it checks its
// arguments and does its work without failing; it ends with EndShortWay,
// which leaves the status as the last error (L3). Whenever the short way
// does not apply, the operation runs in full under RunOperation, which
// sets again whatever the short way may have touched.
inline TaskRecord* TaskOfShortWay() {
  TaskRecord* task = CurrentTask();
  return task != nullptr && task->last_error >= 0 ? task : nullptr;
}

inline int16_t EndShortWay(TaskRecord* task, int16_t status) {
  task->last_error = status;
  Engine().last_error_copy = status;
  return status;
}

// Runs step() as a clean-up step: with the last error cleared, then the
// pending error restored, so that closing, unlocking and deleting work files
// still happen after a failure without replacing the first error. Answers
// the step's own status (which is otherwise dropped).
template <typename Step>
int16_t RunDespiteError(Step&& step) {
  int16_t pending = LastError();
  if (pending < 0) SetLastError(kKbdOk);
  int16_t status = kKbdOk;
  if constexpr (std::is_void_v<std::invoke_result_t<Step>>)
    std::forward<Step>(step)();
  else
    status = static_cast<int16_t>(std::forward<Step>(step)());
  SetLastError(pending);
  return status;
}

}  // namespace qx::engine

#endif  // QX_ENGINE_CORE_LAST_ERROR_H_
