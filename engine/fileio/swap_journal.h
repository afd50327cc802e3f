// A roll-forward journal for work that must look atomic to a process
// killed in its middle: byte patches to one file (the target) plus a work
// file swapped in under the name of another (the current file, kept as a
// backup). The memo pack is its user: the target is the data file, whose
// memo fields get the values' new block numbers, and the work file is the
// packed memo file.
//
// The writer's order makes every moment recoverable:
//   1. the work file is complete and flushed;
//   2. the journal is written whole and flushed (WriteSwapJournal);
//   3. the patches are made in the target;
//   4. current -> backup, work -> current (renames);
//   5. the journal is deleted.
// A journal that is there when the target is next opened by a process that
// can have it alone (FinishSwapJournal) means steps 3-5 may be unfinished:
// while the work file exists, the patches are made again (they are
// idempotent) and the renames done; once it is gone, the swap is complete
// and only the journal goes. A journal cut short by the kill fails its
// checksum: step 3 had not begun, and it is deleted.
//
// File layout, little-endian:
//   0   4  "QXSJ"
//   4   4  version, 1
//   8   4  guard offset in the target
//   12  2  guard length (at most 64)
//   14  .. guard bytes: what the target holds there when the journal is
//          written (the data file's record count and sizes); a target that
//          differs has been changed since, and the journal is left alone
//   ..  4  size of the current file when written (the same kind of guard)
//   ..  three names, each a 2-byte length then the bytes: work, current,
//       backup, file names in the journal's own directory
//   ..  4  patch count, then per patch 4 offset, 2 length, the bytes
//   ..  4  FNV-1a hash of every byte before it
#ifndef QX_ENGINE_FILEIO_SWAP_JOURNAL_H_
#define QX_ENGINE_FILEIO_SWAP_JOURNAL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace qx::engine {

struct JournalPatch {
  uint32_t offset = 0;
  std::string bytes;
};

struct SwapJournal {
  uint32_t guard_offset = 0;
  std::string guard;  // at most 64 bytes
  uint32_t current_size = 0;
  std::string work;  // names in the journal's directory
  std::string current;
  std::string backup;
  std::vector<JournalPatch> patches;
};

// The journal of a data file: its name with the extension ".PKJ".
std::string SwapJournalName(const std::string& target_name);

// Writes the journal (replacing any file of that name) and flushes it.
int16_t WriteSwapJournal(const std::string& name, const SwapJournal& journal);

// At the open of target_name: finishes the work of its journal when there
// is one and no other handle has the target open (a live writer holds it;
// the journal is then left for a later open). Missing write access skips
// it too. 0 when nothing was to do or the work is done; negative when a
// step failed (the journal stays, to be finished at a later open).
int16_t FinishSwapJournal(const std::string& target_name);

}  // namespace qx::engine

#endif  // QX_ENGINE_FILEIO_SWAP_JOURNAL_H_
