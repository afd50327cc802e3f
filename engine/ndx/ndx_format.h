// On-disk layout of NDX index files, shared by their reader and writer.
//
// An NDX file holds one B+-tree of one key expression. It is a sequence
// of 512-byte pages; page n starts at byte n * 512. Page 0 is the header,
// pages 1.. are tree pages or freed pages. Integers are little-endian.
// A new file is 1,024 bytes: the header and an empty root leaf in page 1.
//
// Header (page 0; 248 bytes are read at open, the whole page is written at
// creation):
//
//   OFFSET SIZE FIELD          notes
//   0      4    root           page number of the root page
//   4      4    next_free      pages in the file = the page a new page
//                              takes; the file is next_free * 512 bytes
//   8      4    reserved       0
//   12     2    key_length     1..100 character keys; 8 numeric and date
//   14     2    keys_per_page  504 / entry_size (integer division)
//   16     2    key_type       0 character, 1 numeric (and date)
//   18     2    entry_size     key_length rounded up to a multiple of 4,
//                              plus 8
//   20     3    reserved       0
//   23     1    unique         1 unique index, 0 otherwise
//   24     221  expression     upper case, no blanks, NUL-terminated, at
//                              most 220 characters
//   245    267  rest           0 up to byte 511
//
// Tree page (pages 1..next_free - 1):
//
//   OFFSET             SIZE        FIELD   notes
//   0                  4           count   keys in the page; only the low
//                                          byte is read and written (a count
//                                          never exceeds 42)
//   4 + i * entry      entry_size  entry i for i = 0 .. count; slot count
//                                          holds only the rightmost child
//                                          of an interior page
//
// Entry:
//
//   OFFSET  SIZE        FIELD    notes
//   0       4           child    left child page (0 in a leaf)
//   4       4           recno    record number (0 in an interior page)
//   8       key_length  key      then zero padding to entry_size
//
// A page is a leaf when the child word of entry 0 is 0. An interior key is
// a copy of the greatest key of its left subtree.
//
// Freed page: count byte 255, and at offset 4 the page freed before it
// (0 ends the chain). The head of the chain lives only in the memory of the
// handle that freed the pages; close compacts the file and cuts it.
//
// Keys. Character keys are the bytes padded with blanks, ordered under the
// collation switch. Numeric and date keys are IEEE-754 doubles, least
// significant byte first, ordered by the value's bytes from the most
// significant: a clear sign bit is greater than a set one; with equal
// signs the magnitudes compare, reversed for negatives (so -0.0 sorts just
// below +0.0). A date key is the key day number of the date; an empty date
// is 1.0e100.
//
// Lock. In a shared file every change (add, delete, the close that
// compacts) holds an exclusive lock of the byte 0x7FFFFFFF and every read
// a shared one (chart: engine/fileio/operation_lock.h). dBASE's programs
// lock no byte of an NDX file, so the byte is ours to choose: the last one
// a signed 32-bit offset names, which no index below 2 GiB reaches, and
// the byte our memo and MDX files lock too.
//
// Tolerated on read: entry sizes ((k + 1) | 1) + 7 and ((k + 3) | 1) + 7
// besides k + 8 rounded as we write (files of other writers); a header
// unique byte other than 0 or 1 reads as not unique; any bytes after the
// expression's NUL and after the last used slot of a page; a file size
// other than next_free * 512 (warning 7). Refused: key length outside
// 1..100 (-23), a numeric key length other than 8 (-23), any other entry
// size (-24), a root outside 1..next_free (-25), keys per page below 2 or
// with their slots past byte 508 (-26), an expression of 221 bytes or
// more (-7), a key type other than 0 or 1 (-22).
//
// Produced on write: the header as above with zero reserved bytes; pages
// with zero bytes after their last used slot.
#ifndef QX_ENGINE_NDX_NDX_FORMAT_H_
#define QX_ENGINE_NDX_NDX_FORMAT_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/btree/entry_page.h"

