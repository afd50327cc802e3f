// Search, walk, insert and delete over the B-tree of an NTX file, whose
// keys live in interior pages as well as in leaves (ntx_format.h).
//
// Order. Entries are ordered by key bytes, ascending or, in a descending
// file, descending (the comparison of keys is then inverted; "below" and
// "after" below follow the file's order). Among equal keys an insert goes
// after them all, so they stay in insertion order; a build writes them in
// record order. Searches that match record numbers assume record order
// among equal keys and fall back to a scan of the run of equal keys when
// the pair is not where that order puts it. In-order, the keys of child i
// come before key i of the page, and the right-most child's keys after
// the last key.
//
// Positions. A position is a path (btree::PathStack) from the root: at
// every level but the last the index is the child descended into (0..n);
// at the last level, which may be an interior page, the index is the key
// positioned on (0..n - 1). Paths are not trusted from one public call to
// the next: Read keeps the path it read from with its entry, and MoveFrom
// steps from that path only after checking it against the file as it is
// now: the entry at the end of the path, read afresh, and either the
// file's stamp (update counter, root and free list head: every
// writer counts every add and delete) unchanged since the path was kept,
// or each page's child at the kept index read afresh as well. Otherwise
// the entry is searched again. The kept path also
// carries walks through files whose keys are not in byte order (written
// under a collation), where a search cannot find an entry.
//
// Insert. The entry goes into a leaf at its place; a full page splits:
// of its largest keys and the new one, the lower largest / 2 go to a new
// page, the next one moves up into the parent with the new page as its
// child (and that key's former child becomes the new page's right-most
// child), the upper largest / 2 stay. A split root gets a new root of one
// key whose right-most child is the old root.
//
// Delete. A key of an interior page is replaced by its predecessor (the
// last key of the leaf ending its left subtree; the successor when that
// leaf is empty), which is then removed from the leaf. A page left below
// smallest keys is merged with a sibling (the right one when there is
// one) when both hold fewer than largest keys together, the separator
// coming down between them and the left page going to the free list;
// otherwise the two pages and their separator are shared out evenly
// again. This repeats upward; a root left with no key gives way to its
// only child.
//
// Invariants kept (checked by ntx_check.h, cited as R1..R5):
//  R1. Every page reached from the root is reached once; all leaves lie at
//      one depth; interior pages have non-zero children 0..n, leaves none.
//  R2. n <= largest in every page; n >= smallest in pages that insert and
//      delete produced below the root.
//  R3. The in-order walk never goes back in the file's key order; a
//      unique index holds each key once.
//  R4. Record numbers are not 0.
//  R5. Free pages form one chain from the header's head, off the tree.
#ifndef QX_ENGINE_NTX_NTX_TREE_H_
#define QX_ENGINE_NTX_NTX_TREE_H_

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/btree/kept_position.h"
#include "engine/btree/page_cache.h"
#include "engine/btree/path_stack.h"
#include "engine/btree/search_key.h"
#include "engine/btree/tree_store.h"
#include "engine/ntx/ntx_format.h"

namespace qx::engine {

// The header words as refreshed at the start of a call: equal stamps mean
// no writer changed the tree in between.
struct NtxStamp {
  uint16_t counter = 0;
  uint32_t root = 0;
  uint32_t free_head = 0;
  bool operator==(const NtxStamp&) const = default;
};

// The file's side of the tree: the root word and the free list
// (btree::PageStore), the stamp, and the file's size.
class NtxTreeStore : public btree::PageStore {
 public:
  virtual NtxStamp Stamp() const = 0;
  // Measures the file again, for a page beyond its size as last measured.
  virtual int16_t MeasureSize() = 0;
};

// A search: length bytes of key compared (fewer than the key length is a
// prefix), and the record number among equal keys when match_recno; with
// after_equal, keys equal to it count as below it (the place after them).
// Keys compare by their bytes: wildcard is not used.
using NtxSearch = btree::SearchKey;

class NtxTree {
 public:
  NtxTree(const NtxShape& shape, bool descending, btree::PageCache* cache,
          btree::PathStack* path, NtxTreeStore* store);
  NtxTree(const NtxTree&) = delete;
  NtxTree& operator=(const NtxTree&) = delete;

