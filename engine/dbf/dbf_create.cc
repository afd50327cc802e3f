// Creating an empty data file from field definitions (kbddcreate): the
// limits of each dialect, the version byte that memo fields ask for, and
// the header terminator of the dialect. The new file is closed, not opened.
//
// Checks, in order: null name or definitions (-21); field count below 1
// (-27); dialect outside 1..9 (-18: Visual FoxPro files are not created);
// too many fields for the dialect (-27); then each definition: name (-28),
// type (-31), length (-29), decimals (-30), running record size (-32).
#include <algorithm>
#include <vector>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"
#include "platform/platform.h"

namespace qx::engine {
namespace {

// Bytes of a field definition name area.
constexpr size_t kDefinitionNameSize = sizeof(KbdFieldDef::name);

// The largest field count a dialect's files may have.
int MaxFieldCount(uint16_t dialect) {
  switch (dialect) {
    case kKbdDbase4: case kKbdFoxpro2: return 255;
    case kKbdClipper: case kKbdClipper5: return 1023;
    case kKbdDbxl: return 512;
    default: return 128;  // 1, 3, 4, 9
  }
}

bool AllowsFloat(uint16_t dialect) {
  return dialect == kKbdDbase4 || dialect == kKbdFoxpro1 ||
         dialect == kKbdFoxpro2;
}

uint8_t MemoVersion(uint16_t dialect) {
  switch (dialect) {
    case kKbdDbase4: return kDbfVersionDbase4Memo;
    case kKbdFoxpro1: case kKbdFoxpro2: return kDbfVersionFptMemo;
    default: return kDbfVersionDbtMemo;
  }
}

// Checks one definition and fills its descriptor; *version and
// *record_size follow the field.
int16_t BuildDescriptor(const KbdFieldDef& def, uint16_t dialect,
                        DbfDescriptor* d, uint8_t* version,
                        uint32_t* record_size) {
  size_t name_length = static_cast<size_t>(
      std::find(def.name, def.name + kDefinitionNameSize, '\0') - def.name);
  if (name_length == 0 || name_length > kDbfMaxFieldNameLength)
    return kKbdErrFieldName;
  for (size_t i = 0; i < name_length; ++i) {
    char c = def.name[i];
    d->name[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (def.type > 0xFF) return kKbdErrFieldType;
  char type = static_cast<char>(def.type);
  if (type >= 'a' && type <= 'z') type = static_cast<char>(type - 'a' + 'A');
  uint16_t length = 0;
  uint8_t decimals = 0;
  switch (type) {
    case 'C': {
      uint16_t widest = dialect == kKbdClipper5 ? 2048 : 254;
      if (def.length < 1 || def.length > widest) return kKbdErrFieldSize;
      length = def.length;
      break;
    }
    case 'D': length = 8; break;
    case 'L': length = 1; break;
    case 'M':
      length = 10;
      *version = MemoVersion(dialect);
      break;
    case 'F':
      if (!AllowsFloat(dialect)) return kKbdErrFieldType;
      [[fallthrough]];
    case 'N': {
      uint16_t widest =
          AllowsFloat(dialect) ? kDbfWidestNumberLong : kDbfWidestNumber;
      if (def.length < 1 || def.length > widest) return kKbdErrFieldSize;
      // A fraction needs room for the point and one digit before it.
      if (def.decimals != 0 && def.decimals + 2 > def.length)
        return kKbdErrDecimals;
      if (!AllowsFloat(dialect) && def.decimals > 15) return kKbdErrDecimals;
      length = def.length;
      decimals = static_cast<uint8_t>(def.decimals);
      break;
    }
    default:
      return kKbdErrFieldType;
  }
  d->type = static_cast<uint8_t>(type);
  // Byte 17 holds the length's high byte for C, the decimals otherwise.
  uint8_t wide[2];
  PutLe16(wide, length);
  d->length = wide[0];
  d->decimals = type == 'C' ? wide[1] : decimals;
  *record_size += length;
  uint32_t limit = dialect == kKbdClipper5 ? 8192 : 4000;
  if (*record_size > limit) return kKbdErrRecordSize;
  return kKbdOk;
}

}  // namespace

int16_t CreateDbf(const char* name, int16_t field_count,
                  const KbdFieldDef* fields, uint16_t dialect) {
  if (name == nullptr || fields == nullptr) return Fail(kKbdErrNullPointer);
  dialect = static_cast<uint16_t>(dialect & ~kKbdModeOption);
  if (field_count < 1) return Fail(kKbdErrFieldCount);
  if (dialect < kKbdDbase3 || dialect > kKbdOmnis) return Fail(kKbdErrVersion);
  if (field_count > MaxFieldCount(dialect)) return Fail(kKbdErrFieldCount);

  std::vector<DbfDescriptor> descriptors(field_count);
  uint8_t version = kDbfVersionPlain;
  uint32_t record_size = 1;  // the deletion flag
  for (int16_t i = 0; i < field_count; ++i) {
    if (int16_t e = BuildDescriptor(fields[i], dialect, &descriptors[i],
                                    &version, &record_size))
      return Fail(e);
  }

  size_t terminator = dialect == kKbdOmnis ? kDbfOmnisTerminatorSize : 1;
  size_t header_size =
      kDbfHeaderSize + descriptors.size() * kDbfDescriptorSize + terminator;
  DbfHeader h;
  h.version = version;
  platform::LocalDate today = platform::Today();
  h.update_year = static_cast<uint8_t>((today.year - 1900) & 0xFF);
  h.update_month = static_cast<uint8_t>(today.month);
  h.update_day = static_cast<uint8_t>(today.day);
  h.record_count = 0;
  h.header_size = static_cast<uint16_t>(header_size);
  h.record_size = static_cast<uint16_t>(record_size);

  // Header, descriptors, terminator and the end-of-file marker: one write.
  std::vector<uint8_t> bytes(header_size + 1, 0);
  h.EncodeTo(std::span<uint8_t, kDbfHeaderSize>(bytes.data(), kDbfHeaderSize));
  for (size_t i = 0; i < descriptors.size(); ++i)
    descriptors[i].EncodeTo(std::span<uint8_t, kDbfDescriptorSize>(
        bytes.data() + kDbfHeaderSize + i * kDbfDescriptorSize,
        kDbfDescriptorSize));
  bytes[header_size - terminator] = kDbfHeaderTerminator;
  bytes[header_size] = kDbfEndOfFile;

  uint16_t slot = kNoFileSlot;
  if (int16_t e = FileCreate(&slot, name)) return e;
  int16_t status = FileWriteAt(slot, 0, bytes.data(),
                               static_cast<uint32_t>(bytes.size()));
  if (status == kKbdOk) return FileClose(slot);  // closing flushes
  CloseSlotQuietly(&slot);
  return status;
}

}  // namespace qx::engine

extern "C" int16_t kbddcreate(const char* name, int16_t field_count,
                              const KbdFieldDef* fields, uint16_t dialect) {
  return qx::engine::RunOperation(
      [&] { return qx::engine::CreateDbf(name, field_count, fields, dialect); });
}
