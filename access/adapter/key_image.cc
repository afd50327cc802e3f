// Key images of index keys (see key_image.h).
#include "access/adapter/key_image.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "access/adapter/code_pages.h"
#include "access/adapter/engine_call.h"
#include "access/adapter/host_fixed.h"
#include "access/adapter/index_ops.h"
#include "access/adapter/key_ops.h"
#include "engine/core/coding.h"
#include "engine/dates/date_format.h"
#include "engine/dates/key_codec.h"
#include "engine/mdx/mdx_decimal.h"
#include "framework/framework_state.h"
#include "framework/host_value.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

using adapter_internal::Call;
using adapter_internal::FixedSigned;
using adapter_internal::FixedUnsigned;

// Room for any family's key image and its NUL.
constexpr size_t kImageRoom = 512;
// The date text of a date key, and of the date part of a date-time.
constexpr size_t kDateTextLength = 8;
// Date format code 4: yyyymmdd.
constexpr uint16_t kDateFormatYmd = 4;
// A number written for rounding keeps at most this many characters.
constexpr size_t kRoundedTextLength = 20;
// The null byte of a FoxPro key of a nullable value that is not null.
constexpr uint8_t kNotNullMark = 0x80;

// Date-time keys: the time of day in units of 1/89478485 hour, so that a
// day spans the whole 32-bit range (hh, mm and ss weighted alike).
constexpr uint32_t kTimeUnitsPerHour = 89478485;
constexpr uint32_t kTimeUnitsPerMinute = 1491308;
constexpr float kTimeUnitsPerSecond = 24855.135f;
constexpr size_t kDateTimeDateBytes = 4;
constexpr uint64_t kCurrencyScale = 10000;

using Image = std::array<uint8_t, kImageRoom>;

bool IsNull(const HostValue& value) {
  return value.type == kValueNull || (value.state & kValueStateNull) != 0;
}

// The value as a number when its type is one, without the host.
bool DirectNumber(const HostValue& value, double* number) {
  switch (value.type) {
    case kValueBoolean:
    case kValueUInt8:
      *number = static_cast<double>(FixedUnsigned(value, 1));
      return true;
    case kValueInt8:
      *number = static_cast<double>(FixedSigned(value, 1));
      return true;
    case kValueUInt16:
      *number = static_cast<double>(FixedUnsigned(value, 2));
      return true;
    case kValueInt16:
      *number = static_cast<double>(FixedSigned(value, 2));
      return true;
    case kValueUInt32:
      *number = static_cast<double>(FixedUnsigned(value, 4));
      return true;
    case kValueInt32:
      *number = static_cast<double>(FixedSigned(value, 4));
      return true;
    case kValueUInt64:
      *number = static_cast<double>(FixedUnsigned(value, 8));
      return true;
    case kValueInt64:
    case kValueInt64Alt:
      *number = static_cast<double>(FixedSigned(value, 8));
      return true;
    case kValueCurrency:
      // Ten bytes of two's complement; the low eight hold every amount a
      // key can take.
      *number = static_cast<double>(FixedSigned(value, 8)) / kCurrencyScale;
      return true;
    case kValueFloat:
      *number = value.fixed.f32;
      return true;
    case kValueDouble:
      *number = value.fixed.f64;
      return true;
    default:
      return false;
  }
}

// Runs the host's conversion into target_type; false when it fails or is
// not bound.
bool HostConvert(const HostValue& value, uint8_t target_type, uint32_t options,
                 HostValue* target) {
  const ConversionFn convert = framework::Framework().convert;
  if (convert == nullptr) return false;
  return !HostFailed(convert(&value, target, target_type, options));
}

// The value as ANSI text: the text family as it is (UTF-16 forms in code
// page 1252), other values through the host.
bool ValueText(const HostValue& value, uint32_t options, std::string* text) {
  text->clear();
  if (IsNull(value)) return true;
  const char* bytes = static_cast<const char*>(value.data);
  switch (value.type) {
    case kValueChar:
      text->assign(1, static_cast<char>(value.fixed.bytes[0]));
      return true;
    case kValueText:
    case kValueFixedText:
    case kValueMemoText:
      if (bytes != nullptr) text->assign(bytes, value.size);
      return true;
    case kValueUnicodeText:
    case kValueFixedUnicode:
    case kValueUnicodeMemo: {
      std::u16string wide(value.size / 2, u'\0');
      if (value.data != nullptr)
        std::memcpy(wide.data(), value.data, wide.size() * 2);
      *text = platform::Utf16ToAnsi(wide);
      return true;
    }
    default:
      break;
  }
  HostValue converted;
  if (!HostConvert(value, kValueText, options, &converted)) return false;
  if (converted.data != nullptr)
    text->assign(static_cast<const char*>(converted.data), converted.size);
  framework::ReleaseHostValue(&converted);
  return true;
}

