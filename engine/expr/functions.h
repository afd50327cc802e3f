// The value computations of the built-in key-expression functions, apart
// from their parsing: SUBSTR, LEFT, RIGHT, STR, UPPER, LOWER. (DTOC keeps
// its text; DTOS is the date codec's conversion to the stored form.)
//
// Positions and counts are bounded by the text: a start or count beyond it
// is clipped, a start below 1 is taken as 1 and a negative count as 0, so
// that a key expression never reads outside its argument and every record
// gives a key.
#ifndef QX_ENGINE_EXPR_FUNCTIONS_H_
#define QX_ENGINE_EXPR_FUNCTIONS_H_

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

// STR(number, length, decimals): fixed-point notation with decimals digits
// after the point, right-aligned in length characters. A number halfway
// between two results rounds away from zero. A number that does
// not fit (or is not finite) gives length '*' characters, as a numeric
// field shows an overflow. A result that rounds to zero has no minus sign.
// Returns kKbdOk, or kKbdErrKeyExpression for a length outside
// 1..kStrMaxLength or negative decimals (nothing is set as last error).
int16_t FormatNumber(double number, int32_t length, int32_t decimals,
                     std::string* out);

// UPPER and LOWER: a..z to A..Z and back; every other byte unchanged.
void UpperAscii(std::string* text);
void LowerAscii(std::string* text);

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_FUNCTIONS_H_
