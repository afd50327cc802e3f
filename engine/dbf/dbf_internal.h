// The control block of an open data file and the module's internal
// operations, shared by the files of engine/dbf/ and offered to the engine
// modules that work on a data file: the memo modules' pack (record access,
// file lock, changed flag), the key expression evaluator (field lookup and
// values) and the index builds (see also dbf_block_reader.h).
//
// None of these runs as a public operation: they obey the sticky last error
// as internal steps do (each returns at once when it is already negative)
// and set it at the point of failure.
//
// Invariants of an open DbfFile:
//  D1. record.size() == header.record_size + the end-of-file marker length
//      (1, or record_size in dialect 7); the marker bytes are always 0x1A,
//      so an append writes record and marker in one call.
//  D2. fields[i].offset == 1 + the sum of the lengths before i, and the last
//      field ends at header.record_size.
//  D3. locked_records.size() <= lock_capacity <= kDbfLockListLimit.
//  D4. slot is a file-layer slot while the file is open, kNoFileSlot after.
#ifndef QX_ENGINE_DBF_DBF_INTERNAL_H_
#define QX_ENGINE_DBF_DBF_INTERNAL_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/core/engine_state.h"
#include "engine/core/handle_table.h"
#include "engine/dbf/dbf_format.h"
#include "engine/fileio/file_layer.h"
#include "qx/engine.h"

namespace qx::engine {

// The record-lock list: 64 entries at open, growing by 100 up to 16384;
// record numbers locked beyond that stay locked but are not listed.
inline constexpr size_t kDbfLockListInitial = 64;
inline constexpr size_t kDbfLockListGrowth = 100;
inline constexpr size_t kDbfLockListLimit = 16384;

// One field of an open data file, as decoded and checked at open.
struct DbfField;

// How kbddget reads a field, chosen at open from its type, length and
// place (AssignFieldReaders): stores the value of the field at p, the
// current record's bytes, and ends the call; a value it cannot convert in
// its short way it leaves to the whole operation, run for handle and
// field_number. A public operation's tail.
using FieldReader = int16_t (*)(const uint8_t* p, const DbfField& field,
                                void* value, int16_t handle,
                                int16_t field_number);

// 32 bytes, so that a field is found by a shift (kbddget's short way);
// what only puts need lives in DbfFile::largest.
struct DbfField {
  // What a get reads first (one cache line holds two fields).
  FieldReader reader = nullptr;  // set by AssignFieldReaders
  uint16_t offset = 0;    // bytes from the record start (byte 0: deletion)
  uint16_t length = 0;    // bytes; C in dialects 4, 5, 6, 8 up to 65535
  int16_t null_bit = -1;  // VFP nullable: bit in _NullFlags, -1 none
  char type = 0;          // upper case
  uint8_t decimals = 0;
  char name[kDbfFieldNameSize] = {};  // upper case, NUL-terminated
  uint8_t flags = 0;                  // descriptor byte 18
  int16_t varlength_bit = -1;         // VFP V, Q: bit in _NullFlags, -1 none
};
static_assert(sizeof(DbfField) == 32);

struct DbfFile : ControlBlock {
  ~DbfFile() override;  // closes the system file when still open

  // What a record read and a get use, together at the start.
  uint16_t slot = kNoFileSlot;   // D4
  uint16_t file_flags = 0;       // kFileFlagReadOnly, kFileFlagShared
  uint8_t dialect = kKbdDbase3;  // 1..10; 9 also after a 0x0D slot
  uint32_t recno = 0;            // current record, 0 before the first read
  DbfHeader header;              // record_count kept current in memory
  std::vector<DbfField> fields;
  // The record buffer: record_size bytes, then the end-of-file marker
  // bytes (D1). Filled with blanks at open.
  std::vector<uint8_t> record;

  std::string name;             // as given to open
  std::vector<double> largest;  // per field; N, F: the largest value
  // Per field, Visual FoxPro autoincrement: the next value and step as
  // read at open (both 0 for the other fields and dialects).
  std::vector<uint32_t> next_values;
  std::vector<uint8_t> steps;
  uint16_t largest_length = 0;
  int16_t null_flags_field = -1;  // index of _NullFlags, -1 none
  bool has_memo = false;          // an M field outside dialect 10
  bool changed = false;           // set by writes; close then stamps the date
  bool unflushed = false;         // written since the last flush (sync off)
  bool defer_flush = false;       // flush only at close (pack's work file)
  bool copying = false;           // pack's work file: appends keep every value

  // Locks (D3). The current region is what the last lock call asked for.
  std::vector<uint32_t> locked_records;
  size_t lock_capacity = kDbfLockListInitial;
  uint32_t lock_offset = 0;
  uint32_t lock_length = 0;
  int16_t shared_slot = 0;  // mode 4: the slot s taken, 0 none
  uint8_t file_locks = 0;   // bit m - 1 set while file-lock mode m (1..3)
                            // is held

