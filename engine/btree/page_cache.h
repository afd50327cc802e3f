// The page cache of an open index: a small most-recently-used directory
// over a few page buffers, written through.
//
// Index files are shared between handles and processes, so what was read
// from the file may be trusted in a later call only while the owner can
// tell that no writer has changed the file since (a change counter in the
// format's header, read afresh). By default the owner empties the cache at
// the end of every call (Clear()); an owner that validates its files keeps
// the pages from call to call and empties the cache when its check fails.
// Pages are read when a call first needs them and every changed page is
// written at once (one positioned write of the whole page). Within a call
// the cache saves the re-reads of a descent that the next step climbs
// back through.
//
// Held reads. A call that has checked the file without taking its lock
// may use only pages read before (HoldReads(true)): a page that is not
// cached is then not read but answered with kPageNotCached and noted
// (TakeMissed()), and the caller drops what that attempt did and runs the
// call again under the file's lock. Mixing pages read now with pages
// read before could show a tree half-way through another writer's change.
//
// Shape. The directory has `slots` entries kept in most-recently-used
// order; at most `buffers` of them hold a page at a time. Loading a page
// that is not cached takes an unused buffer, or else the buffer of the
// least recently used unpinned page (written back first when dirty). In a
// cache whose shape asks for it (insert_middle), a page read from the
// file enters the order at its middle and moves to the front only when it
// is used again: the pages every descent passes through (root and upper
// levels) then stay in the front half, while the leaves of random seeks,
// used once, leave first. Other caches put every page used at the front. The
// NDX and MDX files use 10 slots over 3 buffers (128 over 128 with middle
// insertion when opened without sharing), NTX files and FoxPro trees 128
// over 128 with middle insertion: Init takes the shape. An id index
// finds a cached page without walking the order.
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
//  C5. While reads are held no page is read, created or written.
//  C6. The id index holds exactly the entries that hold a page (checked).
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

// The answer of a Load that missed while reads were held. It never leaves
// a public call: the call is run again under the file's lock.
inline constexpr int16_t kPageNotCached = -32001;

struct CacheShape {
  int slots = 10;
  int buffers = 3;
  bool insert_middle = false;
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

  // Whether page id is cached (nothing read, nothing pinned).
  bool Holds(uint32_t id) const { return Find(id) >= 0; }

  // Pins page id, reading it from the file unless cached (unless reads
  // are held: kPageNotCached, last error untouched).
  int16_t Load(uint32_t id, PageRef* ref);

  // Held reads (see above). TakeMissed answers whether a Load missed
  // since the last TakeMissed, and forgets it.
  void HoldReads(bool hold) { hold_reads_ = hold; }
  bool TakeMissed() {
    const bool missed = missed_;
    missed_ = false;
    return missed;
  }
  // Pages read from the file since Init: a call that read none could
  // have run on held reads.
  uint64_t reads() const { return reads_; }

  // Whether the owner has checked the page's layout since it was read or
  // created (so that a kept page is not checked again on every use).
  bool checked(const PageRef& ref) const {
    return entries_[static_cast<size_t>(ref.entry_)].checked;
  }
  void MarkChecked(const PageRef& ref) {
    entries_[static_cast<size_t>(ref.entry_)].checked = true;
  }
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
  // Writes every page still dirty; they stay cached, clean.
  int16_t WriteDirty();

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
    bool checked = false;
  };

  uint64_t Offset(uint32_t id) const {
    return static_cast<uint64_t>(id) * id_unit_;
  }
  int Find(uint32_t id) const;  // directory entry holding id, or -1
  // The id index: every entry holding a page, by id (open addressing).
  size_t Home(uint32_t id) const;
  void IndexInsert(int entry);
  void IndexErase(int entry);
  void MoveToFront(int entry);
  void MoveToMiddle(int entry);
  int16_t TakeEntry(int* entry);  // an entry with a buffer for a new page
  int16_t WriteEntry(int entry);
  void Pin(int entry, PageRef* ref);
  void Unpin(int entry);

  uint16_t file_slot_ = 0xFFFF;
  uint32_t page_size_ = 0;
  uint32_t id_unit_ = 1;
  uint32_t first_ = 0;
  uint32_t end_ = 0;
  bool read_only_ = false;
  bool insert_middle_ = false;
  bool hold_reads_ = false;
  bool missed_ = false;
  uint64_t reads_ = 0;
  int dirty_pages_ = 0;
  std::vector<Entry> entries_;
  std::vector<int> mru_;  // directory entries, most recently used first
  std::vector<std::unique_ptr<uint8_t[]>> buffers_;
  std::vector<int> free_buffers_;  // buffers no entry holds
  std::vector<int> index_;  // entries by id; -1 empty; 2^index_bits_ long
  int index_bits_ = 0;
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_PAGE_CACHE_H_
