// The engine's own words for a status code: the message ids of its short
// text and of its details in the driver's message table, and the short
// text itself. Every layer above the engine asks here rather than reading
// the engine's status catalogue.
#ifndef QX_ACCESS_ADAPTER_STATUS_TEXTS_H_
#define QX_ACCESS_ADAPTER_STATUS_TEXTS_H_

#include <cstdint>
#include <string>

namespace qx::access {

struct EngineStatusTexts {
  uint32_t short_id = 0;   // 0: none
  uint32_t detail_id = 0;  // 0: none
};

// The message ids of status; false when the engine has no texts for it.
bool FindEngineStatusTexts(int32_t status, EngineStatusTexts* texts);

// The short text of status; for an operating-system error without texts
// of its own, "system error N" with the system's error number; else empty.
std::u16string EngineStatusText(int16_t status);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_STATUS_TEXTS_H_
