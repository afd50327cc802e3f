// Search, positioning, insert and delete over a B+-tree of fixed-entry
// pages (entry_page.h), shared by the NDX index and the MDX tags.
//
// Tree shape. Every key/record pair lives once in a leaf, in key order
// (equal keys in the order their inserts chose: by record number for
// inserts that compare it). An interior page with c keys has c + 1
// children; key i is a copy of the greatest key of child i's subtree, and
// the trailing slot c holds the rightmost child. The format decides the
// page bytes (EntryLayout), key comparison, page allocation and freeing,
// and where the root is recorded (TreeStore); the algorithms here are the
// same for every format of this shape.
//
// Calls. Each operation is one step of a public call: it works through the
// call's page cache and path stack and leaves the position (if any) on the
// path stack. The caller refreshes the format's header words before and
// clears the cache after (the per-call rules of page_cache.h).
//
// Find. Binary search in each page from the root: at an interior page the
// lower bound by key alone (an equal key moves left, so the first of equal
// keys is reached); at a leaf the lower bound by key, and by record number
// among equal keys when the search matches it. When every key of the leaf
// is smaller the search goes on in the next leaf. Outcomes:
//   0   an equal entry: positioned on it;
//   4   no equal entry: positioned on the greatest smaller key (the caller
//       reaches the first greater one with a forward step); also when
//       every key is smaller, on the last key;
//   12  every key is greater: positioned on the first key;
//   2   the tree is empty: no position.
// (Named in search_result.h: kFound, kNotFound, kAllGreater, kEmpty.)
// A search that matches record numbers cannot tell from an interior key
// (which carries no record number) which of several children ending in
// the sought key holds the pair: it reads the greatest record number of
// such children (down their rightmost edge), the last one first (an
// appended record goes after every equal key), then by bisection, so a
// long run of equal keys costs a few edge descents rather than a walk
// along its leaves.
//
// Moves from a remembered position. ReadPosition keeps the path it read
// from, with the pair there. A next or previous from that same pair first
// checks the kept path against the file as it is now: the root word, each
// interior page's child at the kept index, the pair at the kept leaf slot.
// When all hold, the path is a real path to the pair and the step starts
// from it; otherwise the pair is searched again. Nothing of the kept path
// is trusted without reading its pages in the current call, except where
// the owner says that the file's pages are as they were at the end of the
// last call (TrustKeptPath: a file opened without sharing, after a call
// that ended cleanly) and no insert, delete or page move of this tree
// has run since the path was read: then the path is used as it is. The
// kept path, pair and stamp are a btree::KeptPosition (kept_position.h),
// the piece the NTX and FoxPro trees keep their positions with too.
//
// Insert. The pair goes before the first entry that is not smaller; a
// unique tree takes no second entry of a key. A full page splits: of the
// count + 1 entries the first ceil((count + 1) / 2) go to a new page, the
// rest stay; in an interior page the last entry moved becomes the new
// page's trailing pointer. The new page's greatest key goes up with the
// new page as its left child. A split root gets a new root of one key.
//
// Delete. The entry is removed from its leaf; when it was the leaf's last
// key, the new greatest key of that subtree replaces the separator in the
// nearest ancestor that holds one. Then, from the leaf upward while the
// page is below the root and holds fewer than min_fill keys, it is merged
// with its right sibling (or its left one when it is the last child) when
// both fit in one page: leaves when their counts add up to less than
// max_keys (an empty leaf also when they add up to max_keys, so that no
// empty leaf stays in the tree), interior pages when the counts plus the
// separator coming down are at most max_keys. The left page of the pair is
// freed and its entry removed from the parent. A root left with no key and
// one child gives way to that child.
//
// Invariants kept (and checked by btree_check.h, cited as T1..T6):
//  T1. Every page reached from the root is reached once; all leaves are at
//      the same depth; interior children are non-zero.
//  T2. count <= max_keys in every page.
//  T3. Keys in leaf order never decrease; in trees whose inserts compare
//      record numbers, identical keys have increasing record numbers (keys
//      that only compare equal, such as texts differing in bytes the
//      collation table lacks, may be in byte order after a build).
//  T4. Interior key i equals the greatest key of child i's subtree.
//  T5. Only the root may be an empty leaf.
//  T6. A leaf's trailing pointer word is 0.
#ifndef QX_ENGINE_BTREE_BTREE_H_
#define QX_ENGINE_BTREE_BTREE_H_

#include <cstdint>
#include <vector>

#include "engine/btree/entry_page.h"
#include "engine/btree/kept_position.h"
#include "engine/btree/page_cache.h"
#include "engine/btree/path_stack.h"
#include "engine/btree/search_key.h"
#include "engine/btree/tree_store.h"

