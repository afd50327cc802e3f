// The control blocks of an open CDX compound index and of its tag slots,
// and the module's internal steps, shared by the files of engine/cdx/.
//
// A compound file is one file of 512-byte blocks holding several trees of
// the compact FoxPro layout (fox_tree.h): the tag directory, whose header
// is the block at offset 0 and whose keys are the tag names (10 bytes,
// upper case, blank-padded) with the offsets of the tag headers as record
// numbers; and one tree per tag, its header and expression block two
// consecutive blocks anywhere in the file. The header at offset 0 also
// keeps the file-wide free-node list, shared by every tree, and the change
// counter (word at 8, big-endian), one more after every call that changed
// the file.
//
// Slots. A handle has 20 tag slots: slot 0 always holds the directory,
// slots 1..19 the tags the caller opened. A tag identifier is slot * 65536
// + file handle.
//
// Shared files. Other handles and processes change the file between calls,
// so every call re-reads the tree's header words (FoxTree::Refresh); the
// nodes it read stay cached only while the file's change counter and words
// show no change since (fox_tree.h), and reads try them without the lock
// first (RunOnTag). Within a call the file's operation lock (the lock byte
// of FoxPro's writers, lock_offset) keeps the others' changes out: in a
// shared file every change (key add and delete, tag creation, deletion and
// build) holds it exclusively and every read (walks, searches, directory
// lookups, the check) shared; the tree's words are re-read after the lock
// is taken.
//
// Invariants of an open CdxFile (cited as C1..C3):
//  C1. slots[0] is the directory, loaded at open; slots[n] for n >= 1 is
//      set exactly when the caller opened a tag into slot n.
//  C2. op_lock is entered only during a call: between calls this handle
//      holds no lock of the file.
//  C3. No two of slots 1..19 hold tags of the same name opened by name.
#ifndef QX_ENGINE_CDX_CDX_FILE_H_
#define QX_ENGINE_CDX_CDX_FILE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/core/last_error.h"
#include "engine/fileio/file_layer.h"
#include "engine/fileio/operation_lock.h"
#include "engine/fox/fox_format.h"
#include "engine/fox/fox_tree.h"
#include "engine/index/index_call.h"
#include "qx/engine.h"

namespace qx::engine {

inline constexpr int kCdxSlotCount = 20;
inline constexpr uint32_t kCdxMaxTagName = 10;
inline constexpr uint16_t kCdxDirectoryKeyLength = 10;
// The directory a new file gets: compact layout, compound, the directory
// (0xE0, as in every compound file of the FoxPro programs).
inline constexpr uint8_t kCdxDirectoryOptions =
    fox::kFoxDirectoryBit | fox::kFoxCompound | fox::kFoxCompact;
// A new tag: compact and compound (0x60), | 0x01 unique, | 0x08 FOR.
inline constexpr uint8_t kCdxTagOptions = fox::kFoxCompound | fox::kFoxCompact;
// The first blocks of a new file: directory header, its expression block,
// the directory's empty root leaf (at 1024).
inline constexpr uint32_t kCdxDirectoryRoot = 2 * fox::kFoxBlockSize;
// Tags we create: key length 1..100. Tags we open: up to 240 (other
// programs write longer keys, e.g. database-container name tags), with
// expressions shorter than 220 bytes.
inline constexpr uint16_t kCdxMaxKeyLength = 100;
inline constexpr uint16_t kCdxMaxOpenKeyLength = fox::kFoxMaxTreeKeyLength;
inline constexpr size_t kCdxMaxExpression = 220;

// Open-mode bits of this module besides those of every open.
inline constexpr uint16_t kCdxModeWriteThrough = 0x0200;
inline constexpr uint16_t kCdxModeWriteThroughAlt = 0x1000;

constexpr int32_t CdxTagId(int16_t handle, uint32_t slot) {
  return static_cast<int32_t>(slot << 16 | static_cast<uint16_t>(handle));
}
constexpr int16_t CdxHandleOfTag(int32_t tag) {
  return static_cast<int16_t>(static_cast<uint32_t>(tag) & 0xFFFF);
}
constexpr uint32_t CdxSlotOfTag(int32_t tag) {
  return static_cast<uint32_t>(tag) >> 16;
}

struct CdxFile;

// One loaded tree: the directory (slot 0) or a tag.
struct CdxTag {
  CdxFile* file = nullptr;
  uint32_t slot = 0;
  std::string name;  // without trailing blanks; "" directory
  uint32_t header_offset = 0;
  fox::FoxHeader header;       // as read at load
  std::string expression;      // normalised: upper case, no blanks
  std::string for_expression;  // normalised; empty when none
  char key_type = 'C';         // 'C', 'D', 'N' or 'L' (kbdckeytype)
  fox::FoxTree tree;
  std::vector<uint8_t> key;  // key_length + 1 bytes of work space
  bool probe_first = true;   // reads try the kept nodes first

  uint16_t key_length() const { return header.key_length; }
  uint8_t pad() const { return key_type == 'C' ? ' ' : 0; }
  bool unique() const { return header.unique(); }
  bool descending() const { return header.descending(); }
};

struct CdxFile : ControlBlock {
  ~CdxFile() override;  // closes the system file when open

