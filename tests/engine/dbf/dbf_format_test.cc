// The DBF codecs: header and descriptor round trips, and the stored forms
// of numbers, dates, logicals, memo numbers and date-times.
#include "engine/dbf/dbf_format.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "engine/core/coding.h"
#include "engine/dates/date_format.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

std::string Text(const uint8_t* p, size_t n) {
  return std::string(reinterpret_cast<const char*>(p), n);
}

TEST(DbfFormatTest, HeaderAndDescriptorRoundTrip) {
  std::array<uint8_t, kDbfHeaderSize> raw{};
  for (size_t i = 0; i < raw.size(); ++i)
    raw[i] = static_cast<uint8_t>(i * 7 + 1);
  DbfHeader h = DbfHeader::DecodeFrom(raw);
  EXPECT_EQ(h.version, raw[0]);
  EXPECT_EQ(h.record_count, GetLe32(raw.data() + 4));
  EXPECT_EQ(h.header_size, GetLe16(raw.data() + 8));
  EXPECT_EQ(h.record_size, GetLe16(raw.data() + 10));
  EXPECT_EQ(h.mdx_flag, raw[28]);
  std::array<uint8_t, kDbfHeaderSize> again{};
  h.EncodeTo(again);
  EXPECT_EQ(again, raw);  // reserved bytes survive too

  std::array<uint8_t, kDbfDescriptorSize> d_raw{};
  std::memcpy(d_raw.data(), "AMOUNT", 6);
  d_raw[11] = 'C';
  d_raw[16] = 44;
  d_raw[17] = 1;
  d_raw[18] = 0x02;
  d_raw[31] = 0x55;
  PutLe32(d_raw.data() + 12, 0x01020304);  // Visual FoxPro: displacement
  PutLe32(d_raw.data() + 19, 11078);       // autoincrement next value
  d_raw[23] = 7;                           // and step
  DbfDescriptor d = DbfDescriptor::DecodeFrom(d_raw);
  EXPECT_EQ(d.NameLength(), 6u);
  EXPECT_EQ(d.type, 'C');
  EXPECT_EQ(d.WideLength(), 300);  // byte 17 as the high byte
  EXPECT_EQ(d.flags, 0x02);
  EXPECT_EQ(d.displacement, 0x01020304u);
  EXPECT_EQ(d.next_value, 11078u);
  EXPECT_EQ(d.step, 7);
  std::array<uint8_t, kDbfDescriptorSize> d_again{};
  d.EncodeTo(d_again);
  EXPECT_EQ(d_again, d_raw);

  std::memcpy(d_raw.data(), "ELEVENCHARS", 11);
  EXPECT_EQ(DbfDescriptor::DecodeFrom(d_raw).NameLength(), 11u);
}

// Currencies cut the decimal number the double stands for, not its binary
// expansion: 12.3456 * 10000 is 123455.99999... in doubles.
TEST(DbfFormatTest, CurrencyCutsTheDecimalValue) {
  struct Case {
    double value;
    int64_t stored;
  } cases[] = {{12.3456, 123456},
               {1.23456, 12345},
               {-1.23456, -12345},
               {-3.25, -32500},
               {5, 50000},
               {0.00009, 0},
               {0.0001, 1},
               {1e14, 1000000000000000000},
               {-9.2e14, -9200000000000000000},
               {0.1 + 0.2, 3000}};
  for (const Case& c : cases) {
    int64_t stored = -1;
    EXPECT_EQ(EncodeCurrency(c.value, &stored), kKbdOk) << c.value;
    EXPECT_EQ(stored, c.stored) << c.value;
  }
  int64_t stored = 0;
  EXPECT_EQ(EncodeCurrency(9.3e14, &stored), kKbdErrData);
  EXPECT_EQ(EncodeCurrency(std::nan(""), &stored), kKbdErrData);
  EXPECT_EQ(EncodeCurrency(-INFINITY, &stored), kKbdErrData);
}

TEST(DbfFormatTest, BlankText) {
  EXPECT_TRUE(IsBlankText(reinterpret_cast<const uint8_t*>("     "), 5));
  EXPECT_TRUE(IsBlankText(reinterpret_cast<const uint8_t*>("  \0x "), 5));
  EXPECT_TRUE(IsBlankText(reinterpret_cast<const uint8_t*>("\0\0"), 2));
  EXPECT_TRUE(IsBlankText(nullptr, 0));
  EXPECT_FALSE(IsBlankText(reinterpret_cast<const uint8_t*>("  1  "), 5));
}

