// The NDX header codec and the page layout derived from it.
#include "engine/ndx/ndx_format.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qx::engine {
namespace {

TEST(NdxFormatTest, HeaderRoundTripsAndLaysOutPages) {
  NdxHeader h;
  h.root = 7;
  h.next_free = 12;
  h.key_length = 10;
  h.entry_size = static_cast<uint16_t>(NdxEntrySize(10));
  h.keys_per_page = static_cast<uint16_t>(NdxKeysPerPage(h.entry_size));
  h.key_type = kNdxKeyCharacter;
  h.unique = 1;
  h.expression = "UPPER(NAME)+CITY";
  uint8_t page[kNdxPageSize];
  std::memset(page, 0xAA, sizeof page);
  h.EncodeTo(page);
  EXPECT_EQ(page[kNdxRootOffset], 7);
  EXPECT_EQ(page[kNdxNextFreeOffset], 12);
  EXPECT_EQ(page[kNdxEntrySizeOffset], 20);
  EXPECT_EQ(page[kNdxKeysPerPageOffset], 25);
  EXPECT_EQ(page[kNdxUniqueOffset], 1);
  EXPECT_EQ(page[kNdxExpressionOffset + h.expression.size()], 0);
  EXPECT_EQ(page[kNdxPageSize - 1], 0);  // the rest is zero

  NdxHeader back = NdxHeader::DecodeFrom(page);
  EXPECT_EQ(back.root, h.root);
  EXPECT_EQ(back.next_free, h.next_free);
  EXPECT_EQ(back.key_length, h.key_length);
  EXPECT_EQ(back.keys_per_page, h.keys_per_page);
  EXPECT_EQ(back.key_type, h.key_type);
  EXPECT_EQ(back.entry_size, h.entry_size);
  EXPECT_EQ(back.unique, h.unique);
  EXPECT_EQ(back.expression, h.expression);

  // An expression area without NUL reads as its whole 224 bytes.
  std::memset(page + kNdxExpressionOffset, 'X',
              kNdxHeaderReadSize - kNdxExpressionOffset);
  EXPECT_EQ(NdxHeader::DecodeFrom(page).expression.size(), 224u);

  btree::EntryLayout layout = NdxLayout(h);
  EXPECT_TRUE(layout.Valid());
  EXPECT_EQ(layout.EntryOffset(3), 4u + 3 * 20);
  EXPECT_EQ(layout.max_keys, 25u);
}

TEST(NdxFormatTest, EntrySizesAndKeysPerPage) {
  // Key length: entry size as written, keys per page.
  EXPECT_EQ(NdxEntrySize(10), 20u);
  EXPECT_EQ(NdxKeysPerPage(20), 25u);
  EXPECT_EQ(NdxEntrySize(100), 108u);
  EXPECT_EQ(NdxKeysPerPage(108), 4u);
  EXPECT_EQ(NdxEntrySize(8), 16u);
  EXPECT_EQ(NdxKeysPerPage(16), 31u);
  EXPECT_EQ(NdxEntrySize(1), 12u);
  EXPECT_EQ(NdxKeysPerPage(12), 42u);
  // Entry sizes other writers use are accepted.
  EXPECT_TRUE(NdxEntrySizeAccepted(78, 88));  // rounded, as we write
  EXPECT_TRUE(NdxEntrySizeAccepted(78, 86));  // k + 8
  EXPECT_TRUE(NdxEntrySizeAccepted(9, 18));   // ((k + 1) | 1) + 7
  EXPECT_TRUE(NdxEntrySizeAccepted(9, 20));   // ((k + 3) | 1) + 7
  EXPECT_TRUE(NdxEntrySizeAccepted(9, 17));   // k + 8
  EXPECT_FALSE(NdxEntrySizeAccepted(9, 21));
  EXPECT_FALSE(NdxEntrySizeAccepted(10, 16));
  EXPECT_FALSE(NdxEntrySizeAccepted(10, 24));
}

}  // namespace
}  // namespace qx::engine
