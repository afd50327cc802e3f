// Node codec of the FoxPro index files: fixed entries (standard nodes and
// compact inner nodes) and the bit-packed, prefix-compressed compact leaf.
#include "engine/fox/fox_node.h"

#include <algorithm>
#include <bit>

#include "engine/core/coding.h"
#include "engine/fox/fox_format.h"

namespace qx::engine::fox {

namespace {

// Trailing pad bytes of key.
// Eight bytes at a time: in a big-endian word the last byte is the lowest,
// so the trailing zero bits of (word ^ pads) count the pad bytes at its end.
uint32_t TrailingPad(const uint8_t* key, uint32_t length, uint8_t pad) {
  const uint64_t pads = 0x0101010101010101ull * pad;
  uint32_t n = 0;
  while (length - n >= 8) {
    const uint64_t diff = GetBe64(key + length - n - 8) ^ pads;
    if (diff != 0) return n + static_cast<uint32_t>(std::countr_zero(diff)) / 8;
    n += 8;
  }
  while (n < length && key[length - 1 - n] == pad) ++n;
  return n;
}

// Bytes a and b share at their start, eight at a time: in a little-endian
// word the first byte is the lowest.
uint32_t SharedPrefix(const uint8_t* a, const uint8_t* b, uint32_t length) {
  uint32_t n = 0;
  while (length - n >= 8) {
    const uint64_t diff = GetLe64(a + n) ^ GetLe64(b + n);
    if (diff != 0) return n + static_cast<uint32_t>(std::countr_zero(diff)) / 8;
    n += 8;
  }
  while (n < length && a[n] == b[n]) ++n;
  return n;
}

struct PackedCounts {
  uint32_t dup = 0;
  uint32_t trail = 0;
};

// The counts of key after previous (null: the first entry of a leaf).
PackedCounts CountsOf(const uint8_t* key, const uint8_t* previous,
                      const FoxNodeFormat& format,
                      const FoxLeafFields& fields) {
  PackedCounts c;
  const uint32_t length = format.key_length;
  c.trail = std::min<uint32_t>(TrailingPad(key, length, format.pad),
                               fields.trail_mask);
  if (previous != nullptr) {
    c.dup = std::min<uint32_t>({SharedPrefix(key, previous, length),
                                fields.dup_mask, length - c.trail});
  }
  return c;
}

bool FieldsValid(const FoxLeafFields& f) {
  if (f.entry_bytes < 1 || f.entry_bytes > 8) return false;
  if (f.recno_bits > 32 || f.dup_bits > 8 || f.trail_bits > 8) return false;
  return f.recno_bits + f.dup_bits + f.trail_bits <= f.entry_bytes * 8;
}

// Chunk of the decoder's short copies (see DecodeFoxNode).
constexpr uint32_t kChunk = 8;

// Copies n bytes in whole chunks: up to kChunk - 1 bytes more are read and
// written. Ranges that overlap must have the destination kChunk or more
// bytes after the source.
inline void CopyChunks(uint8_t* to, const uint8_t* from, uint32_t n) {
  for (uint32_t done = 0; done < n; done += kChunk) {
    uint64_t chunk;
    std::memcpy(&chunk, from + done, kChunk);
    std::memcpy(to + done, &chunk, kChunk);
  }
}

// Writes n bytes of value in whole chunks (up to kChunk - 1 more).
inline void FillChunks(uint8_t* to, uint8_t value, uint32_t n) {
  const uint64_t chunk = 0x0101010101010101ull * value;
  for (uint32_t done = 0; done < n; done += kChunk)
    std::memcpy(to + done, &chunk, kChunk);
}

uint64_t LowMask(int bits) {
  return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

// The decoders below run once per node a walk visits, the hottest code of
// FoxPro walks: they are forced inline so that DecodeFoxNode stays one
// function.

// The node's arrays sized for count entries, with slack bytes past the
// keys for the chunked copies (cut off once the keys are in). Called only
// once the count is known to fit the block: a damaged count word (up to
// 65,535 keys of 240 bytes) costs nothing.
[[gnu::always_inline]] inline void SizeArrays(uint32_t count, uint16_t length,
                                              size_t slack, FoxNode* node) {
  node->keys.resize(static_cast<size_t>(count) * length + slack);
  node->recnos.resize(count);
  node->children.resize(node->leaf() ? 0 : count);
}

// The entries of a fixed-entry node, size bytes each from the entry area:
// the key, then the big-endian words read_tail(i, tail) takes into entry
// i. False when read_tail rejects an entry. REQUIRES: the arrays sized by
// SizeArrays with kChunk bytes of slack.
template <typename ReadTail>
[[gnu::always_inline]] inline bool DecodeFixedEntries(
    const uint8_t* page, uint16_t length, uint32_t size, uint32_t count,
    FoxNode* node, ReadTail read_tail) {
  // Chunked key copies as in the compact leaf (DecodeCompactLeaf).
  uint8_t padded[kFoxBlockSize + kChunk];
  std::memcpy(padded, page, kFoxBlockSize);
  std::memset(padded + kFoxBlockSize, 0, kChunk);
  const uint8_t* p = padded + kFoxNodeEntriesOffset;
  for (uint32_t i = 0; i < count; ++i, p += size) {
    CopyChunks(node->key(i, length), p, length);
    if (!read_tail(i, p + length)) return false;
  }
  node->keys.resize(static_cast<size_t>(count) * length);
  return true;
}

// A standard node, leaf or inner: each key is followed by one big-endian
// word, the record number in a leaf, the child block in an inner node
// (whose entries carry no record number, 0 in recnos).
[[gnu::always_inline]] inline bool DecodeStandardNode(
    const uint8_t* page, const FoxNodeFormat& format, uint32_t count,
    FoxNode* node) {
  const uint16_t length = format.key_length;
  const bool leaf = node->leaf();
  if (count > FoxFixedCapacity(format, leaf)) return false;
  SizeArrays(count, length, kChunk, node);
  const uint32_t size = length + kFoxStandardPointerSize;
  if (leaf) {
    return DecodeFixedEntries(page, length, size, count, node,
                              [node](uint32_t i, const uint8_t* tail) {
                                node->recnos[i] = GetBe32(tail);
                                return node->recnos[i] !=
                                       0;  // see DecodeCompactLeaf
                              });
  }
  return DecodeFixedEntries(page, length, size, count, node,
                            [node](uint32_t i, const uint8_t* tail) {
                              node->recnos[i] = 0;
                              node->children[i] = GetBe32(tail);
                              return true;
                            });
}

// A compact inner node: each key (the child's greatest) is followed by its
// record number and the child block, both big-endian.
[[gnu::always_inline]] inline bool DecodeCompactInner(
    const uint8_t* page, const FoxNodeFormat& format, uint32_t count,
    FoxNode* node) {
  const uint16_t length = format.key_length;
  if (count > FoxFixedCapacity(format, false)) return false;
  SizeArrays(count, length, kChunk, node);
  return DecodeFixedEntries(page, length, length + kFoxCompactInnerTail, count,
                            node, [node](uint32_t i, const uint8_t* tail) {
                              node->recnos[i] = GetBe32(tail);
                              node->children[i] = GetBe32(tail + 4);
                              return true;
                            });
}

// A compact leaf: the field widths, then packed entries (record number,
// duplicate and trailing counts, little-endian) from the front, and the
// stored key bytes from the back of the block.
[[gnu::always_inline]] inline bool DecodeCompactLeaf(
    const uint8_t* page, const FoxNodeFormat& format, uint32_t count,
    FoxNode* node) {
  const uint16_t length = format.key_length;
  FoxLeafFields& f = node->fields;
  f.recno_mask = GetLe32(page + kFoxLeafRecnoMaskOffset);
  f.dup_mask = page[kFoxLeafDupMaskOffset];
  f.trail_mask = page[kFoxLeafTrailMaskOffset];
  f.recno_bits = page[kFoxLeafRecnoBitsOffset];
  f.dup_bits = page[kFoxLeafDupBitsOffset];
  f.trail_bits = page[kFoxLeafTrailBitsOffset];
  f.entry_bytes = page[kFoxLeafEntryBytesOffset];
  if (!FieldsValid(f)) return false;
  const uint32_t packed_end = kFoxLeafEntriesOffset + count * f.entry_bytes;
  if (packed_end > kFoxBlockSize) return false;
  const uint64_t recno_mask = LowMask(f.recno_bits);
  const uint64_t dup_mask = LowMask(f.dup_bits);
  const uint64_t trail_mask = LowMask(f.trail_bits);
  const uint64_t entry_mask = LowMask(f.entry_bytes * 8);
  // Copies run in 8-byte chunks that may pass their end by up to 7 bytes:
  // the page is read from a padded copy, and the key array gets slack that
  // is cut off at the end. Each step overwrites what the step before wrote
  // past its end, and a key's shared bytes are read before the next key is
  // written, so the over-runs never reach bytes that count.
  SizeArrays(count, length, 2 * kChunk, node);
  uint8_t padded[kFoxBlockSize + kChunk];
  std::memcpy(padded, page, kFoxBlockSize);
  std::memset(padded + kFoxBlockSize, 0, kChunk);
  uint8_t* keys = node->keys.data();
  uint32_t key_end = kFoxBlockSize;
  const uint8_t* packed = padded + kFoxLeafEntriesOffset;
  for (uint32_t i = 0; i < count; ++i, packed += f.entry_bytes) {
    const uint64_t v = GetLe64(packed) & entry_mask;
    const uint32_t dup = static_cast<uint32_t>((v >> f.recno_bits) & dup_mask);
    const uint32_t trail =
        static_cast<uint32_t>((v >> (f.recno_bits + f.dup_bits)) & trail_mask);
    if (dup + trail > length) return false;
    const uint32_t stored = length - dup - trail;
    if (key_end < packed_end + stored) return false;
    key_end -= stored;
    uint8_t* key = keys + static_cast<size_t>(i) * length;
    if (i == 0) {
      std::memset(key, format.pad, dup);
    } else if (length >= kChunk) {
      CopyChunks(key, key - length, dup);
    } else {
      const uint8_t* previous = key - length;
      for (uint32_t b = 0; b < dup; ++b) key[b] = previous[b];
    }
    CopyChunks(key + dup, padded + key_end, stored);
    FillChunks(key + dup + stored, format.pad, trail);
    node->recnos[i] = static_cast<uint32_t>(v & recno_mask);
    // Record number 0 stands for "no entry" on both sides of the
    // interface: a leaf entry holding it is damage, and a walk handed it
    // could not go on from it.
    if (node->recnos[i] == 0) return false;
  }
  node->keys.resize(static_cast<size_t>(count) * length);
  node->free_bytes = key_end - packed_end;
  return true;
}

}  // namespace

int BitsFor(uint32_t value) {
  int bits = 0;
  while (value != 0) {
    ++bits;
    value >>= 1;
  }
  return bits;
}

FoxLeafFields NewLeafFields(uint16_t key_length) {
  FoxLeafFields f;
  const int b = BitsFor(key_length);
  f.dup_bits = f.trail_bits = static_cast<uint8_t>(b);
  f.dup_mask = f.trail_mask = static_cast<uint8_t>((1u << b) - 1);
  f.entry_bytes = b == 1 ? 2 : (b < 6 ? 3 : 4);
  f.recno_bits = static_cast<uint8_t>(f.entry_bytes * 8 - 2 * b);
  f.recno_mask = static_cast<uint32_t>(LowMask(f.recno_bits));
  return f;
}

FoxLeafFields WidenLeafFields(const FoxLeafFields& base, uint32_t max_recno) {
  FoxLeafFields f = base;
  const int counts = f.dup_bits + f.trail_bits;
  const int needed =
      std::max(BitsFor(max_recno), static_cast<int>(f.recno_bits));
  if (needed <= f.recno_bits) return f;
  const int bytes = std::max<int>(f.entry_bytes, (needed + counts + 7) / 8);
  f.entry_bytes = static_cast<uint8_t>(bytes);
  f.recno_bits = static_cast<uint8_t>(std::min(32, bytes * 8 - counts));
  f.recno_mask = static_cast<uint32_t>(LowMask(f.recno_bits));
  return f;
}

uint32_t FoxFixedCapacity(const FoxNodeFormat& format, bool leaf) {
  const uint32_t tail = (format.layout == FoxLayout::kCompact && !leaf)
                            ? kFoxCompactInnerTail
                            : kFoxStandardPointerSize;
  return kFoxNodeEntriesSize / (format.key_length + tail);
}

void FoxNode::InsertEntry(uint32_t i, const uint8_t* key, uint16_t key_length,
                          uint32_t recno, uint32_t child) {
  keys.insert(keys.begin() + static_cast<ptrdiff_t>(i) * key_length, key,
              key + key_length);
  recnos.insert(recnos.begin() + i, recno);
  if (!leaf()) children.insert(children.begin() + i, child);
}

void FoxNode::EraseEntry(uint32_t i, uint16_t key_length) {
  auto at = keys.begin() + static_cast<ptrdiff_t>(i) * key_length;
  keys.erase(at, at + key_length);
  recnos.erase(recnos.begin() + i);
  if (!leaf()) children.erase(children.begin() + i);
}

void FoxNode::AppendRange(const FoxNode& source, uint32_t begin, uint32_t end,
                          uint16_t key_length) {
  keys.insert(keys.end(), source.key(begin, key_length),
              source.key(end, key_length));
  recnos.insert(recnos.end(), source.recnos.begin() + begin,
                source.recnos.begin() + end);
  if (!source.leaf())
    children.insert(children.end(), source.children.begin() + begin,
                    source.children.begin() + end);
}

bool DecodeFoxNode(const uint8_t* page, const FoxNodeFormat& format,
                   FoxNode* node) {
  const uint16_t length = format.key_length;
  if (length == 0 || length > kFoxMaxTreeKeyLength) return false;
  node->attributes = GetLe16(page + kFoxNodeAttributesOffset);
  node->left = GetLe32(page + kFoxNodeLeftOffset);
  node->right = GetLe32(page + kFoxNodeRightOffset);
  const uint32_t count = GetLe16(page + kFoxNodeCountOffset);
  if (format.layout == FoxLayout::kStandard)
    return DecodeStandardNode(page, format, count, node);
  if (!node->leaf()) return DecodeCompactInner(page, format, count, node);
  return DecodeCompactLeaf(page, format, count, node);
}

uint32_t CompactEntryBytes(const uint8_t* key, const uint8_t* previous,
                           const FoxNodeFormat& format,
                           const FoxLeafFields& fields) {
  PackedCounts c = CountsOf(key, previous, format, fields);
  return fields.entry_bytes + format.key_length - c.dup - c.trail;
}

uint32_t CompactLeafBytes(const FoxNode& node, const FoxNodeFormat& format,
                          uint32_t begin, uint32_t end) {
  const uint16_t length = format.key_length;
  uint32_t bytes = 0;
  for (uint32_t i = begin; i < end; ++i) {
    const uint8_t* previous = i == begin ? nullptr : node.key(i - 1, length);
    bytes +=
        CompactEntryBytes(node.key(i, length), previous, format, node.fields);
  }
  return bytes;
}

bool FoxRangeFits(const FoxNode& node, const FoxNodeFormat& format,
                  uint32_t begin, uint32_t end) {
  if (format.layout == FoxLayout::kCompact && node.leaf())
    return CompactLeafBytes(node, format, begin, end) <= kFoxLeafSpace;
  return end - begin <= FoxFixedCapacity(format, node.leaf());
}

bool EncodeFoxNode(const FoxNode& node, const FoxNodeFormat& format,
                   uint8_t* page) {
  const uint16_t length = format.key_length;
  const uint32_t count = node.count();
  std::memset(page, 0, kFoxBlockSize);
  PutLe16(page + kFoxNodeAttributesOffset, node.attributes);
  PutLe16(page + kFoxNodeCountOffset, static_cast<uint16_t>(count));
  PutLe32(page + kFoxNodeLeftOffset, node.left);
  PutLe32(page + kFoxNodeRightOffset, node.right);

  if (format.layout == FoxLayout::kStandard || !node.leaf()) {
    if (count > FoxFixedCapacity(format, node.leaf())) return false;
    const bool compact = format.layout == FoxLayout::kCompact;
    const uint32_t size =
        length + (compact ? kFoxCompactInnerTail : kFoxStandardPointerSize);
    uint8_t* p = page + kFoxNodeEntriesOffset;
    for (uint32_t i = 0; i < count; ++i, p += size) {
      std::memcpy(p, node.key(i, length), length);
      if (compact) {
        PutBe32(p + length, node.recnos[i]);
        PutBe32(p + length + 4, node.children[i]);
      } else {
        PutBe32(p + length, node.leaf() ? node.recnos[i] : node.children[i]);
      }
    }
    return true;
  }

  const FoxLeafFields& f = node.fields;
  if (!FieldsValid(f)) return false;
  PutLe32(page + kFoxLeafRecnoMaskOffset, f.recno_mask);
  page[kFoxLeafDupMaskOffset] = f.dup_mask;
  page[kFoxLeafTrailMaskOffset] = f.trail_mask;
  page[kFoxLeafRecnoBitsOffset] = f.recno_bits;
  page[kFoxLeafDupBitsOffset] = f.dup_bits;
  page[kFoxLeafTrailBitsOffset] = f.trail_bits;
  page[kFoxLeafEntryBytesOffset] = f.entry_bytes;
  uint32_t packed = kFoxLeafEntriesOffset;
  uint32_t key_end = kFoxBlockSize;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* key = node.key(i, length);
    if (node.recnos[i] > f.recno_mask) return false;
    PackedCounts c = CountsOf(key, i == 0 ? nullptr : key - length, format, f);
    const uint32_t stored = length - c.dup - c.trail;
    if (key_end < packed + f.entry_bytes + stored) return false;
    key_end -= stored;
    std::memcpy(page + key_end, key + c.dup, stored);
    const uint64_t v =
        node.recnos[i] | (static_cast<uint64_t>(c.dup) << f.recno_bits) |
        (static_cast<uint64_t>(c.trail) << (f.recno_bits + f.dup_bits));
    PutLeBytes(page + packed, v, f.entry_bytes);
    packed += f.entry_bytes;
  }
  PutLe16(page + kFoxLeafFreeOffset, static_cast<uint16_t>(key_end - packed));
  return true;
}

}  // namespace qx::engine::fox
