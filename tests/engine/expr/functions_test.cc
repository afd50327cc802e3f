// The built-in functions' computations: bounded SUBSTR, LEFT and RIGHT,
// STR's rounding and overflow, ASCII-only case changes, the decimal
// rounding of Clipper rules, VAL, the trims, pads and DESCEND.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "engine/expr/functions.h"
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
      {1, std::nullopt, "abcdef"}, {3, std::nullopt, "cdef"},
      {6, std::nullopt, "f"},      {7, std::nullopt, ""},
      {0, 2, "ab"},                {-100, 3, "abc"},
      {2, 3, "bcd"},               {4, 100, "def"},
      {2, 0, ""},                  {2, -5, ""},
      {INT32_MAX, INT32_MAX, ""},  {INT32_MIN, INT32_MAX, "abcdef"},
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
      {12.5, 10, 0, "        13"},   // a tie rounds away from zero
      {-12.5, 10, 0, "       -13"},
      {13.5, 4, 0, "  14"},
      {0.125, 5, 2, " 0.13"},
      {2.675, 5, 2, " 2.67"},         // held as 2.67499999...: no tie
      {1.005, 5, 2, " 1.00"},         // held as 1.00499999...
      {0.5, 1, 0, "1"},
      {-0.5, 2, 0, "-1"},
      {-0.4, 3, 0, "  0"},            // no sign on a zero
      {-0.0, 4, 1, " 0.0"},
      {-0.001, 5, 2, " 0.00"},
      {99999, 5, 0, "99999"},
      {-9999, 5, 0, "-9999"},
      {-99999, 5, 0, "*****"},
      {1e10, 5, 0, "*****"},
      {1.5, 3, 5, "***"},             // the decimals alone overflow
      {1.5, 2, 1, "**"},
      {kInf, 4, 0, "****"},
      {std::nan(""), 3, 0, "***"},
      {1e308, 255, 0, nullptr},       // 309 digits: too wide
      {123456789.0, 10, 0, " 123456789"},
  };
  for (const Case& c : kCases) {
    std::string out;
    ASSERT_EQ(FormatNumber(c.number, c.length, c.decimals, &out), kKbdOk);
    EXPECT_EQ(out.size(), static_cast<size_t>(c.length));
    if (c.expected != nullptr) {
      EXPECT_EQ(out, c.expected) << c.number << "," << c.length << ","
                                 << c.decimals;
    } else {
      EXPECT_EQ(out, std::string(255, '*'));
    }
  }
  std::string out = "unchanged";
  EXPECT_EQ(FormatNumber(1, 0, 0, &out), kKbdErrKeyExpression);
  EXPECT_EQ(FormatNumber(1, -1, 0, &out), kKbdErrKeyExpression);
  EXPECT_EQ(FormatNumber(1, kStrMaxLength + 1, 0, &out),
            kKbdErrKeyExpression);
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
      {2.675, 2, 2.68},   {1.005, 2, 1.01},     {-2.675, 2, -2.68},
      {2.5, 0, 3},        {-2.5, 0, -3},        {0.4, 0, 0},
      {1234.5, -2, 1200}, {1250, -2, 1300},     {49.99, -2, 0},
      {99.95, 1, 100},    {9.999, 2, 10},       {0.000125, 5, 0.00013},
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
  EXPECT_EQ(out, "****");   // 100.0 does not fit
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

}  // namespace
}  // namespace qx::engine
