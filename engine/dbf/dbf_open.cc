// Opening a data file with its validation, closing it with the header date
// stamp, the file description (kbddinfo), and the write-flush switch.
//
// Open checks, in order; the first failure ends the open, releases the
// handle and sets it to -1:
//   handle slot (-8) -> system file (-21, -14, -46) -> 32 header bytes (-2)
//   -> dialect (-12) and version byte (-18) -> header size remainder
//   (-19) -> MDX flag of dialects 2 and 8 (-35) -> descriptors (-2) ->
//   each field: name (-28), type (-18, -31), memo version (-18), numeric
//   width (-29) -> record size (-32) -> file size (warning 7, stays open).
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>

#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/core/open_mode.h"
#include "engine/dbf/dbf_internal.h"
#include "engine/fileio/operation_lock.h"
#include "engine/fileio/swap_journal.h"
#include "platform/platform.h"

namespace qx::engine {
namespace {

// Frees a handle taken by an open unless the open succeeded.
class HandleReleaser {
 public:
  explicit HandleReleaser(int16_t* handle) : handle_(handle) {}
  ~HandleReleaser() {
    if (handle_ == nullptr) return;
    FreeHandle(*handle_);
    *handle_ = kKbdNoHandle;
  }
  HandleReleaser(const HandleReleaser&) = delete;
  HandleReleaser& operator=(const HandleReleaser&) = delete;
  void Dismiss() { handle_ = nullptr; }

