// Date texts in the fifteen formats, the calendar, and day numbers.
//
// Every format is described by one row: its name, its separator and the
// parts it writes in order. Writing and reading both walk that row, so the
// fixed character positions a reader uses are by construction those the
// writer produces. The one exception is the packed ddmmyy format, which is
// read from the end because its day part may be typed with fewer or more
// digits.
#include "engine/dates/date_format.h"

#include <algorithm>
#include <iterator>

#include "qx/engine.h"

namespace qx::engine {

namespace {

enum class Part : uint8_t {
  kNone,       // unused slot of a two-part format
  kYear2,      // yy: the year modulo 100 written, 1900 + yy read
  kYear4,      // yyyy
  kMonth,      // mm
  kDay,        // dd
  kDayOfYear,  // ddd, 1 = 1 January
};

struct FormatRow {
  const char* name;
  char separator;  // '\0' when the parts follow each other directly
  Part parts[3];
};

// Indexed by code - 1. The names are shown to users and compared by
// callers; keep them byte for byte.
constexpr FormatRow kFormats[kDateFormatCount] = {
    {"Gregorian (mm/dd/yy)", '/', {Part::kMonth, Part::kDay, Part::kYear2}},
    {"Gregorian (mm/dd/yyyy)", '/', {Part::kMonth, Part::kDay, Part::kYear4}},
    {"Julian (yyyy/ddd)", '/', {Part::kYear4, Part::kDayOfYear, Part::kNone}},
    {"dBASE (yyyymmdd)", '\0', {Part::kYear4, Part::kMonth, Part::kDay}},
    {"DMY (ddmmyy)", '\0', {Part::kDay, Part::kMonth, Part::kYear2}},
    {"German (dd.mm.yy)", '.', {Part::kDay, Part::kMonth, Part::kYear2}},
    {"German (dd.mm.yyyy)", '.', {Part::kDay, Part::kMonth, Part::kYear4}},
    {"British (dd/mm/yy)", '/', {Part::kDay, Part::kMonth, Part::kYear2}},
    {"British (dd/mm/yyyy)", '/', {Part::kDay, Part::kMonth, Part::kYear4}},
    {"French (dd/mm/yy)", '/', {Part::kDay, Part::kMonth, Part::kYear2}},
    {"French (dd/mm/yyyy)", '/', {Part::kDay, Part::kMonth, Part::kYear4}},
    {"Italian (dd-mm-yy)", '-', {Part::kDay, Part::kMonth, Part::kYear2}},
    {"Italian (dd-mm-yyyy)", '-', {Part::kDay, Part::kMonth, Part::kYear4}},
    {"ENSI (yy.mm.dd)", '.', {Part::kYear2, Part::kMonth, Part::kDay}},
    {"ENSI (yyyy.mm.dd)", '.', {Part::kYear4, Part::kMonth, Part::kDay}},
};

// Julian Day Number of 0000-01-01 in the proleptic Gregorian calendar.
constexpr int32_t kJulianDayOfYearZero = 1721060;
// Julian Day Number of 9999-12-31, the last valid date.
constexpr int32_t kLastJulianDay = 5373484;
// Constant of the key day numbering: the number of "day 0 of year 1".
constexpr int32_t kKeyDayBase = 1721410;
// Days of the months before month m (index m - 1) in a common year.
constexpr int kDaysBeforeMonth[12] = {0,   31,  59,  90,  120, 151,
                                      181, 212, 243, 273, 304, 334};

const FormatRow* FindFormat(uint16_t format) {
  if (format < 1 || format > kDateFormatCount) return nullptr;
  return &kFormats[format - 1];
}

size_t PartWidth(Part part) {
  switch (part) {
    case Part::kNone:
      return 0;
    case Part::kYear4:
      return 4;
    case Part::kDayOfYear:
      return 3;
    case Part::kYear2:
    case Part::kMonth:
    case Part::kDay:
      return 2;
  }
  return 0;
}

size_t PartCount(const FormatRow& row) {
  return row.parts[2] == Part::kNone ? 2 : 3;
}

bool HasTwoDigitYear(const FormatRow& row) {
  return std::find(std::begin(row.parts), std::end(row.parts), Part::kYear2) !=
         std::end(row.parts);
}

size_t TextLength(const FormatRow& row) {
  size_t length = 0;
  for (size_t i = 0; i < PartCount(row); ++i) {
    length += PartWidth(row.parts[i]) + (i > 0 && row.separator ? 1 : 0);
  }
  return length;
}

int DaysInYear(int year) { return IsLeapYear(year) ? 366 : 365; }

int DaysBeforeMonth(int year, int month) {
  return kDaysBeforeMonth[month - 1] + (month > 2 && IsLeapYear(year) ? 1 : 0);
}

// Days from 0000-01-01 to 1 January of the year. REQUIRES: year >= 0.
// Leap years before it are the multiples of 4 in [0, year), less the
// multiples of 100, plus the multiples of 400.
int32_t DaysBeforeYear(int year) {
  return 365 * year + (year + 3) / 4 - (year + 99) / 100 + (year + 399) / 400;
}

// trunc(365.25 * (year - 1)) of the key day numbering. Integer division
// truncates toward zero, as the whole part of the product does, so year 0
// gives -365.
int32_t KeyYearBase(int year) { return ((year - 1) * 1461) / 4; }

// Writes value as exactly width decimal digits with leading zeros.
// REQUIRES: 0 <= value < 10^width.
void PutDigits(char* out, int value, size_t width) {
  for (size_t i = width; i > 0; --i) {
    out[i - 1] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// Reads the digits of text[pos, pos + width), cut at the end of the text.
// False when that range is empty or holds a character other than a digit.
bool ReadDigits(std::string_view text, size_t pos, size_t width, int* value) {
  if (pos >= text.size()) return false;
  std::string_view field = text.substr(pos, width);
  int result = 0;
  for (char c : field) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + (c - '0');
  }
  *value = result;
  return true;
}

// Turns a day of the year into month and day. False when the day lies
// outside the year. REQUIRES: 0 <= year <= 9999.
bool SplitDayOfYear(int year, int day_of_year, int* month, int* day) {
  if (day_of_year < 1 || day_of_year > DaysInYear(year)) return false;
  int m = 1;
  while (day_of_year > DaysInMonth(year, m)) {
    day_of_year -= DaysInMonth(year, m);
    ++m;
  }
  *month = m;
  *day = day_of_year;
  return true;
}

// The text (already free of blanks) is the format's separators alone, as
// an empty date shows: "//", "..", "--", or "/" for yyyy/ddd.
bool IsSeparatorsOnly(const FormatRow& row, std::string_view text) {
  if (row.separator == '\0' || text.size() != PartCount(row) - 1) return false;
  return std::all_of(text.begin(), text.end(),
                     [&row](char c) { return c == row.separator; });
}

// Reads the parts of a blank-free text whose length is within the format's
// range. False when a part is not a number.
bool ReadParts(const FormatRow& row, uint16_t format, std::string_view text,
               int* year, int* month, int* day) {
  int day_of_year = 0;
  if (format == kDateFormatDmyPacked) {
    // ddmmyy from the end: yy the last two characters, mm the two before,
    // dd whatever precedes them (2 to 4 characters).
    size_t n = text.size();
    if (!ReadDigits(text, n - 2, 2, year) ||
        !ReadDigits(text, n - 4, 2, month) ||
        !ReadDigits(text, 0, n - 4, day)) {
      return false;
    }
    *year += 1900;
    return true;
  }
  size_t pos = 0;
  for (size_t i = 0; i < PartCount(row); ++i) {
    Part part = row.parts[i];
    size_t width = PartWidth(part);
    int* target = nullptr;
    switch (part) {
      case Part::kYear2:
      case Part::kYear4:
        target = year;
        break;
      case Part::kMonth:
        target = month;
        break;
      case Part::kDay:
        target = day;
        break;
      case Part::kDayOfYear:
        target = &day_of_year;
        break;
      case Part::kNone:
        return false;
    }
    if (!ReadDigits(text, pos, width, target)) return false;
    if (part == Part::kYear2) *year += 1900;
    pos += width + (row.separator ? 1 : 0);
  }
  if (format == kDateFormatYearDay) {
    if (*year < 0 || *year > 9999) return false;
    return SplitDayOfYear(*year, day_of_year, month, day);
  }
  return true;
}

}  // namespace

const char* DateFormatName(uint16_t format) {
  const FormatRow* row = FindFormat(format);
  return row ? row->name : nullptr;
}

size_t DateFormatTextLength(uint16_t format) {
  const FormatRow* row = FindFormat(format);
  return row ? TextLength(*row) : 0;
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kLengths[12] = {31, 28, 31, 30, 31, 30,
                                       31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kLengths[month - 1];
}

bool IsValidDate(int year, int month, int day) {
  return year >= 0 && year <= 9999 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool ReadStoredDate(std::string_view text, int* year, int* month, int* day) {
  if (text.size() != kStoredDateLength || text.data() == nullptr) return false;
  int parts[kStoredDateLength];
  bool digits = true;
  for (size_t i = 0; i < kStoredDateLength; ++i) {
    parts[i] = text[i] - '0';
    digits &= parts[i] >= 0 && parts[i] <= 9;
  }
  if (!digits) return false;
  const int y = parts[0] * 1000 + parts[1] * 100 + parts[2] * 10 + parts[3];
  const int m = parts[4] * 10 + parts[5];
  const int d = parts[6] * 10 + parts[7];
  if (!IsValidDate(y, m, d)) return false;
  *year = y;
  *month = m;
  *day = d;
  return true;
}

void FormatStoredDate(char* out, int year, int month, int day) {
  PutDigits(out, year, 4);
  PutDigits(out + 4, month, 2);
  PutDigits(out + 6, day, 2);
}

int16_t FormatDate(char* out, uint16_t format, int year, int month, int day) {
  if (out == nullptr) return kKbdErrNullPointer;
  if (!IsValidDate(year, month, day)) return kKbdErrDate;
  const FormatRow* row = FindFormat(format);
  if (row == nullptr) return kKbdErrCommand;
  size_t pos = 0;
  for (size_t i = 0; i < PartCount(*row); ++i) {
    if (i > 0 && row->separator) out[pos++] = row->separator;
    Part part = row->parts[i];
    int value = 0;
    switch (part) {
      case Part::kYear2:
        value = year % 100;
        break;
      case Part::kYear4:
        value = year;
        break;
      case Part::kMonth:
        value = month;
        break;
      case Part::kDay:
        value = day;
        break;
      case Part::kDayOfYear:
        value = DaysBeforeMonth(year, month) + day;
        break;
      case Part::kNone:
        break;
    }
    PutDigits(out + pos, value, PartWidth(part));
    pos += PartWidth(part);
  }
  out[pos] = '\0';
  return kKbdOk;
}

int16_t ReadDate(int* year, int* month, int* day, std::string_view text,
                 uint16_t format) {
  if (year == nullptr || month == nullptr || day == nullptr) {
    return kKbdErrNullPointer;
  }
  *year = *month = *day = 0;
  if (text.data() == nullptr) return kKbdErrNullPointer;
  const FormatRow* row = FindFormat(format);
  if (row == nullptr) return kKbdErrCommand;

  text = text.substr(0, text.find('\0'));
  size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return kKbdEmptyFile;

  // Every blank is dropped, so "01 / 02 / 03" reads as "01/02/03". Only the
  // first kDateTextSize characters are kept: any longer text is out of
  // range anyway, and its length is still counted.
  char compact[kDateTextSize];
  size_t length = 0;
  for (char c : text.substr(first)) {
    if (c == ' ') continue;
    if (length < sizeof(compact)) compact[length] = c;
    ++length;
  }
  std::string_view kept(compact, std::min(length, sizeof(compact)));
  if (length == kept.size() && IsSeparatorsOnly(*row, kept)) {
    return kKbdEmptyFile;
  }

  // Accepted lengths: yy formats 6..8, format 4 exactly 8, the other
  // four-digit-year formats 8..10.
  size_t min_length = 8;
  size_t max_length = 10;
  if (HasTwoDigitYear(*row)) {
    min_length = 6;
    max_length = 8;
  } else if (row->separator == '\0') {
    max_length = 8;
  }
  if (length < min_length || length > max_length) return kKbdErrDate;

  int y = 0;
  int m = 0;
  int d = 0;
  if (!ReadParts(*row, format, kept, &y, &m, &d) || !IsValidDate(y, m, d)) {
    return kKbdErrDate;
  }
  *year = y;
  *month = m;
  *day = d;
  return kKbdOk;
}

int16_t ConvertDateToStorage(char* out, std::string_view text,
                             uint16_t current_format) {
  if (out == nullptr) return kKbdErrNullPointer;
  int year = 0;
  int month = 0;
  int day = 0;
  int16_t status = ReadDate(&year, &month, &day, text, current_format);
  if (status == kKbdEmptyFile) {
    std::fill_n(out, kStoredDateLength, ' ');
    out[kStoredDateLength] = '\0';
    return kKbdOk;
  }
  if (status != kKbdOk) return status;
  return FormatDate(out, kDateFormatYmd, year, month, day);
}

int16_t ConvertDateFromStorage(char* out, std::string_view stored,
                               uint16_t format) {
  if (out == nullptr) return kKbdErrNullPointer;
  if (FindFormat(format) == nullptr) return kKbdErrCommand;
  int year = 0;
  int month = 0;
  int day = 0;
  int16_t status = ReadDate(&year, &month, &day, stored, kDateFormatYmd);
  if (status == kKbdEmptyFile) {
    size_t length = DateFormatTextLength(format);
    std::fill_n(out, length, ' ');
    out[length] = '\0';
    return kKbdOk;
  }
  if (status != kKbdOk) return status;
  return FormatDate(out, format, year, month, day);
}

int16_t NormaliseDateKey(char* out, std::string_view text) {
  return ConvertDateToStorage(out, text, kDateFormatYmd);
}

int32_t DateToJulianDay(int year, int month, int day) {
  return kJulianDayOfYearZero + DaysBeforeYear(year) +
         DaysBeforeMonth(year, month) + day - 1;
}

int16_t JulianDayToDate(int* year, int* month, int* day, int32_t julian_day) {
  if (year == nullptr || month == nullptr || day == nullptr) {
    return kKbdErrNullPointer;
  }
  *year = *month = *day = 0;
  if (julian_day < kJulianDayOfYearZero || julian_day > kLastJulianDay) {
    return kKbdErrDate;
  }
  int32_t offset = julian_day - kJulianDayOfYearZero;
  // 146097 days make 400 years; the estimate is off by at most one year.
  int y = static_cast<int>(static_cast<int64_t>(offset) * 400 / 146097);
  while (y > 0 && DaysBeforeYear(y) > offset) --y;
  while (y < 9999 && DaysBeforeYear(y + 1) <= offset) ++y;
  SplitDayOfYear(y, offset - DaysBeforeYear(y) + 1, month, day);
  *year = y;
  return kKbdOk;
}

int32_t DateToKeyDay(int year, int month, int day) {
  return day + DaysBeforeMonth(year, month) + KeyYearBase(year) + kKeyDayBase;
}

int16_t KeyDayToDate(int* year, int* month, int* day, int32_t key_day) {
  if (year == nullptr || month == nullptr || day == nullptr) {
    return kKbdErrNullPointer;
  }
  *year = *month = *day = 0;
  // Bounds keep the arithmetic below far from overflow; the search decides.
  if (key_day < kKeyDayBase - 400 || key_day > kLastJulianDay + 400) {
    return kKbdErrDate;
  }
  int32_t offset = key_day - kKeyDayBase;
  // offset = trunc(365.25 * (year - 1)) + day of the year, so offset / 365.25
  // lies between year - 1 and year + 0.01. Candidates are tried from the
  // latest, which resolves the one shared number in favour of year 1.
  int estimate = static_cast<int>(offset * 4 / 1461) + 1;
  for (int y = std::min(estimate + 1, 9999); y >= std::max(estimate - 2, 0);
       --y) {
    int day_of_year = offset - KeyYearBase(y);
    if (SplitDayOfYear(y, day_of_year, month, day)) {
      *year = y;
      return kKbdOk;
    }
  }
  return kKbdErrDate;
}

int16_t DateTextToKeyDay(double* key_day, std::string_view text,
                         uint16_t format) {
  if (key_day == nullptr) return kKbdErrNullPointer;
  int year = 0;
  int month = 0;
  int day = 0;
  // A stored date as it mostly is is read at once; the builds read one
  // per record.
  if (format == kDateFormatYmd && ReadStoredDate(text, &year, &month, &day)) {
    *key_day = DateToKeyDay(year, month, day);
    return kKbdOk;
  }
  int16_t status = ReadDate(&year, &month, &day, text, format);
  if (status == kKbdEmptyFile) {
    *key_day = kEmptyDateKeyDay;
    return kKbdOk;
  }
  if (status != kKbdOk) return status;
  *key_day = DateToKeyDay(year, month, day);
  return kKbdOk;
}

}  // namespace qx::engine
