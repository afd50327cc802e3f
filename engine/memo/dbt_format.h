// On-disk layout of DBT memo files, shared by their reader and writer.
//
// A DBT file is a sequence of fixed-size blocks; block n starts at byte
// n * B, block 0 is the header. A memo field of a data file holds the number
// of the first block of its value. Integers are little-endian. Two layouts
// share the extension, chosen by the open-mode dialect (not by the file):
// the dBase III layout (B = 512, values ended by a marker) and the dBase IV
// layout (B from the header, values prefixed by their length, freed runs
// chained for reuse).
//
// Header, block 0 (the first 28 bytes are decoded; the rest of the block
// is zero when we write it):
//
//   OFFSET SIZE FIELD        notes
//   0      4    next_free    block where the next new value goes; in the
//                            dBase IV layout the head of the free chain
//   4      4    reserved     0
//   8      9    name         dBase IV: the first 8 characters of the
//                            file's base name, upper case, NUL-terminated;
//                            dBase III ignores it (zero when we write it)
//   17     1    reserved     0
//   18     2    signature    dBase IV: bytes 02 01
//   20     2    block_size   dBase IV: B in bytes, a multiple of 64 from
//                            64 to 32768
//   22     2    reserved     dBase IV: must be 0
//   24     4    reserved     0
//
// These are the offsets of the files dBase IV and other products write
// (every dBase IV memo file of our corpus has them). A header with the
// signature at 20 instead, the block size at 22 and the zero word at 24
// ("shifted") is also read; we never write it.
//
// A new file is block 0 followed by one byte 0x1A (B + 1 bytes, next_free
// 1); the first value overwrites that byte.
//
// dBase III value (B = 512): the text, then 1A 1A, starting on a block
// boundary. A value of W written bytes moves next_free on by
// (W + 2) / 512 + 1 blocks (integer division: a value that ends exactly on a
// block boundary still reserves one more block). When written with a line
// width, soft line breaks inside the text are the bytes 8D 0A; hard breaks
// are CR LF as given. The text ends at the first 0x1A, however far that is
// (values of Clipper-family programs pass 64 KiB).
//
// dBase IV value: whole blocks, n = ceil((L + 8) / B) for L text bytes:
//
//   OFFSET SIZE FIELD        notes
//   0      4    signature    FF FF 08 00
//   4      4    length       L + 8 (the block header counts itself)
//   8      L    text
//   8+L    ...  filler       up to the end of the n-th block
//
// dBase IV free-block chain: a freed run of blocks starts with
//
//   OFFSET SIZE FIELD        notes
//   0      4    next         first block of the next free run
//   4      4    count        blocks in this run
//
// The header's next_free is the head of the chain. The chain ends at the
// first link that does not lie inside the file (block >= file size / B):
// that block is where values are appended. A new value takes the first run
// with count >= n, from its start; blocks beyond n stay unused.
//
// Tolerated on read: any header bytes in the dBase III layout (only
// next_free is used); any name and any bytes 0..3 of a dBase IV value
// block; a last block shorter than B; the shifted header; dBase IV block
// sizes below 512 in steps of 64 (the Borland Database Engine writes 64;
// later dBASE versions set the size in 64-byte units, 1..512 of them);
// dBase III values of any length. Refused: a dBase IV block size that is no
// multiple of 64 in 64..32768 (-49), a signature other than 02 01 or a
// non-zero word after the block size (-56), a file shorter than 28 bytes
// (-17), a dBase III value that reaches the end of the file without its
// 0x1A (-6), a dBase IV value reaching past the end of the file (-2).
//
// Produced on write: the header as above (a base name longer than 8
// characters keeps its first 8, as later dBASE versions and the Borland
// Database Engine store it); dBase III values unpadded (the file ends after
// 1A 1A of the last value); dBase IV values padded to whole blocks with the
// filler 1F 20 1F 20 ..., which is what the files of dBase IV users hold
// after their values (and what makes readers that stop at 0x1F find the
// text end). Files we create have dBase IV blocks of n * 512 bytes (n 1..32).
//
// Lock. In a shared file every write (which allocates blocks from the
// chain or the end and moves next_free) holds an exclusive lock of the
// byte 0x7FFFFFFF and every read a shared one (chart:
// engine/fileio/operation_lock.h; the same byte in FPT files). dBASE's
// programs lock no byte of a memo file, so the byte is ours to choose: it
// lies past every value, as the engine addresses memo files below
// 0x7FFFFFFF (kMemoMaxFileOffset).
#ifndef QX_ENGINE_MEMO_DBT_FORMAT_H_
#define QX_ENGINE_MEMO_DBT_FORMAT_H_

