// Packing a memo file: rebuilding it with only the values that live
// records of its data file reference, the old file kept as a ".BKT"
// backup. One loop serves the DBT and FPT modules through MemoKindOps.
#ifndef QX_ENGINE_MEMO_MEMO_PACK_H_
#define QX_ENGINE_MEMO_MEMO_PACK_H_

#include <cstdint>

#include "engine/memo/memo_file.h"

namespace qx::engine {

// What pack needs of a memo kind. Each function runs inside the pack
// operation and follows the engine's status rules.
struct MemoKindOps {
  uint8_t kind;                // kKbdKindDbt or kKbdKindFpt
  const char* work_extension;  // ".DBT" or ".FPT"
  // Creates an empty memo file with like's layout, block size and dialect.
  int16_t (*create_like)(const char* name, const MemoFile& like);
  // Opens a memo file of this kind (no operation wrapper).
  int16_t (*open)(int16_t* handle, const char* name, uint16_t mode);
  // Reads the value at block, byte for byte (FPT: with its type).
  int16_t (*read)(MemoFile& file, uint32_t block, MemoValue* value);
  // Writes value as a new value and gives its first block.
  int16_t (*append)(MemoFile& file, const MemoValue& value, uint32_t* block);
};

// The backup name of a memo file: its extension replaced by ".BKT".
inline constexpr char kMemoBackupExtension[] = ".BKT";

// Packs the memo file of *memo_handle for the data file dbf_handle (the
// body of kbdtpack and kbdfpack). *memo_handle is closed and replaced by
// the handle of the rebuilt file, reopened shared with the old dialect.
// -21 null memo_handle, -13 not a memo handle of ops.kind, -36 read-only.
// A failure once the old file is closed leaves *memo_handle -1.
//
// Steps and what a failure or a kill leaves:
//  1. Lock the data file (file lock mode 2), then, in a shared memo file,
//     take its operation lock exclusively until step 4 (no other process
//     writes a value meanwhile). A journal of an unfinished pack beside the
//     data file: -37. Failure: nothing changed, nothing held.
//  2. Create the work file "<dir><N><ext>", N from 0 up to the first free
//     name; copy every value a live record references into it, noting the
//     new block numbers; close (flush) it. Failure or kill: the data and
//     memo files as they were (a killed pack's work file stays behind).
//  3. Delete an old backup; write the journal "<data file>.PKJ": the new
//     numbers' bytes at their places in the data file, and the swap to do
//     (see engine/fileio/swap_journal.h).
//  4. Store the new numbers in the records (record rewrite); unlock.
//  5. Close both memo files; rename old -> backup, work -> old; delete the
//     journal; reopen.
// A failure in steps 3-5 before the work file has the old name (the old
// file renamed back if need be) rewrites the records with their old numbers
// and deletes the journal and the work file: the table reads as before.
// When that fails, or the process dies after step 3, the journal and the
// work file stay, and the next open of the data file with no other handle
// on it makes the patches again and does the swap. A memo file outside the
// data file's directory is packed without a journal.
int16_t PackMemoFile(int16_t dbf_handle, int16_t* memo_handle,
                     const MemoKindOps& ops);

}  // namespace qx::engine

#endif  // QX_ENGINE_MEMO_MEMO_PACK_H_
