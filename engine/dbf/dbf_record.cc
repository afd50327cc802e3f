// Records by number: read, rewrite, append, delete and recall, the record
// count and number, direct access to the record buffer, and the field
// descriptions.
//
// Every record transfer is one positioned system call: a read fetches the
// whole record; an append writes the record and the end-of-file marker that
// follows it in one call (they are contiguous in the record buffer, D1) and
// then the new count into the header. The count is kept in memory and read
// again from the header only when a record number lies above it, a file
// lock is taken, or (in a shared file) an append takes the append lock.
#include <cstring>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"
#include "engine/fileio/operation_lock.h"

namespace qx::engine {
namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

// Reads recno from disk and sets its deletion flag (delete, recall).
int16_t SetDeletionFlag(int16_t handle, uint32_t recno, uint8_t flag) {
  DbfFile* file = CheckDbf(handle);
  if (file == nullptr) return kKbdErrHandle;
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  int16_t status = ReadRecord(file, recno);
  if (status < 0) return status;
  file->changed = true;
  if (file->record[kDbfDeletionFlagOffset] == flag) return kKbdOk;
  file->record[kDbfDeletionFlagOffset] = flag;
  return WriteRecord(file, recno);
}

}  // namespace

int16_t RecordOffset(const DbfFile& file, uint32_t recno, uint32_t* offset) {
  uint64_t at = file.header.header_size +
                static_cast<uint64_t>(recno - 1) * file.record_size();
  if (recno == 0 || at + file.record.size() > UINT32_MAX)
    return Fail(kKbdErrSeek);
  *offset = static_cast<uint32_t>(at);
  return kKbdOk;
}

int16_t RefreshRecordCount(DbfFile* file) {
  uint8_t count[kDbfRecordCountSize];
  if (int16_t e = FileReadAt(file->slot, kDbfRecordCountOffset, count,
                             kDbfRecordCountSize))
    return e;
  file->header.record_count = GetLe32(count);
  return kKbdOk;
}

int16_t CheckRecno(DbfFile* file, uint32_t recno) {
  if (recno == 0) return Fail(kKbdErrSeek);
  if (recno <= file->header.record_count) return kKbdOk;
  if (int16_t e = RefreshRecordCount(file)) return e;
  if (recno > file->header.record_count) return Fail(kKbdErrSeek);
  return kKbdOk;
}

namespace {

// The usual record read, without a check that cannot fail here: a record
// within the count in memory, read in one call. False, with nothing set,
// when ReadRecord must run (a number beyond the count, which another
// process may have appended, or a failed read, which it repeats and
// reports). Inline in kbddread: one call less between a scan's reads.
[[gnu::always_inline]] inline bool ReadRecordQuickly(DbfFile* file,
                                                     uint32_t recno) {
  if (recno - 1 >= file->header.record_count) return false;  // 0 wraps
  uint64_t at =
      file->header.header_size + uint64_t{recno - 1} * file->record_size();
  // From kept blocks when the file is open without sharing.
  if (at + file->record.size() > UINT32_MAX ||
      !FileProbeAt(file->slot, static_cast<uint32_t>(at), file->record.data(),
                   file->record_size()))
    return false;
  Engine().last_os_error = 0;
  file->recno = recno;
  return true;
}

int16_t DeletionStatus(const DbfFile& file) {
  return file.record[kDbfDeletionFlagOffset] == kDbfDeletedFlag
             ? kKbdDeletedRecord
             : kKbdOk;
}

}  // namespace

int16_t ReadRecord(DbfFile* file, uint32_t recno) {
  if (int16_t e = CheckRecno(file, recno)) return e;
  uint32_t offset = 0;
  if (int16_t e = RecordOffset(*file, recno, &offset)) return e;
  if (int16_t e = FileReadAt(file->slot, offset, file->record.data(),
                             file->record_size()))
    return e;
  file->recno = recno;
  return DeletionStatus(*file);
}

int16_t WriteRecord(DbfFile* file, uint32_t recno) {
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  uint32_t offset = 0;
  if (int16_t e = RecordOffset(*file, recno, &offset)) return e;
  if (int16_t e = FileWriteAt(file->slot, offset, file->record.data(),
                              file->record_size()))
    return e;
  file->changed = true;
  file->recno = recno;
  return FlushAfterWrite(file);
}

int16_t AppendRecord(DbfFile* file, uint32_t* recno) {
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  // Appends of processes sharing the file take turns: each reads the
  // count under the append lock, so no two write the same record.
  OperationLock append_lock;
  constexpr uint8_t kCoveringModes = 0x01 | 0x02;  // modes 1 and 2
  if ((file->file_flags & kFileFlagShared) != 0 &&
      (file->file_locks & kCoveringModes) == 0) {
    if (int16_t e = append_lock.Hold(file->slot, LockKind::kExclusive,
                                     kDbfLockMode1Offset, kDbfLockMode1Length))
      return e;
    if (int16_t e = RefreshRecordCount(file)) return e;
  }
  uint32_t next = file->header.record_count + 1;
  if (next == 0) return Fail(kKbdErrSeek);
  uint32_t offset = 0;
  if (int16_t e = RecordOffset(*file, next, &offset)) return e;
  if (int16_t e = AssignAutoIncrements(file)) return e;
  file->record[kDbfDeletionFlagOffset] = kDbfActiveFlag;
  // D1: record and end-of-file marker in one write.
  if (int16_t e = FileWriteAt(file->slot, offset, file->record.data(),
                              static_cast<uint32_t>(file->record.size())))
    return e;
  uint8_t count[kDbfRecordCountSize];
  PutLe32(count, next);
  if (int16_t e = FileWriteAt(file->slot, kDbfRecordCountOffset, count,
                              kDbfRecordCountSize))
    return e;
  file->header.record_count = next;
  file->changed = true;
  file->recno = next;
  *recno = next;
  return FlushAfterWrite(file);
}

