// Codecs of the NTX header and node pages (see ntx_format.h).
#include "engine/ntx/ntx_format.h"

#include <cstring>

namespace qx::engine {

NtxHeader NtxHeader::DecodeFrom(const uint8_t* p) {
  NtxHeader h;
  h.signature = GetLe16(p + kNtxSignatureOffset);
  h.counter = GetLe16(p + kNtxCounterOffset);
  h.root = GetLe32(p + kNtxRootOffset);
  h.free_head = GetLe32(p + kNtxFreeHeadOffset);
  h.item_size = GetLe16(p + kNtxItemSizeOffset);
  h.key_length = GetLe16(p + kNtxKeyLengthOffset);
  h.decimals = GetLe16(p + kNtxDecimalsOffset);
  h.largest = GetLe16(p + kNtxLargestOffset);
  h.smallest = GetLe16(p + kNtxSmallestOffset);
  const char* text = reinterpret_cast<const char*>(p + kNtxExpressionOffset);
  const size_t length = BoundedLength(text, kNtxExpressionSize);
  h.expression_terminated = length < kNtxExpressionSize;
  h.expression.assign(text, length);
  h.unique = p[kNtxUniqueOffset];
  h.descending = p[kNtxDescendingOffset];
  const char* condition = reinterpret_cast<const char*>(p + kNtxForOffset);
  const size_t for_length = BoundedLength(condition, kNtxForSize);
  h.for_terminated = for_length < kNtxForSize;
  h.for_expression.assign(condition, for_length);
  return h;
}

void NtxHeader::EncodeTo(uint8_t* out) const {
  std::memset(out, 0, kNtxPageSize);
  PutLe16(out + kNtxSignatureOffset, signature);
  PutLe16(out + kNtxCounterOffset, counter);
  PutLe32(out + kNtxRootOffset, root);
  PutLe32(out + kNtxFreeHeadOffset, free_head);
  PutLe16(out + kNtxItemSizeOffset, item_size);
  PutLe16(out + kNtxKeyLengthOffset, key_length);
  PutLe16(out + kNtxDecimalsOffset, decimals);
  PutLe16(out + kNtxLargestOffset, largest);
  PutLe16(out + kNtxSmallestOffset, smallest);
  const size_t n = expression.size() < kNtxMaxExpressionLength
                       ? expression.size()
                       : kNtxMaxExpressionLength;
  std::memcpy(out + kNtxExpressionOffset, expression.data(), n);
  out[kNtxUniqueOffset] = unique;
  out[kNtxDescendingOffset] = descending;
  const size_t f = for_expression.size() < kNtxMaxForLength
                       ? for_expression.size()
                       : kNtxMaxForLength;
  std::memcpy(out + kNtxForOffset, for_expression.data(), f);
}

bool NtxNode::Valid() const {
  const uint32_t n = count();
  if (n > s_.largest) return false;
  // The entries in use and, when there is one, the free item OpenAt takes.
  const uint32_t last = n < s_.largest ? n + 1 : n;
  for (uint32_t i = 0; i <= last; ++i) {
    const uint32_t offset = entry(i);
    if (offset < kNtxTableOffset || offset + s_.item_size > kNtxPageSize)
      return false;
  }
  return true;
}

void NtxNode::Format() {
  std::memset(p_, 0, kNtxPageSize);
  const uint32_t base = s_.items_offset();
  for (uint32_t i = 0; i <= s_.largest; ++i)
    set_entry(i, base + i * s_.item_size);
}

void NtxNode::SetItem(uint32_t i, uint32_t child, uint32_t recno,
                      const uint8_t* key) {
  uint8_t* it = item(i);
  PutLe32(it + kNtxItemChildOffset, child);
  PutLe32(it + kNtxItemRecnoOffset, recno);
  std::memcpy(it + kNtxItemKeyOffset, key, s_.key_length);
}

void NtxNode::OpenAt(uint32_t i) {
  const uint32_t n = count();
  const uint32_t free_item = entry(n + 1);
  for (uint32_t j = n + 1; j > i; --j) set_entry(j, entry(j - 1));
  set_entry(i, free_item);
  set_count(n + 1);
}

void NtxNode::RemoveAt(uint32_t i) {
  const uint32_t n = count();
  const uint32_t gone = entry(i);
  for (uint32_t j = i; j < n; ++j) set_entry(j, entry(j + 1));
  set_entry(n, gone);
  set_count(n - 1);
}

}  // namespace qx::engine
