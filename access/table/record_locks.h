// Table and record locks of a table object, and the record lock list each
// data file has in the process.
//
// File locks. A table holds a set of the engine's file-lock modes (bits
// 2, 3, 4 of held()). The host's kinds map onto modes: kind 2 on mode 3,
// kind 3 on mode 2, kind 4 on mode 4. Mode 2 is the stronger and satisfies
// a request of kind 2 or 3; mode 3 satisfies kind 2 only; any mode held
// satisfies kind 4. A request not satisfied releases what the table holds
// (file locks, then its record locks) before asking the engine for the
// new mode, so a table never holds two file-lock modes at once. The kind
// reported: 3 while mode 2 is held, 2 while mode 3 is, else 0.
//
// Record locks. Every data file of the process has one list of the
// records that table objects of the process lock (owner and kind), found
// by the file's identity, not by the spelling of its path: two table
// objects on one file, whatever name opened them, see each other's locks
// without asking the engine (whose locks are per handle, so they would
// also exclude each other, but say nothing of who holds the record).
// Locks of other processes are the engine's byte-range locks: a record
// another process holds gives -37 on the engine's test.
//
// Lock kinds of a record: 0 nothing to do, 1 unlock, 2 and 3 lock (the
// kind is remembered and told to the host record, not enforced).
//
// Errors (into the table's error context, naming the table): 1020 a
// record number outside [1, count]; 1041 (category 2) a record another
// table object or another process holds; 1054 a file lock refused
// (category 2 when another handle holds the file, else 0); 1019 any other
// engine failure of a record lock; 1022 an unlock the engine refuses.
//
// The list is guarded by its own mutex; a table object's entries leave
// it when the object unlocks the file or closes its data file.
#ifndef QX_ACCESS_TABLE_RECORD_LOCKS_H_
#define QX_ACCESS_TABLE_RECORD_LOCKS_H_

#include <cstdint>
#include <string>

#include "access/table/table_files.h"
#include "qx/host_types.h"

namespace qx::access {

class CXBaseTable;

class TableLocks {
 public:
  // REQUIRES: the table's data file is open (files->is_open()).
  int32_t LockFile(const CXBaseTable* table, TableFiles* files, uint32_t kind);
  // Releases every file-lock mode held, then the table's record locks.
  // 1 when every engine unlock succeeded.
  int32_t UnlockFile(const CXBaseTable* table, TableFiles* files);
  uint32_t CurrentKind() const;
  // table: the owner of the locks, whose record count bounds recno.
  int32_t LockRecord(CXBaseTable* table, TableFiles* files, Record* record,
                     uint32_t kind, uint32_t recno, uint32_t* previous_kind);
  // The data file closes: its engine locks go with its handle; the list
  // forgets the table's records.
  void Closed(const CXBaseTable* table);

  // Engine file-lock modes held: bit (1 << mode) for modes 2, 3, 4.
  uint32_t held() const { return held_; }
  // Whether the table holds record recno in its file's list (tests).
  static bool IsListed(const CXBaseTable* table, uint32_t recno);

 private:
  // The key of the table's data file in the process's lists; computed on
  // first use per path. Empty when the file cannot be reached.
  const std::string& FileKey(const TableFiles& files);
  // Drops the table's entries from every list.
  static void Forget(const CXBaseTable* table);

  uint32_t held_ = 0;
  std::u16string keyed_path_;
  std::string file_key_;
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_RECORD_LOCKS_H_
