// The VM's 24 value-calculation entries.
//
// Comparisons order numbers by value (exact for integers, currencies and
// decimals; as long doubles once a float is involved), texts by UTF-16
// code unit with trailing blanks ignored, dates, times and date-times by
// day then milliseconds (a date is a date-time at midnight), binaries by
// byte then length; a null orders before everything. The flexible forms
// fold case and the accents of code page 1252 and ignore blanks at both
// ends; the very flexible prefix test keeps only letters and digits.
//
// Arithmetic: numbers give a double when a float is involved, else a
// currency, else a decimal, else a 64-bit integer; texts add by
// concatenation (UTF-16 when either is); a date or date-time moves by a
// number of days, and two of them subtract to a number of days.
#include <cmath>

#include "host/vm/value_codec.h"
#include "host/vm/vm.h"

namespace qx::vm {
namespace {

void SetBoolean(HostValue* result, bool value) {
  StoreFixed(result, kValueBoolean, value ? 1 : 0);
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string TrimRight(std::u16string text) {
  while (!text.empty() && IsBlank(text.back())) text.pop_back();
  return text;
}

std::u16string TrimBoth(std::u16string text) {
  text = TrimRight(std::move(text));
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  return text.substr(i);
}

// Upper case without accents, for the flexible comparisons.
char16_t FoldLetter(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) c = static_cast<char16_t>(c - 32);
  if (c >= 0xC0 && c <= 0xC5) return u'A';
  if (c == 0xC7) return u'C';
  if (c >= 0xC8 && c <= 0xCB) return u'E';
  if (c >= 0xCC && c <= 0xCF) return u'I';
  if (c == 0xD1) return u'N';
  if ((c >= 0xD2 && c <= 0xD6) || c == 0xD8) return u'O';
  if (c >= 0xD9 && c <= 0xDC) return u'U';
  if (c == 0xDD || c == 0xFF || c == 0x178) return u'Y';
  return c;
}

// Upper case, accents kept.
std::u16string UpperCase(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') {
      c = static_cast<char16_t>(c - 32);
    } else if (c >= 0xE0 && c <= 0xFE && c != 0xF7) {
      c = static_cast<char16_t>(c - 32);
    }
  }
  return text;
}

std::u16string Fold(const std::u16string& text) {
  std::u16string out;
  for (char16_t c : TrimBoth(text)) out += FoldLetter(c);
  return out;
}

std::u16string LettersAndDigits(const std::u16string& text) {
  std::u16string out;
  for (char16_t c : Fold(text)) {
    if ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c >= 0xC0) {
      out += c;
    }
  }
  return out;
}

bool IsDateLike(Family f) {
  return f == Family::kDate || f == Family::kDateTime;
}

bool Comparable(const Decoded& a, const Decoded& b) {
  if (a.family == Family::kNull || b.family == Family::kNull) return true;
  if (IsDateLike(a.family) && IsDateLike(b.family)) return true;
  return a.family == b.family && a.family != Family::kNone;
}

template <typename T>
int Sign(T a, T b) {
  return a < b ? -1 : (b < a ? 1 : 0);
}

int CompareNumbers(const Number& a, const Number& b) {
  if (!a.is_float && !b.is_float) {
    const int scale = a.scale > b.scale ? a.scale : b.scale;
    __int128 x = a.mantissa, y = b.mantissa;
    if (!__builtin_mul_overflow(x, PowerOfTen(scale - a.scale), &x) &&
        !__builtin_mul_overflow(y, PowerOfTen(scale - b.scale), &y)) {
      return Sign(x, y);
    }
  }
  return Sign(a.AsLongDouble(), b.AsLongDouble());
}

// Decodes both operands; false when either is malformed.
bool DecodeBoth(const HostValue* a, const HostValue* b, Decoded* x,
                Decoded* y) {
  return a != nullptr && b != nullptr && Decode(*a, x) && Decode(*b, y);
}

uint32_t CompareDecoded(const Decoded& a, const Decoded& b, int* c) {
  if (!Comparable(a, b)) return kHostIncompatible;
  if (a.family == Family::kNull || b.family == Family::kNull) {
    *c = Sign(a.family != Family::kNull, b.family != Family::kNull);
    return kHostOk;
  }
  switch (a.family) {
    case Family::kNumber:
      *c = CompareNumbers(a.number, b.number);
      return kHostOk;
    case Family::kText:
      *c = TrimRight(a.text).compare(TrimRight(b.text));
      *c = Sign(*c, 0);
      return kHostOk;
    case Family::kDate:
    case Family::kDateTime:
      *c = a.day != b.day ? Sign(a.day, b.day) : Sign(a.ms, b.ms);
      return kHostOk;
    case Family::kTime:
      *c = Sign(a.ms, b.ms);
      return kHostOk;
    case Family::kBinary:
      *c = Sign(a.bytes.compare(b.bytes), 0);
      return kHostOk;
    default:
      return kHostIncompatible;
  }
}