TEST(DbfFormatTest, Numbers) {
  EXPECT_EQ(LargestStorableNumber(5, 2), 99.99);
  EXPECT_EQ(LargestStorableNumber(5, 0), 99999.0);
  EXPECT_EQ(LargestStorableNumber(3, 2), 0.99);  // point at position 0
  EXPECT_EQ(LargestStorableNumber(20, 4), 999999999999999.9999);

  const double largest = LargestStorableNumber(5, 2);
  uint8_t field[5];
  std::memcpy(field, "xxxxx", 5);
  EXPECT_EQ(EncodeNumber(100.0, 5, 2, largest, field), kKbdErrData);
  EXPECT_EQ(EncodeNumber(99.999, 5, 2, largest, field), kKbdErrData);
  EXPECT_EQ(EncodeNumber(-99.99, 5, 2, largest, field), kKbdErrData);  // 6 wide
  EXPECT_EQ(EncodeNumber(std::nan(""), 5, 2, largest, field), kKbdErrData);
  EXPECT_EQ(EncodeNumber(1e300, 5, 2, largest, field), kKbdErrData);
  EXPECT_EQ(Text(field, 5), "xxxxx");  // untouched by the failures
  EXPECT_EQ(EncodeNumber(1.005, 5, 2, largest, field), kKbdNumberRounded);
  EXPECT_EQ(Text(field, 5), " 1.00");  // 1.005 is 1.00499... in binary
  EXPECT_EQ(EncodeNumber(12.5, 5, 2, largest, field), kKbdOk);
  EXPECT_EQ(Text(field, 5), "12.50");
  EXPECT_EQ(EncodeNumber(-9.99, 5, 2, largest, field), kKbdOk);
  EXPECT_EQ(Text(field, 5), "-9.99");
  EXPECT_EQ(EncodeNumber(99.994, 5, 2, largest, field), kKbdNumberRounded);
  EXPECT_EQ(Text(field, 5), "99.99");
  EXPECT_EQ(EncodeNumber(42, 5, 0, 99999, field), kKbdOk);
  EXPECT_EQ(Text(field, 5), "   42");

  auto decode = [](const char* s) {
    return DecodeNumber(reinterpret_cast<const uint8_t*>(s), std::strlen(s));
  };
  EXPECT_EQ(decode("  12.50"), 12.5);
  EXPECT_EQ(decode("   -.5"), -0.5);
  EXPECT_EQ(decode("  +7"), 7.0);
  EXPECT_EQ(decode("     "), 0.0);
  EXPECT_EQ(decode("*****"), 0.0);
  EXPECT_EQ(decode("1,200.00"), 1.0);  // the leading number only
  EXPECT_EQ(DecodeNumber(reinterpret_cast<const uint8_t*>("\0\0\0"), 3), 0.0);
}

