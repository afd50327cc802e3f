// Little-endian integers in the bytes qxdb reads and writes through the
// public API: the 16-bit length before a varbinary (Q) value and the fixed
// bytes of a host value. The engine's codecs are its own; the tool keeps
// these few so that it needs no engine header.
#ifndef QX_HOST_QXDB_BYTE_ORDER_H_
#define QX_HOST_QXDB_BYTE_ORDER_H_

#include <cstdint>

namespace qx::qxdb {

constexpr uint16_t GetLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

constexpr uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

constexpr void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_BYTE_ORDER_H_
