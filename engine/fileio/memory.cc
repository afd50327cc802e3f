// The engine's memory helpers (see memory.h).
#include "engine/fileio/memory.h"

#include "engine/core/last_error.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::engine {

int16_t EngineAllocate(std::size_t size, void** block) {
  if (block == nullptr) return Fail(kKbdErrNullPointer);
  // One byte at least, so that an empty text still has a buffer to free.
  *block = platform::AllocateMemory(size == 0 ? 1 : size);
  if (*block == nullptr) return Fail(kKbdErrNoMemory);
  return kKbdOk;
}

int16_t EngineReallocate(std::size_t size, void** block) {
  if (block == nullptr) return Fail(kKbdErrNullPointer);
  void* grown = platform::ReallocateMemory(*block, size == 0 ? 1 : size);
  if (grown == nullptr) return Fail(kKbdErrNoMemory);
  *block = grown;
  return kKbdOk;
}

int16_t EngineFree(void* block) {
  platform::FreeMemory(block);
  return kKbdOk;
}

}  // namespace qx::engine

extern "C" int16_t kbdfree(void* block) {
  return qx::engine::EngineFree(block);
}
