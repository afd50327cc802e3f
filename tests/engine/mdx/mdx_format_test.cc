// The MDX codecs: header, tag-table entry and tag header round trips, the
// bytes of a real file decoded field by field, and the sizes that follow
// from a key length.
#include "engine/mdx/mdx_format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

const uint8_t* Bytes(const std::string& s) {
  return reinterpret_cast<const uint8_t*>(s.data());
}

TEST(MdxFormatTest, CodecsRoundTripAndReadARealFile) {
  const std::string file = qx::testing::ReadWholeFile(
      qx::testing::SharedDir() + "/fixtures/real/jdbfdriver-mdx/TEST.MDX");
  ASSERT_EQ(file.size(), 6144u);

  // Header: every byte of the 48 comes back, the reserved ones included.
  const MdxHeader h = MdxHeader::DecodeFrom(
      std::span<const uint8_t, kMdxHeaderSize>(Bytes(file), kMdxHeaderSize));
  EXPECT_EQ(h.version, 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data_name.data())),
            "TEST");
  EXPECT_EQ(h.block_factor, 2);
  EXPECT_EQ(h.block_size, 1024);
  EXPECT_EQ(h.production, 1);
  EXPECT_EQ(h.table_max, 48);
  EXPECT_EQ(h.table_item, 32);
  EXPECT_EQ(h.tag_count, 2);
  EXPECT_EQ(h.sector_count, 12u);
  EXPECT_EQ(h.free_head, 0u);
  EXPECT_EQ(h.free_count, 0u);
  uint8_t out[kMdxHeaderSize];
  h.EncodeTo(out);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), kMdxHeaderSize),
            file.substr(0, kMdxHeaderSize));

  // Tag-table entries 0..2, threaded 0 -> 1 -> 2.
  auto entry = [&](int n) {
    return MdxTagEntry::DecodeFrom(std::span<const uint8_t, kMdxTagEntrySize>(
        Bytes(file) + kMdxTagTableOffset + n * kMdxTagEntrySize,
        kMdxTagEntrySize));
  };
  EXPECT_EQ(entry(0).forward, 1);
  const MdxTagEntry first = entry(1), second = entry(2);
  EXPECT_EQ(first.header_sector, 4u);
  EXPECT_EQ(first.name, "TEST1");
  EXPECT_EQ(first.forward, 2);
  EXPECT_EQ(first.backward, 0);
  EXPECT_EQ(first.mark, kMdxEntryMark);
  EXPECT_EQ(first.key_type, 'C');
  EXPECT_EQ(second.header_sector, 8u);
  EXPECT_EQ(second.forward, 0);
  EXPECT_EQ(second.backward, 1);
  EXPECT_EQ(second.key_type, 'N');
  uint8_t entry_out[kMdxTagEntrySize];
  second.EncodeTo(entry_out);
  EXPECT_EQ(
      std::string(reinterpret_cast<char*>(entry_out), kMdxTagEntrySize),
      file.substr(kMdxTagTableOffset + 2 * kMdxTagEntrySize, kMdxTagEntrySize));

  // Tag headers: the 'C' tag of key length 50 and the 'N' tag.
  auto tag = [&](uint32_t sector) {
    return MdxTagHeader::DecodeFrom(
        std::span<const uint8_t, kMdxTagHeaderReadSize>(
            Bytes(file) + sector * kMdxSectorSize, kMdxTagHeaderReadSize));
  };
  const MdxTagHeader c = tag(4), n = tag(8);
  EXPECT_EQ(c.root, 6u);
  EXPECT_EQ(c.key_format, kMdxFormatPlain);
  EXPECT_EQ(c.key_type, 'C');
  EXPECT_EQ(c.key_length, 50);
  EXPECT_EQ(c.max_keys, 18);
  EXPECT_EQ(c.item_length, 56);
  EXPECT_EQ(c.expression, "TEST1");
  EXPECT_EQ(n.root, 10u);
  EXPECT_EQ(n.key_type, 'N');
  EXPECT_EQ(n.key_length, 12);
  EXPECT_EQ(n.max_keys, 63);
  EXPECT_EQ(n.item_length, 16);
  EXPECT_EQ(n.expression, "test2");  // stored as another writer wrote it
  const btree::EntryLayout layout = MdxLayout(c, h.block_size);
  EXPECT_TRUE(layout.Valid());
  const uint8_t* root = Bytes(file) + 6 * kMdxSectorSize;
  EXPECT_EQ(layout.Count(root), 3u);
  EXPECT_TRUE(layout.IsLeaf(root));
  EXPECT_EQ(layout.Recno(root, 0), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(layout.Key(root, 0)), 6),
            "0test3");

  MdxTagHeader made;
  made.root = 6;
  made.key_format = kMdxFormatUnique | kMdxFormatPlain;
  made.key_type = 'D';
  made.key_length = 8;
  made.max_keys = 84;
  made.secondary = 1;
  made.item_length = 12;
  made.expression = "BIRTH";
  uint8_t tag_out[kMdxTagHeaderReadSize];
  made.EncodeTo(tag_out);
  const MdxTagHeader back = MdxTagHeader::DecodeFrom(tag_out);
  EXPECT_EQ(back.root, 6u);
  EXPECT_EQ(back.key_format, 0x50);
  EXPECT_EQ(back.secondary, 1);
  EXPECT_EQ(back.item_length, 12);
  EXPECT_EQ(back.expression, "BIRTH");
}

TEST(MdxFormatTest, SizesFollowFromTheKeyLength) {
  // 'C' of 10 bytes and 'N': items of 16, 63 per block; 'D': 12 and 84.
  EXPECT_EQ(MdxItemLength(10), 16u);
  EXPECT_EQ(MdxMaxKeys(1024, 16), 63u);
  EXPECT_EQ(MdxItemLength(12), 16u);
  EXPECT_EQ(MdxItemLength(8), 12u);
  EXPECT_EQ(MdxMaxKeys(1024, 12), 84u);
  EXPECT_EQ(MdxItemLength(100), 104u);
  EXPECT_EQ(MdxMaxKeys(1024, 104), 9u);
  EXPECT_EQ(MdxItemLength(1), 8u);
  EXPECT_TRUE(MdxItemLengthAccepted(50, 56));  // rounded, as we write
  EXPECT_TRUE(MdxItemLengthAccepted(50, 54));  // key length + 4
  EXPECT_FALSE(MdxItemLengthAccepted(50, 55));
  EXPECT_TRUE(MdxExpressionIsPlain("UPPER(NAME)+DTOS(BIRTH)"));
  EXPECT_FALSE(MdxExpressionIsPlain("LEFT(NAME,3)"));
  EXPECT_FALSE(MdxExpressionIsPlain("NAME+RIGHT(CITY,2)"));
  EXPECT_FALSE(MdxExpressionIsPlain("DTOC(BIRTH)"));
}

}  // namespace
}  // namespace qx::engine
