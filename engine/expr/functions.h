// The value computations of the built-in key-expression functions on
// texts and numbers, apart from their parsing and argument checks
// (builtins.h): SUBSTR, LEFT, RIGHT, STR, STRZERO, UPPER, LOWER, the trims
// and pads, DESCEND of a text, VAL, ROUND, EMPTY of a text.
//
// Positions and counts are bounded by the text: a start or count beyond it
// is clipped, a start below 1 is taken as 1 and a negative count as 0, so
// that a key expression never reads outside its argument and every record
// gives a key.
#ifndef QX_ENGINE_EXPR_FUNCTIONS_H_
#define QX_ENGINE_EXPR_FUNCTIONS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qx::engine {

// STR's length and decimals when the expression leaves them out.
constexpr int32_t kStrDefaultLength = 10;
constexpr int32_t kStrDefaultDecimals = 0;
// Longest STR result; a longer length is kKbdErrKeyExpression. No key of
// any index format holds more.
constexpr int32_t kStrMaxLength = 255;

// SUBSTR(text, start [, count]): from character start (1 = first), count
// characters or up to the end when count is absent.
std::string_view Substring(std::string_view text, int32_t start,
                           std::optional<int32_t> count);
// LEFT(text, n) and RIGHT(text, n): the first or last n characters.
std::string_view LeftPart(std::string_view text, int32_t count);
std::string_view RightPart(std::string_view text, int32_t count);

// Which value a number rounds from when it lies halfway between two
// results of the decimals asked for.
enum class Rounding : uint8_t {
  // The double's exact binary value: 2.675 is held as 2.67499999... and
  // gives 2.67; only a true tie (12.5, 0.125) rounds away from zero.
  kBinaryValue,
  // The shortest decimal text that reads back as the double (2.675), whose
  // halves round away from zero (2.68), as Clipper programs round.
  kDecimalText,
};

// STR(number, length, decimals): fixed-point notation with decimals digits
// after the point, right-aligned in length characters, halves rounded away
// from zero as rounding says. A number that does not fit (or is not
// finite) gives length '*' characters, as a numeric field shows an
// overflow. A result that rounds to zero has no minus sign. Returns
// kKbdOk, or kKbdErrKeyExpression for a length outside 1..kStrMaxLength or
// negative decimals (nothing is set as last error).
int16_t FormatNumber(double number, int32_t length, int32_t decimals,
                     std::string* out,
                     Rounding rounding = Rounding::kBinaryValue);

// STRZERO: a STR result with its leading blanks turned to '0' and a minus
// sign moved before them ("  -96" is "-0096"); stars stay as they are.
std::string ZeroFilled(std::string_view formatted);

// Fixed notation of magnitude rounded at decimals digits after the point
// (a negative count: that many digits before it), taken from the shortest
// decimal text that reads back as the double, with halves rounded up: the
// digits Clipper's programs write for a number. With decimals >= 0 the
// text has exactly that many digits after the point (none and no point
// for 0). REQUIRES: magnitude finite and >= 0, decimals <= kStrMaxLength.
std::string RoundedFixed(double magnitude, int32_t decimals);

// RoundedFixed into out (kRoundedFixedSize bytes of room, no NUL added),
// without allocating; answers the length of the text.
inline constexpr size_t kRoundedFixedSize = 640;
size_t RoundedFixedTo(double magnitude, int32_t decimals, char* out);

// ROUND(number, decimals): the number rounded to decimals digits after the
// point (a negative count rounds to tens, hundreds...), halves of the
// shortest decimal text away from zero (ROUND(2.675, 2) is 2.68).
double RoundDecimal(double number, int32_t decimals);

// VAL(text): leading blanks, tabs, CR and LF, an optional sign, digits and
// at most one '.' with digits; reading stops at the first other byte, and
// no digits read as 0 ("-1.5ABC" is -1.5, "1E3" is 1).
double ReadNumberPrefix(std::string_view text);

// LTRIM drops leading blanks, tabs, CR and LF; RTRIM (TRIM) trailing blanks
// only, as the Clipper programs do.
std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);
// EMPTY of a text: only blanks, tabs, CR and LF (or nothing).
bool IsEmptyText(std::string_view text);

// PADL, PADR and PADC: the text cut to width characters (keeping its
// start), or filled with fill up to width on the left, the right, or both
// (the left getting the smaller half). REQUIRES: width >= 0.
enum class PadSide : uint8_t { kLeft, kRight, kCenter };
std::string Pad(std::string_view text, size_t width, char fill, PadSide side);

// DESCEND of a text: every byte c becomes (256 - c) modulo 256, so that
// byte order runs backwards (0 stays 0).
void DescendBytes(std::string* text);

// UPPER and LOWER: a..z to A..Z and back; every other byte unchanged.
void UpperAscii(std::string* text);
void LowerAscii(std::string* text);

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_FUNCTIONS_H_
