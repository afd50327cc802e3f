// The control block of an open NDX index and the module's internal steps,
// shared by the files of engine/ndx/.
//
// Shared files. Index files are read and written by several handles and
// processes. Within a call the operation lock of a shared file
// (kNdxLockOffset: exclusive for a change, shared for a read) keeps the
// others' changes out; between calls they go on, so a shared index trusts
// nothing it read in an earlier call: every call takes that lock, then
// re-reads the root and next_free words (RefreshNdx), works through a page
// cache that writes every changed page at once, and empties that cache
// before it returns (EndNdxCall). Only the current key and record number
// survive from call to call; a position is rebuilt by searching for them.
//
// Files opened without sharing. No other handle, of this process or
// another, can open such a file, so only this handle changes it, and it
// updates root and next_free in memory as it writes them. After a call
// that ended cleanly its header words and the pages in its cache are the
// file's (pages_kept): the next call neither re-reads the words nor the
// pages it finds cached. A failed call empties the cache, and the next
// call reads the file again. Such a file gets a larger cache
// (kNdxAloneCacheShape), which keeps the upper levels of the tree for
// seeks and the path of a scan.
//
// Invariants of an open NdxFile (cited as N1..N4):
//  N1. layout describes the header's pages and layout.Valid() holds.
//  N2. During a call, the cache bounds are [1, header.next_free) as last
//      read or written, and header.root lies inside them.
//  N3. free_head is 0 or the most recently freed page; each chained page
//      carries the freed mark and links to the page freed before it. Other
//      handles may cut the file under the chain: a page is taken from it
//      only while it is below next_free and still marked freed.
//  N4. cursor works on tree and path (its own invariants: key_cursor.h).
#ifndef QX_ENGINE_NDX_NDX_FILE_H_
#define QX_ENGINE_NDX_NDX_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/btree/btree.h"
#include "engine/btree/entry_page.h"
#include "engine/btree/key_cursor.h"
#include "engine/btree/page_cache.h"
#include "engine/btree/path_stack.h"
#include "engine/core/engine_state.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/operation_lock.h"
#include "engine/index/index_call.h"
#include "engine/ndx/ndx_format.h"
#include "qx/engine.h"

namespace qx::engine {

// The page cache of an open index: a directory of 10 slots over 3 page
// buffers; an open with fewer buffers fails with -3.
inline constexpr btree::CacheShape kNdxCacheShape = {10, 3};
inline constexpr int kNdxMinCacheBuffers = 3;
// The cache of a file opened without sharing, whose pages outlive the
// call: 128 pages (64 KiB), the upper levels entering at the middle.
inline constexpr btree::CacheShape kNdxAloneCacheShape = {128, 128, true};

struct NdxFile : ControlBlock, btree::TreeStore {
  ~NdxFile() override;  // closes the system file when still open

  std::string name;  // as given to open
  uint16_t slot = kNoFileSlot;
  uint16_t file_flags = 0;    // kFileFlagReadOnly | kFileFlagShared
  FileOperationLock op_lock;  // byte kNdxLockOffset of a shared file
  NdxHeader header;           // root and next_free refreshed per call
  std::string expression;     // normalised: upper case, no blanks
  uint32_t free_head = 0;     // N3
  bool header_dirty = false;  // root/next_free to write at close
  bool changed = false;       // pages written in this call
  bool pages_kept = false;    // cache and header words outlived a call
  btree::EntryLayout layout;  // N1
  uint32_t half = 0;          // keys_per_page / 2
  btree::PathStack path;
  btree::PageCache cache;
  std::unique_ptr<btree::Tree> tree;
  btree::KeyCursor cursor;  // N4: the current key

  bool read_only() const { return (file_flags & kFileFlagReadOnly) != 0; }
  bool numeric() const { return header.key_type == kNdxKeyNumeric; }
  bool unique() const { return header.unique == 1; }

  // TreeStore.
  uint32_t Root() const override { return header.root; }
  int16_t SetRoot(uint32_t page) override;
  int16_t AllocatePage(uint32_t* page) override;
  int16_t FreePage(uint32_t page) override;
  int CompareKeys(const uint8_t* search, const uint8_t* key, uint32_t length,
                  bool wildcard) const override;
};

// The control block of an NDX handle; null with -13 as the last error.
NdxFile* CheckNdx(int16_t handle);

// The file is open without sharing (FileOpenedAlone) and the last call
// ended cleanly, so its kept pages and header words are the file's as
// they are.
inline bool TrustsKeptPages(const NdxFile* file) {
  return FileOpenedAlone(file->slot) && file->pages_kept;
}

// Start of every call on an open index: re-reads root and next_free,
// checks them (-25) and sets the cache bounds (N2); nothing when the kept
// words are trusted.
int16_t RefreshNdx(NdxFile* file);
// End of every call: empties the page cache (a file opened without
// sharing keeps it after a clean call) and, when pages were written and
// writes are synced (kbdsetsync), flushes the file.
int16_t EndNdxCall(NdxFile* file);

// Runs body(NdxFile&) as the inside of a public operation on handle:
// handle check, the operation lock of kind (kExclusive for a change,
// kShared for a read), refresh, body, end of call, unlock.
template <typename Body>
int16_t WithNdx(int16_t handle, LockKind kind, Body&& body) {
  return index::RunIndexCall(CheckNdx(handle), kind, kNdxLockOffset, RefreshNdx,
                             EndNdxCall, std::forward<Body>(body));
}

// Bodies of the public operations, for use inside other operations.
int16_t OpenNdx(int16_t* handle, const char* name, uint16_t mode);
int16_t CreateNdx(const char* name, uint16_t type, const char* expression,
                  uint16_t key_length);
int16_t CloseNdx(int16_t handle);

// The key of the data file's current record for this index, in stored
// form (key_length bytes): character keys padded or cut to the key length,
// numeric and date keys the little-endian double. -7 when the expression's
// type does not fit the index's key type.
int16_t MakeNdxKey(int16_t dbf_handle, const NdxFile& file, uint8_t* key);

}  // namespace qx::engine

#endif  // QX_ENGINE_NDX_NDX_FILE_H_
