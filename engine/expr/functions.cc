// The built-in functions' computations (see functions.h).
#include "engine/expr/functions.h"

#include <bit>
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
                     std::string* out) {
  if (length < 1 || length > kStrMaxLength || decimals < 0)
    return kKbdErrKeyExpression;
  const size_t width = static_cast<size_t>(length);
  // Fixed notation of the largest double has 309 digits; with the sign,
  // the point and at most kStrMaxLength decimals it fits in 640 bytes.
  char digits[640];
  std::to_chars_result r{digits, std::errc::value_too_large};
  // More decimals than the width can never fit: skip formatting them.
  if (std::isfinite(number) && decimals <= length) {
    // Halfway cases round away from zero (STR(12.5) is "13"): the next
    // double away from zero is no longer a tie and rounds that way.
    if (IsDecimalTie(number, decimals)) {
      constexpr double kInfinity = std::numeric_limits<double>::infinity();
      number = std::nextafter(number, number > 0 ? kInfinity : -kInfinity);
    }
    r = std::to_chars(digits, digits + sizeof(digits), number,
                      std::chars_format::fixed, decimals);
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

void UpperAscii(std::string* text) {
  for (char& c : *text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

void LowerAscii(std::string* text) {
  for (char& c : *text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace qx::engine