int16_t FindField(const DbfFile& file, std::string_view name) {
  for (int16_t i = 0; i < file.field_count(); ++i) {
    const char* field = file.fields[i].name;
    if (std::strlen(field) != name.size()) continue;
    size_t k = 0;
    while (k < name.size() && AsciiUpper(name[k]) == field[k]) ++k;
    if (k == name.size()) return i;
  }
  return -1;
}

void DescribeFields(const DbfFile& file, KbdFieldDef* defs) {
  for (size_t i = 0; i < file.fields.size(); ++i) {
    const DbfField& f = file.fields[i];
    KbdFieldDef& d = defs[i];
    d = KbdFieldDef{};
    std::memcpy(d.name, f.name, std::strlen(f.name) + 1);
    d.type = static_cast<uint8_t>(f.type);
    d.length = f.length;
    d.decimals = f.decimals;
    d.flags = f.flags;
    d.next_value = file.next_values[i];
    d.step = file.steps[i];
  }
}

}  // namespace qx::engine

using namespace qx::engine;

namespace {

// kbddread in full: every check.
[[gnu::noinline, gnu::cold]] int16_t ReadInFull(int16_t handle,
                                                uint32_t recno) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    return ReadRecord(file, recno);
  });
}

}  // namespace

extern "C" [[gnu::hot]] int16_t kbddread(int16_t handle, uint32_t recno) {
  // The short way: a valid handle and the usual read. Anything else runs
  // in full, checking everything.
  if (TaskRecord* task = TaskOfShortWay()) {
    auto* file =
        static_cast<DbfFile*>(ShortWayHandle(task, handle, kKbdKindDbf));
    if (file != nullptr && ReadRecordQuickly(file, recno))
      return EndShortWay(task, DeletionStatus(*file));
  }
  return ReadInFull(handle, recno);
}

extern "C" int16_t kbddwrite(int16_t handle, uint32_t* recno, uint16_t mode) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (recno == nullptr) return Fail(kKbdErrNullPointer);
    if (mode != kKbdWriteAppend && mode != kKbdWriteRewrite)
      return Fail(kKbdErrCommand);
    if (file->read_only()) return Fail(kKbdErrReadOnly);
    if (mode == kKbdWriteAppend) return AppendRecord(file, recno);
    // A rewrite stays within the records that exist: never leave a gap.
    if (int16_t e = CheckRecno(file, *recno)) return e;
    file->record[kDbfDeletionFlagOffset] = kDbfActiveFlag;
    return WriteRecord(file, *recno);
  });
}

extern "C" int16_t kbdddelete(int16_t handle, uint32_t recno) {
  return RunOperation(
      [&] { return SetDeletionFlag(handle, recno, kDbfDeletedFlag); });
}

extern "C" int16_t kbddrecall(int16_t handle, uint32_t recno) {
  return RunOperation(
      [&] { return SetDeletionFlag(handle, recno, kDbfActiveFlag); });
}

extern "C" int16_t kbddisdeleted(int16_t handle) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    return file->record[kDbfDeletionFlagOffset] == kDbfDeletedFlag ? 1 : 0;
  });
}

extern "C" int16_t kbddreccount(int16_t handle, uint32_t* count) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (count == nullptr) return Fail(kKbdErrNullPointer);
    *count = file->header.record_count;
    return kKbdOk;
  });
}

extern "C" int16_t kbddrecno(int16_t handle, uint32_t* recno) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (recno == nullptr) return Fail(kKbdErrNullPointer);
    *recno = file->recno;
    return kKbdOk;
  });
}

extern "C" int16_t kbddrecinfo(int16_t handle, uint8_t** buffer,
                               uint16_t* record_size, int16_t* field_count) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (buffer == nullptr || record_size == nullptr || field_count == nullptr)
      return Fail(kKbdErrNullPointer);
    *buffer = file->record.data();
    *record_size = file->record_size();
    *field_count = file->field_count();
    return kKbdOk;
  });
}

extern "C" int16_t kbddfields(int16_t handle, uint16_t* largest_length,
                              KbdFieldDef* fields) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (largest_length == nullptr || fields == nullptr)
      return Fail(kKbdErrNullPointer);
    *largest_length = file->largest_length;
    DescribeFields(*file, fields);
    return kKbdOk;
  });
}

extern "C" int16_t kbddfieldno(int16_t handle, int16_t* number,
                               const char* name) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (number == nullptr || name == nullptr) return Fail(kKbdErrNullPointer);
    int16_t found = FindField(*file, name);
    if (found < 0) {
      *number = file->field_count();
      return Fail(kKbdErrFieldName);
    }
    *number = found;
    return kKbdOk;
  });
}