uint32_t CompareValues(const HostValue* a, const HostValue* b, int* c) {
  Decoded x, y;
  if (!DecodeBoth(a, b, &x, &y)) return kHostInvalid;
  return CompareDecoded(x, y, c);
}

using TextTest = bool (*)(const std::u16string& a, const std::u16string& b);

uint32_t TextPredicate(const HostValue* a, const HostValue* b,
                       HostValue* result, TextTest test) {
  Decoded x, y;
  if (result == nullptr || !DecodeBoth(a, b, &x, &y)) return kHostInvalid;
  if (x.family != Family::kText || y.family != Family::kText) {
    return kHostIncompatible;
  }
  SetBoolean(result, test(x.text, y.text));
  return kHostOk;
}

bool Truth(const Decoded& d) {
  switch (d.family) {
    case Family::kNumber:
      return d.number.is_float ? d.number.f != 0 : d.number.mantissa != 0;
    case Family::kText:
      return !TrimBoth(d.text).empty();
    case Family::kDate:
    case Family::kDateTime:
      return d.day != 0;
    case Family::kTime:
      return d.ms != 0;
    case Family::kBinary:
      return !d.bytes.empty();
    default:
      return false;
  }
}

enum class Op { kAdd, kSubtract, kMultiply, kDivide, kModulo };

uint8_t NumericResultType(uint8_t a, uint8_t b) {
  auto is = [&](uint8_t t) { return a == t || b == t; };
  if (is(kValueFloat) || is(kValueDouble)) return kValueDouble;
  if (is(kValueCurrency)) return kValueCurrency;
  if (is(kValueDecimal)) return kValueDecimal;
  return kValueInt64;
}

uint32_t Arithmetic(const Number& x, const Number& y, Op op, uint8_t type,
                    HostValue* result) {
  Decoded out;
  out.family = Family::kNumber;
  Number& r = out.number;
  const bool exact = !x.is_float && !y.is_float && op != Op::kDivide;
  bool overflow = false;
  if (exact) {
    const int scale = x.scale > y.scale ? x.scale : y.scale;
    __int128 a = x.mantissa, b = y.mantissa;
    overflow = __builtin_mul_overflow(a, PowerOfTen(scale - x.scale), &a) ||
               __builtin_mul_overflow(b, PowerOfTen(scale - y.scale), &b);
    r.scale = scale;
    switch (op) {
      case Op::kAdd:
        overflow = overflow || __builtin_add_overflow(a, b, &r.mantissa);
        break;
      case Op::kSubtract:
        overflow = overflow || __builtin_sub_overflow(a, b, &r.mantissa);
        break;
      case Op::kMultiply:
        overflow = overflow ||
                   __builtin_mul_overflow(x.mantissa, y.mantissa, &r.mantissa);
        r.scale = x.scale + y.scale;
        if (r.scale > kMaxDecimalDigits) {
          r.mantissa /= PowerOfTen(r.scale - kMaxDecimalDigits);
          r.scale = kMaxDecimalDigits;
        }
        break;
      case Op::kModulo:
        if (b == 0) return kHostDivideByZero;
        r.mantissa = a % b;
        break;
      case Op::kDivide:
        break;
    }
    if (overflow) return kHostOverflow;
  } else {
    const long double a = x.AsLongDouble();
    const long double b = y.AsLongDouble();
    long double v = 0;
    switch (op) {
      case Op::kAdd:
        v = a + b;
        break;
      case Op::kSubtract:
        v = a - b;
        break;
      case Op::kMultiply:
        v = a * b;
        break;
      case Op::kDivide:
        if (b == 0) return kHostDivideByZero;
        v = a / b;
        break;
      case Op::kModulo:
        if (b == 0) return kHostDivideByZero;
        v = std::fmod(a, b);
        break;
    }
    r.is_float = true;
    r.f = static_cast<double>(v);
    if (!std::isfinite(r.f)) return kHostOverflow;
  }
  const uint8_t scale = static_cast<uint8_t>(r.is_float ? 0 : r.scale);
  return Encode(out, type, type == kValueDecimal ? scale : 0, result);
}

