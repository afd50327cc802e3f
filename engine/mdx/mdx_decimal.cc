// The packed decimal of MDX numeric keys (see mdx_decimal.h).
#include "engine/mdx/mdx_decimal.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace qx::engine {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Appends digits to the packed area; at most kMdxDecimalMaxDigits fit.
class DigitPacker {
 public:
  explicit DigitPacker(uint8_t* digits) : digits_(digits) {}
  void Add(char digit) {
    if (count_ >= kMdxDecimalMaxDigits) return;
    const uint8_t nibble = static_cast<uint8_t>(digit - '0');
    digits_[count_ / 2] |=
        static_cast<uint8_t>(count_ % 2 == 0 ? nibble << 4 : nibble);
    ++count_;
  }
  uint32_t count() const { return count_; }

 private:
  uint8_t* digits_;
  uint32_t count_ = 0;
};

}  // namespace

void EncodeMdxDecimalText(std::string_view text, uint8_t* out) {
  std::memset(out, 0, kMdxDecimalSize);
  uint8_t exponent = kMdxDecimalExponentBase;
  out[kMdxDecimalSignOffset] = kMdxDecimalPositive;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && text[i] == ' ') ++i;
  if (i < n && text[i] == '-') {
    out[kMdxDecimalSignOffset] = kMdxDecimalNegative;
    ++i;
  } else if (i < n && text[i] == '+') {
    ++i;
  }
  while (i < n && text[i] == '0') ++i;
  DigitPacker packer(out + kMdxDecimalDigitsOffset);
  uint32_t before_point = 0;
  while (i < n && IsDigit(text[i])) {
    packer.Add(text[i++]);
    ++before_point;
  }
  if (i < n && text[i] == '.') {
    ++i;
    if (before_point == 0) {
      // The point first: its zeros lower the exponent instead.
      uint32_t zeros = 0;
      while (i < n && text[i] == '0') {
        ++i;
        ++zeros;
      }
      exponent = static_cast<uint8_t>(exponent - zeros);
    }
    while (i < n && IsDigit(text[i])) packer.Add(text[i++]);
  }
  out[kMdxDecimalExponentOffset] =
      static_cast<uint8_t>(exponent + before_point);
}

void EncodeMdxDecimal(double value, uint8_t* out) {
  if (value == 0.0) value = 0.0;  // -0.0 prints with a sign
  if (std::isnan(value)) value = std::numeric_limits<double>::quiet_NaN();
  // The "%lf" text, without the locale's decimal separator: fixed
  // notation, six decimals, correctly rounded. The longest is 309 integer
  // digits, sign, point and 6 decimals.
  char text[330];
  auto result = std::to_chars(text, text + sizeof text, value,
                              std::chars_format::fixed, 6);
  const size_t length =
      result.ec == std::errc() ? static_cast<size_t>(result.ptr - text) : 0;
  EncodeMdxDecimalText(std::string_view(text, length), out);
}

int CompareMdxDecimals(const uint8_t* a, const uint8_t* b) {
  const bool a_negative = (a[kMdxDecimalSignOffset] & kMdxDecimalSignBit) != 0;
  const bool b_negative = (b[kMdxDecimalSignOffset] & kMdxDecimalSignBit) != 0;
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  int order = 0;
  if (a[kMdxDecimalExponentOffset] != b[kMdxDecimalExponentOffset]) {
    order =
        a[kMdxDecimalExponentOffset] < b[kMdxDecimalExponentOffset] ? -1 : 1;
  } else {
    order = std::memcmp(a + kMdxDecimalDigitsOffset,
                        b + kMdxDecimalDigitsOffset, kMdxDecimalDigitsSize);
    order = order < 0 ? -1 : (order > 0 ? 1 : 0);
  }
  return a_negative ? -order : order;
}

double DecodeMdxDecimal(const uint8_t* key) {
  double digits = 0.0;
  for (uint32_t d = 0; d < kMdxDecimalMaxDigits; ++d) {
    const uint8_t byte = key[kMdxDecimalDigitsOffset + d / 2];
    const int nibble = d % 2 == 0 ? byte >> 4 : byte & 0x0F;
    digits = digits * 10 + nibble;
  }
  // digits holds 0.d1...d20 * 10^20.
  const int exponent = static_cast<int>(key[kMdxDecimalExponentOffset]) -
                       kMdxDecimalExponentBase -
                       static_cast<int>(kMdxDecimalMaxDigits);
  const double value = digits * std::pow(10.0, exponent);
  return (key[kMdxDecimalSignOffset] & kMdxDecimalSignBit) ? -value : value;
}

}  // namespace qx::engine
