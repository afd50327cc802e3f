// The structural check of one FoxPro tree (an IDX file's tree, a CDX
// directory or tag), for tests and `qxdb check`.
//
// Every node reachable from the root is read once, straight from the file,
// and must decode; then: all leaves at one depth; no empty node but an
// empty root leaf; entries in ascending (key, record number) order within
// and across nodes, descending trees too (a unique tree: no key twice,
// reported as such); an inner entry holds the greatest key of its child
// (compact: with its record number); the nodes of each level chained both
// ways in key order, 0xFFFFFFFF at the ends; a compact leaf's free-bytes
// word equals the gap between its packed entries and its key bytes. A
// node reached twice or out of the file is reported and not followed, so
// a damaged file is reported, never looped.
#ifndef QX_ENGINE_FOX_FOX_CHECK_H_
#define QX_ENGINE_FOX_FOX_CHECK_H_

#include <cstdint>
#include <functional>

#include "engine/btree/btree_check.h"
#include "engine/fox/fox_tree.h"

namespace qx::engine::fox {

struct FoxCheckInput {
  uint16_t file_slot = 0xFFFF;
  FoxLayout layout = FoxLayout::kCompact;
  uint16_t key_length = 0;
  uint8_t pad = ' ';
  bool unique = false;
  uint32_t root = 0;
  uint32_t file_size = 0;  // nodes lie in [512, file_size)
  // Optional: every leaf entry in key order; every node of the tree once.
  std::function<void(const uint8_t* key, uint32_t recno)> on_entry;
  std::function<void(uint32_t node)> on_node;
};

// Walks the tree into report (keys, tree_pages, levels, problems).
// Returns a negative status only when the file could not be read.
int16_t CheckFoxTree(const FoxCheckInput& input, btree::CheckReport* report);

}  // namespace qx::engine::fox

#endif  // QX_ENGINE_FOX_FOX_CHECK_H_