uint32_t Calculate(const HostValue* a, const HostValue* b, HostValue* result,
                   Op op) {
  Decoded x, y;
  if (result == nullptr || !DecodeBoth(a, b, &x, &y)) return kHostInvalid;
  if (x.family == Family::kNumber && y.family == Family::kNumber) {
    const uint8_t type = op == Op::kDivide
                             ? static_cast<uint8_t>(kValueDouble)
                             : NumericResultType(a->type, b->type);
    return Arithmetic(x.number, y.number, op, type, result);
  }
  if (op == Op::kAdd && x.family == Family::kText &&
      y.family == Family::kText) {
    Decoded sum;
    sum.family = Family::kText;
    sum.text = x.text + y.text;
    const bool unicode = IsUnicodeText(a->type) || IsUnicodeText(b->type);
    return Encode(sum, unicode ? kValueUnicodeText : kValueText, 0, result);
  }
  if (IsDateLike(x.family) && y.family == Family::kNumber &&
      (op == Op::kAdd || op == Op::kSubtract)) {
    const long double days = y.number.AsLongDouble();
    long double ms = static_cast<long double>(x.day) * 86400000.0L + x.ms +
                     (op == Op::kAdd ? days : -days) * 86400000.0L;
    ms = std::round(ms);
    Decoded moved;
    moved.family = x.family;
    moved.day = static_cast<int32_t>(std::floor(ms / 86400000.0L));
    moved.ms = static_cast<uint32_t>(ms - moved.day * 86400000.0L);
    uint32_t code = Encode(moved, a->type, 0, result);
    if (x.family == Family::kDate && moved.ms != 0 && !HostFailed(code)) {
      code = kHostRounded;
    }
    return code;
  }
  if (IsDateLike(x.family) && IsDateLike(y.family) && op == Op::kSubtract) {
    if (x.family == Family::kDate && y.family == Family::kDate) {
      StoreFixed(result, kValueInt32, x.day - y.day);
      return kHostOk;
    }
    const long double ms =
        (static_cast<long double>(x.day) - y.day) * 86400000.0L +
        (static_cast<long double>(x.ms) - y.ms);
    *result = DoubleValue(static_cast<double>(ms / 86400000.0L));
    return kHostOk;
  }
  return kHostIncompatible;
}

// a = a op b, keeping a's type (a decimal keeps its scale).
uint32_t InPlace(HostValue* a, const HostValue* b, Op op) {
  if (a == nullptr) return kHostInvalid;
  HostValue sum;
  const uint32_t code = Calculate(a, b, &sum, op);
  if (HostFailed(code)) return code;
  HostValue kept;
  kept.scale = a->scale;
  const uint32_t converted = Convert(&sum, &kept, a->type, 0);
  EndConversion(&sum);
  if (HostFailed(converted)) return converted;
  EndConversion(a);
  *a = kept;
  return code > converted ? code : converted;
}

}  // namespace

int32_t CanCompare(const HostValue* a, const HostValue* b) {
  Decoded x, y;
  return DecodeBoth(a, b, &x, &y) && Comparable(x, y) ? 1 : 0;
}

uint32_t AddInPlace(HostValue* a, const HostValue* b) {
  return InPlace(a, b, Op::kAdd);
}
uint32_t SubtractInPlace(HostValue* a, const HostValue* b) {
  return InPlace(a, b, Op::kSubtract);
}
uint32_t MultiplyInPlace(HostValue* a, const HostValue* b) {
  return InPlace(a, b, Op::kMultiply);
}
uint32_t DivideInPlace(HostValue* a, const HostValue* b) {
  return InPlace(a, b, Op::kDivide);
}
uint32_t ModuloInPlace(HostValue* a, const HostValue* b) {
  return InPlace(a, b, Op::kModulo);
}

uint32_t Compare(const HostValue* a, const HostValue* b, HostValue* result) {
  int c = 0;
  if (result == nullptr) return kHostInvalid;
  const uint32_t code = CompareValues(a, b, &c);
  if (!HostFailed(code)) StoreFixed(result, kValueInt32, c);
  return code;
}

uint32_t Equal(const HostValue* a, const HostValue* b, HostValue* result) {
  int c = 0;
  if (result == nullptr) return kHostInvalid;
  const uint32_t code = CompareValues(a, b, &c);
  if (!HostFailed(code)) SetBoolean(result, c == 0);
  return code;
}

uint32_t Greater(const HostValue* a, const HostValue* b, HostValue* result) {
  int c = 0;
  if (result == nullptr) return kHostInvalid;
  const uint32_t code = CompareValues(a, b, &c);
  if (!HostFailed(code)) SetBoolean(result, c > 0);
  return code;
}

uint32_t Less(const HostValue* a, const HostValue* b, HostValue* result) {
  int c = 0;
  if (result == nullptr) return kHostInvalid;
  const uint32_t code = CompareValues(a, b, &c);
  if (!HostFailed(code)) SetBoolean(result, c < 0);
  return code;
}

