// Record transfer: the values of one record between the data file's
// record buffer and the host's record buffer (qx/host_types.h), and the
// memo values between the memo file and the host's memo items.
//
// Each field type has an engine form, the value the engine's field get
// and put exchange:
//   C, D, V, T and any other letter   text (18) in the file's code page:
//                                     C and V the field's bytes, D
//                                     YYYYMMDD, T YYYYMMDDHHMMSSmmm
//   N, F, and B in Visual FoxPro      8-byte float (12)
//   Y                                 8-byte float (12)
//   I                                 32-bit integer (8)
//   L                                 read: one byte (1, 0, or '?' for
//                                     neither); written: a character (17)
//   M, G, P, W, B elsewhere           the memo block number (8)
//   Q                                 binary (28): 16-bit length and bytes
// A value whose item holds another host value type goes through the
// host's conversion service (framework/host_value.h). Texts convert from
// and to the OEM code page of the files (adapter/code_pages.h), the whole
// table when the table says OEMTOANSI=WINDOWS, the French letters
// otherwise.
//
// Items keep their state word: kRecordDeleted for a record marked
// deleted, kRecordItemNull for a field whose null flag is set (Visual
// FoxPro) or a logical neither true nor false. A text longer than its
// item is cut to capacity - 1 bytes and its NUL.
//
// Errors (into the table's error context): 1017 a field that cannot be
// read or converted, 1045 a value the engine refuses, 1019, 1032, 1001,
// 1038, 1040 and 1047 for memo values. Warnings 5 and 6 of a put are
// success.
#ifndef QX_ACCESS_TABLE_RECORD_TRANSFER_H_
#define QX_ACCESS_TABLE_RECORD_TRANSFER_H_

#include <cstdint>

#include "access/table/table_files.h"
#include "qx/host_types.h"

namespace qx::access {

// The write mode of a record that exists already (memo writes replace).
inline constexpr uint16_t kWriteModeRewrite = 256;

// Fills one item from the current record. 1 or 0.
int32_t FillItem(TableFiles* files, RecordItem* item);
// Sets the record's and its items' deleted state from the current
// record. 1 or 0 (the engine's test failed). known_deleted, when 0 or 1,
// is the deletion mark the record's read reported, which spares asking
// the engine again.
int32_t RefreshRecordState(TableFiles* files, Record* record,
                           int32_t known_deleted = -1);
// Fills every item that is not skipped, then the record state.
int32_t FillItems(TableFiles* files, Record* record,
                  int32_t known_deleted = -1);

// Writes one item's value into the engine's record buffer. 1 or 0.
int32_t PutItem(TableFiles* files, const RecordItem* item);

// Opens the table's memo file when it is not open: its handle, or
// kNoMemoHandle after reporting 1032 (missing) or 1001.
uint16_t OpenMemoFile(TableFiles* files);
void CloseMemoFile(TableFiles* files);

// Fills memo item `item` of the record's current record (read again when
// the engine's buffer holds another). 1 or 0.
int32_t ReadMemoItem(TableFiles* files, Record* record, uint32_t item);
// Stores memo item `item` and puts its block number into the record
// buffer; mode 256 (the record exists) writes nothing for a value the
// host did not mark modified and replaces the field's present value.
int32_t WriteMemoItem(TableFiles* files, Record* record, uint32_t item,
                      uint16_t mode);

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_RECORD_TRANSFER_H_
