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
      if (dialect != kKbdVisualFoxpro) return false;
      *field = {u'P', 0, 0};
      return true;
    case kItemDateTime:
      *field = {u'C', 18, 0};
      return true;
    case kItemLogical:
      *field = {u'L', 1, 0};
      return true;
    default:
      return false;
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
