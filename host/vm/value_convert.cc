// The VM's conversion entries, value builders and calendar.
#include <cstdlib>
#include <cstring>

#include "host/vm/value_codec.h"
#include "host/vm/vm.h"
#include "platform/platform.h"

namespace qx::vm {

namespace {

// The common case of a code page 1252 text YYYYMMDD to a date, read
// without the UTF-16 copy the general path makes: true with *result when
// the text is 8 digits of a valid date, false to leave it to that path.
bool DateOfAnsiDigits(const HostValue& source, HostValue* target,
                      uint32_t* result) {
  if (source.size != 8 || source.data == nullptr) return false;
  const auto* p = static_cast<const uint8_t*>(source.data);
  int v[8];
  for (int i = 0; i < 8; ++i) {
    if (p[i] < '0' || p[i] > '9') return false;
    v[i] = p[i] - '0';
  }
  const int y = v[0] * 1000 + v[1] * 100 + v[2] * 10 + v[3];
  const int m = v[4] * 10 + v[5];
  const int d = v[6] * 10 + v[7];
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  const int32_t day = JulianDay(y, m, d);
  int yy, mm, dd;
  CivilDate(day, &yy, &mm, &dd);
  if (yy != y || mm != m || dd != d) return false;
  *target = HostValue();
  StoreFixed(target, kValueDate, day);
  *result = kHostOk;
  return true;
}

}  // namespace

uint32_t Convert(const HostValue* source, HostValue* target,
                 uint8_t target_type, uint32_t /*options*/) {
  if (source == nullptr || target == nullptr) return kHostInvalid;
  uint32_t fast = kHostOk;
  if (source->type == kValueText && target_type == kValueDate &&
      DateOfAnsiDigits(*source, target, &fast)) {
    return fast;
  }
  if (source->type == kValueDouble && (source->state & kValueStateNull) == 0 &&
      EncodeDouble(source->fixed.f64, target_type, target, &fast)) {
    return fast;
  }
  const uint8_t scale = target->scale;
  Decoded decoded;
  if (!Decode(*source, &decoded)) return kHostInvalid;
  if (FamilyOf(target_type) == Family::kNone ||
      FamilyOf(target_type) == Family::kNull) {
    return kHostIncompatible;
  }
  HostValue result;
  const uint32_t code = Encode(decoded, target_type, scale, &result);
  if (HostFailed(code)) {
    EndConversion(&result);
    return code;
  }
  *target = result;
  return code;
}

void EndConversion(HostValue* value) {
  if (value == nullptr) return;
  if ((value->state & kValueStateOwned) != 0) {
    std::free(const_cast<void*>(value->data));
  }
  *value = HostValue();
}

// ---------------------------------------------------------------------------
// Builders

HostValue IntValue(uint8_t type, int64_t value) {
  HostValue v;
  StoreFixed(&v, type, value);
  return v;
}

HostValue UnsignedValue(uint8_t type, uint64_t value) {
  HostValue v;
  StoreFixed(&v, type, static_cast<__int128>(value));
  return v;
}

HostValue DoubleValue(double value) {
  HostValue v;
  v.type = kValueDouble;
  v.size = 8;
  v.fixed.f64 = value;
  return v;
}

HostValue FloatValue(float value) {
  HostValue v;
  v.type = kValueFloat;
  v.size = 4;
  v.fixed.f32 = value;
  return v;
}

HostValue CurrencyValue(int64_t ten_thousandths) {
  HostValue v;
  StoreFixed(&v, kValueCurrency, ten_thousandths);
  return v;
}

HostValue DecimalValue(__int128 mantissa, uint8_t scale) {
  HostValue v;
  StoreFixed(&v, kValueDecimal, mantissa);
  v.scale = scale;
  return v;
}

HostValue DateValue(int year, int month, int day) {
  HostValue v;
  StoreFixed(&v, kValueDate, JulianDay(year, month, day));
  return v;
}

HostValue TimeValue(int hour, int minute, int second, int millisecond) {
  HostValue v;
  StoreFixed(&v, kValueTime,
             ((hour * 60 + minute) * 60 + second) * 1000 + millisecond);
  return v;
}

HostValue DateTimeValue(int year, int month, int day, int hour, int minute,
                        int second, int millisecond) {
  HostValue v;
  const uint32_t ms = static_cast<uint32_t>(
      ((hour * 60 + minute) * 60 + second) * 1000 + millisecond);
  StoreFixed(&v, kValueDateTime, DateTimeBits(JulianDay(year, month, day), ms));
  return v;
}

HostValue AnsiTextValue(std::string_view cp1252, uint8_t type) {
  HostValue v;
  v.type = type;
  v.size = static_cast<uint32_t>(cp1252.size());
  v.data = cp1252.data();
  return v;
}

HostValue UnicodeTextValue(std::u16string_view text, uint8_t type) {
  HostValue v;
  v.type = type;
  v.size = static_cast<uint32_t>(text.size() * sizeof(char16_t));
  v.data = text.data();
  return v;
}

HostValue BinaryValue(const void* bytes, uint32_t size, uint8_t type) {
  HostValue v;
  v.type = type;
  v.size = size;
  v.data = bytes;
  return v;
}

int64_t CurrencyOf(const HostValue& value) {
  return static_cast<int64_t>(LoadSigned(value, 10));
}

__int128 DecimalOf(const HostValue& value) { return LoadSigned(value, 16); }

std::u16string TextOf(const HostValue& value) {
  Decoded decoded;
  if (!Decode(value, &decoded) || decoded.family != Family::kText) return u"";
  return decoded.text;
}

// ---------------------------------------------------------------------------
// Calendar: Julian day numbers of the proleptic Gregorian calendar
// (1 January 2000 is day 2451545).

int32_t JulianDay(int year, int month, int day) {
  const int a = (14 - month) / 12;
  const int y = year + 4800 - a;
  const int m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void CivilDate(int32_t julian_day, int* year, int* month, int* day) {
  const int a = julian_day + 32044;
  const int b = (4 * a + 3) / 146097;
  const int c = a - 146097 * b / 4;
  const int d = (4 * c + 3) / 1461;
  const int e = c - 1461 * d / 4;
  const int m = (5 * e + 2) / 153;
  *day = e - (153 * m + 2) / 5 + 1;
  *month = m + 3 - 12 * (m / 10);
  *year = 100 * b + d - 4800 + m / 10;
}

}  // namespace qx::vm
