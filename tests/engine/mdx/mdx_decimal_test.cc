// The packed decimal of MDX numeric keys: the bytes of known values worked
// out by hand from the encoding rules, texts of every shape, the order of
// random values under the comparison rule, and the value read back.
#include "engine/mdx/mdx_decimal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {
namespace {

std::vector<uint8_t> Key(double value) {
  std::vector<uint8_t> key(kMdxDecimalSize);
  EncodeMdxDecimal(value, key.data());
  return key;
}
std::vector<uint8_t> KeyOfText(const std::string& text) {
  std::vector<uint8_t> key(kMdxDecimalSize);
  EncodeMdxDecimalText(text, key.data());
  return key;
}
// Exponent, sign, then the digit bytes given (the rest zero).
std::vector<uint8_t> Bytes(uint8_t exponent, uint8_t sign,
                           std::vector<uint8_t> digits) {
  std::vector<uint8_t> key(kMdxDecimalSize, 0);
  key[0] = exponent;
  key[1] = sign;
  for (std::size_t i = 0; i < digits.size() && i + 2 < key.size(); ++i)
    key[i + 2] = digits[i];
  return key;
}

TEST(MdxDecimalTest, KnownValuesHaveTheirBytes) {
  // "1.500000": one digit before the point, digits 1 5 0 0 0 0 0.
  EXPECT_EQ(Key(1.5), Bytes(0x35, 0x05, {0x15}));
  // ".500000" once the leading zero is skipped: the point comes first.
  EXPECT_EQ(Key(0.5), Bytes(0x34, 0x05, {0x50}));
  // ".050000": one zero after the point lowers the exponent.
  EXPECT_EQ(Key(0.05), Bytes(0x33, 0x05, {0x50}));
  // "0.000000": six zeros, no digit.
  EXPECT_EQ(Key(0.0), Bytes(0x2E, 0x05, {}));
  EXPECT_EQ(Key(-0.0), Key(0.0));
  EXPECT_EQ(Key(0.000001), Bytes(0x2F, 0x05, {0x10}));
  EXPECT_EQ(Key(-1.5), Bytes(0x35, 0x85, {0x15}));
  EXPECT_EQ(Key(10), Bytes(0x36, 0x05, {0x10}));
  EXPECT_EQ(Key(123456.789), Bytes(0x3A, 0x05, {0x12, 0x34, 0x56, 0x78, 0x90}));
  // Digits beyond the sixth decimal are lost.
  EXPECT_EQ(Key(2.0000004), Key(2.0));
  // 26 digits before the point: only the first 20 are packed.
  EXPECT_EQ(Key(1e25), Bytes(0x4E, 0x05,
                             {0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                              0x09, 0x05}));
  // The infinities and NaN print without a digit.
  EXPECT_EQ(Key(INFINITY), Bytes(0x34, 0x05, {}));
  EXPECT_EQ(Key(-INFINITY), Bytes(0x34, 0x85, {}));
  EXPECT_EQ(Key(-NAN), Bytes(0x34, 0x05, {}));

  // Texts of other shapes: blanks, '+', leading zeros, no point.
  EXPECT_EQ(KeyOfText("  +007"), Bytes(0x35, 0x05, {0x70}));
  EXPECT_EQ(KeyOfText("-.25"), Bytes(0x34, 0x85, {0x25}));
  EXPECT_EQ(
      KeyOfText("123456789012345678901234"),
      Bytes(0x34 + 24, 0x05,
            {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0x78, 0x90}));
}

TEST(MdxDecimalTest, RandomValuesSortAndReadBack) {
  const uint32_t seed = TestSeed(1789);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  std::mt19937_64 rng(seed);
  // Values of at most six decimals, so that the key keeps every digit.
  std::vector<double> values = {0.0, 1.0, -1.0, 0.000001, -0.000001};
  for (int i = 0; i < 3000; ++i) {
    const int64_t mantissa =
        static_cast<int64_t>(rng() % 2000000000001ull) - 1000000000000;
    values.push_back(static_cast<double>(mantissa) /
                     std::pow(10.0, static_cast<double>(rng() % 7)));
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  for (size_t i = 0; i < values.size(); ++i) {
    const std::vector<uint8_t> key = Key(values[i]);
    EXPECT_NEAR(DecodeMdxDecimal(key.data()), values[i],
                std::fabs(values[i]) * 1e-14)
        << values[i];
    EXPECT_EQ(CompareMdxDecimals(key.data(), key.data()), 0);
    if (i == 0) continue;
    const std::vector<uint8_t> before = Key(values[i - 1]);
    EXPECT_LT(CompareMdxDecimals(before.data(), key.data()), 0)
        << values[i - 1] << " " << values[i];
    EXPECT_GT(CompareMdxDecimals(key.data(), before.data()), 0);
  }
  // -1.5 < 0 < 0.000001, and the sign byte's other bits do not count (a
  // writer that puts the field width there: 10 stored as 36 29 10 ...).
  EXPECT_LT(CompareMdxDecimals(Key(-1.5).data(), Key(0).data()), 0);
  EXPECT_LT(CompareMdxDecimals(Key(0).data(), Key(0.000001).data()), 0);
  std::vector<uint8_t> foreign = Bytes(0x36, 0x29, {0x10});
  EXPECT_EQ(CompareMdxDecimals(foreign.data(), Key(10).data()), 0);
}

}  // namespace
}  // namespace qx::engine::testing
