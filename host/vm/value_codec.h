// The VM's decoded forms of host values, shared by its conversions and
// calculations.
//
// A value decodes into one of five families: a number (an exact scaled
// integer, or a float), a text (UTF-16), a date, time or date-time (Julian
// day and milliseconds), or a binary. Encoding writes a decoded form into
// a value of a given type, allocating text and binary bytes with malloc and
// marking them kValueStateOwned (EndConversion frees them).
#ifndef QX_HOST_VM_VALUE_CODEC_H_
#define QX_HOST_VM_VALUE_CODEC_H_

#include <cstdint>
#include <string>

#include "qx/host_types.h"

namespace qx::vm {

enum class Family {
  kNone,
  kNull,
  kNumber,
  kText,
  kDate,
  kTime,
  kDateTime,
  kBinary
};

// value = mantissa / 10^scale, or f when is_float.
struct Number {
  bool is_float = false;
  __int128 mantissa = 0;
  int scale = 0;  // 0..38
  double f = 0;
  long double AsLongDouble() const;
};

struct Decoded {
  Family family = Family::kNone;
  Number number;
  std::u16string text;
  std::string bytes;          // binary
  int32_t day = 0;            // Julian day; 0 is the empty date
  uint32_t ms = 0;            // milliseconds since midnight
  bool ansi_text = false;     // the text came from a code page 1252 value
  uint8_t type = kValueNone;  // the type decoded from
};

Family FamilyOf(uint8_t type);
bool IsUnicodeText(uint8_t type);

// Decodes a value; false for an unknown type or malformed bytes.
bool Decode(const HostValue& value, Decoded* out);

// Encodes into target (type set); answers a HostResult.
uint32_t Encode(const Decoded& decoded, uint8_t type, uint8_t scale,
                HostValue* target);

// An 8-byte float into a signed integer type or the currency, as Encode
// does it, without decoding (the conversions of numbers read from files):
// true with *result, and the target set unless that failed, for those
// types; false for any other.
bool EncodeDouble(double f, uint8_t type, HostValue* target, uint32_t* result);

// Text parsing, used by the conversions from text.
uint32_t ParseNumber(std::u16string_view text, Number* out);

// Fixed-byte access (little-endian, width bytes).
void StoreFixed(HostValue* value, uint8_t type, __int128 bits);
__int128 LoadSigned(const HostValue& value, uint32_t width);
// The fixed bits of a date-time: the Julian day in bytes 0..3, the
// milliseconds since midnight in bytes 4..7.
__int128 DateTimeBits(int32_t day, uint32_t ms);

constexpr int kMaxDecimalDigits = 38;
__int128 PowerOfTen(int n);  // REQUIRES: 0 <= n <= 38

}  // namespace qx::vm

#endif  // QX_HOST_VM_VALUE_CODEC_H_
