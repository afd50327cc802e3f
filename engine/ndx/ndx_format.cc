// Codecs of the NDX header and the page layout (see ndx_format.h).
#include "engine/ndx/ndx_format.h"

#include <cstring>

#include "engine/core/coding.h"

namespace qx::engine {

NdxHeader NdxHeader::DecodeFrom(const uint8_t* p) {
  NdxHeader h;
  h.root = GetLe32(p + kNdxRootOffset);
  h.next_free = GetLe32(p + kNdxNextFreeOffset);
  h.key_length = GetLe16(p + kNdxKeyLengthOffset);
  h.keys_per_page = GetLe16(p + kNdxKeysPerPageOffset);
  h.key_type = GetLe16(p + kNdxKeyTypeOffset);
  h.entry_size = GetLe16(p + kNdxEntrySizeOffset);
  h.unique = p[kNdxUniqueOffset];
  const char* text = reinterpret_cast<const char*>(p + kNdxExpressionOffset);
  const size_t area = kNdxHeaderReadSize - kNdxExpressionOffset;
  h.expression.assign(text, BoundedLength(text, area));
  return h;
}

void NdxHeader::EncodeTo(uint8_t* out) const {
  std::memset(out, 0, kNdxPageSize);
  PutLe32(out + kNdxRootOffset, root);
  PutLe32(out + kNdxNextFreeOffset, next_free);
  PutLe16(out + kNdxKeyLengthOffset, key_length);
  PutLe16(out + kNdxKeysPerPageOffset, keys_per_page);
  PutLe16(out + kNdxKeyTypeOffset, key_type);
  PutLe16(out + kNdxEntrySizeOffset, entry_size);
  out[kNdxUniqueOffset] = unique;
  size_t n = expression.size() < kNdxMaxExpressionLength
                 ? expression.size()
                 : kNdxMaxExpressionLength;
  std::memcpy(out + kNdxExpressionOffset, expression.data(), n);
}

btree::EntryLayout NdxLayout(const NdxHeader& header) {
  btree::EntryLayout layout;
  layout.page_size = kNdxPageSize;
  layout.count_offset = kNdxCountOffset;
  layout.count_size = kNdxCountSize;
  layout.entries_offset = kNdxEntriesOffset;
  layout.entry_size = header.entry_size;
  layout.child_offset = kNdxChildOffset;
  layout.recno_offset = kNdxRecnoOffset;
  layout.key_offset = kNdxKeyOffset;
  layout.key_length = header.key_length;
  layout.max_keys = header.keys_per_page;
  layout.leaf_test = btree::LeafTest::kFirstChildZero;
  return layout;
}

}  // namespace qx::engine
