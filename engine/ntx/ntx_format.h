// On-disk layout of NTX index files, shared by their reader, writer,
// builder and check.
//
// An NTX file holds one B-tree of one key expression whose keys live in
// interior pages as well as in leaves. It is a sequence of 1,024-byte
// pages addressed by their byte offset (a multiple of 1,024, never 0).
// Offset 0 is the header; every other page is a node or a free page.
// Integers are little-endian.
//
// Header (offset 0):
//
//   OFFSET SIZE FIELD        notes
//   0      2    signature    6; 7 when a FOR condition is stored. Not
//                            checked on read
//   2      2    counter      update counter: 1 at creation, +1 for every
//                            add and delete, and at close after a change
//   4      4    root         offset of the root page (1,024 at creation)
//   8      4    free_head    offset of the first free page, 0 = none
//   12     2    item_size    key_length + 8
//   14     2    key_length   1..100
//   16     2    decimals     of a numeric key
//   18     2    largest      keys per full page. Written as
//                            (1022 div (key_length + 10)) - 1, rounded
//                            down to even; read: any value from 2 whose
//                            page layout fits in 1,024 bytes
//   20     2    smallest     the least a non-root page keeps. Written as
//                            largest / 2; read: 1..largest / 2
//   22     256  expression   NUL-terminated, upper case, no blanks (other
//                            writers keep blanks and case)
//   278    1    unique       1 = unique keys
//   279    1    -            0
//   280    1    descending   1 = the tree is in descending key order
//   281    1    -            0
//   282    256  for          the FOR condition as written, NUL-terminated
//                            (empty: none)
//   538    486  rest         0
//
// Node page:
//
//   OFFSET                 SIZE                       FIELD
//   0                      2                          count n of keys
//   2                      2 * (largest + 1)          offset table
//   2 * (largest + 2)      item_size * (largest + 1)  item area
//
// Offset-table entry i is the in-page offset of the item of the i-th key
// in key order; entries 0..n - 1 hold the keys and entry n only its child
// (the right-most subtree). The child of entry i leads to the keys below
// key i. A page is a leaf when the child of entry 0 is 0. Insert and
// remove rotate the table and leave the items in place; a freshly laid
// out page has entry i at 2 * (largest + 2) + i * item_size.
//
// Item: child offset (4, 0 in a leaf), record number (4), key.
//
// Free page: its first 4 bytes hold the offset of the next free page.
//
// Keys are byte strings compared as unsigned bytes: text blank-padded;
// numbers as fixed-point text at the key width whose leading blanks and
// minus sign are zeros, a negative number's digits c then turned into
// 92 - c (so that negatives sort below the positive ones and larger
// magnitudes first: -47 in N(3) is ",(%"); dates as YYYYMMDD, 8 blanks for
// an empty date. A descending file keeps its tree in descending key
// order: the walk gives the largest key first.
//
// Equal keys: a build writes them in record order; an add puts its entry
// after the keys equal to it, so a maintained file holds them in
// insertion order. A unique file holds one entry per key.
//
// Lock. In a shared file every change (add, delete, the close that stamps
// the header) holds an exclusive lock of the byte at 1,000,000,000 and
// every read a shared one (chart: engine/fileio/operation_lock.h). It is
// the byte Clipper's programs lock while they change an NTX file, so that
// they and we exclude each other; an NTX file of a billion bytes would
// have it inside its pages, which the advisory locks of POSIX tolerate.
//
// Tolerated on read: any signature, a file size that is not a multiple of
// 1,024 (warning 7), a free-page link that is no page of the file (it ends
// the list: other writers leave freed pages in their node layout). Offsets read
// from a page are checked before use: a table entry outside the page or a count
// above largest is -6, a page offset outside the file or not a multiple of
// 1,024 is -4.
#ifndef QX_ENGINE_NTX_NTX_FORMAT_H_
#define QX_ENGINE_NTX_NTX_FORMAT_H_

#include <cstdint>
#include <string>

#include "engine/core/coding.h"

