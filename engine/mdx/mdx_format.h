// On-disk layout of MDX multiple-index files, shared by their reader and
// writer.
//
// An MDX file holds up to 47 tags over one data file, each tag a B+-tree
// of its own key expression. Positions are counted in 512-byte sectors
// (sector s starts at byte s * 512); the file is cut into blocks of F
// sectors, F the block factor of the header (this engine creates F = 2,
// 1,024-byte blocks). Page, tag-header and free-chain numbers are the
// sector numbers of block starts. Integers are little-endian.
//
// File header (sector 0; the first 48 bytes are read and written, the
// rest of the sector is left as found):
//
//   OFFSET SIZE FIELD          notes
//   0      1    version        2
//   1      3    created        year - 1900, month, day
//   4      16   data_name      base name of the data file, upper case, its
//                              first 8 characters, NUL-padded
//   20     2    block_factor   F, 1..32
//   22     2    block_size     F * 512 bytes
//   24     1    production     0 when this engine creates the file
//   25     1    table_max      entries of the tag table: 48 ('0')
//   26     1    table_item     bytes per tag-table entry: 32 (' ')
//   27     1    reserved       0
//   28     2    tag_count      N, 0..47
//   30     2    reserved       0 (written back as read)
//   32     4    sector_count   sectors in the file; the file is
//                              sector_count * 512 bytes
//   36     4    free_head      first block of the free chain (0: empty)
//   40     4    free_count     blocks on the free chain
//   44     3    updated        year - 1900, month, day of the last update
//   47     1    reserved       0
//
// Tag table (sectors 1..3, 1,536 bytes): 48 entries of 32 bytes at
// 512 + 32 * i. Entry 0 is never a tag (its forward thread names tag 1);
// tags occupy entries 1..N in creation order, and a deleted tag's entry
// takes the last tag, so N entries are always in use.
//
//   OFFSET SIZE FIELD          notes
//   0      4    header_sector  the tag header block
//   4      11   name           upper case, NUL-terminated (byte 14 is 0)
//   15     2    kept           not read; written back as found (0 in new
//                              entries)
//   17     1    forward        thread: the next tag (0 for the last)
//   18     1    backward       thread: the previous tag
//   19     1    mark           2
//   20     1    key_type       'C', 'D' or 'N'
//   21     11   reserved       0
//
// Tag header block (248 bytes are read; the rest of the block is 0):
//
//   OFFSET SIZE FIELD          notes
//   0      4    root           the root page: 4 <= root < sector_count
//   4      4    reserved4      0 when created
//   8      1    key_format     0x40 unique, 0x08 descending (recorded
//                              only: keys are ascending in every tag),
//                              0x10 when the expression holds none of
//                              "RIGHT(", "LEFT(", "DTOC("; any bit of
//                              0xA7 makes the tag unreadable
//   9      1    key_type       'C', 'D' or 'N'
//   10     2    reserved10     0
//   12     2    key_length     1..100 'C', 8 'D', 12 'N'
//   14     2    max_keys       (block_size - 12) / item_length
//   16     2    secondary      1 for 'D', 0 otherwise
//   18     2    item_length    key_length rounded up to a multiple of 4,
//                              plus 4 (key_length + 4 accepted on read)
//   20     4    reserved20     0
//   24     221  expression     upper case, no blanks, NUL-terminated, at
//                              most 220 characters
//
// Page (one block):
//
//   OFFSET               SIZE         FIELD    notes
//   0                    4            count    keys c; the low 16 bits are
//                                              read and written
//   4                    4            link     unused in a live page
//   8 + i * item_length  item_length  entry i  for i = 0 .. c
//
// Entry: a 4-byte pointer, the key bytes, zero padding. In a leaf the
// pointer is the record number; in an interior page it is the child page,
// and the pointer of slot c (after the last key) is the rightmost child.
// A page is a leaf when the pointer of slot c is 0 (so a new root, an
// all-zero block, is an empty leaf). An interior key is a copy of the
// greatest key of its left subtree.
//
// Free chain: a freed block holds 0 at offset 0 and, at offset 4, the
// block that headed the chain before it (0 ends the chain); free_head and
// free_count name the chain. New blocks come from the chain head first,
// else from the end of the file (sector_count grows by F). The chain is
// shared by every tag and persists in the file.
//
// Keys. 'C': the bytes padded with blanks, ordered under the collation
// switch. 'D': an IEEE-754 double, least significant byte first, holding
// the key day number of the date (an empty date 1.0e100), ordered as the
// value. 'N': 12 bytes of packed decimal (mdx_decimal.h).
//
// Lock. In a shared file every change (key add and delete, tag definition,
// deletion and build, the close that stamps the date) holds an exclusive
// lock of the byte 0x7FFFFFFF and every read a shared one (chart:
// engine/fileio/operation_lock.h). dBASE's programs lock no byte of an MDX
// file for this, so the byte is ours to choose: the last one a signed
// 32-bit offset names, which no file below 2 GiB reaches, and the byte our
// NDX and memo files lock too.
//
// Tolerated on read: item length key_length + 4; any file size other than
// sector_count * 512 (warning 7); bytes after the 48 header bytes, tag
// table entries beyond N and the tag-table bytes 15..16 (kept as found).
// Refused at open: version other than 2 (-18), F outside 1..32 (-49),
// block size other than F * 512 (-51), table_max other than 48 (-52),
// table_item other than 32 (-53), N above 47 (-54), fewer than 4 sectors
// (-19). Refused at tag open: key length outside 1..100 (-23), other item
// lengths (-24), root outside 4..sector_count - 1 (-25), max_keys *
// item_length above block_size - 12 or max_keys below 2 (-26), an
// expression of 221 bytes or more (-7), key format bits 0xA7 (-55), key
// type other than 'C', 'D', 'N' or secondary type other than 0, 1 (-22),
// a 'D' key not 8 bytes or an 'N' key not 12 (-23).
//
// Produced on write: headers as above with zero reserved bytes (bytes of
// existing files kept), pages with zero bytes after their last used slot.
#ifndef QX_ENGINE_MDX_MDX_FORMAT_H_
#define QX_ENGINE_MDX_MDX_FORMAT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "engine/btree/entry_page.h"

