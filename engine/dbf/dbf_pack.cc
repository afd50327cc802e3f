// Packing a data file (kbddpack): the live records are copied in record
// order into a work file beside it, which then takes the data file's name,
// and the file is opened again, shared.
//
// Steps and what a failure leaves:
//   1. file lock mode 2 on the data file          -> nothing changed
//   2. work file "<dir><n>.DBF", first free n; created with the same
//      fields and dialect, every live record appended -> work file deleted,
//      data file untouched and still open
//   3. lock released; work file cut to header + records (no 0x1A at the end)
//   4. work file closed (date stamped, flushed); data file closed
//   5. the work file takes the data file's name in one replacing rename
//      -> on failure the work file is deleted and the data file reopened
//   6. reopened with its dialect and mode 0x600; *handle is the new handle
//      (-1 when that open fails)
// Until step 5 the table is untouched under its name, and step 5 swaps
// the whole packed file in at once: a process killed at any point, or a
// failure, leaves either the old table or the packed one, never neither.
// Memo files are packed by their own modules.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"
#include "engine/fileio/file_names.h"

namespace qx::engine {
namespace {

// Step 2: creates the work file and appends every live record to it. A
// Visual FoxPro table's work file takes its header as it stands: the
// database container's backlink, the table flags, the code page mark and
// the autoincrement counters belong to the table, not to its fields.
int16_t CopyLiveRecords(DbfFile* file, const std::string& work,
                        int16_t* work_handle) {
  if (file->dialect == kKbdVisualFoxpro) {
    if (int16_t e = CreateDbfLike(*file, work.c_str())) return e;
  } else {
    std::vector<KbdFieldDef> defs(file->fields.size());
    DescribeFields(*file, defs.data());
    if (int16_t e = CreateDbf(work.c_str(), file->field_count(), defs.data(),
                              file->dialect))
      return e;
  }
  int16_t status = OpenDbf(work_handle, work.c_str(), file->dialect);
  if (status < 0) return status;
  DbfFile* out = CheckDbf(*work_handle);
  // Nobody sees the work file before it is renamed: one flush at close.
  out->defer_flush = true;
  out->copying = true;  // records keep their autoincrement numbers
  uint32_t count = file->header.record_count;
  for (uint32_t recno = 1; recno <= count; ++recno) {
    status = ReadRecord(file, recno);
    if (status < 0) return status;
    if (status == kKbdDeletedRecord) continue;
    std::copy_n(file->record.begin(), file->record_size(), out->record.begin());
    uint32_t appended = 0;
    if (int16_t e = AppendRecord(out, &appended)) return e;
  }
  return kKbdOk;
}

int16_t PackDbf(int16_t* handle) {
  if (handle == nullptr) return Fail(kKbdErrNullPointer);
  DbfFile* file = CheckDbf(*handle);
  if (file == nullptr) return kKbdErrHandle;
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  if (int16_t e = LockDbfFile(file, 2)) return e;

  // <dir><n>.DBF, a name that does not exist.
  const std::string work_name = FreeWorkName(DirectoryOf(file->name), ".DBF");
  int16_t work_handle = kKbdNoHandle;
  int16_t status = CopyLiveRecords(file, work_name, &work_handle);
  RunDespiteError([&] { UnlockDbfFile(file, 2); });
  if (status < 0) {
    RunDespiteError([&] {
      if (work_handle != kKbdNoHandle) FreeHandle(work_handle);
      FileDelete(work_name.c_str());
    });
    return StickyError();
  }

  DbfFile* work = CheckDbf(work_handle);
  FileCut(work->slot,
          static_cast<uint32_t>(work->header.header_size +
                                static_cast<uint64_t>(work->record_size()) *
                                    work->header.record_count));
  if (int16_t e = CloseDbf(work_handle)) {
    RunDespiteError([&] { FileDelete(work_name.c_str()); });
    return e;
  }
  std::string name = file->name;
  uint16_t mode =
      static_cast<uint16_t>(file->dialect | kKbdModeShared | kKbdModeOption);
  if (int16_t e = CloseDbf(*handle)) return e;
  *handle = kKbdNoHandle;

  if (FileReplace(name.c_str(), work_name.c_str()) != kKbdOk) {
    RunDespiteError([&] {
      FileDelete(work_name.c_str());
      OpenDbf(handle, name.c_str(), mode);
    });
    return StickyError();
  }
  return OpenDbf(handle, name.c_str(), mode);
}

}  // namespace
}  // namespace qx::engine

extern "C" int16_t kbddpack(int16_t* handle) {
  return qx::engine::RunOperation([&] { return qx::engine::PackDbf(handle); });
}
