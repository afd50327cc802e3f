// The page cache of the index modules (see page_cache.h).
#include "engine/btree/page_cache.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"

namespace qx::engine::btree {
namespace {

// Files are addressed with 32-bit offsets: a page must end below 4 GiB.
constexpr uint64_t kMaxFileEnd = uint64_t{1} << 32;

}  // namespace

PageRef::PageRef(PageRef&& other) noexcept
    : cache_(other.cache_),
      entry_(other.entry_),
      id_(other.id_),
      data_(other.data_) {
  other.cache_ = nullptr;
  other.entry_ = -1;
  other.data_ = nullptr;
}

PageRef& PageRef::operator=(PageRef&& other) noexcept {
  if (this != &other) {
    Reset();
    cache_ = other.cache_;
    entry_ = other.entry_;
    id_ = other.id_;
    data_ = other.data_;
    other.cache_ = nullptr;
    other.entry_ = -1;
    other.data_ = nullptr;
  }
  return *this;
}

void PageRef::Reset() {
  if (cache_ != nullptr) cache_->Unpin(entry_);
  cache_ = nullptr;
  entry_ = -1;
  data_ = nullptr;
}

int16_t PageCache::Init(uint16_t file_slot, uint32_t page_size,
                        uint32_t id_unit, CacheShape shape, int min_buffers) {
  file_slot_ = file_slot;
  page_size_ = page_size;
  id_unit_ = id_unit == 0 ? 1 : id_unit;
  insert_middle_ = shape.insert_middle;
  dirty_pages_ = 0;
  entries_.clear();
  mru_.clear();
  buffers_.clear();
  free_buffers_.clear();
  if (shape.buffers < min_buffers || shape.slots < shape.buffers)
    return Fail(kKbdErrNoMemory);
  for (int i = 0; i < shape.buffers; ++i) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[page_size]);
    if (buffer == nullptr) return Fail(kKbdErrNoMemory);
    buffers_.push_back(std::move(buffer));
  }
  for (int i = shape.buffers; i-- > 0;) free_buffers_.push_back(i);
  entries_.resize(static_cast<size_t>(shape.slots));
  for (int i = 0; i < shape.slots; ++i) mru_.push_back(i);
  // At most half full: probes stay short.
  index_bits_ = 1;
  while ((size_t{1} << index_bits_) < 2 * static_cast<size_t>(shape.slots))
    ++index_bits_;
  index_.assign(size_t{1} << index_bits_, -1);
  return kKbdOk;
}

size_t PageCache::Home(uint32_t id) const {
  return static_cast<size_t>((uint64_t{id} * 0x9E3779B97F4A7C15u) >>
                             (64 - index_bits_));
}

void PageCache::IndexInsert(int entry) {
  const size_t mask = index_.size() - 1;
  size_t i = Home(entries_[static_cast<size_t>(entry)].id);
  while (index_[i] >= 0) i = (i + 1) & mask;
  index_[i] = entry;
}

void PageCache::IndexErase(int entry) {
  const size_t mask = index_.size() - 1;
  size_t i = Home(entries_[static_cast<size_t>(entry)].id);
  while (index_[i] != entry) {
    if (index_[i] < 0) return;  // not indexed
    i = (i + 1) & mask;
  }
  // Shifts back the entries of the run after i that may move into it.
  for (size_t j = (i + 1) & mask; index_[j] >= 0; j = (j + 1) & mask) {
    const size_t home = Home(entries_[static_cast<size_t>(index_[j])].id);
    const bool stays =
        i <= j ? (i < home && home <= j) : (i < home || home <= j);
    if (stays) continue;
    index_[i] = index_[j];
    i = j;
  }
  index_[i] = -1;
}

bool PageCache::InBounds(uint32_t id) const {
  return id >= first_ && id < end_ && Offset(id) + page_size_ <= kMaxFileEnd;
}

int16_t PageCache::CheckId(uint32_t id) const {
  return InBounds(id) ? int16_t{kKbdOk} : Fail(kKbdErrSeek);
}

int PageCache::Find(uint32_t id) const {
  const size_t mask = index_.size() - 1;
  for (size_t i = Home(id);; i = (i + 1) & mask) {
    const int e = index_[i];
    if (e < 0 || entries_[static_cast<size_t>(e)].id == id) return e;
  }
}

void PageCache::MoveToFront(int entry) {
  if (mru_.front() == entry) return;
  size_t i = 1;
  while (mru_[i] != entry) ++i;
  for (; i > 0; --i) mru_[i] = mru_[i - 1];
  mru_[0] = entry;
}

