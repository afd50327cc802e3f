// The entry a handle handed its caller last (its stored key bytes and
// record number). Next and previous take a caller's key that is this entry
// byte for byte as it is: read as a text, stored bytes holding a NUL would
// come back shorter and each step would start from the same place again.
//
// The handle keeps found (the entry's length key bytes) and found_recno
// (0: none handed out); HandOutEntry records the entry and fills the
// caller's buffers, TakeHandedOutEntry reads the caller's entry back.
#ifndef QX_ENGINE_BTREE_HANDED_OUT_ENTRY_H_
#define QX_ENGINE_BTREE_HANDED_OUT_ENTRY_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qx::engine::btree {

// True when (key, recno) is the entry handed out last: found holds its
// length key bytes, found_recno its record number (0: none handed out).
inline bool IsHandedOutEntry(const void* key, uint32_t recno,
                             const uint8_t* found, uint32_t found_recno,
                             std::size_t length) {
  return recno != 0 && recno == found_recno &&
         std::memcmp(key, found, length) == 0;
}

// Hands the entry read into found (length key bytes) with record number
// recno to the caller: found_recno remembers it, key gets the bytes and a
// NUL.
inline void HandOutEntry(const uint8_t* found, uint32_t recno,
                         uint32_t* found_recno, void* key, std::size_t length) {
  *found_recno = recno;
  uint8_t* out = static_cast<uint8_t*>(key);
  std::memcpy(out, found, length);
  out[length] = 0;
}

// The caller's entry (key, recno) into search: the length bytes as they
// are when it is the entry handed out last (true), else nothing is copied
// and false tells the caller to read key its own way.
inline bool TakeHandedOutEntry(const void* key, uint32_t recno,
                               const uint8_t* found, uint32_t found_recno,
                               std::size_t length, uint8_t* search) {
  if (!IsHandedOutEntry(key, recno, found, found_recno, length)) return false;
  std::memcpy(search, key, length);
  return true;
}

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_HANDED_OUT_ENTRY_H_