#include <cstdint>

#include "engine/core/coding.h"

namespace qx::engine {

// Header fields (block 0).
inline constexpr uint32_t kDbtNextFreeOffset = 0;
inline constexpr uint32_t kDbtNextFreeSize = 4;
inline constexpr uint32_t kDbtReserved4Offset = 4;
inline constexpr uint32_t kDbtReserved4Size = 4;
inline constexpr uint32_t kDbtNameOffset = 8;
inline constexpr uint32_t kDbtNameSize = 9;  // 8 characters + NUL
inline constexpr uint32_t kDbtNameMaxLength = 8;
inline constexpr uint32_t kDbtReserved17Offset = 17;
inline constexpr uint32_t kDbtReserved17Size = 1;
inline constexpr uint32_t kDbtSignatureOffset = 18;
inline constexpr uint32_t kDbtSignatureSize = 2;
inline constexpr uint8_t kDbtSignature0 = 0x02;
inline constexpr uint8_t kDbtSignature1 = 0x01;
inline constexpr uint32_t kDbtBlockSizeOffset = 20;
inline constexpr uint32_t kDbtBlockSizeSize = 2;
inline constexpr uint32_t kDbtReserved22Offset = 22;
inline constexpr uint32_t kDbtReserved22Size = 2;
inline constexpr uint32_t kDbtReserved24Offset = 24;
inline constexpr uint32_t kDbtReserved24Size = 4;
// The shifted header read for tolerance: the same fields 2 bytes later.
inline constexpr uint32_t kDbtShiftedSignatureOffset = 20;
inline constexpr uint32_t kDbtShiftedBlockSizeOffset = 22;
inline constexpr uint32_t kDbtShiftedReservedOffset = 24;
// next_free + reserved + name + reserved + signature + block_size +
// reserved + reserved.
inline constexpr uint32_t kDbtHeaderSize =
    kDbtNextFreeSize + kDbtReserved4Size + kDbtNameSize + kDbtReserved17Size +
    kDbtSignatureSize + kDbtBlockSizeSize + kDbtReserved22Size +
    kDbtReserved24Size;
static_assert(kDbtHeaderSize == 28);

// Block sizes. The dBase III layout always uses 512-byte blocks; the
// dBase IV one takes its size from the header, created as a factor
// 1..32 of 512 bytes.
inline constexpr uint32_t kDbtDbase3BlockSize = 512;
inline constexpr uint32_t kDbtFactorUnit = 512;
inline constexpr int kDbtMinFactor = 1;
inline constexpr int kDbtMaxFactor = 32;
// Read accepts every multiple of kDbtBlockSizeStep from the step to
// kDbtMaxBlockSize.
inline constexpr uint32_t kDbtBlockSizeStep = 64;
inline constexpr uint32_t kDbtMaxBlockSize = 32768;

// The byte after the header block of a new file, and the dBase III value
// terminator (written twice; the text ends at the first one).
inline constexpr uint8_t kDbtEndOfFile = 0x1A;
inline constexpr uint8_t kDbtValueEnd = 0x1A;
inline constexpr uint32_t kDbtValueEndSize = 2;

// dBase III values are measured block by block, and read in pieces that
// start at a block and double up to kDbtLargestPiece bytes.
inline constexpr uint32_t kDbtPieceSize = 512;
inline constexpr uint32_t kDbtLargestPiece = 1u << 20;

// Soft line break of dBase III values written with a line width, and the
// accepted widths (0 = no breaking).
inline constexpr uint8_t kDbtSoftBreak0 = 0x8D;
inline constexpr uint8_t kDbtSoftBreak1 = 0x0A;
inline constexpr int kDbtMinLineWidth = 10;
inline constexpr int kDbtMaxLineWidth = 132;

// dBase IV value block header.
inline constexpr uint32_t kDbtValueSignatureOffset = 0;
inline constexpr uint32_t kDbtValueSignatureSize = 4;
inline constexpr uint8_t kDbtValueSignature[kDbtValueSignatureSize] = {
    0xFF, 0xFF, 0x08, 0x00};
inline constexpr uint32_t kDbtValueLengthOffset = 4;
inline constexpr uint32_t kDbtValueLengthSize = 4;
inline constexpr uint32_t kDbtValueHeaderSize =
    kDbtValueSignatureSize + kDbtValueLengthSize;

// dBase IV free run header (overlays the first bytes of the run).
inline constexpr uint32_t kDbtRunNextOffset = 0;
inline constexpr uint32_t kDbtRunNextSize = 4;
inline constexpr uint32_t kDbtRunCountOffset = 4;
inline constexpr uint32_t kDbtRunCountSize = 4;
inline constexpr uint32_t kDbtRunHeaderSize =
    kDbtRunNextSize + kDbtRunCountSize;

// Filler after a dBase IV value: these two bytes repeated, starting with
// the first right after the text.
inline constexpr uint8_t kDbtFiller0 = 0x1F;
inline constexpr uint8_t kDbtFiller1 = 0x20;

// The decoded header of block 0.
struct DbtHeader {
  uint32_t next_free = 1;        // block_no
  char name[kDbtNameSize] = {};  // NUL-terminated
  uint8_t signature[kDbtSignatureSize] = {};
  uint16_t block_size = 0;  // bytes; 0 in dBase III files
  uint16_t reserved22 = 0;  // must be 0 in dBase IV files
  bool shifted = false;     // read from the shifted offsets