 private:
  int16_t* handle_;
};

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

bool IsOneOf(uint8_t dialect, std::initializer_list<uint8_t> set) {
  return std::find(set.begin(), set.end(), dialect) != set.end();
}

// The version bytes a dialect accepts (step 3 of the open): 0, -18 or -12.
int16_t CheckVersion(uint8_t dialect, const DbfHeader& h) {
  uint8_t v = h.version;
  switch (dialect) {
    case kKbdDbase3:
    case kKbdFoxbase:
    case kKbdClipper:
    case kKbdClipper5:
    case kKbdDbxl:
    case kKbdOmnis:
      // Visual Objects marks its ANSI tables with 0x04 in the version byte
      // (0x07, 0x87 with a DBT); the tables are dBASE III tables otherwise.
      return v == kDbfVersionPlain || v == kDbfVersionDbtMemo ||
                     v == kDbfVersionAnsiPlain || v == kDbfVersionAnsiDbtMemo
                 ? kKbdOk
                 : kKbdErrVersion;
    case kKbdDbase4:
      return v == kDbfVersionPlain || v == kDbfVersionDbtMemo ||
                     v == kDbfVersionDbase4Memo
                 ? kKbdOk
                 : kKbdErrVersion;
    case kKbdFoxpro1:
    case kKbdFoxpro2:
      return v == kDbfVersionPlain || v == kDbfVersionFptMemo ? kKbdOk
                                                              : kKbdErrVersion;
    case kKbdVisualFoxpro:
      if (v != kDbfVersionVfp && v != kDbfVersionVfpAutoIncrement &&
          v != kDbfVersionVfpVarchar && v != kDbfVersionFptMemo)
        return kKbdErrVersion;
      return h.header_size >= kDbfVfpMinHeaderSize ? kKbdOk : kKbdErrVersion;
    default:
      return kKbdErrCommand;
  }
}

bool IsCommonType(char t) { return std::strchr("CDNFLM", t) != nullptr; }
bool IsVfpOnlyType(char t) { return std::strchr("BGIPQTVWY", t) != nullptr; }
// Memo types whose block numbers live in the FPT file of a FoxPro table:
// FoxPro 2 writes general (G) fields as well as M.
bool IsFoxproMemoType(char t, uint8_t dialect) {
  return t == 'M' || (t == 'G' && dialect == kKbdFoxpro2);
}

// Step 7 for one descriptor: decodes it into *field and checks it.
int16_t DecodeField(const DbfDescriptor& d, uint8_t dialect, uint8_t version,
                    DbfField* field, bool* memo) {
  size_t name_length = d.NameLength();
  if (name_length > kDbfMaxFieldNameLength) return kKbdErrFieldName;
  for (size_t i = 0; i < name_length; ++i)
    field->name[i] = AsciiUpper(d.name[i]);
  field->name[name_length] = '\0';
  char type = AsciiUpper(static_cast<char>(d.type));
  field->type = type;
  field->flags = d.flags;
  bool vfp = dialect == kKbdVisualFoxpro;
  if (type == '\0' || (!IsCommonType(type) && !IsVfpOnlyType(type))) {
    // Visual FoxPro system columns (_NullFlags) may carry any type.
    if (!(vfp && (d.flags & kDbfFieldSystem))) return kKbdErrFieldType;
  } else if (IsVfpOnlyType(type) && !vfp && !IsFoxproMemoType(type, dialect)) {
    return kKbdErrVersion;
  }
  if (type == 'M' || (type == 'G' && !vfp)) {
    if (dialect == kKbdFoxpro1 || dialect == kKbdFoxpro2) {
      if (version != kDbfVersionFptMemo) return kKbdErrVersion;
    } else if (!vfp && version < kDbfVersionMemoBit) {
      return kKbdErrVersion;
    }
    if (!vfp) *memo = true;
  }
  bool wide_c = type == 'C' && IsOneOf(dialect, {kKbdFoxpro1, kKbdClipper,
                                                 kKbdClipper5, kKbdFoxpro2});
  field->length = wide_c ? d.WideLength() : d.length;
  field->decimals = wide_c ? 0 : d.decimals;
  if (type == 'N' || type == 'F') {
    uint16_t widest = IsOneOf(dialect, {kKbdDbase4, kKbdFoxpro1, kKbdFoxpro2,
                                        kKbdVisualFoxpro})
                          ? kDbfWidestNumberLong
                          : kDbfWidestNumber;
    if (field->length > widest) return kKbdErrFieldSize;
  }
  return kKbdOk;
}

// Numbers the varlength and null bits of a Visual FoxPro file's fields.
void AssignNullFlagBits(DbfFile* file) {
  for (int16_t i = file->field_count() - 1; i >= 0; --i) {
    if (kDbfNullFlagsName == file->fields[i].name) {
      file->null_flags_field = i;
      break;
    }
  }
  if (file->null_flags_field < 0) return;
  // Bits that fall past the end of the column are not kept.
  int bits = file->fields[file->null_flags_field].length * 8;
  int next = 0;
  for (DbfField& f : file->fields) {
    if (f.type == 'V' || f.type == 'Q') {
      if (next < bits) f.varlength_bit = static_cast<int16_t>(next);
      ++next;
    }
    if (f.flags & kDbfFieldNullable) {
      if (next < bits) f.null_bit = static_cast<int16_t>(next);
      ++next;
    }
  }
}

// How long an open waits for an append of another process before it
// leaves the size unjudged, in milliseconds: an append holds its lock for
// one record's writes.
constexpr uint32_t kOpenLockWaitMs = 200;

// Steps 2 to 10 of the open on a freshly allocated block.
int16_t LoadDbf(DbfFile* file, const char* name, uint16_t mode) {
  if (int16_t e = FileOpen(&file->slot, name, mode, &file->file_flags))
    return e;
  // Opened without sharing, the file changes only through this handle: its
  // records and header are read from memory once read.
  FileKeepBlocks(file->slot);
  uint8_t raw_header[kDbfHeaderSize];
  if (int16_t e = FileReadAt(file->slot, 0, raw_header, kDbfHeaderSize))
    return e;
  DbfHeader& h = file->header;
  h = DbfHeader::DecodeFrom(raw_header);
  if (int16_t e = CheckVersion(file->dialect, h)) return Fail(e);

  int32_t area = file->dialect == kKbdVisualFoxpro
                     ? static_cast<int32_t>(kDbfVfpAreaSize)
                     : 0;
  int32_t body = static_cast<int32_t>(h.header_size) - area -
                 static_cast<int32_t>(kDbfHeaderSize);
  if (body < 0 || body % kDbfDescriptorSize > 2) return Fail(kKbdErrHeaderSize);
  if (file->dialect == kKbdDbase4 || file->dialect == kKbdFoxpro2) {
    int8_t mdx = static_cast<int8_t>(h.mdx_flag);
    if (mdx != 0 && mdx != 1) return Fail(kKbdErrMdxFlag);
  }

  size_t count = static_cast<size_t>(body) / kDbfDescriptorSize;
  std::vector<uint8_t> raw(count * kDbfDescriptorSize);
  if (count > 0) {
    if (int16_t e = FileReadAt(file->slot, kDbfHeaderSize, raw.data(),
                               static_cast<uint32_t>(raw.size())))
      return e;
  }
  file->locked_records.reserve(kDbfLockListInitial);
  // A full descriptor slot starting with 0x0D is the Omnis terminator.
  if (count > 0 &&
      raw[(count - 1) * kDbfDescriptorSize] == kDbfHeaderTerminator) {
    --count;
    file->dialect = kKbdOmnis;
  }

  file->fields.resize(count);
  file->largest.assign(count, 0.0);
  file->next_values.assign(count, 0);
  file->steps.assign(count, 0);
  uint32_t running = 1;  // the deletion flag
  for (size_t i = 0; i < count; ++i) {
    auto bytes = std::span<const uint8_t, kDbfDescriptorSize>(
        raw.data() + i * kDbfDescriptorSize, kDbfDescriptorSize);
    DbfField& f = file->fields[i];
    DbfDescriptor d = DbfDescriptor::DecodeFrom(bytes);
    int16_t e = DecodeField(d, file->dialect, h.version, &f, &file->has_memo);
    if (e != kKbdOk) return Fail(e);
    if (file->dialect == kKbdVisualFoxpro &&
        (d.flags & kDbfFieldAutoIncrement) != 0) {
      file->next_values[i] = d.next_value;
      file->steps[i] = d.step;
    }
    f.offset = static_cast<uint16_t>(std::min<uint32_t>(running, UINT16_MAX));
    if (f.type == 'N' || f.type == 'F')
      file->largest[i] = LargestStorableNumber(f.length, f.decimals);
    running += f.length;
    file->largest_length = std::max(file->largest_length, f.length);
  }
  if (running != h.record_size) return Fail(kKbdErrRecordSize);
  if (file->dialect == kKbdVisualFoxpro) AssignNullFlagBits(file);
  AssignFieldReaders(file);

  // D1: the record, then the end-of-file marker bytes of an append.
  size_t marker = file->dialect == kKbdDbxl ? h.record_size : 1;
  file->record.assign(h.record_size + marker, kDbfEndOfFile);
  std::fill_n(file->record.begin(), h.record_size, ' ');
  file->name = name;

  // In a shared file another process's append may be half done (its
  // record written, the count not yet): the count and the size are read
  // again together under the append lock, taken shared, so that they agree
  // unless the file is damaged. When another handle keeps the lock longer
  // (a file lock of mode 1 or 2), the size is not judged.
  OperationLock append;
  if ((file->file_flags & kFileFlagShared) != 0) {
    int16_t e = append.Hold(file->slot, LockKind::kShared, kDbfLockMode1Offset,
                            kDbfLockMode1Length, kOpenLockWaitMs);
    if (e == kKbdErrLockViolation) {
      SetLastError(kKbdOk);
      return kKbdOk;
    }
    if (e != kKbdOk) return e;
    if (int16_t e2 = RefreshRecordCount(file)) return e2;
  }
  uint32_t size = 0;
  if (int16_t e = FileSize(file->slot, &size)) return e;
  uint64_t expected =
      h.header_size + static_cast<uint64_t>(h.record_size) * h.record_count;
  if (size != expected && size != expected + 1 &&
      size != expected + h.record_size)
    return kKbdBadFileSize;
  return kKbdOk;
}

}  // namespace

DbfFile::~DbfFile() { CloseSlotQuietly(&slot); }

void CloseSlotQuietly(uint16_t* slot) {
  if (*slot == kNoFileSlot || CurrentTask() == nullptr) return;
  int16_t saved = LastError();
  SetLastError(kKbdOk);
  FileClose(*slot);
  *slot = kNoFileSlot;
  SetLastError(saved);
}

int16_t FlushAfterWrite(DbfFile* file) {
  if (Engine().sync_writes && !file->defer_flush) return FileFlush(file->slot);
  file->unflushed = true;
  return kKbdOk;
}

int16_t FlushPending(DbfFile* file) {
  if (!file->unflushed) return kKbdOk;
  file->unflushed = false;
  return FileFlush(file->slot);
}

int16_t OpenDbf(int16_t* handle, const char* name, uint16_t mode) {
  DbfFile* file = nullptr;
  if (int16_t e = AllocateHandle(handle, kKbdKindDbf, &kbddclose, &file))
    return e;
  HandleReleaser releaser(handle);
  mode = NormalizeOpenMode(mode);
  file->dialect = DialectOf(mode);
  int16_t status = LoadDbf(file, name, mode);
  if (status < 0) return status;
  releaser.Dismiss();
  return status;
}

int16_t CloseDbf(int16_t handle) {
  DbfFile* file = CheckDbf(handle);
  if (file == nullptr) return kKbdErrHandle;
  int16_t status = kKbdOk;
  if (file->changed) {
    file->changed = false;
    platform::LocalDate today = platform::Today();
    file->header.update_year = static_cast<uint8_t>((today.year - 1900) & 0xFF);
    file->header.update_month = static_cast<uint8_t>(today.month);
    file->header.update_day = static_cast<uint8_t>(today.day);
    uint8_t stamp[kDbfUpdateDateSize] = {file->header.update_year,
                                         file->header.update_month,
                                         file->header.update_day};
    status = FileWriteAt(file->slot, kDbfUpdateDateOffset, stamp,
                         kDbfUpdateDateSize);
    // Closing flushes the file, whatever the sync setting.
    file->unflushed = false;
  }
  if (status == kKbdOk) status = FlushPending(file);
  if (status == kKbdOk) {
    status = FileClose(file->slot);
    file->slot = kNoFileSlot;
  }
  FreeHandle(handle);  // closes the system file if a step above failed
  return status;
}

}  // namespace qx::engine

