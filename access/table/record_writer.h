// Writing records of a table object: add (mode 0) and rewrite (mode 256)
// with every key of the host record kept in step, automatic identifiers,
// duplicate detection on unique keys, and deletion.
//
// The keys of a write are the host record's items marked kRecordItemKey,
// in item order; each names its key (the table's key descriptor of that
// item). A key's image is always made from the record by its index's own
// expression, so the image the index holds and the one the write makes
// cannot differ; a FoxPro or Clipper index with a FOR condition gets an
// entry only for the records the condition keeps.
//
// A write, in order:
//   1. rewrite: the record is read; its raw bytes and the image of each
//      key (and whether the record belongs in the index) are kept;
//   2. the automatic identifier (item marked kRecordItemAutoId): on add,
//      1 in an empty index, else the identifier of the record of the last
//      key + 1; on rewrite the stored value is kept. Option bits 0x100 and
//      0x400 say the host gives it itself; 0x200 forces the add form;
//   3. add: the record buffer is emptied (every field blank);
//   4. every item but the memos is put into the buffer and filled back
//      from it, so that the host sees the stored (cut, rounded) value;
//   5. with DUPLICATESON set, each key declared unique is sought with the
//      image the new record gives it: found, the write ends with error
//      1053 (category 3) before anything reached the files;
//   6. memo items are written (their block numbers land in the buffer);
//   7. the record is appended or rewritten;
//   8. key maintenance, key by key: a rewrite whose key image did not
//      change touches nothing; else the old entry goes, the duplicate
//      check runs again (another process may have added the key since
//      step 5), the new entry comes.
// A key that fails undoes the keys maintained before it. Then an add's
// record is marked deleted (and the memo file compacted when memos were
// written: the values of the dead record go); a rewrite puts back the
// record's old bytes, so that file and indexes agree on the old record.
//
// Errors (into the table's error context): 1015 read, 1046 write, 1048 a
// key that cannot be made, 1049 a key the index refuses, 1053 duplicate,
// 1061 identifier, 1052 memo compaction; 1051 delete, 1025 and 1026 key
// removal; 1045 and 1047 from record transfer.
#ifndef QX_ACCESS_TABLE_RECORD_WRITER_H_
#define QX_ACCESS_TABLE_RECORD_WRITER_H_

#include <cstdint>

#include "qx/host_types.h"

namespace qx::access {

class CXBaseTable;

// Host write options.
enum WriteOptions : uint32_t {
  kWriteHostIdentifier = 0x100,   // the host gives the identifier
  kWriteForceIdentifier = 0x200,  // compute it as for an add
  kWriteHostIdentifier2 = 0x400,  // the host gives the identifier
};

inline constexpr uint16_t kWriteModeAdd = 0;

// Writes the host record: mode 0 appends it (*recno receives the new
// number), 256 rewrites record *recno. On success the record's recno is
// the record written and its state 0. 1 or 0.
int32_t WriteTableRecord(CXBaseTable* table, Record* record, uint32_t* recno,
                         uint32_t options, uint16_t mode);

// Marks record recno deleted; with remove_keys, its entries leave every
// key of the host record too (when one cannot, the entries removed come
// back and the mark is taken back). On success the record's state is
// kRecordDeleted. 1 or 0.
int32_t DeleteTableRecord(CXBaseTable* table, Record* record, uint32_t recno,
                          bool remove_keys);

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_RECORD_WRITER_H_