void PageCache::MoveToMiddle(int entry) {
  size_t i = 0;
  while (mru_[i] != entry) ++i;
  const size_t middle = mru_.size() / 2;
  for (; i > middle; --i) mru_[i] = mru_[i - 1];
  for (; i < middle; ++i) mru_[i] = mru_[i + 1];
  mru_[middle] = entry;
}

int PageCache::cached_pages() const {
  int n = 0;
  for (const Entry& e : entries_) n += e.buffer >= 0 ? 1 : 0;
  return n;
}

int16_t PageCache::TakeEntry(int* out) {
  // An entry without a page, while a buffer is unused.
  if (!free_buffers_.empty()) {
    for (auto it = mru_.rbegin(); it != mru_.rend(); ++it) {
      Entry& entry = entries_[static_cast<size_t>(*it)];
      if (entry.buffer >= 0) continue;
      entry.buffer = free_buffers_.back();
      free_buffers_.pop_back();
      *out = *it;
      return kKbdOk;
    }
  }
  // Otherwise the least recently used page that is not pinned.
  for (auto it = mru_.rbegin(); it != mru_.rend(); ++it) {
    Entry& entry = entries_[static_cast<size_t>(*it)];
    if (entry.buffer < 0 || entry.pins > 0) continue;
    if (entry.dirty) {
      if (int16_t e = WriteEntry(*it)) return e;
    }
    IndexErase(*it);
    *out = *it;
    return kKbdOk;
  }
  return Fail(kKbdErrCorrupt);  // every buffer pinned: a caller's bug
}

void PageCache::Pin(int entry, PageRef* ref) {
  ref->Reset();
  Entry& e = entries_[static_cast<size_t>(entry)];
  ++e.pins;
  ref->cache_ = this;
  ref->entry_ = entry;
  ref->id_ = e.id;
  ref->data_ = buffers_[static_cast<size_t>(e.buffer)].get();
}

void PageCache::Unpin(int entry) {
  Entry& e = entries_[static_cast<size_t>(entry)];
  if (e.pins > 0) --e.pins;
}

int16_t PageCache::Load(uint32_t id, PageRef* ref) {
  if (int16_t e = StickyError()) return e;
  if (int16_t e = CheckId(id)) return e;
  int entry = Find(id);
  if (entry < 0) {
    if (hold_reads_) {  // C5
      missed_ = true;
      return kPageNotCached;
    }
    if (int16_t e = TakeEntry(&entry)) return e;
    ++reads_;
    Entry& slot = entries_[static_cast<size_t>(entry)];
    slot.id = id;
    slot.dirty = false;
    slot.checked = false;
    uint8_t* data = buffers_[static_cast<size_t>(slot.buffer)].get();
    if (int16_t e = FileReadAt(file_slot_, static_cast<uint32_t>(Offset(id)),
                               data, page_size_)) {
      // A failed read leaves no page under this id.
      free_buffers_.push_back(slot.buffer);
      slot = Entry();
      return e;
    }
    IndexInsert(entry);
    if (insert_middle_)
      MoveToMiddle(entry);
    else
      MoveToFront(entry);
  } else {
    MoveToFront(entry);
  }
  Pin(entry, ref);
  return kKbdOk;
}

int16_t PageCache::Create(uint32_t id, PageRef* ref) {
  if (int16_t e = StickyError()) return e;
  if (hold_reads_) {  // C5
    missed_ = true;
    return kPageNotCached;
  }
  if (int16_t e = CheckId(id)) return e;
  int entry = Find(id);
  if (entry >= 0 && entries_[static_cast<size_t>(entry)].pins > 0)
    return Fail(kKbdErrCorrupt);  // a page in use cannot be replaced
  const bool taken = entry < 0;
  if (taken) {
    if (int16_t e = TakeEntry(&entry)) return e;
  }
  Entry& slot = entries_[static_cast<size_t>(entry)];
  slot.id = id;
  if (!slot.dirty) ++dirty_pages_;
  slot.dirty = true;
  slot.checked = false;
  if (taken) IndexInsert(entry);
  std::memset(buffers_[static_cast<size_t>(slot.buffer)].get(), 0, page_size_);
  MoveToFront(entry);
  Pin(entry, ref);
  return kKbdOk;
}