  // Block reader of the index builds: records [block_first, block_first +
  // block_count) are in block; records_per_block fixed at prepare.
  std::vector<uint8_t> block;
  uint32_t block_first = 0;
  uint32_t block_count = 0;
  uint32_t records_per_block = 0;

  bool read_only() const { return (file_flags & kFileFlagReadOnly) != 0; }
  uint16_t record_size() const { return header.record_size; }
  int16_t field_count() const { return static_cast<int16_t>(fields.size()); }
  // Whether number names a field (no negative number does).
  bool has_field(int16_t number) const {
    return static_cast<uint16_t>(number) < fields.size();
  }
  uint8_t* record_bytes() { return record.data(); }
  const uint8_t* field_bytes(const DbfField& f) const {
    return record.data() + f.offset;
  }
  uint8_t* field_bytes(const DbfField& f) { return record.data() + f.offset; }
};

// The control block of a DBF handle; null with -13 as the last error.
inline DbfFile* CheckDbf(int16_t handle) {
  return CheckHandleAs<DbfFile>(handle, kKbdKindDbf);
}

// Bodies of the public operations, for use inside other operations (pack).
int16_t OpenDbf(int16_t* handle, const char* name, uint16_t mode);
int16_t CloseDbf(int16_t handle);
int16_t CreateDbf(const char* name, int16_t field_count,
                  const KbdFieldDef* fields, uint16_t dialect);
// Creates an empty data file (closed) whose header is source's as on disk
// (fields, flags, code page mark, Visual FoxPro area and autoincrement
// counters) with no record and today's date: the work file of a Visual
// FoxPro pack.
int16_t CreateDbfLike(const DbfFile& source, const char* name);

// Closes a system file whatever the last error is, keeping that error,
// and sets *slot to kNoFileSlot; for cleanup paths.
void CloseSlotQuietly(uint16_t* slot);

// Byte offset of record recno (1-based); -4 when it lies beyond 4 GiB.
int16_t RecordOffset(const DbfFile& file, uint32_t recno, uint32_t* offset);

// Checks recno against the count, reading the count again from the header
// when recno is above it (another process may have appended): -4 when it
// is 0 or still above.
int16_t CheckRecno(DbfFile* file, uint32_t recno);
// Reads the record count from the header into memory.
int16_t RefreshRecordCount(DbfFile* file);

// Reads record recno into the record buffer and makes it current: 1 when
// it is marked deleted, -4 out of range, -2 short read.
int16_t ReadRecord(DbfFile* file, uint32_t recno);
// Writes the record buffer as record recno as it stands (no flag change),
// sets the changed flag and flushes by the sync rule. -36 read-only.
int16_t WriteRecord(DbfFile* file, uint32_t recno);
// Appends the record buffer (deletion flag set active): the record and its
// end-of-file marker, then the count; *recno gets the new number. Visual
// FoxPro autoincrement fields take their counters' values first. In a
// shared file the append holds the append lock (the byte of file-lock mode
// 1, unless this handle's file lock covers it already) and takes the
// record count from the header under it.
int16_t AppendRecord(DbfFile* file, uint32_t* recno);

// Visual FoxPro: gives the record buffer's autoincrement fields their
// counters' values and moves the counters on (see dbf_autoincrement.cc).
// REQUIRES: inside an append, holding the append lock of a shared file.
int16_t AssignAutoIncrements(DbfFile* file);

// The flush that follows every write: at once when writes are synced,
// otherwise noted for the next unlock or close.
int16_t FlushAfterWrite(DbfFile* file);
// Flushes a write noted by FlushAfterWrite.
int16_t FlushPending(DbfFile* file);

// File locks of modes 1..5 and their release (kbddlock, kbddunlock).
int16_t LockDbfFile(DbfFile* file, int16_t mode);
int16_t UnlockDbfFile(DbfFile* file, int16_t mode);

// Field lookup by name without regard to case: the field's index, or -1.
int16_t FindField(const DbfFile& file, std::string_view name);
// The stored form of field number from a value (kbddput's conversions); the
// number is valid.
int16_t PutFieldValue(DbfFile* file, int16_t number, const void* value);
// Chooses every field's reader; after the fields and null bits are known.
void AssignFieldReaders(DbfFile* file);
// Blank test of kbddisblank.
bool IsFieldBlank(const DbfFile& file, const DbfField& field);

// Field definition records of the file's fields (kbddfields); defs has
// room for field_count() records.
void DescribeFields(const DbfFile& file, KbdFieldDef* defs);

}  // namespace qx::engine

#endif  // QX_ENGINE_DBF_DBF_INTERNAL_H_
