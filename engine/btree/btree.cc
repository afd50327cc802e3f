// Search, positioning, insert and delete over fixed-entry B+-trees (see
// btree.h).
//
// Divisions: page loading and binary search; descent and stepping along
// the leaf level; find and the moves built on it; insert with splits;
// delete with separator update, merges and root collapse; page moves for
// compaction.
#include "engine/btree/btree.h"

#include <algorithm>
#include <cstring>

#include "engine/btree/search_result.h"
#include "engine/core/last_error.h"

namespace qx::engine::btree {

namespace {

// A page as the kept position's check sees a node (kept_position.h).
struct EntryView {
  const EntryLayout* layout;
  const uint8_t* page;
  uint32_t count() const { return layout->Count(page); }
  bool leaf() const { return layout->IsLeaf(page); }
  uint32_t child(uint32_t i) const { return layout->Child(page, i); }
  uint32_t recno(uint32_t i) const { return layout->Recno(page, i); }
  const uint8_t* key(uint32_t i) const { return layout->Key(page, i); }
};

}  // namespace

Tree::Tree(const EntryLayout* layout, uint32_t min_fill, PageCache* cache,
           PathStack* path, TreeStore* store)
    : layout_(layout),
      min_fill_(min_fill),
      cache_(cache),
      path_(path),
      store_(store),
      scratch_(layout->EntryOffset(layout->max_keys + 2) + kPointerSize, 0),
      pending_key_(layout->key_length, 0),
      other_key_(layout->key_length, 0),
      scan_key_(layout->key_length, 0) {}

// ---- Pages and binary search ------------------------------------------------

// Loads a page of the tree and checks its count (T2): a count beyond the
// page's slots (a freed page, or damage) would send every loop past the
// page, so it is corruption.
int16_t Tree::LoadChecked(uint32_t page, PageRef* ref) {
  if (int16_t e = cache_->Load(page, ref)) return e;
  if (layout_->Count(ref->data()) > layout_->max_keys) {
    ref->Reset();
    return Fail(kKbdErrCorrupt);
  }
  return kKbdOk;
}

int Tree::CompareEntry(const uint8_t* page, uint32_t slot, const SearchKey& s,
                       bool leaf) const {
  int c = store_->CompareKeys(s.key, layout_->Key(page, slot), s.length,
                              s.wildcard);
  if (c != 0 || !leaf || !s.match_recno) return c;
  uint32_t recno = layout_->Recno(page, slot);
  return s.recno < recno ? -1 : (s.recno > recno ? 1 : 0);
}

// First slot not below the search: by key in an interior page (an equal
// key moves left), by key and record number in a leaf.
uint32_t Tree::LowerBound(const uint8_t* page, uint32_t count,
                          const SearchKey& search, bool leaf) const {
  uint32_t lo = 0, hi = count;
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (CompareEntry(page, mid, search, leaf) > 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// ---- Descent and steps ----------------------------------------------------

// Root to leaf by the search key; the leaf level's index is the lower
// bound there.
int16_t Tree::Descend(const SearchKey& search) {
  path_->Clear();
  uint32_t page = store_->Root();
  for (;;) {
    PageRef ref;
    if (int16_t e = LoadChecked(page, &ref)) return e;
    const uint8_t* p = ref.data();
    uint32_t count = layout_->Count(p);
    if (layout_->IsLeaf(p)) {
      return path_->Push(
          page, static_cast<int32_t>(LowerBound(p, count, search, true)));
    }
    uint32_t slot = LowerBound(p, count, search, false);
    if (search.match_recno) {
      if (int16_t e = SkipEqualChildren(p, count, search, &slot)) return e;
    }
    if (int16_t e = path_->Push(page, static_cast<int32_t>(slot))) return e;
    page = layout_->Child(p, slot);
  }
}

// At an interior page whose keys from *slot on equal the sought key: the
// first of those children whose greatest pair is not below the sought
// pair, or the child after them. Their greatest key is the sought key, so
// their greatest record numbers decide. A child whose greatest record
// number cannot be read (an empty leaf) counts as reaching the pair: the
// leaf walk of Find corrects a choice too far left, never one too far
// right.
int16_t Tree::SkipEqualChildren(const uint8_t* page, uint32_t count,
                                const SearchKey& search, uint32_t* slot) {
  uint32_t end = *slot;  // children [*slot, end) end in the sought key
  while (end < count &&
         store_->CompareKeys(search.key, layout_->Key(page, end), search.length,
                             search.wildcard) == 0)
    ++end;
  if (end == *slot) return kKbdOk;
  auto below = [&](uint32_t child, bool* is_below) -> int16_t {
    uint32_t recno = 0;
    bool known = false;
    if (int16_t e = GreatestRecno(layout_->Child(page, child), &recno, &known))
      return e;
    *is_below = known && recno < search.recno;
    return kKbdOk;
  };
  bool is_below = false;
  if (int16_t e = below(end - 1, &is_below)) return e;
  if (is_below) {
    *slot = end;
    return kKbdOk;
  }
  uint32_t lo = *slot, hi = end - 1;  // the answer lies in [lo, hi]
  while (lo < hi) {
    uint32_t mid = lo + (hi - lo) / 2;
    if (int16_t e = below(mid, &is_below)) return e;
    if (is_below)
      lo = mid + 1;
    else
      hi = mid;
  }
  *slot = lo;
  return kKbdOk;
}

// The record number of the last entry under page, down the rightmost
// children; *known is false when that leaf is empty.
int16_t Tree::GreatestRecno(uint32_t page, uint32_t* recno, bool* known) {
  *known = false;
  for (;;) {
    PageRef ref;
    if (int16_t e = LoadChecked(page, &ref)) return e;
    const uint8_t* p = ref.data();
    uint32_t count = layout_->Count(p);
    if (layout_->IsLeaf(p)) {
      if (count == 0) return kKbdOk;
      *recno = layout_->Recno(p, count - 1);
      *known = true;
      return kKbdOk;
    }
    page = layout_->Child(p, count);
  }
}

// From page down to a leaf along the leftmost (or rightmost) children,
// pushing each level; the leaf index is its first (or last) key, or 0 in
// an empty leaf.
int16_t Tree::DescendEdge(uint32_t page, bool leftmost) {
  for (;;) {
    PageRef ref;
    if (int16_t e = LoadChecked(page, &ref)) return e;
    const uint8_t* p = ref.data();
    uint32_t count = layout_->Count(p);
    if (layout_->IsLeaf(p)) {
      int32_t index =
          leftmost || count == 0 ? 0 : static_cast<int32_t>(count) - 1;
      return path_->Push(page, index);
    }
    uint32_t slot = leftmost ? 0 : count;
    if (int16_t e = path_->Push(page, static_cast<int32_t>(slot))) return e;
    page = layout_->Child(p, slot);
  }
}

// One key forward (or back) along the leaves; at either end the path is
// left as it was and *moved is false. Empty leaves (which only a damaged
// or foreign file has below the root) are passed over.
int16_t Tree::StepLeaf(bool forward, bool* moved) {
  *moved = false;
  const int depth = path_->depth();
  if (depth == 0) return kKbdOk;
  std::vector<PathEntry> saved(static_cast<size_t>(depth));
  for (int l = 0; l < depth; ++l) saved[static_cast<size_t>(l)] = path_->at(l);
  {
    PageRef leaf;
    if (int16_t e = LoadChecked(path_->leaf().page, &leaf)) return e;
    const int32_t count = static_cast<int32_t>(layout_->Count(leaf.data()));
    int32_t& index = path_->leaf().index;
    // Backward from an insertion point past the end lands on the last key.
    const int32_t next = forward ? index + 1 : std::min(index, count) - 1;
    if (next >= 0 && next < count) {
      index = next;
      *moved = true;
      return kKbdOk;
    }
  }
  for (;;) {
    // Climb to the nearest level with a sibling slot in this direction.
    int level = path_->depth() - 2;
    uint32_t child = 0;
    for (; level >= 0; --level) {
      PageRef ref;
      if (int16_t e = LoadChecked(path_->at(level).page, &ref)) return e;
      const int32_t count = static_cast<int32_t>(layout_->Count(ref.data()));
      int32_t& index = path_->at(level).index;
      if (forward ? index < count : index > 0) {
        index = forward ? index + 1 : std::min(index, count + 1) - 1;
        child = layout_->Child(ref.data(), static_cast<uint32_t>(index));
        break;
      }
    }
    if (level < 0) {  // past the end: keep the old position
      path_->Clear();
      for (const PathEntry& e : saved) path_->Push(e.page, e.index);
      return kKbdOk;
    }
    path_->Truncate(level + 1);
    if (int16_t e = DescendEdge(child, forward)) return e;
    PageRef leaf;
    if (int16_t e = LoadChecked(path_->leaf().page, &leaf)) return e;
    if (layout_->Count(leaf.data()) > 0) {
      *moved = true;
      return kKbdOk;
    }
  }
}

// ---- Find and moves ---------------------------------------------------------

int16_t Tree::Find(const SearchKey& search) {
  if (int16_t e = Descend(search)) return e;
  for (;;) {
    PageRef leaf;
    if (int16_t e = LoadChecked(path_->leaf().page, &leaf)) return e;
    const uint8_t* p = leaf.data();
    uint32_t count = layout_->Count(p);
    uint32_t lo = static_cast<uint32_t>(path_->leaf().index);
    if (lo < count) {
      if (CompareEntry(p, lo, search, true) == 0) return kFound;
      if (lo > 0) {
        path_->leaf().index = static_cast<int32_t>(lo) - 1;
        return kNotFound;
      }
      leaf.Reset();
      bool moved = false;
      if (int16_t e = StepLeaf(false, &moved)) return e;
      return moved ? kNotFound : kAllGreater;
    }
    // Every key of this leaf is smaller: go on in the next leaf.
    if (count == 0 && path_->depth() == 1) {
      path_->Clear();
      return kEmpty;
    }
    path_->leaf().index = count == 0 ? 0 : static_cast<int32_t>(count) - 1;
    leaf.Reset();
    bool moved = false;
    if (int16_t e = StepLeaf(true, &moved)) return e;
    if (!moved) {
      if (count == 0) {  // an empty last leaf: the last key is behind
        if (int16_t e = StepLeaf(false, &moved)) return e;
        if (!moved) {
          path_->Clear();
          return kEmpty;
        }
      }
      return kNotFound;  // positioned on the last key
    }
    PageRef next;
    if (int16_t e = LoadChecked(path_->leaf().page, &next)) return e;
    path_->leaf().index = static_cast<int32_t>(
        LowerBound(next.data(), layout_->Count(next.data()), search, true));
  }
}

int16_t Tree::FindPair(const uint8_t* key, uint32_t recno) {
  SearchKey search;
  search.key = key;
  search.length = layout_->key_length;
  search.recno = recno;
  search.match_recno = true;
  int16_t found = Find(search);
  if (found == kFound || found == kEmpty || found < 0) return found;
  // Look through the run of equal keys from its first one.
  SearchKey by_key = search;
  by_key.match_recno = false;
  int16_t first = Find(by_key);
  if (first < 0) return first;
  while (first == kFound) {
    uint32_t at = 0;
    if (int16_t e = ReadPosition(scan_key_.data(), &at)) return e;
    if (store_->CompareKeys(key, scan_key_.data(), layout_->key_length,
                            false) != 0)
      break;
    if (at == recno) return kFound;
    bool moved = false;
    if (int16_t e = StepLeaf(true, &moved)) return e;
    if (!moved) break;
  }
  return Find(search);
}

int16_t Tree::First() { return Edge(true); }
int16_t Tree::Last() { return Edge(false); }

// The first (or last) key: down the edge of the tree; an empty edge leaf
// steps on to its neighbour, and a tree without keys is empty (2).
int16_t Tree::Edge(bool first) {
  path_->Clear();
  if (int16_t e = DescendEdge(store_->Root(), first)) return e;
  PageRef leaf;
  if (int16_t e = LoadChecked(path_->leaf().page, &leaf)) return e;
  if (layout_->Count(leaf.data()) > 0) return kFound;
  leaf.Reset();
  bool moved = false;
  if (int16_t e = StepLeaf(first, &moved)) return e;
  if (moved) return kFound;
  path_->Clear();
  return kEmpty;
}

int16_t Tree::Step(bool forward) {
  bool moved = false;
  int16_t e = StepLeaf(forward, &moved);
  if (e < 0) return e;
  return moved ? kFound : kNoMore;
}

// Puts the kept path back on the path stack when it still leads from the
// root to the pair (key, recno); *restored tells whether it did. Pages
// outside the file or not of the expected kind make it stale, not an
// error.
int16_t Tree::RestoreKeptPath(const uint8_t* key, uint32_t recno,
                              bool* restored) {
  *restored = false;
  if (!kept_.Holds(key, recno) || !kept_.StartsAt(store_->Root()))
    return kKbdOk;
  // Pages unchanged since the path was read need no second look.
  const bool trusted = trust_kept_path_ && kept_.KeptUnder(changes_);
  const auto visit = [this](uint32_t page, const auto& check) -> int16_t {
    if (!cache_->InBounds(page)) return kKbdOk;
    PageRef ref;
    if (int16_t e = cache_->Load(page, &ref)) return e;
    if (layout_->Count(ref.data()) > layout_->max_keys) return kKbdOk;
    check(EntryView{layout_, ref.data()});
    return kKbdOk;
  };
  return kept_.RestoreIfLeads(trusted ? kept_.path().size() : 0,
                              /*leaf_at_end=*/true, visit, path_, restored);
}

int16_t Tree::MoveFrom(const uint8_t* key, uint32_t recno, bool forward) {
  bool restored = false;
  if (int16_t e = RestoreKeptPath(key, recno, &restored)) return e;
  if (restored) return Step(forward);
  int16_t found = FindPair(key, recno);
  if (found < 0 || found == kEmpty) return found;
  if (forward) {
    // On 12 the first key is already the next greater one.
    if (found == kAllGreater) return kFound;
    return Step(true);
  }
  // On 4 the greatest smaller key is the previous one itself.
  if (found == kNotFound) return kFound;
  if (found == kAllGreater) return kNoMore;
  return Step(false);
}

int16_t Tree::ReadPosition(uint8_t* key, uint32_t* recno) {
  if (path_->empty()) return Fail(kKbdErrCorrupt);
  PageRef leaf;
  if (int16_t e = LoadChecked(path_->leaf().page, &leaf)) return e;
  uint32_t index = static_cast<uint32_t>(path_->leaf().index);
  if (index >= layout_->Count(leaf.data())) return Fail(kKbdErrCorrupt);
  // Record number 0 stands for "no entry" on both sides of the interface
  // (and in the kept position): an entry holding it is damage, and a walk
  // handed it could not go on from it.
  if (layout_->Recno(leaf.data(), index) == 0) return Fail(kKbdErrCorrupt);
  std::memcpy(key, layout_->Key(leaf.data(), index), layout_->key_length);
  *recno = layout_->Recno(leaf.data(), index);
  // Kept for the next move from this pair (RestoreKeptPath).
  kept_.Keep(*path_, key, layout_->key_length, *recno, changes_);
  return kKbdOk;
}

// ---- Insert -----------------------------------------------------------------

int16_t Tree::Insert(const uint8_t* key, uint32_t recno, bool unique) {
  ++changes_;
  SearchKey search;
  search.key = key;
  search.length = layout_->key_length;
  search.recno = recno;
  search.match_recno = !unique;
  int16_t found = Find(search);
  if (found < 0) return found;
  // A unique tree holds one entry per key: the first record's.
  if (unique && found == kFound) return kExists;
  if (found == kEmpty) {
    path_->Clear();
    if (int16_t e = path_->Push(store_->Root(), 0)) return e;
  } else if (found == kNotFound) {
    // The pair goes before the next greater key; with none, after the last.
    bool moved = false;
    if (int16_t e = StepLeaf(true, &moved)) return e;
    if (!moved) ++path_->leaf().index;
  }
  return InsertAtPosition(key, recno);
}

// Inserts at the leaf index of the path, splitting upward as needed.
int16_t Tree::InsertAtPosition(const uint8_t* key, uint32_t recno) {
  std::memcpy(pending_key_.data(), key, layout_->key_length);
  uint32_t left_child = 0, right_child = 0;
  const int leaf_level = path_->depth() - 1;
  for (int level = leaf_level;; --level) {
    const bool leaf = level == leaf_level;
    uint32_t index = static_cast<uint32_t>(path_->at(level).index);
    PageRef page;
    if (int16_t e = LoadChecked(path_->at(level).page, &page)) return e;
    uint8_t* p = page.data();
    uint32_t count = layout_->Count(p);
    if (index > count) return Fail(kKbdErrCorrupt);
    if (count < layout_->max_keys) {
      layout_->OpenGap(p, index, count);
      layout_->PutEntry(p, index, leaf, left_child, recno, pending_key_.data());
      if (!leaf) layout_->SetChild(p, index + 1, right_child);
      layout_->SetCount(p, count + 1);
      return cache_->Write(page);
    }
    const uint32_t old_page = page.id();
    uint32_t new_page = 0;
    if (int16_t e = SplitPage(&page, index, leaf, left_child, right_child,
                              recno, &new_page))
      return e;
    // The new page holds the lower half: it goes up as the left child of
    // its greatest key (now in pending_key_), the old page stays right.
    left_child = new_page;
    right_child = old_page;
    recno = 0;
    if (level == 0) {
      uint32_t root = 0;
      if (int16_t e = store_->AllocatePage(&root)) return e;
      PageRef top;
      if (int16_t e = cache_->Create(root, &top)) return e;
      layout_->SetCount(top.data(), 1);
      layout_->PutEntry(top.data(), 0, false, left_child, 0,
                        pending_key_.data());
      layout_->SetChild(top.data(), 1, old_page);
      if (int16_t e = cache_->Write(top)) return e;
      return store_->SetRoot(root);
    }
  }
}

// Splits the full page held by *page while inserting the pending entry
// (pending_key_, left_child, recno; right_child after it in an interior
// page) at index. The count + 1 entries are laid out in scratch_; the
// first ceil((count + 1) / 2) go to a new page, the rest stay. On return
// *new_page is the new page and pending_key_ its greatest key.
int16_t Tree::SplitPage(PageRef* page, uint32_t index, bool leaf,
                        uint32_t left_child, uint32_t right_child,
                        uint32_t recno, uint32_t* new_page) {
  const EntryLayout& layout = *layout_;
  uint8_t* p = page->data();
  const uint32_t count = layout.Count(p);
  uint8_t* s = scratch_.data();
  std::memset(s, 0, scratch_.size());
  // Slots [0, index), the pending entry, then slots [index, count] with
  // the trailing pointer word.
  std::memcpy(s + layout.EntryOffset(0), p + layout.EntryOffset(0),
              layout.EntryOffset(index) - layout.EntryOffset(0));
  std::memcpy(s + layout.EntryOffset(index + 1), p + layout.EntryOffset(index),
              layout.EntryOffset(count) + layout.child_offset + kPointerSize -
                  layout.EntryOffset(index));
  layout.PutEntry(s, index, leaf, left_child, recno, pending_key_.data());
  if (!leaf) layout.SetChild(s, index + 1, right_child);

  const uint32_t total = count + 1;
  const uint32_t lower = (total + 1) / 2;  // ceil
  const uint32_t upper = total - lower;

  uint32_t id = 0;
  if (int16_t e = store_->AllocatePage(&id)) return e;
  PageRef fresh;
  if (int16_t e = cache_->Create(id, &fresh)) return e;
  uint8_t* n = fresh.data();
  std::memcpy(n + layout.EntryOffset(0), s + layout.EntryOffset(0),
              layout.EntryOffset(lower) - layout.EntryOffset(0));
  std::memcpy(pending_key_.data(), layout.Key(s, lower - 1), layout.key_length);
  if (leaf) {
    layout.SetCount(n, lower);  // trailing word stays 0 (T6)
  } else {
    // The last entry moved becomes the trailing pointer: only its pointer
    // word is kept.
    uint32_t keep =
        layout.EntryOffset(lower - 1) + layout.child_offset + kPointerSize;
    std::memset(n + keep, 0, layout.EntryOffset(lower) - keep);
    std::memset(n + layout.EntryOffset(lower - 1), 0, layout.child_offset);
    layout.SetCount(n, lower - 1);
  }
  // The old page keeps the upper entries and its trailing pointer.
  std::memset(p + layout.EntryOffset(0), 0,
              layout.page_size - layout.EntryOffset(0));
  std::memcpy(p + layout.EntryOffset(0), s + layout.EntryOffset(lower),
              layout.EntryOffset(total) + layout.child_offset + kPointerSize -
                  layout.EntryOffset(lower));
  layout.SetCount(p, upper);
  if (int16_t e = cache_->Write(fresh)) return e;
  if (int16_t e = cache_->Write(*page)) return e;
  page->Reset();
  *new_page = id;
  return kKbdOk;
}

// ---- Delete -----------------------------------------------------------------

int16_t Tree::Remove(const uint8_t* key, uint32_t recno) {
  ++changes_;
  int16_t found = FindPair(key, recno);
  if (found < 0) return found;
  if (found == kEmpty) return kEmpty;
  if (found != kFound) return kNotFound;

  const int leaf_level = path_->depth() - 1;
  const uint32_t index = static_cast<uint32_t>(path_->leaf().index);
  bool had_last = false;
  bool have_new_last = false;
  {
    PageRef leaf;
    if (int16_t e = LoadChecked(path_->leaf().page, &leaf)) return e;
    uint8_t* p = leaf.data();
    uint32_t count = layout_->Count(p);
    had_last = index + 1 == count;
    layout_->CloseGap(p, index, count);
    layout_->SetCount(p, count - 1);
    if (int16_t e = cache_->Write(leaf)) return e;
    if (had_last && count > 1) {
      std::memcpy(other_key_.data(), layout_->Key(p, count - 2),
                  layout_->key_length);
      have_new_last = true;
    }
  }
  if (had_last) {
    if (!have_new_last && leaf_level > 0) {
      // The leaf is empty: the subtree's greatest key is now the key before
      // it in the whole tree.
      std::vector<PathEntry> saved;
      for (int l = 0; l < path_->depth(); ++l) saved.push_back(path_->at(l));
      path_->leaf().index = 0;
      bool moved = false;
      if (int16_t e = StepLeaf(false, &moved)) return e;
      if (moved) {
        uint32_t ignored = 0;
        if (int16_t e = ReadPosition(other_key_.data(), &ignored)) return e;
        have_new_last = true;
      }
      path_->Clear();
      for (const PathEntry& e : saved) path_->Push(e.page, e.index);
    }
    if (have_new_last) {
      if (int16_t e = UpdateSeparator(leaf_level, other_key_.data())) return e;
    }
  }
  if (int16_t e = Rebalance(leaf_level)) return e;
  return CollapseRoot();
}

// Writes key into the nearest ancestor whose path slot is a key (not the
// trailing slot): there the separator of this subtree lives (T4).
int16_t Tree::UpdateSeparator(int leaf_level, const uint8_t* key) {
  for (int level = leaf_level - 1; level >= 0; --level) {
    PageRef ref;
    if (int16_t e = LoadChecked(path_->at(level).page, &ref)) return e;
    uint32_t slot = static_cast<uint32_t>(path_->at(level).index);
    if (slot < layout_->Count(ref.data())) {
      std::memcpy(layout_->Key(ref.data(), slot), key, layout_->key_length);
      return cache_->Write(ref);
    }
  }
  return kKbdOk;
}

// Merges underfull pages upward from level (rules in btree.h).
int16_t Tree::Rebalance(int level) {
  const EntryLayout& layout = *layout_;
  const int leaf_level = path_->depth() - 1;
  for (; level > 0; --level) {
    const bool leaf = level == leaf_level;
    const uint32_t page_id = path_->at(level).page;
    {
      PageRef page;
      if (int16_t e = LoadChecked(page_id, &page)) return e;
      uint32_t count = layout.Count(page.data());
      if (count >= min_fill_ && count > 0) return kKbdOk;
    }
    PageRef parent;
    if (int16_t e = LoadChecked(path_->at(level - 1).page, &parent)) return e;
    uint8_t* pp = parent.data();
    const uint32_t parent_count = layout.Count(pp);
    const uint32_t slot = static_cast<uint32_t>(path_->at(level - 1).index);
    if (parent_count == 0 || slot > parent_count) return kKbdOk;  // no sibling
    const uint32_t separator = slot < parent_count ? slot : slot - 1;
    const uint32_t left_id = layout.Child(pp, separator);
    const uint32_t right_id = layout.Child(pp, separator + 1);
    PageRef left, right;
    if (int16_t e = LoadChecked(left_id, &left)) return e;
    if (int16_t e = LoadChecked(right_id, &right)) return e;
    const uint32_t a = layout.Count(left.data());
    const uint32_t b = layout.Count(right.data());
    bool fits = leaf ? (a + b < layout.max_keys ||
                        ((a == 0 || b == 0) && a + b <= layout.max_keys))
                     : a + b < layout.max_keys;
    if (!fits) return kKbdOk;
    // Left entries, the separator coming down (interior), right entries
    // with the right page's trailing pointer.
    uint8_t* s = scratch_.data();
    std::memset(s, 0, scratch_.size());
    std::memcpy(s + layout.EntryOffset(0), left.data() + layout.EntryOffset(0),
                layout.EntryOffset(a) - layout.EntryOffset(0));
    uint32_t k = a;
    if (!leaf) {
      layout.PutEntry(s, a, false, layout.Child(left.data(), a), 0,
                      layout.Key(pp, separator));
      k = a + 1;
    }
    std::memcpy(s + layout.EntryOffset(k), right.data() + layout.EntryOffset(0),
                layout.EntryOffset(b) + layout.child_offset + kPointerSize -
                    layout.EntryOffset(0));
    uint8_t* r = right.data();
    std::memset(r + layout.EntryOffset(0), 0,
                layout.page_size - layout.EntryOffset(0));
    std::memcpy(r + layout.EntryOffset(0), s + layout.EntryOffset(0),
                layout.EntryOffset(k + b) + layout.child_offset + kPointerSize -
                    layout.EntryOffset(0));
    layout.SetCount(r, k + b);
    if (int16_t e = cache_->Write(right)) return e;
    right.Reset();
    left.Reset();
    // The parent loses the left page's entry; the slot then names the
    // surviving right page.
    layout.CloseGap(pp, separator, parent_count);
    layout.SetCount(pp, parent_count - 1);
    if (int16_t e = cache_->Write(parent)) return e;
    parent.Reset();
    path_->at(level - 1).index = static_cast<int32_t>(separator);
    if (int16_t e = store_->FreePage(left_id)) return e;
  }
  return kKbdOk;
}

// A root with no key and one child gives way to the child.
int16_t Tree::CollapseRoot() {
  for (int guard = 0; guard < path_->capacity() + 1; ++guard) {
    uint32_t root = store_->Root();
    uint32_t child = 0;
    {
      PageRef ref;
      if (int16_t e = LoadChecked(root, &ref)) return e;
      if (layout_->IsLeaf(ref.data()) || layout_->Count(ref.data()) != 0)
        return kKbdOk;
      child = layout_->Child(ref.data(), 0);
    }
    if (int16_t e = store_->SetRoot(child)) return e;
    if (int16_t e = store_->FreePage(root)) return e;
  }
  return Fail(kKbdErrCorrupt);
}

// ---- Compaction -------------------------------------------------------------

// Depth-first search of the interior pages for the slot that points at
// target. Used when a search by key does not lead there (duplicate keys
// not in record order).
int16_t Tree::FindParentByWalk(uint32_t target, uint32_t* parent,
                               int32_t* slot) {
  // The height, so that leaves are never loaded by the walk.
  path_->Clear();
  if (int16_t e = DescendEdge(store_->Root(), true)) return e;
  const int height = path_->depth();
  path_->Clear();
  if (int16_t e = path_->Push(store_->Root(), -1)) return e;
  while (!path_->empty()) {
    PathEntry& top = path_->leaf();
    PageRef ref;
    if (int16_t e = LoadChecked(top.page, &ref)) return e;
    const uint8_t* p = ref.data();
    uint32_t count = layout_->Count(p);
    if (layout_->IsLeaf(p) || top.index >= static_cast<int32_t>(count)) {
      path_->Pop();
      continue;
    }
    ++top.index;
    uint32_t child = layout_->Child(p, static_cast<uint32_t>(top.index));
    if (child == target) {
      *parent = top.page;
      *slot = top.index;
      return kKbdOk;
    }
    if (path_->depth() + 1 < height) {
      if (int16_t e = path_->Push(child, -1)) return e;
    }
  }
  return Fail(kKbdErrCorrupt);
}

int16_t Tree::MovePage(uint32_t from, uint32_t to) {
  ++changes_;
  uint32_t parent = 0;
  int32_t slot = -1;
  if (from != store_->Root()) {
    // The first pair under `from` leads the search through it.
    path_->Clear();
    if (int16_t e = DescendEdge(from, true)) return e;
    PageRef leaf;
    if (int16_t e = LoadChecked(path_->leaf().page, &leaf)) return e;
    bool searched = false;
    if (layout_->Count(leaf.data()) > 0) {
      std::memcpy(other_key_.data(), layout_->Key(leaf.data(), 0),
                  layout_->key_length);
      uint32_t recno = layout_->Recno(leaf.data(), 0);
      leaf.Reset();
      int16_t found = FindPair(other_key_.data(), recno);
      if (found < 0) return found;
      if (found == kFound) {
        for (int level = 1; level < path_->depth(); ++level) {
          if (path_->at(level).page == from) {
            parent = path_->at(level - 1).page;
            slot = path_->at(level - 1).index;
            searched = true;
            break;
          }
        }
      }
    }
    if (!searched) {
      if (int16_t e = FindParentByWalk(from, &parent, &slot)) return e;
    }
  }
  {
    PageRef source, target;
    if (int16_t e = cache_->Load(from, &source)) return e;
    if (int16_t e = cache_->Create(to, &target)) return e;
    std::memcpy(target.data(), source.data(), layout_->page_size);
    if (int16_t e = cache_->Write(target)) return e;
  }
  if (slot < 0) return store_->SetRoot(to);
  PageRef ref;
  if (int16_t e = LoadChecked(parent, &ref)) return e;
  layout_->SetChild(ref.data(), static_cast<uint32_t>(slot), to);
  return cache_->Write(ref);
}

}  // namespace qx::engine::btree
