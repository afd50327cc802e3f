// The host item / xBase field / key type tables.
#include "access/fields/type_mapping.h"

#include "qx/engine.h"
#include "qx/host_types.h"

namespace qx::access {
namespace {

// Decimals a numeric field gets when its host item's width does not fit.
constexpr uint32_t kOverflowDecimals = 5;

bool IsWideNumericFamily(int32_t dialect) {
  return dialect == kKbdDbase4 || dialect == kKbdFoxpro1 ||
         dialect == kKbdFoxpro2 || dialect == kKbdVisualFoxpro;
}

// The F type exists in dBASE IV and FoxPro 1 and 2 files.
bool HasFloatType(int32_t dialect) {
  return dialect == kKbdDbase4 || dialect == kKbdFoxpro1 ||
         dialect == kKbdFoxpro2;
}

FieldMapping Numeric(char16_t type, int32_t digits, int32_t decimals,
                     int32_t dialect) {
  const uint32_t widest = MaxNumericWidth(dialect);
  if (digits < 0 || decimals < 0) return {type, widest, kOverflowDecimals};
  const uint64_t length = static_cast<uint64_t>(digits) +
                          static_cast<uint64_t>(decimals) +
                          (decimals > 0 ? 1 : 0);
  if (length > widest) return {type, widest, kOverflowDecimals};
  return {type, static_cast<uint32_t>(length), static_cast<uint32_t>(decimals)};
}

char16_t Upper(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
}

}  // namespace

uint32_t MaxNumericWidth(int32_t dialect) {
  return IsWideNumericFamily(dialect) ? 20 : 19;
}

bool MapHostItemToField(uint8_t item_type, uint32_t text_length, int32_t digits,
                        int32_t decimals, uint32_t flags, int32_t dialect,
                        FieldMapping* field) {
  if (item_type == kItemBinary && (flags & kMapAlternativeAsText) != 0) {
    item_type = kItemText;
  }
  if (item_type == kItemBoolean && (flags & kMapBooleanAsLogical) != 0) {
    item_type = kItemLogical;
  }
  switch (item_type) {
    case kItemUInt8:
    case kItemInt16:
    case kItemInt8:
    case kItemUInt16:
    case kItemUInt32:
    case kItemInt64:
    case kItemUInt64:
    case kItemNumericText:
    case kItemAutoId4:
    case kItemAutoId8:
      *field = Numeric(u'N', digits, decimals, dialect);
      return true;
    case kItemInt32:
      *field = dialect == kKbdVisualFoxpro
                   ? FieldMapping{u'I', 0, 0}
                   : Numeric(u'N', digits, decimals, dialect);
      return true;
    case kItemText:
    case kItemFixedText:
    case kItemUnicodeText:
    case kItemUnicodeFixed:
    case kItemBoolean:
      *field = {u'C', text_length, 0};
      return true;
    case kItemReal4:
    case kItemReal8:
      *field = Numeric(HasFloatType(dialect) ? u'F' : u'N', digits, decimals,
                       dialect);
      return true;
    case kItemCurrency:
      if (dialect == kKbdVisualFoxpro) {
        *field = {u'Y', 0, 0};
      } else {
        *field = Numeric(HasFloatType(dialect) ? u'F' : u'N', digits, decimals,
                         dialect);
      }
      return true;
    case kItemDate:
      *field = {u'D', 8, 0};
      return true;
    case kItemTextMemo:
      *field = {u'M', 10, 0};
      return true;
    case kItemBinaryMemo:
      // Visual FoxPro's binary memo is the blob (W).
      if (dialect != kKbdVisualFoxpro) return false;
      *field = {u'W', 0, 0};
      return true;
    case kItemDateTime:
      *field = dialect == kKbdVisualFoxpro ? FieldMapping{u'T', 0, 0}
                                           : FieldMapping{u'C', 18, 0};
      return true;
    case kItemLogical:
      *field = {u'L', 1, 0};
      return true;
    default:
      return false;
  }
}

HostItemMapping MapFieldToHostItem(char16_t type, uint32_t length,
                                   uint32_t decimals, int32_t dialect) {
  switch (Upper(type)) {
    case u'C':
    case u'V':
      return {kItemText, length + 1, 0};
    case u'D':
      return {kItemDate, 9, 0};
    case u'L':
      return {kItemBoolean, 1, 0};
    case u'M':
      return {kItemTextMemo, 8, 0};
    case u'G':
    case u'P':
    case u'W':
      return {kItemBinaryMemo, 8, 0};
    case u'B':
      if (dialect != kKbdVisualFoxpro) return {kItemBinaryMemo, 8, 0};
      return {kItemReal8, 8, 0};
    case u'I':
      return {kItemInt32, 4, 0};
    case u'Y':
      return {kItemCurrency, 10, 0};
    case u'T':
      return {kItemDateTime, 8, 0};
    case u'Q':
    case u'?':
      return {kItemBinary, length + 2, 0};
    case u'N':
    case u'F':
      break;
    default:
      return {kItemNone, 0, 0};
  }
  int64_t d = static_cast<int64_t>(length) - decimals - (decimals >= 1 ? 1 : 0);
  if (d < 1) d = 1;
  const uint32_t digits = static_cast<uint32_t>(d);
  const uint64_t p = uint64_t{digits} + decimals;
  if (decimals == 0 && digits <= 2) return {kItemInt8, 1, digits};
  if (decimals == 0 && digits <= 4) return {kItemInt16, 2, digits};
  if (decimals == 0 && digits <= 9) return {kItemInt32, 4, digits};
  if (decimals == 0 && digits <= 19) return {kItemInt64, 8, digits};
  if (decimals <= 6 && digits <= 10) return {kItemCurrency, 10, digits};
  if (digits <= 38 && decimals <= 38 && p <= 38) {
    return {kItemDecimal, DecimalByteSize(static_cast<uint32_t>(p)), digits};
  }
  return {kItemReal8, 8, digits};
}

uint8_t ValueTypeOfItem(uint8_t item_type) {
  switch (item_type) {
    case kItemUInt8:
      return kValueUInt8;
    case kItemText:
    case kItemNumericText:
      return kValueText;
    case kItemInt16:
      return kValueInt16;
    case kItemInt8:
      return kValueInt8;
    case kItemInt32:
    case kItemAutoId4:
      return kValueInt32;
    case kItemReal4:
      return kValueFloat;
    case kItemReal8:
      return kValueDouble;
    case kItemTime:
      return kValueTime;
    case kItemUInt16:
      return kValueUInt16;
    case kItemFixedText:
      return kValueFixedText;
    case kItemUnicodeText:
    case kItemTextMemo:
      return kValueUnicodeText;
    case kItemUInt32:
      return kValueUInt32;
    case kItemDuration:
    case kItemInt64:
    case kItemAutoId8:
      return kValueInt64;
    case kItemDate:
      return kValueDate;
    case kItemChar:
      return kValueChar;
    case kItemCurrency:
      return kValueCurrency;
    case kItemBinaryMemo:
    case kItemBinary:
    case kItemImage:
      return kValueBinary;
    case kItemUInt64:
      return kValueUInt64;
    case kItemUnicodeFixed:
      return kValueFixedUnicode;
    case kItemDateTime:
      return kValueDateTime;
    case kItemBoolean:
    case kItemLogical:
      return kValueBoolean;
    case kItemUnicodeMemo:
      return kValueUnicodeMemo;
    case kItemDecimal:
      return kValueDecimal;
    default:
      return kValueNone;
  }
}

uint32_t DecimalByteSize(uint32_t digits) {
  __int128 largest = 1;  // 10^digits
  for (uint32_t i = 0; i < digits; ++i) largest *= 10;
  for (uint32_t bytes = 1; bytes < 16; ++bytes) {
    const __int128 limit = static_cast<__int128>(1) << (8 * bytes - 1);
    if (largest <= limit) return bytes;  // 10^p - 1 <= 2^(8n-1) - 1
  }
  return 16;
}

uint32_t FileTypeOfDialect(int32_t dialect) {
  switch (dialect) {
    case kKbdDbase3:
      return kFileTypeDbase3;
    case kKbdDbase4:
      return kFileTypeDbase4;
    case kKbdFoxbase:
    case kKbdFoxpro1:
    case kKbdFoxpro2:
    case kKbdVisualFoxpro:
      return kFileTypeFoxPro;
    case kKbdClipper:
      return kFileTypeClipper;
    case kKbdClipper5:
      return kFileTypeClipper5;
    default:
      return kFileTypeOther;
  }
}

int32_t DialectOfFileType(uint32_t file_type) {
  switch (file_type) {
    case kFileTypeDbase4:
      return kKbdDbase4;
    case kFileTypeFoxPro:
      return kKbdFoxbase;
    case kFileTypeClipper5:
      return kKbdClipper5;
    case kFileTypeClipper:
      return kKbdClipper;
    case kFileTypeFoxPro2:
      return kKbdFoxpro2;
    case kFileTypeVisualFoxPro:
      return kKbdVisualFoxpro;
    default:
      return kKbdDbase3;
  }
}

int16_t KeyTypeOfField(char16_t xbase_type, int32_t dialect) {
  switch (Upper(xbase_type)) {
    case u'C':
    case u'V':
      return 'C';
    case u'N':
    case u'F':
    case u'B':
      return 'N';
    case u'D':
      return 'D';
    case u'L':
      return dialect == kKbdFoxbase ? 'L' : 'C';
    case u'I':
      return kKeyTypeInteger;
    case u'Y':
      return kKeyTypeCurrency;
    case u'T':
      return kKeyTypeDateTime;
    default:
      return kKeyTypeInvalid;
  }
}

uint8_t KeyValueType(int32_t dialect, int16_t key_type) {
  switch (key_type) {
    case 'D':
    case 'N':
      switch (dialect) {
        case kKbdDbase3:
        case kKbdDbase4:
        case kKbdFoxbase:
        case kKbdFoxpro1:
        case kKbdFoxpro2:
        case kKbdVisualFoxpro:
          return kValueDouble;
        default:  // NTX, the families without an index engine
          return kValueText;
      }
    case 'B':
    case 'Y':
    case 'T':
    case kKeyTypeCurrency:
    case kKeyTypeDateTime:
      return kValueDouble;
    case 'I':
    case kKeyTypeInteger:
      return kValueInt32;
    case 'L':
      return kValueChar;
    default:
      return kValueText;
  }
}

}  // namespace qx::access
