// How host item types and xBase field and key types map onto each other.
//
// The tables the access layer shares:
// - the host item a field of a data file is described as (type and host
//   buffer size), and the xBase file type reported for a file family;
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

// A field of a data file as the host is told of it.
struct HostItemMapping {
  uint8_t item_type = 0;  // HostItemType; 0 (none) for an unknown letter
  uint32_t size = 0;      // host buffer bytes
  uint32_t digits = 0;    // N and F: the integer digits
};

// The host item of a field of type letter `type` (either case), length
// and decimals in a data file of dialect. Texts take their length + 1
// bytes (the NUL); N and F fields go by their integer digits d (length,
// less the decimals and the point when there are decimals; at least 1):
// without decimals 1, 2, 4 and 8-byte integers up to 2, 4, 9 and 19
// digits; with at most 6 decimals and 10 digits the currency; up to 38
// digits in all the decimal type, of DecimalByteSize(d + decimals)
// bytes; beyond, the 8-byte real. B is the 8-byte real in Visual FoxPro
// and a binary memo elsewhere (a block number into the memo file there).
HostItemMapping MapFieldToHostItem(char16_t type, uint32_t length,
                                   uint32_t decimals, int32_t dialect);

// Bytes of the smallest two's-complement integer holding every number of
// `digits` decimal digits: 1 for 1 or 2 digits, 4 for 9, 16 for 36 to 38.
// REQUIRES: 1 <= digits <= 38.
uint32_t DecimalByteSize(uint32_t digits);

// The xBase file type (XBaseFileType) reported for a data file of a
// dialect: 2 dBASE III, 3 dBASE IV, 4 the FoxBASE and FoxPro families, 5
// Clipper 5.0, 6 Clipper, 1 every other.
uint32_t FileTypeOfDialect(int32_t dialect);
// The inverse, for files made or keyed from a host description: 3 gives
// dBASE IV, 4 FoxBASE, 5 Clipper 5.0, 6 Clipper, kFileTypeFoxPro2 FoxPro
// 2, kFileTypeVisualFoxPro Visual FoxPro, any other value dBASE III.
int32_t DialectOfFileType(uint32_t file_type);

// The host value type (HostValueType) that holds a value of a host item
// type: texts as ANSI text (UTF-16 for the Unicode items), numbers in
// their width, the date as its day number, memos as UTF-16 text or
// binary. kValueNone for item type 0.
uint8_t ValueTypeOfItem(uint8_t item_type);

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
