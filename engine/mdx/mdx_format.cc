// Codecs of the MDX file header, tag-table entries and tag headers, and
// the page layout (see mdx_format.h).
#include "engine/mdx/mdx_format.h"

#include <algorithm>
#include <cstring>

#include "engine/core/coding.h"

namespace qx::engine {
namespace {

// The bytes of a NUL-terminated field up to its NUL (all of them when
// there is none).
std::string TextUpToNul(const uint8_t* p, size_t size) {
  return std::string(reinterpret_cast<const char*>(p), BoundedLength(p, size));
}

}  // namespace

bool MdxExpressionIsPlain(const std::string& expression) {
  for (const char* word : {"RIGHT(", "LEFT(", "DTOC("})
    if (expression.find(word) != std::string::npos) return false;
  return true;
}

MdxHeader MdxHeader::DecodeFrom(std::span<const uint8_t, kMdxHeaderSize> in) {
  const uint8_t* p = in.data();
  MdxHeader h;
  h.version = p[kMdxVersionOffset];
  std::copy_n(p + kMdxCreatedOffset, kMdxCreatedSize, h.created.begin());
  std::copy_n(p + kMdxDataNameOffset, kMdxDataNameSize, h.data_name.begin());
  h.block_factor = GetLe16(p + kMdxBlockFactorOffset);
  h.block_size = GetLe16(p + kMdxBlockSizeOffset);
  h.production = p[kMdxProductionOffset];
  h.table_max = p[kMdxTableMaxOffset];
  h.table_item = p[kMdxTableItemOffset];
  h.reserved27 = p[kMdxReserved27Offset];
  h.tag_count = GetLe16(p + kMdxTagCountOffset);
  h.reserved30 = GetLe16(p + kMdxReserved30Offset);
  h.DecodeWords(in.subspan<kMdxWordsOffset, kMdxWordsSize>());
  std::copy_n(p + kMdxUpdatedOffset, kMdxUpdatedSize, h.updated.begin());
  h.reserved47 = p[kMdxReserved47Offset];
  return h;
}

void MdxHeader::EncodeTo(std::span<uint8_t, kMdxHeaderSize> out) const {
  uint8_t* p = out.data();
  p[kMdxVersionOffset] = version;
  std::copy(created.begin(), created.end(), p + kMdxCreatedOffset);
  std::copy(data_name.begin(), data_name.end(), p + kMdxDataNameOffset);
  PutLe16(p + kMdxBlockFactorOffset, block_factor);
  PutLe16(p + kMdxBlockSizeOffset, block_size);
  p[kMdxProductionOffset] = production;
  p[kMdxTableMaxOffset] = table_max;
  p[kMdxTableItemOffset] = table_item;
  p[kMdxReserved27Offset] = reserved27;
  PutLe16(p + kMdxTagCountOffset, tag_count);
  PutLe16(p + kMdxReserved30Offset, reserved30);
  EncodeWords(out.subspan<kMdxWordsOffset, kMdxWordsSize>());
  std::copy(updated.begin(), updated.end(), p + kMdxUpdatedOffset);
  p[kMdxReserved47Offset] = reserved47;
}

// The words lie at their header offsets less kMdxWordsOffset.
void MdxHeader::DecodeWords(std::span<const uint8_t, kMdxWordsSize> in) {
  const uint8_t* p = in.data();
  sector_count = GetLe32(p + (kMdxSectorCountOffset - kMdxWordsOffset));
  free_head = GetLe32(p + (kMdxFreeHeadOffset - kMdxWordsOffset));
  free_count = GetLe32(p + (kMdxFreeCountOffset - kMdxWordsOffset));
}

void MdxHeader::EncodeWords(std::span<uint8_t, kMdxWordsSize> out) const {
  uint8_t* p = out.data();
  PutLe32(p + (kMdxSectorCountOffset - kMdxWordsOffset), sector_count);
  PutLe32(p + (kMdxFreeHeadOffset - kMdxWordsOffset), free_head);
  PutLe32(p + (kMdxFreeCountOffset - kMdxWordsOffset), free_count);
}

MdxTagEntry MdxTagEntry::DecodeFrom(
    std::span<const uint8_t, kMdxTagEntrySize> in) {
  const uint8_t* p = in.data();
  MdxTagEntry e;
  e.header_sector = GetLe32(p + kMdxEntryHeaderOffset);
  e.name = TextUpToNul(p + kMdxEntryNameOffset, kMdxEntryNameSize);
  std::copy_n(p + kMdxEntryKeptOffset, kMdxEntryKeptSize, e.kept.begin());
  e.forward = p[kMdxEntryForwardOffset];
  e.backward = p[kMdxEntryBackwardOffset];
  e.mark = p[kMdxEntryMarkOffset];
  e.key_type = p[kMdxEntryTypeOffset];
  std::copy_n(p + kMdxEntryReservedOffset, kMdxEntryReservedSize,
              e.reserved.begin());
  return e;
}

void MdxTagEntry::EncodeTo(std::span<uint8_t, kMdxTagEntrySize> out) const {
  uint8_t* p = out.data();
  PutLe32(p + kMdxEntryHeaderOffset, header_sector);
  std::memset(p + kMdxEntryNameOffset, 0, kMdxEntryNameSize);
  std::memcpy(p + kMdxEntryNameOffset, name.data(),
              std::min<size_t>(name.size(), kMdxMaxTagNameLength));
  std::copy(kept.begin(), kept.end(), p + kMdxEntryKeptOffset);
  p[kMdxEntryForwardOffset] = forward;
  p[kMdxEntryBackwardOffset] = backward;
  p[kMdxEntryMarkOffset] = mark;
  p[kMdxEntryTypeOffset] = key_type;
  std::copy(reserved.begin(), reserved.end(), p + kMdxEntryReservedOffset);
}

MdxTagHeader MdxTagHeader::DecodeFrom(
    std::span<const uint8_t, kMdxTagHeaderReadSize> in) {
  const uint8_t* p = in.data();
  MdxTagHeader h;
  h.root = GetLe32(p + kMdxTagRootOffset);
  h.reserved4 = GetLe32(p + kMdxTagReserved4Offset);
  h.key_format = p[kMdxTagFormatOffset];
  h.key_type = p[kMdxTagTypeOffset];
  h.reserved10 = GetLe16(p + kMdxTagReserved10Offset);
  h.key_length = GetLe16(p + kMdxTagKeyLengthOffset);
  h.max_keys = GetLe16(p + kMdxTagMaxKeysOffset);
  h.secondary = GetLe16(p + kMdxTagSecondaryOffset);
  h.item_length = GetLe16(p + kMdxTagItemLengthOffset);
  h.reserved20 = GetLe32(p + kMdxTagReserved20Offset);
  h.expression = TextUpToNul(p + kMdxTagExpressionOffset,
                             kMdxTagHeaderReadSize - kMdxTagExpressionOffset);
  return h;
}

void MdxTagHeader::EncodeTo(
    std::span<uint8_t, kMdxTagHeaderReadSize> out) const {
  uint8_t* p = out.data();
  std::memset(p, 0, out.size());
  PutLe32(p + kMdxTagRootOffset, root);
  PutLe32(p + kMdxTagReserved4Offset, reserved4);
  p[kMdxTagFormatOffset] = key_format;
  p[kMdxTagTypeOffset] = key_type;
  PutLe16(p + kMdxTagReserved10Offset, reserved10);
  PutLe16(p + kMdxTagKeyLengthOffset, key_length);
  PutLe16(p + kMdxTagMaxKeysOffset, max_keys);
  PutLe16(p + kMdxTagSecondaryOffset, secondary);
  PutLe16(p + kMdxTagItemLengthOffset, item_length);
  PutLe32(p + kMdxTagReserved20Offset, reserved20);
  std::memcpy(p + kMdxTagExpressionOffset, expression.data(),
              std::min<size_t>(expression.size(), kMdxMaxExpressionLength));
}

btree::EntryLayout MdxLayout(const MdxTagHeader& header, uint32_t block_size) {
  btree::EntryLayout layout;
  layout.page_size = block_size;
  layout.count_offset = kMdxCountOffset;
  layout.count_size = kMdxCountSize;
  layout.entries_offset = kMdxEntriesOffset;
  layout.entry_size = header.item_length;
  // One pointer word: the record number in a leaf, the child above.
  layout.child_offset = kMdxPointerOffset;
  layout.recno_offset = kMdxPointerOffset;
  layout.key_offset = kMdxKeyOffset;
  layout.key_length = header.key_length;
  layout.max_keys = header.max_keys;
  layout.leaf_test = btree::LeafTest::kLastPointerZero;
  return layout;
}

}  // namespace qx::engine
