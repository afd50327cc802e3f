// Sortable key images: the byte-level work of the codecs declared in
// key_codec.h, built on the big-endian helpers of engine/core/coding.h.
#include "engine/dates/key_codec.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "engine/core/coding.h"

namespace qx::engine {

namespace {

constexpr uint64_t kDoubleSignBit = uint64_t{1} << 63;
// The positive quiet NaN every NaN is stored as.
constexpr uint64_t kCanonicalNanBits = 0x7FF8000000000000u;

}  // namespace

void EncodeSignedByteKey(int8_t value, uint8_t* out) {
  out[0] = static_cast<uint8_t>(value) ^ 0x80u;
}

int8_t DecodeSignedByteKey(const uint8_t* key) {
  return static_cast<int8_t>(key[0] ^ 0x80u);
}

void EncodeUnsignedByteKey(uint8_t value, uint8_t* out) { out[0] = value; }

uint8_t DecodeUnsignedByteKey(const uint8_t* key) { return key[0]; }

void EncodeInt16Key(int16_t value, uint8_t* out) {
  PutBe16(out, static_cast<uint16_t>(static_cast<uint16_t>(value) ^ 0x8000u));
}

int16_t DecodeInt16Key(const uint8_t* key) {
  return static_cast<int16_t>(GetBe16(key) ^ 0x8000u);
}

void EncodeInt32Key(int32_t value, uint8_t* out) {
  PutBe32(out, static_cast<uint32_t>(value) ^ 0x80000000u);
}

int32_t DecodeInt32Key(const uint8_t* key) {
  return static_cast<int32_t>(GetBe32(key) ^ 0x80000000u);
}

void EncodeInt64Key(int64_t value, uint8_t* out) {
  PutBe64(out, static_cast<uint64_t>(value) ^ kDoubleSignBit);
}

int64_t DecodeInt64Key(const uint8_t* key) {
  return static_cast<int64_t>(GetBe64(key) ^ kDoubleSignBit);
}

void EncodeUint32Key(uint32_t value, uint8_t* out) { PutBe32(out, value); }

uint32_t DecodeUint32Key(const uint8_t* key) { return GetBe32(key); }

void EncodeDoubleKey(double value, uint8_t* out) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  if (value == 0.0) {
    bits = 0;  // -0.0 compares equal to +0.0 and must give the same key
  } else if (std::isnan(value)) {
    bits = kCanonicalNanBits;
  }
  bits = (bits & kDoubleSignBit) ? ~bits : (bits | kDoubleSignBit);
  PutBe64(out, bits);
}

double DecodeDoubleKey(const uint8_t* key) {
  uint64_t bits = GetBe64(key);
  bits = (bits & kDoubleSignBit) ? (bits & ~kDoubleSignBit) : ~bits;
  return std::bit_cast<double>(bits);
}

void EncodeWordPairKey(WordPair value, uint8_t* out) {
  PutBe32(out, value.first);
  PutBe32(out + 4, value.second);
}

WordPair DecodeWordPairKey(const uint8_t* key) {
  return WordPair{GetBe32(key), GetBe32(key + 4)};
}

size_t EncodeTextKey(std::string_view text, uint8_t* out) {
  size_t copied = std::min(text.size(), kTextKeySize);
  std::memcpy(out, text.data(), copied);
  std::memset(out + copied, 0, kTextKeySize - copied);
  out[kTextKeySize - 1] = 0;
  return copied;
}

size_t DecodeTextKey(const uint8_t* key, size_t size, uint8_t* out) {
  size_t copied = std::min(size, kTextKeySize);
  std::memcpy(out, key, copied);
  return copied;
}

double ByteSwapDouble(double value) {
  return std::bit_cast<double>(ByteSwap64(std::bit_cast<uint64_t>(value)));
}

}  // namespace qx::engine
