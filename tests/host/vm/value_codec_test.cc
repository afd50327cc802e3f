// The host value codec: every value kind decoded and encoded back to the
// same bytes, the edges of each kind (widths, limits, empty and null
// values, padding, byte order), texts read as other kinds, and the
// malformed values Decode refuses.
#include "host/vm/value_codec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "host/vm/vm.h"

namespace qx::vm {
namespace {

// An encoded value released at the end of the scope.
struct Encoded {
  Encoded(const Decoded& decoded, uint8_t type, uint8_t scale = 0) {
    result = Encode(decoded, type, scale, &value);
  }
  ~Encoded() { EndConversion(&value); }
  Encoded(const Encoded&) = delete;
  Encoded& operator=(const Encoded&) = delete;

  std::string Bytes() const {
    return std::string(static_cast<const char*>(value.data), value.size);
  }

  HostValue value;
  uint32_t result;
};

Decoded DecodeOrFail(const HostValue& value) {
  Decoded d;
  EXPECT_TRUE(Decode(value, &d));
  return d;
}

Decoded Text(std::u16string text) {
  Decoded d;
  d.family = Family::kText;
  d.text = std::move(text);
  d.type = kValueUnicodeText;
  return d;
}

// The value's bytes: the fixed ones for a fixed type, else those behind
// data.
std::string BytesOf(const HostValue& value) {
  if (value.data != nullptr) {
    return std::string(static_cast<const char*>(value.data), value.size);
  }
  return std::string(reinterpret_cast<const char*>(value.fixed.bytes),
                     value.size);
}

int64_t SignedOf(const HostValue& value, uint32_t width) {
  return static_cast<int64_t>(LoadSigned(value, width));
}

// Decodes source and encodes it back into its own type: the same bytes,
// size and scale, and no loss.
void ExpectRoundTrip(const HostValue& source) {
  Decoded d;
  ASSERT_TRUE(Decode(source, &d));
  Encoded back(d, source.type, source.scale);
  ASSERT_EQ(back.result, kHostOk);
  EXPECT_EQ(back.value.type, source.type);
  EXPECT_EQ(back.value.scale, source.scale);
  EXPECT_EQ(back.value.size, source.size);
  EXPECT_EQ(BytesOf(back.value), BytesOf(source));
}

TEST(ValueCodecTest, IntegersRoundTripAtTheirLimits) {
  struct Case {
    uint8_t type;
    int64_t low, high;
  };
  const Case cases[] = {
      {kValueInt8, -128, 127},
      {kValueInt16, -32768, 32767},
      {kValueInt32, std::numeric_limits<int32_t>::min(),
       std::numeric_limits<int32_t>::max()},
      {kValueInt64, std::numeric_limits<int64_t>::min(),
       std::numeric_limits<int64_t>::max()},
      {kValueInt64Alt, std::numeric_limits<int64_t>::min(),
       std::numeric_limits<int64_t>::max()},
      {kValueUInt8, 0, 255},
      {kValueUInt16, 0, 65535},
      {kValueUInt32, 0, 4294967295LL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    for (int64_t v : {c.low, c.high, int64_t{0}, c.high / 3}) {
      const HostValue value = IntValue(c.type, v);
      const Decoded d = DecodeOrFail(value);
      EXPECT_EQ(d.family, Family::kNumber);
      EXPECT_FALSE(d.number.is_float);
      EXPECT_EQ(d.number.scale, 0);
      EXPECT_TRUE(d.number.mantissa == v);
      ExpectRoundTrip(value);
    }
  }
}

TEST(ValueCodecTest, UnsignedSixtyFourBitsIsNeverNegative) {
  const HostValue max = UnsignedValue(kValueUInt64, 18446744073709551615ULL);
  const Decoded d = DecodeOrFail(max);
  EXPECT_TRUE(d.number.mantissa ==
              static_cast<__int128>(18446744073709551615ULL));
  ExpectRoundTrip(max);
  Encoded as_signed(d, kValueInt64);
  EXPECT_EQ(as_signed.result, kHostOverflow);
}

TEST(ValueCodecTest, IntegersOutsideTheTargetRangeOverflow) {
  struct Case {
    uint8_t type;
    int64_t below, above;
  };
  const Case cases[] = {{kValueInt8, -129, 128},
                        {kValueInt16, -32769, 32768},
                        {kValueInt32, -2147483649LL, 2147483648LL},
                        {kValueUInt8, -1, 256},
                        {kValueUInt16, -1, 65536},
                        {kValueUInt32, -1, 4294967296LL}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.type));
    EXPECT_EQ(
        Encoded(DecodeOrFail(IntValue(kValueInt64, c.below)), c.type).result,
        kHostOverflow);
    EXPECT_EQ(
        Encoded(DecodeOrFail(IntValue(kValueInt64, c.above)), c.type).result,
        kHostOverflow);
  }
  // A fraction is cut toward zero, which rounds.
  Encoded cut(DecodeOrFail(DecimalValue(-2599, 3)), kValueInt16);
  EXPECT_EQ(cut.result, kHostRounded);
  EXPECT_EQ(SignedOf(cut.value, 2), -2);
}

TEST(ValueCodecTest, BooleanIsAnyNonZeroByte) {
  HostValue value = IntValue(kValueBoolean, 0);
  value.fixed.bytes[0] = 0x80;
  const Decoded d = DecodeOrFail(value);
  EXPECT_TRUE(d.number.mantissa == 1);
  Encoded back(d, kValueBoolean);
  EXPECT_EQ(back.result, kHostOk);
  EXPECT_EQ(back.value.fixed.bytes[0], 1);
  EXPECT_EQ(back.value.size, 1u);
  ExpectRoundTrip(IntValue(kValueBoolean, 0));
  ExpectRoundTrip(IntValue(kValueBoolean, 1));
}

TEST(ValueCodecTest, FloatsRoundTripBitForBit) {
  for (double f : {0.0, -0.0, 0.1, -1.5e308, 4.9e-324,
                   std::numeric_limits<double>::max()}) {
    SCOPED_TRACE(f);
    ExpectRoundTrip(DoubleValue(f));
  }
  for (float f : {0.0f, 0.1f, -3.4e38f, 1.4e-45f}) {
    SCOPED_TRACE(f);
    ExpectRoundTrip(FloatValue(f));
  }
  // Past the 4-byte float's range overflows; a digit it lacks rounds.
  EXPECT_EQ(Encoded(DecodeOrFail(DoubleValue(1e39)), kValueFloat).result,
            kHostOverflow);
  Encoded tenth(DecodeOrFail(DoubleValue(0.1)), kValueFloat);
  EXPECT_EQ(tenth.result, kHostRounded);
  EXPECT_EQ(tenth.value.fixed.f32, 0.1f);
  EXPECT_EQ(tenth.value.size, 4u);
}

TEST(ValueCodecTest, CurrencyKeepsTenBytesUpToItsLimit) {
  const __int128 limit = static_cast<__int128>(1) << 79;
  for (__int128 m : {limit - 1, -(limit - 1), __int128{-1}, __int128{0}}) {
    HostValue value;
    StoreFixed(&value, kValueCurrency, m);
    const Decoded d = DecodeOrFail(value);
    EXPECT_TRUE(d.number.mantissa == m);
    EXPECT_EQ(d.number.scale, 4);
    ExpectRoundTrip(value);
  }
  Decoded at_limit;
  at_limit.family = Family::kNumber;
  at_limit.number.mantissa = limit;
  at_limit.number.scale = 4;
  EXPECT_EQ(Encoded(at_limit, kValueCurrency).result, kHostOverflow);
  // A fifth decimal rounds half away from zero.
  Encoded rounded(DecodeOrFail(DecimalValue(-123455, 5)), kValueCurrency);
  EXPECT_EQ(rounded.result, kHostRounded);
  EXPECT_EQ(CurrencyOf(rounded.value), -12346);
}

TEST(ValueCodecTest, DecimalsOfEveryScale) {
  const __int128 max = PowerOfTen(kMaxDecimalDigits) - 1;
  for (int scale : {0, 1, 18, 38}) {
    SCOPED_TRACE(scale);
    for (__int128 m : {max, -max, __int128{0}, __int128{-5}}) {
      const HostValue value = DecimalValue(m, static_cast<uint8_t>(scale));
      const Decoded d = DecodeOrFail(value);
      EXPECT_TRUE(d.number.mantissa == m);
      EXPECT_EQ(d.number.scale, scale);
      ExpectRoundTrip(value);
    }
  }
  // 39 digits do not fit; neither does a scale past 38.
  Decoded wide;
  wide.family = Family::kNumber;
  wide.number.mantissa = max;
  wide.number.scale = 0;
  EXPECT_EQ(Encoded(wide, kValueDecimal, 1).result, kHostOverflow);
  EXPECT_EQ(Encoded(wide, kValueDecimal, 39).result, kHostInvalid);
  Decoded d;
  EXPECT_FALSE(Decode(DecimalValue(1, 39), &d));
}

TEST(ValueCodecTest, NumbersAsTexts) {
  struct Case {
    HostValue value;
    std::u16string text;
  };
  const Case cases[] = {
      {IntValue(kValueInt64, std::numeric_limits<int64_t>::min()),
       u"-9223372036854775808"},
      {CurrencyValue(15000), u"1.5"},  // trailing zero decimals dropped
      {CurrencyValue(-1), u"-0.0001"},
      {DecimalValue(15000, 4), u"1.5000"},  // all scale digits kept
      {DecimalValue(-5, 3), u"-0.005"},
      {DoubleValue(0.1), u"0.1"},
      {DoubleValue(1.0 / 3), u"0.33333333333333331"},
      {IntValue(kValueBoolean, 1), u"1"},
  };
  for (const Case& c : cases) {
    Encoded text(DecodeOrFail(c.value), kValueUnicodeText);
    ASSERT_EQ(text.result, kHostOk);
    EXPECT_EQ(TextOf(text.value), c.text);
  }
}

TEST(ValueCodecTest, TextsReadAsNumbers) {
  Number n;
  EXPECT_EQ(ParseNumber(u"  -12,50 ", &n), kHostOk);  // a comma is a point
  EXPECT_FALSE(n.is_float);
  EXPECT_TRUE(n.mantissa == -1250);
  EXPECT_EQ(n.scale, 2);
  EXPECT_EQ(ParseNumber(u"", &n), kHostOk);
  EXPECT_TRUE(n.mantissa == 0 && !n.is_float);
  EXPECT_EQ(ParseNumber(u"1e3", &n), kHostOk);
  EXPECT_TRUE(n.is_float);
  EXPECT_EQ(n.f, 1000.0);
  // 38 significant digits stay exact however many zeros lead them; one
  // more goes to a float.
  const std::u16string digits38(38, u'9');
  EXPECT_EQ(ParseNumber(u"0000" + digits38, &n), kHostOk);
  EXPECT_FALSE(n.is_float);
  EXPECT_TRUE(n.mantissa == PowerOfTen(38) - 1);
  EXPECT_EQ(ParseNumber(digits38 + u"9", &n), kHostOk);
  EXPECT_TRUE(n.is_float);
  EXPECT_EQ(ParseNumber(u"1e400", &n), kHostOverflow);
  for (const char16_t* bad : {u"-", u".", u"1x", u"1 2", u"--1", u"abc"}) {
    EXPECT_EQ(ParseNumber(bad, &n), kHostInvalid) << static_cast<int>(bad[0]);
  }
  Encoded from_text(Text(u"42"), kValueInt8);
  EXPECT_EQ(from_text.result, kHostOk);
  EXPECT_EQ(from_text.value.fixed.bytes[0], 42);
  EXPECT_EQ(Encoded(Text(u"4 2"), kValueInt8).result, kHostInvalid);
}

TEST(ValueCodecTest, TextsReadAsLogicals) {
  struct Case {
    const char16_t* text;
    int expected;  // -1: invalid
  };
  const Case cases[] = {{u"TRUE", 1}, {u"Vrai", 1}, {u"false", 0},
                        {u"FAUX", 0}, {u"", 0},     {u"  ", 0},
                        {u"2.5", 1},  {u"0", 0},    {u"yes", -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(&c - cases);
    Encoded b(Text(c.text), kValueBoolean);
    if (c.expected < 0) {
      EXPECT_EQ(b.result, kHostInvalid);
    } else {
      EXPECT_EQ(b.result, kHostOk);
      EXPECT_EQ(b.value.fixed.bytes[0], c.expected);
    }
  }
}

TEST(ValueCodecTest, AnsiTextsInCodePage1252) {
  const std::string ansi = "caf\xE9 \x80 \"x\"";  // é and the euro sign
  const HostValue value = AnsiTextValue(ansi);
  const Decoded d = DecodeOrFail(value);
  EXPECT_EQ(d.family, Family::kText);
  EXPECT_TRUE(d.ansi_text);
  EXPECT_EQ(d.text, u"caf\u00E9 \u20AC \"x\"");
  ExpectRoundTrip(value);
  ExpectRoundTrip(AnsiTextValue(""));
  ExpectRoundTrip(AnsiTextValue(ansi, kValueMemoText));
  // A character 1252 lacks becomes '?', which rounds.
  Encoded lossy(Text(u"a\u4E2Db"), kValueText);
  EXPECT_EQ(lossy.result, kHostRounded);
  EXPECT_EQ(lossy.Bytes(), "a?b");
  // What the codec allocates ends with a NUL beyond size.
  EXPECT_EQ(static_cast<const char*>(lossy.value.data)[3], '\0');
  EXPECT_NE(lossy.value.state & kValueStateOwned, 0);
}

TEST(ValueCodecTest, UnicodeTextsAreLittleEndianUnits) {
  const std::u16string text = u"A\u00E9\u4E2D\U0001F600";
  const HostValue value = UnicodeTextValue(text);
  const Decoded d = DecodeOrFail(value);
  EXPECT_FALSE(d.ansi_text);
  EXPECT_EQ(d.text, text);
  ExpectRoundTrip(value);
  ExpectRoundTrip(UnicodeTextValue(u""));
  ExpectRoundTrip(UnicodeTextValue(text, kValueUnicodeMemo));
  Encoded encoded(Text(u"\u4E2D"), kValueUnicodeText);
  EXPECT_EQ(encoded.Bytes(), std::string("\x2D\x4E", 2));
  // A long text keeps every unit.
  std::u16string long_text(100000, u'x');
  long_text.back() = u'\uFFFF';
  const Decoded long_decoded = DecodeOrFail(UnicodeTextValue(long_text));
  EXPECT_EQ(long_decoded.text, long_text);
  ExpectRoundTrip(UnicodeTextValue(long_text));
}

TEST(ValueCodecTest, FixedTextsDropTheirPadding) {
  const Decoded ansi = DecodeOrFail(AnsiTextValue("ab  c   ", kValueFixedText));
  EXPECT_EQ(ansi.text, u"ab  c");
  const Decoded unicode =
      DecodeOrFail(UnicodeTextValue(u" x  ", kValueFixedUnicode));
  EXPECT_EQ(unicode.text, u" x");
  // Only fixed texts: a plain text keeps its trailing blanks.
  EXPECT_EQ(DecodeOrFail(AnsiTextValue("ab  ")).text, u"ab  ");
  EXPECT_EQ(DecodeOrFail(AnsiTextValue("    ", kValueFixedText)).text, u"");
}

TEST(ValueCodecTest, SingleCharacter) {
  const HostValue e_acute = IntValue(kValueChar, 0xE9);
  EXPECT_EQ(DecodeOrFail(e_acute).text, u"\u00E9");
  ExpectRoundTrip(e_acute);
  EXPECT_EQ(DecodeOrFail(IntValue(kValueChar, 0)).text, u"");
  Encoded empty(Text(u""), kValueChar);
  EXPECT_EQ(empty.result, kHostOk);
  EXPECT_EQ(empty.value.fixed.bytes[0], 0);
  EXPECT_EQ(Encoded(Text(u"ab"), kValueChar).result, kHostOverflow);
  Encoded lossy(Text(u"\u4E2D"), kValueChar);
  EXPECT_EQ(lossy.result, kHostRounded);
  EXPECT_EQ(lossy.value.fixed.bytes[0], '?');
}

TEST(ValueCodecTest, DatesTimesAndDateTimes) {
  for (const HostValue& value :
       {DateValue(2024, 2, 29), DateValue(1, 1, 1), DateValue(9999, 12, 31),
        IntValue(kValueDate, 0), TimeValue(0, 0, 0, 0),
        TimeValue(23, 59, 59, 999), DateTimeValue(2024, 2, 29, 23, 59, 59, 999),
        DateTimeValue(1899, 12, 30, 0, 0, 0, 1)}) {
    SCOPED_TRACE(static_cast<int>(value.type));
    ExpectRoundTrip(value);
  }
  // The milliseconds of a date-time lie in bytes 4..7, little-endian.
  const Decoded dt = DecodeOrFail(DateTimeValue(2000, 1, 1, 23, 59, 59, 999));
  EXPECT_EQ(dt.day, 2451545);
  EXPECT_EQ(dt.ms, 86399999u);
  HostValue value = DateTimeValue(2000, 1, 1, 0, 0, 0, 0);
  EXPECT_TRUE(DateTimeBits(2451545, 86399999) ==
              (static_cast<__int128>(86399999) << 32 | 2451545));
  value.fixed.bytes[4] = 0xFF;
  value.fixed.bytes[5] = 0x5B;
  value.fixed.bytes[6] = 0x26;
  value.fixed.bytes[7] = 0x05;
  EXPECT_EQ(DecodeOrFail(value).ms, 86399999u);
  // A day has 86 400 000 milliseconds.
  value.fixed.bytes[4] = 0x00;
  value.fixed.bytes[5] = 0x5C;
  Decoded d;
  EXPECT_FALSE(Decode(value, &d));
  EXPECT_FALSE(Decode(IntValue(kValueTime, 86400000), &d));
  EXPECT_FALSE(Decode(IntValue(kValueTime, -1), &d));
  // A date-time made a date loses its time, which rounds; made a time, it
  // loses its day. A time has no day to give a date or a date-time.
  Encoded date(dt, kValueDate);
  EXPECT_EQ(date.result, kHostRounded);
  EXPECT_EQ(SignedOf(date.value, 4), 2451545);
  Encoded time(dt, kValueTime);
  EXPECT_EQ(time.result, kHostOk);
  EXPECT_EQ(SignedOf(time.value, 4), 86399999);
  EXPECT_EQ(Encoded(DecodeOrFail(TimeValue(1, 2, 3, 4)), kValueDate).result,
            kHostIncompatible);
  EXPECT_EQ(Encoded(DecodeOrFail(TimeValue(1, 2, 3, 4)), kValueDateTime).result,
            kHostIncompatible);
  EXPECT_EQ(Encoded(DecodeOrFail(IntValue(kValueInt32, 5)), kValueDate).result,
            kHostIncompatible);
}

TEST(ValueCodecTest, DatesAndTimesAsTexts) {
  struct Case {
    HostValue value;
    std::u16string text;
  };
  const Case cases[] = {
      {DateValue(2024, 2, 29), u"20240229"},
      {IntValue(kValueDate, 0), u""},  // the empty date
      {TimeValue(7, 5, 3, 9), u"070503009"},
      {DateTimeValue(2024, 2, 29, 23, 59, 59, 999), u"20240229235959999"},
      {DateTimeValue(2024, 2, 29, 0, 0, 0, 0), u"20240229000000000"},
  };
  for (const Case& c : cases) {
    Encoded text(DecodeOrFail(c.value), kValueUnicodeText);
    ASSERT_EQ(text.result, kHostOk);
    EXPECT_EQ(TextOf(text.value), c.text);
    Encoded back(Text(c.text), c.value.type);
    ASSERT_EQ(back.result, kHostOk);
    EXPECT_EQ(BytesOf(back.value), BytesOf(c.value));
  }
  // Shorter time forms, and blanks for the empty date.
  EXPECT_EQ(
      SignedOf(Encoded(Text(u"2024022912"), kValueDateTime).value, 8) >> 32,
      12 * 3600000);
  EXPECT_EQ(SignedOf(Encoded(Text(u"1230"), kValueTime).value, 4),
            (12 * 60 + 30) * 60000);
  EXPECT_EQ(SignedOf(Encoded(Text(u"   "), kValueDate).value, 4), 0);
  Encoded cut(Text(u"20240229120000"), kValueDate);
  EXPECT_EQ(cut.result, kHostRounded);
  for (const char16_t* bad :
       {u"20230229", u"20241301", u"2024010", u"202401011", u"20240101246000",
        u"20240101126000", u"2024o101", u"20240101123"}) {
    EXPECT_EQ(Encoded(Text(bad), kValueDateTime).result, kHostInvalid)
        << static_cast<int>(bad[4]);
  }
  EXPECT_EQ(Encoded(Text(u"2400"), kValueTime).result, kHostInvalid);
}

TEST(ValueCodecTest, BinariesKeepEveryByte) {
  const std::string bytes("\0\x01\xFF\0", 4);
  const HostValue value = BinaryValue(bytes.data(), 4);
  EXPECT_EQ(DecodeOrFail(value).bytes, bytes);
  ExpectRoundTrip(value);
  ExpectRoundTrip(BinaryValue(bytes.data(), 4, kValueRawBinary));
  const Decoded empty = DecodeOrFail(BinaryValue(nullptr, 0));
  EXPECT_EQ(empty.family, Family::kBinary);
  EXPECT_TRUE(empty.bytes.empty());
  Encoded empty_back(empty, kValueBinary);
  EXPECT_EQ(empty_back.result, kHostOk);
  EXPECT_EQ(empty_back.value.size, 0u);
  // A text gives its 1252 bytes; a number is no binary.
  Encoded from_text(Text(u"\u00E9"), kValueBinary);
  EXPECT_EQ(from_text.Bytes(), "\xE9");
  EXPECT_EQ(Encoded(DecodeOrFail(IntValue(kValueInt8, 1)), kValueBinary).result,
            kHostIncompatible);
}

TEST(ValueCodecTest, NullsOfEveryType) {
  HostValue null_type;
  null_type.type = kValueNull;
  EXPECT_EQ(DecodeOrFail(null_type).family, Family::kNull);
  HostValue flagged = IntValue(kValueInt32, 7);
  flagged.state = kValueStateNull;
  const Decoded d = DecodeOrFail(flagged);
  EXPECT_EQ(d.family, Family::kNull);
  for (uint8_t type :
       {kValueInt32, kValueText, kValueDate, kValueBinary, kValueDecimal}) {
    Encoded null(d, type);
    EXPECT_EQ(null.result, kHostOk);
    EXPECT_EQ(null.value.type, type);
    EXPECT_EQ(null.value.state, kValueStateNull);
    EXPECT_EQ(null.value.size, FixedValueWidth(type));
    EXPECT_EQ(null.value.data, nullptr);
  }
}

TEST(ValueCodecTest, MalformedValuesAreRefused) {
  Decoded d;
  HostValue unknown;
  unknown.type = 200;
  EXPECT_FALSE(Decode(unknown, &d));
  HostValue none;
  EXPECT_FALSE(Decode(none, &d));
  // No bytes are fine for an empty text; bytes promised but absent are not.
  EXPECT_TRUE(Decode(AnsiTextValue(std::string_view()), &d));
  EXPECT_EQ(d.text, u"");
  HostValue missing_text = AnsiTextValue("");
  missing_text.data = nullptr;
  missing_text.size = 3;
  EXPECT_FALSE(Decode(missing_text, &d));
  HostValue missing_binary = BinaryValue(nullptr, 5);
  EXPECT_FALSE(Decode(missing_binary, &d));
  // Half a UTF-16 unit.
  const char odd[] = {'a', 0, 'b'};
  EXPECT_FALSE(Decode(BinaryValue(odd, 3, kValueUnicodeText), &d));
  // Encoding into a type that is no value.
  EXPECT_EQ(Encoded(DecodeOrFail(IntValue(kValueInt8, 1)), 200).result,
            kHostIncompatible);
  EXPECT_EQ(Encoded(Text(u"1"), kValueNone).result, kHostIncompatible);
}

TEST(ValueCodecTest, EncodeDoubleForSignedIntegersAndCurrency) {
  HostValue target;
  uint32_t result = 0;
  ASSERT_TRUE(EncodeDouble(127.9, kValueInt8, &target, &result));
  EXPECT_EQ(result, kHostRounded);
  EXPECT_EQ(SignedOf(target, 1), 127);
  ASSERT_TRUE(EncodeDouble(-2147483648.0, kValueInt32, &target, &result));
  EXPECT_EQ(result, kHostOk);
  EXPECT_EQ(SignedOf(target, 4), std::numeric_limits<int32_t>::min());
  HostValue untouched = IntValue(kValueInt16, 9);
  ASSERT_TRUE(EncodeDouble(32768.0, kValueInt16, &untouched, &result));
  EXPECT_EQ(result, kHostOverflow);
  EXPECT_EQ(SignedOf(untouched, 2), 9);
  ASSERT_TRUE(EncodeDouble(1.23456, kValueCurrency, &target, &result));
  EXPECT_EQ(result, kHostRounded);
  EXPECT_EQ(CurrencyOf(target), 12346);
  ASSERT_TRUE(EncodeDouble(NAN, kValueInt64, &target, &result));
  EXPECT_EQ(result, kHostOverflow);
  EXPECT_FALSE(EncodeDouble(1.0, kValueUInt8, &target, &result));
  EXPECT_FALSE(EncodeDouble(1.0, kValueDouble, &target, &result));
}

TEST(ValueCodecTest, FixedBytesAreLittleEndianAndSignExtended) {
  HostValue value;
  StoreFixed(&value, kValueInt32, -2);
  EXPECT_EQ(value.size, 4u);
  EXPECT_EQ(BytesOf(value), std::string("\xFE\xFF\xFF\xFF", 4));
  EXPECT_EQ(SignedOf(value, 4), -2);
  StoreFixed(&value, kValueUInt16, 0x8001);
  EXPECT_EQ(BytesOf(value), std::string("\x01\x80", 2));
  EXPECT_EQ(SignedOf(value, 2), -32767);  // read as signed
  EXPECT_TRUE(DecodeOrFail(value).number.mantissa == 0x8001);
}

}  // namespace
}  // namespace qx::vm
