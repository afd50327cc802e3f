// Structural check of a FoxPro tree: an in-order walk over the nodes read
// from the file, then the sibling chains level by level.
#include "engine/fox/fox_check.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/btree/check_walker.h"
#include "engine/core/coding.h"
#include "engine/fileio/file_layer.h"
#include "engine/fox/fox_format.h"
#include "engine/fox/fox_node.h"

namespace qx::engine::fox {

namespace {

constexpr int kMaxCheckDepth = 40;

struct Links {
  uint32_t left = kFoxNoNode;
  uint32_t right = kFoxNoNode;
};

class FoxChecker {
 public:
  FoxChecker(const FoxCheckInput& input, btree::CheckReport* report)
      : in_(input),
        report_(report),
        format_{input.layout, input.key_length, input.pad},
        walk_(report, input.file_size / kFoxBlockSize + 1, input.key_length,
              kMaxCheckDepth, input.on_entry) {}

  int16_t Run() {
    *report_ = btree::CheckReport{};
    if (in_.key_length == 0 || in_.key_length > kFoxMaxTreeKeyLength) {
      Problem("key length " + std::to_string(in_.key_length) + " outside 1.." +
              std::to_string(kFoxMaxTreeKeyLength));
      return kKbdOk;
    }
    if (int16_t e = Visit(in_.root, 0, nullptr, 0)) return e;
    CheckChains();
    return kKbdOk;
  }

 private:
  void Problem(std::string text) { walk_.Problem(std::move(text)); }
  static std::string Node(uint32_t offset) {
    return "node " + std::to_string(offset);
  }

  // Visits node at depth; parent_key (null for the root) is the key the
  // parent holds for it, parent_recno its record number (compact).
  int16_t Visit(uint32_t offset, int depth, const uint8_t* parent_key,
                uint32_t parent_recno) {
    const uint16_t kl = in_.key_length;
    if (offset < kFoxBlockSize || offset % kFoxBlockSize != 0 ||
        offset > in_.file_size - kFoxBlockSize ||
        in_.file_size < kFoxBlockSize) {
      Problem(Node(offset) + ": offset outside the file or not a block");
      return kKbdOk;
    }
    if (!walk_.FirstVisit(offset / kFoxBlockSize)) {
      Problem(Node(offset) + ": reached twice");
      return kKbdOk;
    }
    if (walk_.TooDeep(depth)) {
      Problem(Node(offset) + ": tree deeper than " +
              std::to_string(kMaxCheckDepth) + " levels");
      return kKbdOk;
    }
    uint8_t page[kFoxBlockSize];
    if (int16_t e = FileReadAt(in_.file_slot, offset, page, kFoxBlockSize))
      return e;
    FoxNode node;
    if (!DecodeFoxNode(page, format_, &node)) {
      Problem(Node(offset) + ": cannot be decoded (count, widths or keys)");
      return kKbdOk;
    }
    ++report_->tree_pages;
    if (in_.on_node) in_.on_node(offset);
    if (levels_.size() <= static_cast<size_t>(depth)) levels_.resize(depth + 1);
    levels_[depth].push_back(offset);
    links_[offset] = Links{node.left, node.right};
    const uint32_t n = node.count();
    if (depth == 0 && !node.root())
      Problem(Node(offset) + ": root without the root attribute");
    if (depth > 0 && node.root())
      Problem(Node(offset) + ": root attribute below the root");
    if (n == 0 && !(depth == 0 && node.leaf())) {
      Problem(Node(offset) + ": empty node");
      return kKbdOk;
    }
    if (node.leaf() && format_.layout == FoxLayout::kCompact &&
        GetLe16(page + kFoxLeafFreeOffset) != node.free_bytes)
      Problem(Node(offset) + ": free bytes " +
              std::to_string(GetLe16(page + kFoxLeafFreeOffset)) +
              ", the entries leave " + std::to_string(node.free_bytes));
    if (parent_key != nullptr && n > 0) {
      const bool with_recno = format_.layout == FoxLayout::kCompact;
      if (std::memcmp(parent_key, node.key(n - 1, kl), kl) != 0 ||
          (with_recno && parent_recno != node.recnos[n - 1]))
        Problem(Node(offset) +
                ": the parent entry is not the node's greatest key");
    }
    if (node.leaf()) {
      if (!walk_.LeafDepthAgrees(depth))
        Problem(Node(offset) + ": leaf at depth " + std::to_string(depth) +
                ", others at " + std::to_string(walk_.leaf_depth()));
      report_->levels = walk_.levels();
      for (uint32_t i = 0; i < n; ++i)
        Entry(offset, node.key(i, kl), node.recnos[i]);
      return kKbdOk;
    }
    for (uint32_t i = 0; i < n; ++i) {
      if (i > 0 && std::memcmp(node.key(i - 1, kl), node.key(i, kl), kl) > 0)
        Problem(Node(offset) + ": inner keys out of order at entry " +
                std::to_string(i));
      if (int16_t e = Visit(node.children[i], depth + 1, node.key(i, kl),
                            node.recnos[i]))
        return e;
    }
    return kKbdOk;
  }

  void Entry(uint32_t offset, const uint8_t* key, uint32_t recno) {
    const uint16_t kl = in_.key_length;
    if (walk_.has_previous()) {
      const uint32_t last_recno = walk_.previous_recno();
      const int c = std::memcmp(walk_.previous_key(), key, kl);
      if (c == 0 && in_.unique)
        Problem(Node(offset) + ": key " + btree::QuotedKeyText(key, kl) +
                " has two entries (records " + std::to_string(last_recno) +
                " and " + std::to_string(recno) + ") in a unique index");
      else if (c > 0 || (c == 0 && last_recno >= recno))
        Problem(Node(offset) + ": entry (" + btree::QuotedKeyText(key, kl) +
                ", " + std::to_string(recno) + ") out of order");
    }
    walk_.Take(key, recno);
  }

  void CheckChains() {
    for (size_t depth = 0; depth < levels_.size(); ++depth) {
      const std::vector<uint32_t>& nodes = levels_[depth];
      for (size_t i = 0; i < nodes.size(); ++i) {
        const Links& links = links_[nodes[i]];
        const uint32_t want_left = i == 0 ? kFoxNoNode : nodes[i - 1];
        const uint32_t want_right =
            i + 1 == nodes.size() ? kFoxNoNode : nodes[i + 1];
        if (links.left != want_left)
          Problem(Node(nodes[i]) + ": left sibling " +
                  std::to_string(links.left) + ", expected " +
                  std::to_string(want_left));
        if (links.right != want_right)
          Problem(Node(nodes[i]) + ": right sibling " +
                  std::to_string(links.right) + ", expected " +
                  std::to_string(want_right));
      }
    }
  }

  const FoxCheckInput& in_;
  btree::CheckReport* report_;
  FoxNodeFormat format_;
  btree::CheckWalker walk_;
  std::vector<std::vector<uint32_t>> levels_;
  std::unordered_map<uint32_t, Links> links_;
};

}  // namespace

int16_t CheckFoxTree(const FoxCheckInput& input, btree::CheckReport* report) {
  FoxChecker checker(input, report);
  return checker.Run();
}

}  // namespace qx::engine::fox
