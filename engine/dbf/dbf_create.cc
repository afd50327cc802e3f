// Creating an empty data file from field definitions (kbddcreate): the
// limits of each dialect, the version byte that memo fields ask for, the
// header terminator of the dialect, and the Visual FoxPro table with its
// field flags and hidden _NullFlags column. The new file is closed, not
// opened. Also the work file of a Visual FoxPro pack, made from the
// header of the table packed.
//
// Checks, in order: null name or definitions (-21); field count below 1
// (-27); dialect outside 1..10 (-18); too many fields for the dialect
// (-27); then each definition: name (-28), type and, in Visual FoxPro, its
// flags (-31), length (-29), decimals (-30), running record size (-32, not
// in Visual FoxPro, whose fields cannot reach its limit); in Visual FoxPro
// at last the _NullFlags column: one more field past 255 (-27), a column
// given by the caller too short for its bits (-29).
#include <algorithm>
#include <string_view>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"
#include "platform/platform.h"

namespace qx::engine {
namespace {

// Bytes of a field definition name area.
constexpr size_t kDefinitionNameSize = sizeof(KbdFieldDef::name);

// Visual FoxPro's limits: 255 fields, the _NullFlags column included, of
// at most 254 bytes each, so that no record reaches its limit of 65500
// bytes.
constexpr int kVfpMaxFieldCount = 255;
constexpr uint16_t kVfpWidestText = 254;
static_assert(kVfpMaxFieldCount * kVfpWidestText + 1 <= 65500);
// The decimals a B field may keep, and the ones every Y field has.
constexpr uint16_t kVfpMaxDoubleDecimals = 18;
constexpr uint8_t kVfpCurrencyDecimals = 4;
// The autoincrement defaults of a definition whose step is 0.
constexpr uint32_t kDefaultNextValue = 1;
constexpr uint8_t kDefaultStep = 1;
constexpr uint16_t kLargestStep = 0xFF;  // one descriptor byte

// A new file's header fields and descriptors, as the definitions give them.
struct NewTable {
  std::vector<DbfDescriptor> descriptors;
  uint8_t version = kDbfVersionPlain;
  uint8_t table_flags = 0;   // header byte 28
  uint32_t record_size = 1;  // the deletion flag
};

// The largest field count a dialect's files may have.
int MaxFieldCount(uint16_t dialect) {
  switch (dialect) {
    case kKbdDbase4:
    case kKbdFoxpro2:
      return 255;
    case kKbdClipper:
    case kKbdClipper5:
      return 1023;
    case kKbdDbxl:
      return 512;
    case kKbdVisualFoxpro:
      return kVfpMaxFieldCount;
    default:
      return 128;  // 1, 3, 4, 9
  }
}

bool AllowsFloat(uint16_t dialect) {
  return dialect == kKbdDbase4 || dialect == kKbdFoxpro1 ||
         dialect == kKbdFoxpro2 || dialect == kKbdVisualFoxpro;
}

uint8_t MemoVersion(uint16_t dialect) {
  switch (dialect) {
    case kKbdDbase4:
      return kDbfVersionDbase4Memo;
    case kKbdFoxpro1:
    case kKbdFoxpro2:
      return kDbfVersionFptMemo;
    default:
      return kDbfVersionDbtMemo;
  }
}

char AsciiUpper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The name of a definition, upper case, into d; -28 when it is empty or
// longer than 10 characters.
int16_t CopyName(const KbdFieldDef& def, DbfDescriptor* d) {
  size_t name_length = static_cast<size_t>(
      std::find(def.name, def.name + kDefinitionNameSize, '\0') - def.name);
  if (name_length == 0 || name_length > kDbfMaxFieldNameLength)
    return kKbdErrFieldName;
  for (size_t i = 0; i < name_length; ++i) d->name[i] = AsciiUpper(def.name[i]);
  return kKbdOk;
}

// The type letter in upper case; -31 for a word that is no byte.
int16_t TypeOf(const KbdFieldDef& def, char* type) {
  if (def.type > 0xFF) return kKbdErrFieldType;
  *type = AsciiUpper(static_cast<char>(def.type));
  return kKbdOk;
}

// N and F (F only where the dialect has it): -29 length, -30 decimals.
int16_t CheckNumber(const KbdFieldDef& def, uint16_t dialect) {
  uint16_t widest =
      AllowsFloat(dialect) ? kDbfWidestNumberLong : kDbfWidestNumber;
  if (def.length < 1 || def.length > widest) return kKbdErrFieldSize;
  // A fraction needs room for the point and one digit before it.
  if (def.decimals != 0 && def.decimals + 2 > def.length)
    return kKbdErrDecimals;
  if (!AllowsFloat(dialect) && def.decimals > 15) return kKbdErrDecimals;
  return kKbdOk;
}

// Stores length and decimals in the descriptor; byte 17 holds the
// length's high byte for C, the decimals otherwise.
void SetLength(char type, uint16_t length, uint8_t decimals, DbfDescriptor* d) {
  uint8_t wide[2];
  PutLe16(wide, length);
  d->length = wide[0];
  d->decimals = type == 'C' ? wide[1] : decimals;
}

// Dialects 1..9: checks one definition and fills its descriptor; the
// table's version and record size follow the field. The flags and the
// autoincrement words of the definition are not used.
int16_t BuildDescriptor(const KbdFieldDef& def, uint16_t dialect,
                        DbfDescriptor* d, NewTable* table) {
  if (int16_t e = CopyName(def, d)) return e;
  char type = 0;
  if (int16_t e = TypeOf(def, &type)) return e;
  uint16_t length = 0;
  uint8_t decimals = 0;
  switch (type) {
    case 'C': {
      uint16_t widest = dialect == kKbdClipper5 ? 2048 : 254;
      if (def.length < 1 || def.length > widest) return kKbdErrFieldSize;
      length = def.length;
      break;
    }
    case 'D':
      length = 8;
      break;
    case 'L':
      length = 1;
      break;
    case 'M':
      length = 10;
      table->version = MemoVersion(dialect);
      break;
    case 'F':
      if (!AllowsFloat(dialect)) return kKbdErrFieldType;
      [[fallthrough]];
    case 'N':
      if (int16_t e = CheckNumber(def, dialect)) return e;
      length = def.length;
      decimals = static_cast<uint8_t>(def.decimals);
      break;
    default:
      return kKbdErrFieldType;
  }
  d->type = static_cast<uint8_t>(type);
  SetLength(type, length, decimals, d);
  table->record_size += length;
  uint32_t limit = dialect == kKbdClipper5 ? 8192 : 4000;
  if (table->record_size > limit) return kKbdErrRecordSize;
  return kKbdOk;
}

// What a Visual FoxPro field type allows: the flags a definition may ask
// for, and those its descriptor always has.
struct VfpTypeRule {
  uint8_t allowed;
  uint8_t always;
};

// False for a type Visual FoxPro tables are not created with.
bool VfpRule(char type, VfpTypeRule* rule) {
  constexpr uint8_t kNull = kDbfFieldNullable;
  constexpr uint8_t kBin = kDbfFieldBinary;
  switch (type) {
    case 'C':
    case 'V':
    case 'M':
    case 'G':
      *rule = {kNull | kBin, 0};
      return true;
    case 'B':
    case 'Y':
    case 'T':
    case 'W':
    case 'Q':
      *rule = {kNull | kBin, kBin};
      return true;
    case 'I':
      *rule = {kNull | kBin | kDbfFieldAutoIncrement, kBin};
      return true;
    case 'D':
    case 'L':
    case 'N':
    case 'F':
      *rule = {kNull, 0};
      return true;
    default:
      return false;
  }
}

// Visual FoxPro: the _NullFlags column the caller may give among the
// definitions (as a pack or a copied structure does).
bool IsNullFlagsName(const DbfDescriptor& d) {
  std::string_view name(d.name.data(), d.NameLength());
  return name == kDbfNullFlagsName;
}

void SetStoredNullFlagsName(DbfDescriptor* d) {
  d->name.fill('\0');
  std::copy(kDbfNullFlagsStoredName.begin(), kDbfNullFlagsStoredName.end(),
            d->name.begin());
}

// Visual FoxPro: checks the definition of the system column _NullFlags.
int16_t BuildNullFlagsColumn(const KbdFieldDef& def, char type,
                             DbfDescriptor* d) {
  constexpr uint8_t kAllowed = kDbfFieldSystem | kDbfFieldBinary;
  if (!IsNullFlagsName(*d)) return kKbdErrFieldName;
  if (type != static_cast<char>(kDbfNullFlagsType) ||
      (def.flags & ~kAllowed) != 0)
    return kKbdErrFieldType;
  if (def.length < 1 || def.length > kVfpWidestText) return kKbdErrFieldSize;
  SetStoredNullFlagsName(d);
  d->type = kDbfNullFlagsType;
  d->length = static_cast<uint8_t>(def.length);
  d->flags = static_cast<uint8_t>(def.flags);
  return kKbdOk;
}

// Visual FoxPro: checks one definition and fills its descriptor (the
// displacement is set by the caller); *bits counts the _NullFlags bits the
// field takes.
int16_t BuildVfpDescriptor(const KbdFieldDef& def, DbfDescriptor* d,
                           NewTable* table, int* bits) {
  if (int16_t e = CopyName(def, d)) return e;
  char type = 0;
  if (int16_t e = TypeOf(def, &type)) return e;
  if ((def.flags & kDbfFieldSystem) != 0)
    return BuildNullFlagsColumn(def, type, d);
  VfpTypeRule rule{};
  if (!VfpRule(type, &rule) || (def.flags & ~rule.allowed) != 0)
    return kKbdErrFieldType;
  uint8_t flags = static_cast<uint8_t>(def.flags | rule.always);
  bool autoincrement = (flags & kDbfFieldAutoIncrement) != 0;
  // Visual FoxPro gives every new record its number: never null.
  if (autoincrement && (flags & kDbfFieldNullable) != 0)
    return kKbdErrFieldType;
  if (autoincrement && def.step > kLargestStep) return kKbdErrFieldType;
  uint16_t length = 0;
  uint8_t decimals = 0;
  switch (type) {
    case 'C':
    case 'V':
    case 'Q':
      if (def.length < 1 || def.length > kVfpWidestText)
        return kKbdErrFieldSize;
      length = def.length;
      break;
    case 'N':
    case 'F':
      if (int16_t e = CheckNumber(def, kKbdVisualFoxpro)) return e;
      length = def.length;
      decimals = static_cast<uint8_t>(def.decimals);
      break;
    case 'B':
      if (def.decimals > kVfpMaxDoubleDecimals) return kKbdErrDecimals;
      length = kDbfBinaryFieldSize;
      decimals = static_cast<uint8_t>(def.decimals);
      break;
    case 'Y':
      length = kDbfBinaryFieldSize;
      decimals = kVfpCurrencyDecimals;
      break;
    case 'T':
      length = kDbfBinaryFieldSize;
      break;
    case 'D':
      length = kStoredDateLength;
      break;
    case 'L':
      length = 1;
      break;
    case 'I':
      length = kDbfIntegerFieldSize;
      break;
    default:  // M, G, W: binary block numbers
      length = kDbfIntegerFieldSize;
      table->table_flags |= kDbfVfpTableMemo;
      break;
  }
  d->type = static_cast<uint8_t>(type);
  SetLength(type, length, decimals, d);
  d->flags = flags;
  if (autoincrement) {
    bool defaults = def.step == 0;
    d->next_value = defaults ? kDefaultNextValue : def.next_value;
    d->step = defaults ? kDefaultStep : static_cast<uint8_t>(def.step);
  }
  if (type == 'V' || type == 'Q') {
    ++*bits;
    table->version = kDbfVersionVfpVarchar;
  } else if (autoincrement && table->version != kDbfVersionVfpVarchar) {
    table->version = kDbfVersionVfpAutoIncrement;
  }
  if ((flags & kDbfFieldNullable) != 0) ++*bits;
  table->record_size += length;
  return kKbdOk;
}

// Visual FoxPro: every descriptor with its displacement, and the
// _NullFlags column added when the fields need bits and the caller gave
// none.
int16_t BuildVfpTable(int16_t field_count, const KbdFieldDef* fields,
                      NewTable* table) {
  table->version = kDbfVersionVfp;
  int bits = 0;
  int given_column = -1;
  for (int16_t i = 0; i < field_count; ++i) {
    DbfDescriptor& d = table->descriptors[static_cast<size_t>(i)];
    d.displacement = table->record_size;  // the bytes before the field
    if (int16_t e = BuildVfpDescriptor(fields[i], &d, table, &bits)) return e;
    if ((d.flags & kDbfFieldSystem) == 0) continue;
    if (given_column >= 0) return kKbdErrFieldName;  // a second one
    given_column = i;
    table->record_size += d.length;
  }
  size_t bytes_needed = (static_cast<size_t>(bits) + 7) / 8;
  if (given_column >= 0) {
    if (table->descriptors[static_cast<size_t>(given_column)].length <
        bytes_needed)
      return kKbdErrFieldSize;
  } else if (bits > 0) {
    if (field_count + 1 > kVfpMaxFieldCount) return kKbdErrFieldCount;
    DbfDescriptor column;
    SetStoredNullFlagsName(&column);
    column.type = kDbfNullFlagsType;
    column.length = static_cast<uint8_t>(bytes_needed);
    column.flags = kDbfFieldSystem | kDbfFieldBinary;
    column.displacement = table->record_size;
    table->descriptors.push_back(column);
    table->record_size += column.length;
  }
  return kKbdOk;
}

DbfHeader NewHeader(uint8_t version, uint16_t header_size,
                    uint16_t record_size) {
  DbfHeader h;
  h.version = version;
  platform::LocalDate today = platform::Today();
  h.update_year = static_cast<uint8_t>((today.year - 1900) & 0xFF);
  h.update_month = static_cast<uint8_t>(today.month);
  h.update_day = static_cast<uint8_t>(today.day);
  h.record_count = 0;
  h.header_size = header_size;
  h.record_size = record_size;
  return h;
}

// Creates file name with the bytes given (an existing file is replaced)
// and closes it.
int16_t WriteNewFile(const char* name, const std::vector<uint8_t>& bytes) {
  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  int16_t status =
      FileWriteAt(slot, 0, bytes.data(), static_cast<uint32_t>(bytes.size()));
  if (status == kKbdOk) return FileClose(slot);  // closing flushes
  CloseSlotQuietly(&slot);
  return status;
}

}  // namespace

int16_t CreateDbf(const char* name, int16_t field_count,
                  const KbdFieldDef* fields, uint16_t dialect) {
  if (name == nullptr || fields == nullptr) return Fail(kKbdErrNullPointer);
  dialect = static_cast<uint16_t>(dialect & ~kKbdModeOption);
  if (field_count < 1) return Fail(kKbdErrFieldCount);
  if (dialect < kKbdDbase3 || dialect > kKbdVisualFoxpro)
    return Fail(kKbdErrVersion);
  if (field_count > MaxFieldCount(dialect)) return Fail(kKbdErrFieldCount);

  const bool vfp = dialect == kKbdVisualFoxpro;
  NewTable table;
  table.descriptors.resize(static_cast<size_t>(field_count));
  if (vfp) {
    if (int16_t e = BuildVfpTable(field_count, fields, &table)) return Fail(e);
  } else {
    for (int16_t i = 0; i < field_count; ++i) {
      if (int16_t e = BuildDescriptor(fields[i], dialect, &table.descriptors[i],
                                      &table))
        return Fail(e);
    }
  }

  // After the descriptors: the dialect's terminator, then Visual FoxPro's
  // area; then the end-of-file marker, which an empty Visual FoxPro table
  // does not have.
  size_t terminator = dialect == kKbdOmnis ? kDbfOmnisTerminatorSize : 1;
  size_t area = vfp ? kDbfVfpAreaSize : 0;
  size_t header_size = kDbfHeaderSize +
                       table.descriptors.size() * kDbfDescriptorSize +
                       terminator + area;
  DbfHeader h = NewHeader(table.version, static_cast<uint16_t>(header_size),
                          static_cast<uint16_t>(table.record_size));
  h.mdx_flag = table.table_flags;

  std::vector<uint8_t> bytes(header_size + (vfp ? 0 : 1), 0);
  h.EncodeTo(std::span<uint8_t, kDbfHeaderSize>(bytes.data(), kDbfHeaderSize));
  for (size_t i = 0; i < table.descriptors.size(); ++i)
    table.descriptors[i].EncodeTo(std::span<uint8_t, kDbfDescriptorSize>(
        bytes.data() + kDbfHeaderSize + i * kDbfDescriptorSize,
        kDbfDescriptorSize));
  bytes[header_size - area - terminator] = kDbfHeaderTerminator;
  if (!vfp) bytes[header_size] = kDbfEndOfFile;
  return WriteNewFile(name, bytes);
}

int16_t CreateDbfLike(const DbfFile& source, const char* name) {
  const DbfHeader& from = source.header;
  std::vector<uint8_t> bytes(from.header_size);
  if (int16_t e = FileReadAt(source.slot, 0, bytes.data(),
                             static_cast<uint32_t>(bytes.size())))
    return e;
  DbfHeader h = NewHeader(from.version, from.header_size, from.record_size);
  h.reserved1 = from.reserved1;
  h.mdx_flag = from.mdx_flag;
  h.reserved2 = from.reserved2;
  h.EncodeTo(std::span<uint8_t, kDbfHeaderSize>(bytes.data(), kDbfHeaderSize));
  return WriteNewFile(name, bytes);
}

}  // namespace qx::engine

extern "C" int16_t kbddcreate(const char* name, int16_t field_count,
                              const KbdFieldDef* fields, uint16_t dialect) {
  return qx::engine::RunOperation([&] {
    return qx::engine::CreateDbf(name, field_count, fields, dialect);
  });
}
