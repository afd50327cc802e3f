// The frame of the record-key operations of every index format: the key
// of a data file's current record is handed to the caller in a new block
// of key length + 1 bytes (the stored key bytes and a NUL) that the caller
// gives back with the engine's free operation. *key is null unless the
// call hands a block out; a call that fails hands none out.
#ifndef QX_ENGINE_INDEX_RECORD_KEY_CALL_H_
#define QX_ENGINE_INDEX_RECORD_KEY_CALL_H_

#include <cstdint>

#include "engine/core/last_error.h"
#include "engine/fileio/memory.h"
#include "qx/engine.h"

namespace qx::engine::index {

// Runs body() -> int16_t as the public operation of a record-key call; a
// null key fails with kKbdErrNullPointer before the body runs.
template <typename Body>
int16_t RunRecordKeyCall(void** key, Body&& body) {
  if (key != nullptr) *key = nullptr;
  return RunOperation([&]() -> int16_t {
    if (key == nullptr) return Fail(kKbdErrNullPointer);
    return body();
  });
}

// Allocates length + 1 bytes, has make(uint8_t* bytes) -> int16_t write
// the length key bytes into them and, unless it failed (negative), ends
// them with a NUL and hands them to *key. Returns make's status (a
// warning stays) or the allocation's error.
template <typename Make>
int16_t HandOutKey(uint32_t length, void** key, Make&& make) {
  void* block = nullptr;
  if (int16_t e = EngineAllocate(length + 1u, &block)) return e;
  uint8_t* bytes = static_cast<uint8_t*>(block);
  const int16_t status = make(bytes);
  if (status < 0) {
    EngineFree(block);
    return status;
  }
  bytes[length] = 0;
  *key = block;
  return status;
}

}  // namespace qx::engine::index

#endif  // QX_ENGINE_INDEX_RECORD_KEY_CALL_H_