int16_t PageCache::WriteEntry(int entry) {
  Entry& e = entries_[static_cast<size_t>(entry)];
  if (hold_reads_) {  // C5
    missed_ = true;
    return kPageNotCached;
  }
  if (read_only_) return Fail(kKbdErrReadOnly);
  if (int16_t s = CheckId(e.id)) return s;
  if (int16_t s = FileWriteAt(file_slot_, static_cast<uint32_t>(Offset(e.id)),
                              buffers_[static_cast<size_t>(e.buffer)].get(),
                              page_size_))
    return s;
  if (e.dirty) --dirty_pages_;
  e.dirty = false;
  return kKbdOk;
}

int16_t PageCache::Write(const PageRef& ref) {
  if (int16_t e = StickyError()) return e;
  if (ref.cache_ != this) return Fail(kKbdErrPageNotLoaded);
  return WriteEntry(ref.entry_);
}

int16_t PageCache::Write(uint32_t id) {
  if (int16_t e = StickyError()) return e;
  if (read_only_) return Fail(kKbdErrReadOnly);
  if (int16_t e = CheckId(id)) return e;
  if (cached_pages() == 0) return Fail(kKbdErrNoPageLoaded);
  int entry = Find(id);
  if (entry < 0) return Fail(kKbdErrPageNotLoaded);
  return WriteEntry(entry);
}

int16_t PageCache::WriteDirty() {
  for (size_t i = 0; i < entries_.size() && dirty_pages_ > 0; ++i) {
    if (entries_[i].buffer >= 0 && entries_[i].dirty) {
      if (int16_t e = WriteEntry(static_cast<int>(i))) return e;
    }
  }
  return kKbdOk;
}

int16_t PageCache::Clear() {
  int16_t status = kKbdOk;
  if (free_buffers_.size() == buffers_.size()) return status;
  for (size_t i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    if (e.buffer < 0) continue;
    if (e.dirty && status == kKbdOk && StickyError() == 0)
      status = WriteEntry(static_cast<int>(i));
    free_buffers_.push_back(e.buffer);
    e = Entry();
    if (free_buffers_.size() == buffers_.size()) break;  // none held
  }
  std::fill(index_.begin(), index_.end(), -1);
  dirty_pages_ = 0;
  return status;
}

bool PageCache::Check(std::vector<std::string>* problems) const {
  size_t before = problems->size();
  std::vector<int> seen(entries_.size(), 0);
  for (int e : mru_) {
    if (e < 0 || static_cast<size_t>(e) >= entries_.size())
      problems->push_back("C2: MRU order names a missing entry");
    else
      ++seen[static_cast<size_t>(e)];
  }
  for (size_t i = 0; i < seen.size(); ++i)
    if (seen[i] != 1) problems->push_back("C2: MRU order is not a permutation");
  int holding = 0;
  std::vector<int> buffer_owner(buffers_.size(), 0);
  for (int b : free_buffers_) {
    if (b < 0 || static_cast<size_t>(b) >= buffers_.size())
      problems->push_back("C1: free list names a missing buffer");
    else
      ++buffer_owner[static_cast<size_t>(b)];
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    if (e.pins < 0) problems->push_back("C3: negative pin count");
    if (e.buffer < 0) {
      if (e.pins > 0) problems->push_back("C3: pinned entry holds no page");
      continue;
    }
    ++holding;
    if (static_cast<size_t>(e.buffer) >= buffers_.size()) {
      problems->push_back("C1: entry holds a missing buffer");
      continue;
    }
    ++buffer_owner[static_cast<size_t>(e.buffer)];
    for (size_t j = i + 1; j < entries_.size(); ++j)
      if (entries_[j].buffer >= 0 && entries_[j].id == e.id)
        problems->push_back("C1: page " + std::to_string(e.id) +
                            " cached twice");
  }
  int dirty = 0;
  for (const Entry& e : entries_) dirty += e.buffer >= 0 && e.dirty ? 1 : 0;
  if (dirty != dirty_pages_) problems->push_back("C1: dirty pages miscounted");
  int indexed = 0;
  for (int e : index_) indexed += e >= 0 ? 1 : 0;
  if (indexed != holding) problems->push_back("C6: index and pages differ");
  for (size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].buffer >= 0 && Find(entries_[i].id) != static_cast<int>(i))
      problems->push_back("C6: a page is not found by its id");
  if (holding > static_cast<int>(buffers_.size()))
    problems->push_back("C1: more pages than buffers");
  for (int owners : buffer_owner)
    if (owners != 1)
      problems->push_back("C1: a buffer is not either free or held once");
  return problems->size() == before;
}

}  // namespace qx::engine::btree
