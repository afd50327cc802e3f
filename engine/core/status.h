// The engine's status catalogue: every status code with the resource ids of
// its short message and its detail text (the texts live in the message
// store, resources/messages.txt), and the system-error encoding.
#ifndef QX_ENGINE_CORE_STATUS_H_
#define QX_ENGINE_CORE_STATUS_H_

#include <cstdint>

#include "qx/engine.h"

namespace qx::engine {

// Resource ids of a status's two texts; 0 where a status has no text.
struct StatusTexts {
  int16_t status;
  uint32_t short_id;
  uint32_t detail_id;
};

// The catalogue row of a status in -59..12, or null for any other code
// (system errors and unknown codes have no message).
const StatusTexts* FindStatusTexts(int16_t status);

// Every row, -59 first, 12 last (72 rows).
const StatusTexts* StatusCatalogue(int* count);

// 0xC000 | error number, as a 16-bit status (negative).
constexpr int16_t SystemErrorStatus(uint32_t error) {
  return static_cast<int16_t>(static_cast<uint16_t>(
      kKbdSystemErrorBits | (error & kKbdSystemErrorMask)));
}
constexpr bool IsSystemErrorStatus(int16_t status) {
  return (static_cast<uint16_t>(status) & kKbdSystemErrorBits) ==
             kKbdSystemErrorBits &&
         status < kKbdErrNoTask;
}

}  // namespace qx::engine

#endif  // QX_ENGINE_CORE_STATUS_H_
