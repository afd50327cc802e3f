// The control block of an open NTX index and the module's internal steps,
// shared by the files of engine/ntx/.
//
// Shared files. Other handles and processes change the file between our
// calls; within a call, the operation lock of a shared file (the byte of
// Clipper's writers, kNtxLockOffset: exclusive for a change, shared for a
// read) keeps their changes out. So every call takes that lock, then
// re-reads the header's update counter, root and free-list words
// (RefreshNtx), and works through a page cache that writes every changed
// page at once. The file size is measured when a page lies beyond it as
// last measured, and before a page is added at the end.
//
// Kept pages. Every writer adds one to the update counter for each add and
// delete, so the header words (counter, root, free head) name the state of
// the tree. The pages a call read or wrote stay cached after it
// (pages_kept) with the stamp it left (pages_stamp); a call that finds the
// same stamp may use them again, and a call that failed empties the cache.
// A read first tries without the lock (WithNtx): it reads the three header
// words alone and, when they match, runs from the kept pages with reads
// held back (page_cache.h). The pages then show the tree as it was
// when they were read, which is the tree as it is now or as it was just
// before a writer's change still under way — never a mix. When the read
// needs a page that is not kept, the attempt is dropped and the call runs
// again under the lock; while reads keep missing (random seeks), calls go
// to the lock at once (probe_first), until a call under the lock finds
// every page it needs kept. The counter has 16 bits: a reader that finds,
// after exactly a multiple of 65,536 changes, the same root and free head
// again takes a stale tree for the current one; its next step after any
// other change reads the file again. A change is never made on such
// trust: in a shared file a call that changes the tree reads every page
// afresh under its lock; only a file opened without sharing, which no
// one else can change, keeps its pages through changes.
//
// Of the tree, the path of the last entry read is kept from one call to
// the next, and it is checked against the file before next or previous
// step from it (ntx_tree.h); otherwise they find their entry again by key
// and record number.
//
// Invariants of an open NtxFile (cited as X1..X3):
//  X1. shape describes the header and shape.Fits() holds.
//  X2. During a call, the cache bounds are the whole pages of the file as
//      last measured or grown, and header.root lies inside them.
//  X3. file_size is the file's size as last measured or grown by a page
//      allocated at the end.
#ifndef QX_ENGINE_NTX_NTX_FILE_H_
#define QX_ENGINE_NTX_NTX_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/btree/page_cache.h"
#include "engine/btree/path_stack.h"
#include "engine/core/engine_state.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/operation_lock.h"
#include "engine/index/index_call.h"
#include "engine/ntx/ntx_format.h"
#include "engine/ntx/ntx_tree.h"
#include "qx/engine.h"

namespace qx::engine {

// The page cache of an open index: 128 page buffers (128 KiB), enough to
// keep the path of a walk and the upper levels the seeks of a million
// keys pass through; an open with fewer than 3 buffers fails with -3.
inline constexpr btree::CacheShape kNtxCacheShape = {128, 128, true};
inline constexpr int kNtxMinCacheBuffers = 3;

struct NtxFile : ControlBlock, NtxTreeStore {
  ~NtxFile() override;  // closes the system file when still open

  std::string name;  // as given to open
  uint16_t slot = kNoFileSlot;
  uint16_t file_flags = 0;    // kFileFlagReadOnly | kFileFlagShared
  FileOperationLock op_lock;  // byte kNtxLockOffset of a shared file
  NtxHeader header;           // counter, root, free_head refreshed per call
  std::string expression;     // normalised: upper case, no blanks
  bool descending = false;    // header byte 280 is 1
  bool changed = false;       // stamp the header at close
  // The counter in memory is ahead of the file's (a file open without
  // sharing writes it at close).
  bool counter_pending = false;
  bool wrote = false;       // pages written in this call
  bool pages_kept = false;  // the cache holds pages read at pages_stamp
  NtxStamp pages_stamp;
  bool probe_first = true;  // reads try the kept pages without the lock
  uint32_t file_size = 0;   // X3
  NtxShape shape;           // X1
  btree::PathStack path;
  btree::PageCache cache;
  std::unique_ptr<NtxTree> tree;
  std::vector<uint8_t> key;    // key_length bytes: the caller's key
  std::vector<uint8_t> found;  // key_length + 1 bytes: a key read
  uint32_t found_recno = 0;    // the entry last handed out; 0: none