bool ValueNumber(const HostValue& value, double* number) {
  *number = 0.0;
  if (IsNull(value)) return true;
  if (DirectNumber(value, number)) return true;
  HostValue converted;
  if (!HostConvert(value, kValueDouble, 0, &converted)) return false;
  *number = converted.fixed.f64;
  framework::ReleaseHostValue(&converted);
  return true;
}

bool ValueInteger(const HostValue& value, int32_t* integer) {
  *integer = 0;
  if (IsNull(value)) return true;
  double number = 0.0;
  if (DirectNumber(value, &number)) {
    // Cut toward zero, kept within 32 bits.
    *integer = number >= 2147483647.0    ? INT32_MAX
               : number <= -2147483648.0 ? INT32_MIN
                                         : static_cast<int32_t>(number);
    return true;
  }
  HostValue converted;
  if (!HostConvert(value, kValueInt32, 0, &converted)) return false;
  *integer = static_cast<int32_t>(FixedSigned(converted, 4));
  framework::ReleaseHostValue(&converted);
  return true;
}

// The number as the key holds it: rounded to the key's decimals by writing
// it with the key's width and reading it back (width 0: as it is).
double Rounded(const IndexKeyDescriptor& key, double number) {
  if (key.width == 0 || !std::isfinite(number)) return number;
  char digits[400];
  const auto written =
      std::to_chars(digits, digits + sizeof digits, number,
                    std::chars_format::fixed, static_cast<int>(key.decimals));
  if (written.ec != std::errc()) return number;
  std::string text(digits, written.ptr);
  if (text.size() < key.width) text.insert(0, key.width - text.size(), ' ');
  text.resize(std::min(text.size(), kRoundedTextLength));
  const size_t start = text.find_first_not_of(' ');
  if (start == std::string::npos) return 0.0;
  double back = 0.0;
  std::from_chars(text.data() + start, text.data() + text.size(), back);
  return back;
}

// The date key of a YYYYMMDD text (blanks: the empty date) in the family's
// form, into out (room for the key and its NUL).
int32_t DateKey(const IndexKeyDescriptor& key, std::string_view text,
                uint8_t* out) {
  const std::string date(text.substr(0, kDateTextLength));
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
    case IndexFamily::kMdx: {
      // Both keep the key day number as a little-endian double.
      double key_day = engine::kEmptyDateKeyDay;
      if (date.find_first_not_of(' ') != std::string::npos) {
        int y = 0, m = 0, d = 0;
        if (date.size() != kDateTextLength ||
            engine::ReadDate(&y, &m, &d, date, kDateFormatYmd) != kKbdOk)
          return kKbdErrDate;
        key_day = engine::DateToKeyDay(y, m, d);
      }
      engine::PutLe64(out, std::bit_cast<uint64_t>(key_day));
      return kKbdOk;
    }
    case IndexFamily::kIdx:
      return Call(kbdidatekey, out, date.c_str());
    case IndexFamily::kCdx:
      return Call(kbdcdatekey, out, date.c_str());
    case IndexFamily::kNtx:
      return Call(kbdxkeydate, out, date.c_str());
    case IndexFamily::kNone:
      break;
  }
  return kStatusNoIndexEngine;
}

int32_t NumberKey(const IndexKeyDescriptor& key, double number, uint8_t* out) {
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
      engine::PutLe64(out, std::bit_cast<uint64_t>(number));
      return kKbdOk;
    case IndexFamily::kMdx:
      return Call(kbdmnkey, out, number);
    case IndexFamily::kIdx:
      return Call(kbdinumkey, out, number);
    case IndexFamily::kCdx:
      return Call(kbdcnumkey, out, number);
    case IndexFamily::kNtx:
      return Call(kbdxkeynum, static_cast<int16_t>(key.index_handle), out,
                  number);
    case IndexFamily::kNone:
      break;
  }
  return kStatusNoIndexEngine;
}

