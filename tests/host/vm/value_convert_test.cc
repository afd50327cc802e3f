// The host VM's conversions: every family, overflow as results of 100 and
// more, texts in both code pages, and the memory the VM owns.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "host/vm/vm.h"

namespace qx::vm {
namespace {

// A converted value released at the end of the scope.
struct Converted {
  Converted(const HostValue& source, uint8_t type, uint8_t scale = 0) {
    value.scale = scale;
    result = Convert(&source, &value, type, 0);
  }
  ~Converted() { EndConversion(&value); }
  std::string Ansi() const {
    return std::string(static_cast<const char*>(value.data), value.size);
  }
  HostValue value;
  uint32_t result;
};

TEST(VmConvertTest, IntegersOfEveryWidthWithOverflow) {
  struct Case {
    uint8_t type;
    int64_t fits, overflows;
  };
  const Case cases[] = {{kValueInt8, -128, 128},
                        {kValueUInt8, 255, -1},
                        {kValueInt16, 32767, 32768},
                        {kValueUInt16, 65535, 65536},
                        {kValueInt32, -2147483648LL, 2147483648LL},
                        {kValueUInt32, 4294967295LL, 4294967296LL}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    Converted ok(IntValue(kValueInt64, c.fits), c.type);
    EXPECT_EQ(ok.result, kHostOk);
    Converted back(ok.value, kValueInt64);
    EXPECT_EQ(back.value.fixed.i64, c.fits);
    EXPECT_EQ(Converted(IntValue(kValueInt64, c.overflows), c.type).result,
              kHostOverflow);
  }
  Converted big(UnsignedValue(kValueUInt64, 18446744073709551615ULL),
                kValueInt64);
  EXPECT_EQ(big.result, kHostOverflow);
  Converted unsigned_max(UnsignedValue(kValueUInt64, 18446744073709551615ULL),
                         kValueDouble);
  EXPECT_EQ(unsigned_max.value.fixed.f64, 18446744073709551615.0);
  Converted alt(IntValue(kValueInt64Alt, -7), kValueInt16);
  EXPECT_EQ(alt.value.fixed.bytes[0], 0xF9);
  EXPECT_EQ(alt.value.size, 2u);
}

TEST(VmConvertTest, FloatsCurrencyAndDecimals) {
  Converted cut(DoubleValue(-2.75), kValueInt32);
  EXPECT_EQ(cut.result, kHostRounded);  // toward zero, precision lost
  EXPECT_EQ(cut.value.fixed.i64 & 0xFFFFFFFF, 0xFFFFFFFEu);
  EXPECT_EQ(Converted(DoubleValue(3e10), kValueInt32).result, kHostOverflow);
  EXPECT_EQ(Converted(DoubleValue(std::nan("")), kValueInt64).result,
            kHostOverflow);
  EXPECT_EQ(Converted(DoubleValue(1e39), kValueFloat).result, kHostOverflow);
  Converted single(DoubleValue(0.1), kValueFloat);
  EXPECT_EQ(single.result, kHostRounded);
  EXPECT_FLOAT_EQ(single.value.fixed.f32, 0.1f);

  Converted currency(DoubleValue(12.34567), kValueCurrency);
  EXPECT_EQ(CurrencyOf(currency.value), 123457);  // rounded to 1/10000
  EXPECT_EQ(currency.result, kHostRounded);
  EXPECT_EQ(currency.value.size, 10u);
  Converted negative(IntValue(kValueInt32, -3), kValueCurrency);
  EXPECT_EQ(CurrencyOf(negative.value), -30000);
  EXPECT_EQ(Converted(DoubleValue(1e20), kValueCurrency).result, kHostOverflow);

  // A decimal target takes its scale from the target.
  Converted decimal(CurrencyValue(-12345), kValueDecimal, 2);
  EXPECT_EQ(static_cast<int64_t>(DecimalOf(decimal.value)), -123);
  EXPECT_EQ(decimal.value.scale, 2);
  EXPECT_EQ(decimal.result, kHostRounded);
  Converted wide(DecimalValue(static_cast<__int128>(1) << 100, 0),
                 kValueDecimal, 10);
  EXPECT_EQ(wide.result, kHostOverflow);
  Converted to_double(DecimalValue(31415, 4), kValueDouble);
  EXPECT_DOUBLE_EQ(to_double.value.fixed.f64, 3.1415);
}

TEST(VmConvertTest, TextsBothWays) {
  Converted text(IntValue(kValueInt32, -42), kValueText);
  EXPECT_EQ(text.Ansi(), "-42");
  EXPECT_NE(text.value.state & kValueStateOwned, 0);
  EXPECT_EQ(static_cast<const char*>(text.value.data)[3], '\0');
  EXPECT_EQ(Converted(DoubleValue(0.1), kValueText).Ansi(), "0.1");
  EXPECT_EQ(Converted(DoubleValue(1.0 / 3), kValueText).Ansi(),
            "0.33333333333333331");
  EXPECT_EQ(Converted(CurrencyValue(125000), kValueText).Ansi(), "12.5");
  EXPECT_EQ(Converted(DecimalValue(-500, 3), kValueText).Ansi(), "-0.500");
  EXPECT_EQ(Converted(IntValue(kValueBoolean, 1), kValueText).Ansi(), "1");

  Converted parsed(AnsiTextValue("  -12,50 "), kValueCurrency);
  EXPECT_EQ(parsed.result, kHostOk);
  EXPECT_EQ(CurrencyOf(parsed.value), -125000);
  EXPECT_EQ(
      Converted(AnsiTextValue("1e3"), kValueInt32).value.fixed.i64 & 0xFFFFFFFF,
      1000u);
  EXPECT_EQ(Converted(AnsiTextValue("12a"), kValueInt32).result, kHostInvalid);
  EXPECT_EQ(Converted(AnsiTextValue("300"), kValueUInt8).result, kHostOverflow);
  EXPECT_EQ(
      Converted(AnsiTextValue("Vrai"), kValueBoolean).value.fixed.bytes[0], 1);

  // Code page 1252 to UTF-16 and back; characters 1252 lacks are lost.
  Converted unicode(AnsiTextValue("\xE9t\xE9 \x80"), kValueUnicodeText);
  EXPECT_EQ(unicode.value.size, 10u);
  EXPECT_EQ(TextOf(unicode.value), u"été €");
  const std::u16string greek = u"αβ";
  Converted lossy(UnicodeTextValue(greek), kValueText);
  EXPECT_EQ(lossy.result, kHostRounded);
  EXPECT_EQ(lossy.Ansi(), "??");
  // Blank-padded forms read without their padding.
  EXPECT_EQ(
      Converted(AnsiTextValue("ab  ", kValueFixedText), kValueText).Ansi(),
      "ab");
  // The single character.
  EXPECT_EQ(Converted(AnsiTextValue("x"), kValueChar).value.fixed.bytes[0],
            'x');
  EXPECT_EQ(Converted(AnsiTextValue("xy"), kValueChar).result, kHostOverflow);
}

TEST(VmConvertTest, DatesTimesAndDateTimes) {
  EXPECT_EQ(JulianDay(2000, 1, 1), 2451545);
  int y, m, d;
  CivilDate(2451545 + 60, &y, &m, &d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20000301);

  EXPECT_EQ(Converted(DateValue(2026, 2, 28), kValueText).Ansi(), "20260228");
  EXPECT_EQ(Converted(TimeValue(9, 5, 7, 30), kValueText).Ansi(), "090507030");
  EXPECT_EQ(
      Converted(DateTimeValue(1999, 12, 31, 23, 59, 58, 1), kValueText).Ansi(),
      "19991231235958001");
  Converted date(AnsiTextValue("20240229"), kValueDate);
  EXPECT_EQ(date.value.fixed.i64 & 0xFFFFFFFF,
            static_cast<uint32_t>(JulianDay(2024, 2, 29)));
  EXPECT_EQ(Converted(AnsiTextValue("20230229"), kValueDate).result,
            kHostInvalid);
  Converted empty(AnsiTextValue("        "), kValueDate);
  EXPECT_EQ(empty.result, kHostOk);
  EXPECT_EQ(Converted(empty.value, kValueText).Ansi(), "");

  Converted stamp(AnsiTextValue("2026010212"), kValueDateTime);
  EXPECT_EQ(stamp.result, kHostOk);
  Converted only_date(stamp.value, kValueDate);
  EXPECT_EQ(only_date.result, kHostRounded);
  Converted hours(stamp.value, kValueTime);
  EXPECT_EQ(hours.value.fixed.i64 & 0xFFFFFFFF, 12u * 3600 * 1000);
  Converted midnight(DateValue(2026, 1, 2), kValueDateTime);
  EXPECT_EQ(Converted(midnight.value, kValueText).Ansi(), "20260102000000000");
  EXPECT_EQ(Converted(AnsiTextValue("2515"), kValueTime).result, kHostInvalid);
  EXPECT_EQ(Converted(DateValue(2026, 1, 2), kValueInt32).result,
            kHostIncompatible);
  EXPECT_EQ(Converted(IntValue(kValueInt32, 5), kValueDate).result,
            kHostIncompatible);
}

TEST(VmConvertTest, BinariesNullsAndOwnership) {
  const char bytes[] = {'\x00', '\x01', '\xFF'};
  Converted copy(BinaryValue(bytes, 3), kValueRawBinary);
  EXPECT_EQ(copy.value.size, 3u);
  EXPECT_EQ(std::memcmp(copy.value.data, bytes, 3), 0);
  EXPECT_NE(copy.value.data, static_cast<const void*>(bytes));
  EXPECT_EQ(Converted(AnsiTextValue("ab"), kValueBinary).Ansi(), "ab");
  EXPECT_EQ(Converted(BinaryValue(bytes, 3), kValueInt32).result,
            kHostIncompatible);

  HostValue null;
  null.type = kValueNull;
  Converted from_null(null, kValueInt32);
  EXPECT_EQ(from_null.result, kHostOk);
  EXPECT_NE(from_null.value.state & kValueStateNull, 0);

  // A failed conversion leaves the target as it was; FinConversion
  // clears a value.
  HostValue target = IntValue(kValueInt32, 77);
  const HostValue source = AnsiTextValue("x");
  EXPECT_EQ(Convert(&source, &target, kValueInt32, 0), kHostInvalid);
  EXPECT_EQ(target.fixed.i64 & 0xFF, 77);
  EXPECT_EQ(Convert(nullptr, &target, kValueInt32, 0), kHostInvalid);
  EXPECT_EQ(Convert(&source, &target, 200, 0), kHostIncompatible);
  EndConversion(&target);
  EXPECT_EQ(target.type, kValueNone);
}

}  // namespace
}  // namespace qx::vm