namespace qx::engine {

inline constexpr uint32_t kNdxPageSize = 512;
// The byte of the operation lock (see the top comment).
inline constexpr uint32_t kNdxLockOffset = 0x7FFFFFFF;

// Header fields (page 0).
inline constexpr uint32_t kNdxRootOffset = 0;
inline constexpr uint32_t kNdxRootSize = 4;
inline constexpr uint32_t kNdxNextFreeOffset = 4;
inline constexpr uint32_t kNdxNextFreeSize = 4;
inline constexpr uint32_t kNdxReserved8Offset = 8;
inline constexpr uint32_t kNdxReserved8Size = 4;
inline constexpr uint32_t kNdxKeyLengthOffset = 12;
inline constexpr uint32_t kNdxKeyLengthSize = 2;
inline constexpr uint32_t kNdxKeysPerPageOffset = 14;
inline constexpr uint32_t kNdxKeysPerPageSize = 2;
inline constexpr uint32_t kNdxKeyTypeOffset = 16;
inline constexpr uint32_t kNdxKeyTypeSize = 2;
inline constexpr uint32_t kNdxEntrySizeOffset = 18;
inline constexpr uint32_t kNdxEntrySizeSize = 2;
inline constexpr uint32_t kNdxReserved20Offset = 20;
inline constexpr uint32_t kNdxReserved20Size = 3;
inline constexpr uint32_t kNdxUniqueOffset = 23;
inline constexpr uint32_t kNdxUniqueSize = 1;
inline constexpr uint32_t kNdxExpressionOffset = 24;
inline constexpr uint32_t kNdxExpressionSize = 221;  // 220 characters + NUL
inline constexpr uint32_t kNdxMaxExpressionLength = 220;
// Bytes read at open: the fixed fields and 224 bytes of expression area.
inline constexpr uint32_t kNdxHeaderReadSize = 248;
// root + next_free: what every call re-reads and close rewrites.
inline constexpr uint32_t kNdxHeaderWordsSize = kNdxRootSize + kNdxNextFreeSize;
// The fixed fields before the expression: root + next_free + reserved +
// key length + keys per page + key type + entry size + reserved + unique.
static_assert(kNdxRootSize + kNdxNextFreeSize + kNdxReserved8Size +
                  kNdxKeyLengthSize + kNdxKeysPerPageSize + kNdxKeyTypeSize +
                  kNdxEntrySizeSize + kNdxReserved20Size + kNdxUniqueSize ==
              kNdxExpressionOffset);

// Key types of the header (on disk: never renumber).
enum NdxKeyType : uint16_t {
  kNdxKeyCharacter = 0,
  kNdxKeyNumeric = 1,  // numeric and date keys: an 8-byte double
};

inline constexpr uint32_t kNdxMinKeyLength = 1;
inline constexpr uint32_t kNdxMaxKeyLength = 100;
inline constexpr uint32_t kNdxNumericKeyLength = 8;

// Tree pages.
inline constexpr uint32_t kNdxCountOffset = 0;
inline constexpr uint32_t kNdxCountSize = 1;  // the low byte of a 4-byte word
inline constexpr uint32_t kNdxEntriesOffset = 4;
inline constexpr uint32_t kNdxChildOffset = 0;    // within an entry
inline constexpr uint32_t kNdxRecnoOffset = 4;    // within an entry
inline constexpr uint32_t kNdxKeyOffset = 8;      // within an entry
inline constexpr uint32_t kNdxEntryOverhead = 8;  // child + recno
// Bytes of a page that entries may use: 512 - count word - trailing child.
inline constexpr uint32_t kNdxEntryArea = kNdxPageSize - 4 - 4;  // 504
// keys_per_page * entry_size must stay below this for the trailing child
// word of a full page to fit.
inline constexpr uint32_t kNdxMaxSlotBytes = 509;
// The count byte of a freed page, and where its chain link sits.
inline constexpr uint8_t kNdxFreedMark = 0xFF;
inline constexpr uint32_t kNdxFreedLinkOffset = 4;

// The empty date key: after every real day number.
inline constexpr double kNdxEmptyDateKey = 1.0e100;

// Entry size of a key length as this engine writes it: rounded up to a
// multiple of 4, plus child and record number.
constexpr uint32_t NdxEntrySize(uint32_t key_length) {
  return (key_length + 3) / 4 * 4 + kNdxEntryOverhead;
}
constexpr uint32_t NdxKeysPerPage(uint32_t entry_size) {
  return kNdxEntryArea / entry_size;
}
// The entry sizes accepted at open for key length k.
constexpr bool NdxEntrySizeAccepted(uint32_t key_length, uint32_t entry_size) {
  return entry_size == ((key_length + 1) | 1) + 7 ||
         entry_size == ((key_length + 3) | 1) + 7 ||
         entry_size == key_length + 8;
}

struct NdxHeader {
  uint32_t root = 0;
  uint32_t next_free = 0;
  uint16_t key_length = 0;
  uint16_t keys_per_page = 0;
  uint16_t key_type = kNdxKeyCharacter;
  uint16_t entry_size = 0;
  uint8_t unique = 0;
  // The expression bytes up to the first NUL (at most
  // kNdxHeaderReadSize - kNdxExpressionOffset of them when there is none).
  std::string expression;

  // Decodes kNdxHeaderReadSize bytes.
  static NdxHeader DecodeFrom(const uint8_t* p);
  // Encodes the whole header page (kNdxPageSize bytes, zero-filled).
  void EncodeTo(uint8_t* out) const;
};

// The layout of tree pages for a header.
btree::EntryLayout NdxLayout(const NdxHeader& header);

}  // namespace qx::engine

#endif  // QX_ENGINE_NDX_NDX_FORMAT_H_
