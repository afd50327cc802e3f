// The framework's process-wide state.
#include "framework/framework_state.h"

#include <new>

namespace qx::framework {
namespace {

// The storage of the one FrameworkState: built at compile time and never
// destroyed, so a driver object released during static destruction still
// finds it. It owns no memory of its own except the registry lock, which
// TermLibrary deletes.
union Storage {
  constexpr Storage() : state() {}
  ~Storage() {}
  FrameworkState state;
};

constinit Storage g_storage;

}  // namespace

FrameworkState& Framework() { return g_storage.state; }

void ResetFrameworkStateForTesting() {
  g_storage.state.~FrameworkState();
  new (&g_storage.state) FrameworkState();
}

}  // namespace qx::framework
