// Keys of numbers and dates: the zero-padded text of numbers, negatives
// made to sort below positives (larger magnitudes first), numeric keys
// walking in value order, date keys, and keys of records under another
// date format.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "engine/dates/date_format.h"
#include "engine/expr/functions.h"
#include "engine/ntx/ntx_file.h"
#include "tests/engine/ntx/ntx_test_util.h"

namespace qx::engine::testing {
namespace {

std::string NumberKey(int16_t h, double value) {
  char key[32] = {};
  EXPECT_EQ(kbdxkeynum(h, key, value), kKbdOk);
  return key;
}

TEST_F(NtxTest, NumberKeysSortAsTheirValues) {
  int16_t h = CreateOpen("num.ntx", 'N', "AMOUNT", 8, 2);
  EXPECT_EQ(NumberKey(h, 12.5), "00012.50");
  EXPECT_EQ(NumberKey(h, 0.0), "00000.00");
  EXPECT_EQ(NumberKey(h, -0.0), "00000.00");
  // -12.5 is "  -12.50": blanks and sign as zeros, then each digit c as
  // 92 - c, the point kept.
  EXPECT_EQ(NumberKey(h, -12.5), ",,,+*.',");
  EXPECT_EQ(NumberKey(h, -99999.99).size(), 8u);
  EXPECT_EQ(kbdxkeynum(h, nullptr, 1.0), kKbdErrNullPointer);
  kbdseterror(0);

  const std::vector<double> values = {-9999.99, -1000, -12.5, -12.25, -1,
                                      -0.5,     0,     0.25,  0.5,    1,
                                      12.25,    12.5,  1000,  9999.99};
  std::vector<std::string> keys;
  for (double v : values) keys.push_back(NumberKey(h, v));
  EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
  EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end());

  // Added in a scattered order they walk in value order.
  for (size_t i = 0; i < values.size(); ++i) {
    const size_t pick = (i * 5) % values.size();
    ASSERT_EQ(kbdxadd(h, keys[pick].c_str(), static_cast<uint32_t>(pick + 1)),
              kKbdOk);
  }
  std::vector<IndexEntry> walk = Walk(h);
  ASSERT_EQ(walk.size(), values.size());
  for (size_t i = 0; i < walk.size(); ++i) {
    EXPECT_EQ(walk[i].recno, i + 1);
    EXPECT_EQ(walk[i].key, keys[i]);
  }
  NtxCheck(h);
}

// The number's shortest decimal text rounded to decimals digits, halves
// away from zero, as Clipper's programs write a number: digit by digit on
// the text.
std::string RoundedText(double value, int decimals) {
  char buffer[512];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value,
                                 std::chars_format::fixed)
                       .ptr;
  std::string text(buffer, end);
  const bool negative = text[0] == '-';
  if (negative) text.erase(0, 1);
  const size_t dot = text.find('.');
  std::string whole = text.substr(0, dot);
  std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
  fraction.resize(std::max<size_t>(fraction.size(), decimals + 1u), '0');
  std::string digits = "0" + whole + fraction.substr(0, decimals);
  if (fraction[decimals] >= '5') {
    size_t i = digits.size();
    while (digits[--i] == '9') digits[i] = '0';
    ++digits[i];
  }
  digits.erase(
      0, std::min(digits.find_first_not_of('0'), digits.size() - decimals - 1));
  const bool zero = digits.find_first_not_of('0') == std::string::npos;
  if (decimals > 0) digits.insert(digits.size() - decimals, ".");
  return (negative && !zero ? "-" : "") + digits;
}