using namespace qx::engine;

extern "C" int16_t kbddopenx(int16_t* handle, const char* name, uint16_t mode) {
  return RunOperation([&] {
    // A memo pack killed between patching this file and swapping its memo
    // file in is finished first (when no other handle has the file open).
    if (name != nullptr && *name != '\0')
      if (int16_t e = FinishSwapJournal(name)) return e;
    return OpenDbf(handle, name, mode);
  });
}

extern "C" int16_t kbddname(int16_t handle, char* name, uint16_t size) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (name == nullptr) return Fail(kKbdErrNullPointer);
    if (file->name.size() + 1 > size) return Fail(kKbdErrBufferOverflow);
    std::memcpy(name, file->name.c_str(), file->name.size() + 1);
    return kKbdOk;
  });
}

extern "C" int16_t kbddclose(int16_t handle) {
  return RunOperation([&] { return CloseDbf(handle); });
}

extern "C" int16_t kbddinfo(int16_t handle, KbdDbfInfo* info) {
  return RunOperation([&]() -> int16_t {
    DbfFile* file = CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    if (info == nullptr) return Fail(kKbdErrNullPointer);
    const DbfHeader& h = file->header;
    info->dialect = file->dialect;
    info->version = h.version;
    info->mdx_flag = h.mdx_flag;
    info->record_count = h.record_count;
    info->header_size = h.header_size;
    info->record_size = h.record_size;
    info->field_count = file->field_count();
    // A memo file is needed by any memo-pointer field, in Visual FoxPro too.
    bool memo = file->has_memo;
    for (const DbfField& f : file->fields)
      if (f.type != '\0' && std::strchr("MPGW", f.type) != nullptr) memo = true;
    info->has_memo = memo ? 1 : 0;
    info->update_year = static_cast<int16_t>(1900 + h.update_year);
    info->update_month = h.update_month;
    info->update_day = h.update_day;
    return kKbdOk;
  });
}

extern "C" int16_t kbdsetsync(int16_t on) {
  EngineState& engine = Engine();
  int16_t previous = engine.sync_writes ? 1 : 0;
  engine.sync_writes = on != 0;
  return previous;
}
