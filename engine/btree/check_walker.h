// What every index check keeps while it walks a tree depth first from the
// root (btree_check.h for NDX and MDX, ntx_check.h, fox_check.h for IDX and
// CDX): each page visited once, a bound on the depth, the depth of the
// leaves, and the leaf entries in key order across pages, counted into the
// report and shown to the caller's on_entry. The format's checker reads
// and decodes its pages, judges them and words the problems; this keeps
// the state of the walk, so that a damaged file is reported, never
// followed into a loop.
#ifndef QX_ENGINE_BTREE_CHECK_WALKER_H_
#define QX_ENGINE_BTREE_CHECK_WALKER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/btree/btree_check.h"

namespace qx::engine::btree {

using CheckEntryFn = std::function<void(const uint8_t* key, uint32_t recno)>;

class CheckWalker {
 public:
  // The format numbers its pages 0 .. page_count - 1; a page deeper than
  // max_depth - 1 below the root is not followed. on_entry may be empty.
  CheckWalker(CheckReport* report, size_t page_count, uint32_t key_length,
              int max_depth, const CheckEntryFn& on_entry)
      : report_(report),
        visited_(page_count, false),
        previous_key_(key_length, 0),
        max_depth_(max_depth),
        on_entry_(on_entry) {}

  CheckWalker(const CheckWalker&) = delete;
  CheckWalker& operator=(const CheckWalker&) = delete;

  CheckReport* report() const { return report_; }
  void Problem(std::string text) { AddProblem(report_, std::move(text)); }

  // Marks page n visited; false when it was already (a page reached twice
  // is reported and not followed).
  bool FirstVisit(size_t n) {
    if (visited_[n]) return false;
    visited_[n] = true;
    return true;
  }
  bool Visited(size_t n) const { return visited_[n]; }
  bool TooDeep(int depth) const { return depth >= max_depth_; }

  // A leaf at depth: the first sets the depth of the leaves; false for one
  // at another depth.
  bool LeafDepthAgrees(int depth) {
    if (leaf_depth_ < 0) leaf_depth_ = depth;
    return depth == leaf_depth_;
  }
  int leaf_depth() const { return leaf_depth_; }
  // The levels of the tree: the leaves' depth + 1; 0 before any leaf.
  uint32_t levels() const { return static_cast<uint32_t>(leaf_depth_ + 1); }

  // The leaf entry before the one being judged, when there was one.
  bool has_previous() const { return report_->keys > 0; }
  const uint8_t* previous_key() const { return previous_key_.data(); }
  uint32_t previous_recno() const { return previous_recno_; }
  // A leaf entry judged: it becomes the previous one, is counted and is
  // shown to on_entry.
  void Take(const uint8_t* key, uint32_t recno) {
    std::memcpy(previous_key_.data(), key, previous_key_.size());
    previous_recno_ = recno;
    ++report_->keys;
    if (on_entry_) on_entry_(key, recno);
  }

 private:
  CheckReport* report_;
  std::vector<bool> visited_;
  std::vector<uint8_t> previous_key_;
  uint32_t previous_recno_ = 0;
  int max_depth_;
  int leaf_depth_ = -1;
  const CheckEntryFn& on_entry_;
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_CHECK_WALKER_H_