int32_t DateTimeKey(std::string_view text, uint8_t* out) {
  if (text.size() < kDateTextLength) return kKbdErrDate;
  uint8_t date[kImageRoom] = {};
  const std::string day(text.substr(0, kDateTextLength));
  if (int32_t s = Call(kbdcdatekey, date, day.c_str()); s < 0) return s;
  std::memcpy(out, date, kDateTimeDateBytes);
  auto part = [&](size_t at) -> uint32_t {
    if (text.size() < at + 2) return 0;
    const char a = text[at], b = text[at + 1];
    if (a < '0' || a > '9' || b < '0' || b > '9') return 0;
    return static_cast<uint32_t>((a - '0') * 10 + (b - '0'));
  };
  const uint32_t hours = part(8), minutes = part(10), seconds = part(12);
  const uint32_t units =
      hours * kTimeUnitsPerHour + minutes * kTimeUnitsPerMinute +
      static_cast<uint32_t>(static_cast<float>(seconds) * kTimeUnitsPerSecond);
  engine::PutBe32(out + kDateTimeDateBytes, units);
  return kKbdOk;
}

size_t PrefixOf(const IndexKeyDescriptor& key) {
  return key.nullable != 0 ? 1 : 0;
}

// The bytes of the NTX numeric key text read back as a number.
double NtxNumber(std::string text) {
  constexpr int kNegativeMirror = 92;  // digit c of a negative is 92 - c
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
    text.pop_back();
  const bool negative =
      !text.empty() && text[0] != '.' && (text[0] < '0' || text[0] > '9');
  if (negative)
    for (char& c : text)
      if (c != '.') c = static_cast<char>(kNegativeMirror - c);
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return negative ? -value : value;
}

std::string DateText(int year, int month, int day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d%02d%02d", year % 10000, month % 100,
                day % 100);
  return text;
}

std::string TrimmedText(std::span<const uint8_t> bytes) {
  size_t n = bytes.size();
  while (n > 0 && (bytes[n - 1] == ' ' || bytes[n - 1] == 0)) --n;
  return std::string(reinterpret_cast<const char*>(bytes.data()), n);
}

void ReadDateKey(const IndexKeyDescriptor& key, std::span<const uint8_t> bytes,
                 KeyImageValue* out) {
  int y = 0, m = 0, d = 0;
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
    case IndexFamily::kMdx: {
      if (bytes.size() < 8) break;
      const double key_day =
          std::bit_cast<double>(engine::GetLe64(bytes.data()));
      if (key_day >= 1e99) return;  // the empty date
      out->valid = std::isfinite(key_day) && key_day >= 0 && key_day <= 1e9 &&
                   engine::KeyDayToDate(
                       &y, &m, &d, static_cast<int32_t>(key_day)) == kKbdOk;
      if (out->valid) out->text = DateText(y, m, d);
      return;
    }
    case IndexFamily::kIdx:
    case IndexFamily::kCdx: {
      if (bytes.size() < 8) break;
      const double julian = engine::DecodeDoubleKey(bytes.data());
      if (julian == 0) return;  // the empty date
      out->valid = julian >= 0 && julian <= 0x7FFFFFFF &&
                   engine::JulianDayToDate(
                       &y, &m, &d, static_cast<int32_t>(julian)) == kKbdOk;
      if (out->valid) out->text = DateText(y, m, d);
      return;
    }
    case IndexFamily::kNtx: {
      const std::string text = TrimmedText(bytes);
      if (text.empty()) return;
      out->valid = text.size() == kDateTextLength &&
                   engine::ReadDate(&y, &m, &d, text, kDateFormatYmd) == kKbdOk;
      if (out->valid) out->text = DateText(y, m, d);
      return;
    }
    case IndexFamily::kNone:
      break;
  }
  out->valid = false;
}

void ReadNumberKey(const IndexKeyDescriptor& key,
                   std::span<const uint8_t> bytes, KeyImageValue* out) {
  switch (IndexFamilyOf(key.dialect)) {
    case IndexFamily::kNdx:
      if (bytes.size() < 8) break;
      out->number = std::bit_cast<double>(engine::GetLe64(bytes.data()));
      return;
    case IndexFamily::kMdx:
      if (bytes.size() < 12) break;
      out->number = engine::DecodeMdxDecimal(bytes.data());
      return;
    case IndexFamily::kIdx:
    case IndexFamily::kCdx:
      if (bytes.size() < 8) break;
      out->number = engine::DecodeDoubleKey(bytes.data());
      return;
    case IndexFamily::kNtx:
      out->number = NtxNumber(std::string(
          reinterpret_cast<const char*>(bytes.data()), bytes.size()));
      return;
    case IndexFamily::kNone:
      break;
  }
  out->valid = false;
}

}  // namespace

