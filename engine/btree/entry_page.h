// Pages of fixed-size entries: the node form that NDX pages and MDX tag
// pages share, described by data so that one search, insert and delete
// serves both.
//
// A page holds a key count and count + 1 entry slots at fixed offsets:
//
//   count word   at count_offset; count_size bytes of it are read and
//                written (NDX uses the low byte only, MDX the low 16 bits)
//   slot i       at entries_offset + i * entry_size, i = 0 .. count
//
// Slots 0 .. count - 1 are keys. A slot holds a 4-byte pointer word at
// child_offset (the left child in an interior page), a 4-byte record
// number at recno_offset, and the key bytes at key_offset. A format whose
// leaves keep the record number in the child word (MDX) gives both the
// same offset. Slot count is the trailing slot: only its pointer word is
// used (the rightmost child of an interior page; 0 in a leaf), and only
// that word is guaranteed to fit in the page when count = max_keys.
//
// Invariants the helpers keep (cited as P1..P3):
//  P1. EntryOffset(max_keys) + child_offset + kPointerSize <= page_size:
//      the trailing pointer of a full page fits.
//  P2. Opening or closing a gap moves slots [slot, count - 1] and the
//      trailing pointer word together, so a leaf's trailing word (0) always
//      follows its last key; bytes vacated by a close are zeroed.
//  P3. An entry written by PutEntry has its padding after the key zeroed,
//      and in a format with separate words the unused word is 0 (child in
//      a leaf, record number in an interior page).
//
// All offsets and sizes are bytes; every integer on the page is
// little-endian (the formats that use this form are little-endian).
#ifndef QX_ENGINE_BTREE_ENTRY_PAGE_H_
#define QX_ENGINE_BTREE_ENTRY_PAGE_H_

#include <cstdint>
#include <cstring>

#include "engine/core/coding.h"

namespace qx::engine::btree {

inline constexpr uint32_t kPointerSize = 4;

// How a page tells that it is a leaf.
enum class LeafTest : uint8_t {
  kFirstChildZero,   // the child word of slot 0 is 0 (NDX)
  kLastPointerZero,  // the pointer word of slot count is 0 (MDX)
};

struct EntryLayout {
  uint32_t page_size = 0;
  uint32_t count_offset = 0;
  uint32_t count_size = 1;  // 1 or 2
  uint32_t entries_offset = 0;
  uint32_t entry_size = 0;
  uint32_t child_offset = 0;
  uint32_t recno_offset = 0;
  uint32_t key_offset = 0;
  uint32_t key_length = 0;
  uint32_t max_keys = 0;
  LeafTest leaf_test = LeafTest::kFirstChildZero;

  // True when the description is usable: P1, the key inside its slot, at
  // least two keys per page.
  bool Valid() const {
    if (count_size != 1 && count_size != 2) return false;
    if (entry_size == 0 || max_keys < 2) return false;
    if (key_offset + key_length > entry_size) return false;
    if (child_offset + kPointerSize > entry_size) return false;
    if (recno_offset + kPointerSize > entry_size) return false;
    return EntryOffset(max_keys) + child_offset + kPointerSize <= page_size;
  }

  uint32_t EntryOffset(uint32_t slot) const {
    return entries_offset + slot * entry_size;
  }
  bool SharedPointer() const { return recno_offset == child_offset; }

  uint32_t Count(const uint8_t* page) const {
    return count_size == 1 ? page[count_offset] : GetLe16(page + count_offset);
  }
  void SetCount(uint8_t* page, uint32_t count) const {
    if (count_size == 1)
      page[count_offset] = static_cast<uint8_t>(count);
    else
      PutLe16(page + count_offset, static_cast<uint16_t>(count));
  }
  // REQUIRES: Count(page) <= max_keys.
  bool IsLeaf(const uint8_t* page) const {
    uint32_t slot = leaf_test == LeafTest::kFirstChildZero ? 0 : Count(page);
    return Child(page, slot) == 0;
  }
  uint32_t Child(const uint8_t* page, uint32_t slot) const {
    return GetLe32(page + EntryOffset(slot) + child_offset);
  }
  void SetChild(uint8_t* page, uint32_t slot, uint32_t child) const {
    PutLe32(page + EntryOffset(slot) + child_offset, child);
  }
  uint32_t Recno(const uint8_t* page, uint32_t slot) const {
    return GetLe32(page + EntryOffset(slot) + recno_offset);
  }
  const uint8_t* Key(const uint8_t* page, uint32_t slot) const {
    return page + EntryOffset(slot) + key_offset;
  }
  uint8_t* Key(uint8_t* page, uint32_t slot) const {
    return page + EntryOffset(slot) + key_offset;
  }

  // Writes a whole entry (P3): pointer words, key, zero padding. A leaf
  // entry carries recno, an interior one child.
  void PutEntry(uint8_t* page, uint32_t slot, bool leaf, uint32_t child,
                uint32_t recno, const uint8_t* key) const {
    uint8_t* e = page + EntryOffset(slot);
    std::memset(e, 0, entry_size);
    if (SharedPointer()) {
      PutLe32(e + child_offset, leaf ? recno : child);
    } else {
      PutLe32(e + child_offset, leaf ? 0 : child);
      PutLe32(e + recno_offset, leaf ? recno : 0);
    }
    std::memcpy(e + key_offset, key, key_length);
  }

  // Moves slots [slot, count] one slot up (P2). REQUIRES count < max_keys.
  void OpenGap(uint8_t* page, uint32_t slot, uint32_t count) const {
    uint32_t from = EntryOffset(slot);
    uint32_t end = EntryOffset(count) + child_offset + kPointerSize;
    std::memmove(page + from + entry_size, page + from, end - from);
  }
  // Moves slots [slot + 1, count] one slot down over slot and zeroes what
  // is left behind (P2). REQUIRES slot < count <= max_keys.
  void CloseGap(uint8_t* page, uint32_t slot, uint32_t count) const {
    uint32_t to = EntryOffset(slot);
    uint32_t end = EntryOffset(count) + child_offset + kPointerSize;
    std::memmove(page + to, page + to + entry_size, end - to - entry_size);
    std::memset(page + end - entry_size, 0, entry_size);
  }
};

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_ENTRY_PAGE_H_