  std::string name;  // as given to open
  uint16_t slot = kNoFileSlot;
  uint16_t file_flags = 0;       // kFileFlagReadOnly | kFileFlagShared
  bool write_through = false;    // 0x200 or 0x1000 at open
  bool changed = false;          // a key change of this call wrote
  uint32_t pending_changes = 0;  // counted, not yet written (CountFoxChange)
  // The lock byte by the directory's options (fox_format.h).
  uint32_t lock_offset = fox::kFoxLockOffset;
  FileOperationLock op_lock;                                 // C2
  std::array<std::unique_ptr<CdxTag>, kCdxSlotCount> slots;  // C1

  bool read_only() const { return (file_flags & kFileFlagReadOnly) != 0; }
  bool shared() const { return (file_flags & kFileFlagShared) != 0; }
  CdxTag& directory() { return *slots[0]; }

  // Enters the operation lock for one step (operation_lock.h): in a
  // shared file the first step waits for the lock byte (-37 after the
  // bounded wait), nested steps take nothing more.
  int16_t EnterLock(OperationScope* scope, LockKind kind) {
    return scope->Enter(&op_lock, slot, file_flags, lock_offset, kind);
  }
};

// The control block of a CDX handle; null with -13 as the last error.
CdxFile* CheckCdxHandle(int16_t handle);
// The loaded tree of a tag identifier: null with -13 (not a CDX handle)
// or -48 (slot out of range or empty) as the last error. Slot 0, the
// directory, is accepted only when allow_directory.
CdxTag* CheckCdxTagId(int32_t tag, bool allow_directory);

// Runs body(CdxTag&) as the inside of a public operation on a tag: the
// tag check (the directory, slot 0, only for a read), the file's
// operation lock of kind (kExclusive for a change, kShared for a read),
// the refresh, the body, the end of the call and the unlock. A change of
// a read-only file: -36.
// The halves around the body. BeginTagCall answers null (and *status the
// error) when the identifier names no tree; otherwise the tree, with
// *status negative when the lock or the refresh failed (the lock is then
// held by scope, or not at all).
CdxTag* BeginTagCall(int32_t tag_id, LockKind kind, OperationScope* scope,
                     int16_t* status);
int16_t EndTagCall(CdxTag* tag, int16_t status);

// A read first tries the nodes kept from earlier calls without the lock
// (fox_tree.h), unless the last try of the tag missed and no call under
// the lock has since found every node it needed kept, or a step from the
// last entry handed out may leave the kept nodes.
template <typename Body>
int16_t RunOnTag(int32_t tag_id, LockKind kind, Body&& body) {
  auto locked = [&] {
    OperationScope scope;  // released after the end of the call
    int16_t status = kKbdOk;
    CdxTag* tag = BeginTagCall(tag_id, kind, &scope, &status);
    if (tag == nullptr) return status;
    if (status >= 0) status = body(*tag);
    return EndTagCall(tag, status);
  };
  if (kind != LockKind::kShared) return locked();
  CdxTag* read = CheckCdxTagId(tag_id, true);
  // Not inside another step of this handle, which holds the lock.
  if (read == nullptr || read->file->op_lock.entered()) return locked();
  return index::ReadKeptFirst(
      &read->tree, &read->probe_first, read->tree.StepMayLeaveKept(),
      [read] { return read->tree.RefreshFromKept(); },
      [&] { return body(*read); },
      [read](int16_t status) { return EndTagCall(read, status); },
      [read] { read->tree.EndCall(); }, locked);
}

// Bodies of the public operations, for use inside other operations.
int16_t OpenCdx(int16_t* handle, const char* name, uint16_t mode);
int16_t CreateCdx(const char* name);
int16_t CloseCdx(int16_t handle);
// Creates an empty tag (replacing a closed tag of the same name) and
// gives its header offset. type: the key letter, | kKbdKeyUnique, | kKbdKeyDescending
// descending; for_expression null or empty: none.
int16_t CreateCdxTag(CdxFile* file, const char* name, uint16_t type,
                     const char* expression, uint16_t key_length,
                     const char* for_expression, uint32_t* header_offset);

// Counts a change of the file in the directory header's change counter
// (see fox_format.h), after every call that wrote.
int16_t CountCdxChange(CdxFile* file);

// Deletes the closed tag of that name (-50 absent, -57 open in this
// handle); its blocks go to the free list.
int16_t DeleteCdxTag(CdxFile* file, const char* name);

// Loads the tree whose header lies at header_offset into a new CdxTag
// (the tag header checks -23, -7, -25).
int16_t LoadCdxTree(CdxFile* file, uint32_t slot, uint32_t header_offset,
                    std::string_view name, std::unique_ptr<CdxTag>* tag);

// The 10-byte directory key of a tag name: upper case, blank-padded. -50
// for a null name or one of 0 or more than 10 characters.
int16_t CdxNameKey(const char* name, std::string* key);
// Tag names compared without regard to case (ASCII letters).
bool SameTagName(std::string_view a, std::string_view b);
// The header offset of the tag whose upper-case name is given: 0, or 4
// (not set as the last error) when the directory has no such name.
int16_t FindCdxTag(CdxFile* file, const std::string& upper_name,
                   uint32_t* header_offset);
// The directory entries in name order: (name without trailing blanks,
// header offset). Runs its own refresh and end of call on the directory.
struct CdxDirectoryEntry {
  std::string name;
  uint32_t header_offset = 0;
};
int16_t ReadCdxDirectory(CdxFile* file, std::vector<CdxDirectoryEntry>* out);

}  // namespace qx::engine

#endif  // QX_ENGINE_CDX_CDX_FILE_H_
