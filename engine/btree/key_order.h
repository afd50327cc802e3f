// Key orders that several index formats share: keys holding a
// little-endian double (NDX numeric and date keys, MDX date keys), and the
// wildcard comparison of character keys.
//
// Double keys are ordered by their bytes from the most significant (byte
// 7) down: a clear sign bit is greater than a set one; with equal signs
// the magnitudes compare, reversed when both are negative. So -0.0 sorts
// just below +0.0, and NaNs beyond the infinities of their sign.
#ifndef QX_ENGINE_BTREE_KEY_ORDER_H_
#define QX_ENGINE_BTREE_KEY_ORDER_H_

#include <cstdint>

#include "engine/core/coding.h"

namespace qx::engine::btree {

// The 8 key bytes as an integer whose unsigned order is the key order.
constexpr uint64_t LeDoubleOrder(const uint8_t* key) {
  const uint64_t sign = uint64_t{1} << 63;
  const uint64_t bits = GetLe64(key);
  return (bits & sign) ? ~bits : (bits | sign);
}

inline int CompareLeDoubleKeys(const uint8_t* a, const uint8_t* b) {
  const uint64_t x = LeDoubleOrder(a), y = LeDoubleOrder(b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

// Byte order over length bytes in which a '?' of the search key matches
// any byte of the stored key. The collation table plays no part.
inline int CompareWildcard(const uint8_t* search, const uint8_t* key,
                           uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (search[i] == '?' || search[i] == key[i]) continue;
    return search[i] < key[i] ? -1 : 1;
  }
  return 0;
}

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_KEY_ORDER_H_