  bool read_only() const { return (file_flags & kFileFlagReadOnly) != 0; }
  bool unique() const { return header.unique == 1; }

  // NtxTreeStore.
  NtxStamp Stamp() const override {
    return {header.counter, header.root, header.free_head};
  }
  uint32_t Root() const override { return header.root; }
  int16_t MeasureSize() override;
  int16_t SetRoot(uint32_t page) override;
  int16_t AllocatePage(uint32_t* page) override;
  int16_t FreePage(uint32_t page) override;

  // Sets the cache bounds to the whole pages of file_size (X2).
  void SetBounds();
};

// The control block of an NTX handle; null with -13 as the last error.
NtxFile* CheckNtx(int16_t handle);

// Start of every call: re-reads counter, root and free head and the file
// size; -25 for a root outside the file.
int16_t RefreshNtx(NtxFile* file);
// End of every call: empties the page cache and, when pages were written
// and writes are synced (kbdsetsync), flushes the file.
int16_t EndNtxCall(NtxFile* file);
// After an add or delete: the update counter + 1 and header bytes 2..7.
int16_t StampNtx(NtxFile* file);

// Whether the header words read now (without the lock) match the stamp
// of the kept pages; false as well when there are none or the read fails.
bool NtxPagesCurrent(NtxFile* file);
// Before a change of a shared file: nothing kept is trusted.
void DropKeptPagesOfShared(NtxFile* file);

// Runs body(NtxFile&) as the inside of a public operation on handle:
// handle check, the operation lock of kind (kExclusive for a change,
// kShared for a read), refresh, body, end of call, unlock. A read is
// first tried from the kept pages without the lock (see above).
// TrustsKeptPages: the file is open without sharing (FileOpenedAlone)
// and the last call ended cleanly: no other handle, of this process or
// another, can have changed it since, so its kept pages and header words
// are trusted as they are.
inline bool TrustsKeptPages(const NtxFile* file) {
  return FileOpenedAlone(file->slot) && file->pages_kept;
}

template <typename Body>
int16_t WithNtx(int16_t handle, LockKind kind, Body&& body) {
  NtxFile* file = CheckNtx(handle);
  auto locked = [&] {
    return index::RunIndexCall(file, kind, kNtxLockOffset, RefreshNtx,
                               EndNtxCall, body);
  };
  // Inside another step of this handle, which holds the lock (and may
  // hold pages), the call runs as it is.
  if (file == nullptr || file->op_lock.entered()) return locked();
  if (kind == LockKind::kExclusive) {
    DropKeptPagesOfShared(file);
    return locked();
  }
  return index::ReadKeptFirst(
      &file->cache, &file->probe_first, false,
      [file] { return NtxPagesCurrent(file); }, [&] { return body(*file); },
      [file](int16_t status) {
        file->path.Clear();
        return status;
      },
      [file] { file->path.Clear(); }, locked);
}

// Bodies of the public operations, for use inside other operations.
int16_t OpenNtx(int16_t* handle, const char* name, uint16_t mode);
// type: the key type word (key_type_word.h) with kKbdKeyDescending;
// for_expression null or blank: no FOR condition.
int16_t CreateNtx(const char* name, uint16_t type, const char* expression,
                  uint16_t key_length, uint16_t decimals,
                  const char* for_expression);
int16_t CloseNtx(int16_t handle);

// The key of a number (key_length bytes, then a NUL): "%*.*f" with the
// key length and decimals, its leading blanks and minus sign made '0',
// then for a negative number every digit c turned into 92 - c (the point
// kept). Text wider than the key is cut to the key length. -0.0 is taken
// as 0.
void NtxNumberKey(double number, uint32_t key_length, uint32_t decimals,
                  uint8_t* key);

// The key of an evaluated record value (type 'C' text, 'N' number, 'D'
// key day number as record_source.h gives them), key_length bytes: text
// blank-padded or cut, numbers as NtxNumberKey, dates YYYYMMDD or 8 blanks
// (then padded). -7 for any other type.
int16_t NtxValueKey(char type, std::string_view text, double number,
                    const NtxFile& file, uint8_t* key);

}  // namespace qx::engine

#endif  // QX_ENGINE_NTX_NTX_FILE_H_
