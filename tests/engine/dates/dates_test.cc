// Tests of date texts in the fifteen formats, the calendar rules, the
// stored form, and the two day numberings.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "engine/dates/date_format.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

struct Date {
  int year;
  int month;
  int day;
  bool operator==(const Date&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Date& d) {
  return os << d.year << "-" << d.month << "-" << d.day;
}

// Reads text in format; the status goes to *status.
Date Read(std::string_view text, uint16_t format, int16_t* status) {
  Date d{-1, -1, -1};
  *status = ReadDate(&d.year, &d.month, &d.day, text, format);
  return d;
}

std::string Format(uint16_t format, Date d) {
  char out[kDateTextSize];
  int16_t status = FormatDate(out, format, d.year, d.month, d.day);
  EXPECT_EQ(status, kKbdOk) << d << " format " << format;
  return status == kKbdOk ? std::string(out) : std::string();
}

TEST(DateFormatTest, NamesAndLengths) {
  const char* kNames[] = {
      "Gregorian (mm/dd/yy)", "Gregorian (mm/dd/yyyy)", "Julian (yyyy/ddd)",
      "dBASE (yyyymmdd)",     "DMY (ddmmyy)",           "German (dd.mm.yy)",
      "German (dd.mm.yyyy)",  "British (dd/mm/yy)",     "British (dd/mm/yyyy)",
      "French (dd/mm/yy)",    "French (dd/mm/yyyy)",    "Italian (dd-mm-yy)",
      "Italian (dd-mm-yyyy)", "ENSI (yy.mm.dd)",        "ENSI (yyyy.mm.dd)"};
  const size_t kLengths[] = {8, 10, 8, 8, 6, 8, 10, 8, 10, 8, 10, 8, 10, 8, 10};
  for (uint16_t code = 1; code <= kDateFormatCount; ++code) {
    ASSERT_NE(DateFormatName(code), nullptr);
    EXPECT_STREQ(DateFormatName(code), kNames[code - 1]);
    EXPECT_LT(std::strlen(DateFormatName(code)),
              static_cast<size_t>(kKbdDateFormatNameSize));
    EXPECT_EQ(DateFormatTextLength(code), kLengths[code - 1]) << code;
  }
  EXPECT_EQ(DateFormatName(0), nullptr);
  EXPECT_EQ(DateFormatName(16), nullptr);
  EXPECT_EQ(DateFormatTextLength(16), 0u);
  EXPECT_EQ(kDefaultDateFormat, 4);
}

TEST(DateFormatTest, Calendar) {
  EXPECT_TRUE(IsLeapYear(2024));
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_TRUE(IsLeapYear(0));
  EXPECT_FALSE(IsLeapYear(1900));
  EXPECT_FALSE(IsLeapYear(2023));
  EXPECT_EQ(DaysInMonth(2024, 2), 29);
  EXPECT_EQ(DaysInMonth(1900, 2), 28);
  EXPECT_EQ(DaysInMonth(2023, 4), 30);
  EXPECT_EQ(DaysInMonth(2023, 13), 0);

  char out[kDateTextSize];
  EXPECT_EQ(FormatDate(out, 4, 2023, 2, 29), kKbdErrDate);
  EXPECT_EQ(FormatDate(out, 4, 1900, 2, 29), kKbdErrDate);
  EXPECT_EQ(FormatDate(out, 4, 2024, 2, 29), kKbdOk);
  EXPECT_STREQ(out, "20240229");
  EXPECT_EQ(FormatDate(out, 4, 2000, 2, 29), kKbdOk);
  EXPECT_EQ(FormatDate(out, 4, 10000, 1, 1), kKbdErrDate);
  EXPECT_EQ(FormatDate(out, 4, -1, 1, 1), kKbdErrDate);
  EXPECT_EQ(FormatDate(out, 4, 2024, 0, 1), kKbdErrDate);
  EXPECT_EQ(FormatDate(out, 4, 2024, 1, 32), kKbdErrDate);
  EXPECT_EQ(FormatDate(out, 4, 2024, 4, 0), kKbdErrDate);
  EXPECT_EQ(FormatDate(out, 4, 0, 1, 1), kKbdOk);
  EXPECT_STREQ(out, "00000101");
  EXPECT_EQ(FormatDate(out, 0, 2024, 1, 1), kKbdErrCommand);
  EXPECT_EQ(FormatDate(out, 16, 2024, 1, 1), kKbdErrCommand);
  EXPECT_EQ(FormatDate(nullptr, 4, 2024, 1, 1), kKbdErrNullPointer);
}

TEST(DateFormatTest, EveryFormatWritesItsText) {
  const char* kTexts[] = {"03/05/24",   "03/05/2024", "2024/065",   "20240305",
                          "050324",     "05.03.24",   "05.03.2024", "05/03/24",
                          "05/03/2024", "05/03/24",   "05/03/2024", "05-03-24",
                          "05-03-2024", "24.03.05",   "2024.03.05"};
  for (uint16_t code = 1; code <= kDateFormatCount; ++code) {
    EXPECT_EQ(Format(code, {2024, 3, 5}), kTexts[code - 1]) << code;
  }
  EXPECT_EQ(Format(kDateFormatYearDay, {2023, 12, 31}), "2023/365");
  EXPECT_EQ(Format(kDateFormatYearDay, {2024, 1, 1}), "2024/001");
}

TEST(DateFormatTest, EveryFormatReadsBackWhatItWrites) {
  const Date kDates[] = {{2024, 2, 29},  {2000, 2, 29},  {1900, 2, 28},
                         {1996, 2, 29},  {1970, 1, 1},   {1999, 12, 31},
                         {2023, 12, 31}, {2024, 12, 31}, {0, 1, 1},
                         {9999, 12, 31}, {1903, 2, 1},   {2099, 7, 15}};
  for (uint16_t code = 1; code <= kDateFormatCount; ++code) {
    bool two_digit_year = DateFormatTextLength(code) != 10 &&
                          code != kDateFormatYearDay && code != kDateFormatYmd;
    for (const Date& date : kDates) {
      SCOPED_TRACE(::testing::Message() << "format " << code << " " << date);
      std::string text = Format(code, date);
      EXPECT_EQ(text.size(), DateFormatTextLength(code));
      Date expected = date;
      int16_t expected_status = kKbdOk;
      if (two_digit_year) {
        // Only the year modulo 100 is written; it reads back in the 1900s.
        expected.year = 1900 + date.year % 100;
        if (!IsValidDate(expected.year, expected.month, expected.day)) {
          expected = {0, 0, 0};
          expected_status = kKbdErrDate;
        }
      }
      int16_t status;
      EXPECT_EQ(Read(text, code, &status), expected);
      EXPECT_EQ(status, expected_status);
    }
  }
}

TEST(DateFormatTest, ReadingEdgeCases) {
  int16_t status;
  // Empty dates: blanks only, or the separators alone (blanks dropped).
  EXPECT_EQ(Read("        ", 4, &status), (Date{0, 0, 0}));
  EXPECT_EQ(status, kKbdEmptyFile);
  EXPECT_EQ(Read("", 9, &status), (Date{0, 0, 0}));
  EXPECT_EQ(status, kKbdEmptyFile);
  EXPECT_EQ(Read("//", 8, &status), (Date{0, 0, 0}));
  EXPECT_EQ(status, kKbdEmptyFile);
  Read("  /  /  ", 8, &status);
  EXPECT_EQ(status, kKbdEmptyFile);
  Read("  .  .    ", 7, &status);
  EXPECT_EQ(status, kKbdEmptyFile);
  Read("--", 13, &status);
  EXPECT_EQ(status, kKbdEmptyFile);
  Read("    /   ", kDateFormatYearDay, &status);
  EXPECT_EQ(status, kKbdEmptyFile);
  Read("//", 12, &status);  // not this format's separator
  EXPECT_EQ(status, kKbdErrDate);
  Read("/", 8, &status);
  EXPECT_EQ(status, kKbdErrDate);

  EXPECT_EQ(Read("01/02/03", 8, &status), (Date{1903, 2, 1}));
  EXPECT_EQ(status, kKbdOk);
  EXPECT_EQ(Read("01/02/03", 1, &status), (Date{1903, 1, 2}));
  EXPECT_EQ(Read("2024/060", 3, &status), (Date{2024, 2, 29}));
  EXPECT_EQ(status, kKbdOk);
  EXPECT_EQ(Read("2023/060", 3, &status), (Date{2023, 3, 1}));
  EXPECT_EQ(Read("2024/366", 3, &status), (Date{2024, 12, 31}));
  Read("2023/366", 3, &status);
  EXPECT_EQ(status, kKbdErrDate);
  Read("2024/000", 3, &status);
  EXPECT_EQ(status, kKbdErrDate);

  EXPECT_EQ(Read("20241301", 4, &status), (Date{0, 0, 0}));
  EXPECT_EQ(status, kKbdErrDate);
  Read("20230229", 4, &status);
  EXPECT_EQ(status, kKbdErrDate);
  Read("19000229", 4, &status);
  EXPECT_EQ(status, kKbdErrDate);
  Read("2024022", 4, &status);  // format 4 takes exactly 8 characters
  EXPECT_EQ(status, kKbdErrDate);
  Read("202402290", 4, &status);
  EXPECT_EQ(status, kKbdErrDate);
  Read("2024O229", 4, &status);  // a letter O, not a zero
  EXPECT_EQ(status, kKbdErrDate);
  Read("-0010101", 4, &status);
  EXPECT_EQ(status, kKbdErrDate);
  EXPECT_EQ(Read(" 2024 02 29 ", 4, &status), (Date{2024, 2, 29}));
  EXPECT_EQ(Read(std::string_view("20240229\0xyz", 12), 4, &status),
            (Date{2024, 2, 29}));
  EXPECT_EQ(status, kKbdOk);

  // Length ranges: yy formats 6..8, four-digit-year formats 8..10.
  Read("01/02/2003", 8, &status);
  EXPECT_EQ(status, kKbdErrDate);
  Read("1/2/3", 8, &status);
  EXPECT_EQ(status, kKbdErrDate);
  Read("1/2/03", 9, &status);
  EXPECT_EQ(status, kKbdErrDate);
  // Fixed positions: in dd/mm/yyyy a short text leaves a short year field.
  EXPECT_EQ(Read("01/02/20", 9, &status), (Date{20, 2, 1}));
  // Separator characters are not checked.
  EXPECT_EQ(Read("29-02-2024", 9, &status), (Date{2024, 2, 29}));

  // ddmmyy reads from the end; the day takes what is left.
  EXPECT_EQ(Read("290296", 5, &status), (Date{1996, 2, 29}));
  EXPECT_EQ(Read("0010203", 5, &status), (Date{1903, 2, 1}));
  EXPECT_EQ(Read("10203", 5, &status), (Date{0, 0, 0}));  // too short
  EXPECT_EQ(status, kKbdErrDate);
  Read("1010203", 5, &status);
  EXPECT_EQ(status, kKbdErrDate);

  Read("20240229", 0, &status);
  EXPECT_EQ(status, kKbdErrCommand);
  Read("20240229", 16, &status);
  EXPECT_EQ(status, kKbdErrCommand);
  int y, m, d;
  EXPECT_EQ(ReadDate(nullptr, &m, &d, "20240229", 4), kKbdErrNullPointer);
  EXPECT_EQ(ReadDate(&y, &m, &d, std::string_view(), 4), kKbdErrNullPointer);
}

TEST(DateFormatTest, StoredForm) {
  char out[kDateTextSize];
  EXPECT_EQ(ConvertDateToStorage(out, "29.02.2024", 7), kKbdOk);
  EXPECT_STREQ(out, "20240229");
  EXPECT_EQ(ConvertDateToStorage(out, "02/29/96", 1), kKbdOk);
  EXPECT_STREQ(out, "19960229");
  EXPECT_EQ(ConvertDateToStorage(out, "  .  .    ", 7), kKbdOk);
  EXPECT_STREQ(out, "        ");
  EXPECT_EQ(ConvertDateToStorage(out, "", 7), kKbdOk);
  EXPECT_STREQ(out, "        ");
  std::strcpy(out, "kept");
  EXPECT_EQ(ConvertDateToStorage(out, "30.02.2024", 7), kKbdErrDate);
  EXPECT_STREQ(out, "kept");
  EXPECT_EQ(ConvertDateToStorage(out, "20240229", 99), kKbdErrCommand);
  EXPECT_EQ(ConvertDateToStorage(nullptr, "20240229", 4), kKbdErrNullPointer);

  EXPECT_EQ(ConvertDateFromStorage(out, "20240229", 4), kKbdOk);
  EXPECT_STREQ(out, "20240229");
  EXPECT_EQ(ConvertDateFromStorage(out, "20240229", 7), kKbdOk);
  EXPECT_STREQ(out, "29.02.2024");
  EXPECT_EQ(ConvertDateFromStorage(out, "        ", 5), kKbdOk);
  EXPECT_STREQ(out, "      ");
  EXPECT_EQ(ConvertDateFromStorage(out, "        ", 9), kKbdOk);
  EXPECT_STREQ(out, "          ");
  EXPECT_EQ(ConvertDateFromStorage(out, "        ", 3), kKbdOk);
  EXPECT_STREQ(out, "        ");
  EXPECT_EQ(ConvertDateFromStorage(out, "20241301", 7), kKbdErrDate);
  EXPECT_EQ(ConvertDateFromStorage(out, "20240229", 0), kKbdErrCommand);

  EXPECT_EQ(NormaliseDateKey(out, "20240229"), kKbdOk);
  EXPECT_STREQ(out, "20240229");
  EXPECT_EQ(NormaliseDateKey(out, "        "), kKbdOk);
  EXPECT_STREQ(out, "        ");
  EXPECT_EQ(NormaliseDateKey(out, "20241301"), kKbdErrDate);
  EXPECT_EQ(NormaliseDateKey(out, "29.02.2024"), kKbdErrDate);
}

// Every valid date, in order, calling fn(date).
template <typename Fn>
void ForEachDate(Fn fn) {
  for (int y = 0; y <= 9999; ++y) {
    for (int m = 1; m <= 12; ++m) {
      for (int d = 1; d <= DaysInMonth(y, m); ++d) fn(Date{y, m, d});
    }
  }
}

TEST(DayNumberTest, JulianDayNumber) {
  // Reference values of the Julian Day Number (astronomical tables).
  EXPECT_EQ(DateToJulianDay(1970, 1, 1), 2440588);
  EXPECT_EQ(DateToJulianDay(2000, 1, 1), 2451545);
  EXPECT_EQ(DateToJulianDay(1858, 11, 17), 2400001);
  EXPECT_EQ(DateToJulianDay(1582, 10, 15), 2299161);
  EXPECT_EQ(DateToJulianDay(1, 1, 1), 1721426);
  EXPECT_EQ(DateToJulianDay(2024, 2, 29), 2460370);
  EXPECT_EQ(DateToJulianDay(9999, 12, 31), 5373484);

  int32_t expected = DateToJulianDay(0, 1, 1);
  int failures = 0;
  ForEachDate([&](Date date) {
    Date back{};
    int32_t day = DateToJulianDay(date.year, date.month, date.day);
    int16_t status = JulianDayToDate(&back.year, &back.month, &back.day, day);
    if (failures < 5 && (day != expected || status != kKbdOk || back != date)) {
      ADD_FAILURE() << date << " day " << day << " back " << back;
      ++failures;
    }
    ++expected;
  });

  Date out{};
  EXPECT_EQ(JulianDayToDate(&out.year, &out.month, &out.day, 1721059),
            kKbdErrDate);
  EXPECT_EQ(out, (Date{0, 0, 0}));
  EXPECT_EQ(JulianDayToDate(&out.year, &out.month, &out.day, 5373485),
            kKbdErrDate);
  EXPECT_EQ(JulianDayToDate(&out.year, &out.month, &out.day, -5), kKbdErrDate);
  EXPECT_EQ(JulianDayToDate(nullptr, &out.month, &out.day, 2440588),
            kKbdErrNullPointer);
}

TEST(DayNumberTest, KeyDayNumber) {
  EXPECT_EQ(DateToKeyDay(1970, 1, 1), 2440588);
  EXPECT_EQ(DateToKeyDay(2000, 1, 1), 2451545);
  EXPECT_EQ(DateToKeyDay(2024, 2, 29), 2460370);
  // Before March 1900 the numbering runs one day behind the Julian Day
  // Number, and it skips the number after 1900-12-31.
  EXPECT_EQ(DateToKeyDay(1900, 1, 1), 2415020);
  EXPECT_EQ(DateToKeyDay(1900, 3, 1), 2415079);
  EXPECT_EQ(DateToKeyDay(1900, 12, 31), 2415384);
  EXPECT_EQ(DateToKeyDay(1901, 1, 1), 2415386);
  EXPECT_EQ(DateToKeyDay(0, 12, 31), DateToKeyDay(1, 1, 1));

  Date out{};
  EXPECT_EQ(KeyDayToDate(&out.year, &out.month, &out.day, 2415385),
            kKbdErrDate);
  EXPECT_EQ(KeyDayToDate(&out.year, &out.month, &out.day, 1721411), kKbdOk);
  EXPECT_EQ(out, (Date{1, 1, 1}));
  EXPECT_EQ(KeyDayToDate(&out.year, &out.month, &out.day, 0), kKbdErrDate);
  EXPECT_EQ(KeyDayToDate(nullptr, &out.month, &out.day, 0), kKbdErrNullPointer);

  // Over all dates: the numbers never decrease, rise by one within a year,
  // agree with the Julian Day Number from 1901 to February 2100, and every
  // number decodes to its date (save the one shared number).
  int32_t previous = DateToKeyDay(0, 1, 1) - 1;
  int failures = 0;
  ForEachDate([&](Date date) {
    int32_t key_day = DateToKeyDay(date.year, date.month, date.day);
    Date back{};
    int16_t status = KeyDayToDate(&back.year, &back.month, &back.day, key_day);
    bool ok = key_day > previous || (date == Date{1, 1, 1});
    ok = ok && (key_day - previous <= 1 || (date.month == 1 && date.day == 1));
    ok = ok && status == kKbdOk && (back == date || date == Date{0, 12, 31});
    if (date.year >= 1901 &&
        (date.year < 2100 || (date.year == 2100 && date.month < 3))) {
      ok = ok && key_day == DateToJulianDay(date.year, date.month, date.day);
    }
    if (!ok && failures < 5) {
      ADD_FAILURE() << date << " key day " << key_day << " back " << back;
      ++failures;
    }
    previous = key_day;
  });

  double value = 0;
  EXPECT_EQ(DateTextToKeyDay(&value, "19700101", 4), kKbdOk);
  EXPECT_EQ(value, 2440588.0);
  EXPECT_EQ(DateTextToKeyDay(&value, "01.01.1970", 7), kKbdOk);
  EXPECT_EQ(value, 2440588.0);
  EXPECT_EQ(DateTextToKeyDay(&value, "        ", 4), kKbdOk);
  EXPECT_EQ(value, kEmptyDateKeyDay);
  EXPECT_EQ(DateTextToKeyDay(&value, "20241301", 4), kKbdErrDate);
  EXPECT_EQ(DateTextToKeyDay(nullptr, "19700101", 4), kKbdErrNullPointer);

  // Stored dates of every kind read as ReadDate reads them: valid and
  // invalid digit strings, blanks and other bytes among the digits.
  const char* kOdd[] = {"00000000", "00000101", "99991231",    "20240229",
                        "20230229", "20240431", "2024 229",    " 2024022",
                        "2024022 ", "2024-2-1", "2024022\xB9", "202402\0 9",
                        "99999999", "19000229", "20000229"};
  std::vector<std::string> texts(std::begin(kOdd), std::end(kOdd));
  texts[11] = std::string("202402\0 9", 8);
  for (int y = 0; y <= 9999; y += 7) {
    for (int m = 0; m <= 13; ++m) {
      for (int d : {0, 1, 15, 28, 29, 30, 31, 32}) {
        char text[16];
        std::snprintf(text, sizeof text, "%04d%02d%02d", y, m, d);
        texts.emplace_back(text);
      }
    }
  }
  for (const std::string& text : texts) {
    int year = 0, month = 0, day = 0;
    const int16_t read = ReadDate(&year, &month, &day, text, 4);
    double key_day = -1;
    const int16_t status = DateTextToKeyDay(&key_day, text, 4);
    if (read == kKbdOk) {
      ASSERT_EQ(status, kKbdOk) << text;
      ASSERT_EQ(key_day, DateToKeyDay(year, month, day)) << text;
    } else if (read == kKbdEmptyFile) {
      ASSERT_EQ(status, kKbdOk) << text;
      ASSERT_EQ(key_day, kEmptyDateKeyDay) << text;
    } else {
      ASSERT_EQ(status, read) << text;
    }
  }
}

}  // namespace
}  // namespace qx::engine