uint32_t EngineKeyLength(const IndexKeyDescriptor& key) {
  const uint64_t terminator = IsTextValueType(key.key_value_type) ? 1 : 0;
  return key.key_length > terminator
             ? static_cast<uint32_t>(key.key_length - terminator)
             : 0;
}

int32_t MakeKeyOf(const IndexKeyDescriptor& key, int16_t key_type,
                  const PlainKeyValue& value, std::span<uint8_t> image) {
  if (IndexFamilyOf(key.dialect) == IndexFamily::kNone)
    return kStatusNoIndexEngine;
  const size_t length =
      std::min<size_t>(static_cast<size_t>(key.key_length), image.size());
  const size_t prefix = PrefixOf(key);
  if (prefix != 0 && value.null) {
    // A null value of a nullable key: all zero bytes.
    std::fill(image.begin(), image.begin() + static_cast<ptrdiff_t>(length),
              uint8_t{0});
    return kKbdOk;
  }
  Image made{};
  uint8_t* out = made.data() + prefix;
  int32_t status = kKbdOk;
  switch (key_type) {
    case 'C':
    case 'L':
      std::memcpy(out, value.text.data(),
                  std::min(value.text.size(), made.size() - prefix - 1));
      break;
    case 'D':
      status = DateKey(key, value.text, out);
      break;
    case 'N':
      status = NumberKey(key, Rounded(key, value.number), out);
      break;
    case kKeyCurrency: {
      const double units = value.number * kCurrencyScale;
      const int64_t scaled = units >= 9.2e18    ? INT64_MAX
                             : units <= -9.2e18 ? INT64_MIN
                                                : static_cast<int64_t>(units);
      engine::EncodeInt64Key(scaled, out);
      break;
    }
    case kKeyInteger:
      engine::EncodeInt32Key(value.integer, out);
      break;
    case kKeyDateTime:
      status = DateTimeKey(value.text, out);
      break;
    default:
      return kStatusNotConvertible;
  }
  if (status < 0) return status;
  std::fill(image.begin(), image.begin() + static_cast<ptrdiff_t>(length),
            uint8_t{0});
  if (prefix != 0) made[0] = kNotNullMark;
  std::memcpy(image.data(), made.data(), length);
  if ((key_type == 'C' || key_type == 'L') && length >= 1)
    image[length - 1] = 0;
  return status;
}

int32_t MakeKey(const IndexKeyDescriptor& key, const HostValue& value,
                std::span<uint8_t> image, uint32_t text_options) {
  PlainKeyValue plain;
  plain.null = IsNull(value);
  bool converted = true;
  switch (key.key_type) {
    case 'C':
    case 'L':
    case 'D':
    case kKeyDateTime:
      converted = ValueText(value, text_options, &plain.text);
      break;
    case 'N':
    case kKeyCurrency:
      converted = ValueNumber(value, &plain.number);
      break;
    case kKeyInteger:
      converted = ValueInteger(value, &plain.integer);
      break;
    default:
      return kStatusNotConvertible;
  }
  if (!converted) return kStatusNotConvertible;
  // A null date or date-time is keyed as the empty date.
  if (plain.null && (key.key_type == 'D' || key.key_type == kKeyDateTime))
    plain.text.assign(kDateTextLength, ' ');
  // The host's text is ANSI; the file's keys hold the file's text.
  if (key.key_type == 'C' && !plain.text.empty())
    AnsiToOem(plain.text.data(), plain.text.size(), key.full_oem != 0);
  const int32_t status = MakeKeyOf(key, key.key_type, plain, image);
  if (status != kKbdOk) return status;
  if (!IsTextValueType(key.item_type) && IsTextValueType(key.key_value_type) &&
      key.compound == 0 && key.key_length >= 1 &&
      key.key_length - 1 < image.size()) {
    const size_t end = static_cast<size_t>(key.key_length - 1);
    const size_t n = strnlen(reinterpret_cast<const char*>(image.data()), end);
    std::fill(image.begin() + static_cast<ptrdiff_t>(n),
              image.begin() + static_cast<ptrdiff_t>(end), uint8_t{' '});
    image[end] = 0;
  }
  return status;
}