namespace qx::engine {

inline constexpr uint32_t kMdxSectorSize = 512;
// The byte of the operation lock (see the top comment).
inline constexpr uint32_t kMdxLockOffset = 0x7FFFFFFF;

// File header (sector 0).
inline constexpr uint32_t kMdxVersionOffset = 0;
inline constexpr uint32_t kMdxVersionSize = 1;
inline constexpr uint32_t kMdxCreatedOffset = 1;
inline constexpr uint32_t kMdxCreatedSize = 3;
inline constexpr uint32_t kMdxDataNameOffset = 4;
inline constexpr uint32_t kMdxDataNameSize = 16;
inline constexpr uint32_t kMdxBlockFactorOffset = 20;
inline constexpr uint32_t kMdxBlockFactorSize = 2;
inline constexpr uint32_t kMdxBlockSizeOffset = 22;
inline constexpr uint32_t kMdxBlockSizeSize = 2;
inline constexpr uint32_t kMdxProductionOffset = 24;
inline constexpr uint32_t kMdxProductionSize = 1;
inline constexpr uint32_t kMdxTableMaxOffset = 25;
inline constexpr uint32_t kMdxTableMaxSize = 1;
inline constexpr uint32_t kMdxTableItemOffset = 26;
inline constexpr uint32_t kMdxTableItemSize = 1;
inline constexpr uint32_t kMdxReserved27Offset = 27;
inline constexpr uint32_t kMdxReserved27Size = 1;
inline constexpr uint32_t kMdxTagCountOffset = 28;
inline constexpr uint32_t kMdxTagCountSize = 2;
inline constexpr uint32_t kMdxReserved30Offset = 30;
inline constexpr uint32_t kMdxReserved30Size = 2;
inline constexpr uint32_t kMdxSectorCountOffset = 32;
inline constexpr uint32_t kMdxSectorCountSize = 4;
inline constexpr uint32_t kMdxFreeHeadOffset = 36;
inline constexpr uint32_t kMdxFreeHeadSize = 4;
inline constexpr uint32_t kMdxFreeCountOffset = 40;
inline constexpr uint32_t kMdxFreeCountSize = 4;
inline constexpr uint32_t kMdxUpdatedOffset = 44;
inline constexpr uint32_t kMdxUpdatedSize = 3;
inline constexpr uint32_t kMdxReserved47Offset = 47;
inline constexpr uint32_t kMdxReserved47Size = 1;
inline constexpr uint32_t kMdxHeaderSize = 48;
static_assert(kMdxVersionSize + kMdxCreatedSize + kMdxDataNameSize +
                  kMdxBlockFactorSize + kMdxBlockSizeSize + kMdxProductionSize +
                  kMdxTableMaxSize + kMdxTableItemSize + kMdxReserved27Size +
                  kMdxTagCountSize + kMdxReserved30Size + kMdxSectorCountSize +
                  kMdxFreeHeadSize + kMdxFreeCountSize + kMdxUpdatedSize +
                  kMdxReserved47Size ==
              kMdxHeaderSize);
// The words every call re-reads: sector_count + free_head + free_count.
inline constexpr uint32_t kMdxWordsOffset = kMdxSectorCountOffset;
inline constexpr uint32_t kMdxWordsSize =
    kMdxSectorCountSize + kMdxFreeHeadSize + kMdxFreeCountSize;
// The free chain words a block allocation or freeing rewrites.
inline constexpr uint32_t kMdxChainWordsSize =
    kMdxFreeHeadSize + kMdxFreeCountSize;
// What a tag definition or deletion rewrites: tag_count + reserved30 +
// sector_count + free_head + free_count.
inline constexpr uint32_t kMdxCountWordsOffset = kMdxTagCountOffset;
inline constexpr uint32_t kMdxCountWordsSize =
    kMdxTagCountSize + kMdxReserved30Size + kMdxWordsSize;

inline constexpr uint8_t kMdxVersion = 2;
inline constexpr uint32_t kMdxMinBlockFactor = 1;
inline constexpr uint32_t kMdxMaxBlockFactor = 32;
inline constexpr uint16_t kMdxNewBlockFactor = 2;  // 1,024-byte blocks
inline constexpr uint32_t kMdxMaxDataNameLength = 8;

// Tag table (sectors 1..3).
inline constexpr uint32_t kMdxTagTableOffset = kMdxSectorSize;
inline constexpr uint8_t kMdxTagTableEntries = 48;  // '0'
inline constexpr uint8_t kMdxTagEntrySize = 32;     // ' '
inline constexpr uint32_t kMdxTagTableSize =
    kMdxTagTableEntries * kMdxTagEntrySize;  // 1,536: 3 sectors
inline constexpr uint32_t kMdxMaxTags = kMdxTagTableEntries - 1;  // entry 0
// The first sector after header and tag table: the first block.
inline constexpr uint32_t kMdxFirstBlockSector =
    (kMdxTagTableOffset + kMdxTagTableSize) / kMdxSectorSize;  // 4
// A new file: header and tag table, no block.
inline constexpr uint32_t kMdxNewFileSectors = kMdxFirstBlockSector;

inline constexpr uint32_t kMdxEntryHeaderOffset = 0;
inline constexpr uint32_t kMdxEntryHeaderSize = 4;
inline constexpr uint32_t kMdxEntryNameOffset = 4;
inline constexpr uint32_t kMdxEntryNameSize = 11;  // 10 characters + NUL
inline constexpr uint32_t kMdxEntryKeptOffset = 15;
inline constexpr uint32_t kMdxEntryKeptSize = 2;
inline constexpr uint32_t kMdxEntryForwardOffset = 17;
inline constexpr uint32_t kMdxEntryForwardSize = 1;
inline constexpr uint32_t kMdxEntryBackwardOffset = 18;
inline constexpr uint32_t kMdxEntryBackwardSize = 1;
inline constexpr uint32_t kMdxEntryMarkOffset = 19;
inline constexpr uint32_t kMdxEntryMarkSize = 1;
inline constexpr uint32_t kMdxEntryTypeOffset = 20;
inline constexpr uint32_t kMdxEntryTypeSize = 1;
inline constexpr uint32_t kMdxEntryReservedOffset = 21;
inline constexpr uint32_t kMdxEntryReservedSize = 11;
static_assert(kMdxEntryHeaderSize + kMdxEntryNameSize + kMdxEntryKeptSize +
                  kMdxEntryForwardSize + kMdxEntryBackwardSize +
                  kMdxEntryMarkSize + kMdxEntryTypeSize +
                  kMdxEntryReservedSize ==
              kMdxTagEntrySize);
inline constexpr uint8_t kMdxEntryMark = 2;
inline constexpr uint32_t kMdxMaxTagNameLength = kMdxEntryNameSize - 1;

// Tag header block.
inline constexpr uint32_t kMdxTagRootOffset = 0;
inline constexpr uint32_t kMdxTagRootSize = 4;
inline constexpr uint32_t kMdxTagReserved4Offset = 4;
inline constexpr uint32_t kMdxTagReserved4Size = 4;
inline constexpr uint32_t kMdxTagFormatOffset = 8;
inline constexpr uint32_t kMdxTagFormatSize = 1;
inline constexpr uint32_t kMdxTagTypeOffset = 9;
inline constexpr uint32_t kMdxTagTypeSize = 1;
inline constexpr uint32_t kMdxTagReserved10Offset = 10;
inline constexpr uint32_t kMdxTagReserved10Size = 2;
inline constexpr uint32_t kMdxTagKeyLengthOffset = 12;
inline constexpr uint32_t kMdxTagKeyLengthSize = 2;
inline constexpr uint32_t kMdxTagMaxKeysOffset = 14;
inline constexpr uint32_t kMdxTagMaxKeysSize = 2;
inline constexpr uint32_t kMdxTagSecondaryOffset = 16;
inline constexpr uint32_t kMdxTagSecondarySize = 2;
inline constexpr uint32_t kMdxTagItemLengthOffset = 18;
inline constexpr uint32_t kMdxTagItemLengthSize = 2;
inline constexpr uint32_t kMdxTagReserved20Offset = 20;
inline constexpr uint32_t kMdxTagReserved20Size = 4;
inline constexpr uint32_t kMdxTagExpressionOffset = 24;
inline constexpr uint32_t kMdxTagExpressionSize = 221;  // 220 + NUL
inline constexpr uint32_t kMdxMaxExpressionLength = 220;
static_assert(kMdxTagRootSize + kMdxTagReserved4Size + kMdxTagFormatSize +
                  kMdxTagTypeSize + kMdxTagReserved10Size +
                  kMdxTagKeyLengthSize + kMdxTagMaxKeysSize +
                  kMdxTagSecondarySize + kMdxTagItemLengthSize +
                  kMdxTagReserved20Size ==
              kMdxTagExpressionOffset);
// Bytes read at tag open: the fixed fields and 224 bytes of expression
// area.
inline constexpr uint32_t kMdxTagHeaderReadSize = 248;

// Key format bits (on disk: never renumber).
enum MdxKeyFormat : uint8_t {
  kMdxFormatDescending = 0x08,
  kMdxFormatPlain = 0x10,  // no RIGHT(, LEFT( or DTOC( in the expression
  kMdxFormatUnique = 0x40,
  kMdxFormatUnknown = 0xA7,  // a tag with any of these is unreadable
};

// Key types and their lengths.
inline constexpr uint8_t kMdxKeyCharacter = 'C';
inline constexpr uint8_t kMdxKeyDate = 'D';
inline constexpr uint8_t kMdxKeyNumeric = 'N';
inline constexpr uint32_t kMdxMinKeyLength = 1;
inline constexpr uint32_t kMdxMaxKeyLength = 100;
inline constexpr uint32_t kMdxDateKeyLength = 8;
inline constexpr uint32_t kMdxNumericKeyLength = 12;
inline constexpr uint16_t kMdxDateSecondaryType = 1;

// Pages.
inline constexpr uint32_t kMdxCountOffset = 0;
inline constexpr uint32_t kMdxCountSize = 2;   // the low 16 bits of 4
inline constexpr uint32_t kMdxLinkOffset = 4;  // the free chain link
inline constexpr uint32_t kMdxEntriesOffset = 8;
inline constexpr uint32_t kMdxPointerOffset = 0;  // within an entry
inline constexpr uint32_t kMdxPointerSize = 4;
inline constexpr uint32_t kMdxKeyOffset = 4;  // within an entry
// Bytes of a page that entries cannot use: count word + link word +
// trailing pointer.
inline constexpr uint32_t kMdxPageOverhead = 4 + 4 + kMdxPointerSize;
// The bytes written into a block put on the free chain: 0 and the link.
inline constexpr uint32_t kMdxFreedBytes = 8;

// The empty date key: after every real day number.
inline constexpr double kMdxEmptyDateKey = 1.0e100;

constexpr uint32_t MdxItemLength(uint32_t key_length) {
  return (key_length + 3) / 4 * 4 + kMdxPointerSize;
}
constexpr bool MdxItemLengthAccepted(uint32_t key_length,
                                     uint32_t item_length) {
  return item_length == MdxItemLength(key_length) ||
         item_length == key_length + kMdxPointerSize;
}
constexpr uint32_t MdxMaxKeys(uint32_t block_size, uint32_t item_length) {
  return (block_size - kMdxPageOverhead) / item_length;
}
// True when the expression (upper case) holds none of "RIGHT(", "LEFT("
// and "DTOC(": its tags get key format bit 0x10.
bool MdxExpressionIsPlain(const std::string& expression);

struct MdxHeader {
  uint8_t version = kMdxVersion;
  std::array<uint8_t, kMdxCreatedSize> created{};
  std::array<uint8_t, kMdxDataNameSize> data_name{};
  uint16_t block_factor = 0;
  uint16_t block_size = 0;
  uint8_t production = 0;
  uint8_t table_max = kMdxTagTableEntries;
  uint8_t table_item = kMdxTagEntrySize;
  uint8_t reserved27 = 0;
  uint16_t tag_count = 0;
  uint16_t reserved30 = 0;
  uint32_t sector_count = 0;
  uint32_t free_head = 0;
  uint32_t free_count = 0;
  std::array<uint8_t, kMdxUpdatedSize> updated{};
  uint8_t reserved47 = 0;