  // REQUIRES: p holds kDbtHeaderSize bytes. Takes the shifted offsets only
  // when the signature is there and not at its own place.
  static DbtHeader DecodeFrom(const uint8_t* p) {
    DbtHeader h;
    h.next_free = GetLe32(p + kDbtNextFreeOffset);
    for (uint32_t i = 0; i < kDbtNameSize; ++i)
      h.name[i] = static_cast<char>(p[kDbtNameOffset + i]);
    h.name[kDbtNameSize - 1] = '\0';
    uint32_t sig = kDbtSignatureOffset, size = kDbtBlockSizeOffset,
             zero = kDbtReserved22Offset;
    auto signed_at = [p](uint32_t at) {
      return p[at] == kDbtSignature0 && p[at + 1] == kDbtSignature1;
    };
    if (!signed_at(sig) && signed_at(kDbtShiftedSignatureOffset)) {
      h.shifted = true;
      sig = kDbtShiftedSignatureOffset;
      size = kDbtShiftedBlockSizeOffset;
      zero = kDbtShiftedReservedOffset;
    }
    h.signature[0] = p[sig];
    h.signature[1] = p[sig + 1];
    h.block_size = GetLe16(p + size);
    h.reserved22 = GetLe16(p + zero);
    return h;
  }

  // Writes all kDbtHeaderSize bytes at the offsets of the table (reserved
  // ones as 0; never shifted).
  void EncodeTo(uint8_t* out) const {
    for (uint32_t i = 0; i < kDbtHeaderSize; ++i) out[i] = 0;
    PutLe32(out + kDbtNextFreeOffset, next_free);
    for (uint32_t i = 0; i + 1 < kDbtNameSize && name[i] != '\0'; ++i)
      out[kDbtNameOffset + i] = static_cast<uint8_t>(name[i]);
    out[kDbtSignatureOffset] = signature[0];
    out[kDbtSignatureOffset + 1] = signature[1];
    PutLe16(out + kDbtBlockSizeOffset, block_size);
    PutLe16(out + kDbtReserved22Offset, reserved22);
  }
};

// A dBase IV free run's first bytes.
struct DbtFreeRun {
  uint32_t next = 0;   // block_no of the next run (or where the chain ends)
  uint32_t count = 0;  // blocks in this run

  // REQUIRES: p holds kDbtRunHeaderSize bytes.
  static DbtFreeRun DecodeFrom(const uint8_t* p) {
    return DbtFreeRun{GetLe32(p + kDbtRunNextOffset),
                      GetLe32(p + kDbtRunCountOffset)};
  }
  void EncodeTo(uint8_t* out) const {
    PutLe32(out + kDbtRunNextOffset, next);
    PutLe32(out + kDbtRunCountOffset, count);
  }
};

// A dBase IV value's block header.
struct DbtValueHeader {
  uint32_t stored_length = kDbtValueHeaderSize;  // text bytes + 8

  // REQUIRES: p holds kDbtValueHeaderSize bytes. The signature is not
  // checked: files of other writers vary there.
  static DbtValueHeader DecodeFrom(const uint8_t* p) {
    return DbtValueHeader{GetLe32(p + kDbtValueLengthOffset)};
  }
  void EncodeTo(uint8_t* out) const {
    for (uint32_t i = 0; i < kDbtValueSignatureSize; ++i)
      out[kDbtValueSignatureOffset + i] = kDbtValueSignature[i];
    PutLe32(out + kDbtValueLengthOffset, stored_length);
  }
};

}  // namespace qx::engine

#endif  // QX_ENGINE_MEMO_DBT_FORMAT_H_
