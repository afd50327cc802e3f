// The control blocks of an open MDX file and of its open tags, and the
// module's internal steps, shared by the files of engine/mdx/.
//
// Shared files. An MDX file is read and written by several handles and
// processes. Within a call the operation lock of a shared file
// (kMdxLockOffset: exclusive for a change, shared for a read) keeps the
// others' changes out; between calls they go on, so a handle trusts
// little from one call to the next: every call takes that lock, then
// re-reads the sector count and the free-chain words (RefreshWords), a
// call on a tag also the tag's root (RefreshTag); every changed page and
// header word is written at once; and the tag's page cache is emptied
// before the call returns (EndTagCall). Only a tag's current key survives
// from call to call; a position is rebuilt by searching for it. The tag
// table is read again (ReloadTagTable) by the calls that depend on it: tag
// definition, deletion and opening, and the file check. A tag handle is a
// number in that table: when another handle's deletion moved an open tag
// to another number, its handle follows it (as after a deletion of our
// own), and a tag another handle deleted is closed here.
//
// Files opened without sharing. No other handle, of this process or
// another, can open such a file: only this handle changes it, and it
// updates the file's words and each tag's root in memory as it writes
// them. After a tag call that ended cleanly the file's words (kept per
// file: every tag's allocations and frees change them) and that tag's
// root and cached pages are the file's: the next call reads none of them
// again (words_kept, pages_kept). A tag's blocks are its own, and a block
// another tag takes from the free chain enters that tag's tree as a new
// image (never read through an old copy), so one tag's changes leave the
// pages another tag keeps true. A failed call, and every definition,
// deletion and build, drop all that is kept (DropKept): the next call
// reads the file again. Tags of such a file get a larger cache
// (kMdxAloneCacheShape).
//
// Tag handles are 32-bit: tag number * 65536 + file handle.
//
// Invariants of an open MdxFile (cited as M1..M5):
//  M1. tags[n] is set exactly when tag n is open, and then tags[n]->number
//      == n <= header.tag_count.
//  M2. table holds the tag table as read at open and as this handle
//      rewrote it; entries 1..header.tag_count are the tags.
//  M3. During a call, header's words are as last read or written; an open
//      tag's cache bounds are [4, sector_count) and its root lies inside.
//  M4. An open tag's layout describes its header's pages and is Valid().
//  M5. A block on the free chain is in no tree and no tag header; the chain
//      is free_count blocks long (checked by mdx_check.h).
#ifndef QX_ENGINE_MDX_MDX_FILE_H_
#define QX_ENGINE_MDX_MDX_FILE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/btree/btree.h"
#include "engine/btree/entry_page.h"
#include "engine/btree/key_cursor.h"
#include "engine/btree/page_cache.h"
#include "engine/btree/path_stack.h"
#include "engine/core/engine_state.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/operation_lock.h"
#include "engine/mdx/mdx_format.h"
#include "qx/engine.h"

namespace qx::engine {

// The page cache of an open tag: a directory of 10 slots over 3 buffers of
// one block; an open with fewer buffers fails with -3.
inline constexpr btree::CacheShape kMdxCacheShape = {10, 3};
inline constexpr int kMdxMinCacheBuffers = 3;
// The cache of a tag of a file opened without sharing, whose pages outlive
// the call: 128 blocks, the upper levels entering at the middle.
inline constexpr btree::CacheShape kMdxAloneCacheShape = {128, 128, true};

// A tag handle: tag number * 65536 + file handle.
constexpr int32_t MdxTagHandle(int16_t file_handle, uint32_t number) {
  return static_cast<int32_t>(number << 16 |
                              static_cast<uint16_t>(file_handle));
}
constexpr int16_t MdxFileOfTag(int32_t tag_handle) {
  return static_cast<int16_t>(static_cast<uint32_t>(tag_handle) & 0xFFFF);
}
constexpr uint32_t MdxNumberOfTag(int32_t tag_handle) {
  return static_cast<uint32_t>(tag_handle) >> 16;
}

struct MdxFile;

struct MdxTag : btree::TreeStore {
  MdxFile* file = nullptr;
  uint32_t number = 0;         // M1
  uint32_t header_sector = 0;  // from the tag table
  std::string name;            // as in the tag table
  MdxTagHeader header;         // root refreshed per call
  std::string expression;      // normalised: upper case, no blanks
  btree::EntryLayout layout;   // M4
  uint32_t half = 0;           // max_keys / 2
  btree::PathStack path;
  btree::PageCache cache;
  std::unique_ptr<btree::Tree> tree;
  btree::KeyCursor cursor;  // the current key
  bool pages_kept = false;  // root and cache outlived a call

