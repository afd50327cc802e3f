// The engine's memory helpers. Buffers the engine hands to its callers
// (memo texts, expression results) come from EngineAllocate and go back
// through kbdfree; modules keep every buffer they allocate in their control
// block and free it at close and on every failed open.
#ifndef QX_ENGINE_FILEIO_MEMORY_H_
#define QX_ENGINE_FILEIO_MEMORY_H_

#include <cstddef>
#include <cstdint>

namespace qx::engine {

// Heap block of size bytes in *block; -3 (set as last error) on failure.
int16_t EngineAllocate(std::size_t size, void** block);
// Resizes *block (which may be null); -3 on failure, *block unchanged.
int16_t EngineReallocate(std::size_t size, void** block);
// Releases a non-null block; always 0.
int16_t EngineFree(void* block);

}  // namespace qx::engine

#endif  // QX_ENGINE_FILEIO_MEMORY_H_