  static MdxHeader DecodeFrom(std::span<const uint8_t, kMdxHeaderSize> in);
  void EncodeTo(std::span<uint8_t, kMdxHeaderSize> out) const;
  // The three words of kMdxWordsOffset.
  void DecodeWords(std::span<const uint8_t, kMdxWordsSize> in);
  void EncodeWords(std::span<uint8_t, kMdxWordsSize> out) const;
};

struct MdxTagEntry {
  uint32_t header_sector = 0;
  std::string name;  // the bytes up to the first NUL (at most 11)
  std::array<uint8_t, kMdxEntryKeptSize> kept{};
  uint8_t forward = 0;
  uint8_t backward = 0;
  uint8_t mark = kMdxEntryMark;
  uint8_t key_type = 0;
  std::array<uint8_t, kMdxEntryReservedSize> reserved{};

  static MdxTagEntry DecodeFrom(std::span<const uint8_t, kMdxTagEntrySize> in);
  // The name is cut to kMdxMaxTagNameLength and NUL-padded.
  void EncodeTo(std::span<uint8_t, kMdxTagEntrySize> out) const;
};

struct MdxTagHeader {
  uint32_t root = 0;
  uint32_t reserved4 = 0;
  uint8_t key_format = 0;
  uint8_t key_type = 0;
  uint16_t reserved10 = 0;
  uint16_t key_length = 0;
  uint16_t max_keys = 0;
  uint16_t secondary = 0;
  uint16_t item_length = 0;
  uint32_t reserved20 = 0;
  // The expression bytes up to the first NUL (at most
  // kMdxTagHeaderReadSize - kMdxTagExpressionOffset of them when there is
  // none).
  std::string expression;

  static MdxTagHeader DecodeFrom(
      std::span<const uint8_t, kMdxTagHeaderReadSize> in);
  // Encodes the fixed fields and the expression (cut to 220 characters),
  // zero-filling the rest of the kMdxTagHeaderReadSize bytes.
  void EncodeTo(std::span<uint8_t, kMdxTagHeaderReadSize> out) const;
};

// The page layout of a tag.
btree::EntryLayout MdxLayout(const MdxTagHeader& header, uint32_t block_size);

}  // namespace qx::engine

#endif  // QX_ENGINE_MDX_MDX_FORMAT_H_