TEST_F(NtxTest, NumberKeysRoundAsClipperPrograms) {
  // The key text is the number at the key's width and decimals, halves of
  // its shortest decimal text rounded away from zero (then the rule for
  // negatives): checked over random values, widths and decimals, halfway
  // cases and values too wide for the key.
  const uint32_t seed = TestSeed(31337);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  for (uint16_t length : {1, 4, 8, 12, 19}) {
    for (uint16_t decimals = 0;
         decimals <= 15 && (decimals == 0 || decimals + 2 <= length);
         ++decimals) {
      const std::string name = "r" + std::to_string(length) + "_" +
                               std::to_string(decimals) + ".ntx";
      int16_t h = CreateOpen(name, 'N', "K", length, decimals);
      for (int i = 0; i < 400; ++i) {
        double value = 0;
        switch (i % 4) {
          case 0:
            value = static_cast<double>(static_cast<int32_t>(rng())) / 1000;
            break;
          case 1:  // halfway at the last decimal
            value = (static_cast<int>(rng() % 20001) - 10000 + 0.5) /
                    std::pow(10.0, decimals);
            break;
          case 2:
            value = std::ldexp(static_cast<double>(rng()),
                               -static_cast<int>(rng() % 40));
            break;
          default:
            value = -std::ldexp(static_cast<double>(rng()),
                                static_cast<int>(rng() % 80));
        }
        std::string expected = RoundedText(value, decimals);
        if (expected.size() < length)
          expected.insert(0, length - expected.size(), ' ');
        const bool negative = expected.find('-') != std::string::npos;
        for (char& c : expected)
          if (c == ' ' || c == '-') c = '0';
        if (expected.size() > length) {  // too wide: the sign goes first
          if (negative) expected.erase(0, 1);
          expected.resize(length);
        }
        if (negative)
          for (char& c : expected)
            if (c >= '0' && c <= '9') c = static_cast<char>(92 - c);
        char shortest[64];
        *std::to_chars(shortest, shortest + 63, value).ptr = 0;
        ASSERT_EQ(NumberKey(h, value), expected) << shortest;
      }
      ASSERT_EQ(kbdxclose(h), kKbdOk);
    }
  }
}

// NtxNumberKey assembled the plain way: RoundedFixed's text in a string
// (printf for infinities and NaN), the sign put back unless everything
// rounds to zero, zeros in front, cut to the key, negative digits turned.
std::string PlainNumberKey(double number, uint32_t length, uint32_t decimals) {
  std::string text;
  if (std::isfinite(number)) {
    text = RoundedFixed(std::fabs(number), static_cast<int32_t>(decimals));
    if (std::signbit(number) &&
        text.find_first_not_of("0.") != std::string::npos)
      text.insert(text.begin(), '-');
  } else {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", static_cast<int>(decimals),
                  number);
    text = buffer;
  }
  const bool negative = !text.empty() && text[0] == '-';
  std::string digits = text.substr(negative ? 1 : 0);
  if (digits.size() < length) digits.insert(0, length - digits.size(), '0');
  digits.resize(length);
  if (negative) {
    for (char& c : digits)
      if (c >= '0' && c <= '9') c = static_cast<char>(92 - c);
  }
  return digits;
}

// The keys of the builds and of kbdxkeynum: exact bytes against the plain
// assembly over negatives, halves, carries into a new digit, text wider
// than the key, -0.0 and the non-finite values; date keys against printf.
TEST_F(NtxTest, NumberAndDateKeysMatchThePlainConversion) {
  std::vector<double> values = {0.0,
                                -0.0,
                                0.004,
                                -0.004,
                                0.005,
                                -0.005,
                                2.675,
                                -2.675,
                                9.995,
                                -9.995,
                                99999.995,
                                -99999.995,
                                670.5,
                                1e9,
                                -1e9,
                                1e300,
                                -1e300,
                                5e-324,
                                1234567.891,
                                0.5,
                                -0.5,
                                std::numeric_limits<double>::infinity(),
                                -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 rng(18);
  for (int i = 0; i < 20000; ++i) {
    const double cents = static_cast<double>(rng() % 10000000000ULL) / 100.0;
    values.push_back(i % 2 == 0 ? cents : -cents);
    values.push_back(
        static_cast<double>(static_cast<int64_t>(rng() % 2000001) - 1000000) /
        1000.0);
  }
  const struct {
    uint32_t length, decimals;
  } kShapes[] = {{10, 2}, {8, 0}, {4, 0}, {6, 3}, {12, 4}, {20, 8}, {3, 1}};
  uint8_t key[64];
  for (const auto& shape : kShapes) {
    for (double v : values) {
      NtxNumberKey(v, shape.length, shape.decimals, key);
      ASSERT_EQ(std::string(reinterpret_cast<char*>(key), shape.length),
                PlainNumberKey(v, shape.length, shape.decimals))
          << v << " in " << shape.length << "," << shape.decimals;
      ASSERT_EQ(key[shape.length], 0);
    }
  }

  NtxFile file;
  file.header.key_length = 10;
  for (int32_t day = DateToKeyDay(0, 1, 1); day <= DateToKeyDay(9999, 12, 31);
       day += 3) {
    int year = 0, month = 0, mday = 0;
    if (KeyDayToDate(&year, &month, &mday, day) < 0) {
      // A number no date has (the key days skip some): no key either.
      EXPECT_EQ(NtxValueKey('D', {}, day, file, key), kKbdErrDate) << day;
      kbdseterror(0);
      continue;
    }
    char expected[16];
    std::snprintf(expected, sizeof expected, "%04d%02d%02d  ", year, month,
                  mday);
    ASSERT_EQ(NtxValueKey('D', {}, day, file, key), kKbdOk);
    ASSERT_EQ(std::string(reinterpret_cast<char*>(key), 10), expected);
  }
  ASSERT_EQ(NtxValueKey('D', {}, kEmptyDateKeyDay, file, key), kKbdOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 10), "          ");
}

