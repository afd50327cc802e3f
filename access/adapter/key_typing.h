// What an index key holds, where its file does not say it all: learnt by
// evaluating the key expression on a data file's record with the family's
// rules. NTX files record no key type; NDX files tell text from numbers
// only (a date index is numeric there); IDX and CDX files record neither
// the type nor the form of their keys (4-byte integer images, the null
// byte of nullable values). MDX tags record everything.
#ifndef QX_ACCESS_ADAPTER_KEY_TYPING_H_
#define QX_ACCESS_ADAPTER_KEY_TYPING_H_

#include <cstdint>
#include <string_view>

#include "access/adapter/key_descriptor.h"

namespace qx::access {

// The host value type of a key image, by index dialect and key type:
// numbers and dates 12 in the families that key them as binary numbers
// (dialects 1, 2, 3, 4, 8, 10), 18 (text) in the others; 10 and 12 (and
// the letters B, Y, T) 12; 11 and I 8; L 17; anything else 18.
uint8_t KeyValueTypeOf(XbaseDialect dialect, int16_t key_type);

// Completes the descriptor of an open index whose expression is given
// (dialect, handles and the described key length and type set): key type,
// nullable form, key value type, and the key length (the engine's, + 1 for
// a key value type of the text family). The expression is evaluated on the
// data file's current record. On failure the descriptor is unchanged.
int32_t TypeKeyFromTable(IndexKeyDescriptor* key, uint16_t dbf_handle,
                         std::string_view expression);

// What a new index on expression over the table holds, for a build.
struct KeyShape {
  char type = 'C';          // the type letter the family's build takes
  uint16_t key_length = 0;  // 'C' the expression's text length; 'D' and
                            // 'N' 8 (NTX 'N': the field's width, or 19);
                            // 'L' 1
  uint16_t decimals = 0;    // NTX 'N': the field's decimals, or 4
};

// Evaluates the expression on the data file's current record with the
// family's rules. A logical value is keyed as text in MDX and NTX files
// and as a number in NDX files (their only other key type); IDX and CDX
// files key it as 'L'. 2 when the value is of no key type; evaluation
// errors pass through.
int32_t KeyShapeForBuild(XbaseDialect dialect, uint16_t dbf_handle,
                         std::string_view expression, KeyShape* shape);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_KEY_TYPING_H_
