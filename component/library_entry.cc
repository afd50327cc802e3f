// The library's entry point on Linux: the constructor and destructor of
// the shared object play the Windows entry point's process attach and
// detach (start with the library's own module handle; stop). Thread attach
// and detach have no counterpart and do nothing.
#include "component/shell.h"
#include "platform/platform.h"

namespace qx::component {
namespace {

__attribute__((constructor)) void ProcessAttach() {
  StartLibrary(
      platform::ModuleOf(reinterpret_cast<const void*>(&ProcessAttach)));
}

__attribute__((destructor)) void ProcessDetach() { StopLibrary(); }

}  // namespace
}  // namespace qx::component
