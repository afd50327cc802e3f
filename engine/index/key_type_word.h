// The type word the index create and build calls take: its low byte holds
// the key type letter (C, D, N or L, in either case) and, in kKbdKeyUnique,
// the request for a unique index; the bits above are the format's own flags
// (KbdKeyTypeFlags).
#ifndef QX_ENGINE_INDEX_KEY_TYPE_WORD_H_
#define QX_ENGINE_INDEX_KEY_TYPE_WORD_H_

#include <cstdint>

#include "qx/engine.h"

namespace qx::engine::index {

// The key type letter of the word, in upper case.
inline char KeyTypeLetter(uint16_t type) {
  return static_cast<char>(type & 0x7F & 0xDF);
}

// Whether the word asks for a unique index.
inline bool KeyTypeUnique(uint16_t type) { return (type & kKbdKeyUnique) != 0; }

}  // namespace qx::engine::index

#endif  // QX_ENGINE_INDEX_KEY_TYPE_WORD_H_
