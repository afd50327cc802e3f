// The entry a handle handed its caller last (its stored key bytes and
// record number). Next and previous take a caller's key that is this entry
// byte for byte as it is: read as a text, stored bytes holding a NUL would
// come back shorter and each step would start from the same place again.
#ifndef QX_ENGINE_BTREE_HANDED_OUT_ENTRY_H_
#define QX_ENGINE_BTREE_HANDED_OUT_ENTRY_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qx::engine::btree {

// True when (key, recno) is the entry handed out last: found holds its
// length key bytes, found_recno its record number (0: none handed out).
inline bool IsHandedOutEntry(const void* key, uint32_t recno,
                             const uint8_t* found, uint32_t found_recno,
                             std::size_t length) {
  return recno != 0 && recno == found_recno &&
         std::memcmp(key, found, length) == 0;
}

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_HANDED_OUT_ENTRY_H_
