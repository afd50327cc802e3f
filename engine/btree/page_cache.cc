// The per-call page cache of the index modules (see page_cache.h).
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
  return kKbdOk;
}

bool PageCache::InBounds(uint32_t id) const {
  return id >= first_ && id < end_ && Offset(id) + page_size_ <= kMaxFileEnd;
}

int16_t PageCache::CheckId(uint32_t id) const {
  return InBounds(id) ? int16_t{kKbdOk} : Fail(kKbdErrSeek);
}

int PageCache::Find(uint32_t id) const {
  for (int e : mru_) {
    const Entry& entry = entries_[static_cast<size_t>(e)];
    if (entry.buffer >= 0 && entry.id == id) return e;
  }
  return -1;
}

void PageCache::MoveToFront(int entry) {
  if (mru_.front() == entry) return;
  size_t i = 1;
  while (mru_[i] != entry) ++i;
  for (; i > 0; --i) mru_[i] = mru_[i - 1];
  mru_[0] = entry;
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
    if (int16_t e = TakeEntry(&entry)) return e;
    Entry& slot = entries_[static_cast<size_t>(entry)];
    slot.id = id;
    slot.dirty = false;
    uint8_t* data = buffers_[static_cast<size_t>(slot.buffer)].get();
    if (int16_t e = FileReadAt(file_slot_, static_cast<uint32_t>(Offset(id)),
                               data, page_size_)) {
      // A failed read leaves no page under this id.
      free_buffers_.push_back(slot.buffer);
      slot = Entry();
      return e;
    }
  }
  MoveToFront(entry);
  Pin(entry, ref);
  return kKbdOk;
}

int16_t PageCache::Create(uint32_t id, PageRef* ref) {
  if (int16_t e = StickyError()) return e;
  if (int16_t e = CheckId(id)) return e;
  int entry = Find(id);
  if (entry >= 0 && entries_[static_cast<size_t>(entry)].pins > 0)
    return Fail(kKbdErrCorrupt);  // a page in use cannot be replaced
  if (entry < 0) {
    if (int16_t e = TakeEntry(&entry)) return e;
  }
  Entry& slot = entries_[static_cast<size_t>(entry)];
  slot.id = id;
  slot.dirty = true;
  std::memset(buffers_[static_cast<size_t>(slot.buffer)].get(), 0, page_size_);
  MoveToFront(entry);
  Pin(entry, ref);
  return kKbdOk;
}

int16_t PageCache::WriteEntry(int entry) {
  Entry& e = entries_[static_cast<size_t>(entry)];
  if (read_only_) return Fail(kKbdErrReadOnly);
  if (int16_t s = CheckId(e.id)) return s;
  if (int16_t s = FileWriteAt(file_slot_, static_cast<uint32_t>(Offset(e.id)),
                              buffers_[static_cast<size_t>(e.buffer)].get(),
                              page_size_))
    return s;
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
  }
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
  if (holding > static_cast<int>(buffers_.size()))
    problems->push_back("C1: more pages than buffers");
  for (int owners : buffer_owner)
    if (owners != 1)
      problems->push_back("C1: a buffer is not either free or held once");
  return problems->size() == before;
}

}  // namespace qx::engine::btree
