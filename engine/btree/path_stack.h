// The path stack of an open index: the record of a root-to-leaf descent,
// one (page id, slot index) pair per level, root first.
//
// A position in the tree is the path to a leaf slot. The stack never
// outlives a call as a trusted position (pages may change between calls);
// the modules keep the current key instead and rebuild the path by search.
//
// Capacity. The stack is sized at open for the deepest tree the format can
// hold: the number of levels that 2,147,483,647 keys need when every page
// holds only min_fill + 1 keys. A descent deeper than that can only come
// from a cycle or a damaged file and fails with -6, which also bounds
// every walk over a corrupt tree.
//
// Invariants (cited as S1..S3):
//  S1. 0 <= depth() <= capacity(); depth 0 is "no position".
//  S2. At an interior level the index is a slot 0..count (count = the
//      trailing slot); at the leaf level a key 0..count - 1, or count for
//      "one past the last key" (an insertion point).
//  S3. A page is on the path once: a child that is the page itself or one
//      of its ancestors closes a cycle in a damaged file, which a walk
//      stepping out of the subtree and back into it would go round for
//      ever; Push refuses it with -6.
#ifndef QX_ENGINE_BTREE_PATH_STACK_H_
#define QX_ENGINE_BTREE_PATH_STACK_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qx::engine::btree {

struct PathEntry {
  uint32_t page = 0;
  int32_t index = 0;
};

// Levels needed for 2^31 - 1 keys at min_fill + 1 keys per page (at
// least 2).
int PathCapacity(uint32_t min_fill);

class PathStack {
 public:
  explicit PathStack(int capacity = 0) { Reset(capacity); }

  void Reset(int capacity) {
    entries_.assign(static_cast<std::size_t>(capacity), PathEntry{});
    depth_ = 0;
  }
  int capacity() const { return static_cast<int>(entries_.size()); }
  int depth() const { return depth_; }
  bool empty() const { return depth_ == 0; }
  void Clear() { depth_ = 0; }

  // Appends a level; -6 (set as the last error) past the capacity (S1)
  // or for a page already on the path (S3).
  int16_t Push(uint32_t page, int32_t index);
  void Pop() {
    if (depth_ > 0) --depth_;
  }
  // Drops levels below level (0 = root), keeping level itself.
  void Truncate(int levels) {
    if (levels < depth_) depth_ = levels;
  }

  PathEntry& at(int level) { return entries_[static_cast<std::size_t>(level)]; }
  const PathEntry& at(int level) const {
    return entries_[static_cast<std::size_t>(level)];
  }
  PathEntry& leaf() { return at(depth_ - 1); }
  const PathEntry& leaf() const { return at(depth_ - 1); }

 private:
  std::vector<PathEntry> entries_;
  int depth_ = 0;
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_PATH_STACK_H_
