// Key images of index keys: made from host values (MakeKey, SeekValue) or
// from plain values (MakeKeyOf, for the record keys of plain fields), and
// read back (ReadKeyImage, SameKeyImage, for tools that show and check
// keys).
//
// Images by key type (the descriptor's), into a buffer zeroed first over
// the key length:
//   'C', 'L'  the value as text, at most key length bytes; byte key
//             length - 1 is 0
//   'D'       the value as text YYYYMMDD through the family's date key:
//             NDX and MDX the 8-byte little-endian double of the key day
//             number (1.0e100 for the empty date), IDX and CDX the 8-byte
//             sortable double of the Julian day number, NTX the 8 digits
//   'N'       the value as a number; with a width, rounded to the key's
//             decimals by writing it "%<width>.<decimals>f" (at most 20
//             characters) and reading it back; then the family's numeric
//             key: NDX the 8-byte double as it is (little-endian), MDX
//             its packed decimal, IDX and CDX the sortable double, NTX the
//             index's key text
//   10        currency: value × 10000 cut to a signed 64-bit integer,
//             8 bytes big-endian, sign bit inverted
//   11        integer: signed 32-bit, 4 bytes big-endian, sign bit inverted
//   12        date-time: its text YYYYMMDDhhmmss; bytes 0-3 the first four
//             bytes of the CDX date key of the first 8 characters, bytes
//             4-7 big-endian hh × 89478485 + mm × 1491308 +
//             trunc(ss × 24855.135) (single precision), absent parts 0;
//             fewer than 8 characters -15
//   other     status 2, the buffer untouched
// A FoxPro key of a nullable value (descriptor's nullable) holds 0x80 and
// then the image cut by one byte; a null host value gives all zero bytes.
// After a conversion, when the item type is not in the host's text family
// but the key value type is, and the key is not compound, the key text is
// padded with blanks to key length - 1 and ended with a zero byte.
//
// Values are taken as they are when their type is the one the key needs
// (texts for the text family, numbers for numbers); other values go
// through the host's conversion service (framework/host_value.h).
#ifndef QX_ACCESS_ADAPTER_KEY_IMAGE_H_
#define QX_ACCESS_ADAPTER_KEY_IMAGE_H_

#include <cstdint>
#include <span>
#include <string>

#include "access/adapter/key_descriptor.h"
#include "qx/host_types.h"

namespace qx::access {

// The adapter's status for a value or field that no key type takes.
inline constexpr int32_t kStatusNotConvertible = 2;

// A value in the form its key type takes: text for 'C', 'L', 'D' (YYYYMMDD)
// and 12 (YYYYMMDDhhmmss); number for 'N' and 10; integer for 11.
struct PlainKeyValue {
  std::string text;
  double number = 0.0;
  int32_t integer = 0;
  bool null = false;  // a FoxPro nullable key is then all zero bytes
};

// Makes the image of value for key_type in the descriptor's family (the
// table above, without the text family's final padding).
int32_t MakeKeyOf(const IndexKeyDescriptor& key, int16_t key_type,
                  const PlainKeyValue& value, std::span<uint8_t> image);

// Makes the key image of a host value for the descriptor's key type.
// text_options go to the host's conversion of a value to text.
int32_t MakeKey(const IndexKeyDescriptor& key, const HostValue& value,
                std::span<uint8_t> image, uint32_t text_options = 0);

// MakeKey, then on status 0 SeekKey (key_ops.h) with pad and search_mode.
int32_t SeekValue(const IndexKeyDescriptor& key, const HostValue& value,
                  uint32_t text_options, bool pad, std::span<uint8_t> image,
                  uint32_t* recno, uint16_t search_mode);

// A key image read back. type: 'C' text (trailing blanks and zero bytes
// dropped), 'N' number, 'D' date as YYYYMMDD ("" for the empty date),
// 'L' text "T" or "F", 10 and 11 numbers, 12 text YYYYMMDDhhmmss.
struct KeyImageValue {
  int16_t type = 'C';
  bool null = false;  // a nullable key holding null
  bool valid = true;  // false: the bytes hold no value of the type
  std::string text;
  double number = 0.0;
};

// Bytes of the engine's key (the image without a character key's
// terminating zero byte).
uint32_t EngineKeyLength(const IndexKeyDescriptor& key);

KeyImageValue ReadKeyImage(const IndexKeyDescriptor& key,
                           std::span<const uint8_t> image);

// Whether two images stand for the same key: character keys compare
// without trailing blanks and zero bytes, MDX numeric keys by value
// (writers differ in the sign byte's other bits), others byte for byte
// over the engine's key length.
bool SameKeyImage(const IndexKeyDescriptor& key, std::span<const uint8_t> a,
                  std::span<const uint8_t> b);

// The order of two images of the descriptor's key (-1, 0, 1) over the
// engine's key length: bytes compared unsigned, except the numbers and
// dates of NDX and MDX, whose images (little-endian doubles, packed
// decimals) are compared by value.
int CompareKeyImages(const IndexKeyDescriptor& key, std::span<const uint8_t> a,
                     std::span<const uint8_t> b);

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_KEY_IMAGE_H_
