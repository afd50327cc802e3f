// The open-mode word of every engine open and create, and the dialect
// table.
//
// Mode word (unsigned 16-bit): low byte the dialect 1..10 (0 taken as 1);
// 0x100 read-only; 0x400 shared; 0x200 an option bit whose meaning belongs
// to each module; 0x800 shorthand for 0x600, dropped when 0x100 is set.
#ifndef QX_ENGINE_CORE_OPEN_MODE_H_
#define QX_ENGINE_CORE_OPEN_MODE_H_

#include <cstdint>

#include "qx/engine.h"

namespace qx::engine {

// Applies the 0x800 rule and the dialect-0 rule.
constexpr uint16_t NormalizeOpenMode(uint16_t mode) {
  if (mode & kKbdModeSharedOption) {
    mode = static_cast<uint16_t>(mode & ~kKbdModeSharedOption);
    if (!(mode & kKbdModeReadOnly))
      mode = static_cast<uint16_t>(mode | kKbdModeShared | kKbdModeOption);
  }
  if ((mode & kKbdModeDialectMask) == 0) mode = static_cast<uint16_t>(mode | 1);
  return mode;
}

constexpr uint8_t DialectOf(uint16_t mode) {
  return static_cast<uint8_t>(mode & kKbdModeDialectMask);
}
constexpr bool IsReadOnlyMode(uint16_t mode) {
  return (mode & kKbdModeReadOnly) != 0;
}
constexpr bool IsSharedMode(uint16_t mode) {
  return (mode & kKbdModeShared) != 0;
}

// The display name of a dialect 1..10, null otherwise.
const char* DialectName(int dialect);

}  // namespace qx::engine

#endif  // QX_ENGINE_CORE_OPEN_MODE_H_
