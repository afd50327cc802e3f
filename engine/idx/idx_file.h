// The control block of an open IDX index and the module's internal steps,
// shared by the files of engine/idx/ that implement the IDX functions.
//
// An IDX file holds one FoxPro tree (fox_tree.h) with its header at offset
// 0, in the standard or the compact layout. Index files are shared between
// handles and processes: within a call the operation lock of a shared
// file (the byte of FoxPro's writers, kFoxLockOffset: exclusive for a
// change, shared for a read) keeps the others' changes out, and every
// call, once it holds that lock, re-reads the header words (RefreshIdx),
// works through the tree's node cache and writes changed nodes at once.
// What a call read survives it only where it can be proven current: in
// the compact layout, whose change counter every writer moves, a clean
// read call keeps its nodes for the next while the counter and free list
// stay the same (fox_tree.h), and a file opened without sharing keeps
// them while no call of its own fails or writes. The standard layout has
// no counter: a call of a shared standard file reads every node afresh.
// Next and previous find the caller's entry again by search unless the
// kept leaf still holds it.
//
// Key type. The file does not record it: the caller sets it with
// kbdikeytype ('C' at open). It decides the pad byte, blank for 'C' and 0
// for 'D', 'N' and 'L', which fills short keys and is what the trailing
// counts of compact leaves stand for.
#ifndef QX_ENGINE_IDX_IDX_FILE_H_
#define QX_ENGINE_IDX_IDX_FILE_H_

#include <cstdint>
#include <string>
#include <utility>
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

struct IdxFile : ControlBlock {
  ~IdxFile() override;  // closes the system file when still open

  std::string name;  // as given to open
  uint16_t slot = kNoFileSlot;
  uint16_t file_flags = 0;     // kFileFlagReadOnly | kFileFlagShared
  FileOperationLock op_lock;   // byte kFoxLockOffset of a shared file
  fox::FoxHeader header;       // as read at open
  std::string expression;      // normalised: upper case, no blanks
  std::string for_expression;  // normalised; empty when none
  char key_type = 'C';
  fox::FoxTree tree;
  bool changed = false;          // nodes written in this call
  uint32_t pending_changes = 0;  // counted, not yet written (CountFoxChange)
  std::vector<uint8_t> key;      // key_length bytes: the caller's key
  std::vector<uint8_t> found;    // key_length bytes: an entry's key
  uint32_t found_recno = 0;      // the entry last handed out; 0: none
  bool probe_first = true;       // reads try the kept nodes first

  bool read_only() const { return (file_flags & kFileFlagReadOnly) != 0; }
  bool shared() const { return (file_flags & kFileFlagShared) != 0; }
  bool unique() const { return header.unique(); }
  bool compact() const { return header.layout() == fox::FoxLayout::kCompact; }
  bool descending() const { return header.descending(); }
  uint16_t key_length() const { return header.key_length; }
  uint8_t pad() const { return key_type == 'C' ? ' ' : 0; }
};

// The control block of an IDX handle; null with -13 as the last error.
IdxFile* CheckIdx(int16_t handle);

// Start of every call: re-reads the root word and the file size. read:
// the call only reads, so nodes kept from earlier calls may serve it when
// the file's words show no change since (compact layout; fox_tree.h).
int16_t RefreshIdx(IdxFile* file, bool read);
// End of every call: keeps the nodes of a clean read call (see RefreshIdx)
// and empties the node cache otherwise; when nodes were written, counts
// the change (compact layout) and flushes when writes are synced.
int16_t EndIdxCall(IdxFile* file);

// Runs body(IdxFile&) as the inside of a public operation on handle:
// handle check, the operation lock of kind (kExclusive for a change,
// kShared for a read), refresh, body, end of call, unlock. A read of a
// shared file first tries the kept nodes without the lock, as a CDX tag
// does (cdx_file.h), unless its last try missed a node and no call under
// the lock has since found every node it needed kept, or a step from
// the last entry handed out may leave the kept nodes.
template <typename Body>
int16_t WithIdx(int16_t handle, LockKind kind, Body&& body) {
  IdxFile* file = CheckIdx(handle);
  const bool read = kind == LockKind::kShared;
  auto locked = [&] {
    return index::RunIndexCall(
        file, kind, fox::kFoxLockOffset,
        [read](IdxFile* f) { return RefreshIdx(f, read); }, EndIdxCall, body);
  };
  // Not inside another step of this handle, which holds the lock.
  if (file == nullptr || !read || !file->shared() || file->op_lock.entered())
    return locked();
  return index::ReadKeptFirst(
      &file->tree, &file->probe_first, file->tree.StepMayLeaveKept(),
      [file] { return file->tree.RefreshFromKept(); },
      [&] { return body(*file); },
      [file](int16_t status) {
        const int16_t ended = EndIdxCall(file);
        return status < 0 ? status : (ended < 0 ? ended : status);
      },
      [file] { file->tree.EndCall(); }, locked);
}

// Bodies of the public operations, for use inside other operations.
int16_t OpenIdx(int16_t* handle, const char* name, uint16_t mode);
// type: the key type letter, | kKbdKeyUnique, | kKbdKeyDescending (compact
// only: -12 otherwise), | kKbdKeyCompact. for_expression null or empty:
// none.
int16_t CreateIdx(const char* name, uint16_t type, const char* expression,
                  uint16_t key_length, const char* for_expression);
int16_t CloseIdx(int16_t handle);

// The key of the data file's current record for this index (key_length
// bytes), in the image the key length calls for (fox_key_image.h). -7 for
// a result the key cannot hold.
int16_t MakeIdxKey(int16_t dbf_handle, const IdxFile& file, uint8_t* key);

}  // namespace qx::engine

#endif  // QX_ENGINE_IDX_IDX_FILE_H_
