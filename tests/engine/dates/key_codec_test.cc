// Tests of the sortable key codecs: byte order of the images equals the
// order of the values, every image decodes to its value, and the fixed
// images other programs' files rely on.
#include "engine/dates/key_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/core/coding.h"

namespace qx::engine {
namespace {

constexpr uint64_t kSeed = 20240229;

std::vector<uint8_t> Bytes(std::initializer_list<int> bytes) {
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

int Sign(int v) { return (v > 0) - (v < 0); }

// For every pair of values, memcmp of their images agrees with less(), and
// every image decodes back to its value.
template <typename T, typename Encode, typename Decode, typename Less>
void CheckOrderAndRoundTrip(const std::vector<T>& values, size_t width,
                            Encode encode, Decode decode, Less less) {
  std::vector<std::vector<uint8_t>> images;
  for (const T& v : values) {
    std::vector<uint8_t> image(width);
    encode(v, image.data());
    T back = decode(image.data());
    EXPECT_TRUE(!less(v, back) && !less(back, v)) << "round trip of " << +v;
    images.push_back(std::move(image));
  }
  int failures = 0;
  for (size_t i = 0; i < values.size() && failures < 5; ++i) {
    for (size_t j = 0; j < values.size() && failures < 5; ++j) {
      int expected = less(values[i], values[j])   ? -1
                     : less(values[j], values[i]) ? 1
                                                  : 0;
      if (Sign(std::memcmp(images[i].data(), images[j].data(), width)) !=
          expected) {
        ADD_FAILURE() << +values[i] << " vs " << +values[j];
        ++failures;
      }
    }
  }
}

// Random values of an integer type plus its extremes and the values around
// zero.
template <typename T>
std::vector<T> IntegerSamples(std::mt19937_64& rng) {
  std::vector<T> values = {std::numeric_limits<T>::min(),
                           std::numeric_limits<T>::max(), T(0), T(1)};
  if (std::numeric_limits<T>::is_signed) values.push_back(T(-1));
  for (int i = 0; i < 200; ++i) values.push_back(static_cast<T>(rng()));
  return values;
}

TEST(KeyCodecTest, IntegersSortAsBytes) {
  std::mt19937_64 rng(kSeed);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed);
  auto less = [](auto a, auto b) { return a < b; };
  CheckOrderAndRoundTrip(IntegerSamples<int8_t>(rng), kSignedByteKeySize,
                         EncodeSignedByteKey, DecodeSignedByteKey, less);
  CheckOrderAndRoundTrip(IntegerSamples<uint8_t>(rng), kUnsignedByteKeySize,
                         EncodeUnsignedByteKey, DecodeUnsignedByteKey, less);
  CheckOrderAndRoundTrip(IntegerSamples<int16_t>(rng), kInt16KeySize,
                         EncodeInt16Key, DecodeInt16Key, less);
  CheckOrderAndRoundTrip(IntegerSamples<int32_t>(rng), kInt32KeySize,
                         EncodeInt32Key, DecodeInt32Key, less);
  CheckOrderAndRoundTrip(IntegerSamples<int64_t>(rng), kInt64KeySize,
                         EncodeInt64Key, DecodeInt64Key, less);
  CheckOrderAndRoundTrip(IntegerSamples<uint32_t>(rng), kUint32KeySize,
                         EncodeUint32Key, DecodeUint32Key, less);
}

TEST(KeyCodecTest, IntegerImages) {
  uint8_t key[8];
  EncodeSignedByteKey(-128, key);
  EXPECT_EQ(key[0], 0x00);
  EncodeSignedByteKey(-1, key);
  EXPECT_EQ(key[0], 0x7F);
  EncodeSignedByteKey(127, key);
  EXPECT_EQ(key[0], 0xFF);
  EncodeInt16Key(-2, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 2), Bytes({0x7F, 0xFE}));
  EncodeInt32Key(-1, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 4),
            Bytes({0x7F, 0xFF, 0xFF, 0xFF}));
  EncodeInt32Key(0, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 4), Bytes({0x80, 0, 0, 0}));
  EncodeInt64Key(-1, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 8),
            Bytes({0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EncodeUint32Key(0x01020304u, key);
  EXPECT_EQ(std::vector<uint8_t>(key, key + 4), Bytes({1, 2, 3, 4}));
}

TEST(KeyCodecTest, DoublesSortAsBytes) {
  const double kInf = std::numeric_limits<double>::infinity();
  const double kMax = std::numeric_limits<double>::max();
  const double kDenorm = std::numeric_limits<double>::denorm_min();
  std::vector<double> values = {-kInf,     -kMax, -1e100,  -2.5,   -1.0,
                                -kDenorm,  0.0,   kDenorm, 1e-300, 1.0,
                                2440588.0, 1e100, kMax,    kInf};
  std::mt19937_64 rng(kSeed);
  SCOPED_TRACE(::testing::Message() << "seed " << kSeed);
  while (values.size() < 300) {
    double v = std::bit_cast<double>(rng());
    if (!std::isnan(v)) values.push_back(v);
  }
  CheckOrderAndRoundTrip(values, kDoubleKeySize, EncodeDoubleKey,
                         DecodeDoubleKey,
                         [](double a, double b) { return a < b; });
}

TEST(KeyCodecTest, DoubleImages) {
  uint8_t key[8];
  auto image = [&key](double v) {
    EncodeDoubleKey(v, key);
    return std::vector<uint8_t>(key, key + 8);
  };
  EXPECT_EQ(image(0.0), Bytes({0x80, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(image(1.0), Bytes({0xBF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(image(-1.0),
            Bytes({0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(image(std::numeric_limits<double>::infinity()),
            Bytes({0xFF, 0xF0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(image(-std::numeric_limits<double>::infinity()),
            Bytes({0x00, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  // 1970-01-01 as a key day number.
  EXPECT_EQ(image(2440588.0), Bytes({0xC1, 0x42, 0x9E, 0xC6, 0, 0, 0, 0}));

  // -0.0 gives the image of +0.0, so equal numbers have equal keys.
  EXPECT_EQ(image(-0.0), image(0.0));
  // Every NaN gives one image, above +infinity.
  std::vector<uint8_t> nan = image(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(nan, Bytes({0xFF, 0xF8, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(image(-std::numeric_limits<double>::quiet_NaN()), nan);
  EXPECT_EQ(image(std::bit_cast<double>(uint64_t{0xFFF0000000000001u})), nan);
  EXPECT_TRUE(std::isnan(DecodeDoubleKey(nan.data())));

  // Any 8 bytes decode; the raw image of -0.0 gives -0.0 back.
  const uint8_t kMinusZero[8] = {0x7F, 0xFF, 0xFF, 0xFF,
                                 0xFF, 0xFF, 0xFF, 0xFF};
  double minus_zero = DecodeDoubleKey(kMinusZero);
  EXPECT_EQ(minus_zero, 0.0);
  EXPECT_TRUE(std::signbit(minus_zero));
}

TEST(KeyCodecTest, WordPairs) {
  std::mt19937_64 rng(kSeed);
  std::vector<WordPair> values = {
      {0, 0}, {0, 0xFFFFFFFFu}, {1, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu}};
  for (int i = 0; i < 200; ++i) {
    // Few distinct first words, so that ties on them are common.
    values.push_back(
        {static_cast<uint32_t>(rng() % 4), static_cast<uint32_t>(rng())});
  }
  std::vector<uint8_t> image(kWordPairKeySize);
  for (size_t i = 0; i < values.size(); ++i) {
    for (size_t j = 0; j < values.size(); ++j) {
      uint8_t a[8], b[8];
      EncodeWordPairKey(values[i], a);
      EncodeWordPairKey(values[j], b);
      auto tie = [](WordPair p) { return std::pair(p.first, p.second); };
      int expected = tie(values[i]) < tie(values[j])   ? -1
                     : tie(values[j]) < tie(values[i]) ? 1
                                                       : 0;
      ASSERT_EQ(Sign(std::memcmp(a, b, 8)), expected) << i << " " << j;
    }
  }
  // Each half is big-endian, the first half first.
  EncodeWordPairKey({2460370, 43200000}, image.data());
  EXPECT_EQ(image, Bytes({0x00, 0x25, 0x8A, 0xD2, 0x02, 0x93, 0x2E, 0x00}));
  WordPair back = DecodeWordPairKey(image.data());
  EXPECT_EQ(back.first, 2460370u);
  EXPECT_EQ(back.second, 43200000u);
}

TEST(KeyCodecTest, Texts) {
  uint8_t key[kTextKeySize];
  std::memset(key, 0xAA, sizeof(key));
  EXPECT_EQ(EncodeTextKey("abc", key), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 3), "abc");
  EXPECT_TRUE(std::all_of(key + 3, key + kTextKeySize,
                          [](uint8_t b) { return b == 0; }));

  std::string long_text(300, 'x');
  EXPECT_EQ(EncodeTextKey(long_text, key), kTextKeySize);
  EXPECT_EQ(key[200], 'x');
  EXPECT_EQ(key[kTextKeySize - 1], 0);

  uint8_t out[kTextKeySize];
  EXPECT_EQ(DecodeTextKey(key, 5, out), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "xxxxx");
  EXPECT_EQ(DecodeTextKey(key, 1000, out), kTextKeySize);

  // Texts without NUL bytes and shorter than 202 sort as their bytes do.
  std::mt19937_64 rng(kSeed);
  std::vector<std::string> texts = {"", "a", "ab", "b", "\xFF", "a\x01"};
  for (int i = 0; i < 100; ++i) {
    std::string text(rng() % 8, ' ');
    for (char& c : text) c = static_cast<char>(1 + rng() % 255);
    texts.push_back(text);
  }
  auto as_bytes = [](const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
  };
  uint8_t other[kTextKeySize];
  for (const std::string& a : texts) {
    for (const std::string& b : texts) {
      EncodeTextKey(a, key);
      EncodeTextKey(b, other);
      int expected = as_bytes(a) < as_bytes(b)   ? -1
                     : as_bytes(b) < as_bytes(a) ? 1
                                                 : 0;
      ASSERT_EQ(Sign(std::memcmp(key, other, kTextKeySize)), expected);
    }
  }
}

TEST(KeyCodecTest, ByteSwapDouble) {
  double swapped = ByteSwapDouble(1.0);
  uint8_t bytes[8];
  // Stored in the machine's little-endian order, the swapped value gives the
  // big-endian bytes of 1.0.
  PutLe64(bytes, std::bit_cast<uint64_t>(swapped));
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 8),
            Bytes({0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));
  for (double v : {0.0, -2.5, 2440588.0, 1e100}) {
    EXPECT_EQ(ByteSwapDouble(ByteSwapDouble(v)), v);
  }
}

}  // namespace
}  // namespace qx::engine
