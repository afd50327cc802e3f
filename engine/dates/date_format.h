// Dates of the engine: the fifteen display formats, reading and writing date
// texts, the calendar rules, and the day numbers stored in files.
//
// Data files and character index keys hold a date as eight digits YYYYMMDD
// (format 4). The caller sees and types dates in one of fifteen formats
// chosen per task (default 4). Numeric index keys and date-time fields hold
// a date as a day number instead; two numberings are in use:
//
//  - Julian Day Number (DateToJulianDay): the true count of days of the
//    proleptic Gregorian calendar, 1970-01-01 being day 2440588. Date-time
//    ('T') fields store it, and so do the date keys of IDX and CDX indexes.
//  - Key day number (DateToKeyDay): the numbering of date keys in NDX and
//    MDX indexes, day of the year + trunc(365.25 * (year - 1)) +
//    1721410. It agrees with the Julian Day Number from 1901-01-01 to
//    2100-02-28. Around every year divisible by 4 but not by 400 that is
//    not a leap year (1900, 2100, ...) it skips one number, and it gives
//    0000-12-31 and 0001-01-01 the same number. Files written by other
//    programs carry this numbering, so it must be kept as it is.
//
// Valid dates have 0 <= year <= 9999, month 1..12 and day 1..the month's
// length (Gregorian leap years). Every function here is pure; none keeps
// state, so the current format of the task is always an argument.
#ifndef QX_ENGINE_DATES_DATE_FORMAT_H_
#define QX_ENGINE_DATES_DATE_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qx::engine {

// Date format codes. They cross the host boundary (kbdsetdatefmt): never
// renumber.
enum DateFormat : uint16_t {
  kDateFormatGregorian2 = 1,  // mm/dd/yy
  kDateFormatGregorian4 = 2,  // mm/dd/yyyy
  kDateFormatYearDay = 3,     // yyyy/ddd, ddd the day of the year
  kDateFormatYmd = 4,         // yyyymmdd, the stored form
  kDateFormatDmyPacked = 5,   // ddmmyy
  kDateFormatGerman2 = 6,     // dd.mm.yy
  kDateFormatGerman4 = 7,     // dd.mm.yyyy
  kDateFormatBritish2 = 8,    // dd/mm/yy
  kDateFormatBritish4 = 9,    // dd/mm/yyyy
  kDateFormatFrench2 = 10,    // dd/mm/yy
  kDateFormatFrench4 = 11,    // dd/mm/yyyy
  kDateFormatItalian2 = 12,   // dd-mm-yy
  kDateFormatItalian4 = 13,   // dd-mm-yyyy
  kDateFormatEnsi2 = 14,      // yy.mm.dd
  kDateFormatEnsi4 = 15,      // yyyy.mm.dd
};

constexpr uint16_t kDateFormatCount = 15;  // codes 1..15
constexpr uint16_t kDefaultDateFormat = kDateFormatYmd;

// Longest date text of any format (10 characters) plus its NUL.
constexpr size_t kDateTextSize = 11;
// A stored date: YYYYMMDD, or 8 blanks for an empty date; buffers taking it
// hold one more byte for the NUL.
constexpr size_t kStoredDateLength = 8;

// The key day number of an empty date in NDX and MDX keys: larger than any
// real day, so empty dates sort after all others.
constexpr double kEmptyDateKeyDay = 1.0e100;

// Name of a format as shown to users, e.g. "German (dd.mm.yy)"; nullptr for
// a code outside 1..15. The text is static.
const char* DateFormatName(uint16_t format);

// Number of characters of a date text in the format (6, 8 or 10), which is
// also how many blanks show an empty date; 0 for an unknown code.
size_t DateFormatTextLength(uint16_t format);

bool IsLeapYear(int year);
// Length of the month in days, February by the leap-year rule; 0 when the
// month is outside 1..12.
int DaysInMonth(int year, int month);
bool IsValidDate(int year, int month, int day);

