// Sortable key images of numbers, date-times and texts.
//
// Index pages compare keys as unsigned byte strings. These codecs turn a
// value into a fixed-width image such that memcmp of two images of the same
// codec orders them as the values, and turn an image back into its value:
//
//   codec          width  image
//   signed byte      1    value + 128
//   unsigned byte    1    the byte
//   signed 16        2    value + 0x8000, big-endian
//   signed 32        4    value + 0x80000000, big-endian
//   signed 64        8    value + 0x8000000000000000, big-endian
//   unsigned 32      4    big-endian
//   double           8    IEEE 754 bits big-endian; a value that is not
//                         negative gets its sign bit set, a negative value
//                         has all 64 bits inverted
//   word pair        8    two 32-bit words, each big-endian, first first
//   text           202    the bytes, zero-filled to 202, byte 201 zero
//
// Adding the bias to a two's-complement value is the same as inverting its
// sign bit, which is how the signed codecs compute it.
//
// The double image is also the form of numeric and date keys in IDX and CDX
// files and of numeric items in the NDX sort, so it must not change.
// Encoding folds -0.0 into +0.0, so that equal numbers give equal keys (the
// raw rule would put -0.0 below +0.0), and every NaN into the one positive
// quiet NaN (0x7FF8000000000000), whose image sorts after +infinity.
// Decoding takes any 8 bytes and never fails.
//
// REQUIRES for every function: out and key point to at least the codec's
// width in bytes.
#ifndef QX_ENGINE_DATES_KEY_CODEC_H_
#define QX_ENGINE_DATES_KEY_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qx::engine {

constexpr size_t kSignedByteKeySize = 1;
constexpr size_t kUnsignedByteKeySize = 1;
constexpr size_t kInt16KeySize = 2;
constexpr size_t kInt32KeySize = 4;
constexpr size_t kInt64KeySize = 8;
constexpr size_t kUint32KeySize = 4;
constexpr size_t kDoubleKeySize = 8;
constexpr size_t kWordPairKeySize = 8;
constexpr size_t kTextKeySize = 202;

// Two 32-bit words ordered first by first, then by second; a date-time is
// the day number and the time of day.
struct WordPair {
  uint32_t first;
  uint32_t second;
};

void EncodeSignedByteKey(int8_t value, uint8_t* out);
int8_t DecodeSignedByteKey(const uint8_t* key);

void EncodeUnsignedByteKey(uint8_t value, uint8_t* out);
uint8_t DecodeUnsignedByteKey(const uint8_t* key);

void EncodeInt16Key(int16_t value, uint8_t* out);
int16_t DecodeInt16Key(const uint8_t* key);

void EncodeInt32Key(int32_t value, uint8_t* out);
int32_t DecodeInt32Key(const uint8_t* key);

void EncodeInt64Key(int64_t value, uint8_t* out);
int64_t DecodeInt64Key(const uint8_t* key);

void EncodeUint32Key(uint32_t value, uint8_t* out);
uint32_t DecodeUint32Key(const uint8_t* key);

void EncodeDoubleKey(double value, uint8_t* out);
double DecodeDoubleKey(const uint8_t* key);

void EncodeWordPairKey(WordPair value, uint8_t* out);
WordPair DecodeWordPairKey(const uint8_t* key);

// Writes the kTextKeySize-byte image of text (any bytes, NULs included) and
// returns the number of bytes copied, min(text.size(), kTextKeySize). Byte
// 201 is always zero, so at most 201 bytes of a text survive in the image.
size_t EncodeTextKey(std::string_view text, uint8_t* out);
// Copies the first min(size, kTextKeySize) bytes of an image to out and
// returns that count.
size_t DecodeTextKey(const uint8_t* key, size_t size, uint8_t* out);

// Reverses the byte order of a double's IEEE 754 representation. IDX files
// keep some numbers in the opposite order of the machine; ByteSwap32 of
// engine/core/coding.h does the same for record numbers. The result may be
// a NaN carrying arbitrary bits: only pass it on, swap it back or store it.
double ByteSwapDouble(double value);

}  // namespace qx::engine

#endif  // QX_ENGINE_DATES_KEY_CODEC_H_