  uint8_t key_type() const { return header.key_type; }
  bool unique() const { return (header.key_format & kMdxFormatUnique) != 0; }
  bool descending() const {
    return (header.key_format & kMdxFormatDescending) != 0;
  }

  // TreeStore.
  uint32_t Root() const override { return header.root; }
  int16_t SetRoot(uint32_t page) override;
  int16_t AllocatePage(uint32_t* page) override;
  int16_t FreePage(uint32_t page) override;
  int CompareKeys(const uint8_t* search, const uint8_t* key, uint32_t length,
                  bool wildcard) const override;
};

struct MdxFile : ControlBlock {
  ~MdxFile() override;  // closes the system file when still open

  std::string name;  // as given to open
  uint16_t slot = kNoFileSlot;
  uint16_t file_flags = 0;    // kFileFlagReadOnly | kFileFlagShared
  FileOperationLock op_lock;  // byte kMdxLockOffset of a shared file
  MdxHeader header;           // words refreshed per call (M3)
  std::array<uint8_t, kMdxTagTableSize> table{};  // M2
  bool changed = false;                           // written during this call
  bool header_dirty = false;  // written since open: close stamps the date
  bool words_kept = false;    // header's words as read or written since
  std::array<std::unique_ptr<MdxTag>, kMdxTagTableEntries> tags;  // M1

  bool read_only() const { return (file_flags & kFileFlagReadOnly) != 0; }
  uint32_t block_factor() const { return header.block_factor; }
  uint32_t block_size() const { return header.block_size; }

  MdxTagEntry Entry(uint32_t number) const;
  void SetEntry(uint32_t number, const MdxTagEntry& entry);
  // The tag 1..N whose name matches without regard to case, or 0.
  uint32_t FindTag(std::string_view name) const;

