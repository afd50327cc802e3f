// The built-in functions' computations: bounded SUBSTR, LEFT and RIGHT,
// STR's rounding and overflow, ASCII-only case changes, the decimal
// rounding of Clipper rules, VAL, the trims, pads and DESCEND.
#include "engine/expr/functions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfenv>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "qx/engine.h"

namespace qx::engine {
namespace {

TEST(FunctionsTest, PositionsAreBoundedByTheText) {
  struct Case {
    int32_t start;
    std::optional<int32_t> count;
    const char* expected;
  };
  const Case kCases[] = {
      {1, std::nullopt, "abcdef"},
      {3, std::nullopt, "cdef"},
      {6, std::nullopt, "f"},
      {7, std::nullopt, ""},
      {0, 2, "ab"},
      {-100, 3, "abc"},
      {2, 3, "bcd"},
      {4, 100, "def"},
      {2, 0, ""},
      {2, -5, ""},
      {INT32_MAX, INT32_MAX, ""},
      {INT32_MIN, INT32_MAX, "abcdef"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Substring("abcdef", c.start, c.count), c.expected)
        << c.start << "," << c.count.value_or(-999);
  }
  EXPECT_EQ(LeftPart("abcdef", 2), "ab");
  EXPECT_EQ(LeftPart("abcdef", 60), "abcdef");
  EXPECT_EQ(LeftPart("abcdef", -1), "");
  EXPECT_EQ(RightPart("abcdef", 2), "ef");
  EXPECT_EQ(RightPart("abcdef", 6), "abcdef");
  EXPECT_EQ(RightPart("abcdef", INT32_MAX), "abcdef");
  EXPECT_EQ(RightPart("abcdef", 0), "");
  EXPECT_EQ(RightPart("", 3), "");
}

TEST(FunctionsTest, StrRoundsHalvesAwayAndStarsOverflow) {
  struct Case {
    double number;
    int32_t length;
    int32_t decimals;
    const char* expected;
  };
  const double kInf = std::numeric_limits<double>::infinity();
  const Case kCases[] = {
      {12.5, 8, 2, "   12.50"},
      {12.5, 10, 0, "        13"},  // a tie rounds away from zero
      {-12.5, 10, 0, "       -13"},
      {13.5, 4, 0, "  14"},
      {0.125, 5, 2, " 0.13"},
      {2.675, 5, 2, " 2.67"},  // held as 2.67499999...: no tie
      {1.005, 5, 2, " 1.00"},  // held as 1.00499999...
      {0.5, 1, 0, "1"},
      {-0.5, 2, 0, "-1"},
      {-0.4, 3, 0, "  0"},  // no sign on a zero
      {-0.0, 4, 1, " 0.0"},
      {-0.001, 5, 2, " 0.00"},
      {99999, 5, 0, "99999"},
      {-9999, 5, 0, "-9999"},
      {-99999, 5, 0, "*****"},
      {1e10, 5, 0, "*****"},
      {1.5, 3, 5, "***"},  // the decimals alone overflow
      {1.5, 2, 1, "**"},
      {kInf, 4, 0, "****"},
      {std::nan(""), 3, 0, "***"},
      {1e308, 255, 0, nullptr},  // 309 digits: too wide
      {123456789.0, 10, 0, " 123456789"},
  };
  for (const Case& c : kCases) {
    std::string out;
    ASSERT_EQ(FormatNumber(c.number, c.length, c.decimals, &out), kKbdOk);
    EXPECT_EQ(out.size(), static_cast<size_t>(c.length));
    if (c.expected != nullptr) {
      EXPECT_EQ(out, c.expected)
          << c.number << "," << c.length << "," << c.decimals;
    } else {
      EXPECT_EQ(out, std::string(255, '*'));
    }
  }
  std::string out = "unchanged";
  EXPECT_EQ(FormatNumber(1, 0, 0, &out), kKbdErrKeyExpression);
  EXPECT_EQ(FormatNumber(1, -1, 0, &out), kKbdErrKeyExpression);
  EXPECT_EQ(FormatNumber(1, kStrMaxLength + 1, 0, &out), kKbdErrKeyExpression);
  EXPECT_EQ(FormatNumber(1, 5, -1, &out), kKbdErrKeyExpression);
  EXPECT_EQ(out, "unchanged");
}

TEST(FunctionsTest, DecimalRoundingFollowsTheShortestDecimalText) {
  struct Case {
    double number;
    int32_t decimals;
    double rounded;
  };
  const Case kCases[] = {
      {2.675, 2, 2.68},   {1.005, 2, 1.01},       {-2.675, 2, -2.68},
      {2.5, 0, 3},        {-2.5, 0, -3},          {0.4, 0, 0},
      {1234.5, -2, 1200}, {1250, -2, 1300},       {49.99, -2, 0},
      {99.95, 1, 100},    {9.999, 2, 10},         {0.000125, 5, 0.00013},
      {1e300, 2, 1e300},  {123.456, 10, 123.456},
  };
  for (const Case& c : kCases)
    EXPECT_EQ(RoundDecimal(c.number, c.decimals), c.rounded)
        << c.number << "," << c.decimals;
  std::string out;
  ASSERT_EQ(FormatNumber(2.675, 5, 2, &out, Rounding::kDecimalText), kKbdOk);
  EXPECT_EQ(out, " 2.68");
  ASSERT_EQ(FormatNumber(-0.004, 5, 2, &out, Rounding::kDecimalText), kKbdOk);
  EXPECT_EQ(out, " 0.00");  // no sign on a zero
  ASSERT_EQ(FormatNumber(99.95, 4, 1, &out, Rounding::kDecimalText), kKbdOk);
  EXPECT_EQ(out, "****");  // 100.0 does not fit
  ASSERT_EQ(FormatNumber(12, 6, 3, &out, Rounding::kDecimalText), kKbdOk);
  EXPECT_EQ(out, "12.000");
}

TEST(FunctionsTest, TextFunctions) {
  EXPECT_EQ(ReadNumberPrefix(" \t-1.5abc"), -1.5);
  EXPECT_EQ(ReadNumberPrefix("1E3"), 1);
  EXPECT_EQ(ReadNumberPrefix(".5"), 0.5);
  EXPECT_EQ(ReadNumberPrefix("+3"), 3);
  EXPECT_EQ(ReadNumberPrefix(" - 3"), 0);
  EXPECT_EQ(ReadNumberPrefix(""), 0);
  EXPECT_EQ(ZeroFilled("  -96"), "-0096");
  EXPECT_EQ(ZeroFilled("   42"), "00042");
  EXPECT_EQ(ZeroFilled("-5"), "-5");
  EXPECT_EQ(ZeroFilled("***"), "***");
  EXPECT_EQ(TrimLeft(" \t\r\n\va "), "\va ");  // VT is no blank
  EXPECT_EQ(TrimRight(" a \t  "), " a \t");    // blanks only
  EXPECT_TRUE(IsEmptyText(" \t\r\n"));
  EXPECT_FALSE(IsEmptyText(std::string(1, '\0')));
  EXPECT_EQ(Pad("ab", 5, '.', PadSide::kLeft), "...ab");
  EXPECT_EQ(Pad("ab", 5, '.', PadSide::kRight), "ab...");
  EXPECT_EQ(Pad("ab", 5, '.', PadSide::kCenter), ".ab..");
  EXPECT_EQ(Pad("abc", 2, '.', PadSide::kLeft), "ab");
  EXPECT_EQ(Pad("abc", 0, '.', PadSide::kCenter), "");
  std::string bytes("\x00\x01\x41\xFF", 4);
  DescendBytes(&bytes);
  EXPECT_EQ(bytes, std::string("\x00\xFF\xBF\x01", 4));
}

TEST(FunctionsTest, CaseChangesTouchOnlyAsciiLetters) {
  std::string text = "aZ09 \xE9\xC9\xFF\x9A{@[`";
  UpperAscii(&text);
  EXPECT_EQ(text, "AZ09 \xE9\xC9\xFF\x9A{@[`");
  LowerAscii(&text);
  EXPECT_EQ(text, "az09 \xE9\xC9\xFF\x9A{@[`");
}

// The rounding of RoundedFixed done the plain way, on strings: the digits
// of the shortest text, cut after the kept ones with a carry for a first
// dropped digit of 5 or more, zeros added, leading zeros dropped.
std::string PlainRoundedFixed(double magnitude, int32_t decimals) {
  char buffer[640];
  auto r = std::to_chars(buffer, buffer + sizeof(buffer), magnitude,
                         std::chars_format::fixed);
  std::string text(buffer, r.ptr);
  size_t dot = text.find('.');
  std::string digits = text.substr(0, dot);
  int64_t point = static_cast<int64_t>(digits.size());
  if (dot != std::string::npos) digits += text.substr(dot + 1);
  int64_t keep = point + decimals;
  if (keep < static_cast<int64_t>(digits.size())) {
    bool up = keep >= 0 && digits[static_cast<size_t>(keep)] >= '5';
    digits.resize(static_cast<size_t>(std::max<int64_t>(keep, 0)));
    if (up) {
      int64_t i = keep - 1;
      while (i >= 0 && digits[static_cast<size_t>(i)] == '9')
        digits[static_cast<size_t>(i--)] = '0';
      if (i >= 0) {
        ++digits[static_cast<size_t>(i)];
      } else {
        digits.insert(digits.begin(), '1');
        ++point;
      }
    }
  }
  int64_t wanted = point + std::max<int32_t>(decimals, 0);
  if (static_cast<int64_t>(digits.size()) < wanted)
    digits.resize(static_cast<size_t>(wanted), '0');
  std::string whole = digits.substr(0, static_cast<size_t>(point));
  size_t first = whole.find_first_not_of('0');
  whole = first == std::string::npos ? "0" : whole.substr(first);
  if (decimals <= 0) return whole;
  return whole + "." + digits.substr(static_cast<size_t>(point));
}

TEST(FunctionsTest, RoundedFixedGivesThePlainRoundingsText) {
  std::vector<double> values = {0.0,
                                0.5,
                                0.05,
                                0.005,
                                1.5,
                                2.675,
                                9.995,
                                99.995,
                                999.5,
                                0.0949,
                                670.5,
                                1e15,
                                1e21,
                                1e22,
                                123456789.125,
                                5e-324,
                                1e-300,
                                std::numeric_limits<double>::max(),
                                99999999.995,
                                0.99999,
                                9.999999999999999e22,
                                0.1 + 0.2,
                                0.7,
                                1e-15,
                                1.5e-15,
                                1e-16,
                                999999999999999.0,
                                999999999999999.9,
                                99999999999999.99,
                                123456789012.345678};
  std::mt19937_64 rng(18);
  for (int i = 0; i < 20000; ++i) {
    // Whole cents and tenths of cents, and doubles of every magnitude.
    values.push_back(static_cast<double>(rng() % 100000000000ULL) / 100.0);
    values.push_back(static_cast<double>(rng() % 1000000000ULL) / 1000.0);
    values.push_back(std::ldexp(static_cast<double>(rng() >> 11),
                                static_cast<int>(rng() % 200) - 150));
    values.push_back(static_cast<double>(rng() % 1000000000000000ULL) /
                     std::pow(10.0, static_cast<double>(rng() % 18)));
  }
  char out[kRoundedFixedSize];
  for (double v : values) {
    for (int32_t decimals :
         {-400, -20, -3, -1, 0, 1, 2, 3, 4, 8, 15, 20, kStrMaxLength}) {
      std::string expected = PlainRoundedFixed(v, decimals);
      ASSERT_EQ(std::string(out, RoundedFixedTo(v, decimals, out)), expected)
          << v << " at " << decimals;
      ASSERT_EQ(RoundedFixed(v, decimals), expected);
    }
  }
  // The same digits whatever rounding mode the host has set.
  for (int mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    ASSERT_EQ(std::fesetround(mode), 0);
    for (size_t i = 0; i < 3000; ++i) {
      const std::string text(out, RoundedFixedTo(values[i], 2, out));
      std::fesetround(FE_TONEAREST);
      ASSERT_EQ(text, PlainRoundedFixed(values[i], 2)) << values[i];
      std::fesetround(mode);
    }
    std::fesetround(FE_TONEAREST);
  }
}

}  // namespace
}  // namespace qx::engine
