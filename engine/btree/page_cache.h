// The page cache of an open index: a small most-recently-used directory
// over a few page buffers, written through and emptied at the end of every
// public call.
//
// Index files are shared between handles and processes that hold no lock
// on them, so nothing read from the file may be trusted from one call to
// the next. The cache therefore lives for one call only: pages are read
// when a call first needs them, every changed page is written at once
// (one positioned write of the whole page), and Clear() empties the cache
// before the call returns. Within a call it saves the re-reads of a
// descent that the next step climbs back through.
//
// Shape. The directory has `slots` entries kept in most-recently-used
// order; at most `buffers` of them hold a page at a time. Loading a page
// that is not cached takes an unused buffer, or else the buffer of the
// least recently used unpinned page (written back first when dirty). The
// NDX and MDX files use 10 slots over 3 buffers, NTX 10 over 3, IDX 10 over
// 4: the constructor takes the shape.
//
// Page ids. A page is named by a 32-bit id; its bytes start at id *
// id_unit in the file (NDX: page numbers, unit 512; MDX: sector numbers,
// unit 512; NTX and IDX: byte offsets, unit 1). Ids outside the bounds
// set by the format ([first, end)) are refused with -4.
//
// Pins. A PageRef pins its page for as long as it lives, so that loading
// another page never takes a buffer still in use; an algorithm holds at
// most `buffers` pins at a time. A written page stays cached and clean:
// the file holds the same bytes until the call ends.
//
// Invariants (C1..C3 checked by Check(); C4 is cached_pages() == 0):
//  C1. At most `buffers` directory entries hold a page, each with its own
//      buffer; no page id appears twice.
//  C2. The MRU order is a permutation of the directory entries.
//  C3. A pinned entry holds a page; pin counts never go negative.
//  C4. After Clear() no entry holds a page and nothing is pinned or dirty.
//
// Statuses: -4 id out of bounds, -3 no buffer could be allocated or the
// shape has fewer buffers than required, -6 every buffer pinned (a bug of
// the caller), -36 write to a read-only file, -9 write with an empty
// cache, -10 write of a page not cached; file-layer errors pass through.
#ifndef QX_ENGINE_BTREE_PAGE_CACHE_H_
#define QX_ENGINE_BTREE_PAGE_CACHE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx::engine::btree {

struct CacheShape {
  int slots = 10;
  int buffers = 3;
};

class PageCache;

// A pinned page of the cache. Move-only; releases its pin when it dies or
// is reset. data() stays valid while the ref lives.
class PageRef {
 public:
  PageRef() = default;
  ~PageRef() { Reset(); }
  PageRef(PageRef&& other) noexcept;
  PageRef& operator=(PageRef&& other) noexcept;
  PageRef(const PageRef&) = delete;
  PageRef& operator=(const PageRef&) = delete;

  bool valid() const { return cache_ != nullptr; }
  uint32_t id() const { return id_; }
  uint8_t* data() const { return data_; }
  void Reset();

 private:
  friend class PageCache;
  PageCache* cache_ = nullptr;
  int entry_ = -1;
  uint32_t id_ = 0;
  uint8_t* data_ = nullptr;
};

class PageCache {
 public:
  PageCache() = default;
  PageCache(const PageCache&) = delete;
  PageCache& operator=(const PageCache&) = delete;

  // Sets the file and shape and allocates the buffers. min_buffers is the
  // format's requirement: fewer buffers is -3 (as is a failed allocation).
  int16_t Init(uint16_t file_slot, uint32_t page_size, uint32_t id_unit,
               CacheShape shape, int min_buffers);

  // Valid ids are [first, end); read_only refuses writes with -36.
  void SetBounds(uint32_t first, uint32_t end) {
    first_ = first;
    end_ = end;
  }
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  int16_t CheckId(uint32_t id) const;
  // The test of CheckId without setting the last error.
  bool InBounds(uint32_t id) const;

  // Pins page id, reading it from the file unless cached.
  int16_t Load(uint32_t id, PageRef* ref);
  // Pins a zero-filled dirty image for page id without reading the file
  // (a page about to be written as a whole). A cached copy is replaced.
  int16_t Create(uint32_t id, PageRef* ref);
  // Writes the pinned page to the file at once; it stays cached, clean.
  int16_t Write(const PageRef& ref);
  // The same by id, for callers without a ref: -9 when the cache is empty,
  // -10 when the page is not cached.
  int16_t Write(uint32_t id);

  // Empties the cache; a page still dirty is written first (the first
  // error is returned, the cache is emptied anyway). Pins must be gone.
  int16_t Clear();

  uint32_t page_size() const { return page_size_; }
  uint16_t file_slot() const { return file_slot_; }
  int cached_pages() const;

  // Walks C1..C3; each problem is appended as text. True when none.
  bool Check(std::vector<std::string>* problems) const;

 private:
  friend class PageRef;
  struct Entry {
    uint32_t id = 0;
    int buffer = -1;  // index into buffers_, -1 = holds no page
    int pins = 0;
    bool dirty = false;
  };

  uint64_t Offset(uint32_t id) const {
    return static_cast<uint64_t>(id) * id_unit_;
  }
  int Find(uint32_t id) const;      // directory entry holding id, or -1
  void MoveToFront(int entry);
  int16_t TakeEntry(int* entry);    // an entry with a buffer for a new page
  int16_t WriteEntry(int entry);
  void Pin(int entry, PageRef* ref);
  void Unpin(int entry);

  uint16_t file_slot_ = 0xFFFF;
  uint32_t page_size_ = 0;
  uint32_t id_unit_ = 1;
  uint32_t first_ = 0;
  uint32_t end_ = 0;
  bool read_only_ = false;
  std::vector<Entry> entries_;
  std::vector<int> mru_;  // directory entries, most recently used first
  std::vector<std::unique_ptr<uint8_t[]>> buffers_;
  std::vector<int> free_buffers_;  // buffers no entry holds
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_PAGE_CACHE_H_
