// The records the adapter's index operations read and fill: the key
// descriptor of an open table's key (built by the table's key association)
// and the description of one key of an index file.
#ifndef QX_ACCESS_ADAPTER_KEY_DESCRIPTOR_H_
#define QX_ACCESS_ADAPTER_KEY_DESCRIPTOR_H_

#include <cstdint>
#include <string>

#include "access/adapter/dialects.h"

namespace qx::access {

inline constexpr uint16_t kNoIndexHandle = 0xFFFF;
inline constexpr uint32_t kNoTagHandle = 0xFFFFFFFF;

// Key types besides the letters 'C', 'D', 'N', 'L': keys of binary
// values, in the images of MakeKey (key_image.h).
enum BinaryKeyType : int16_t {
  kKeyCurrency = 10,  // 8 bytes: units of 1/10000, big-endian, sign bit
                      // inverted
  kKeyInteger = 11,   // 4 bytes: big-endian, sign bit inverted
  kKeyDateTime = 12,  // 8 bytes: date image, then the time of day
};

// A key of an open table, as every key operation takes it.
struct IndexKeyDescriptor {
  XbaseDialect dialect = kDialectOther;    // of the index file
  uint16_t index_handle = kNoIndexHandle;  // NDX, IDX, NTX files
  uint32_t tag_handle = kNoTagHandle;      // MDX, CDX tags (the tag
                                           // number * 65536 + file handle)
  // Bytes of the key image buffer; a character key's count includes its
  // terminating zero byte.
  uint64_t key_length = 0;
  int16_t key_type = 'C';      // 'C', 'D', 'N', 'L' or a BinaryKeyType
  uint8_t key_value_type = 0;  // host value type of the key image
  uint8_t item_type = 0;       // host value type of the item the key is of
  uint32_t width = 0;          // numeric keys: characters in all (0: the
                               // number is taken as it is, not rounded)
  uint32_t decimals = 0;       // numeric keys: digits after the point
  uint32_t compound = 0;       // non-zero for a compound key
  // Ours: non-zero for a FoxPro key of a nullable value (Visual FoxPro),
  // whose image follows one leading byte: 0x80 before a value, and the
  // whole key zero bytes for null.
  uint32_t nullable = 0;
  // The table's text conversion towards the file, which a character key
  // made from a host text goes through as the record's fields do: 1 the
  // whole OEM code page (OEMTOANSI=WINDOWS), 0 the French letters.
  uint32_t full_oem = 0;
};

// One key of an index file, as the describe operations give it.
struct IndexKeyInfo {
  uint16_t key_length = 0;     // the engine's, + 1 for a character key
  uint16_t key_type = 0;       // the engine's letter; NTX keys 'C'
  uint16_t flags = 0;          // KbdKeyTypeFlags as the index reports them
  uint16_t attribute = 0;      // NTX: the key's decimals; 0 for the others
  std::string expression;      // empty when the index holds none
  std::string key_name;        // at most 24 characters
  std::string for_expression;  // ours: the FOR condition, empty for none
};

}  // namespace qx::access

#endif  // QX_ACCESS_ADAPTER_KEY_DESCRIPTOR_H_