namespace qx::engine::btree {

class Tree {
 public:
  // REQUIRES: layout->Valid(); min_fill <= layout->max_keys / 2.
  Tree(const EntryLayout* layout, uint32_t min_fill, PageCache* cache,
       PathStack* path, TreeStore* store);
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  // Positions by key (outcomes above).
  int16_t Find(const SearchKey& search);
  // Positions on the pair (key of full length, recno) wherever it is
  // among equal keys (0), also when equal keys are not in record order
  // (other writers may put them otherwise);
  // otherwise answers as Find with the record number matched.
  int16_t FindPair(const uint8_t* key, uint32_t recno);
  // First or last key: 0, or 2 when the tree is empty.
  int16_t First();
  int16_t Last();
  // Moves the position one key: 0, or 3 at the end (position unchanged).
  int16_t Step(bool forward);
  // Next and previous from a remembered position: steps from the path
  // kept by the last ReadPosition when it still leads to (key, recno),
  // else re-finds the pair with FindPair and steps. A pair that has gone
  // is replaced by the greatest smaller key first, so the step lands on
  // the next greater (forward) or that smaller key itself (backward). 0;
  // 3 past the end (positioned on the last, or first, key); 2 empty.
  int16_t MoveFrom(const uint8_t* key, uint32_t recno, bool forward);
  // Set by the owner at the start of each call: whether no one can have
  // changed the tree's pages since the last call (see above).
  void TrustKeptPath(bool trust) { trust_kept_path_ = trust; }
  // Forgets that the kept path was read from unchanged pages (a call
  // that failed may have changed some).
  void ForgetKeptPath() { ++changes_; }

  // The entry at the position. REQUIRES a position on a key.
  int16_t ReadPosition(uint8_t* key, uint32_t* recno);

  // Inserts a pair (key of full length) in (key, record number) order.
  // unique: a key already present is not added again (11, nothing
  // written): a unique tree keeps the first record that had the key.
  int16_t Insert(const uint8_t* key, uint32_t recno, bool unique);
  // Removes the pair as FindPair finds it (in a unique tree too: another
  // record's entry with an equal key stays). 0, or 4 / 2 (nothing
  // changed) when there is no such entry.
  int16_t Remove(const uint8_t* key, uint32_t recno);

  // Moves the content of page `from` to page `to` (a free page) and
  // points its parent (or the root word) at it: the step of a compaction.
  // -6 when no parent refers to `from`.
  int16_t MovePage(uint32_t from, uint32_t to);

 private:
  int16_t LoadChecked(uint32_t page, PageRef* ref);
  uint32_t LowerBound(const uint8_t* page, uint32_t count,
                      const SearchKey& search, bool leaf) const;
  int CompareEntry(const uint8_t* page, uint32_t slot, const SearchKey& s,
                   bool leaf) const;
  int16_t Descend(const SearchKey& search);
  int16_t SkipEqualChildren(const uint8_t* page, uint32_t count,
                            const SearchKey& search, uint32_t* slot);
  int16_t GreatestRecno(uint32_t page, uint32_t* recno, bool* known);
  int16_t RestoreKeptPath(const uint8_t* key, uint32_t recno, bool* restored);
  int16_t DescendEdge(uint32_t page, bool leftmost);
  int16_t Edge(bool first);
  int16_t StepLeaf(bool forward, bool* moved);
  int16_t InsertAtPosition(const uint8_t* key, uint32_t recno);
  int16_t SplitPage(PageRef* page, uint32_t index, bool leaf,
                    uint32_t left_child, uint32_t right_child, uint32_t recno,
                    uint32_t* new_page);
  int16_t UpdateSeparator(int leaf_level, const uint8_t* key);
  int16_t Rebalance(int level);
  int16_t CollapseRoot();
  int16_t FindParentByWalk(uint32_t target, uint32_t* parent, int32_t* slot);

  const EntryLayout* layout_;
  uint32_t min_fill_;
  PageCache* cache_;
  PathStack* path_;
  TreeStore* store_;
  // Working space of one operation: a page image of max_keys + 2 slots
  // (split and merge), and two key buffers.
  std::vector<uint8_t> scratch_;
  std::vector<uint8_t> pending_key_;
  std::vector<uint8_t> other_key_;
  std::vector<uint8_t> scan_key_;
  // Inserts, deletes, page moves and forgotten calls so far: the stamp of
  // the kept position, which is current while no such change came since.
  uint64_t changes_ = 0;
  // The path and pair of the last ReadPosition.
  KeptPosition<uint64_t> kept_;
  bool trust_kept_path_ = false;  // TrustKeptPath
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_BTREE_H_
