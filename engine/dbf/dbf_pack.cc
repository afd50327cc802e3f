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
//   4. old backup "<dir><base>.BAK" deleted; work file closed (date
//      stamped); data file closed
//   5. data file renamed to the backup, work file to the data file's name,
//      backup deleted -> on a failed rename the files are put back as far
//      as possible and the data file is reopened
//   6. reopened with its dialect and mode 0x600; *handle is the new handle
//      (-1 when that open fails)
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

struct PackNames {
  std::string backup;  // <dir><base with extension .BAK>
  std::string work;    // <dir><n>.DBF, a name that does not exist
};

PackNames MakePackNames(const std::string& name) {
  PackNames names;
  names.backup = WithExtension(name, ".BAK");
  names.work = FreeWorkName(DirectoryOf(name), ".DBF");
  return names;
}

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

  PackNames names = MakePackNames(file->name);
  int16_t work_handle = kKbdNoHandle;
  int16_t status = CopyLiveRecords(file, names.work, &work_handle);
  RunDespiteError([&] { UnlockDbfFile(file, 2); });
  if (status < 0) {
    RunDespiteError([&] {
      if (work_handle != kKbdNoHandle) FreeHandle(work_handle);
      FileDelete(names.work.c_str());
    });
    return StickyError();
  }

  DbfFile* work = CheckDbf(work_handle);
  FileCut(work->slot,
          static_cast<uint32_t>(work->header.header_size +
                                static_cast<uint64_t>(work->record_size()) *
                                    work->header.record_count));
  if (FileExists(names.backup.c_str())) {
    if (int16_t e = FileDelete(names.backup.c_str()); e < 0) return e;
  }
  if (int16_t e = CloseDbf(work_handle)) return e;
  std::string name = file->name;
  uint16_t mode = static_cast<uint16_t>(file->dialect | kKbdModeShared |
                                        kKbdModeOption);
  if (int16_t e = CloseDbf(*handle)) return e;
  *handle = kKbdNoHandle;

  if (FileRename(names.backup.c_str(), name.c_str()) != kKbdOk) {
    RunDespiteError([&] {
      FileDelete(names.work.c_str());
      OpenDbf(handle, name.c_str(), mode);
    });
    return StickyError();
  }
  if (FileRename(name.c_str(), names.work.c_str()) != kKbdOk) {
    RunDespiteError([&] {
      FileRename(name.c_str(), names.backup.c_str());
      OpenDbf(handle, name.c_str(), mode);
    });
    return StickyError();
  }
  FileDelete(names.backup.c_str());
  if (LastError() > 0) SetLastError(kKbdOk);  // warning 4: already gone
  return OpenDbf(handle, name.c_str(), mode);
}

}  // namespace
}  // namespace qx::engine

extern "C" int16_t kbddpack(int16_t* handle) {
  return qx::engine::RunOperation([&] { return qx::engine::PackDbf(handle); });
}
