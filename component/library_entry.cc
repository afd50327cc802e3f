// The library's entry point: process attach starts the library with its
// own module handle, process detach stops it; thread attach and detach do
// nothing. On Windows that is DllMain (run under the loader lock, so the
// start does no more than the component's own start work: the options
// file and the registry lock). On Linux the shared object's constructor
// and destructor play the two process events.
#include "component/shell.h"
#include "platform/platform.h"

#if defined(_WIN32)

namespace {

// The reasons DllMain is called with.
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;

}  // namespace

// BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID), spelled without the
// Windows headers (x64 has a single calling convention). The instance is
// the module handle the start keeps.
extern "C" int DllMain(void* instance, unsigned long reason, void* reserved) {
  (void)reserved;
  if (reason == kProcessAttach) {
    qx::component::StartLibrary(instance);
  } else if (reason == kProcessDetach) {
    qx::component::StopLibrary();
  }
  return 1;
}

#else

namespace qx::component {
namespace {

__attribute__((constructor)) void ProcessAttach() {
  StartLibrary(
      platform::ModuleOf(reinterpret_cast<const void*>(&ProcessAttach)));
}

__attribute__((destructor)) void ProcessDetach() { StopLibrary(); }

}  // namespace
}  // namespace qx::component

#endif
