// Codecs of the DBF header, the field descriptors and the values stored in
// records (see dbf_format.h for the layouts).
#include "engine/dbf/dbf_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/core/coding.h"
#include "engine/dates/date_format.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

// The number text of a field may take at most this many characters; the
// buffer has room for more, so that an overlong text is told by its length.
constexpr int kMaxNumberText = 21;
constexpr size_t kNumberBuffer = 32;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A decimal text at the start of [p, last) read without the general
// parser; false when the text needs it (exponent, many digits, no digits).
bool ParseSimpleDecimal(const char* p, const char* last, double* value) {
  const auto* end = reinterpret_cast<const uint8_t*>(last);
  ScannedDecimal scanned;
  const uint8_t* stop =
      ScanDecimal(reinterpret_cast<const uint8_t*>(p), end, &scanned);
  if (stop < end && (*stop == 'e' || *stop == 'E')) return false;
  return ExactDecimalValue(scanned, value);
}

// Reads the leading number of text (blanks and a '+' skipped); false when
// there is none or it is not finite.
bool ParseLeadingNumber(const char* first, const char* last, double* value) {
  while (first < last && *first == ' ') ++first;
  if (first < last && *first == '+') ++first;
  if (ParseSimpleDecimal(first, last, value)) return true;
  double v = 0.0;
  auto result = std::from_chars(first, last, v);
  if (result.ec != std::errc() || !std::isfinite(v)) return false;
  *value = v;
  return true;
}

