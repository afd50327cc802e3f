// What a search in an index tree looks for, the same for every tree (the
// fixed-entry B+-tree of btree.h, the NTX tree, the FoxPro tree).
#ifndef QX_ENGINE_BTREE_SEARCH_KEY_H_
#define QX_ENGINE_BTREE_SEARCH_KEY_H_

#include <cstdint>

namespace qx::engine::btree {

// length bytes of key are compared (fewer than the key length make a
// prefix search). match_recno: among equal keys the record number orders
// too (the pair is sought). wildcard: '?' in the key matches any byte
// (trees whose store compares keys). after_equal: keys equal to the search
// count as below it, so the search lands after them.
struct SearchKey {
  const uint8_t* key = nullptr;
  uint32_t length = 0;
  uint32_t recno = 0;
  bool match_recno = false;
  bool wildcard = false;
  bool after_equal = false;
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_SEARCH_KEY_H_
