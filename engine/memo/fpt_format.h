// On-disk layout of FPT memo files, shared by their reader and writer.
//
// An FPT file is a sequence of blocks of B bytes (B from the header); block
// n starts at byte n * B. The first 512 bytes are the header, so the first
// value block is ceil(512 / B), whatever B is: 1 for B >= 512, 8 for 64,
// 512 for the 1-byte blocks of Visual FoxPro's SET BLOCKSIZE TO 0, where a
// block number is a byte offset. Integers are big-endian.
//
// Header:
//
//   OFFSET SIZE FIELD        notes
//   0      4    next_free    block where the next value is appended
//   4      4    block_size   B in bytes (files of other writers keep it as a
//                            16-bit word at offset 6 with bytes 4..5 zero,
//                            which reads the same)
//   8      504  reserved     0
//
// A new file is ceil(512 / B) * B bytes long, all zero but the header
// words, with next_free = ceil(512 / B).
//
// Value, starting on a block boundary:
//
//   OFFSET SIZE FIELD        notes
//   0      4    type         0 picture (binary), 1 text, 2 object
//   4      4    length       L, bytes of data that follow
//   8      L    data
//
// A value occupies the smallest multiple of B holding 8 + L bytes (at least
// one block); the next value starts at the following block boundary.
// Values are only ever appended: a replaced value's blocks are not reused.
//
// Tolerated on read: any type word; a last block shorter than B (we do not
// pad the last value either); any block size the 16-bit word holds,
// 1..65535 (Visual FoxPro writes 1 for SET BLOCKSIZE TO 0, n * 512 for 1..32
// and n bytes above). Refused: a file shorter than 512 bytes (-17), a block
// size of 0 or past 16 bits (-49), a block outside 1..next_free - 1 (-4), a
// value reaching past the end of the file (-2).
//
// Produced on write: type 1 for texts (our binary extension writes the type
// it is given), the data unpadded; next_free rewritten after each value.
// Files we create have blocks of 33..16384 bytes; values appended to a file
// of other writers use its block size, whatever it is.
//
// Lock. In a shared file every write (which appends at next_free and
// moves it) holds an exclusive lock of the byte 0x7FFFFFFF and every read
// a shared one (chart: engine/fileio/operation_lock.h; the same byte in
// DBT files). FoxPro's programs lock no byte of a memo file: they order
// memo writes by the data file's locks, which do not order two appends of
// different records. The byte lies past every value: the engine addresses
// memo files below 0x7FFFFFFF (kMemoMaxFileOffset).
#ifndef QX_ENGINE_MEMO_FPT_FORMAT_H_
#define QX_ENGINE_MEMO_FPT_FORMAT_H_

#include <cstdint>

#include "engine/core/coding.h"

namespace qx::engine {

// Header fields.
inline constexpr uint32_t kFptNextFreeOffset = 0;
inline constexpr uint32_t kFptNextFreeSize = 4;
inline constexpr uint32_t kFptBlockSizeOffset = 4;
inline constexpr uint32_t kFptBlockSizeSize = 4;
inline constexpr uint32_t kFptReservedOffset = 8;
inline constexpr uint32_t kFptReservedSize = 504;
// next_free + block_size: the words decoded.
inline constexpr uint32_t kFptHeaderWordsSize =
    kFptNextFreeSize + kFptBlockSizeSize;
// The whole header area: words + reserved.
inline constexpr uint32_t kFptHeaderAreaSize =
    kFptHeaderWordsSize + kFptReservedSize;
static_assert(kFptHeaderAreaSize == 512);

// Block sizes. kbdfcreate takes 1..32 as units of 512 bytes and 33..511 as
// bytes; open accepts every size the 16-bit word of other writers holds
// but 0 (no block could be addressed).
inline constexpr uint32_t kFptSizeUnit = 512;
inline constexpr int kFptMinSizeArgument = 1;
inline constexpr int kFptMaxUnitsArgument = 32;
inline constexpr int kFptMaxSizeArgument = 511;
inline constexpr uint32_t kFptMinBlockSize = 1;
inline constexpr uint32_t kFptMaxBlockSize = 0xFFFF;

// Value block header.
inline constexpr uint32_t kFptValueTypeOffset = 0;
inline constexpr uint32_t kFptValueTypeSize = 4;
inline constexpr uint32_t kFptValueLengthOffset = 4;
inline constexpr uint32_t kFptValueLengthSize = 4;
inline constexpr uint32_t kFptValueHeaderSize =
    kFptValueTypeSize + kFptValueLengthSize;

// Value types. On disk: never renumber.
enum FptValueType : uint32_t {
  kFptTypePicture = 0,  // binary data
  kFptTypeText = 1,
  kFptTypeObject = 2,
};

// The decoded header words.
struct FptHeader {
  uint32_t next_free = 0;   // block_no
  uint32_t block_size = 0;  // bytes

  // REQUIRES: p holds kFptHeaderWordsSize bytes.
  static FptHeader DecodeFrom(const uint8_t* p) {
    return FptHeader{GetBe32(p + kFptNextFreeOffset),
                     GetBe32(p + kFptBlockSizeOffset)};
  }
  void EncodeTo(uint8_t* out) const {
    PutBe32(out + kFptNextFreeOffset, next_free);
    PutBe32(out + kFptBlockSizeOffset, block_size);
  }
};

// A value's block header.
struct FptValueHeader {
  uint32_t type = kFptTypeText;
  uint32_t length = 0;  // data bytes

  // REQUIRES: p holds kFptValueHeaderSize bytes.
  static FptValueHeader DecodeFrom(const uint8_t* p) {
    return FptValueHeader{GetBe32(p + kFptValueTypeOffset),
                          GetBe32(p + kFptValueLengthOffset)};
  }
  void EncodeTo(uint8_t* out) const {
    PutBe32(out + kFptValueTypeOffset, type);
    PutBe32(out + kFptValueLengthOffset, length);
  }
};

// Blocks of the header area, ceil(512 / B): the first value block of a new
// file. REQUIRES: block_size > 0.
constexpr uint32_t FptHeaderBlocks(uint32_t block_size) {
  return (kFptHeaderAreaSize + block_size - 1) / block_size;
}

}  // namespace qx::engine

#endif  // QX_ENGINE_MEMO_FPT_FORMAT_H_
