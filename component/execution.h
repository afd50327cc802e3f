// The host event entry (Execution) and its execution handler.
//
// Event 3985 makes the handler on first use: it binds the host's own
// Execution entry in the host VM module named by the event data and reads
// the host values the framework keeps, then runs the handler's start; each
// 3985 counts one use, each 4875 drops one, and the last drop stops and
// destroys the handler. In this component the handler has no behaviour of
// its own: start and accept answer 1, the other accept 0, notifications
// nothing.
#ifndef QX_COMPONENT_EXECUTION_H_
#define QX_COMPONENT_EXECUTION_H_

#include <cstdint>

#include "qx/exports.h"

namespace qx::component {

class ExecutionHandler {
 public:
  // Binds the host's Execution entry and reads the host values. False when
  // the event data names a VM module without an Execution entry.
  bool Bind(const ExecutionStart* data);
  int32_t Start() { return 1; }
  void SetValues(uint32_t first, uint32_t second) {
    first_ = first;
    second_ = second;
  }
  uint32_t Accept(void* /*data*/, uintptr_t /*a*/, uintptr_t /*b*/) {
    return 1;
  }
  uint32_t AcceptOther(void* /*data*/, uintptr_t /*a*/, uintptr_t /*b*/) {
    return 0;
  }
  void Notify(void* /*data*/, uintptr_t /*a*/, uintptr_t /*b*/) {}
  void Stop(void* /*data*/, uintptr_t /*a*/, uintptr_t /*b*/) {
    stopped_ = true;
  }

  bool stopped() const { return stopped_; }
  HostExecutionFn host_execution() const { return host_execution_; }
  uint32_t first() const { return first_; }
  uint32_t second() const { return second_; }

 private:
  HostExecutionFn host_execution_ = nullptr;
  uint32_t first_ = 0;
  uint32_t second_ = 0;
  bool stopped_ = false;
};

// The Execution export's work.
uint32_t HandleExecution(uint32_t event, void* data, uintptr_t first,
                         uintptr_t second);

// TermLibrary's step: a handler still alive and not told to stop makes the
// host's Execution entry hear 3052; then the handler is destroyed.
void EndExecutionHandler();

}  // namespace qx::component

#endif  // QX_COMPONENT_EXECUTION_H_
