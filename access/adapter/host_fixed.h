// The fixed bytes of host values (little-endian, the type's width), read
// and written as integers. Internal to access/adapter/.
#ifndef QX_ACCESS_ADAPTER_HOST_FIXED_H_
#define QX_ACCESS_ADAPTER_HOST_FIXED_H_

#include <cstddef>
#include <cstdint>

#include "engine/core/coding.h"
#include "qx/host_types.h"

namespace qx::access::adapter_internal {

// REQUIRES: width 1, 2, 4 or 8.
inline uint64_t FixedUnsigned(const HostValue& value, size_t width) {
  const uint8_t* p = value.fixed.bytes;
  switch (width) {
    case 1:
      return p[0];
    case 2:
      return engine::GetLe16(p);
    case 4:
      return engine::GetLe32(p);
    default:
      return engine::GetLe64(p);
  }
}

inline int64_t FixedSigned(const HostValue& value, size_t width) {
  const uint64_t bits = FixedUnsigned(value, width);
  switch (width) {
    case 1:
      return static_cast<int8_t>(bits);
    case 2:
      return static_cast<int16_t>(bits);
    case 4:
      return static_cast<int32_t>(bits);
    default:
      return static_cast<int64_t>(bits);
  }
}

inline void SetFixed(HostValue* value, size_t width, uint64_t bits) {
  uint8_t* p = value->fixed.bytes;
  switch (width) {
    case 1:
      p[0] = static_cast<uint8_t>(bits);
      break;
    case 2:
      engine::PutLe16(p, static_cast<uint16_t>(bits));
      break;
    case 4:
      engine::PutLe32(p, static_cast<uint32_t>(bits));
      break;
    default:
      engine::PutLe64(p, bits);
      break;
  }
}

}  // namespace qx::access::adapter_internal

#endif  // QX_ACCESS_ADAPTER_HOST_FIXED_H_
