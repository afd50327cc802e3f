// The outcomes of searches and moves, common to every index tree (the
// fixed-entry B+-tree of btree.h, the NTX tree, the FoxPro tree). They are
// the interface's status codes themselves, so the formats hand them on
// unchanged; the names say what a tree means by each. Where a search that
// finds no equal entry leaves the position is each tree's own (the greatest
// smaller key in btree::Tree::Find, the next greater entry in the NTX and
// FoxPro searches).
#ifndef QX_ENGINE_BTREE_SEARCH_RESULT_H_
#define QX_ENGINE_BTREE_SEARCH_RESULT_H_

#include <cstdint>

#include "engine/core/last_error.h"

namespace qx::engine::btree {

// Positioned on an equal entry; or moved one entry.
inline constexpr int16_t kFound = kKbdOk;
// The tree holds no entry: no position.
inline constexpr int16_t kEmpty = kKbdEmptyFile;
// No entry qualifies, or a move went past either end.
inline constexpr int16_t kNoMore = kKbdNoMoreKeys;
// No equal entry: positioned on a neighbour (see above), or none.
inline constexpr int16_t kNotFound = kKbdKeyNotFound;
// No equal entry and every key is greater: positioned on the first key.
inline constexpr int16_t kAllGreater = kKbdKeyNotFoundEnd;
// An insert found the entry (in a unique tree: the key) already there.
inline constexpr int16_t kExists = kKbdAlreadyExists;

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_SEARCH_RESULT_H_
