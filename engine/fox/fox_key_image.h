// The key a FoxPro tree (an IDX file or a CDX tag) holds for the current
// record of a data file, for key upkeep: the value of the key expression
// in the image the key's length calls for.
//
// Images of a value, by the expression's result:
//   C  the text, padded with blanks or cut to the image's length
//   N  the 8-byte sortable double (engine/dates/key_codec.h); in a key of
//      4 bytes (5 with the null byte) the 4-byte integer image instead
//      (signed 32 codec: big-endian, sign bit inverted), as Visual FoxPro
//      keys its I fields
//   D  the 8-byte sortable double of the date's Julian day number (0 for
//      the empty date, so that empty dates sort first)
//   L  one byte, 'T' or 'F' (a blank logical is false)
//
// Keys of nullable values (Visual FoxPro). When the expression reads a
// field marked nullable (descriptor flag 0x02) and the key is one byte
// longer than the value's image (for text: than the value's own length),
// the key is the byte 0x80 followed by the image; when a field the
// expression reads holds null (its bit in the null-flags column), the key
// is all zero bytes, so that null sorts before every value. A key of any
// other length holds the bare image.
//
// Field names longer than 10 characters. Other programs name the fields of
// a table in a database container by long names in their key expressions
// and cut them to the 10 stored characters when the table is used alone;
// an expression that does not evaluate is tried again with every field
// name cut so.
//
// REQUIRES for every function: inside an engine operation.
#ifndef QX_ENGINE_FOX_FOX_KEY_IMAGE_H_
#define QX_ENGINE_FOX_FOX_KEY_IMAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::engine::fox {

// What the keys of a FoxPro tree hold, as the expression shows it on a
// record.
struct FoxKeyForm {
  char type = ' ';        // 'C', 'N', 'D' or 'L'
  bool integer = false;   // 'N' in the 4-byte integer image
  bool nullable = false;  // a leading null byte (see the file comment)
};

// The null byte before the image of a value that is not null.
inline constexpr uint8_t kFoxNotNullMark = 0x80;
// Bytes of the integer image of 'N' keys (and its key length).
inline constexpr uint16_t kFoxIntegerKeySize = 4;

// Writes the key of the data file's current record (key_length bytes) and
// its form. -7 when the expression's value is of no key type or does not
// fit the key (a number, date or logical in a key of another length), -15
// for a date no key holds; evaluation errors pass through.
int16_t MakeFoxRecordKey(int16_t dbf_handle, std::string_view expression,
                         uint16_t key_length, uint8_t* key,
                         FoxKeyForm* form = nullptr);

// The form alone, for kbdikeyform and kbdckeyform: *type the form's type
// letter, *bits its KbdFoxKeyForm bits. Errors as MakeFoxRecordKey.
int16_t FoxRecordKeyForm(int16_t dbf_handle, std::string_view expression,
                         uint16_t key_length, char* type, uint16_t* bits);

// The expression with every field name longer than 10 characters cut to
// 10; function names (followed by '(') and quoted texts stay.
std::string ShortFieldNames(std::string_view expression);

}  // namespace qx::engine::fox

#endif  // QX_ENGINE_FOX_FOX_KEY_IMAGE_H_
