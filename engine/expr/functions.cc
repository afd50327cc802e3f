// The built-in functions' computations (see functions.h).
#include "engine/expr/functions.h"

#include <algorithm>
#include <bit>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "qx/engine.h"

namespace qx::engine {
namespace {

// True when number lies exactly halfway between two multiples of
// 10^-decimals (12.5 for 0 decimals, 0.125 for 2), where correct rounding
// breaks the tie to even and users expect it away from zero.
// REQUIRES: number is finite, 0 <= decimals <= kStrMaxLength.
bool IsDecimalTie(double number, int32_t decimals) {
  if (number == 0.0) return false;
  // number = mantissa * 2^exponent with an integer mantissa.
  int exponent = 0;
  double fraction = std::frexp(std::fabs(number), &exponent);
  auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  exponent -= 53;
  if (exponent >= 0) return false;  // an integer: no fraction at all
  // number * 10^(decimals + 1) is an integer exactly when the factors 2 of
  // 10^(decimals + 1) and of the mantissa make up for 2^exponent; only
  // then can the digit after the last kept one end the expansion.
  if (std::countr_zero(mantissa) + exponent + decimals + 1 < 0) return false;
  char digits[640];
  auto r = std::to_chars(digits, digits + sizeof(digits), number,
                         std::chars_format::fixed, decimals + 1);
  return r.ec == std::errc() && r.ptr[-1] == '5';
}

// Fixed notation of the largest double has 309 digits; with the sign, the
// point and at most kStrMaxLength decimals it fits.
constexpr size_t kFixedTextSize = 640;

// Magnitude as whole / 10^scale with whole below 10^15 and scale <= 15,
// the fewest decimals first (amounts read from fields mostly are such);
// false when it is not. Then the shortest decimal text of magnitude has
// the value whole / 10^scale: whole / 10^scale with both exact is one
// correctly rounded division, so equality says that decimal reads back as
// magnitude, and two different decimals of at most 15 significant digits
// never read back as the same double.
bool ShortDecimal(double magnitude, uint64_t* whole, int* scale) {
  static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3, 1e4,  1e5,
                                            1e6,  1e7,  1e8,  1e9, 1e10, 1e11,
                                            1e12, 1e13, 1e14, 1e15};
  constexpr double kLimit = 1e15;
  if (!(magnitude >= 0.0 && magnitude < kLimit)) return false;
  // The reasoning below holds for rounding to nearest only (a host may
  // have set another mode; the general conversion does not depend on it).
  if (std::fegetround() != FE_TONEAREST) return false;
  for (int k = 0; k < 16; ++k) {
    const double scaled = magnitude * kPowersOfTen[k];
    if (!(scaled < kLimit)) return false;
    const double rounded = std::nearbyint(scaled);
    if (rounded / kPowersOfTen[k] != magnitude) continue;
    *whole = static_cast<uint64_t>(rounded);
    *scale = k;
    return true;
  }
  return false;
}

// RoundedFixedTo for such a magnitude and 0 <= decimals, in integers: the
// value in units of 10^-decimals, a first dropped digit of 5 or more
// rounding up. 0 when the units overflow 64 bits.
size_t RoundedShortDecimal(uint64_t whole, int scale, int32_t decimals,
                           char* out) {
  static constexpr uint64_t kPowers[] = {1ull,
                                         10ull,
                                         100ull,
                                         1000ull,
                                         10000ull,
                                         100000ull,
                                         1000000ull,
                                         10000000ull,
                                         100000000ull,
                                         1000000000ull,
                                         10000000000ull,
                                         100000000000ull,
                                         1000000000000ull,
                                         10000000000000ull,
                                         100000000000000ull,
                                         1000000000000000ull,
                                         10000000000000000ull,
                                         100000000000000000ull,
                                         1000000000000000000ull,
                                         10000000000000000000ull};
  uint64_t units = 0;
  if (decimals >= scale) {
    const int32_t up = decimals - scale;
    if (up >= 20 || whole > ~uint64_t{0} / kPowers[up]) return 0;
    units = whole * kPowers[up];
  } else {
    const uint64_t power = kPowers[scale - decimals];
    const uint64_t dropped = whole % power;
    units = whole / power + (dropped >= power - dropped ? 1 : 0);
  }
  char digits[24];
  const auto r = std::to_chars(digits, digits + sizeof(digits), units);
  const int32_t count = static_cast<int32_t>(r.ptr - digits);
  char* o = out;
  if (count <= decimals) {
    // Nothing before the point: "0." and zeros up to the digits.
    *o++ = '0';
    *o++ = '.';
    for (int32_t i = count; i < decimals; ++i) *o++ = '0';
    for (int32_t i = 0; i < count; ++i) *o++ = digits[i];
  } else {
    for (int32_t i = 0; i < count - decimals; ++i) *o++ = digits[i];
    if (decimals > 0) {
      *o++ = '.';
      for (int32_t i = count - decimals; i < count; ++i) *o++ = digits[i];
    }
  }
  return static_cast<size_t>(o - out);
}

// Blanks as LTRIM and EMPTY see them.
bool IsWhiteSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::string_view Substring(std::string_view text, int32_t start,
                           std::optional<int32_t> count) {
  size_t first = start < 1 ? 0 : static_cast<size_t>(start) - 1;
  if (first >= text.size()) return {};
  std::string_view rest = text.substr(first);
  if (!count.has_value()) return rest;
  return LeftPart(rest, *count);
}

std::string_view LeftPart(std::string_view text, int32_t count) {
  if (count <= 0) return {};
  return text.substr(0, static_cast<size_t>(count));
}

std::string_view RightPart(std::string_view text, int32_t count) {
  if (count <= 0) return {};
  size_t n = static_cast<size_t>(count);
  return n >= text.size() ? text : text.substr(text.size() - n);
}

int16_t FormatNumber(double number, int32_t length, int32_t decimals,
                     std::string* out, Rounding rounding) {
  if (length < 1 || length > kStrMaxLength || decimals < 0)
    return kKbdErrKeyExpression;
  const size_t width = static_cast<size_t>(length);
  char digits[kFixedTextSize];
  std::to_chars_result r{digits, std::errc::value_too_large};
  std::string decimal_text;
  // More decimals than the width can never fit: skip formatting them.
  if (std::isfinite(number) && decimals <= length) {
    if (rounding == Rounding::kDecimalText) {
      decimal_text = RoundedFixed(std::fabs(number), decimals);
      if (number < 0) decimal_text.insert(decimal_text.begin(), '-');
      r = {digits, decimal_text.size() < sizeof(digits)
                       ? std::errc()
                       : std::errc::value_too_large};
      if (r.ec == std::errc()) {
        std::copy(decimal_text.begin(), decimal_text.end(), digits);
        r.ptr = digits + decimal_text.size();
      }
    } else {
      // Halfway cases round away from zero (STR(12.5) is "13"): the next
      // double away from zero is no longer a tie and rounds that way.
      if (IsDecimalTie(number, decimals)) {
        constexpr double kInfinity = std::numeric_limits<double>::infinity();
        number = std::nextafter(number, number > 0 ? kInfinity : -kInfinity);
      }
      r = std::to_chars(digits, digits + sizeof(digits), number,
                        std::chars_format::fixed, decimals);
    }
  }
  size_t size = static_cast<size_t>(r.ptr - digits);
  if (r.ec != std::errc() || size > width) {
    out->assign(width, '*');
    return kKbdOk;
  }
  std::string_view text(digits, size);
  // -0.4 with no decimals prints "-0": a zero shows no sign.
  if (!text.empty() && text[0] == '-' &&
      text.find_first_not_of("0.", 1) == std::string_view::npos) {
    text.remove_prefix(1);
  }
  out->assign(width - text.size(), ' ');
  out->append(text);
  return kKbdOk;
}

std::string ZeroFilled(std::string_view formatted) {
  size_t blanks = formatted.find_first_not_of(' ');
  if (blanks == std::string_view::npos) blanks = formatted.size();
  std::string out;
  out.reserve(formatted.size());
  std::string_view rest = formatted.substr(blanks);
  if (!rest.empty() && rest[0] == '-') {
    out.push_back('-');
    rest.remove_prefix(1);
  }
  out.append(blanks, '0');
  out.append(rest);
  return out;
}

size_t RoundedFixedTo(double magnitude, int32_t decimals, char* out) {
  uint64_t whole = 0;
  int scale = 0;
  if (decimals >= 0 && ShortDecimal(magnitude, &whole, &scale)) {
    const size_t size = RoundedShortDecimal(whole, scale, decimals, out);
    if (size > 0) return size;
  }
  char text[kFixedTextSize];
  auto r = std::to_chars(text, text + sizeof(text), magnitude,
                         std::chars_format::fixed);
  const size_t size = static_cast<size_t>(r.ptr - text);
  // digits[1..] holds the digits without the point; digits[0] is room for
  // a carry out of the first digit. d * 10^(point - n) is the magnitude.
  // The shortest text has at most 330 characters and the zeros added
  // below stop at point + kStrMaxLength, so everything fits.
  char digits[kFixedTextSize + 1];
  char* d = digits + 1;
  const char* dot = std::find(text, text + size, '.');
  int64_t point = dot - text;
  int64_t n = point;
  const char* end = text + size;
  std::copy(static_cast<const char*>(text), dot, d);
  if (dot != end) {
    std::copy(dot + 1, end, d + n);
    n += end - (dot + 1);
  }
  int64_t keep = point + decimals;  // leading digits that stay
  if (keep < n) {
    const bool up = keep >= 0 && d[keep] >= '5';
    n = std::max<int64_t>(keep, 0);
    if (up) {
      int64_t i = keep - 1;
      for (; i >= 0 && d[i] == '9'; --i) d[i] = '0';
      if (i >= 0) {
        ++d[i];
      } else {
        *--d = '1';
        ++n;
        ++point;
      }
    }
  }
  // Zeros up to the point (rounded tens, hundreds...) and up to the
  // decimals asked for.
  const int64_t wanted = point + std::max<int32_t>(decimals, 0);
  if (n < wanted) {
    std::fill(d + n, d + wanted, '0');
    n = wanted;
  }
  // The whole part without leading zeros ("0" when it is all zeros).
  int64_t first = 0;
  while (first < point && d[first] == '0') ++first;
  char* o = out;
  if (first == point) {
    *o++ = '0';
  } else {
    o = std::copy(d + first, d + point, o);
  }
  if (decimals > 0) {
    *o++ = '.';
    o = std::copy(d + point, d + point + decimals, o);
  }
  return static_cast<size_t>(o - out);
}

std::string RoundedFixed(double magnitude, int32_t decimals) {
  char text[kRoundedFixedSize];
  return std::string(text, RoundedFixedTo(magnitude, decimals, text));
}

double RoundDecimal(double number, int32_t decimals) {
  if (!std::isfinite(number) || decimals > kStrMaxLength) return number;
  // Past the digits a double holds every number is whole already.
  decimals = std::max<int32_t>(decimals, -400);
  std::string text = RoundedFixed(std::fabs(number), decimals);
  double magnitude = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), magnitude);
  return number < 0 ? -magnitude : magnitude;
}

