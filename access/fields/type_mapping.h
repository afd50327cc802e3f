// How host item types and xBase field and key types map onto each other.
//
// Three tables the access layer shares:
// - the field a host item becomes when a table is created (also how a
//   compound key formula types the fields it names): an xBase type letter,
//   a length and decimals, by the host item type and the file family;
// - the key type of a key item, from its field's type letter;
// - the key value type, the host value type a key image of a key type is
//   exchanged as, by the index family.
// Dialects are the engine's family codes (KbdDialect of qx/engine.h).
#ifndef QX_ACCESS_FIELDS_TYPE_MAPPING_H_
#define QX_ACCESS_FIELDS_TYPE_MAPPING_H_

#include <cstdint>

namespace qx::access {

// An xBase field as a host item is created.
struct FieldMapping {
  char16_t type = 0;  // upper-case type letter
  uint32_t length = 0;
  uint32_t decimals = 0;
};

// Options of MapHostItemToField. Never renumber.
enum FieldMappingFlags : uint32_t {
  kMapAlternativeAsText = 0x01,  // item type 23 (binary) taken as 2 (text)
  kMapBooleanAsLogical = 0x02,   // item type 26 taken as 27 (logical)
};

// The widest N or F field of a family: 20 for dBASE IV and the FoxPro
// families, 19 for the others.
uint32_t MaxNumericWidth(int32_t dialect);

// The field of a host item of item_type with text_length characters (text
// items), digits integer digits and decimals (numbers). Numbers take
// digits + decimals, plus 1 for the point when there are decimals; a
// negative count, or a width past MaxNumericWidth, gives the widest field
// with 5 decimals. False for an item type without an xBase field.
bool MapHostItemToField(uint8_t item_type, uint32_t text_length, int32_t digits,
                        int32_t decimals, uint32_t flags, int32_t dialect,
                        FieldMapping* field);

// Key types besides the letters 'C', 'D', 'L', 'N'. Never renumber.
enum KeyType : int16_t {
  kKeyTypeCurrency = 10,   // 8-byte binary currency
  kKeyTypeInteger = 11,    // 4-byte binary integer
  kKeyTypeDateTime = 12,   // 8-byte binary date-time
  kKeyTypeInvalid = -210,  // a field type no key is made of
};

// The key type of a key on a field of type letter xbase_type (either
// case) in a data file of dialect: 'C' for C and V, 'N' for N, F and B,
// 'D', 'L' in FoxBASE (else 'C'), and the binary types of I, Y and T.
int16_t KeyTypeOfField(char16_t xbase_type, int32_t dialect);

// The host value type (HostValueType) of the key images of key_type in an
// index of dialect: dates and numbers are 8-byte floats except in the
// families whose keys hold them as text (NTX and the families without an
// index engine); integers are 4-byte integers, logicals characters,
// binary keys floats, everything else text.
uint8_t KeyValueType(int32_t dialect, int16_t key_type);

}  // namespace qx::access

#endif  // QX_ACCESS_FIELDS_TYPE_MAPPING_H_