// Writes the date in the format as a NUL-terminated text into out, which
// must hold kDateTextSize bytes. Two-digit years are the year modulo 100.
// Returns kKbdOk, kKbdErrNullPointer (out null), kKbdErrDate (not a valid
// date) or kKbdErrCommand (unknown format); checked in that order. out is
// written only on success.
int16_t FormatDate(char* out, uint16_t format, int year, int month, int day);

// The date of a stored date text that is eight digits of a valid date
// (as ReadDate reads it in format 4); false for anything else, the
// outputs then untouched.
bool ReadStoredDate(std::string_view text, int* year, int* month, int* day);

// The stored form YYYYMMDD of a date into out (kStoredDateLength bytes, no
// NUL): FormatDate's format 4 without its checks.
// REQUIRES: IsValidDate(year, month, day).
void FormatStoredDate(char* out, int year, int month, int day);

// Reads a date text in the format. Returns kKbdOk with the date;
// kKbdEmptyFile (2) for an empty date (blanks only, or the format's
// separators alone such as "//"), with year, month and day 0; kKbdErrDate
// when the text is not a valid date; kKbdErrCommand for an unknown format;
// kKbdErrNullPointer for a null out pointer or a text whose data() is null.
// On every status other than kKbdOk the three outputs are 0.
//
// The text ends at its size or at its first NUL byte. Blanks anywhere are
// ignored. Numbers are read at the fixed positions the format writes them;
// separator characters are not checked, and characters past the last
// number are ignored. A two-digit year yy is the year 1900 + yy.
int16_t ReadDate(int* year, int* month, int* day, std::string_view text,
                 uint16_t format);

// Converts a date text in the task's current format to its stored form:
// YYYYMMDD, or 8 blanks for an empty date (status kKbdOk in both cases, as
// an empty D field is written without complaint). out holds 9 bytes and is
// NUL-terminated; it is written only on success. Statuses as ReadDate,
// except that an empty date is kKbdOk.
int16_t ConvertDateToStorage(char* out, std::string_view text,
                             uint16_t current_format);

// The reverse: a stored date (YYYYMMDD or blanks) in the format; an empty
// date gives DateFormatTextLength(format) blanks. out holds kDateTextSize
// bytes and is NUL-terminated; it is written only on success. Statuses as
// ConvertDateToStorage.
int16_t ConvertDateFromStorage(char* out, std::string_view stored,
                               uint16_t format);

// The stored form of a date key given as YYYYMMDD text: 8 blanks for an
// empty date, otherwise its eight digits. That is ConvertDateToStorage with
// format 4.
int16_t NormaliseDateKey(char* out, std::string_view text);

// Proleptic Gregorian Julian Day Number of a date.
// REQUIRES: IsValidDate(year, month, day).
int32_t DateToJulianDay(int year, int month, int day);
// The date of a Julian Day Number. Returns kKbdOk, kKbdErrNullPointer, or
// kKbdErrDate when the day falls outside the years 0..9999 (the outputs are
// then 0).
int16_t JulianDayToDate(int* year, int* month, int* day, int32_t julian_day);

// Key day number of a date: day + days of the months before it in its year
// + trunc(365.25 * (year - 1)) + 1721410.
// REQUIRES: IsValidDate(year, month, day).
int32_t DateToKeyDay(int year, int month, int day);
// The date of a key day number. A number that two dates share (1721411)
// gives the later date, 0001-01-01. Returns kKbdOk, kKbdErrNullPointer, or
// kKbdErrDate for a number no valid date has (the outputs are then 0).
int16_t KeyDayToDate(int* year, int* month, int* day, int32_t key_day);

// Reads a date text in the format and gives its key day number as the
// floating-point value that NDX and MDX keys hold (the IDX and CDX modules
// turn it into the Julian day number); an empty date gives
// kEmptyDateKeyDay with kKbdOk. Other statuses as ReadDate.
int16_t DateTextToKeyDay(double* key_day, std::string_view text,
                         uint16_t format);

}  // namespace qx::engine

#endif  // QX_ENGINE_DATES_DATE_FORMAT_H_
