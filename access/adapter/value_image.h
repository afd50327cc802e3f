// Sortable key images of host values, for compound keys: the images of
// the key's components laid side by side compare as unsigned bytes in the
// order of the values (engine/dates/key_codec.h holds the codecs).
//
//   host value type                 image                          size
//   1, 6 (signed 8-bit)             byte + 128                     1
//   2 (unsigned 8-bit), 17 (char)   the byte                       1
//   3 (unsigned 16-bit)             big-endian                     2
//   7 (signed 16-bit)               value + 0x8000, big-endian     2
//   4 (unsigned 32-bit)             big-endian                     4
//   8 (signed 32-bit)               value + 0x80000000, big-endian 4
//   5 (unsigned 64-bit)             big-endian                     8
//   9, 27 (signed 64-bit)           value + 2^63, big-endian       8
//   10 (currency, 10 bytes)         the bytes reversed, bit 7 of   10
//                                   the first inverted
//   11 (4-byte float)               big-endian; a negative value   4
//                                   all bits inverted, any other
//                                   the sign bit set
//   12 (8-byte float)               as 11 over 8 bytes (-0.0 as    8
//                                   0.0, every NaN as one)
//   26 (date-time)                  day, then milliseconds, each   8
//                                   32-bit big-endian
//   18, 19 (text), 128, 129         the bytes, at most 202, the    bytes
//   (binary)                        rest of 202 zero, byte 201     copied
//                                   zero
#ifndef QX_ACCESS_ADAPTER_VALUE_IMAGE_H_
#define QX_ACCESS_ADAPTER_VALUE_IMAGE_H_

#include <cstddef>
#include <cstdint>

#include "qx/host_types.h"

namespace qx::access {

// Bytes an image buffer needs for any type.
inline constexpr size_t kValueImageRoom = 202;

// Writes the image of value (image: kValueImageRoom bytes) and returns
// its size; 0 for a type without an image (nothing written).
size_t KeyImageFromValue(const HostValue& value, uint8_t* image);

// Undoes KeyImageFromValue: the value of type from an image of size bytes
// (for texts and binaries the bytes copied; the value then points into
// the image, which must outlive it). False for a type without an image or
// an image too short for its type.
bool ValueFromKeyImage(const uint8_t* image, size_t size, uint8_t type,
                       HostValue* value);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_VALUE_IMAGE_H_
