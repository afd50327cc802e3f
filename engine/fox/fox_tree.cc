// The FoxPro B+-tree: search, walk, insert and delete over decoded nodes.
//
// Every key lives in a leaf; an inner entry holds the greatest key of its
// child (a compact inner entry also that key's record number). A descent
// keeps one decoded node per level in the path, so walking to the next leaf
// climbs the path instead of trusting sibling links, and an insert or a
// delete changes the decoded nodes and writes them back level by level.
//
// Changes. A node that no longer fits its 512 bytes is split: new nodes
// become its LEFT neighbours and take the lower entries (fixed nodes: half
// of the largest count; compact leaves: half of the entries, bisected again
// while a part does not fit), the parent gains one entry per new node. A
// node whose last entry changed gives its new greatest key to the parent.
// Delete neither borrows nor merges: an emptied node other than the root is
// unlinked from its siblings and freed and its parent entry removed; an
// inner root left with one entry hands the root to its child.
#include "engine/fox/fox_tree.h"

#include <algorithm>
#include <cstring>

#include "engine/btree/file_words.h"
#include "engine/btree/kept_position.h"
#include "engine/btree/page_cache.h"
#include "engine/btree/search_key.h"
#include "engine/btree/search_result.h"
#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fox/fox_format.h"
#include "engine/fox/fox_node.h"

namespace qx::engine::fox {

using btree::kEmpty;
using btree::kExists;
using btree::kFound;
using btree::kNoMore;
using btree::kNotFound;
using btree::SearchKey;

namespace {

// Deeper than any tree of 2^31 entries at half fill (4 entries per node at
// worst): a deeper descent means a cycle in a damaged file.
constexpr int kMaxDepth = 40;

struct Level {
  uint32_t node = 0;
  uint32_t index = 0;
  FoxNode decoded;
};

// What names the state of a compact file's trees: this tree's root, the
// file's free list and change counter, and its size.
struct FoxStamp {
  uint32_t root = 0;
  uint32_t free_list = 0;
  uint32_t counter = 0;
  uint32_t end = 0;
  bool operator==(const FoxStamp&) const = default;
};

// A decoded node as the kept position's check sees it (kept_position.h).
struct NodeView {
  const FoxNode& node;
  uint16_t key_length;
  uint32_t count() const { return node.count(); }
  bool leaf() const { return node.leaf(); }
  uint32_t child(uint32_t i) const { return node.children[i]; }
  uint32_t recno(uint32_t i) const { return node.recnos[i]; }
  const uint8_t* key(uint32_t i) const { return node.key(i, key_length); }
};

// The search of a FoxTree::Search mode: 2 matches record numbers among
// equal keys, 3 goes past equal keys, 1 (any other) neither.
SearchKey ModeSearch(const uint8_t* key, uint32_t length, uint32_t recno,
                     int mode) {
  SearchKey s;
  s.key = key;
  s.length = length;
  s.recno = recno;
  s.match_recno = mode == 2;
  s.after_equal = mode == 3;
  return s;
}

}  // namespace

struct FoxTree::Rep {
  uint16_t file_slot = 0xFFFF;
  FoxTreeShape shape;
  FoxNodeFormat format;
  btree::PageCache cache;
  uint32_t root = 0;
  uint32_t end = 0;  // nodes lie below this offset
  std::vector<Level> path;
  int depth = 0;
  bool positioned = false;
  // The position lies in a leaf reached through a kept position, without
  // the path above it: steps follow the sibling links.
  bool leaf_only = false;
  // The leaf entry the last Current gave, for MoveFrom: its node and
  // index, without the path above.
  btree::KeptPosition<> kept;
  FoxNode piece;                   // scratch of splits
  uint8_t scratch[kFoxBlockSize];  // a node image before it is written
  // Kept pages (fox_tree.h): the stamp read by this call's refresh
  // (stamp_read), the stamp of the pages the cache keeps (pages_kept),
  // whether this call wrote.
  FoxStamp stamp;
  bool stamp_read = false;
  FoxStamp kept_stamp;
  bool pages_kept = false;
  bool wrote = false;
  // The decoded leaf of the last Current, while its page is kept: the
  // next step from it starts without decoding the leaf again.
  FoxNode memo;
  uint32_t memo_node = 0;
  bool memo_valid = false;

  uint16_t key_length() const { return format.key_length; }

  int16_t CacheFail(int16_t status) {
    return status == kKbdErrCorrupt ? Fail(shape.cache_error) : status;
  }

  void SetBounds() { cache.SetBounds(kFoxBlockSize, end); }

  // end: the file size in whole blocks, measured now.
  int16_t MeasureEnd() {
    uint32_t size = 0;
    if (int16_t e = FileSize(file_slot, &size)) return e;
    end = size / kFoxBlockSize * kFoxBlockSize;
    SetBounds();
    return kKbdOk;
  }

