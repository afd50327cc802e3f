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
constexpr uint32_t kMsPerDay = 86400000;

// width bytes at p, little-endian: the order of HostValue::fixed and of the
// code units of a UTF-16 host text.
unsigned __int128 LoadUnsigned(const uint8_t* p, uint32_t width) {
  unsigned __int128 bits = 0;
  for (uint32_t i = 0; i < width; ++i) {
    bits |= static_cast<unsigned __int128>(p[i]) << (8 * i);
  }
  return bits;
}

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
  const uint32_t width = FixedValueWidth(type);
  value->type = type;
  value->size = width;
  value->data = nullptr;
  value->fixed = {};
  for (uint32_t i = 0; i < width; ++i) {
    value->fixed.bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
  }
}

__int128 LoadSigned(const HostValue& value, uint32_t width) {
  const unsigned __int128 bits = LoadUnsigned(value.fixed.bytes, width);
  const unsigned shift = 128 - 8 * width;
  return static_cast<__int128>(bits << shift) >> shift;
}

__int128 DateTimeBits(int32_t day, uint32_t ms) {
  return static_cast<__int128>(static_cast<uint32_t>(day)) |
         static_cast<__int128>(ms) << 32;
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

// ---------------------------------------------------------------------------
// Decode: one step per family.

namespace {

bool DecodeUnsigned(const HostValue& value, Number* n) {
  const uint32_t width = FixedValueWidth(value.type);
  n->mantissa = static_cast<__int128>(LoadUnsigned(value.fixed.bytes, width));
  return true;
}

bool DecodeDecimal(const HostValue& value, Number* n) {
  if (value.scale > kMaxDecimalDigits) return false;
  n->mantissa = LoadSigned(value, 16);
  n->scale = value.scale;
  return true;
}

bool DecodeNumber(const HostValue& value, Number* n) {
  switch (value.type) {
    case kValueFloat:
      n->is_float = true;
      n->f = value.fixed.f32;
      return true;
    case kValueDouble:
      n->is_float = true;
      n->f = value.fixed.f64;
      return true;
    case kValueCurrency:
      n->mantissa = LoadSigned(value, 10);
      n->scale = 4;
      return true;
    case kValueDecimal:
      return DecodeDecimal(value, n);
    case kValueBoolean:
      n->mantissa = value.fixed.bytes[0] != 0 ? 1 : 0;
      return true;
    case kValueUInt8:
    case kValueUInt16:
    case kValueUInt32:
    case kValueUInt64:
      return DecodeUnsigned(value, n);
    default:  // the signed integers
      n->mantissa = LoadSigned(value, FixedValueWidth(value.type));
      return true;
  }
}

// One code page 1252 character in the fixed bytes; NUL is the empty text.
void DecodeChar(const HostValue& value, Decoded* out) {
  const char c = static_cast<char>(value.fixed.bytes[0]);
  out->text = c == '\0' ? u"" : platform::AnsiToUtf16(std::string_view(&c, 1));
  out->ansi_text = true;
}

// UTF-16 code units, little-endian: false for an odd byte count.
bool DecodeUtf16Le(const void* data, uint32_t size, std::u16string* out) {
  if (size % 2 != 0) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  for (uint32_t i = 0; i < size; i += 2) {
    out->push_back(static_cast<char16_t>(LoadUnsigned(p + i, 2)));
  }
  return true;
}

// Fixed-length texts are padded with blanks, which are not part of the value.
void DropPadding(std::u16string* text) {
  while (!text->empty() && text->back() == u' ') text->pop_back();
}

bool DecodeText(const HostValue& value, Decoded* out) {
  if (value.type == kValueChar) {
    DecodeChar(value, out);
    return true;
  }
  const auto* bytes = static_cast<const char*>(value.data);
  if (bytes == nullptr && value.size != 0) return false;
  if (IsUnicodeText(value.type)) {
    if (!DecodeUtf16Le(bytes, value.size, &out->text)) return false;
  } else {
    out->text = platform::AnsiToUtf16(std::string_view(bytes, value.size));
    out->ansi_text = true;
  }
  if (value.type == kValueFixedText || value.type == kValueFixedUnicode) {
    DropPadding(&out->text);
  }
  return true;
}

bool DecodeDate(const HostValue& value, Decoded* out) {
  out->day = static_cast<int32_t>(LoadSigned(value, 4));
  return true;
}

bool DecodeTime(const HostValue& value, Decoded* out) {
  out->ms = static_cast<uint32_t>(LoadSigned(value, 4));
  return out->ms < kMsPerDay;
}

// The Julian day in bytes 0..3, the milliseconds in bytes 4..7.
bool DecodeDateTime(const HostValue& value, Decoded* out) {
  out->day = static_cast<int32_t>(LoadSigned(value, 4));
  out->ms = static_cast<uint32_t>(LoadUnsigned(value.fixed.bytes + 4, 4));
  return out->ms < kMsPerDay;
}

bool DecodeBinary(const HostValue& value, Decoded* out) {
  const auto* bytes = static_cast<const char*>(value.data);
  if (bytes == nullptr && value.size != 0) return false;
  out->bytes.assign(bytes == nullptr ? "" : bytes, value.size);
  return true;
}

}  // namespace

bool Decode(const HostValue& value, Decoded* out) {
  *out = Decoded();
  out->type = value.type;
  if (value.type == kValueNull || (value.state & kValueStateNull) != 0) {
    out->family = Family::kNull;
    return true;
  }
  out->family = FamilyOf(value.type);
  switch (out->family) {
    case Family::kNumber:
      return DecodeNumber(value, &out->number);
    case Family::kText:
      return DecodeText(value, out);
    case Family::kDate:
      return DecodeDate(value, out);
    case Family::kTime:
      return DecodeTime(value, out);
    case Family::kDateTime:
      return DecodeDateTime(value, out);
    case Family::kBinary:
      return DecodeBinary(value, out);
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// Encode: texts read as the target's family first, then one step per
// target family. Each step answers its own result; Encode keeps the worse
// of that and the reading's.

namespace {

bool IsUnsignedInteger(uint8_t type) {
  return type == kValueUInt8 || type == kValueUInt16 || type == kValueUInt32 ||
         type == kValueUInt64;
}

// The inclusive range of an integer type of width bytes.
void IntegerRange(uint8_t type, __int128* low, __int128* high) {
  const uint32_t width = FixedValueWidth(type);
  const __int128 one = 1;
  if (IsUnsignedInteger(type)) {
    *low = 0;
    *high = (one << (8 * width)) - 1;
  } else {
    *low = -(one << (8 * width - 1));
    *high = (one << (8 * width - 1)) - 1;
  }
}

uint32_t EncodeNull(uint8_t type, HostValue* target) {
  target->state = kValueStateNull;
  target->size = FixedValueWidth(type);
  return kHostOk;
}

// A text read as a number of type: the logical words for a boolean.
uint32_t ReadTextAsNumber(const std::u16string& text, uint8_t type,
                          Number* out) {
  if (type != kValueBoolean) return ParseNumber(text, out);
  bool b;
  if (!ParseBoolean(text, &b)) return kHostInvalid;
  out->mantissa = b ? 1 : 0;
  return kHostOk;
}

// A text read as a date or date-time; a date drops the time of day, which
// rounds.
uint32_t ReadTextAsDate(const std::u16string& text, Family family,
                        Decoded* out) {
  uint32_t result = ParseDateTime(text, &out->day, &out->ms);
  if (family == Family::kDate && out->ms != 0) {
    out->ms = 0;
    result = Worse(result, kHostRounded);
  }
  return result;
}

// A text read as a value of the target's family (a number, a date, a
// time): the form the family's step then encodes.
uint32_t ReadTextAs(const std::u16string& text, uint8_t type, Family family,
                    Decoded* out) {
  out->family = family;
  switch (family) {
    case Family::kNumber:
      return ReadTextAsNumber(text, type, &out->number);
    case Family::kDate:
    case Family::kDateTime:
      return ReadTextAsDate(text, family, out);
    case Family::kTime:
      return ParseTime(text, &out->ms);
    default:
      return kHostIncompatible;
  }
}

uint32_t EncodeFloat32(const Number& n, HostValue* target) {
  const long double x = n.AsLongDouble();
  if (std::isfinite(x) && std::fabs(x) > FLT_MAX) return kHostOverflow;
  target->fixed.f32 = static_cast<float>(x);
  target->size = 4;
  return static_cast<long double>(target->fixed.f32) != x ? kHostRounded
                                                          : kHostOk;
}

uint32_t EncodeFloat64(const Number& n, HostValue* target) {
  target->fixed.f64 = static_cast<double>(n.AsLongDouble());
  target->size = 8;
  return kHostOk;
}

uint32_t EncodeCurrency(const Number& n, HostValue* target) {
  __int128 v = 0;
  const uint32_t result = ScaledOf(n, 4, kCurrencyLimit, &v);
  if (HostFailed(result)) return result;
  StoreFixed(target, kValueCurrency, v);
  return result;
}

// REQUIRES: scale is the target's; larger than 38 is invalid.
uint32_t EncodeDecimal(const Number& n, uint8_t scale, HostValue* target) {
  if (scale > kMaxDecimalDigits) return kHostInvalid;
  __int128 v = 0;
  const uint32_t result = ScaledOf(n, scale, PowerOfTen(38), &v);
  target->scale = scale;
  if (HostFailed(result)) return result;
  StoreFixed(target, kValueDecimal, v);
  return result;
}

uint32_t EncodeBoolean(const Number& n, HostValue* target) {
  StoreFixed(target, kValueBoolean,
             n.is_float ? (n.f != 0) : (n.mantissa != 0));
  return kHostOk;
}

// Cut toward zero; a value outside the type's range overflows.
uint32_t EncodeInteger(const Number& n, uint8_t type, HostValue* target) {
  __int128 v = 0;
  const uint32_t result = IntegerOf(n, &v);
  __int128 low, high;
  IntegerRange(type, &low, &high);
  if (v < low || v > high) return kHostOverflow;
  if (HostFailed(result)) return result;
  StoreFixed(target, type, v);
  return result;
}

uint32_t EncodeNumber(const Decoded& from, uint8_t type, uint8_t scale,
                      HostValue* target) {
  if (from.family != Family::kNumber) return kHostIncompatible;
  switch (type) {
    case kValueFloat:
      return EncodeFloat32(from.number, target);
    case kValueDouble:
      return EncodeFloat64(from.number, target);
    case kValueCurrency:
      return EncodeCurrency(from.number, target);
    case kValueDecimal:
      return EncodeDecimal(from.number, scale, target);
    case kValueBoolean:
      return EncodeBoolean(from.number, target);
    default:
      return EncodeInteger(from.number, type, target);
  }
}

// One code page 1252 character: a longer text overflows.
uint32_t EncodeChar(const std::u16string& text, HostValue* target) {
  if (text.size() > 1) return kHostOverflow;
  bool lossy = false;
  const std::string ansi = platform::Utf16ToAnsi(text, '?', &lossy);
  StoreFixed(target, kValueChar,
             ansi.empty() ? 0 : static_cast<uint8_t>(ansi[0]));
  return lossy ? kHostRounded : kHostOk;
}

uint32_t EncodeUnicodeText(const std::u16string& text, HostValue* target) {
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  AllocateBytes(target, bytes.data(), bytes.size());
  return target->data == nullptr ? kHostNoMemory : kHostOk;
}

// Characters code page 1252 lacks become '?', which rounds.
uint32_t EncodeAnsiText(const std::u16string& text, HostValue* target) {
  bool lossy = false;
  const std::string ansi = platform::Utf16ToAnsi(text, '?', &lossy);
  AllocateBytes(target, ansi.data(), ansi.size());
  if (target->data == nullptr) return kHostNoMemory;
  return lossy ? kHostRounded : kHostOk;
}

uint32_t EncodeText(const Decoded& from, uint8_t type, HostValue* target) {
  const std::u16string text = TextForm(from);
  if (type == kValueChar) return EncodeChar(text, target);
  if (IsUnicodeText(type)) return EncodeUnicodeText(text, target);
  return EncodeAnsiText(text, target);
}

// Dates and date-times convert among themselves; a time only to a time.
// A date drops the time of day, which rounds.
uint32_t EncodeDateOrTime(const Decoded& from, uint8_t type, Family family,
                          HostValue* target) {
  int32_t day = 0;
  uint32_t ms = 0;
  if (from.family == Family::kDate || from.family == Family::kDateTime) {
    day = from.day;
    ms = from.ms;
  } else if (from.family == Family::kTime && family == Family::kTime) {
    ms = from.ms;
  } else {
    return kHostIncompatible;
  }
  switch (family) {
    case Family::kDate:
      StoreFixed(target, type, day);
      return ms != 0 ? kHostRounded : kHostOk;
    case Family::kTime:
      StoreFixed(target, type, ms);
      return kHostOk;
    default:
      StoreFixed(target, type, DateTimeBits(day, ms));
      return kHostOk;
  }
}

// A binary keeps its bytes; a text gives its code page 1252 bytes.
uint32_t EncodeBinary(const Decoded& from, HostValue* target) {
  if (from.family == Family::kBinary) {
    AllocateBytes(target, from.bytes.data(), from.bytes.size());
  } else if (from.family == Family::kText) {
    const std::string ansi = platform::Utf16ToAnsi(from.text);
    AllocateBytes(target, ansi.data(), ansi.size());
  } else {
    return kHostIncompatible;
  }
  return target->data == nullptr ? kHostNoMemory : kHostOk;
}

}  // namespace

bool EncodeDouble(double f, uint8_t type, HostValue* target, uint32_t* result) {
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
      __int128 low, high;
      IntegerRange(type, &low, &high);
      if (!HostFailed(code) && (v < low || v > high)) code = kHostOverflow;
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
  if (d.family == Family::kNull) return EncodeNull(type, target);
  const Family family = FamilyOf(type);
  // Texts of another family are read as the target's family.
  Decoded parsed;
  const Decoded* from = &d;
  uint32_t read = kHostOk;
  if (d.family == Family::kText && family != Family::kText &&
      family != Family::kBinary) {
    read = ReadTextAs(d.text, type, family, &parsed);
    if (HostFailed(read)) return read;
    from = &parsed;
  }
  switch (family) {
    case Family::kNumber:
      return Worse(read, EncodeNumber(*from, type, scale, target));
    case Family::kText:
      return Worse(read, EncodeText(*from, type, target));
    case Family::kDate:
    case Family::kDateTime:
    case Family::kTime:
      return Worse(read, EncodeDateOrTime(*from, type, family, target));
    case Family::kBinary:
      return Worse(read, EncodeBinary(*from, target));
    default:
      return kHostIncompatible;
  }
}

}  // namespace qx::vm
