// The process heap the engine's caller-owned blocks come from (see the
// Memory division of platform.h). The C heap serves on every OS: blocks
// are released by this same library.
#include <cstdlib>

#include "platform/platform.h"
#include "platform/platform_internal.h"

namespace qx::platform {

void* AllocateMemory(std::size_t size) {
  if (internal::NextFault(faults::Op::kAllocate) !=
      internal::FaultAction::kNone)
    return nullptr;
  return std::malloc(size);
}

void* ReallocateMemory(void* block, std::size_t size) {
  if (internal::NextFault(faults::Op::kAllocate) !=
      internal::FaultAction::kNone)
    return nullptr;
  return std::realloc(block, size);
}

void FreeMemory(void* block) { std::free(block); }

}  // namespace qx::platform