// Reads width digits of text at pos; false when they are not all digits.
bool ReadNumberAt(std::string_view text, size_t pos, size_t width, int* value) {
  if (pos + width > text.size()) return false;
  int v = 0;
  for (size_t i = pos; i < pos + width; ++i) {
    if (!IsDigit(text[i])) return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

// The text "%*.*f" makes of value, right-aligned in width blanks, written
// to text (kNumberBuffer bytes, not terminated); its length, or -1 when it
// is longer than kMaxNumberText. std::to_chars with a precision rounds the
// exact binary value as printf does (ties to even) at a fifth of the cost.
int FormatFixed(double value, int width, int decimals, char* text) {
  char digits[kNumberBuffer];
  auto result = std::to_chars(digits, digits + sizeof digits, value,
                              std::chars_format::fixed, decimals);
  if (result.ec != std::errc()) return -1;
  int n = static_cast<int>(result.ptr - digits);
  int pad = std::max(width - n, 0);
  if (pad + n > kMaxNumberText) return -1;
  std::memset(text, ' ', static_cast<size_t>(pad));
  std::memcpy(text + pad, digits, static_cast<size_t>(n));
  return pad + n;
}

constexpr int32_t kSecondsPerDay = 86400;
constexpr uint32_t kMillisecondsPerSecond = 1000;
// A remainder of milliseconds above this rounds the second up.
constexpr uint32_t kRoundUpAboveMilliseconds = 500;

}  // namespace

// ---------------------------------------------------------------------------
// Header and descriptors

DbfHeader DbfHeader::DecodeFrom(std::span<const uint8_t, kDbfHeaderSize> in) {
  DbfHeader h;
  const uint8_t* p = in.data();
  h.version = p[kDbfVersionOffset];
  h.update_year = p[kDbfUpdateDateOffset];
  h.update_month = p[kDbfUpdateDateOffset + 1];
  h.update_day = p[kDbfUpdateDateOffset + 2];
  h.record_count = GetLe32(p + kDbfRecordCountOffset);
  h.header_size = GetLe16(p + kDbfHeaderSizeOffset);
  h.record_size = GetLe16(p + kDbfRecordSizeOffset);
  std::copy_n(p + kDbfReserved1Offset, kDbfReserved1Size, h.reserved1.begin());
  h.mdx_flag = p[kDbfMdxFlagOffset];
  std::copy_n(p + kDbfReserved2Offset, kDbfReserved2Size, h.reserved2.begin());
  return h;
}

void DbfHeader::EncodeTo(std::span<uint8_t, kDbfHeaderSize> out) const {
  uint8_t* p = out.data();
  p[kDbfVersionOffset] = version;
  p[kDbfUpdateDateOffset] = update_year;
  p[kDbfUpdateDateOffset + 1] = update_month;
  p[kDbfUpdateDateOffset + 2] = update_day;
  PutLe32(p + kDbfRecordCountOffset, record_count);
  PutLe16(p + kDbfHeaderSizeOffset, header_size);
  PutLe16(p + kDbfRecordSizeOffset, record_size);
  std::copy(reserved1.begin(), reserved1.end(), p + kDbfReserved1Offset);
  p[kDbfMdxFlagOffset] = mdx_flag;
  std::copy(reserved2.begin(), reserved2.end(), p + kDbfReserved2Offset);
}

DbfDescriptor DbfDescriptor::DecodeFrom(
    std::span<const uint8_t, kDbfDescriptorSize> in) {
  DbfDescriptor d;
  const uint8_t* p = in.data();
  std::copy_n(p + kDbfFieldNameOffset, kDbfFieldNameSize, d.name.begin());
  d.type = p[kDbfFieldTypeOffset];
  d.displacement = GetLe32(p + kDbfFieldDisplacementOffset);
  d.length = p[kDbfFieldLengthOffset];
  d.decimals = p[kDbfFieldDecimalsOffset];
  d.flags = p[kDbfFieldFlagsOffset];
  d.next_value = GetLe32(p + kDbfFieldNextValueOffset);
  d.step = p[kDbfFieldStepOffset];
  std::copy_n(p + kDbfFieldReservedOffset, kDbfFieldReservedSize,
              d.reserved.begin());
  return d;
}

void DbfDescriptor::EncodeTo(std::span<uint8_t, kDbfDescriptorSize> out) const {
  uint8_t* p = out.data();
  std::copy(name.begin(), name.end(), p + kDbfFieldNameOffset);
  p[kDbfFieldTypeOffset] = type;
  PutLe32(p + kDbfFieldDisplacementOffset, displacement);
  p[kDbfFieldLengthOffset] = length;
  p[kDbfFieldDecimalsOffset] = decimals;
  p[kDbfFieldFlagsOffset] = flags;
  PutLe32(p + kDbfFieldNextValueOffset, next_value);
  p[kDbfFieldStepOffset] = step;
  std::copy(reserved.begin(), reserved.end(), p + kDbfFieldReservedOffset);
}

size_t DbfDescriptor::NameLength() const {
  return static_cast<size_t>(std::find(name.begin(), name.end(), '\0') -
                             name.begin());
}

uint16_t DbfDescriptor::WideLength() const {
  const uint8_t bytes[2] = {length, decimals};
  return GetLe16(bytes);
}

// ---------------------------------------------------------------------------
// Value codecs

bool IsBlankText(const uint8_t* p, size_t length) {
  size_t i = 0;
  while (i < length && p[i] == ' ') ++i;
  return i == length || p[i] == '\0';
}

double LargestStorableNumber(uint16_t length, uint16_t decimals) {
  char text[kNumberBuffer];
  size_t n = std::min<size_t>(length, kNumberBuffer - 1);
  std::fill_n(text, n, '9');
  if (decimals != 0 && n > 0) {
    int point = static_cast<int>(length) - static_cast<int>(decimals) - 1;
    text[std::clamp(point, 0, static_cast<int>(n) - 1)] = '.';
  }
  double value = 0.0;
  if (n == 0 || !ParseLeadingNumber(text, text + n, &value)) return 0.0;
  return value;
}

double DecodeNumberInGeneral(const uint8_t* p, size_t length) {
  // A blank field (blanks, then nothing or a NUL) has no leading number
  // either, so the parser's answer covers it.
  const char* first = reinterpret_cast<const char*>(p);
  double value = 0.0;
  return ParseLeadingNumber(first, first + length, &value) ? value : 0.0;
}

int16_t EncodeNumber(double value, uint16_t length, uint16_t decimals,
                     double largest, uint8_t* p) {
  if (!std::isfinite(value)) return kKbdErrData;
  char text[kNumberBuffer];
  int n = FormatFixed(value, length, decimals, text);
  if (n < 0) return kKbdErrData;
  int16_t status = kKbdOk;
  double back = 0.0;
  if (!ParseLeadingNumber(text, text + n, &back)) return kKbdErrData;
  if (back != value) {
    status = kKbdNumberRounded;
    n = FormatFixed(back, length, decimals, text);
    if (n < 0) return kKbdErrData;
  }
  if (back > largest) return kKbdErrData;
  // A negative number may still be too wide for the field: never overrun.
  if (n > static_cast<int>(length)) return kKbdErrData;
  std::memcpy(p, text, length);
  return status;
}

int16_t DecodeDateInGeneral(const uint8_t* p, size_t length, uint16_t format,
                            char* out) {
  int year = 0, month = 0, day = 0;
  if (length >= kStoredDateLength &&
      ReadPlainStoredDate(p, &year, &month, &day))
    return FormatDate(out, format, year, month, day);
  size_t text_length = DateFormatTextLength(format);
  if (text_length == 0) return kKbdErrCommand;
  // Some writers leave empty dates as NUL bytes; they read as blank too.
  if (length == 0 || p[0] == ' ' || p[0] == '\0') {
    std::fill_n(out, text_length, ' ');
    out[text_length] = '\0';
    return kKbdOk;
  }
  std::string_view stored(reinterpret_cast<const char*>(p),
                          std::min(length, kStoredDateLength));
  return ConvertDateFromStorage(out, stored, format);
}

int16_t EncodeDate(std::string_view text, uint16_t format, uint8_t* p,
                   size_t length) {
  if (length < kStoredDateLength) return kKbdErrData;
  int year = 0, month = 0, day = 0;
  if (format == kDateFormatYmd && text.size() == kStoredDateLength &&
      ReadPlainStoredDate(reinterpret_cast<const uint8_t*>(text.data()), &year,
                          &month, &day)) {
    std::memcpy(p, text.data(), kStoredDateLength);
    std::fill(p + kStoredDateLength, p + length, ' ');
    return kKbdOk;
  }
  char stored[kStoredDateLength + 1];
  int16_t status = ConvertDateToStorage(stored, text, format);
  if (status != kKbdOk) return status;
  std::memcpy(p, stored, kStoredDateLength);
  std::fill(p + kStoredDateLength, p + length, ' ');
  return kKbdOk;
}

uint8_t DecodeLogical(uint8_t stored) {
  switch (stored) {
    case 'T':
    case 't':
    case 'Y':
    case 'y':
    case '1':
    case 1:
      return 1;
    case 'F':
    case 'f':
    case 'N':
    case 'n':
    case '0':
    case 0:
      return 0;
    default:
      return '?';
  }
}

int16_t EncodeLogical(uint8_t value, uint8_t* stored) {
  uint8_t decoded = DecodeLogical(value);
  if (decoded == '?') return kKbdErrData;
  *stored = decoded == 1 ? 'T' : 'F';
  return kKbdOk;
}

int16_t DecodeMemoNumber(const uint8_t* p, size_t length, uint32_t* number) {
  if (IsBlankText(p, length)) {
    *number = 0;
    return kKbdOk;
  }
  size_t i = 0;
  while (i < length && p[i] == ' ') ++i;
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < length && IsDigit(static_cast<char>(p[i])); ++i, ++digits) {
    value = value * 10 + (p[i] - '0');
    if (value > UINT32_MAX) return kKbdErrData;
  }
  for (; i < length; ++i)
    if (p[i] != ' ' && p[i] != '\0') return kKbdErrData;
  if (digits == 0) return kKbdErrData;
  *number = static_cast<uint32_t>(value);
  return kKbdOk;
}

