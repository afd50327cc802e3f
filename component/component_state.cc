// The component shell's process-wide state.
#include "component/component_state.h"

namespace qx::component {
namespace {

constinit ComponentState g_state;

}  // namespace

ComponentState& Component() { return g_state; }

void ResetComponentStateForTesting() { g_state = ComponentState(); }

}  // namespace qx::component