namespace qx::engine {

inline constexpr uint32_t kNtxPageSize = 1024;

inline constexpr uint32_t kNtxSignatureOffset = 0;
inline constexpr uint32_t kNtxCounterOffset = 2;
inline constexpr uint32_t kNtxRootOffset = 4;
inline constexpr uint32_t kNtxFreeHeadOffset = 8;
inline constexpr uint32_t kNtxItemSizeOffset = 12;
inline constexpr uint32_t kNtxKeyLengthOffset = 14;
inline constexpr uint32_t kNtxDecimalsOffset = 16;
inline constexpr uint32_t kNtxLargestOffset = 18;
inline constexpr uint32_t kNtxSmallestOffset = 20;
inline constexpr uint32_t kNtxExpressionOffset = 22;
inline constexpr uint32_t kNtxExpressionSize = 256;
inline constexpr uint32_t kNtxUniqueOffset = 278;
inline constexpr uint32_t kNtxDescendingOffset = 280;
inline constexpr uint32_t kNtxForOffset = 282;
inline constexpr uint32_t kNtxForSize = 256;
// The header bytes open reads: everything up to the end of the FOR text.
inline constexpr uint32_t kNtxHeaderReadSize = kNtxForOffset + kNtxForSize;
// The words every call re-reads: counter, root, free_head (bytes 2..11).
inline constexpr uint32_t kNtxWordsOffset = kNtxCounterOffset;
inline constexpr uint32_t kNtxWordsSize = 2 + 4 + 4;

// The byte of the operation lock (see the top comment).
inline constexpr uint32_t kNtxLockOffset = 1'000'000'000;

inline constexpr uint16_t kNtxSignature = 6;
inline constexpr uint16_t kNtxSignatureFor = 7;
inline constexpr uint16_t kNtxMinKeyLength = 1;
inline constexpr uint16_t kNtxMaxKeyLength = 100;
inline constexpr uint16_t kNtxMaxNumericLength = 19;
inline constexpr uint16_t kNtxMaxDecimals = 15;
inline constexpr uint16_t kNtxDateKeyLength = 8;
// Expressions must be shorter than the header field (NUL included).
inline constexpr size_t kNtxMaxExpressionLength = kNtxExpressionSize - 1;
inline constexpr size_t kNtxMaxForLength = kNtxForSize - 1;

// Node page fields.
inline constexpr uint32_t kNtxCountOffset = 0;
inline constexpr uint32_t kNtxTableOffset = 2;
// Item fields.
inline constexpr uint32_t kNtxItemChildOffset = 0;
inline constexpr uint32_t kNtxItemRecnoOffset = 4;
inline constexpr uint32_t kNtxItemKeyOffset = 8;
inline constexpr uint32_t kNtxItemOverhead = 4 + 4;  // child + recno
// Free page: link to the next free page.
inline constexpr uint32_t kNtxFreeLinkOffset = 0;

// Keys per full page for a key length: (1022 div (key_length + 10)) - 1
// rounded down to even. Each key costs its item (key_length + 8) and its
// table entry (2); after the count (2) one more item and entry are kept
// for the right-most child.
constexpr uint16_t NtxLargest(uint32_t key_length) {
  const uint32_t fit = (kNtxPageSize - 2) / (key_length + kNtxItemOverhead + 2);
  const uint32_t keys = fit > 0 ? fit - 1 : 0;
  return static_cast<uint16_t>(keys & ~1u);
}

struct NtxHeader {
  uint16_t signature = kNtxSignature;
  uint16_t counter = 1;
  uint32_t root = kNtxPageSize;
  uint32_t free_head = 0;
  uint16_t item_size = 0;
  uint16_t key_length = 0;
  uint16_t decimals = 0;
  uint16_t largest = 0;
  uint16_t smallest = 0;
  std::string expression;             // as stored, up to its NUL (or 256 bytes)
  bool expression_terminated = true;  // a NUL within the field
  uint8_t unique = 0;
  uint8_t descending = 0;
  std::string for_expression;  // as stored, up to its NUL
  bool for_terminated = true;  // a NUL within the field

  // p: kNtxHeaderReadSize bytes.
  static NtxHeader DecodeFrom(const uint8_t* p);
  // out: kNtxPageSize bytes (the whole header page).
  void EncodeTo(uint8_t* out) const;
};

// The geometry of the pages of one file, from its header.
struct NtxShape {
  uint32_t key_length = 0;
  uint32_t item_size = 0;
  uint32_t largest = 0;
  uint32_t smallest = 0;

  static NtxShape Of(const NtxHeader& h) {
    return {h.key_length, h.item_size, h.largest, h.smallest};
  }
  // Offset of the item area: after the count and largest + 1 table
  // entries.
  uint32_t items_offset() const { return kNtxTableOffset + 2 * (largest + 1); }
  // Whether the page holds largest + 1 items, and smallest is a fill
  // that merges and splits can keep.
  bool Fits() const {
    return largest >= 2 &&
           items_offset() + item_size * (largest + 1) <= kNtxPageSize &&
           smallest >= 1 && smallest <= largest / 2;
  }
};

// A node page in a buffer of kNtxPageSize bytes. The accessors trust the
// page: Valid() must hold before any other call on bytes read from a file.
class NtxNode {
 public:
  NtxNode(uint8_t* page, const NtxShape& shape) : p_(page), s_(shape) {}

  // count <= largest, and the table entries in use (0..count) and the
  // free one after them leave room for an item.
  bool Valid() const;

  uint32_t count() const { return GetLe16(p_ + kNtxCountOffset); }
  void set_count(uint32_t n) {
    PutLe16(p_ + kNtxCountOffset, static_cast<uint16_t>(n));
  }
  uint32_t entry(uint32_t i) const {
    return GetLe16(p_ + kNtxTableOffset + 2 * i);
  }
  void set_entry(uint32_t i, uint32_t offset) {
    PutLe16(p_ + kNtxTableOffset + 2 * i, static_cast<uint16_t>(offset));
  }
  uint8_t* item(uint32_t i) const { return p_ + entry(i); }
  uint32_t child(uint32_t i) const {
    return GetLe32(item(i) + kNtxItemChildOffset);
  }
  void set_child(uint32_t i, uint32_t page) {
    PutLe32(item(i) + kNtxItemChildOffset, page);
  }
  uint32_t recno(uint32_t i) const {
    return GetLe32(item(i) + kNtxItemRecnoOffset);
  }
  const uint8_t* key(uint32_t i) const { return item(i) + kNtxItemKeyOffset; }
  bool leaf() const { return child(0) == 0; }

  // An empty page with the fresh table (entry i at the i-th item).
  void Format();
  // Writes item i's fields (the table entry is kept).
  void SetItem(uint32_t i, uint32_t child, uint32_t recno, const uint8_t* key);
  // Opens a place for a key at position i (i <= count < largest): the
  // free item after the right-most child moves to entry i; entries i..n
  // move one place right; count + 1. The caller fills item i.
  void OpenAt(uint32_t i);
  // Removes key i (i < count): entries i + 1..n move one place left and
  // key i's item becomes the free item after them; count - 1. The child
  // of entry i + 1 takes the place (the caller moves children first when
  // it means otherwise).
  void RemoveAt(uint32_t i);

 private:
  uint8_t* p_;
  NtxShape s_;
};

}  // namespace qx::engine

#endif  // QX_ENGINE_NTX_NTX_FORMAT_H_