int16_t EncodeMemoNumber(uint32_t number, uint8_t* p, size_t length) {
  char digits[16];
  auto result = std::to_chars(digits, digits + sizeof digits, number);
  size_t n = static_cast<size_t>(result.ptr - digits);
  if (n > length) return kKbdErrData;
  std::fill_n(p, length - n, ' ');
  std::memcpy(p + (length - n), digits, n);
  return kKbdOk;
}

bool IsBlankDateTime(const uint8_t* p) {
  // Never the text rule: a day number whose low byte is 0x00 (1953-07-01 is
  // 00 26 25 00) would read as blanks followed by a NUL.
  // Four blanks are no day either (beyond the year 9999): writers that
  // fill new records with blanks leave them.
  constexpr uint32_t kFourBlanks = 0x20202020u;
  return GetLe32(p) == 0 || GetLe32(p) == kFourBlanks;
}

int16_t DecodeDateTime(const uint8_t* p, char* out) {
  int32_t day = static_cast<int32_t>(GetLe32(p));
  uint32_t milliseconds = GetLe32(p + 4);
  if (IsBlankDateTime(p)) {
    std::fill_n(out, kDbfDateTimeTextLength, ' ');
    out[kDbfDateTimeTextLength] = '\0';
    return kKbdOk;
  }
  uint32_t seconds = milliseconds / kMillisecondsPerSecond;
  if (milliseconds % kMillisecondsPerSecond > kRoundUpAboveMilliseconds)
    ++seconds;
  // A time rounded up to midnight (or a word past one day) moves the day.
  int64_t whole_day = static_cast<int64_t>(day) + seconds / kSecondsPerDay;
  seconds %= kSecondsPerDay;
  if (whole_day > INT32_MAX) return kKbdErrDate;
  int year = 0, month = 0, mday = 0;
  int16_t status =
      JulianDayToDate(&year, &month, &mday, static_cast<int32_t>(whole_day));
  if (status != kKbdOk) return status;
  std::snprintf(out, kDbfDateTimeTextLength + 1, "%04d%02d%02d%02u%02u%02u000",
                year, month, mday, seconds / 3600, seconds / 60 % 60,
                seconds % 60);
  return kKbdOk;
}

