// The 12-byte packed decimal of MDX numeric keys: its encoding from a
// number, its comparison rule, and its value.
//
// Layout:
//
//   OFFSET SIZE FIELD     notes
//   0      1    exponent  0x34 + the digits before the decimal point, or
//                         0x34 - the zeros after the point before the
//                         first significant digit (modulo 256)
//   1      1    sign      0x05, or 0x85 for a negative number (bit 7);
//                         other bits are not compared (files of other
//                         writers hold other values there)
//   2      10   digits    at most 20 decimal digits, two per byte, the
//                         first in the high nibble, zero-filled
//
// The value is 0.d1 d2 ... d20 * 10^(exponent - 0x34), negative when the
// sign bit is set.
//
// Encoding works on the text of the number as "%lf" prints it (six
// decimals): leading blanks are skipped, a '-' sets the sign, a '+' is
// skipped, leading '0' digits are skipped; then the digits before the
// point, and as many after it as keep the total within 20, are packed and
// their count before the point added to byte 0; when the point comes
// first, it and the zeros after it are skipped, the rest packed, and the
// zeros' count taken from byte 0. So 1.5 has exponent 0x35, 0.5 0x34,
// 0.05 0x33 and 0 (0.000000) 0x2E. Digits beyond the sixth decimal are
// lost, and numbers below 5e-7 in magnitude have no digit at all.
// Encoding folds -0.0 into 0.0 (the same key for the same value) and every
// NaN into one positive NaN, whose text has no digit: it encodes as
// exponent 0x34 without digits, as do the infinities of either sign.
//
// Order: a negative key is less than a non-negative one; two non-negative
// keys compare by byte 0, then by the 10 digit bytes; two negative keys
// the other way round. This follows the values (up to the lost digits) as
// long as the integer part has at most 203 digits, beyond which byte 0
// wraps.
#ifndef QX_ENGINE_MDX_MDX_DECIMAL_H_
#define QX_ENGINE_MDX_MDX_DECIMAL_H_

#include <cstdint>
#include <string_view>

namespace qx::engine {

inline constexpr uint32_t kMdxDecimalSize = 12;
inline constexpr uint32_t kMdxDecimalExponentOffset = 0;
inline constexpr uint32_t kMdxDecimalSignOffset = 1;
inline constexpr uint32_t kMdxDecimalDigitsOffset = 2;
inline constexpr uint32_t kMdxDecimalDigitsSize = 10;
inline constexpr uint32_t kMdxDecimalMaxDigits = 2 * kMdxDecimalDigitsSize;
static_assert(kMdxDecimalDigitsOffset + kMdxDecimalDigitsSize ==
              kMdxDecimalSize);
inline constexpr uint8_t kMdxDecimalExponentBase = 0x34;  // '4'
inline constexpr uint8_t kMdxDecimalPositive = 0x05;
inline constexpr uint8_t kMdxDecimalNegative = 0x85;
inline constexpr uint8_t kMdxDecimalSignBit = 0x80;

// Packs a number text (the "%lf" form, or any text of that shape) into
// out (kMdxDecimalSize bytes).
void EncodeMdxDecimalText(std::string_view text, uint8_t* out);
// Packs value as printed with "%lf".
void EncodeMdxDecimal(double value, uint8_t* out);
// The comparison rule: negative, 0 or positive.
int CompareMdxDecimals(const uint8_t* a, const uint8_t* b);
// The value a key stands for (for reports and tests).
double DecodeMdxDecimal(const uint8_t* key);

}  // namespace qx::engine

#endif  // QX_ENGINE_MDX_MDX_DECIMAL_H_
