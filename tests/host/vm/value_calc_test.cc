// The host VM's calculation entries: comparisons, the flexible tests,
// logic and arithmetic, in place and into a result.
#include <gtest/gtest.h>

#include "host/vm/vm.h"

namespace qx::vm {
namespace {

using CalcEntry = uint32_t (*)(const HostValue*, const HostValue*, HostValue*);

bool Holds(CalcEntry entry, const HostValue& a, const HostValue& b) {
  HostValue result;
  EXPECT_EQ(entry(&a, &b, &result), kHostOk);
  EXPECT_EQ(result.type, kValueBoolean);
  return result.fixed.bytes[0] != 0;
}

int Order(const HostValue& a, const HostValue& b) {
  HostValue result;
  EXPECT_EQ(Compare(&a, &b, &result), kHostOk);
  EXPECT_EQ(result.type, kValueInt32);
  return static_cast<int32_t>(result.fixed.i64 & 0xFFFFFFFF);
}

TEST(VmCalcTest, ComparisonsAcrossTypes) {
  EXPECT_EQ(Order(IntValue(kValueInt8, -1), UnsignedValue(kValueUInt64, 1)),
            -1);
  EXPECT_EQ(Order(CurrencyValue(15000), DoubleValue(1.5)), 0);
  EXPECT_EQ(Order(DecimalValue(150, 2), CurrencyValue(15000)), 0);
  EXPECT_EQ(Order(AnsiTextValue("abc  "), AnsiTextValue("abc")), 0);
  EXPECT_EQ(Order(AnsiTextValue("abd"), UnicodeTextValue(u"abc")), 1);
  EXPECT_EQ(Order(DateValue(2026, 1, 2), DateTimeValue(2026, 1, 2, 0, 0, 0, 1)),
            -1);
  HostValue null;
  null.type = kValueNull;
  EXPECT_EQ(Order(null, IntValue(kValueInt32, -5)), -1);

  EXPECT_EQ(CanCompare(&null, &null), 1);
  const HostValue text = AnsiTextValue("1");
  const HostValue one = IntValue(kValueInt32, 1);
  EXPECT_EQ(CanCompare(&text, &one), 0);
  HostValue result;
  EXPECT_EQ(Compare(&text, &one, &result), kHostIncompatible);

  EXPECT_TRUE(Holds(Equal, IntValue(kValueInt16, 7), DoubleValue(7.0)));
  EXPECT_TRUE(Holds(Greater, DoubleValue(7.5), IntValue(kValueInt16, 7)));
  EXPECT_TRUE(Holds(Less, AnsiTextValue("A"), AnsiTextValue("B")));
  EXPECT_TRUE(Holds(AlmostEqual, DoubleValue(0.1 + 0.2), DoubleValue(0.3)));
  EXPECT_FALSE(Holds(Equal, DoubleValue(0.1 + 0.2), DoubleValue(0.3)));
  EXPECT_TRUE(
      Holds(AlmostEqual, AnsiTextValue("dupont "), AnsiTextValue("DUPONT")));
  EXPECT_TRUE(Holds(FlexibleEqual, AnsiTextValue(" \xC9l\xE8ve"),
                    AnsiTextValue("ELEVE")));
  EXPECT_FALSE(
      Holds(AlmostEqual, AnsiTextValue("\xE9l\xE8ve"), AnsiTextValue("ELEVE")));
}

TEST(VmCalcTest, PrefixTests) {
  EXPECT_TRUE(Holds(StartsWith, AnsiTextValue("DUPONT"), AnsiTextValue("DUP")));
  EXPECT_TRUE(
      Holds(StartsWith, AnsiTextValue("DUPONT"), AnsiTextValue("DUP  ")));
  EXPECT_FALSE(
      Holds(StartsWith, AnsiTextValue("DUPONT"), AnsiTextValue("dup")));
  EXPECT_TRUE(Holds(FlexibleStartsWith, AnsiTextValue("\xE9t\xE9"),
                    AnsiTextValue("ET")));
  EXPECT_FALSE(Holds(FlexibleStartsWith, AnsiTextValue("Jean-Paul"),
                     AnsiTextValue("JEANP")));
  EXPECT_TRUE(Holds(VeryFlexibleStartsWith, AnsiTextValue("Jean-Paul"),
                    AnsiTextValue("jean p")));
  HostValue result;
  const HostValue number = IntValue(kValueInt32, 12);
  EXPECT_EQ(StartsWith(&number, &number, &result), kHostIncompatible);
}

TEST(VmCalcTest, LogicAndNegation) {
  EXPECT_TRUE(Holds(And, IntValue(kValueBoolean, 1), AnsiTextValue("x")));
  EXPECT_FALSE(Holds(And, IntValue(kValueBoolean, 1), AnsiTextValue("  ")));
  EXPECT_TRUE(Holds(Or, DoubleValue(0), DateValue(2026, 1, 1)));
  HostValue result;
  const HostValue zero = IntValue(kValueInt32, 0);
  EXPECT_EQ(Not(&zero, nullptr, &result), kHostOk);
  EXPECT_EQ(result.fixed.bytes[0], 1);

  const HostValue low = IntValue(kValueInt8, -128);
  EXPECT_EQ(Negate(&low, nullptr, &result), kHostOverflow);
  const HostValue money = CurrencyValue(-25);
  EXPECT_EQ(Negate(&money, nullptr, &result), kHostOk);
  EXPECT_EQ(CurrencyOf(result), 25);
  const HostValue text = AnsiTextValue("1");
  EXPECT_EQ(Negate(&text, nullptr, &result), kHostIncompatible);
}

TEST(VmCalcTest, ArithmeticIntoAResult) {
  HostValue a = IntValue(kValueInt32, 7), b = IntValue(kValueInt16, 2);
  HostValue r;
  EXPECT_EQ(Add(&a, &b, &r), kHostOk);
  EXPECT_EQ(r.type, kValueInt64);
  EXPECT_EQ(r.fixed.i64, 9);
  EXPECT_EQ(Modulo(&a, &b, &r), kHostOk);
  EXPECT_EQ(r.fixed.i64, 1);
  EXPECT_EQ(Divide(&a, &b, &r), kHostOk);
  EXPECT_EQ(r.type, kValueDouble);
  EXPECT_DOUBLE_EQ(r.fixed.f64, 3.5);
  const HostValue zero = IntValue(kValueInt32, 0);
  EXPECT_EQ(Divide(&a, &zero, &r), kHostDivideByZero);
  EXPECT_EQ(Modulo(&a, &zero, &r), kHostDivideByZero);

  const HostValue price = CurrencyValue(12345), qty = IntValue(kValueInt32, 3);
  EXPECT_EQ(Multiply(&price, &qty, &r), kHostOk);
  EXPECT_EQ(r.type, kValueCurrency);
  EXPECT_EQ(CurrencyOf(r), 37035);
  const HostValue max = IntValue(kValueInt64, INT64_MAX);
  const HostValue one = IntValue(kValueInt64, 1);
  EXPECT_EQ(Add(&max, &one, &r), kHostOverflow);
  const HostValue half = DoubleValue(0.5);
  EXPECT_EQ(Subtract(&one, &half, &r), kHostOk);
  EXPECT_DOUBLE_EQ(r.fixed.f64, 0.5);

  const HostValue left = AnsiTextValue("Jean ");
  const std::u16string right_text = u"Étienne";
  const HostValue right = UnicodeTextValue(right_text);
  EXPECT_EQ(Add(&left, &right, &r), kHostOk);
  EXPECT_EQ(r.type, kValueUnicodeText);
  EXPECT_EQ(TextOf(r), u"Jean Étienne");
  EndConversion(&r);

  const HostValue day = DateValue(2026, 2, 27), two = IntValue(kValueInt32, 2);
  EXPECT_EQ(Add(&day, &two, &r), kHostOk);
  HostValue text;
  Convert(&r, &text, kValueText, 0);
  EXPECT_EQ(std::string(static_cast<const char*>(text.data), text.size),
            "20260301");
  EndConversion(&text);
  const HostValue later = DateValue(2026, 3, 31);
  EXPECT_EQ(Subtract(&later, &day, &r), kHostOk);
  EXPECT_EQ(r.type, kValueInt32);
  EXPECT_EQ(r.fixed.i64, 32);
  EXPECT_EQ(Multiply(&day, &two, &r), kHostIncompatible);
}

TEST(VmCalcTest, InPlaceKeepsTheFirstOperandsType) {
  HostValue a = IntValue(kValueInt16, 30000);
  const HostValue b = IntValue(kValueInt32, 2000);
  EXPECT_EQ(AddInPlace(&a, &b), kHostOk);
  EXPECT_EQ(a.type, kValueInt16);
  EXPECT_EQ(a.fixed.i64 & 0xFFFF, 32000);
  EXPECT_EQ(AddInPlace(&a, &b), kHostOverflow);  // 34000 does not fit
  EXPECT_EQ(a.fixed.i64 & 0xFFFF, 32000);        // left as it was
  EXPECT_EQ(SubtractInPlace(&a, &b), kHostOk);
  const HostValue nothing = IntValue(kValueInt8, 0);
  EXPECT_EQ(MultiplyInPlace(&a, &nothing), kHostOk);
  EXPECT_EQ(a.fixed.i64, 0);

  HostValue ratio = IntValue(kValueInt32, 7);
  const HostValue two = IntValue(kValueInt32, 2);
  EXPECT_EQ(DivideInPlace(&ratio, &two), kHostRounded);  // 3.5 into int32
  EXPECT_EQ(ratio.fixed.i64 & 0xFFFFFFFF, 3u);
  EXPECT_EQ(ModuloInPlace(&ratio, &two), kHostOk);
  EXPECT_EQ(ratio.fixed.i64 & 0xFFFFFFFF, 1u);

  // A text grows in place; its old bytes go back to the VM.
  HostValue text;
  const HostValue source = AnsiTextValue("ab");
  Convert(&source, &text, kValueText, 0);
  const HostValue more = AnsiTextValue("cd");
  EXPECT_EQ(AddInPlace(&text, &more), kHostOk);
  EXPECT_EQ(std::string(static_cast<const char*>(text.data), text.size),
            "abcd");
  EndConversion(&text);

  HostValue decimal = DecimalValue(125, 2);
  const HostValue twice = DoubleValue(2);
  EXPECT_EQ(MultiplyInPlace(&decimal, &twice), kHostOk);
  EXPECT_EQ(decimal.scale, 2);
  EXPECT_EQ(static_cast<int64_t>(DecimalOf(decimal)), 250);
}

}  // namespace
}  // namespace qx::vm