int16_t EncodeCurrency(double value, int64_t* stored) {
  constexpr double kLargest = 9.2e14;  // times 10000 still fits 63 bits
  constexpr int kDecimals = 4;
  if (!std::isfinite(value) || std::fabs(value) > kLargest) return kKbdErrData;
  // Below 0.0001 nothing is left; the fixed text of what remains has at
  // most 16 integer digits and 17 significant digits in all.
  if (std::fabs(value) < 1.0 / kDbfCurrencyScale) {
    *stored = 0;
    return kKbdOk;
  }
  char text[48];
  auto [end, ec] = std::to_chars(text, text + sizeof text, std::fabs(value),
                                 std::chars_format::fixed);
  if (ec != std::errc()) return kKbdErrData;
  int64_t scaled = 0;
  int decimals = -1;  // -1 before the point
  for (const char* c = text; c < end && decimals < kDecimals; ++c) {
    if (*c == '.') {
      decimals = 0;
      continue;
    }
    scaled = scaled * 10 + (*c - '0');
    if (decimals >= 0) ++decimals;
  }
  for (int i = std::max(decimals, 0); i < kDecimals; ++i) scaled *= 10;
  *stored = value < 0 ? -scaled : scaled;
  return kKbdOk;
}

int16_t EncodeDateTime(std::string_view text, uint8_t* p) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
    text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.empty()) {
    PutLe32(p, 0);
    PutLe32(p + 4, 0);
    return kKbdOk;
  }
  int year = 0, month = 0, day = 0;
  if (!ReadNumberAt(text, 0, 4, &year) || !ReadNumberAt(text, 4, 2, &month) ||
      !ReadNumberAt(text, 6, 2, &day) || !IsValidDate(year, month, day))
    return kKbdErrDate;
  int parts[3] = {0, 0, 0};  // hours, minutes, seconds
  for (size_t i = 0; i < 3; ++i) {
    size_t pos = 8 + 2 * i;
    if (pos >= text.size()) break;
    if (!ReadNumberAt(text, pos, 2, &parts[i])) return kKbdErrTime;
  }
  if (parts[0] > 23 || parts[1] > 59 || parts[2] > 59) return kKbdErrTime;
  uint32_t milliseconds =
      static_cast<uint32_t>((parts[0] * 60 + parts[1]) * 60 + parts[2]) *
      kMillisecondsPerSecond;
  PutLe32(p, static_cast<uint32_t>(DateToJulianDay(year, month, day)));
  PutLe32(p + 4, milliseconds);
  return kKbdOk;
}

}  // namespace qx::engine