// The word-at-a-time reader of the writers' form against the byte scan:
// whenever it answers, the same value to the bit; writers' forms (blanks,
// sign, digits, the point where the field's decimals put it) it answers
// itself, everything else it leaves to the scan.
TEST(DbfFormatTest, DeclaredNumbersReadAsThePlainScan) {
  auto word = [](const std::string& s, unsigned decimals, double* v) {
    return ReadDeclaredNumber(reinterpret_cast<const uint8_t*>(s.data()),
                              s.size(), decimals, v);
  };
  double v = 0;
  EXPECT_TRUE(word("  12345.67", 2, &v));
  EXPECT_EQ(v, 12345.67);
  EXPECT_TRUE(word("   -0.50", 2, &v));
  EXPECT_EQ(v, -0.5);
  EXPECT_TRUE(word("     -.5", 1, &v));
  EXPECT_EQ(v, -0.5);
  EXPECT_TRUE(word("-0.00000", 5, &v));
  EXPECT_TRUE(std::signbit(v));
  EXPECT_TRUE(word("        12345678", 0, &v));
  EXPECT_EQ(v, 12345678.0);
  EXPECT_TRUE(word(".1234567", 7, &v));
  EXPECT_EQ(v, 0.1234567);
  for (const char* other :
       {"1234567.89", "  1234.567", "   12.5  ", "  - 12.50", "  --12.50",
        "  12-34.50", "        ", "       -", "      . ", "  1 234.50",
        "  12,34.50", "-  12.50", "1e3  .50"})
    EXPECT_FALSE(word(other, 2, &v)) << other;
  EXPECT_FALSE(word(std::string(8, '\0'), 0, &v));

  // Random fields, a third of them anything, the rest writers' forms with
  // now and then one byte spoilt.
  std::mt19937 rng(20261206);
  auto next = [&rng](uint32_t n) { return rng() % n; };
  const char alphabet[] = " -.0123456789x";
  int answered = 0;
  for (int i = 0; i < 300000; ++i) {
    size_t length = 8 + next(9);
    unsigned decimals = static_cast<unsigned>(next(8));
    std::string s(length, ' ');
    if (next(3) == 0) {
      for (char& c : s) c = alphabet[next(14)];
    } else {
      size_t at = length;
      if (decimals != 0) {
        for (unsigned k = 0; k < decimals; ++k)
          s[--at] = static_cast<char>('0' + next(10));
        s[--at] = '.';
      }
      for (size_t k = next(at + 1); k > 0; --k)
        s[--at] = static_cast<char>('0' + next(10));
      if (at > 0 && next(3) == 0) s[--at] = '-';
      if (next(4) == 0) s[next(length)] = alphabet[next(14)];
    }
    double fast = 0, plain = 0;
    if (!word(s, decimals, &fast)) continue;
    ++answered;
    ASSERT_TRUE(ReadPlainNumber(reinterpret_cast<const uint8_t*>(s.data()),
                                length, &plain))
        << '"' << s << '"';
    ASSERT_EQ(std::bit_cast<uint64_t>(fast), std::bit_cast<uint64_t>(plain))
        << '"' << s << "\" " << decimals;
  }
  EXPECT_GT(answered, 60000);  // the writers' forms take the word path
}

TEST(DbfFormatTest, Dates) {
  char out[kDateTextSize];
  const uint8_t* leap = reinterpret_cast<const uint8_t*>("20240229");
  ASSERT_EQ(DecodeDate(leap, 8, kDateFormatYmd, out), kKbdOk);
  EXPECT_STREQ(out, "20240229");
  ASSERT_EQ(DecodeDate(leap, 8, kDateFormatGerman4, out), kKbdOk);
  EXPECT_STREQ(out, "29.02.2024");
  ASSERT_EQ(DecodeDate(reinterpret_cast<const uint8_t*>("        "), 8,
                       kDateFormatGregorian4, out),
            kKbdOk);
  EXPECT_STREQ(out, "          ");  // the format's length in blanks
  ASSERT_EQ(DecodeDate(reinterpret_cast<const uint8_t*>(" 0240229"), 8,
                       kDateFormatDmyPacked, out),
            kKbdOk);
  EXPECT_STREQ(out, "      ");  // a blank first byte is a blank date
  ASSERT_EQ(DecodeDate(reinterpret_cast<const uint8_t*>("\0\0\0\0\0\0\0\0"), 8,
                       kDateFormatYmd, out),
            kKbdOk);
  EXPECT_STREQ(out, "        ");
  EXPECT_EQ(DecodeDate(reinterpret_cast<const uint8_t*>("NotAYear"), 8,
                       kDateFormatYmd, out),
            kKbdErrDate);
  EXPECT_EQ(DecodeDate(leap, 8, 16, out), kKbdErrCommand);

  uint8_t field[10];
  std::memcpy(field, "xxxxxxxxxx", 10);
  EXPECT_EQ(EncodeDate("31.02.2024", kDateFormatGerman4, field, 8),
            kKbdErrDate);
  EXPECT_EQ(EncodeDate("20240229", kDateFormatYmd, field, 6), kKbdErrData);
  EXPECT_EQ(Text(field, 10), "xxxxxxxxxx");
  EXPECT_EQ(EncodeDate("29.02.2024", kDateFormatGerman4, field, 10), kKbdOk);
  EXPECT_EQ(Text(field, 10), "20240229  ");
  EXPECT_EQ(EncodeDate("   ", kDateFormatGerman4, field, 8), kKbdOk);
  EXPECT_EQ(Text(field, 8), "        ");
  EXPECT_EQ(EncodeDate("..", kDateFormatGerman4, field, 8), kKbdOk);  // empty
  EXPECT_EQ(Text(field, 8), "        ");
}

