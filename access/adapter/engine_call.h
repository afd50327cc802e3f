// What every adapter operation shares: the call into the engine with its
// last error reset, the file and tag names in the engine's form, and the
// engine buffers handed back.
//
// Internal to access/adapter/.
#ifndef QX_ACCESS_ADAPTER_ENGINE_CALL_H_
#define QX_ACCESS_ADAPTER_ENGINE_CALL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "qx/engine.h"

namespace qx::access::adapter_internal {

// File names reach the engine as code-page 1252 text of at most this many
// characters (longer names are cut), plus their NUL.
inline constexpr size_t kEngineNameLength = 260;
// Tag and field names are cut to this many characters.
inline constexpr size_t kEngineTagLength = 10;

// The engine's status widened: 0 success, above 0 a warning, below 0 an
// error.
template <typename Operation, typename... Args>
int32_t Call(Operation operation, Args&&... args) {
  kbdseterror(0);
  return operation(std::forward<Args>(args)...);
}

// A host path (UTF-16) as the engine takes it.
std::string EngineFileName(std::u16string_view path);
// A tag name as the engine takes it.
std::string EngineTagName(std::string_view name);

// An engine buffer, released with kbdfree when the owner goes.
class EngineBuffer {
 public:
  EngineBuffer() = default;
  ~EngineBuffer() { kbdfree(data_); }
  EngineBuffer(const EngineBuffer&) = delete;
  EngineBuffer& operator=(const EngineBuffer&) = delete;
  void** out() { return &data_; }
  const uint8_t* bytes() const { return static_cast<const uint8_t*>(data_); }

 private:
  void* data_ = nullptr;
};

}  // namespace qx::access::adapter_internal

#endif  // QX_ACCESS_ADAPTER_ENGINE_CALL_H_
