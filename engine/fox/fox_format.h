// Byte layout of the FoxPro index files: the tree header, the standard
// node and the compact node (inner and leaf), as offsets and sizes.
//
// Header block of a tree (at the tree's header offset; integers
// little-endian):
//
//   OFFSET SIZE FIELD        notes
//   0      4    root         offset of the root node
//   4      4    free_list    file-wide: head of the free-node list; 0 and
//                            0xFFFFFFFF both mean none (only the header at
//                            offset 0 counts)
//   8      4    end_of_file  standard layout, header at 0: where the next
//                            new node goes. Compact layout: a change
//                            counter (big-endian), never a size
//   12     2    key_length   1..100
//   14     1    options      0x01 unique, 0x04 candidate (unique too),
//                            0x08 FOR expression, 0x20 compact, 0x40 part
//                            of a compound file, 0x80 with 0x40: the
//                            compound file's directory
//   15     1    signature    1 in every compact header
//   16     220  expression   standard layout: NUL-terminated, upper case
//   236    220  for_expr     standard layout: the FOR expression, when
//                            options has 0x08
//   502    2    key_order    compact: 1 descending, 0 ascending
//   504    2    pool_length  compact: key expression length + 1
//   506    2    for_length   compact: FOR expression length + 1 (1: none)
//   510    2    key_expr_len compact: key expression length + 1
//   512    512  pool         compact: the key expression (NUL-terminated)
//                            followed by the FOR expression
//
// Produced on write: compact headers carry signature 1 and the counter 0
// (CDX tags options 0x60 | 0x01 unique | 0x08 FOR, the directory 0xE0;
// compact IDX files 0x20 | 0x01 | 0x08), as every compound file of the
// FoxPro programs does; the counter goes up by one after every call that
// changed the file, so that programs caching its nodes see the change.
// Standard headers carry options 0x00 | 0x01 | 0x08, signature 0 and the
// real end of file at 8. Tolerated on read: any signature, options 0x02
// and 0x04 (0x04 read as unique), any counter, and a file size that is
// not a whole number of blocks: the tail (a new node whose write was cut
// short) holds no node, and the next new node is written over it.
//
// Node (512 bytes, both layouts):
//
//   0      2    attributes   bit 0 root, bit 1 leaf
//   2      2    count        entries in the node
//   4      4    left         left sibling, 0xFFFFFFFF none
//   8      4    right        right sibling, 0xFFFFFFFF none
//
// Standard entries from 12: key, then a big-endian pointer (record number
// in a leaf, child offset in an inner node); 500 div (key length + 4) per
// node. Compact inner entries from 12: key, big-endian record number,
// big-endian child; 500 div (key length + 8) per node.
//
// Compact leaf, after the common 12 bytes:
//
//   12     2    free_bytes   488 - packed entries - stored key bytes
//   14     4    recno_mask
//   18     1    dup_mask
//   19     1    trail_mask
//   20     1    recno_bits
//   21     1    dup_bits
//   22     1    trail_bits
//   23     1    entry_bytes  bytes of one packed entry
//   24     ...  packed entries, upward; each a little-endian number:
//               record number (low recno_bits), duplicate count (next
//               dup_bits: leading bytes shared with the previous key),
//               trailing count (next trail_bits: trailing pad bytes)
//   ...    512  key bytes not shared and not trailing, entry by entry
//               from the node's end downward
//
// Lock. In a shared file every change (key add and delete, a build, a
// compound file's tag creation and deletion) holds an exclusive lock of
// one byte and every read a shared one (chart:
// engine/fileio/operation_lock.h). The byte is the one FoxPro's programs
// lock while they change an index file, so that they and we exclude each
// other: 0x7FFFFFFE for every IDX file and for a compound file whose
// directory has any of options bits 5 to 7 (every compound file the
// FoxPro programs write), 0x40000000 for another compound file. Both lie
// beyond the content of any index file below 1 GiB; the advisory locks of
// POSIX tolerate larger ones.
#ifndef QX_ENGINE_FOX_FOX_FORMAT_H_
#define QX_ENGINE_FOX_FOX_FORMAT_H_

#include <cstdint>

#include "qx/engine.h"