TEST(DbfFormatTest, LogicalsAndMemoNumbers) {
  for (int c : {int{'T'}, int{'t'}, int{'Y'}, int{'y'}, int{'1'}, 1})
    EXPECT_EQ(DecodeLogical(static_cast<uint8_t>(c)), 1);
  for (int c : {int{'F'}, int{'f'}, int{'N'}, int{'n'}, int{'0'}, 0})
    EXPECT_EQ(DecodeLogical(static_cast<uint8_t>(c)), 0);
  for (int c : {' ', '?', 'x'})
    EXPECT_EQ(DecodeLogical(static_cast<uint8_t>(c)), '?');
  uint8_t stored = 'x';
  EXPECT_EQ(EncodeLogical('y', &stored), kKbdOk);
  EXPECT_EQ(stored, 'T');
  EXPECT_EQ(EncodeLogical(0, &stored), kKbdOk);
  EXPECT_EQ(stored, 'F');
  EXPECT_EQ(EncodeLogical('?', &stored), kKbdErrData);
  EXPECT_EQ(stored, 'F');

  uint32_t number = 99;
  auto decode = [&](const char* s) {
    return DecodeMemoNumber(reinterpret_cast<const uint8_t*>(s), 10, &number);
  };
  EXPECT_EQ(decode("        12"), kKbdOk);
  EXPECT_EQ(number, 12u);
  EXPECT_EQ(decode("          "), kKbdOk);
  EXPECT_EQ(number, 0u);
  EXPECT_EQ(decode("      12a "), kKbdErrData);
  EXPECT_EQ(decode("9999999999"), kKbdErrData);  // past 32 bits
  uint8_t field[10];
  EXPECT_EQ(EncodeMemoNumber(7, field, 10), kKbdOk);
  EXPECT_EQ(Text(field, 10), "         7");
  EXPECT_EQ(EncodeMemoNumber(4294967295u, field, 10), kKbdOk);
  EXPECT_EQ(Text(field, 10), "4294967295");
  EXPECT_EQ(EncodeMemoNumber(12345, field, 4), kKbdErrData);
}

TEST(DbfFormatTest, DateTimes) {
  uint8_t field[8];
  char out[kDbfDateTimeTextLength + 1];
  ASSERT_EQ(EncodeDateTime("20240229133005123", field), kKbdOk);
  EXPECT_EQ(GetLe32(field),
            static_cast<uint32_t>(DateToJulianDay(2024, 2, 29)));
  EXPECT_EQ(GetLe32(field), 2460370u);
  EXPECT_EQ(GetLe32(field + 4), 48605000u);  // to the whole second
  ASSERT_EQ(DecodeDateTime(field, out), kKbdOk);
  EXPECT_STREQ(out, "20240229133005000");

  PutLe32(field + 4, 48605500);  // a remainder of 500 ms is dropped
  ASSERT_EQ(DecodeDateTime(field, out), kKbdOk);
  EXPECT_STREQ(out, "20240229133005000");
  PutLe32(field + 4, 48605501);
  ASSERT_EQ(DecodeDateTime(field, out), kKbdOk);
  EXPECT_STREQ(out, "20240229133006000");
  PutLe32(field + 4, 86399600);  // rounds up to midnight of the next day
  ASSERT_EQ(DecodeDateTime(field, out), kKbdOk);
  EXPECT_STREQ(out, "20240301000000000");

  ASSERT_EQ(EncodeDateTime("19700101", field), kKbdOk);
  EXPECT_EQ(GetLe32(field), 2440588u);
  EXPECT_EQ(GetLe32(field + 4), 0u);
  ASSERT_EQ(EncodeDateTime("   ", field), kKbdOk);
  EXPECT_EQ(GetLe64(field), 0u);
  ASSERT_EQ(DecodeDateTime(field, out), kKbdOk);
  EXPECT_STREQ(out, "                 ");
  EXPECT_EQ(EncodeDateTime("20240230", field), kKbdErrDate);
  EXPECT_EQ(EncodeDateTime("2024022925", field), kKbdErrTime);
  EXPECT_EQ(EncodeDateTime("20240229 1", field), kKbdErrTime);
  PutLe32(field, 0x7FFFFFFF);
  PutLe32(field + 4, 0);
  EXPECT_EQ(DecodeDateTime(field, out), kKbdErrDate);
}

}  // namespace
}  // namespace qx::engine
