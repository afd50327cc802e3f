// Byte codecs for the engine's file formats.
//
// Our formats mix byte orders (DBF headers and NDX/MDX/NTX pages are
// little-endian, FPT and IDX/CDX block numbers big-endian), so every name
// carries its order. Values are assembled byte by byte; compilers fold these
// into single loads and stores. Nothing outside this header (and the key
// codecs of engine/dates) shifts file bytes.
#ifndef QX_ENGINE_CORE_CODING_H_
#define QX_ENGINE_CORE_CODING_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qx::engine {

constexpr uint16_t GetLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
constexpr uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
constexpr uint64_t GetLe64(const uint8_t* p) {
  return static_cast<uint64_t>(GetLe32(p)) |
         (static_cast<uint64_t>(GetLe32(p + 4)) << 32);
}
constexpr uint16_t GetBe16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
constexpr uint32_t GetBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) |
         (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
constexpr uint64_t GetBe64(const uint8_t* p) {
  return (static_cast<uint64_t>(GetBe32(p)) << 32) |
         static_cast<uint64_t>(GetBe32(p + 4));
}

constexpr void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
constexpr void PutLe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}
constexpr void PutLe64(uint8_t* p, uint64_t v) {
  PutLe32(p, static_cast<uint32_t>(v));
  PutLe32(p + 4, static_cast<uint32_t>(v >> 32));
}
constexpr void PutBe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
}
constexpr void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}
constexpr void PutBe64(uint8_t* p, uint64_t v) {
  PutBe32(p, static_cast<uint32_t>(v >> 32));
  PutBe32(p + 4, static_cast<uint32_t>(v));
}

// Variable-width integers (n bytes, n <= 8), as packed entries of a
// compact FoxPro leaf or the tail of a sort item: the value is the low n
// bytes of v.
constexpr void PutLeBytes(uint8_t* p, uint64_t v, size_t n) {
  for (size_t i = 0; i < n; ++i, v >>= 8) p[i] = static_cast<uint8_t>(v);
}
constexpr uint64_t GetBeBytes(const uint8_t* p, size_t n) {
  uint64_t v = 0;
  for (size_t i = 0; i < n; ++i) v = (v << 8) | p[i];
  return v;
}

// Byte-order reversal of a 32-bit value (IDX record numbers).
constexpr uint32_t ByteSwap32(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
constexpr uint64_t ByteSwap64(uint64_t v) {
  return (static_cast<uint64_t>(ByteSwap32(static_cast<uint32_t>(v))) << 32) |
         ByteSwap32(static_cast<uint32_t>(v >> 32));
}

// Bytes of a NUL-terminated text field of size bytes: up to its NUL, or
// all of them when there is none.
inline size_t BoundedLength(const void* text, size_t size) {
  const void* nul = std::memchr(text, '\0', size);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) -
                                   static_cast<const char*>(text))
             : size;
}

}  // namespace qx::engine

#endif  // QX_ENGINE_CORE_CODING_H_