// Numbers within a relative 1e-9; texts equal without regard to case.
uint32_t AlmostEqual(const HostValue* a, const HostValue* b,
                     HostValue* result) {
  Decoded x, y;
  if (result == nullptr || !DecodeBoth(a, b, &x, &y)) return kHostInvalid;
  if (x.family == Family::kNumber && y.family == Family::kNumber) {
    const long double p = x.number.AsLongDouble();
    const long double q = y.number.AsLongDouble();
    long double scale =
        std::fabs(p) > std::fabs(q) ? std::fabs(p) : std::fabs(q);
    if (scale < 1) scale = 1;
    SetBoolean(result, std::fabs(p - q) <= 1e-9L * scale);
    return kHostOk;
  }
  if (x.family == Family::kText && y.family == Family::kText) {
    SetBoolean(result,
               UpperCase(TrimRight(x.text)) == UpperCase(TrimRight(y.text)));
    return kHostOk;
  }
  int c = 0;
  const uint32_t code = CompareDecoded(x, y, &c);
  if (!HostFailed(code)) SetBoolean(result, c == 0);
  return code;
}

uint32_t FlexibleEqual(const HostValue* a, const HostValue* b,
                       HostValue* result) {
  Decoded x, y;
  if (result == nullptr || !DecodeBoth(a, b, &x, &y)) return kHostInvalid;
  if (x.family == Family::kText && y.family == Family::kText) {
    SetBoolean(result, Fold(x.text) == Fold(y.text));
    return kHostOk;
  }
  int c = 0;
  const uint32_t code = CompareDecoded(x, y, &c);
  if (!HostFailed(code)) SetBoolean(result, c == 0);
  return code;
}

uint32_t StartsWith(const HostValue* a, const HostValue* b, HostValue* result) {
  return TextPredicate(a, b, result,
                       [](const std::u16string& x, const std::u16string& y) {
                         const std::u16string prefix = TrimRight(y);
                         return x.compare(0, prefix.size(), prefix) == 0;
                       });
}

uint32_t FlexibleStartsWith(const HostValue* a, const HostValue* b,
                            HostValue* result) {
  return TextPredicate(a, b, result,
                       [](const std::u16string& x, const std::u16string& y) {
                         const std::u16string text = Fold(x);
                         const std::u16string prefix = Fold(y);
                         return text.compare(0, prefix.size(), prefix) == 0;
                       });
}

uint32_t VeryFlexibleStartsWith(const HostValue* a, const HostValue* b,
                                HostValue* result) {
  return TextPredicate(a, b, result,
                       [](const std::u16string& x, const std::u16string& y) {
                         const std::u16string text = LettersAndDigits(x);
                         const std::u16string prefix = LettersAndDigits(y);
                         return text.compare(0, prefix.size(), prefix) == 0;
                       });
}

uint32_t And(const HostValue* a, const HostValue* b, HostValue* result) {
  Decoded x, y;
  if (result == nullptr || !DecodeBoth(a, b, &x, &y)) return kHostInvalid;
  SetBoolean(result, Truth(x) && Truth(y));
  return kHostOk;
}

uint32_t Or(const HostValue* a, const HostValue* b, HostValue* result) {
  Decoded x, y;
  if (result == nullptr || !DecodeBoth(a, b, &x, &y)) return kHostInvalid;
  SetBoolean(result, Truth(x) || Truth(y));
  return kHostOk;
}

uint32_t Not(const HostValue* a, const HostValue* /*b*/, HostValue* result) {
  Decoded x;
  if (a == nullptr || result == nullptr || !Decode(*a, &x)) {
    return kHostInvalid;
  }
  SetBoolean(result, !Truth(x));
  return kHostOk;
}

uint32_t Negate(const HostValue* a, const HostValue* /*b*/, HostValue* result) {
  Decoded x;
  if (a == nullptr || result == nullptr || !Decode(*a, &x)) {
    return kHostInvalid;
  }
  if (x.family != Family::kNumber) return kHostIncompatible;
  x.number.mantissa = -x.number.mantissa;
  x.number.f = -x.number.f;
  return Encode(x, a->type, a->scale, result);
}

uint32_t Add(const HostValue* a, const HostValue* b, HostValue* result) {
  return Calculate(a, b, result, Op::kAdd);
}
uint32_t Subtract(const HostValue* a, const HostValue* b, HostValue* result) {
  return Calculate(a, b, result, Op::kSubtract);
}
uint32_t Multiply(const HostValue* a, const HostValue* b, HostValue* result) {
  return Calculate(a, b, result, Op::kMultiply);
}
uint32_t Divide(const HostValue* a, const HostValue* b, HostValue* result) {
  return Calculate(a, b, result, Op::kDivide);
}
uint32_t Modulo(const HostValue* a, const HostValue* b, HostValue* result) {
  return Calculate(a, b, result, Op::kModulo);
}

}  // namespace qx::vm