  // Re-reads sector_count, free_head and free_count (M3); nothing when the
  // kept words are trusted.
  int16_t RefreshWords();
  // Re-reads tag_count and the tag table (M2) and re-seats the open tags
  // by their header sectors (M1): a tag whose header another handle's
  // deletion moved takes its new number, one no entry names any more is
  // closed. REQUIRES: the operation lock entered.
  int16_t ReloadTagTable();
  // Enters the operation lock for one step (operation_lock.h).
  int16_t EnterLock(OperationScope* scope, LockKind kind) {
    return scope->Enter(&op_lock, slot, file_flags, kMdxLockOffset, kind);
  }
  // The lock kind of a change: exclusive, but shared in a read-only file,
  // where the change fails with -36 before it writes anything.
  LockKind ChangeKind() const {
    return read_only() ? LockKind::kShared : LockKind::kExclusive;
  }
  // Writes the three words from memory.
  int16_t WriteWords();
  // A block for new content: the free chain's head (the head moves to its
  // link), else the block at the end of the file (sector_count grows by
  // F). With write_words the changed words are written at once.
  int16_t AllocateBlock(uint32_t* sector, bool write_words);
  // Puts a block on the free chain: 0 and the old head into its first 8
  // bytes (through cache when given, so that the cache stays true), then
  // the chain words.
  int16_t FreeBlock(uint32_t sector, btree::PageCache* cache);
};

// Byte offset of a sector; -4 when it lies at or past 4 GiB.
int16_t MdxSectorOffset(uint32_t sector, uint32_t* offset);

// TrustsKeptWords: the file is open without sharing (FileOpenedAlone) and
// the words in memory are the file's. TrustsKeptPages: that, and the tag's
// last call ended cleanly, so its root and cached pages are the file's.
inline bool TrustsKeptWords(const MdxFile* file) {
  return FileOpenedAlone(file->slot) && file->words_kept;
}
inline bool TrustsKeptPages(const MdxTag* tag) {
  return TrustsKeptWords(tag->file) && tag->pages_kept;
}
// Trusts nothing kept any more: the words, and every open tag's root and
// pages (its cache emptied; the first error is returned).
int16_t DropKept(MdxFile* file);

// The control block of an MDX handle; null with -13 as the last error.
MdxFile* CheckMdx(int16_t handle);
// The open tag of a tag handle: null with -13 (not an MDX handle) or -48
// (number above N, or the tag is not open) as the last error.
MdxTag* CheckMdxTag(int32_t tag_handle);

// Start of every call on an open tag: the file's words and the tag's root
// (-25 when it lies outside 4 .. sector_count - 1), and the cache bounds;
// the kept ones when they are trusted.
int16_t RefreshTag(MdxTag* tag);
// End of every call on a tag: empties its page cache (a file opened
// without sharing keeps it after a clean call, and drops everything kept
// after a failed one) and, when something was written and writes are
// synced (kbdsetsync), flushes the file.
int16_t EndTagCall(MdxTag* tag);
// The same flush rule for calls that write without a tag (definitions).
int16_t EndFileCall(MdxFile* file);

// Runs body(MdxTag&) as the inside of a public operation on a tag: the
// tag check, the file's operation lock of kind (kExclusive for a change,
// kShared for a read), refresh, body, end of call, unlock. A change of a
// read-only file: -36.
template <typename Body>
int16_t WithMdxTag(int32_t tag_handle, LockKind kind, Body&& body) {
  MdxTag* tag = CheckMdxTag(tag_handle);
  if (tag == nullptr) return LastError();
  if (kind == LockKind::kExclusive && tag->file->read_only())
    return Fail(kKbdErrReadOnly);
  OperationScope scope;
  if (int16_t e = tag->file->EnterLock(&scope, kind)) return e;
  int16_t status = RefreshTag(tag);
  if (status >= 0) status = body(*tag);
  int16_t ended = EndTagCall(tag);
  return status < 0 ? status : (ended < 0 ? ended : status);
}

// Bodies of the public operations, for use inside other operations.
int16_t OpenMdx(int16_t* handle, const char* name, uint16_t mode);
int16_t CloseMdx(int16_t handle);
// Defines an empty tag (replacing one of the same name); *number gets its
// tag number.
int16_t DefineMdxTag(MdxFile* file, const char* name, uint16_t type,
                     const char* expression, uint16_t key_length,
                     uint32_t* number);
// Deletes the closed tag of that name and frees its blocks.
int16_t DeleteMdxTag(MdxFile* file, const char* name);
// Opens tag number (0..N) of the file behind handle.
int16_t OpenMdxTag(int16_t handle, uint32_t number, int32_t* tag_handle);
int16_t CloseMdxTag(int32_t tag_handle);

// Reads the tag header in the block at sector.
int16_t ReadTagHeader(const MdxFile& file, uint32_t sector,
                      MdxTagHeader* header);
// The tag header checks of a tag open, in their order: the status of the
// first that fails (not set as the last error), or 0.
int16_t TagHeaderStatus(const MdxFile& file, const MdxTagHeader& header);

// Key order of a tag's key type over length bytes (no wildcard).
int CompareMdxKeys(uint8_t key_type, const uint8_t* a, const uint8_t* b,
                   uint32_t length);

// The stored key (key_length bytes) of a key value of type 'C', 'N' or
// 'D' (KeyValue's types): -7 when the type does not suit the tag.
int16_t StoreMdxKey(const MdxTag& tag, char type, std::string_view text,
                    double number, uint8_t* key);

}  // namespace qx::engine

#endif  // QX_ENGINE_MDX_MDX_FILE_H_
