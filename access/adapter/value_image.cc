// Sortable key images of host values (see value_image.h).
#include "access/adapter/value_image.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "access/adapter/host_fixed.h"
#include "engine/core/coding.h"
#include "engine/dates/key_codec.h"

namespace qx::access {
namespace {

using adapter_internal::FixedSigned;
using adapter_internal::FixedUnsigned;
using adapter_internal::SetFixed;

constexpr size_t kCurrencySize = 10;
constexpr uint8_t kTopBit = 0x80;
constexpr uint32_t kFloatSign = 0x80000000u;

// The order-preserving image of a 4-byte float.
void EncodeFloatKey(float value, uint8_t* out) {
  if (value == 0.0f) value = 0.0f;  // -0.0 as 0.0
  uint32_t bits = std::bit_cast<uint32_t>(value);
  bits = (bits & kFloatSign) != 0 ? ~bits : bits | kFloatSign;
  engine::PutBe32(out, bits);
}

float DecodeFloatKey(const uint8_t* key) {
  uint32_t bits = engine::GetBe32(key);
  bits = (bits & kFloatSign) != 0 ? bits & ~kFloatSign : ~bits;
  return std::bit_cast<float>(bits);
}

// The width of a fixed value with a key image of its own: dates, times
// and decimals have none here.
size_t SizeOfFixed(uint8_t type) {
  if (type == kValueDate || type == kValueTime || type == kValueDecimal)
    return 0;
  return FixedValueWidth(type);
}

bool IsByteString(uint8_t type) {
  return type == kValueText || type == kValueUnicodeText ||
         type == kValueRawBinary || type == kValueRawBinaryAlt;
}

}  // namespace

size_t KeyImageFromValue(const HostValue& value, uint8_t* image) {
  const uint8_t* bytes = value.fixed.bytes;
  switch (value.type) {
    case kValueBoolean:
    case kValueInt8:
      engine::EncodeSignedByteKey(static_cast<int8_t>(FixedSigned(value, 1)),
                                  image);
      return 1;
    case kValueUInt8:
    case kValueChar:
      image[0] = bytes[0];
      return 1;
    case kValueUInt16:
      engine::PutBe16(image, static_cast<uint16_t>(FixedUnsigned(value, 2)));
      return 2;
    case kValueInt16:
      engine::EncodeInt16Key(static_cast<int16_t>(FixedSigned(value, 2)),
                             image);
      return 2;
    case kValueUInt32:
      engine::EncodeUint32Key(static_cast<uint32_t>(FixedUnsigned(value, 4)),
                              image);
      return 4;
    case kValueInt32:
      engine::EncodeInt32Key(static_cast<int32_t>(FixedSigned(value, 4)),
                             image);
      return 4;
    case kValueUInt64:
      engine::PutBe64(image, FixedUnsigned(value, 8));
      return 8;
    case kValueInt64:
    case kValueInt64Alt:
      engine::EncodeInt64Key(FixedSigned(value, 8), image);
      return 8;
    case kValueCurrency:
      for (size_t i = 0; i < kCurrencySize; ++i)
        image[i] = bytes[kCurrencySize - 1 - i];
      image[0] ^= kTopBit;
      return kCurrencySize;
    case kValueFloat:
      EncodeFloatKey(value.fixed.f32, image);
      return 4;
    case kValueDouble:
      engine::EncodeDoubleKey(value.fixed.f64, image);
      return 8;
    case kValueDateTime:
      engine::EncodeWordPairKey(
          {engine::GetLe32(bytes), engine::GetLe32(bytes + 4)}, image);
      return 8;
    default:
      break;
  }
  if (!IsByteString(value.type)) return 0;
  const std::string_view text(static_cast<const char*>(value.data),
                              value.data != nullptr ? value.size : 0);
  return engine::EncodeTextKey(text, image);
}

bool ValueFromKeyImage(const uint8_t* image, size_t size, uint8_t type,
                       HostValue* value) {
  const size_t fixed = SizeOfFixed(type);
  if (fixed == 0 && !IsByteString(type)) return false;
  if (fixed != 0 && size < fixed) return false;
  *value = HostValue();
  value->type = type;
  value->size = static_cast<uint32_t>(fixed);
  switch (type) {
    case kValueBoolean:
    case kValueInt8:
      SetFixed(value, 1,
               static_cast<uint8_t>(engine::DecodeSignedByteKey(image)));
      return true;
    case kValueUInt8:
    case kValueChar:
      value->fixed.bytes[0] = image[0];
      return true;
    case kValueUInt16:
      SetFixed(value, 2, engine::GetBe16(image));
      return true;
    case kValueInt16:
      SetFixed(value, 2, static_cast<uint16_t>(engine::DecodeInt16Key(image)));
      return true;
    case kValueUInt32:
      SetFixed(value, 4, engine::DecodeUint32Key(image));
      return true;
    case kValueInt32:
      SetFixed(value, 4, static_cast<uint32_t>(engine::DecodeInt32Key(image)));
      return true;
    case kValueUInt64:
      SetFixed(value, 8, engine::GetBe64(image));
      return true;
    case kValueInt64:
    case kValueInt64Alt:
      SetFixed(value, 8, static_cast<uint64_t>(engine::DecodeInt64Key(image)));
      return true;
    case kValueCurrency:
      for (size_t i = 0; i < kCurrencySize; ++i)
        value->fixed.bytes[i] = image[kCurrencySize - 1 - i];
      value->fixed.bytes[kCurrencySize - 1] ^= kTopBit;
      return true;
    case kValueFloat:
      value->fixed.f32 = DecodeFloatKey(image);
      return true;
    case kValueDouble:
      value->fixed.f64 = engine::DecodeDoubleKey(image);
      return true;
    case kValueDateTime: {
      const engine::WordPair pair = engine::DecodeWordPairKey(image);
      engine::PutLe32(value->fixed.bytes, pair.first);
      engine::PutLe32(value->fixed.bytes + 4, pair.second);
      return true;
    }
    default:
      break;
  }
  value->data = image;
  value->size = static_cast<uint32_t>(std::min(size, kValueImageRoom));
  return true;
}

}  // namespace qx::access
