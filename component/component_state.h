// The component shell's process-wide state, in one struct.
//
// What the exports keep between calls: the start counter, the component's
// own module handle, the current driver object, and the execution handler
// with its use count. The framework keeps what the driver objects share
// (framework/framework_state.h) and the access layer the options and the
// engine-started flag (access/connection/driver_options.h).
//
// Written only by the exports, which the host calls from its one thread
// (start and stop also under the loader lock); never guarded, never
// destroyed; tests get a reset.
#ifndef QX_COMPONENT_COMPONENT_STATE_H_
#define QX_COMPONENT_COMPONENT_STATE_H_

#include <cstdint>

namespace qx::component {

class CXBaseDriver;
class ExecutionHandler;

struct ComponentState {
  int32_t start_count = 0;  // bInitLibrary calls; work on the first
  void* module = nullptr;   // own module, also the module of the texts
  CXBaseDriver* current_driver = nullptr;  // the last piQueryInterface's,
                                           // cleared when it is destroyed
  ExecutionHandler* handler = nullptr;     // owned; made by event 3985
  uint32_t handler_use_count = 0;          // 3985 minus 4875
};

ComponentState& Component();
void ResetComponentStateForTesting();

}  // namespace qx::component

#endif  // QX_COMPONENT_COMPONENT_STATE_H_