  // Positions on the first entry not below the search: 0; 3 when every
  // entry is below it (no position); 2 when the tree is empty.
  int16_t LowerBound(const NtxSearch& search);
  // Positions on the entry (key of full length, recno), wherever it lies
  // among equal keys: 0; else 4 (or 2 when empty) with no position.
  int16_t FindPair(const uint8_t* key, uint32_t recno);
  // First or last entry: 0, or 2 when the tree is empty.
  int16_t First();
  int16_t Last();
  // Moves one entry: 0, or 3 at the end (the position is then lost).
  int16_t Step(bool forward);
  // Next or previous from the entry (key, recno): from the kept path when
  // it still leads there, else from the entry found again; an entry that
  // has gone is replaced by the place it would take. 0, 3 at the end, 2
  // empty.
  int16_t MoveFrom(const uint8_t* key, uint32_t recno, bool forward);
  // The entry at the position, whose path is kept. REQUIRES a position.
  int16_t Read(uint8_t* key, uint32_t* recno);
  // Whether the entry at the position matches the search (key over its
  // length, record number when asked). REQUIRES a position.
  int16_t Matches(const NtxSearch& search, bool* matches);

  // Inserts an entry (key of full length) after the keys equal to it;
  // unique: 11 and nothing changed when the key is there.
  int16_t Insert(const uint8_t* key, uint32_t recno, bool unique);
  // Removes the entry (key, recno). 0, or 4 / 2 when there is none
  // (nothing changed).
  int16_t Remove(const uint8_t* key, uint32_t recno);

 private:
  int16_t Load(uint32_t page, btree::PageRef* ref);
  int16_t Create(uint32_t page, btree::PageRef* ref);
  int Compare(const NtxNode& node, uint32_t i, const NtxSearch& s) const;
  uint32_t Bound(const NtxNode& node, const NtxSearch& s) const;
  // Clears the path and pushes the way from the root down to the leaf
  // where search falls, with the bound in each page.
  int16_t Descend(const NtxSearch& search);
  int16_t DescendEdge(uint32_t page, bool leftmost);
  int16_t SettleForward();
  int16_t SettleBackward();
  int16_t InsertAt(int level);
  int16_t InsertUp(int level);
  int16_t ReplaceFromLeaf(int level);
  int16_t Rebalance(int level);
  int16_t CollapseRoot();
  int16_t RestoreKept(const uint8_t* key, uint32_t recno, bool* restored);

  // Items copied out of pages (child, recno, key: item_size bytes each).
  uint8_t* ItemAt(uint32_t i) { return scratch_.data() + i * shape_.item_size; }
  // Copies items 0..count - 1 of a page to scratch index to on.
  void CopyItems(const NtxNode& node, uint32_t count, uint32_t to);
  // Lays out a fresh page from count items at scratch index from, with
  // the right-most child.
  void FillNode(NtxNode* node, uint32_t from, uint32_t count,
                uint32_t rightmost);
  // A fresh page image of count scratch items from index from, with the
  // right-most child rightmost.
  std::vector<uint8_t> LayOut(uint32_t from, uint32_t count,
                              uint32_t rightmost);
  // Writes a whole page image at once.
  int16_t WriteImage(uint32_t page, const std::vector<uint8_t>& image);
  // Writes the split pages' new images, top first (see InsertAt).
  int16_t WriteSplitImages();

  NtxShape shape_;
  bool descending_;
  btree::PageCache* cache_;
  btree::PathStack* path_;
  NtxTreeStore* store_;
  std::vector<uint8_t> scratch_;  // 2 * largest + 2 items
  std::vector<uint8_t> pending_;  // the item going into a page
  // Pages split by an insert and their new images, bottom first.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> split_images_;
  // The path and entry of the last Read, under the stamp of that time.
  btree::KeptPosition<NtxStamp> kept_;
};

}  // namespace qx::engine

#endif  // QX_ENGINE_NTX_NTX_TREE_H_