double ReadNumberPrefix(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    negative = text[i++] == '-';
  auto is_digit = [&](size_t at) {
    return at < text.size() && text[at] >= '0' && text[at] <= '9';
  };
  std::string digits = "0";
  for (; is_digit(i); ++i) digits.push_back(text[i]);
  if (i < text.size() && text[i] == '.') {
    digits.push_back('.');
    for (++i; is_digit(i); ++i) digits.push_back(text[i]);
  }
  double number = 0.0;
  std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return negative ? -number : number;
}

std::string_view TrimLeft(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  return text.substr(i);
}

std::string_view TrimRight(std::string_view text) {
  size_t end = text.size();
  while (end > 0 && text[end - 1] == ' ') --end;
  return text.substr(0, end);
}

bool IsEmptyText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), IsWhiteSpace);
}

std::string Pad(std::string_view text, size_t width, char fill, PadSide side) {
  if (text.size() >= width) return std::string(text.substr(0, width));
  size_t missing = width - text.size();
  size_t left = side == PadSide::kLeft    ? missing
                : side == PadSide::kRight ? 0
                                          : missing / 2;
  std::string out(left, fill);
  out.append(text);
  out.append(missing - left, fill);
  return out;
}

void DescendBytes(std::string* text) {
  for (char& c : *text) c = static_cast<char>(-static_cast<unsigned char>(c));
}

void UpperAscii(std::string* text) {
  for (char& c : *text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

void LowerAscii(std::string* text) {
  for (char& c : *text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace qx::engine
