// Record transfer (see record_transfer.h).
//
// Divisions: engine forms; filling items; putting items; memo files and
// memo items.
#include "access/table/record_transfer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "access/adapter/code_pages.h"
#include "access/adapter/record_ops.h"
#include "access/connection/table_path.h"
#include "access/errors/error_context.h"
#include "engine/core/coding.h"
#include "framework/host_value.h"
#include "framework/names.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorOpenFile = 1001;
constexpr uint32_t kErrorReadField = 1017;
constexpr uint32_t kErrorFileAccess = 1019;
constexpr uint32_t kErrorNoFile = 1032;
constexpr uint32_t kErrorMemoValue = 1038;
constexpr uint32_t kErrorMemoRead = 1040;
constexpr uint32_t kErrorPutValue = 1045;
constexpr uint32_t kErrorMemoWrite = 1047;

constexpr uint32_t kUnitTransfer = 106;
constexpr uint32_t kSiteFill = 1;
constexpr uint32_t kSiteConvert = 2;
constexpr uint32_t kSitePut = 3;
constexpr uint32_t kSiteMemoOpen = 4;
constexpr uint32_t kSiteMemoRecord = 5;
constexpr uint32_t kSiteMemoRead = 6;
constexpr uint32_t kSiteMemoWrite = 7;
constexpr uint32_t kSiteMemoItem = 8;

// Descriptor flag of a nullable field (Visual FoxPro).
constexpr uint16_t kFieldNullable = 0x02;
// A text of this many bytes or more is always copied through the host's
// conversion when written: below it, the put works on a 4 KiB copy.
constexpr uint32_t kLongText = 4099;
constexpr size_t kPutArea = 4096;
// Work areas of a fill below this many bytes live on the stack.
constexpr size_t kLocalArea = 256;
// The engine writes a D value in the task's format: up to 10 characters.
constexpr size_t kDateTextRoom = 10;
// T values: YYYYMMDDHHMMSSmmm.
constexpr size_t kDateTimeText = 17;

enum class Form { kText, kFloat, kInteger, kLogical, kMemo, kBinary };

struct EngineForm {
  Form form;
  uint8_t value_type;  // the engine form's host value type (read)
};

char Upper(uint16_t type) {
  return static_cast<char>(type >= 'a' && type <= 'z' ? type - 0x20 : type);
}

EngineForm FormOf(char type, XbaseDialect dialect) {
  switch (type) {
    case 'N':
    case 'F':
    case 'Y':
      return {Form::kFloat, kValueDouble};
    case 'B':
      if (dialect == kKbdVisualFoxpro) return {Form::kFloat, kValueDouble};
      return {Form::kMemo, kValueInt32};
    case 'I':
      return {Form::kInteger, kValueInt32};
    case 'L':
      return {Form::kLogical, kValueBoolean};
    case 'M':
    case 'G':
    case 'P':
    case 'W':
      return {Form::kMemo, kValueInt32};
    case 'Q':
      return {Form::kBinary, kValueBinary};
    default:
      return {Form::kText, kValueText};
  }
}

bool IsUnicodeType(uint8_t type) {
  return type == kValueUnicodeText || type == kValueFixedUnicode ||
         type == kValueUnicodeMemo;
}

// Host value types a text form is taken as: the ANSI texts and the raw
// binaries, whose bytes are the text's own.
bool TakesTextAsIs(uint8_t type) {
  return type == kValueText || type == kValueFixedText ||
         type == kValueMemoText || type == kValueRawBinary ||
         type == kValueRawBinaryAlt;
}

bool HoldsText(const RecordItem& item) {
  return (item.flags & kRecordItemText) != 0 ||
         IsTextValueType(item.value_type);
}

// Whether an item's value needs the host's conversion from the form.
bool NeedsConversion(const RecordItem& item, char type, Form form) {
  switch (form) {
    case Form::kText:
      return !TakesTextAsIs(item.value_type);
    case Form::kFloat:
      return type == 'Y' || item.value_type != kValueDouble;
    case Form::kInteger:
      return item.value_type != kValueInt32;
    case Form::kLogical:
      return item.value_type != kValueBoolean;
    case Form::kMemo:
    case Form::kBinary:
      return false;
  }
  return false;
}