int32_t SeekValue(const IndexKeyDescriptor& key, const HostValue& value,
                  uint32_t text_options, bool pad, std::span<uint8_t> image,
                  uint32_t* recno, uint16_t search_mode) {
  const int32_t status = MakeKey(key, value, image, text_options);
  if (status != kKbdOk) return status;
  return SeekKey(key, image, pad, recno, search_mode);
}

KeyImageValue ReadKeyImage(const IndexKeyDescriptor& key,
                           std::span<const uint8_t> image) {
  KeyImageValue out;
  out.type = key.key_type;
  std::span<const uint8_t> bytes =
      image.first(std::min<size_t>(EngineKeyLength(key), image.size()));
  if (key.nullable != 0 && !bytes.empty()) {
    if (std::all_of(bytes.begin(), bytes.end(),
                    [](uint8_t b) { return b == 0; })) {
      out.null = true;
      return out;
    }
    out.valid = bytes[0] == kNotNullMark;
    bytes = bytes.subspan(1);
  }
  switch (key.key_type) {
    case 'C':
      out.text = TrimmedText(bytes);
      break;
    case 'L':
      out.text = TrimmedText(bytes);
      break;
    case 'D':
      ReadDateKey(key, bytes, &out);
      break;
    case 'N':
      ReadNumberKey(key, bytes, &out);
      break;
    case kKeyCurrency:
      if (bytes.size() < 8)
        out.valid = false;
      else
        out.number = static_cast<double>(engine::DecodeInt64Key(bytes.data())) /
                     kCurrencyScale;
      break;
    case kKeyInteger:
      if (bytes.size() < 4)
        out.valid = false;
      else
        out.number = engine::DecodeInt32Key(bytes.data());
      break;
    case kKeyDateTime: {
      if (bytes.size() < 8) {
        out.valid = false;
        break;
      }
      uint8_t day[8] = {};
      std::memcpy(day, bytes.data(), kDateTimeDateBytes);
      IndexKeyDescriptor cdx = key;
      cdx.dialect = kKbdVisualFoxpro;
      ReadDateKey(cdx, day, &out);
      uint32_t units = engine::GetBe32(bytes.data() + kDateTimeDateBytes);
      const uint32_t hours = units / kTimeUnitsPerHour;
      units -= hours * kTimeUnitsPerHour;
      const uint32_t minutes = units / kTimeUnitsPerMinute;
      units -= minutes * kTimeUnitsPerMinute;
      const uint32_t seconds = static_cast<uint32_t>(static_cast<float>(units) /
                                                     kTimeUnitsPerSecond);
      char time[16];
      std::snprintf(time, sizeof time, "%02u%02u%02u", hours % 100,
                    minutes % 100, seconds % 100);
      if (!out.text.empty()) out.text += time;
      break;
    }
    default:
      out.valid = false;
      break;
  }
  return out;
}

bool SameKeyImage(const IndexKeyDescriptor& key, std::span<const uint8_t> a,
                  std::span<const uint8_t> b) {
  const size_t length = EngineKeyLength(key);
  a = a.first(std::min(a.size(), length));
  b = b.first(std::min(b.size(), length));
  if (key.key_type == 'C') return TrimmedText(a) == TrimmedText(b);
  if (IndexFamilyOf(key.dialect) == IndexFamily::kMdx && key.key_type == 'N' &&
      a.size() >= 12 && b.size() >= 12)
    return engine::CompareMdxDecimals(a.data(), b.data()) == 0;
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
}

}  // namespace qx::access

namespace qx::access {

int CompareKeyImages(const IndexKeyDescriptor& key, std::span<const uint8_t> a,
                     std::span<const uint8_t> b) {
  const size_t length = EngineKeyLength(key);
  a = a.first(std::min(a.size(), length));
  b = b.first(std::min(b.size(), length));
  const IndexFamily family = IndexFamilyOf(key.dialect);
  const bool number = key.key_type == 'N' || key.key_type == 'D';
  if (number && key.nullable == 0 && a.size() >= 8 && b.size() >= 8) {
    if (family == IndexFamily::kMdx && key.key_type == 'N' && a.size() >= 12 &&
        b.size() >= 12)
      return engine::CompareMdxDecimals(a.data(), b.data());
    if (family == IndexFamily::kNdx || family == IndexFamily::kMdx) {
      // Little-endian doubles: their bytes do not sort as the values do.
      const double x = std::bit_cast<double>(engine::GetLe64(a.data()));
      const double y = std::bit_cast<double>(engine::GetLe64(b.data()));
      return x < y ? -1 : (x > y ? 1 : 0);
    }
  }
  const size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

}  // namespace qx::access
