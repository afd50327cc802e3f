// File and tag names in the engine's form (see engine_call.h).
#include "access/adapter/engine_call.h"

#include "platform/platform.h"

namespace qx::access::adapter_internal {

std::string EngineFileName(std::u16string_view path) {
  if (path.size() > kEngineNameLength) path = path.substr(0, kEngineNameLength);
  return platform::Utf16ToAnsi(path);
}

std::string EngineTagName(std::string_view name) {
  return std::string(name.substr(0, kEngineTagLength));
}

}  // namespace qx::access::adapter_internal
