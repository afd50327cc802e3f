// Decoding and encoding of host values (see value_codec.h).
//
// Divisions: fixed bytes; numbers; texts; dates and times; Decode; Encode.
#include "host/vm/value_codec.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/vm/vm.h"
#include "platform/platform.h"

namespace qx::vm {
namespace {

constexpr __int128 kCurrencyLimit = static_cast<__int128>(1) << 79;

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::u16string Ascii(const char* text) {
  std::u16string out;
  while (*text != '\0') out += static_cast<char16_t>(*text++);
  return out;
}

__int128 Abs(__int128 v) { return v < 0 ? -v : v; }

// Rescales m from scale `from` to scale `to`; halves round away from zero.
uint32_t Rescale(__int128 m, int from, int to, __int128 limit, __int128* out) {
  uint32_t result = kHostOk;
  if (to >= from) {
    const __int128 factor = PowerOfTen(to - from);
    if (Abs(m) > limit / factor) return kHostOverflow;
    m *= factor;
  } else {
    const __int128 factor = PowerOfTen(from - to);
    const __int128 quotient = m / factor;
    const __int128 remainder = m % factor;
    m = quotient;
    if (remainder != 0) {
      result = kHostRounded;
      if (Abs(remainder) * 2 >= factor) m += remainder < 0 ? -1 : 1;
    }
  }
  if (Abs(m) >= limit) return kHostOverflow;
  *out = m;
  return result;
}

// The integer part of a number, cut toward zero.
uint32_t IntegerOf(const Number& n, __int128* out) {
  if (n.is_float) {
    if (!std::isfinite(n.f)) return kHostOverflow;
    const double t = std::trunc(n.f);
    if (std::fabs(t) >= 1.7e38) return kHostOverflow;
    *out = static_cast<__int128>(t);
    return t != n.f ? kHostRounded : kHostOk;
  }
  const __int128 factor = PowerOfTen(n.scale);
  *out = n.mantissa / factor;
  return n.mantissa % factor != 0 ? kHostRounded : kHostOk;
}

// An exact scaled integer of `scale` digits, below limit in magnitude.
uint32_t ScaledOf(const Number& n, int scale, __int128 limit, __int128* out) {
  if (!n.is_float) return Rescale(n.mantissa, n.scale, scale, limit, out);
  if (!std::isfinite(n.f)) return kHostOverflow;
  const long double x = static_cast<long double>(n.f) *
                        static_cast<long double>(PowerOfTen(scale));
  const long double r = std::round(x);
  if (std::fabs(r) >= static_cast<long double>(limit)) return kHostOverflow;
  *out = static_cast<__int128>(r);
  return r != x ? kHostRounded : kHostOk;
}

std::u16string IntegerText(__int128 v) {
  if (v == 0) return u"0";
  std::u16string digits;
  const bool negative = v < 0;
  while (v != 0) {
    const int digit = static_cast<int>(v % 10);
    digits.insert(digits.begin(),
                  static_cast<char16_t>(u'0' + (digit < 0 ? -digit : digit)));
    v /= 10;
  }
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

std::u16string ScaledText(__int128 m, int scale, bool drop_zeros) {
  if (scale == 0) return IntegerText(m);
  const __int128 factor = PowerOfTen(scale);
  std::u16string whole = IntegerText(Abs(m) / factor);
  std::u16string fraction = IntegerText(Abs(m) % factor);
  fraction.insert(0, static_cast<size_t>(scale) - fraction.size(), u'0');
  if (drop_zeros) {
    while (!fraction.empty() && fraction.back() == u'0') fraction.pop_back();
  }
  std::u16string text = m < 0 ? u"-" + whole : whole;
  if (!fraction.empty()) text += u"." + fraction;
  return text;
}

// Shortest of 15 or 17 significant digits that reads back.
std::u16string FloatText(double f) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", f);
  if (std::strtod(buffer, nullptr) != f) {
    std::snprintf(buffer, sizeof buffer, "%.17g", f);
  }
  return Ascii(buffer);
}

std::u16string NumberText(const Number& n, uint8_t source_type) {
  if (n.is_float) return FloatText(n.f);
  return ScaledText(n.mantissa, n.scale, source_type == kValueCurrency);
}

// Digits at [pos, pos + count) of text as a number; false when any is not
// a digit.
bool Digits(std::u16string_view text, size_t pos, size_t count, int* out) {
  if (pos + count > text.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + count; ++i) {
    if (text[i] < u'0' || text[i] > u'9') return false;
    v = v * 10 + (text[i] - u'0');
  }
  *out = v;
  return true;
}

bool ValidDate(int y, int m, int d) {
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  int32_t day = JulianDay(y, m, d);
  int yy, mm, dd;
  CivilDate(day, &yy, &mm, &dd);
  return yy == y && mm == m && dd == d;
}

// YYYYMMDD[HH[MM[SS[mmm]]]]; an empty text is the empty date.
uint32_t ParseDateTime(std::u16string_view text, int32_t* day, uint32_t* ms) {
  text = Trim(text);
  *day = 0;
  *ms = 0;
  if (text.empty()) return kHostOk;
  int y, m, d;
  if (!Digits(text, 0, 4, &y) || !Digits(text, 4, 2, &m) ||
      !Digits(text, 6, 2, &d) || !ValidDate(y, m, d)) {
    return kHostInvalid;
  }
  *day = JulianDay(y, m, d);
  const std::u16string_view time = text.substr(8);
  if (time.empty()) return kHostOk;
  int hh = 0, mi = 0, ss = 0, mss = 0;
  const size_t n = time.size();
  if ((n != 2 && n != 4 && n != 6 && n != 9) || !Digits(time, 0, 2, &hh) ||
      (n >= 4 && !Digits(time, 2, 2, &mi)) ||
      (n >= 6 && !Digits(time, 4, 2, &ss)) ||
      (n == 9 && !Digits(time, 6, 3, &mss)) || hh > 23 || mi > 59 || ss > 59) {
    return kHostInvalid;
  }
  *ms = static_cast<uint32_t>(((hh * 60 + mi) * 60 + ss) * 1000 + mss);
  return kHostOk;
}

// HHMMSS[mmm] or HHMM.
uint32_t ParseTime(std::u16string_view text, uint32_t* ms) {
  int32_t day;
  std::u16string with_date = u"20000101" + std::u16string(Trim(text));
  if (Trim(text).empty()) {
    *ms = 0;
    return kHostOk;
  }
  return ParseDateTime(with_date, &day, ms);
}

std::u16string DateText(int32_t day) {
  if (day == 0) return u"";
  int y, m, d;
  CivilDate(day, &y, &m, &d);
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d", y % 10000, m, d);
  return Ascii(buffer);
}

std::u16string TimeText(uint32_t ms) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%02u%02u%02u%03u", ms / 3600000,
                ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
  return Ascii(buffer);
}

bool ParseBoolean(std::u16string_view text, bool* out) {
  text = Trim(text);
  std::u16string lower;
  for (char16_t c : text) {
    lower += (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
  }
  if (lower == u"true" || lower == u"vrai") {
    *out = true;
    return true;
  }
  if (lower == u"false" || lower == u"faux" || lower.empty()) {
    *out = false;
    return true;
  }
  Number n;
  if (HostFailed(ParseNumber(text, &n))) return false;
  *out = n.is_float ? n.f != 0 : n.mantissa != 0;
  return true;
}

void AllocateBytes(HostValue* target, const void* bytes, size_t size) {
  auto* data = static_cast<uint8_t*>(std::malloc(size + 2));
  if (data == nullptr) return;
  if (size > 0) std::memcpy(data, bytes, size);
  data[size] = 0;
  data[size + 1] = 0;
  target->data = data;
  target->size = static_cast<uint32_t>(size);
  target->state |= kValueStateOwned;
}

// The text form of any decoded value.
std::u16string TextForm(const Decoded& d) {
  switch (d.family) {
    case Family::kNumber:
      return NumberText(d.number, d.type);
    case Family::kText:
      return d.text;
    case Family::kDate:
      return DateText(d.day);
    case Family::kTime:
      return TimeText(d.ms);
    case Family::kDateTime:
      return d.day == 0 ? u"" : DateText(d.day) + TimeText(d.ms);
    case Family::kBinary:
      return platform::AnsiToUtf16(d.bytes);
    default:
      return u"";
  }
}

uint32_t Worse(uint32_t a, uint32_t b) { return a > b ? a : b; }

}  // namespace

long double Number::AsLongDouble() const {
  if (is_float) return f;
  return static_cast<long double>(mantissa) /
         static_cast<long double>(PowerOfTen(scale));
}

__int128 PowerOfTen(int n) {
  __int128 v = 1;
  for (int i = 0; i < n; ++i) v *= 10;
  return v;
}

uint32_t FixedWidth(uint8_t type) {
  switch (type) {
    case kValueBoolean:
    case kValueUInt8:
    case kValueInt8:
    case kValueChar:
      return 1;
    case kValueUInt16:
    case kValueInt16:
      return 2;
    case kValueUInt32:
    case kValueInt32:
    case kValueFloat:
    case kValueDate:
    case kValueTime:
      return 4;
    case kValueUInt64:
    case kValueInt64:
    case kValueInt64Alt:
    case kValueDouble:
    case kValueDateTime:
      return 8;
    case kValueCurrency:
      return 10;
    case kValueDecimal:
      return 16;
    default:
      return 0;
  }
}

Family FamilyOf(uint8_t type) {
  switch (type) {
    case kValueBoolean:
    case kValueUInt8:
    case kValueUInt16:
    case kValueUInt32:
    case kValueUInt64:
    case kValueInt8:
    case kValueInt16:
    case kValueInt32:
    case kValueInt64:
    case kValueInt64Alt:
    case kValueCurrency:
    case kValueFloat:
    case kValueDouble:
    case kValueDecimal:
      return Family::kNumber;
    case kValueDate:
      return Family::kDate;
    case kValueTime:
      return Family::kTime;
    case kValueDateTime:
      return Family::kDateTime;
    case kValueBinary:
    case kValueRawBinary:
    case kValueRawBinaryAlt:
      return Family::kBinary;
    case kValueNull:
      return Family::kNull;
    default:
      return IsTextValueType(type) ? Family::kText : Family::kNone;
  }
}

bool IsUnicodeText(uint8_t type) {
  return type == kValueUnicodeText || type == kValueFixedUnicode ||
         type == kValueUnicodeMemo;
}

void StoreFixed(HostValue* value, uint8_t type, __int128 bits) {
  const uint32_t width = FixedWidth(type);
  value->type = type;
  value->size = width;
  value->data = nullptr;
  value->fixed = {};
  for (uint32_t i = 0; i < width; ++i) {
    value->fixed.bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

__int128 LoadSigned(const HostValue& value, uint32_t width) {
  unsigned __int128 bits = 0;
  for (uint32_t i = 0; i < width; ++i) {
    bits |= static_cast<unsigned __int128>(value.fixed.bytes[i]) << (8 * i);
  }
  const unsigned shift = 128 - 8 * width;
  return static_cast<__int128>(bits << shift) >> shift;
}

uint32_t ParseNumber(std::u16string_view text, Number* out) {
  text = Trim(text);
  *out = Number();
  if (text.empty()) return kHostOk;
  std::string ascii;
  bool digit_seen = false;
  bool exponent = false;
  for (char16_t c : text) {
    if (c >= u'0' && c <= u'9') {
      digit_seen = true;
    } else if (c == u',') {
      c = u'.';
    } else if (c == u'e' || c == u'E') {
      exponent = true;
    } else if (c != u'+' && c != u'-' && c != u'.') {
      return kHostInvalid;
    }
    ascii += static_cast<char>(c);
  }
  if (!digit_seen) return kHostInvalid;
  char* end = nullptr;
  const double f = std::strtod(ascii.c_str(), &end);
  if (end != ascii.c_str() + ascii.size()) return kHostInvalid;
  // Exact form: [sign] digits [. digits], at most 38 digits.
  size_t i = 0;
  bool negative = false;
  if (ascii[i] == '+' || ascii[i] == '-') negative = ascii[i++] == '-';
  __int128 m = 0;
  int digits = 0;
  int scale = 0;
  bool point = false;
  bool exact = !exponent;
  for (; exact && i < ascii.size(); ++i) {
    const char c = ascii[i];
    if (c == '.' && !point) {
      point = true;
    } else if (c >= '0' && c <= '9') {
      if (m != 0 || c != '0') ++digits;
      if (digits > kMaxDecimalDigits) {
        exact = false;
        break;
      }
      m = m * 10 + (c - '0');
      if (point) ++scale;
    } else {
      exact = false;
    }
  }
  if (exact) {
    out->mantissa = negative ? -m : m;
    out->scale = scale;
    return kHostOk;
  }
  out->is_float = true;
  out->f = f;
  return std::isfinite(f) ? kHostOk : kHostOverflow;
}

bool Decode(const HostValue& value, Decoded* out) {
  *out = Decoded();
  out->type = value.type;
  if (value.type == kValueNull || (value.state & kValueStateNull) != 0) {
    out->family = Family::kNull;
    return true;
  }
  out->family = FamilyOf(value.type);
  const auto* bytes = static_cast<const char*>(value.data);
  switch (out->family) {
    case Family::kNumber: {
      Number& n = out->number;
      switch (value.type) {
        case kValueFloat:
          n.is_float = true;
          n.f = value.fixed.f32;
          break;
        case kValueDouble:
          n.is_float = true;
          n.f = value.fixed.f64;
          break;
        case kValueCurrency:
          n.mantissa = LoadSigned(value, 10);
          n.scale = 4;
          break;
        case kValueDecimal:
          if (value.scale > kMaxDecimalDigits) return false;
          n.mantissa = LoadSigned(value, 16);
          n.scale = value.scale;
          break;
        case kValueBoolean:
          n.mantissa = value.fixed.bytes[0] != 0 ? 1 : 0;
          break;
        case kValueUInt8:
        case kValueUInt16:
        case kValueUInt32:
        case kValueUInt64: {
          const uint32_t width = FixedWidth(value.type);
          unsigned __int128 bits = 0;
          for (uint32_t i = 0; i < width; ++i) {
            bits |= static_cast<unsigned __int128>(value.fixed.bytes[i])
                    << (8 * i);
          }
          n.mantissa = static_cast<__int128>(bits);
          break;
        }
        default:
          n.mantissa = LoadSigned(value, FixedWidth(value.type));
          break;
      }
      return true;
    }
    case Family::kText:
      if (value.type == kValueChar) {
        const char c = static_cast<char>(value.fixed.bytes[0]);
        out->text =
            c == '\0' ? u"" : platform::AnsiToUtf16(std::string_view(&c, 1));
        out->ansi_text = true;
        return true;
      }
      if (bytes == nullptr && value.size != 0) return false;
      if (IsUnicodeText(value.type)) {
        if (value.size % 2 != 0) return false;
        for (uint32_t i = 0; i < value.size; i += 2) {
          out->text +=
              static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                    static_cast<uint8_t>(bytes[i + 1]) << 8);
        }
      } else {
        out->text = platform::AnsiToUtf16(std::string_view(bytes, value.size));
        out->ansi_text = true;
      }
      if (value.type == kValueFixedText || value.type == kValueFixedUnicode) {
        while (!out->text.empty() && out->text.back() == u' ') {
          out->text.pop_back();
        }
      }
      return true;
    case Family::kDate:
      out->day = static_cast<int32_t>(LoadSigned(value, 4));
      return true;
    case Family::kTime:
      out->ms = static_cast<uint32_t>(LoadSigned(value, 4));
      return out->ms < 86400000u;
    case Family::kDateTime:
      out->day = static_cast<int32_t>(LoadSigned(value, 4));
      out->ms = value.fixed.bytes[4] | value.fixed.bytes[5] << 8 |
                value.fixed.bytes[6] << 16 |
                static_cast<uint32_t>(value.fixed.bytes[7]) << 24;
      return out->ms < 86400000u;
    case Family::kBinary:
      if (bytes == nullptr && value.size != 0) return false;
      out->bytes.assign(bytes == nullptr ? "" : bytes, value.size);
      return true;
    default:
      return false;
  }
}

bool EncodeDouble(double f, uint8_t type, HostValue* target,
                  uint32_t* result) {
  Number n;
  n.is_float = true;
  n.f = f;
  __int128 v = 0;
  uint32_t code = kHostOk;
  switch (type) {
    case kValueInt8:
    case kValueInt16:
    case kValueInt32:
    case kValueInt64: {
      code = IntegerOf(n, &v);
      const uint32_t width = FixedWidth(type);
      const __int128 one = 1;
      if (!HostFailed(code) && (v < -(one << (8 * width - 1)) ||
                                v > (one << (8 * width - 1)) - 1))
        code = kHostOverflow;
      break;
    }
    case kValueCurrency:
      code = ScaledOf(n, 4, kCurrencyLimit, &v);
      break;
    default:
      return false;
  }
  if (!HostFailed(code)) {
    *target = HostValue();
    StoreFixed(target, type, v);
  }
  *result = code;
  return true;
}

uint32_t Encode(const Decoded& d, uint8_t type, uint8_t scale,
                HostValue* target) {
  *target = HostValue();
  target->type = type;
  if (d.family == Family::kNull) {
    target->state = kValueStateNull;
    target->size = FixedWidth(type);
    return kHostOk;
  }
  const Family family = FamilyOf(type);
  // Texts of another family are read as the target's family.
  Decoded parsed;
  const Decoded* from = &d;
  uint32_t result = kHostOk;
  if (d.family == Family::kText && family != Family::kText &&
      family != Family::kBinary) {
    parsed.family = family;
    if (family == Family::kNumber) {
      if (type == kValueBoolean) {
        bool b;
        if (!ParseBoolean(d.text, &b)) return kHostInvalid;
        parsed.number.mantissa = b ? 1 : 0;
      } else {
        result = ParseNumber(d.text, &parsed.number);
      }
    } else if (family == Family::kDate || family == Family::kDateTime) {
      result = ParseDateTime(d.text, &parsed.day, &parsed.ms);
      if (family == Family::kDate && parsed.ms != 0) {
        parsed.ms = 0;
        result = Worse(result, kHostRounded);
      }
    } else if (family == Family::kTime) {
      result = ParseTime(d.text, &parsed.ms);
    } else {
      return kHostIncompatible;
    }
    if (HostFailed(result)) return result;
    from = &parsed;
  }
  switch (family) {
    case Family::kNumber: {
      if (from->family != Family::kNumber) return kHostIncompatible;
      const Number& n = from->number;
      if (type == kValueFloat || type == kValueDouble) {
        const long double x = n.AsLongDouble();
        if (type == kValueFloat) {
          if (std::isfinite(x) && std::fabs(x) > FLT_MAX) return kHostOverflow;
          target->fixed.f32 = static_cast<float>(x);
          if (static_cast<long double>(target->fixed.f32) != x) {
            result = Worse(result, kHostRounded);
          }
          target->size = 4;
        } else {
          target->fixed.f64 = static_cast<double>(x);
          target->size = 8;
        }
        return result;
      }
      __int128 v = 0;
      if (type == kValueCurrency) {
        result = Worse(result, ScaledOf(n, 4, kCurrencyLimit, &v));
      } else if (type == kValueDecimal) {
        if (scale > kMaxDecimalDigits) return kHostInvalid;
        result = Worse(result, ScaledOf(n, scale, PowerOfTen(38), &v));
        target->scale = scale;
      } else if (type == kValueBoolean) {
        v = n.is_float ? (n.f != 0) : (n.mantissa != 0);
      } else {
        result = Worse(result, IntegerOf(n, &v));
        const uint32_t width = FixedWidth(type);
        const bool is_unsigned = type == kValueUInt8 || type == kValueUInt16 ||
                                 type == kValueUInt32 || type == kValueUInt64;
        const __int128 one = 1;
        const __int128 low = is_unsigned ? 0 : -(one << (8 * width - 1));
        const __int128 high = is_unsigned ? (one << (8 * width)) - 1
                                          : (one << (8 * width - 1)) - 1;
        if (v < low || v > high) return kHostOverflow;
      }
      if (HostFailed(result)) return result;
      const uint8_t kept_scale = target->scale;
      StoreFixed(target, type, v);
      target->scale = kept_scale;
      return result;
    }
    case Family::kText: {
      const std::u16string text = TextForm(*from);
      if (type == kValueChar) {
        if (text.size() > 1) return kHostOverflow;
        bool lossy = false;
        const std::string ansi = platform::Utf16ToAnsi(text, '?', &lossy);
        StoreFixed(target, type,
                   ansi.empty() ? 0 : static_cast<uint8_t>(ansi[0]));
        return lossy ? kHostRounded : kHostOk;
      }
      if (IsUnicodeText(type)) {
        std::string bytes;
        for (char16_t c : text) {
          bytes += static_cast<char>(c & 0xFF);
          bytes += static_cast<char>(c >> 8);
        }
        AllocateBytes(target, bytes.data(), bytes.size());
      } else {
        bool lossy = false;
        const std::string ansi = platform::Utf16ToAnsi(text, '?', &lossy);
        AllocateBytes(target, ansi.data(), ansi.size());
        if (lossy) result = Worse(result, kHostRounded);
      }
      return target->data == nullptr ? kHostNoMemory : result;
    }
    case Family::kDate:
    case Family::kDateTime:
    case Family::kTime: {
      int32_t day = 0;
      uint32_t ms = 0;
      if (from->family == Family::kDate || from->family == Family::kDateTime) {
        day = from->day;
        ms = from->ms;
      } else if (from->family == Family::kTime && family == Family::kTime) {
        ms = from->ms;
      } else {
        return kHostIncompatible;
      }
      if (family == Family::kDate) {
        if (ms != 0) result = Worse(result, kHostRounded);
        StoreFixed(target, type, day);
      } else if (family == Family::kTime) {
        StoreFixed(target, type, ms);
      } else {
        StoreFixed(target, type,
                   static_cast<__int128>(static_cast<uint32_t>(day)) |
                       static_cast<__int128>(ms) << 32);
      }
      return result;
    }
    case Family::kBinary: {
      if (from->family == Family::kBinary) {
        AllocateBytes(target, from->bytes.data(), from->bytes.size());
      } else if (from->family == Family::kText) {
        const std::string ansi = platform::Utf16ToAnsi(from->text);
        AllocateBytes(target, ansi.data(), ansi.size());
      } else {
        return kHostIncompatible;
      }
      return target->data == nullptr ? kHostNoMemory : result;
    }
    default:
      return kHostIncompatible;
  }
}

}  // namespace qx::vm