  // The call goes on from the kept nodes: root and end are those they
  // were read under (a refresh that failed half-way may have moved them).
  void UseKeptStamp() {
    root = kept_stamp.root;
    end = kept_stamp.end;
    SetBounds();
    stamp = kept_stamp;
    stamp_read = true;
  }

  int16_t LoadNode(uint32_t offset, FoxNode* node) {
    if (offset % kFoxBlockSize != 0 || !cache.InBounds(offset))
      return Fail(kKbdErrSeek);
    btree::PageRef ref;
    if (int16_t e = cache.Load(offset, &ref)) return CacheFail(e);
    if (!DecodeFoxNode(ref.data(), format, node)) return Fail(kKbdErrCorrupt);
    return kKbdOk;
  }

  // Encodes node into scratch: false when it does not fit one node.
  bool Encode(const FoxNode& node) {
    return EncodeFoxNode(node, format, scratch);
  }

  // Every write goes through here or PatchNode, WriteRoot or Allocate.
  void NoteWrite() {
    wrote = true;
    memo_valid = false;
  }

  // Empties the cache and forgets what was kept.
  int16_t DropKept() {
    pages_kept = false;
    memo_valid = false;
    return cache.Clear();
  }

  int16_t WriteScratch(uint32_t offset) {
    if (shape.read_only) return Fail(kKbdErrReadOnly);
    NoteWrite();
    btree::PageRef ref;
    if (int16_t e = cache.Create(offset, &ref)) return CacheFail(e);
    std::memcpy(ref.data(), scratch, kFoxBlockSize);
    return cache.Write(ref);
  }

  int16_t WriteNode(uint32_t offset, const FoxNode& node) {
    if (!Encode(node)) return Fail(kKbdErrCorrupt);
    return WriteScratch(offset);
  }

  // Rewrites one little-endian word of a node (sibling links, attributes).
  int16_t PatchNode(uint32_t offset, uint32_t at, uint32_t value, bool word16) {
    if (offset == kFoxNoNode) return kKbdOk;
    if (offset % kFoxBlockSize != 0 || !cache.InBounds(offset))
      return Fail(kKbdErrSeek);
    NoteWrite();
    btree::PageRef ref;
    if (int16_t e = cache.Load(offset, &ref)) return CacheFail(e);
    if (word16)
      PutLe16(ref.data() + at, static_cast<uint16_t>(value));
    else
      PutLe32(ref.data() + at, value);
    return cache.Write(ref);
  }

  int16_t Allocate(uint32_t* offset) {
    NoteWrite();
    if (int16_t e = AllocateFoxBlock(file_slot, offset)) return e;
    end = std::max(end, *offset + kFoxBlockSize);
    SetBounds();
    return kKbdOk;
  }

  int16_t WriteRoot(uint32_t offset) {
    NoteWrite();
    if (int16_t e = btree::WriteLe32At(file_slot, shape.header_offset, offset))
      return e;
    root = offset;
    return kKbdOk;
  }

  int16_t LoadLevel(int d, uint32_t offset) {
    if (d >= kMaxDepth) return Fail(kKbdErrCorrupt);
    // A node that is its own ancestor closes a cycle: a descent through
    // it would go round until the depth bound, and a walk stepping out of
    // its subtree would come back into it for ever.
    for (int above = 0; above < d; ++above)
      if (path[above].node == offset) return Fail(kKbdErrCorrupt);
    if (d == 0) leaf_only = false;
    if (static_cast<int>(path.size()) <= d) path.resize(d + 1);
    path[d].node = offset;
    path[d].index = 0;
    return LoadNode(offset, &path[d].decoded);
  }

