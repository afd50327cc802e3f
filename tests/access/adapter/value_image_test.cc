// Sortable images of host values: for every type the images of ascending
// values ascend as unsigned bytes, and each image reads back as its value.
#include "access/adapter/value_image.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host/vm/vm.h"

namespace qx::access {
namespace {

using Image = std::vector<uint8_t>;

Image ImageOf(const HostValue& value, size_t expected_size) {
  Image image(kValueImageRoom, 0xEE);
  EXPECT_EQ(KeyImageFromValue(value, image.data()), expected_size);
  return image;
}

// Ascending values give ascending images; each image reads back.
void ExpectOrderedRoundTrip(const std::vector<HostValue>& ascending,
                            size_t size) {
  Image previous;
  for (const HostValue& value : ascending) {
    const Image image = ImageOf(value, size);
    if (!previous.empty()) {
      EXPECT_LT(std::memcmp(previous.data(), image.data(), size), 0)
          << "type " << int{value.type};
    }
    previous = image;
    HostValue back;
    ASSERT_TRUE(ValueFromKeyImage(image.data(), size, value.type, &back));
    EXPECT_EQ(back.type, value.type);
    EXPECT_EQ(std::memcmp(back.fixed.bytes, value.fixed.bytes,
                          size == 10 ? 10 : size),
              0)
        << "type " << int{value.type};
  }
}

TEST(ValueImageTest, FixedTypesSortAndReadBack) {
  using vm::IntValue;
  using vm::UnsignedValue;
  ExpectOrderedRoundTrip({IntValue(kValueInt8, -128), IntValue(kValueInt8, -1),
                          IntValue(kValueInt8, 0), IntValue(kValueInt8, 127)},
                         1);
  ExpectOrderedRoundTrip(
      {UnsignedValue(kValueUInt8, 0), UnsignedValue(kValueUInt8, 255)}, 1);
  ExpectOrderedRoundTrip(
      {IntValue(kValueInt16, -32768), IntValue(kValueInt16, -1),
       IntValue(kValueInt16, 0), IntValue(kValueInt16, 300)},
      2);
  ExpectOrderedRoundTrip(
      {UnsignedValue(kValueUInt16, 1), UnsignedValue(kValueUInt16, 256)}, 2);
  ExpectOrderedRoundTrip(
      {IntValue(kValueInt32, INT32_MIN), IntValue(kValueInt32, -1),
       IntValue(kValueInt32, 0), IntValue(kValueInt32, 65536)},
      4);
  ExpectOrderedRoundTrip(
      {UnsignedValue(kValueUInt32, 255), UnsignedValue(kValueUInt32, 65536)},
      4);
  ExpectOrderedRoundTrip(
      {IntValue(kValueInt64, INT64_MIN), IntValue(kValueInt64, -1),
       IntValue(kValueInt64Alt, 0), IntValue(kValueInt64, INT64_MAX)},
      8);
  ExpectOrderedRoundTrip({UnsignedValue(kValueUInt64, 1),
                          UnsignedValue(kValueUInt64, uint64_t{1} << 40)},
                         8);
  ExpectOrderedRoundTrip(
      {vm::CurrencyValue(-10000), vm::CurrencyValue(-1), vm::CurrencyValue(0),
       vm::CurrencyValue(1), vm::CurrencyValue(int64_t{1} << 50)},
      10);
  const double inf = std::numeric_limits<double>::infinity();
  ExpectOrderedRoundTrip(
      {vm::DoubleValue(-inf), vm::DoubleValue(-1.5), vm::DoubleValue(0.0),
       vm::DoubleValue(1e-300), vm::DoubleValue(2.0), vm::DoubleValue(inf)},
      8);
  ExpectOrderedRoundTrip({vm::FloatValue(-2.5f), vm::FloatValue(0.0f),
                          vm::FloatValue(0.25f), vm::FloatValue(3.0f)},
                         4);
  ExpectOrderedRoundTrip({vm::DateTimeValue(1999, 12, 31, 23, 0, 0, 0),
                          vm::DateTimeValue(2000, 1, 1, 0, 0, 0, 0),
                          vm::DateTimeValue(2000, 1, 1, 0, 0, 0, 1)},
                         8);
  // -0.0 keys as 0.0.
  EXPECT_EQ(ImageOf(vm::DoubleValue(-0.0), 8),
            ImageOf(vm::DoubleValue(0.0), 8));
  // Types without an image write nothing.
  const Image untouched = ImageOf(vm::DateValue(2000, 1, 1), 0);
  EXPECT_EQ(untouched, Image(kValueImageRoom, 0xEE));
  HostValue none;
  EXPECT_FALSE(ValueFromKeyImage(untouched.data(), 8, kValueDate, &none));
  EXPECT_FALSE(ValueFromKeyImage(untouched.data(), 3, kValueInt32, &none));
}

TEST(ValueImageTest, TextsFillTheirImage) {
  const std::string longer(300, 'x');
  Image previous;
  for (const std::string& text :
       {std::string(), std::string("a"), std::string("ab"), std::string("b"),
        longer}) {
    const HostValue value = vm::AnsiTextValue(text);
    const size_t size = std::min<size_t>(text.size(), kValueImageRoom);
    const Image image = ImageOf(value, size);
    EXPECT_EQ(image[kValueImageRoom - 1], 0);
    for (size_t i = std::min<size_t>(text.size(), kValueImageRoom - 1);
         i < kValueImageRoom; ++i)
      EXPECT_EQ(image[i], 0) << i;
    if (!previous.empty()) {
      EXPECT_LT(std::memcmp(previous.data(), image.data(), kValueImageRoom), 0);
    }
    previous = image;
    HostValue back;
    ASSERT_TRUE(ValueFromKeyImage(image.data(), size, kValueText, &back));
    EXPECT_EQ(std::string(static_cast<const char*>(back.data), back.size),
              std::string(reinterpret_cast<const char*>(image.data()), size));
  }
}

}  // namespace
}  // namespace qx::access