TEST_F(NtxTest, DateKeys) {
  char key[9];
  ASSERT_EQ(kbdxkeydate(key, "20240229"), kKbdOk);
  EXPECT_STREQ(key, "20240229");
  ASSERT_EQ(kbdxkeydate(key, "        "), kKbdOk);
  EXPECT_STREQ(key, "        ");
  EXPECT_EQ(kbdxkeydate(key, "20230229"), kKbdErrDate);
  kbdseterror(0);
  EXPECT_EQ(kbdxkeydate(nullptr, "20240229"), kKbdErrNullPointer);
  kbdseterror(0);
}

TEST_F(NtxTest, RecordKeysOfEveryType) {
  kbdsetsync(0);
  int16_t dbf = MakeBuildTable(Path("t.dbf"), 20, 3, 5);
  const struct {
    const char* file;
    uint16_t type;
    const char* expression;
    uint16_t length;
    uint16_t decimals;
  } cases[] = {{"name.ntx", 'C', "NAME", 20, 0},
               {"amount.ntx", 'N', "AMOUNT", 12, 3},
               {"birth.ntx", 'D', "BIRTH", 8, 0},
               {"mixed.ntx", 'C', "LEFT(NAME,3)+DTOS(BIRTH)", 11, 0}};
  ASSERT_EQ(kbdsetdatefmt(7), kKbdOk);  // dd.mm.yyyy: keys stay YYYYMMDD
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    int16_t h = CreateOpen(c.file, c.type, c.expression, c.length, c.decimals);
    for (uint32_t r = 1; r <= 20; ++r) {
      ASSERT_GE(kbddread(dbf, r), 0);
      void* key = nullptr;
      ASSERT_EQ(kbdxkeyrec(dbf, h, &key), kKbdOk);
      const std::string text(static_cast<char*>(key));
      kbdfree(key);
      ASSERT_EQ(text.size(), c.length);
      if (c.type == 'N') {
        double amount = 0;
        ASSERT_EQ(kbddget(dbf, 1, &amount), kKbdOk);
        EXPECT_EQ(text, NumberKey(h, amount));
      }
      if (c.type == 'D') {
        char raw[16] = {};
        uint16_t length = 0;
        ASSERT_EQ(kbddgetraw(dbf, 2, raw, &length), kKbdOk);
        EXPECT_EQ(text, std::string(raw, length));
      }
    }
  }
  // An expression that yields no value gives no key.
  ASSERT_EQ(kbdxcreate(Path("bad.ntx").c_str(), 'C', "NAME", 20, 0), kKbdOk);
  const std::string bad = Path("bad.ntx");
  PatchWord(bad, 22, 0, 4);  // an empty expression
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdxopenx(&h, bad.c_str(), 0), kKbdOk);
  void* key = reinterpret_cast<void*>(1);
  EXPECT_LT(kbdxkeyrec(dbf, h, &key), 0);
  EXPECT_EQ(key, nullptr);
  kbdseterror(0);
  ASSERT_EQ(kbdsetdatefmt(4), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