namespace qx::engine::fox {

// Dialects whose open mode an IDX or compound file accepts (0 stands for
// 1). Dialect 10 files are reached through dialect 0: the format is the
// same.
constexpr bool FoxDialectAccepted(uint8_t dialect) {
  return dialect == 0 || dialect == kKbdFoxbase || dialect == kKbdFoxpro1 ||
         dialect == kKbdFoxpro2;
}

// Header.
inline constexpr uint32_t kFoxHeaderRootOffset = 0;
inline constexpr uint32_t kFoxHeaderFreeListOffset = 4;
inline constexpr uint32_t kFoxHeaderEndOffset = 8;
inline constexpr uint32_t kFoxHeaderKeyLengthOffset = 12;
inline constexpr uint32_t kFoxHeaderOptionsOffset = 14;
inline constexpr uint32_t kFoxHeaderSignatureOffset = 15;
inline constexpr uint32_t kFoxHeaderExpressionOffset = 16;
inline constexpr uint32_t kFoxHeaderExpressionSize = 220;
inline constexpr uint32_t kFoxHeaderForOffset = 236;  // standard layout
inline constexpr uint32_t kFoxHeaderForSize = 220;
inline constexpr uint32_t kFoxHeaderKeyOrderOffset = 502;
inline constexpr uint32_t kFoxHeaderPoolLengthOffset = 504;
inline constexpr uint32_t kFoxHeaderForLengthOffset = 506;
inline constexpr uint32_t kFoxHeaderKeyExprLengthOffset = 510;
inline constexpr uint32_t kFoxHeaderPoolOffset = 512;  // next block
inline constexpr uint32_t kFoxPoolSize = 512;

// The bytes of the operation lock (see the top comment).
inline constexpr uint32_t kFoxLockOffset = 0x7FFFFFFE;
inline constexpr uint32_t kFoxOtherCompoundLockOffset = 0x40000000;
// Directory options bits that choose kFoxLockOffset.
inline constexpr uint8_t kFoxCompactLockOptions = 0xE0;

// Header values we write.
inline constexpr uint8_t kFoxCompactSignature = 1;
inline constexpr uint16_t kFoxKeyOrderDescending = 1;

// Limits.
inline constexpr uint16_t kFoxMaxKeyLength = 100;  // keys we create
// Keys the tree reads and changes: other programs write tags of up to 240
// bytes (e.g. the 148-byte name tags of database containers); two compact
// inner entries of 240 + 8 bytes still fit a node.
inline constexpr uint16_t kFoxMaxTreeKeyLength = 240;
inline constexpr uint32_t kFoxMaxExpression = 220;  // characters, excl. NUL

// Node, both layouts.
inline constexpr uint32_t kFoxNodeAttributesOffset = 0;
inline constexpr uint32_t kFoxNodeCountOffset = 2;
inline constexpr uint32_t kFoxNodeLeftOffset = 4;
inline constexpr uint32_t kFoxNodeRightOffset = 8;
inline constexpr uint32_t kFoxNodeEntriesOffset = 12;
inline constexpr uint32_t kFoxNodeEntriesSize = 500;
inline constexpr uint16_t kFoxAttrRoot = 0x01;
inline constexpr uint16_t kFoxAttrLeaf = 0x02;

// Compact leaf.
inline constexpr uint32_t kFoxLeafFreeOffset = 12;
inline constexpr uint32_t kFoxLeafRecnoMaskOffset = 14;
inline constexpr uint32_t kFoxLeafDupMaskOffset = 18;
inline constexpr uint32_t kFoxLeafTrailMaskOffset = 19;
inline constexpr uint32_t kFoxLeafRecnoBitsOffset = 20;
inline constexpr uint32_t kFoxLeafDupBitsOffset = 21;
inline constexpr uint32_t kFoxLeafTrailBitsOffset = 22;
inline constexpr uint32_t kFoxLeafEntryBytesOffset = 23;
inline constexpr uint32_t kFoxLeafEntriesOffset = 24;
inline constexpr uint32_t kFoxLeafSpace = 488;  // 512 - 24

// Sizes of a fixed entry beyond its key.
inline constexpr uint32_t kFoxStandardPointerSize = 4;
inline constexpr uint32_t kFoxCompactInnerTail = 8;  // recno + child

}  // namespace qx::engine::fox

#endif  // QX_ENGINE_FOX_FOX_FORMAT_H_
