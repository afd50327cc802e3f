// The position a tree remembers between calls: the path it read an entry
// from, the entry (key, record number) and a stamp of the tree's state at
// that time. A next or previous step from that same entry may start from
// the kept path instead of searching the entry again, but only when the
// path still leads to the entry in the pages as they are now (a check that
// reads them), or when the stamp is unchanged and the tree says what an
// unchanged stamp vouches for (the levels it lets the check skip).
//
// The tree reads its own pages: Check hands each kept level's page to the
// tree's visit callback, which reads it and shows it to the check as a
// node view (count(), leaf(), child(i), recno(i), key(i)), or does not
// when the page cannot be a node of the tree (the path is stale then, not
// an error). The callbacks are templates: no indirect call per level.
#ifndef QX_ENGINE_BTREE_KEPT_POSITION_H_
#define QX_ENGINE_BTREE_KEPT_POSITION_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/btree/path_stack.h"
#include "engine/core/last_error.h"

namespace qx::engine::btree {

// The stamp of a tree that keeps none.
struct NoStamp {
  bool operator==(const NoStamp&) const = default;
};

template <typename Stamp = NoStamp>
class KeptPosition {
 public:
  // Keeps levels [0, depth) of path, which leads to (key, recno).
  void Keep(const PathStack& path, const uint8_t* key, uint32_t key_length,
            uint32_t recno, const Stamp& stamp) {
    path_.resize(static_cast<size_t>(path.depth()));
    for (int level = 0; level < path.depth(); ++level)
      path_[static_cast<size_t>(level)] = path.at(level);
    KeepEntry(key, key_length, recno, stamp);
  }
  // Keeps the one page and slot that hold (key, recno), without the path
  // above it.
  void KeepLeaf(PathEntry leaf, const uint8_t* key, uint32_t key_length,
                uint32_t recno, const Stamp& stamp) {
    path_.assign(1, leaf);
    KeepEntry(key, key_length, recno, stamp);
  }
  // Nothing is kept any more.
  void Forget() { recno_ = 0; }

  // Whether (key, recno) is the kept entry (record number 0: none kept).
  bool Holds(const uint8_t* key, uint32_t recno) const {
    return recno_ != 0 && recno_ == recno && !path_.empty() &&
           std::memcmp(key_.data(), key, key_.size()) == 0;
  }
  // Whether the kept path starts at root.
  bool StartsAt(uint32_t root) const {
    return !path_.empty() && path_[0].page == root;
  }
  // Whether the tree's stamp is the one the entry was kept under.
  bool KeptUnder(const Stamp& now) const { return stamp_ == now; }

  const std::vector<PathEntry>& path() const { return path_; }
  uint32_t recno() const { return recno_; }

  // *leads: levels [first, depth) of the kept path still lead to the kept
  // entry: each interior page's child at the kept index is the next
  // level's page; at the last level the kept slot holds the entry (in a
  // leaf when leaf_at_end). visit(page, check) reads page and calls
  // check(node view) when it is readable as a node; it returns an error
  // of the read, or 0.
  template <typename Visit>
  int16_t Check(size_t first, bool leaf_at_end, Visit&& visit,
                bool* leads) const {
    *leads = false;
    const size_t depth = path_.size();
    for (size_t level = first; level < depth; ++level) {
      bool holds = false;
      auto check = [&](const auto& node) {
        holds = LevelHolds(node, level, leaf_at_end);
      };
      if (int16_t e = visit(path_[level].page, check)) return e;
      if (!holds) return kKbdOk;
    }
    *leads = true;
    return kKbdOk;
  }

  // Check from level first, and Restore when the path leads to the entry:
  // *restored tells whether it did.
  template <typename Visit>
  int16_t RestoreIfLeads(size_t first, bool leaf_at_end, Visit&& visit,
                         PathStack* path, bool* restored) const {
    *restored = false;
    bool leads = false;
    if (int16_t e = Check(first, leaf_at_end, visit, &leads)) return e;
    if (!leads) return kKbdOk;
    if (int16_t e = Restore(path)) return e;
    *restored = true;
    return kKbdOk;
  }

  // Makes the kept path the position of path.
  int16_t Restore(PathStack* path) const {
    path->Clear();
    for (const PathEntry& at : path_) {
      if (int16_t e = path->Push(at.page, at.index)) return e;
    }
    return kKbdOk;
  }

 private:
  void KeepEntry(const uint8_t* key, uint32_t key_length, uint32_t recno,
                 const Stamp& stamp) {
    key_.assign(key, key + key_length);
    recno_ = recno;
    stamp_ = stamp;
  }

  template <typename Node>
  bool LevelHolds(const Node& node, size_t level, bool leaf_at_end) const {
    const PathEntry& at = path_[level];
    if (at.index < 0) return false;
    const uint32_t i = static_cast<uint32_t>(at.index);
    if (level + 1 < path_.size())
      return !node.leaf() && i <= node.count() &&
             node.child(i) == path_[level + 1].page;
    return (!leaf_at_end || node.leaf()) && i < node.count() &&
           node.recno(i) == recno_ &&
           std::memcmp(node.key(i), key_.data(), key_.size()) == 0;
  }

  std::vector<PathEntry> path_;
  std::vector<uint8_t> key_;
  uint32_t recno_ = 0;  // 0: nothing kept
  Stamp stamp_{};
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_KEPT_POSITION_H_