void Report(TableFiles* files, uint32_t id,
            std::vector<platform::MessageArg> args, uint32_t site,
            std::u16string_view item = u"",
            std::optional<int32_t> status = std::nullopt) {
  ErrorReport report;
  report.id = id;
  report.args = std::move(args);
  report.table = files->table;
  report.item = item;
  report.unit = kUnitTransfer;
  report.site = site;
  report.engine_status = status;
  ReportError(files->errors, report);
}

std::u16string_view NameOf(const RecordItem& item) {
  return framework::HostText(item.name);
}

// Copies bytes into the item, cut to its capacity; a text item keeps its
// NUL (two bytes for UTF-16) inside the capacity.
void CopyIntoItem(RecordItem* item, const void* bytes, size_t count,
                  bool text) {
  auto* out = static_cast<uint8_t*>(item->buffer);
  if (out == nullptr || item->capacity == 0) {
    item->length = 0;
    return;
  }
  size_t room = item->capacity;
  size_t terminator = 0;
  if (text) {
    terminator = IsUnicodeType(item->value_type) ? 2 : 1;
    room = room > terminator ? room - terminator : 0;
    if (terminator == 2) room &= ~size_t{1};
  }
  const size_t kept = std::min(count, room);
  if (kept > 0) std::memcpy(out, bytes, kept);
  for (size_t i = 0; i < terminator && kept + i < item->capacity; ++i) {
    out[kept + i] = 0;
  }
  item->length = static_cast<uint32_t>(kept);
}

// The HostValue a memo item holds in its buffer, or null when the item
// has no room for one.
HostValue* MemoValueOf(RecordItem* item) {
  if (item->buffer == nullptr || item->capacity < sizeof(HostValue))
    return nullptr;
  return static_cast<HostValue*>(item->buffer);
}

// Empties a memo item's value, keeping the item's type.
void EmptyMemoValue(RecordItem* item, HostValue* value) {
  framework::ReleaseHostValue(value);
  value->type = item->value_type;
  item->length = 0;
}

const FieldDescription* FieldOf(TableFiles* files, int32_t number) {
  if (number < 0 || number >= files->fields.count) return nullptr;
  return &files->fields.fields[static_cast<size_t>(number)];
}

// A work area of at least n bytes: on the stack below kLocalArea.
class WorkArea {
 public:
  explicit WorkArea(size_t n) {
    if (n > local_.size()) heap_.resize(n);
    data_ = n > local_.size() ? heap_.data() : local_.data();
  }
  char* data() { return data_; }

