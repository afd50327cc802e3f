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
    c.dup = std::min<uint32_t>(
        {SharedPrefix(key, previous, length), fields.dup_mask,
         length - c.trail});
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

// A little-endian 64-bit word loaded as raw bytes, in host order.
inline uint64_t LittleEndian64(uint64_t raw) {
  uint8_t bytes[8];
  std::memcpy(bytes, &raw, 8);
  return GetLe64(bytes);
}

uint64_t LowMask(int bits) {
  return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
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
  const int needed = std::max(BitsFor(max_recno), static_cast<int>(f.recno_bits));
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
  const bool leaf = node->leaf();
  // The arrays are sized once the count is known to fit the block: a
  // damaged count word (up to 65,535 keys of 240 bytes) costs nothing.
  const auto size_arrays = [&] {
    node->keys.resize(static_cast<size_t>(count) * length);
    node->recnos.resize(count);
    node->children.resize(leaf ? 0 : count);
  };

  if (format.layout == FoxLayout::kStandard ||
      !leaf) {  // fixed entries
    if (count > FoxFixedCapacity(format, leaf)) return false;
    size_arrays();
    const bool compact = format.layout == FoxLayout::kCompact;
    const uint32_t size =
        length + (compact ? kFoxCompactInnerTail : kFoxStandardPointerSize);
    // Chunked key copies as in the compact leaf below.
    uint8_t padded[kFoxBlockSize + kChunk];
    std::memcpy(padded, page, kFoxBlockSize);
    std::memset(padded + kFoxBlockSize, 0, kChunk);
    const size_t key_bytes = static_cast<size_t>(count) * length;
    node->keys.resize(key_bytes + kChunk);
    const uint8_t* p = padded + kFoxNodeEntriesOffset;
    for (uint32_t i = 0; i < count; ++i, p += size) {
      CopyChunks(node->key(i, length), p, length);
      if (compact) {
        node->recnos[i] = GetBe32(p + length);
        node->children[i] = GetBe32(p + length + 4);
      } else if (leaf) {
        node->recnos[i] = GetBe32(p + length);
        if (node->recnos[i] == 0) return false;  // see the compact leaf
      } else {
        node->recnos[i] = 0;
        node->children[i] = GetBe32(p + length);
      }
    }
    node->keys.resize(key_bytes);
    return true;
  }

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
  size_arrays();
  const uint64_t recno_mask = LowMask(f.recno_bits);
  const uint64_t dup_mask = LowMask(f.dup_bits);
  const uint64_t trail_mask = LowMask(f.trail_bits);
  const uint64_t entry_mask = LowMask(f.entry_bytes * 8);
  // Copies run in 8-byte chunks that may pass their end by up to 7 bytes:
  // the page is read from a padded copy, and the key array gets slack that
  // is cut off at the end. Each step overwrites what the step before wrote
  // past its end, and a key's shared bytes are read before the next key is
  // written, so the over-runs never reach bytes that count.
  uint8_t padded[kFoxBlockSize + kChunk];
  std::memcpy(padded, page, kFoxBlockSize);
  std::memset(padded + kFoxBlockSize, 0, kChunk);
  const size_t key_bytes = static_cast<size_t>(count) * length;
  node->keys.resize(key_bytes + 2 * kChunk);
  uint8_t* keys = node->keys.data();
  uint32_t key_end = kFoxBlockSize;
  const uint8_t* packed = padded + kFoxLeafEntriesOffset;
  for (uint32_t i = 0; i < count; ++i, packed += f.entry_bytes) {
    uint64_t v;
    std::memcpy(&v, packed, sizeof v);
    v = LittleEndian64(v) & entry_mask;
    const uint32_t dup = static_cast<uint32_t>((v >> f.recno_bits) & dup_mask);
    const uint32_t trail = static_cast<uint32_t>(
        (v >> (f.recno_bits + f.dup_bits)) & trail_mask);
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
  node->keys.resize(key_bytes);
  node->free_bytes = key_end - packed_end;
  return true;
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
    bytes += CompactEntryBytes(node.key(i, length), previous, format,
                               node.fields);
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
    PackedCounts c =
        CountsOf(key, i == 0 ? nullptr : key - length, format, f);
    const uint32_t stored = length - c.dup - c.trail;
    if (key_end < packed + f.entry_bytes + stored) return false;
    key_end -= stored;
    std::memcpy(page + key_end, key + c.dup, stored);
    uint64_t v = node.recnos[i] |
                 (static_cast<uint64_t>(c.dup) << f.recno_bits) |
                 (static_cast<uint64_t>(c.trail)
                  << (f.recno_bits + f.dup_bits));
    for (int b = 0; b < f.entry_bytes; ++b, v >>= 8)
      page[packed + b] = static_cast<uint8_t>(v);
    packed += f.entry_bytes;
  }
  PutLe16(page + kFoxLeafFreeOffset, static_cast<uint16_t>(key_end - packed));
  return true;
}

}  // namespace qx::engine::fox