  // First entry of node that the search takes (count when none).
  uint32_t LowerBound(const FoxNode& node, const SearchKey& s) const {
    const bool with_recno = node.leaf() || format.layout == FoxLayout::kCompact;
    const uint16_t kl = key_length();
    uint32_t lo = 0, hi = node.count();
    while (lo < hi) {
      const uint32_t mid = lo + (hi - lo) / 2;
      const int c = std::memcmp(node.key(mid, kl), s.key, s.length);
      bool takes;
      if (s.after_equal)
        takes = c > 0;
      else if (s.match_recno)
        takes =
            c > 0 || (c == 0 && (!with_recno || node.recnos[mid] >= s.recno));
      else
        takes = c >= 0;
      if (takes)
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  }

  // Root-to-leaf descent; the leaf's index may be its count (insertion
  // point after its last entry).
  int16_t Descend(const SearchKey& s) {
    depth = 0;
    uint32_t offset = root;
    for (;;) {
      if (int16_t e = LoadLevel(depth, offset)) return e;
      Level& level = path[depth];
      const FoxNode& node = level.decoded;
      uint32_t i = LowerBound(node, s);
      ++depth;
      if (node.leaf()) {
        level.index = i;
        return kKbdOk;
      }
      if (node.count() == 0) return Fail(kKbdErrCorrupt);
      if (i == node.count()) i = node.count() - 1;
      level.index = i;
      offset = node.children[i];
    }
  }

  // Descends from level d (whose node is loaded) to the first (or last)
  // entry of its subtree.
  int16_t DescendEdge(int d, bool last) {
    for (;;) {
      Level& level = path[d];
      const FoxNode& node = level.decoded;
      const uint32_t n = node.count();
      level.index = last && n > 0 ? n - 1 : 0;
      if (node.leaf()) {
        depth = d + 1;
        return kKbdOk;
      }
      if (n == 0) return Fail(kKbdErrCorrupt);
      if (int16_t e = LoadLevel(d + 1, node.children[level.index])) return e;
      ++d;
    }
  }

  // Moves the path to the first entry of the next leaf (or the last of the
  // previous one), skipping empty leaves: 0, or 3 at the end (path kept).
  int16_t StepLeaf(bool forward) {
    if (leaf_only) return StepSibling(forward);
    for (int guard = 0; guard < 1 << 20; ++guard) {
      int d = depth - 2;
      while (d >= 0) {
        const Level& level = path[d];
        if (forward ? level.index + 1 < level.decoded.count() : level.index > 0)
          break;
        --d;
      }
      if (d < 0) return kNoMore;
      Level& level = path[d];
      level.index = forward ? level.index + 1 : level.index - 1;
      if (int16_t e = LoadLevel(d + 1, level.decoded.children[level.index]))
        return e;
      if (int16_t e = DescendEdge(d + 1, !forward)) return e;
      if (path[depth - 1].decoded.count() > 0) return kFound;
    }
    return Fail(kKbdErrCorrupt);
  }

  // The next non-empty leaf along the sibling links of the leaf at
  // path[0]; 3 at the end of the chain (the position stays). Each node
  // reached must link back to the one it was reached from, as every
  // writer keeps the chain: a link to the node itself or to one that
  // does not answer it is damage, where a walk would go round.
  int16_t StepSibling(bool forward) {
    Level& leaf = path[0];
    uint32_t from = leaf.node;
    uint32_t next = forward ? leaf.decoded.right : leaf.decoded.left;
    for (int guard = 0; guard < 1 << 20; ++guard) {
      if (next == kFoxNoNode) return kNoMore;
      if (next == from) return Fail(kKbdErrCorrupt);
      if (int16_t e = LoadNode(next, &piece)) return e;
      if (!piece.leaf() || (forward ? piece.left : piece.right) != from)
        return Fail(kKbdErrCorrupt);
      if (piece.count() > 0) {
        std::swap(leaf.decoded, piece);
        leaf.node = next;
        leaf.index = forward ? 0 : leaf.decoded.count() - 1;
        return kFound;
      }
      from = next;
      next = forward ? piece.right : piece.left;
    }
    return Fail(kKbdErrCorrupt);
  }

  // Positions on the kept entry when the leaf kept for it still holds it
  // there: true, or false (nothing read is trusted then).
  bool RestoreKept(const uint8_t* key, uint32_t recno) {
    if (!kept.Holds(key, recno)) return false;
    if (path.empty()) path.resize(1);
    Level& leaf = path[0];
    const auto visit = [&](uint32_t node, const auto& check) -> int16_t {
      if (node % kFoxBlockSize != 0 || !cache.InBounds(node)) return kKbdOk;
      if (memo_valid && memo_node == node) {
        std::swap(leaf.decoded, memo);
        memo_valid = false;
      } else {
        btree::PageRef ref;
        if (cache.Load(node, &ref) != kKbdOk ||
            !DecodeFoxNode(ref.data(), format, &leaf.decoded)) {
          SetLastError(kKbdOk);
          return kKbdOk;
        }
      }
      check(NodeView{leaf.decoded, key_length()});
      return kKbdOk;
    };
    // The visit never fails: a node it cannot read makes the entry stale.
    bool leads = false;
    kept.Check(0, /*leaf_at_end=*/true, visit, &leads);
    if (!leads) return false;
    const btree::PathEntry at = kept.path()[0];
    leaf.node = at.page;
    leaf.index = static_cast<uint32_t>(at.index);
    depth = 1;
    leaf_only = true;
    positioned = true;
    return true;
  }

  // The search in stored (ascending) order; length at most the key
  // length. See FoxTree::Search.
  int16_t SearchStored(const SearchKey& s) {
    positioned = false;
    if (int16_t e = Descend(s)) return e;
    if (depth == 1 && path[0].decoded.count() == 0) return kEmpty;
    while (LeafLevel().index >= LeafLevel().decoded.count()) {
      const int16_t stepped = StepLeaf(true);
      if (stepped != kFound) return stepped;
      Level& leaf = LeafLevel();
      leaf.index = LowerBound(leaf.decoded, s);
    }
    positioned = true;
    if (s.after_equal) return kNotFound;
    return PositionMatches(s);
  }

  // 0 when the position holds the search key (with its record number
  // when that is matched), else 4.
  int16_t PositionMatches(const SearchKey& s) {
    const Level& leaf = LeafLevel();
    if (std::memcmp(leaf.decoded.key(leaf.index, key_length()), s.key,
                    s.length) != 0)
      return kNotFound;
    if (s.match_recno && leaf.decoded.recnos[leaf.index] != s.recno)
      return kNotFound;
    return kFound;
  }

  // The search of a descending tree: the candidate of a walk-order mode
  // is the stored entry just before those the mirrored stored mode takes
  // (mode 1: the entries above the key; 3: those not below it; 2: those
  // not below the pair), or the last entry when it takes none.
  int16_t SearchReversed(const SearchKey& search) {
    SearchKey mirrored = search;
    if (!search.match_recno) mirrored.after_equal = !search.after_equal;
    int16_t s = SearchStored(mirrored);
    if (s < 0 || s == kEmpty) return s;
    if (search.match_recno && s == kFound) return kFound;
    s = s == kNoMore ? Edge(true) : Step(false);
    if (s != kFound) {
      positioned = false;
      return s;
    }
    if (search.after_equal) return kNotFound;
    return PositionMatches(search);
  }

  // The first (or last) entry in stored order: 0, 2 empty.
  int16_t Edge(bool last) {
    positioned = false;
    if (int16_t e = LoadLevel(0, root)) return e;
    if (int16_t e = DescendEdge(0, last)) return e;
    if (LeafLevel().decoded.count() == 0) {
      if (depth == 1) return kEmpty;
      const int16_t s = StepLeaf(!last);
      if (s != kFound) return s == kNoMore ? int16_t{kEmpty} : s;
    }
    positioned = true;
    return kFound;
  }

  // One step in stored order: 0, or 3 at either end (position kept).
  int16_t Step(bool forward) {
    if (!positioned) return kNoMore;
    Level& leaf = LeafLevel();
    if (forward && leaf.index + 1 < leaf.decoded.count()) {
      ++leaf.index;
      return kFound;
    }
    if (!forward && leaf.index > 0) {
      --leaf.index;
      return kFound;
    }
    const int16_t s = StepLeaf(forward);
    if (s < 0) positioned = false;
    return s;
  }

  // FoxTree::MoveFrom in stored order.
  int16_t MoveStored(const uint8_t* key, uint32_t recno, bool forward) {
    if (RestoreKept(key, recno)) return Step(forward);
    int16_t s = SearchStored(ModeSearch(key, key_length(), recno, 2));
    if (s < 0 || s == kEmpty) return s;
    if (s == kFound) return Step(forward);
    if (s == kNotFound) return forward ? int16_t{kFound} : Step(false);
    // Every entry is below the given one.
    return forward ? int16_t{kNoMore} : Edge(true);
  }

  Level& LeafLevel() { return path[depth - 1]; }

  // Split boundaries of node (entries [0, count)), lowest part first.
  void Partition(const FoxNode& node, uint32_t begin, uint32_t stop, bool first,
                 std::vector<uint32_t>* cuts) {
    if (FoxRangeFits(node, format, begin, stop) || stop - begin < 2) {
      cuts->push_back(stop);
      return;
    }
    uint32_t m = begin + (stop - begin) / 2;
    if (first && !(format.layout == FoxLayout::kCompact && node.leaf()))
      m = begin +
          std::max<uint32_t>(1, FoxFixedCapacity(format, node.leaf()) / 2);
    if (m >= stop) m = stop - 1;
    Partition(node, begin, m, false, cuts);
    Partition(node, m, stop, false, cuts);
  }

  // Writes path[d]'s node after a change, splitting it when it does not
  // fit, and carries new greatest keys and new nodes up the path.
  int16_t StoreLevel(int d) {
    std::vector<uint32_t> cuts;  // kept across levels: one allocation
    for (;;) {
      if (Encode(path[d].decoded)) {
        if (int16_t e = WriteScratch(path[d].node)) return e;
        if (d == 0 || path[d].decoded.count() == 0 || ParentEntryCurrent(d))
          return kKbdOk;
        UpdateParentEntry(d);
        --d;
        continue;
      }
      FoxNode entries;  // a parent entry for every new lower piece
      entries.attributes = 0;
      if (int16_t e = SplitLevel(d, &cuts, &entries)) return e;
      if (d == 0) {
        if (int16_t e = GrowRoot(entries)) return e;
        continue;  // the new root, now path[0], is stored next
      }
      InsertSplitEntries(d, entries);
      --d;
    }
  }

  // True when path[d]'s entry in its parent already holds the greatest key
  // (and parent record number) of path[d]'s node. REQUIRES: d > 0, the node
  // not empty.
  bool ParentEntryCurrent(int d) const {
    const uint16_t kl = key_length();
    const FoxNode& node = path[d].decoded;
    const Level& parent = path[d - 1];
    const uint32_t last = node.count() - 1;
    return std::memcmp(parent.decoded.key(parent.index, kl), node.key(last, kl),
                       kl) == 0 &&
           parent.decoded.recnos[parent.index] == ParentRecno(node, last);
  }

  // Copies the greatest key (and parent record number) of path[d]'s node
  // into its entry in the parent. REQUIRES: d > 0, the node not empty.
  void UpdateParentEntry(int d) {
    const uint16_t kl = key_length();
    const FoxNode& node = path[d].decoded;
    Level& parent = path[d - 1];
    const uint32_t last = node.count() - 1;
    std::memcpy(parent.decoded.key(parent.index, kl), node.key(last, kl), kl);
    parent.decoded.recnos[parent.index] = ParentRecno(node, last);
  }

  // Splits path[d]'s node, too big for one block, at the cuts Partition
  // finds: every piece but the last goes to a new block on the left, the
  // node's own block keeps the last, and the sibling links are threaded
  // through them. entries gets the parent entry of each new piece, lowest
  // first.
  int16_t SplitLevel(int d, std::vector<uint32_t>* cuts, FoxNode* entries) {
    Level& level = path[d];
    FoxNode& node = level.decoded;
    cuts->clear();
    Partition(node, 0, node.count(), true, cuts);
    const size_t pieces = cuts->size();
    if (pieces < 2) return Fail(kKbdErrCorrupt);
    std::vector<uint32_t> offsets(pieces);
    for (size_t p = 0; p + 1 < pieces; ++p)
      if (int16_t e = Allocate(&offsets[p])) return e;
    offsets[pieces - 1] = level.node;
    if (int16_t e =
            PatchNode(node.left, kFoxNodeRightOffset, offsets[0], false))
      return e;
    const uint16_t kl = key_length();
    uint32_t begin = 0;
    for (size_t p = 0; p + 1 < pieces; ++p) {
      FillPiece(node, begin, (*cuts)[p], p == 0 ? node.left : offsets[p - 1],
                offsets[p + 1]);
      if (int16_t e = WriteNode(offsets[p], piece)) return e;
      const uint32_t last = piece.count() - 1;
      entries->InsertEntry(entries->count(), piece.key(last, kl), kl,
                           ParentRecno(piece, last), offsets[p]);
      begin = (*cuts)[p];
    }
    // The old node keeps the upper part.
    FillPiece(node, begin, node.count(), offsets[pieces - 2], node.right);
    std::swap(node, piece);
    return WriteNode(level.node, node);
  }

  // Sets the scratch piece to entries [from, to) of node, a non-root node
  // of node's kind between blocks left and right.
  void FillPiece(const FoxNode& node, uint32_t from, uint32_t to, uint32_t left,
                 uint32_t right) {
    piece.ClearEntries();
    piece.attributes = static_cast<uint16_t>(node.attributes & ~kFoxAttrRoot);
    piece.fields = node.fields;
    piece.left = left;
    piece.right = right;
    piece.AppendRange(node, from, to, key_length());
  }

  // After a root split: a new root above path[0] holding entries and then
  // the entry of the old root's block. Path levels shift down by one.
  int16_t GrowRoot(const FoxNode& entries) {
    const uint16_t kl = key_length();
    uint32_t new_root = 0;
    if (int16_t e = Allocate(&new_root)) return e;
    path.insert(path.begin(), Level{});
    ++depth;
    Level& top = path[0];
    top.node = new_root;
    top.decoded.ClearEntries();
    top.decoded.attributes = kFoxAttrRoot;
    top.decoded.left = top.decoded.right = kFoxNoNode;
    for (uint32_t i = 0; i < entries.count(); ++i)
      top.decoded.InsertEntry(i, entries.key(i, kl), kl, entries.recnos[i],
                              entries.children[i]);
    const FoxNode& old = path[1].decoded;
    const uint32_t last = old.count() - 1;
    top.decoded.InsertEntry(top.decoded.count(), old.key(last, kl), kl,
                            ParentRecno(old, last), path[1].node);
    top.index = top.decoded.count() - 1;
    return WriteRoot(new_root);
  }

  // After a split of path[d] (d > 0): the new pieces' entries go in before
  // path[d]'s entry in the parent, which then takes the node's new greatest
  // key.
  void InsertSplitEntries(int d, const FoxNode& entries) {
    const uint16_t kl = key_length();
    Level& parent = path[d - 1];
    for (uint32_t i = 0; i < entries.count(); ++i)
      parent.decoded.InsertEntry(parent.index + i, entries.key(i, kl), kl,
                                 entries.recnos[i], entries.children[i]);
    parent.index += entries.count();
    UpdateParentEntry(d);
  }

  // The record number a parent entry carries for entry i of node: compact
  // trees keep it, standard inner entries hold none.
  uint32_t ParentRecno(const FoxNode& node, uint32_t i) const {
    return format.layout == FoxLayout::kCompact ? node.recnos[i] : 0;
  }

  int16_t CollapseRoot() {
    FoxNode& node = piece;
    for (int guard = 0; guard < kMaxDepth; ++guard) {
      if (int16_t e = LoadNode(root, &node)) return e;
      if (node.leaf() || node.count() >= 2) return kKbdOk;
      if (node.count() == 0) {
        // Every leaf went away: the root becomes an empty leaf.
        node.ClearEntries();
        node.attributes = kFoxAttrRoot | kFoxAttrLeaf;
        node.left = node.right = kFoxNoNode;
        node.fields = NewLeafFields(key_length());
        return WriteNode(root, node);
      }
      const uint32_t old_root = root;
      const uint32_t child = node.children[0];
      FoxNode& below = path.back().decoded;  // scratch
      if (int16_t e = LoadNode(child, &below)) return e;
      below.attributes |= kFoxAttrRoot;
      below.left = below.right = kFoxNoNode;
      if (int16_t e = WriteNode(child, below)) return e;
      if (int16_t e = WriteRoot(child)) return e;
      if (int16_t e = FreeFoxBlock(file_slot, old_root)) return e;
    }
    return Fail(kKbdErrCorrupt);
  }

  // Removes the path's leaf entry and repairs the levels above.
  int16_t RemoveAtPath() {
    const uint16_t kl = key_length();
    int d = depth - 1;
    path[d].decoded.EraseEntry(path[d].index, kl);
    while (d > 0 && path[d].decoded.count() == 0) {
      const FoxNode& gone = path[d].decoded;
      if (int16_t e =
              PatchNode(gone.left, kFoxNodeRightOffset, gone.right, false))
        return e;
      if (int16_t e =
              PatchNode(gone.right, kFoxNodeLeftOffset, gone.left, false))
        return e;
      if (int16_t e = FreeFoxBlock(file_slot, path[d].node)) return e;
      --d;
      path[d].decoded.EraseEntry(path[d].index, kl);
    }
    if (int16_t e = StoreLevel(d)) return e;
    return CollapseRoot();
  }
};

FoxTree::FoxTree() : rep_(std::make_unique<Rep>()) {}
FoxTree::~FoxTree() = default;

int16_t FoxTree::Init(uint16_t file_slot, const FoxTreeShape& shape) {
  rep_->file_slot = file_slot;
  rep_->shape = shape;
  rep_->format = FoxNodeFormat{shape.layout, shape.key_length, shape.pad};
  if (shape.key_length == 0 || shape.key_length > kFoxMaxTreeKeyLength)
    return Fail(kKbdErrKeySize);
  rep_->path.reserve(kMaxDepth + 2);
  rep_->path.resize(8);
  if (int16_t e = rep_->cache.Init(file_slot, kFoxBlockSize, 1,
                                   btree::CacheShape{128, 128, true}, 4))
    return e;
  rep_->cache.SetReadOnly(shape.read_only);
  return kKbdOk;
}

const FoxTreeShape& FoxTree::shape() const { return rep_->shape; }

void FoxTree::set_pad(uint8_t pad) {
  if (pad == rep_->format.pad) return;
  rep_->shape.pad = pad;
  rep_->format.pad = pad;
  rep_->memo_valid = false;  // decoded with the other pad
}

int16_t FoxTree::Refresh(bool trust_kept) {
  Rep& r = *rep_;
  // Only the compact layout counts changes (the word at 8); a file no one
  // else can change needs no count. A call that may not trust kept nodes
  // keeps none either: it reads no stamp.
  trust_kept = trust_kept &&
               (r.shape.layout == FoxLayout::kCompact || r.shape.exclusive);
  if (!trust_kept && r.pages_kept) {
    if (int16_t e = r.DropKept()) return e;
  }
  // Kept nodes of a file no one else can change: root, end and stamp are
  // those the last refresh found (a write would have dropped them).
  if (trust_kept && r.shape.exclusive && RefreshFromKept()) return kKbdOk;
  r.positioned = false;
  r.depth = 0;
  r.stamp_read = false;
  r.wrote = false;
  if (!trust_kept) {
    if (int16_t e =
            btree::ReadLe32At(r.file_slot, r.shape.header_offset, &r.root))
      return e;
    return r.MeasureEnd();
  }
  // The file-wide words first, with the root word in the same read when
  // the tree's header is the file's (an IDX file). Words equal to those
  // the kept nodes were read under prove the nodes, the root and the size
  // kept with them: every writer counts every changed call, and a change
  // of root or size is such a call.
  static_assert(kFoxHeaderRootOffset + 4 == kFoxHeaderFreeListOffset &&
                kFoxHeaderFreeListOffset + 4 == kFoxHeaderEndOffset);
  const bool root_in_words = r.shape.header_offset == kFoxHeaderRootOffset;
  uint8_t bytes[12];
  const uint8_t* words = root_in_words ? bytes + 4 : bytes;
  if (int16_t e = FileReadAt(
          r.file_slot,
          root_in_words ? kFoxHeaderRootOffset : kFoxHeaderFreeListOffset,
          bytes, root_in_words ? 12 : 8))
    return e;
  const uint32_t free_list = GetLe32(words);
  const uint32_t counter = GetBe32(words + 4);
  if (r.pages_kept && free_list == r.kept_stamp.free_list &&
      counter == r.kept_stamp.counter &&
      (!root_in_words || GetLe32(bytes) == r.kept_stamp.root)) {
    r.UseKeptStamp();
    return kKbdOk;
  }
  if (root_in_words) {
    r.root = GetLe32(bytes);
  } else if (int16_t e = btree::ReadLe32At(r.file_slot, r.shape.header_offset,
                                           &r.root)) {
    return e;
  }
  if (int16_t e = r.MeasureEnd()) return e;
  r.stamp = FoxStamp{r.root, free_list, counter, r.end};
  r.stamp_read = true;
  if (r.pages_kept && r.stamp != r.kept_stamp) return r.DropKept();
  return kKbdOk;
}

bool FoxTree::RefreshFromKept() {
  Rep& r = *rep_;
  if (!r.pages_kept) return false;
  uint8_t words[8];
  if (!r.shape.exclusive && (!FileProbeAt(r.file_slot, kFoxHeaderFreeListOffset,
                                          words, sizeof words) ||
                             GetLe32(words) != r.kept_stamp.free_list ||
                             GetBe32(words + 4) != r.kept_stamp.counter))
    return false;
  r.positioned = false;
  r.depth = 0;
  r.wrote = false;
  r.UseKeptStamp();
  return true;
}

void FoxTree::HoldReads(bool hold) { rep_->cache.HoldReads(hold); }

bool FoxTree::TakeMissed() { return rep_->cache.TakeMissed(); }

bool FoxTree::StepMayLeaveKept() const {
  const Rep& r = *rep_;
  if (!r.pages_kept || !r.memo_valid || r.kept.recno() == 0 ||
      r.memo_node != r.kept.path()[0].page)
    return false;
  const uint32_t kept_index = static_cast<uint32_t>(r.kept.path()[0].index);
  const FoxNode& leaf = r.memo;
  const auto missing = [&r](uint32_t sibling) {
    return sibling != kFoxNoNode && !r.cache.Holds(sibling);
  };
  return (kept_index + 1 >= leaf.count() && missing(leaf.right)) ||
         (kept_index == 0 && missing(leaf.left));
}

uint64_t FoxTree::reads() const { return rep_->cache.reads(); }

int16_t FoxTree::EndCall() {
  Rep& r = *rep_;
  r.positioned = false;
  r.depth = 0;
  const bool keep = r.stamp_read && !r.wrote;
  r.stamp_read = false;
  r.wrote = false;
  if (!keep) return r.DropKept();
  r.pages_kept = true;
  r.kept_stamp = r.stamp;
  return kKbdOk;
}

uint32_t FoxTree::root() const { return rep_->root; }

uint32_t FoxTree::end() const { return rep_->end; }

int16_t FoxTree::Search(const uint8_t* key, uint32_t search_length,
                        uint32_t recno, int mode) {
  Rep& r = *rep_;
  const SearchKey search = ModeSearch(
      key, std::min<uint32_t>(search_length, r.key_length()), recno, mode);
  return r.shape.descending ? r.SearchReversed(search) : r.SearchStored(search);
}

int16_t FoxTree::First() { return rep_->Edge(rep_->shape.descending); }

int16_t FoxTree::Last() { return rep_->Edge(!rep_->shape.descending); }

int16_t FoxTree::Next() { return rep_->Step(!rep_->shape.descending); }

int16_t FoxTree::Prev() { return rep_->Step(rep_->shape.descending); }

void FoxTree::Current(uint8_t* key, uint32_t* recno) const {
  Rep& r = *rep_;
  const Level& leaf = r.path[r.depth - 1];
  const uint8_t* stored = leaf.decoded.key(leaf.index, r.key_length());
  if (key != nullptr) std::memcpy(key, stored, r.key_length());
  if (recno != nullptr) *recno = leaf.decoded.recnos[leaf.index];
  r.kept.KeepLeaf(btree::PathEntry{leaf.node, static_cast<int32_t>(leaf.index)},
                  stored, r.key_length(), leaf.decoded.recnos[leaf.index], {});
  if (leaf.decoded.leaf()) {
    r.memo = leaf.decoded;
    r.memo_node = leaf.node;
    r.memo_valid = true;
  }
}

int16_t FoxTree::MoveFrom(const uint8_t* key, uint32_t recno, bool forward) {
  return rep_->MoveStored(key, recno, forward != rep_->shape.descending);
}

int16_t FoxTree::Insert(const uint8_t* key, uint32_t recno) {
  Rep& r = *rep_;
  r.positioned = false;
  r.NoteWrite();
  if (r.shape.read_only) return Fail(kKbdErrReadOnly);
  const uint16_t kl = r.key_length();
  const SearchKey search = ModeSearch(key, kl, recno, r.shape.unique ? 1 : 2);
  if (int16_t e = r.Descend(search)) return e;
  {
    const Level& leaf = r.LeafLevel();
    if (leaf.index < leaf.decoded.count()) {
      if (std::memcmp(leaf.decoded.key(leaf.index, kl), key, kl) == 0 &&
          (r.shape.unique || leaf.decoded.recnos[leaf.index] == recno))
        return kExists;
    } else if (r.depth > 1 && !r.shape.unique &&
               r.shape.layout == FoxLayout::kStandard &&
               leaf.decoded.count() > 0 &&
               std::memcmp(leaf.decoded.key(leaf.decoded.count() - 1, kl), key,
                           kl) == 0) {
      // Without record numbers in inner entries (standard layout) equal
      // keys may continue in later leaves: the entry goes before the first
      // greater entry of the whole tree, or after the last one. Elsewhere
      // the descent is exact: the parent entry chosen is the greatest key
      // of this leaf, so a leaf passed to its end is the last one.
      const int16_t s = r.SearchStored(search);
      r.positioned = false;
      if (s < 0) return s;
      if (s == kFound) return kExists;
      if (s == kNoMore) {
        if (int16_t e = r.Edge(true)) return e < 0 ? e : Fail(kKbdErrCorrupt);
        r.positioned = false;
        ++r.LeafLevel().index;
      }
    }
  }
  Level& leaf = r.LeafLevel();
  FoxNode& node = leaf.decoded;
  if (r.shape.layout == FoxLayout::kCompact && recno > node.fields.recno_mask) {
    if (!r.shape.widen_record_field)
      return Fail(node.fields.recno_bits > 23 ? kKbdErrRecnoWidth
                                              : kKbdErrCorrupt);
    node.fields = WidenLeafFields(node.fields, recno);
  }
  node.InsertEntry(leaf.index, key, kl, recno, 0);
  return r.StoreLevel(r.depth - 1);
}

int16_t FoxTree::Remove(const uint8_t* key, uint32_t recno) {
  Rep& r = *rep_;
  r.NoteWrite();
  if (r.shape.read_only) return Fail(kKbdErrReadOnly);
  const int16_t s = r.SearchStored(ModeSearch(key, r.key_length(), recno, 2));
  r.positioned = false;
  if (s < 0 || s == kEmpty) return s;
  if (s != kFound) return kNotFound;
  return r.RemoveAtPath();
}

int16_t FoxTree::CollectNodes(std::vector<uint32_t>* nodes) {
  Rep& r = *rep_;
  r.positioned = false;
  nodes->clear();
  const size_t limit = r.end / kFoxBlockSize + 1;
  std::vector<uint32_t> pending{r.root};
  FoxNode& node = r.piece;
  while (!pending.empty()) {
    const uint32_t offset = pending.back();
    pending.pop_back();
    if (nodes->size() >= limit) return Fail(kKbdErrCorrupt);
    if (int16_t e = r.LoadNode(offset, &node)) return e;
    nodes->push_back(offset);
    if (!node.leaf())
      pending.insert(pending.end(), node.children.begin(), node.children.end());
  }
  std::sort(nodes->begin(), nodes->end());
  if (std::adjacent_find(nodes->begin(), nodes->end()) != nodes->end())
    return Fail(kKbdErrCorrupt);
  return kKbdOk;
}

}  // namespace qx::engine::fox
