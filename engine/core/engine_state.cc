// The engine's process-wide state (see engine_state.h).
#include "engine/core/engine_state.h"

#include <new>

namespace qx::engine {

void ResetEngineStateForTesting() {
  EngineState& state = Engine();
  state.~EngineState();
  new (&state) EngineState();
}

}  // namespace qx::engine
