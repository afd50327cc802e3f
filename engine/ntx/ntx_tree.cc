// The B-tree algorithms of NTX files (see ntx_tree.h).
#include "engine/ntx/ntx_tree.h"

#include <cstring>

#include "engine/btree/search_result.h"
#include "engine/core/last_error.h"

namespace qx::engine {

using btree::kEmpty;
using btree::kExists;
using btree::kFound;
using btree::kNoMore;
using btree::kNotFound;
using btree::PageRef;

NtxTree::NtxTree(const NtxShape& shape, bool descending,
                 btree::PageCache* cache, btree::PathStack* path,
                 NtxTreeStore* store)
    : shape_(shape),
      descending_(descending),
      cache_(cache),
      path_(path),
      store_(store),
      scratch_(static_cast<size_t>(2 * shape.largest + 2) * shape.item_size),
      pending_(shape.item_size) {}

// ---- Pages ------------------------------------------------------------------

int16_t NtxTree::Load(uint32_t page, PageRef* ref) {
  if (page < kNtxPageSize || page % kNtxPageSize != 0) return Fail(kKbdErrSeek);
  if (!cache_->InBounds(page)) {
    if (int16_t e = store_->MeasureSize()) return e;
  }
  if (int16_t e = cache_->Load(page, ref)) return e;
  if (cache_->checked(*ref)) return kKbdOk;
  if (!NtxNode(ref->data(), shape_).Valid()) {
    ref->Reset();
    return Fail(kKbdErrCorrupt);
  }
  cache_->MarkChecked(*ref);
  return kKbdOk;
}

int16_t NtxTree::Create(uint32_t page, PageRef* ref) {
  if (page < kNtxPageSize || page % kNtxPageSize != 0) return Fail(kKbdErrSeek);
  if (int16_t e = cache_->Create(page, ref)) return e;
  NtxNode(ref->data(), shape_).Format();
  return kKbdOk;
}

void NtxTree::CopyItems(const NtxNode& node, uint32_t count, uint32_t to) {
  for (uint32_t j = 0; j < count; ++j)
    std::memcpy(ItemAt(to + j), node.item(j), shape_.item_size);
}

void NtxTree::FillNode(NtxNode* node, uint32_t from, uint32_t count,
                       uint32_t rightmost) {
  for (uint32_t j = 0; j < count; ++j)
    std::memcpy(node->item(j), ItemAt(from + j), shape_.item_size);
  node->set_count(count);
  node->set_child(count, rightmost);
}

std::vector<uint8_t> NtxTree::LayOut(uint32_t from, uint32_t count,
                                     uint32_t rightmost) {
  std::vector<uint8_t> image(kNtxPageSize);
  NtxNode node(image.data(), shape_);
  node.Format();
  FillNode(&node, from, count, rightmost);
  return image;
}

int16_t NtxTree::WriteImage(uint32_t page, const std::vector<uint8_t>& image) {
  PageRef ref;
  if (int16_t e = Create(page, &ref)) return e;
  std::memcpy(ref.data(), image.data(), kNtxPageSize);
  return cache_->Write(ref);
}

int16_t NtxTree::WriteSplitImages() {
  for (auto it = split_images_.rbegin(); it != split_images_.rend(); ++it)
    if (int16_t e = WriteImage(it->first, it->second)) return e;
  split_images_.clear();
  return kKbdOk;
}

// ---- Search -----------------------------------------------------------------

int NtxTree::Compare(const NtxNode& node, uint32_t i,
                     const NtxSearch& s) const {
  int c = std::memcmp(node.key(i), s.key, s.length);
  if (descending_) c = -c;
  if (c != 0) return c;
  if (s.after_equal) return -1;
  if (!s.match_recno) return 0;
  const uint32_t r = node.recno(i);
  return r < s.recno ? -1 : (r > s.recno ? 1 : 0);
}

uint32_t NtxTree::Bound(const NtxNode& node, const NtxSearch& s) const {
  uint32_t lo = 0, hi = node.count();
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (Compare(node, mid, s) < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

int16_t NtxTree::DescendEdge(uint32_t page, bool leftmost) {
  for (;;) {
    PageRef ref;
    if (int16_t e = Load(page, &ref)) return e;
    NtxNode node(ref.data(), shape_);
    const uint32_t i = leftmost ? 0 : node.count();
    if (int16_t e = path_->Push(page, static_cast<int32_t>(i))) return e;
    if (node.leaf()) return kKbdOk;
    page = node.child(i);
  }
}

// From a path whose last index may be one past its page's keys: up to the
// first level that has a key at its index.
int16_t NtxTree::SettleForward() {
  for (;;) {
    const btree::PathEntry top = path_->leaf();
    PageRef ref;
    if (int16_t e = Load(top.page, &ref)) return e;
    if (static_cast<uint32_t>(top.index) < NtxNode(ref.data(), shape_).count())
      return kFound;
    path_->Pop();
    if (path_->empty()) return kNoMore;
  }
}

// From a path whose last index is one past the wanted key: the key before
// it, climbing while a level has none.
int16_t NtxTree::SettleBackward() {
  for (;;) {
    btree::PathEntry& top = path_->leaf();
    if (top.index > 0) {
      --top.index;
      return kFound;
    }
    path_->Pop();
    if (path_->empty()) return kNoMore;
  }
}

int16_t NtxTree::Descend(const NtxSearch& search) {
  path_->Clear();
  uint32_t page = store_->Root();
  for (;;) {
    PageRef ref;
    if (int16_t e = Load(page, &ref)) return e;
    NtxNode node(ref.data(), shape_);
    const uint32_t i = Bound(node, search);
    if (int16_t e = path_->Push(page, static_cast<int32_t>(i))) return e;
    if (node.leaf()) break;
    page = node.child(i);
  }
  return kKbdOk;
}

int16_t NtxTree::LowerBound(const NtxSearch& search) {
  if (int16_t e = Descend(search)) return e;
  int16_t status = SettleForward();
  if (status != kNoMore) return status;
  status = First();
  path_->Clear();
  return status == kFound ? int16_t{kNoMore} : status;
}

int16_t NtxTree::FindPair(const uint8_t* key, uint32_t recno) {
  const NtxSearch pair{key, shape_.key_length, recno, true};
  int16_t status = LowerBound(pair);
  if (status != kFound && status != kNoMore) return status;
  if (status == kFound) {
    bool matches = false;
    if (int16_t e = Matches(pair, &matches)) return e;
    if (matches) return kFound;
  }
  // Equal keys out of record order (added after a build): the run of
  // equal keys is searched from its start.
  const NtxSearch by_key{key, shape_.key_length, 0, false};
  status = LowerBound(by_key);
  if (status == kNoMore) return kNotFound;
  if (status != kFound) return status;
  for (;;) {
    const btree::PathEntry top = path_->leaf();
    {
      PageRef ref;
      if (int16_t e = Load(top.page, &ref)) return e;
      NtxNode node(ref.data(), shape_);
      const uint32_t i = static_cast<uint32_t>(top.index);
      if (std::memcmp(node.key(i), key, shape_.key_length) != 0) break;
      if (node.recno(i) == recno) return kFound;
    }
    status = Step(true);
    if (status == kNoMore) break;
    if (status != kFound) return status;
  }
  path_->Clear();
  return kNotFound;
}

int16_t NtxTree::First() {
  path_->Clear();
  if (int16_t e = DescendEdge(store_->Root(), true)) return e;
  const int16_t status = SettleForward();
  return status == kNoMore ? int16_t{kEmpty} : status;
}

int16_t NtxTree::Last() {
  path_->Clear();
  if (int16_t e = DescendEdge(store_->Root(), false)) return e;
  const int16_t status = SettleBackward();
  return status == kNoMore ? int16_t{kEmpty} : status;
}

int16_t NtxTree::Step(bool forward) {
  const btree::PathEntry top = path_->leaf();
  uint32_t child = 0;
  {
    PageRef ref;
    if (int16_t e = Load(top.page, &ref)) return e;
    NtxNode node(ref.data(), shape_);
    if (node.leaf()) {
      if (!forward) return SettleBackward();
      ++path_->leaf().index;
      return SettleForward();
    }
    // From a key of an interior page: the edge of the subtree after it
    // (forward) or before it (backward).
    const uint32_t i = static_cast<uint32_t>(top.index) + (forward ? 1 : 0);
    child = node.child(i);
    path_->leaf().index = static_cast<int32_t>(i);
  }
  if (int16_t e = DescendEdge(child, forward)) return e;
  return forward ? SettleForward() : SettleBackward();
}

int16_t NtxTree::Read(uint8_t* key, uint32_t* recno) {
  const btree::PathEntry top = path_->leaf();
  PageRef ref;
  if (int16_t e = Load(top.page, &ref)) return e;
  NtxNode node(ref.data(), shape_);
  const uint32_t i = static_cast<uint32_t>(top.index);
  // Record number 0 stands for "no entry" on both sides of the interface
  // (and in the kept position): an entry holding it is damage, and a walk
  // handed it could not go on from it.
  if (node.recno(i) == 0) return Fail(kKbdErrCorrupt);
  std::memcpy(key, node.key(i), shape_.key_length);
  *recno = node.recno(i);
  kept_.Keep(*path_, key, shape_.key_length, *recno, store_->Stamp());
  return kKbdOk;
}

// Takes the kept path as the position when it leads from the current
// root to (key, recno) in the pages as they are now.
int16_t NtxTree::RestoreKept(const uint8_t* key, uint32_t recno,
                             bool* restored) {
  *restored = false;
  if (!kept_.Holds(key, recno) || !kept_.StartsAt(store_->Root()) ||
      kept_.path().size() > static_cast<size_t>(path_->capacity()))
    return kKbdOk;
  // An unchanged stamp vouches for the interior pages.
  const size_t first =
      kept_.KeptUnder(store_->Stamp()) ? kept_.path().size() - 1 : 0;
  const auto visit = [this](uint32_t page, const auto& check) -> int16_t {
    PageRef ref;
    if (int16_t e = Load(page, &ref)) return e;
    check(NtxNode(ref.data(), shape_));
    return kKbdOk;
  };
  return kept_.RestoreIfLeads(first, /*leaf_at_end=*/false, visit, path_,
                              restored);
}

int16_t NtxTree::MoveFrom(const uint8_t* key, uint32_t recno, bool forward) {
  bool restored = false;
  if (int16_t e = RestoreKept(key, recno, &restored)) return e;
  int16_t status = restored ? int16_t{kFound} : FindPair(key, recno);
  if (status == kFound) return Step(forward);
  if (status != kNotFound) return status;
  const NtxSearch pair{key, shape_.key_length, recno, true};
  status = LowerBound(pair);
  if (forward) return status;
  if (status == kFound) return Step(false);
  return status == kNoMore ? Last() : status;
}

int16_t NtxTree::Matches(const NtxSearch& search, bool* matches) {
  const btree::PathEntry top = path_->leaf();
  PageRef ref;
  if (int16_t e = Load(top.page, &ref)) return e;
  NtxNode node(ref.data(), shape_);
  *matches = Compare(node, static_cast<uint32_t>(top.index), search) == 0;
  return kKbdOk;
}

// ---- Insert -----------------------------------------------------------------

int16_t NtxTree::Insert(const uint8_t* key, uint32_t recno, bool unique) {
  kept_.Forget();
  if (unique) {
    const NtxSearch by_key{key, shape_.key_length, 0, false};
    int16_t status = LowerBound(by_key);
    if (status == kFound) {
      bool matches = false;
      if (int16_t e = Matches(by_key, &matches)) return e;
      if (matches) status = kExists;
    }
    path_->Clear();
    if (status == kExists || status < 0) return status;
  }
  NtxSearch after{key, shape_.key_length, recno, false};
  after.after_equal = true;
  if (int16_t e = Descend(after)) return e;
  PutLe32(pending_.data() + kNtxItemChildOffset, 0);
  PutLe32(pending_.data() + kNtxItemRecnoOffset, recno);
  std::memcpy(pending_.data() + kNtxItemKeyOffset, key, shape_.key_length);
  const int16_t status = InsertAt(path_->depth() - 1);
  path_->Clear();
  return status;
}

// Puts the pending item at the path's index of level, splitting up the
// path as long as pages are full. A split writes its new page at once but
// the split page's new image only after the page above is written (all of
// them top first at the end): until then every old key stays reachable
// through the old pages, so a failed write leaves keys twice (which the
// check reports) but never loses one.
int16_t NtxTree::InsertAt(int level) {
  split_images_.clear();
  const int16_t status = InsertUp(level);
  if (status != kKbdOk) {
    split_images_.clear();
    return status;
  }
  return WriteSplitImages();
}

int16_t NtxTree::InsertUp(int level) {
  const uint32_t size = shape_.item_size;
  for (;;) {
    const uint32_t page = path_->at(level).page;
    const uint32_t index = static_cast<uint32_t>(path_->at(level).index);
    uint32_t rightmost = 0;
    uint32_t total = 0;
    {
      PageRef ref;
      if (int16_t e = Load(page, &ref)) return e;
      NtxNode node(ref.data(), shape_);
      const uint32_t n = node.count();
      if (n < shape_.largest) {
        node.OpenAt(index);
        std::memcpy(node.item(index), pending_.data(), size);
        return cache_->Write(ref);
      }
      // The page's keys with the pending one in its place.
      CopyItems(node, index, 0);
      std::memcpy(ItemAt(index), pending_.data(), size);
      for (uint32_t j = index; j < n; ++j)
        std::memcpy(ItemAt(j + 1), node.item(j), size);
      rightmost = node.child(n);
      total = n + 1;
    }
    const uint32_t half = shape_.largest / 2;
    uint32_t left_page = 0;
    if (int16_t e = store_->AllocatePage(&left_page)) return e;
    if (int16_t e = WriteImage(
            left_page,
            LayOut(0, half, GetLe32(ItemAt(half) + kNtxItemChildOffset))))
      return e;
    split_images_.emplace_back(page,
                               LayOut(half + 1, total - half - 1, rightmost));
    // The middle key moves up with the new page as its child.
    std::memcpy(pending_.data(), ItemAt(half), size);
    PutLe32(pending_.data() + kNtxItemChildOffset, left_page);
    if (level > 0) {
      --level;
      continue;
    }
    uint32_t root = 0;
    if (int16_t e = store_->AllocatePage(&root)) return e;
    PageRef ref;
    if (int16_t e = Create(root, &ref)) return e;
    NtxNode node(ref.data(), shape_);
    std::memcpy(node.item(0), pending_.data(), size);
    node.set_count(1);
    node.set_child(1, page);
    if (int16_t e = cache_->Write(ref)) return e;
    ref.Reset();
    return store_->SetRoot(root);
  }
}

// ---- Delete -----------------------------------------------------------------

int16_t NtxTree::Remove(const uint8_t* key, uint32_t recno) {
  kept_.Forget();
  int16_t status = FindPair(key, recno);
  if (status == kNoMore) status = kNotFound;
  if (status != kFound) {
    path_->Clear();
    return status;
  }
  bool leaf = false;
  {
    PageRef ref;
    if (int16_t e = Load(path_->leaf().page, &ref)) return e;
    leaf = NtxNode(ref.data(), shape_).leaf();
  }
  if (!leaf) {
    if (int16_t e = ReplaceFromLeaf(path_->depth() - 1)) return e;
  }
  {
    const btree::PathEntry top = path_->leaf();
    PageRef ref;
    if (int16_t e = Load(top.page, &ref)) return e;
    NtxNode(ref.data(), shape_).RemoveAt(static_cast<uint32_t>(top.index));
    if (int16_t e = cache_->Write(ref)) return e;
  }
  status = Rebalance(path_->depth() - 1);
  if (status == kKbdOk) status = CollapseRoot();
  path_->Clear();
  return status;
}

// Overwrites the key at an interior level of the path with a neighbour
// from a leaf, and leaves the path on that leaf entry.
int16_t NtxTree::ReplaceFromLeaf(int level) {
  const btree::PathEntry inner = path_->at(level);
  const uint32_t i = static_cast<uint32_t>(inner.index);
  uint32_t before = 0, after = 0;
  {
    PageRef ref;
    if (int16_t e = Load(inner.page, &ref)) return e;
    NtxNode node(ref.data(), shape_);
    before = node.child(i);
    after = node.child(i + 1);
  }
  if (int16_t e = DescendEdge(before, false)) return e;
  if (path_->leaf().index > 0) {
    --path_->leaf().index;
  } else {
    // An empty leaf (a file of another writer): the successor instead.
    path_->Truncate(level + 1);
    path_->at(level).index = static_cast<int32_t>(i + 1);
    if (int16_t e = DescendEdge(after, true)) return e;
  }
  const btree::PathEntry top = path_->leaf();
  {
    PageRef ref;
    if (int16_t e = Load(top.page, &ref)) return e;
    NtxNode node(ref.data(), shape_);
    if (static_cast<uint32_t>(top.index) >= node.count())
      return Fail(kKbdErrCorrupt);
    std::memcpy(pending_.data(), node.item(static_cast<uint32_t>(top.index)),
                shape_.item_size);
  }
  PageRef ref;
  if (int16_t e = Load(inner.page, &ref)) return e;
  uint8_t* item = NtxNode(ref.data(), shape_).item(i);
  std::memcpy(item + kNtxItemRecnoOffset, pending_.data() + kNtxItemRecnoOffset,
              shape_.item_size - kNtxItemRecnoOffset);
  return cache_->Write(ref);
}

// Restores the fill of the pages on the path from level up.
int16_t NtxTree::Rebalance(int level) {
  const uint32_t size = shape_.item_size;
  for (; level > 0; --level) {
    {
      PageRef ref;
      if (int16_t e = Load(path_->at(level).page, &ref)) return e;
      if (NtxNode(ref.data(), shape_).count() >= shape_.smallest) return kKbdOk;
    }
    const uint32_t parent = path_->at(level - 1).page;
    const uint32_t ci = static_cast<uint32_t>(path_->at(level - 1).index);
    uint32_t s = 0, left = 0, right = 0;
    {
      PageRef ref;
      if (int16_t e = Load(parent, &ref)) return e;
      NtxNode node(ref.data(), shape_);
      const uint32_t pc = node.count();
      if (pc == 0) return kKbdOk;  // no sibling to take from
      s = ci < pc ? ci : pc - 1;
      left = node.child(s);
      right = node.child(s + 1);
      std::memcpy(pending_.data(), node.item(s), size);
    }
    // Left keys, the separator (taking the left right-most child), right
    // keys: the two pages in order.
    uint32_t left_count = 0, right_count = 0, right_rightmost = 0;
    {
      PageRef ref;
      if (int16_t e = Load(left, &ref)) return e;
      NtxNode node(ref.data(), shape_);
      left_count = node.count();
      CopyItems(node, left_count, 0);
      std::memcpy(ItemAt(left_count), pending_.data(), size);
      PutLe32(ItemAt(left_count) + kNtxItemChildOffset, node.child(left_count));
    }
    {
      PageRef ref;
      if (int16_t e = Load(right, &ref)) return e;
      NtxNode node(ref.data(), shape_);
      right_count = node.count();
      CopyItems(node, right_count, left_count + 1);
      right_rightmost = node.child(right_count);
    }
    const uint32_t total = left_count + right_count + 1;
    if (left_count + right_count < shape_.largest) {
      // Merge into the right page; the left one is freed and the parent's
      // entry after the separator (the right page) takes its place.
      {
        PageRef ref;
        if (int16_t e = Create(right, &ref)) return e;
        NtxNode node(ref.data(), shape_);
        FillNode(&node, 0, total, right_rightmost);
        if (int16_t e = cache_->Write(ref)) return e;
      }
      {
        PageRef ref;
        if (int16_t e = Load(parent, &ref)) return e;
        NtxNode(ref.data(), shape_).RemoveAt(s);
        if (int16_t e = cache_->Write(ref)) return e;
      }
      if (int16_t e = store_->FreePage(left)) return e;
      continue;
    }
    // Share the keys out again through the parent.
    // The page that gains keys is written first, then the new separator,
    // then the page that gives them up: a failure in between leaves keys
    // twice, never none.
    const uint32_t a = (total - 1) / 2;
    const std::vector<uint8_t> left_image =
        LayOut(0, a, GetLe32(ItemAt(a) + kNtxItemChildOffset));
    const std::vector<uint8_t> right_image =
        LayOut(a + 1, total - a - 1, right_rightmost);
    const bool left_gains = a > left_count;
    if (int16_t e = WriteImage(left_gains ? left : right,
                               left_gains ? left_image : right_image))
      return e;
    {
      PageRef ref;
      if (int16_t e = Load(parent, &ref)) return e;
      uint8_t* item = NtxNode(ref.data(), shape_).item(s);
      std::memcpy(item + kNtxItemRecnoOffset, ItemAt(a) + kNtxItemRecnoOffset,
                  size - kNtxItemRecnoOffset);
      if (int16_t e = cache_->Write(ref)) return e;
    }
    return WriteImage(left_gains ? right : left,
                      left_gains ? right_image : left_image);
  }
  return kKbdOk;
}

int16_t NtxTree::CollapseRoot() {
  for (int levels = 0; levels < path_->capacity(); ++levels) {
    const uint32_t root = store_->Root();
    uint32_t child = 0;
    {
      PageRef ref;
      if (int16_t e = Load(root, &ref)) return e;
      NtxNode node(ref.data(), shape_);
      if (node.count() != 0 || node.leaf()) return kKbdOk;
      child = node.child(0);
    }
    {
      PageRef ref;  // the new root must be a page of the tree
      if (int16_t e = Load(child, &ref)) return e;
    }
    if (int16_t e = store_->SetRoot(child)) return e;
    if (int16_t e = store_->FreePage(root)) return e;
  }
  return kKbdOk;
}

}  // namespace qx::engine
