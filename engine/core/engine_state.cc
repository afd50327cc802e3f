// The engine's process-wide state (see engine_state.h).
#include "engine/core/engine_state.h"

#include <new>

namespace qx::engine {
namespace {

// Constructed on first use and never destroyed, so that engine calls made
// from other static destructors still find it.
alignas(EngineState) unsigned char g_state_storage[sizeof(EngineState)];
EngineState* g_state = nullptr;

}  // namespace

EngineState& Engine() {
  if (g_state == nullptr) g_state = new (g_state_storage) EngineState();
  return *g_state;
}

void ResetEngineStateForTesting() {
  if (g_state != nullptr) g_state->~EngineState();
  g_state = new (g_state_storage) EngineState();
}

}  // namespace qx::engine