 private:
  std::array<char, kLocalArea> local_;
  std::vector<char> heap_;
  char* data_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Filling items

int32_t FillItem(TableFiles* files, RecordItem* item) {
  if ((item->flags & kRecordItemSkip) != 0 || item->field_number < 0) return 1;
  item->state &= static_cast<uint16_t>(~kRecordItemNull);
  const FieldDescription* field = FieldOf(files, item->field_number);
  if (field == nullptr) {
    Report(files, kErrorReadField,
           {platform::MessageArg::Text(NameOf(*item)),
            platform::MessageArg::Signed(kKbdErrFieldCount)},
           kSiteFill, NameOf(*item), kKbdErrFieldCount);
    return 0;
  }
  const char type = Upper(field->type);
  const EngineForm form = FormOf(type, files->dialect);
  if (form.form == Form::kMemo) {
    // A memo item is filled on the host's demand (ReadMemoItem); an item
    // bound otherwise receives the block number.
    if ((item->flags & kRecordItemMemo) != 0) {
      if (HostValue* value = MemoValueOf(item)) EmptyMemoValue(item, value);
      return 1;
    }
    uint32_t block = 0;
    const int32_t status =
        GetMemoBlock(files->handle, item->field_number, &block);
    if (status < 0) {
      Report(files, kErrorReadField,
             {platform::MessageArg::Text(NameOf(*item)),
              platform::MessageArg::Signed(status)},
             kSiteFill, NameOf(*item), status);
      return 0;
    }
    uint8_t bytes[4];
    engine::PutLe32(bytes, block);
    CopyIntoItem(item, bytes, sizeof bytes, false);
    return 1;
  }
  // Room for the engine's value: texts and their NUL, a date in any
  // format, a date-time's text, the 2-byte length of Q values.
  size_t room = field->length + size_t{3};
  room = std::max(room, std::max(kDateTextRoom, kDateTimeText) + 1);
  room = std::max(room, sizeof(double));
  WorkArea area(room);
  const int32_t status =
      GetField(files->handle, item->field_number, area.data());
  if (status < 0) {
    Report(files, kErrorReadField,
           {platform::MessageArg::Text(NameOf(*item)),
            platform::MessageArg::Signed(status)},
           kSiteFill, NameOf(*item), status);
    return 0;
  }
  bool null = false;
  if ((field->flags & kFieldNullable) != 0) {
    null = FieldBlankState(files->handle, item->field_number) == 2;
  }
  size_t count = 0;
  switch (form.form) {
    case Form::kText:
      count = type == 'C' ? field->length : std::strlen(area.data());
      OemToAnsi(area.data(), count, files->full_conversion);
      break;
    case Form::kFloat:
      count = sizeof(double);
      break;
    case Form::kInteger:
      count = sizeof(int32_t);
      break;
    case Form::kLogical:
      count = 1;
      if (area.data()[0] == '?') {
        null = true;
        area.data()[0] = 0;
      }
      break;
    case Form::kBinary:
      count = engine::GetLe16(reinterpret_cast<const uint8_t*>(area.data())) +
              size_t{2};
      break;
    case Form::kMemo:
      break;
  }
  if (null) item->state |= kRecordItemNull;
  if (!NeedsConversion(*item, type, form.form)) {
    CopyIntoItem(item, area.data(), count,
                 form.form == Form::kText && HoldsText(*item));
    return 1;
  }
  HostValue source;
  source.type = form.value_type;
  switch (form.form) {
    case Form::kText:
      source.size = static_cast<uint32_t>(count);
      source.data = area.data();
      break;
    case Form::kFloat:
      source.size = sizeof(double);
      std::memcpy(&source.fixed.f64, area.data(), sizeof(double));
      break;
    case Form::kInteger:
      source.size = sizeof(int32_t);
      std::memcpy(source.fixed.bytes, area.data(), sizeof(int32_t));
      break;
    default:
      source.size = 1;
      source.fixed.bytes[0] = static_cast<uint8_t>(area.data()[0]);
      break;
  }
  HostValue converted;
  converted.scale = item->scale;
  uint32_t result = 0;
  if (!framework::ConvertHostValue(source, item->value_type, &converted,
                                   &result)) {
    framework::ReleaseHostValue(&converted);
    Report(files, kErrorReadField,
           {platform::MessageArg::Text(NameOf(*item)),
            platform::MessageArg::Signed(result)},
           kSiteConvert, NameOf(*item));
    return 0;
  }
  if (IsVariableValueType(converted.type)) {
    CopyIntoItem(item, converted.data, converted.size, HoldsText(*item));
  } else {
    CopyIntoItem(item, converted.fixed.bytes, converted.size, false);
  }
  framework::ReleaseHostValue(&converted);
  return 1;
}

int32_t RefreshRecordState(TableFiles* files, Record* record,
                           int32_t known_deleted) {
  const int32_t deleted =
      known_deleted >= 0 ? known_deleted : IsDeletedRecord(files->handle);
  if (deleted != 0 && deleted != 1) return 0;
  const uint16_t state = deleted == 1 ? kRecordDeleted : kRecordActive;
  record->state = state;
  for (uint32_t i = 0; i < record->item_count; ++i) {
    RecordItem& item = record->items[i];
    item.state = static_cast<uint16_t>((item.state & kRecordItemNull) | state);
  }
  return 1;
}

int32_t FillItems(TableFiles* files, Record* record, int32_t known_deleted) {
  int32_t result = 1;
  for (uint32_t i = 0; i < record->item_count; ++i) {
    if (FillItem(files, &record->items[i]) != 1) result = 0;
  }
  if (RefreshRecordState(files, record, known_deleted) != 1) result = 0;
  return result;
}

// ---------------------------------------------------------------------------
// Putting items

int32_t PutItem(TableFiles* files, const RecordItem* item) {
  // An item of no length was not given, except a text: the empty text
  // blanks its field.
  if (item->buffer == nullptr) return 1;
  if (item->length == 0 && !IsTextValueType(item->value_type)) return 1;
  if ((item->flags & kRecordItemSkip) != 0) return 1;
  if ((item->flags & kRecordItemWritable) == 0) return 1;
  const FieldDescription* field = FieldOf(files, item->field_number);
  if (field == nullptr) return 1;
  const char type = Upper(field->type);
  const EngineForm form = FormOf(type, files->dialect);
  uint8_t target = form.value_type;
  if (form.form == Form::kLogical) target = kValueChar;
  const bool text = form.form == Form::kText;
  const bool as_is =
      text ? TakesTextAsIs(item->value_type) && item->length < kLongText
           : item->value_type == target;
  HostValue converted;
  std::vector<char> long_copy;
  std::array<char, kPutArea> area{};
  const void* value = item->buffer;
  if (!as_is) {
    HostValue source;
    source.type = item->value_type;
    source.size = item->length;
    if (IsVariableValueType(item->value_type)) {
      source.data = item->buffer;
    } else {
      std::memcpy(source.fixed.bytes, item->buffer,
                  std::min<size_t>(item->length, sizeof source.fixed.bytes));
    }
    uint32_t result = 0;
    if (!framework::ConvertHostValue(source, target, &converted, &result)) {
      framework::ReleaseHostValue(&converted);
      Report(files, kErrorPutValue, {platform::MessageArg::Text(NameOf(*item))},
             kSitePut, NameOf(*item));
      return 0;
    }
    value = IsVariableValueType(converted.type) ? converted.data
                                                : converted.fixed.bytes;
  }
  if (text) {
    // The engine takes a NUL-terminated text in the file's code page: a
    // copy, so that the host's buffer is never changed.
    const char* bytes = static_cast<const char*>(value);
    const size_t length = as_is ? item->length : converted.size;
    char* copy = area.data();
    if (length + 1 > area.size()) {
      long_copy.assign(length + 1, '\0');
      copy = long_copy.data();
    }
    std::memcpy(copy, bytes, length);
    copy[length] = '\0';
    AnsiToOem(copy, length, files->full_conversion);
    value = copy;
  }
  const int32_t status = PutField(files->handle, item->field_number, value);
  framework::ReleaseHostValue(&converted);
  if (status == kKbdOk || status == kKbdFieldTruncated ||
      status == kKbdNumberRounded)
    return 1;
  Report(files, kErrorPutValue, {platform::MessageArg::Text(NameOf(*item))},
         kSitePut, NameOf(*item), status);
  return 0;
}

// ---------------------------------------------------------------------------
// Memo files and memo items

uint16_t OpenMemoFile(TableFiles* files) {
  if (files->memo_handle != kNoMemoHandle) return files->memo_handle;
  files->memo_fpt = UsesFptMemo(files->dialect) != 0;
  files->memo_path = MemoFileName(files->dialect, files->path);
  if (files->memo_path.empty() || !TableFileExists(files->memo_path)) {
    Report(files, kErrorNoFile, {platform::MessageArg::Text(files->memo_path)},
           kSiteMemoOpen);
    return kNoMemoHandle;
  }
  uint16_t mode = kMemoOpenMode;
  if (files->read_only()) mode |= kModeReadOnly;
  if (!files->memo_fpt) mode |= DbtLayoutBits(files->version);
  uint16_t handle = kNoMemoHandle;
  const int32_t status =
      OpenMemo(files->memo_fpt, files->memo_path, &handle, mode);
  if (status < 0) {
    Report(files, kErrorOpenFile,
           {platform::MessageArg::Text(files->memo_path),
            platform::MessageArg::Signed(status)},
           kSiteMemoOpen, u"", status);
    return kNoMemoHandle;
  }
  files->memo_handle = handle;
  return handle;
}

void CloseMemoFile(TableFiles* files) {
  if (files->memo_handle == kNoMemoHandle) return;
  CloseMemo(files->memo_fpt, files->memo_handle);
  files->memo_handle = kNoMemoHandle;
}

int32_t ReadMemoItem(TableFiles* files, Record* record, uint32_t index) {
  if (record == nullptr || index >= record->item_count) return 0;
  RecordItem* item = &record->items[index];
  if (record->recno < 1) return 0;
  HostValue* value = MemoValueOf(item);
  const FieldDescription* field = FieldOf(files, item->field_number);
  if (value == nullptr || field == nullptr ||
      FormOf(Upper(field->type), files->dialect).form != Form::kMemo) {
    Report(files, kErrorMemoValue, {platform::MessageArg::Text(NameOf(*item))},
           kSiteMemoItem, NameOf(*item));
    return 0;
  }
  if (files->current_recno != record->recno) {
    const int32_t status = ReadRecord(files->handle, record->recno);
    if (status != kKbdOk && status != kKbdDeletedRecord) {
      Report(files, kErrorFileAccess,
             {platform::MessageArg::Text(files->memo_path)}, kSiteMemoRecord,
             NameOf(*item), status);
      return 0;
    }
    files->current_recno = record->recno;
  }
  const uint16_t memo = OpenMemoFile(files);
  if (memo == kNoMemoHandle) return 0;
  MemoText text;
  const int32_t status =
      ReadMemo(files->memo_fpt, files->handle, memo, item->field_number, &text);
  if (status < 0) {
    Report(files, kErrorMemoRead,
           {platform::MessageArg::Signed(record->recno),
            platform::MessageArg::Text(files->memo_path)},
           kSiteMemoRead, NameOf(*item), status);
    return 0;
  }
  EmptyMemoValue(item, value);
  if (!text.present()) return 1;
  const char type = Upper(field->type);
  const bool binary = type != 'M' || text.type() == kFptPicture;
  std::string bytes(text.bytes());
  HostValue source;
  if (binary) {
    source.type = kValueBinary;
  } else {
    OemToAnsi(bytes.data(), bytes.size(), files->full_conversion);
    source.type = kValueText;
  }
  source.size = static_cast<uint32_t>(bytes.size());
  source.data = bytes.data();
  const uint8_t target =
      binary ? uint8_t{kValueBinary}
             : (item->value_type == kValueNone ? uint8_t{kValueUnicodeText}
                                               : item->value_type);
  HostValue converted;
  uint32_t result = 0;
  if (!framework::ConvertHostValue(source, target, &converted, &result)) {
    framework::ReleaseHostValue(&converted);
    Report(files, kErrorMemoValue, {platform::MessageArg::Text(NameOf(*item))},
           kSiteMemoItem, NameOf(*item));
    return 0;
  }
  *value = converted;
  item->length = converted.size;
  return 1;
}

int32_t WriteMemoItem(TableFiles* files, Record* record, uint32_t index,
                      uint16_t mode) {
  if (record == nullptr || index >= record->item_count) return 0;
  RecordItem* item = &record->items[index];
  HostValue* value = MemoValueOf(item);
  if (value == nullptr) {
    Report(files, kErrorMemoValue, {platform::MessageArg::Text(NameOf(*item))},
           kSiteMemoItem, NameOf(*item));
    return 0;
  }
  if (mode == kWriteModeRewrite && (value->state & kValueStateModified) == 0)
    return 1;
  const uint16_t memo = OpenMemoFile(files);
  if (memo == kNoMemoHandle) return 0;
  std::string bytes;
  uint32_t fpt_type = kFptText;
  const bool empty = value->type == kValueNone || value->type == kValueNull ||
                     (value->state & kValueStateNull) != 0 || value->size == 0;
  if (!empty) {
    if (value->type == kValueBinary || value->type == kValueRawBinary ||
        value->type == kValueRawBinaryAlt) {
      bytes.assign(static_cast<const char*>(value->data), value->size);
      fpt_type = kFptPicture;
    } else if (TakesTextAsIs(value->type)) {
      bytes.assign(static_cast<const char*>(value->data), value->size);
    } else {
      HostValue converted;
      uint32_t result = 0;
      if (!framework::ConvertHostValue(*value, kValueText, &converted,
                                       &result)) {
        framework::ReleaseHostValue(&converted);
        Report(files, kErrorMemoWrite, {}, kSiteMemoWrite, NameOf(*item));
        return 0;
      }
      bytes.assign(static_cast<const char*>(converted.data), converted.size);
      framework::ReleaseHostValue(&converted);
    }
    if (fpt_type == kFptText)
      AnsiToOem(bytes.data(), bytes.size(), files->full_conversion);
  }
  uint32_t block = 0;
  int32_t status = 0;
  if (mode == kWriteModeRewrite) {
    status = GetMemoBlock(files->handle, item->field_number, &block);
  }
  if (status >= 0) {
    status = WriteMemo(files->memo_fpt, memo, &block, bytes, mode, fpt_type);
  }
  if (status >= 0)
    status = SetMemoBlock(files->handle, item->field_number, block);
  if (status < 0) {
    Report(files, kErrorMemoWrite, {}, kSiteMemoWrite, NameOf(*item), status);
    return 0;
  }
  return 1;
}

}  // namespace qx::access
