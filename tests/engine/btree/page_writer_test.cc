// The bottom-up page writer: for key counts around every boundary the
// tree it writes passes the check, walks in input order, has full leaves
// but the last, and no interior page without a key; pages go out in file
// order in batches. In the B-tree shape (keys in interior pages) the
// in-order walk gives the input and every page below the root is filled
// between the least and the largest count.
#include "engine/btree/page_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "engine/btree/btree.h"
#include "engine/btree/btree_check.h"
#include "engine/core/coding.h"
#include "engine/fileio/file_layer.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::btree {
namespace {

constexpr uint32_t kPage = 128;
constexpr uint32_t kKey = 8;

// Small NDX-like pages: 7 keys, a trailing child.
EntryLayout Layout() {
  EntryLayout l;
  l.page_size = kPage;
  l.count_size = 1;
  l.entries_offset = 4;
  l.entry_size = 16;
  l.recno_offset = 4;
  l.key_offset = 8;
  l.key_length = kKey;
  l.max_keys = 7;
  return l;
}

class Encoder : public PageEncoder {
 public:
  explicit Encoder(const EntryLayout& l) : l_(l) {}
  void PutEntry(uint8_t* page, bool leaf, uint32_t slot, const uint8_t* key,
                uint32_t pointer) override {
    l_.PutEntry(page, slot, leaf, leaf ? 0 : pointer, leaf ? pointer : 0, key);
  }
  void FinishPage(uint8_t* page, bool leaf, uint32_t count,
                  uint32_t trailing) override {
    l_.SetCount(page, count);
    if (!leaf) l_.SetChild(page, count, trailing);
  }

 private:
  const EntryLayout& l_;
};

class RootStore : public TreeStore {
 public:
  uint32_t Root() const override { return root; }
  int16_t SetRoot(uint32_t) override { return Fail(kKbdErrCommand); }
  int16_t AllocatePage(uint32_t*) override { return Fail(kKbdErrCommand); }
  int16_t FreePage(uint32_t) override { return Fail(kKbdErrCommand); }
  int CompareKeys(const uint8_t* a, const uint8_t* b, uint32_t n,
                  bool) const override {
    return std::memcmp(a, b, n);
  }
  uint32_t root = 0;
};

class PageWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  }
  void TearDown() override { kbdterm(); }

  // A new file of one zeroed page (the empty root a build replaces),
  // opened read-write into *slot.
  void OpenOnePageFile(const std::string& path, uint16_t* slot) {
    qx::testing::WriteWholeFile(path, std::string(kPage, '\0'));
    uint16_t flags = 0;
    ASSERT_EQ(FileOpen(slot, path.c_str(), 1 | qx::testing::ModeForTestReads(),
                       &flags),
              kKbdOk);
  }

  qx::testing::TempDir dir_;
};

TEST_F(PageWriterTest, BuildsCompleteTreesOfFullPages) {
  const EntryLayout layout = Layout();
  // Around the boundaries of 7 keys a leaf and 8 children a page; 57..63
  // keys make 9 leaves, whose last interior page would get one child.
  for (uint32_t n : {1u, 6u, 7u, 8u, 56u, 57u, 63u, 64u, 449u, 505u, 3000u}) {
    SCOPED_TRACE("keys " + std::to_string(n));
    const std::string path = dir_.File("w" + std::to_string(n) + ".bin");
    uint16_t slot = 0xFFFF;
    ASSERT_NO_FATAL_FAILURE(OpenOnePageFile(path, &slot));
    Encoder encoder(layout);
    WriterShape shape;
    shape.page_size = kPage;
    shape.key_length = kKey;
    shape.leaf_keys = 7;
    shape.interior_keys = 7;
    shape.id_unit = kPage;
    shape.write_pages = 5;
    PageWriter writer(slot, shape, &encoder);
    ASSERT_EQ(writer.Start(n, 1, 1), kKbdOk);
    std::vector<std::string> keys;
    for (uint32_t i = 0; i < n; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%08u", i * 3);
      keys.push_back(std::string(key, kKey));
      ASSERT_EQ(writer.Add(reinterpret_cast<const uint8_t*>(key), i + 1),
                kKbdOk);
    }
    uint32_t root = 0, next = 0;
    ASSERT_EQ(writer.Finish(&root, &next), kKbdOk);
    EXPECT_EQ(next, writer.pages_written() + 1);
    EXPECT_EQ(root, next - 1);  // the root is finished last
    EXPECT_EQ(qx::testing::ReadWholeFile(path).size(), next * kPage);

    CheckInput input;
    input.layout = &layout;
    input.root = root;
    input.first_page = 1;
    input.end_page = next;
    input.read_page = [slot](uint32_t page, uint8_t* buffer) {
      return FileReadAt(slot, page * kPage, buffer, kPage);
    };
    input.compare = [](const uint8_t* a, const uint8_t* b) {
      return std::memcmp(a, b, kKey);
    };
    std::vector<std::string> seen;
    input.on_entry = [&](const uint8_t* key, uint32_t) {
      seen.emplace_back(reinterpret_cast<const char*>(key), kKey);
    };
    CheckReport report;
    ASSERT_EQ(CheckTree(input, &report), kKbdOk);
    for (const std::string& p : report.problems) ADD_FAILURE() << p;
    EXPECT_EQ(seen, keys);  // W1
    EXPECT_EQ(report.levels, static_cast<uint32_t>(writer.levels()));

    // W2: leaves full but the last; W3: no interior page without a key.
    uint32_t leaves = 0, partial_leaves = 0;
    for (uint32_t page = 1; page < next; ++page) {
      uint8_t bytes[kPage];
      ASSERT_EQ(FileReadAt(slot, page * kPage, bytes, kPage), kKbdOk);
      if (layout.IsLeaf(bytes)) {
        ++leaves;
        if (layout.Count(bytes) != 7) ++partial_leaves;
      } else {
        EXPECT_GE(layout.Count(bytes), 1u) << "page " << page;
      }
    }
    EXPECT_EQ(leaves, (n + 6) / 7);
    EXPECT_EQ(partial_leaves, n % 7 == 0 ? 0u : 1u);

    // The tree algorithms find every key of it.
    PageCache cache;
    ASSERT_EQ(cache.Init(slot, kPage, kPage, {10, 3}, 3), kKbdOk);
    cache.SetBounds(1, next);
    PathStack stack(PathCapacity(3));
    RootStore store;
    store.root = root;
    Tree tree(&layout, 3, &cache, &stack, &store);
    for (uint32_t i = 0; i < n; i += 1 + n / 50) {
      SearchKey s;
      s.key = reinterpret_cast<const uint8_t*>(keys[i].data());
      s.length = kKey;
      ASSERT_EQ(tree.Find(s), kKbdOk);
      uint8_t key[kKey];
      uint32_t recno = 0;
      ASSERT_EQ(tree.ReadPosition(key, &recno), kKbdOk);
      EXPECT_EQ(recno, i + 1);
      ASSERT_EQ(cache.Clear(), kKbdOk);
    }
    FileClose(slot);
  }
}

// Pages chained by sibling links, without a trailing pointer: count (2),
// left (4), right (4), then entries of key (8) and pointer (4); 5 keys a
// page. No sibling is 0xFFFFFFFF on the page.
class LinkedEncoder : public PageEncoder {
 public:
  static constexpr uint32_t kEntries = 10;
  static constexpr uint32_t kEntry = kKey + 4;
  static constexpr uint32_t kNone = 0xFFFFFFFF;
  void PutEntry(uint8_t* page, bool, uint32_t slot, const uint8_t* key,
                uint32_t pointer) override {
    std::memcpy(page + kEntries + slot * kEntry, key, kKey);
    PutLe32(page + kEntries + slot * kEntry + kKey, pointer);
  }
  void FinishPage(uint8_t* page, bool leaf, uint32_t count,
                  uint32_t trailing) override {
    EXPECT_EQ(trailing, 0u);
    PutLe16(page, static_cast<uint16_t>(count | (leaf ? 0x8000 : 0)));
  }
  void SetSiblings(uint8_t* page, bool, uint32_t left,
                   uint32_t right) override {
    PutLe32(page + 2, left == kNoSibling ? kNone : left);
    PutLe32(page + 6, right == kNoSibling ? kNone : right);
  }
};

TEST_F(PageWriterTest, ChainsTheLevelsBySiblingLinks) {
  for (uint32_t n : {1u, 5u, 6u, 31u, 200u}) {
    SCOPED_TRACE("keys " + std::to_string(n));
    const std::string path = dir_.File("l" + std::to_string(n) + ".bin");
    uint16_t slot = 0xFFFF;
    ASSERT_NO_FATAL_FAILURE(OpenOnePageFile(path, &slot));
    LinkedEncoder encoder;
    WriterShape shape;
    shape.page_size = kPage;
    shape.key_length = kKey;
    shape.leaf_keys = 5;
    shape.interior_keys = 5;
    shape.trailing_pointer = false;
    shape.sibling_links = true;
    shape.id_unit = 1;  // ids are byte offsets
    shape.write_pages = 3;
    PageWriter writer(slot, shape, &encoder);
    ASSERT_EQ(writer.Start(n, kPage, kPage), kKbdOk);
    for (uint32_t i = 0; i < n; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%08u", i);
      ASSERT_EQ(writer.Add(reinterpret_cast<const uint8_t*>(key), i + 1),
                kKbdOk);
    }
    uint32_t root = 0, next = 0;
    ASSERT_EQ(writer.Finish(&root, &next), kKbdOk);
    auto read = [&](uint32_t offset) {
      std::vector<uint8_t> page(kPage);
      EXPECT_EQ(FileReadAt(slot, offset, page.data(), kPage), kKbdOk);
      return page;
    };
    // Down the leftmost children, walking each level along its chain.
    uint32_t first = root;
    uint32_t keys_seen = 0;
    for (int level = 0; level < writer.levels(); ++level) {
      std::vector<uint8_t> page = read(first);
      EXPECT_EQ(GetLe32(page.data() + 2), LinkedEncoder::kNone);
      uint32_t left = LinkedEncoder::kNone;
      uint32_t at = first;
      bool leaf = (GetLe16(page.data()) & 0x8000) != 0;
      for (;;) {
        page = read(at);
        EXPECT_EQ(GetLe32(page.data() + 2), left);  // W5, backwards
        uint32_t count = GetLe16(page.data()) & 0x7FFF;
        EXPECT_GE(count, 1u);  // W3
        if (leaf) {
          for (uint32_t i = 0; i < count; ++i) {
            char want[16];
            std::snprintf(want, sizeof want, "%08u", keys_seen++);
            EXPECT_EQ(std::memcmp(page.data() + LinkedEncoder::kEntries +
                                      i * LinkedEncoder::kEntry,
                                  want, kKey),
                      0);
          }
        }
        uint32_t right = GetLe32(page.data() + 6);
        if (right == LinkedEncoder::kNone) break;
        left = at;
        at = right;
      }
      if (!leaf) {
        first = GetLe32(read(first).data() + LinkedEncoder::kEntries + kKey);
      }
    }
    EXPECT_EQ(keys_seen, n);  // W1 along the leaf chain
    FileClose(slot);
  }
}

// The B-tree shape: entries live in interior pages too. Pages of 6 items
// (child, recno, key) and a count byte; at least 3 keys below the root.
class ItemEncoder : public PageEncoder {
 public:
  static constexpr uint32_t kItem = 16;
  void PutEntry(uint8_t*, bool, uint32_t, const uint8_t*, uint32_t) override {
    ADD_FAILURE() << "the B-tree shape writes items";
  }
  void PutItem(uint8_t* page, uint32_t slot, const uint8_t* key, uint32_t recno,
               uint32_t child) override {
    uint8_t* item = page + 4 + slot * kItem;
    PutLe32(item, child);
    PutLe32(item + 4, recno);
    std::memcpy(item + 8, key, kKey);
  }
  void FinishPage(uint8_t* page, bool, uint32_t count,
                  uint32_t trailing) override {
    page[0] = static_cast<uint8_t>(count);
    PutLe32(page + 4 + count * kItem, trailing);
  }
};

TEST_F(PageWriterTest, BuildsBTreesWithKeysInInteriorPages) {
  // Around the boundaries of 6 keys a page and 7 entries a promotion.
  for (uint32_t n : {1u, 6u, 7u, 8u, 9u, 10u, 13u, 14u, 48u, 49u, 50u, 52u,
                     342u, 343u, 2000u}) {
    SCOPED_TRACE("keys " + std::to_string(n));
    const std::string path = dir_.File("b" + std::to_string(n) + ".bin");
    uint16_t slot = 0xFFFF;
    ASSERT_NO_FATAL_FAILURE(OpenOnePageFile(path, &slot));
    ItemEncoder encoder;
    WriterShape shape;
    shape.page_size = kPage;
    shape.key_length = kKey;
    shape.leaf_keys = 6;
    shape.interior_keys = 6;
    shape.keys_in_interior = true;
    shape.min_keys = 3;
    shape.id_unit = 1;  // byte offsets, as NTX
    shape.write_pages = 5;
    PageWriter writer(slot, shape, &encoder);
    ASSERT_EQ(writer.Start(n, kPage, kPage), kKbdOk);
    std::vector<std::string> keys;
    for (uint32_t i = 0; i < n; ++i) {
      char key[16];
      std::snprintf(key, sizeof key, "%08u", i * 3);
      keys.push_back(std::string(key, kKey));
      ASSERT_EQ(writer.Add(reinterpret_cast<const uint8_t*>(key), i + 1),
                kKbdOk);
    }
    uint32_t root = 0, next = 0;
    ASSERT_EQ(writer.Finish(&root, &next), kKbdOk);
    EXPECT_EQ(root, next - kPage);  // the root is finished last
    EXPECT_EQ(qx::testing::ReadWholeFile(path).size(), next);

    // W6: the in-order walk is the input, every entry once; pages below the
    // root hold 3..6 keys; leaves at one depth; leaves full but the last
    // two.
    std::vector<std::string> seen;
    std::vector<uint32_t> recnos;
    int leaf_depth = -1;
    uint32_t leaves = 0, partial_leaves = 0;
    std::function<void(uint32_t, int)> walk = [&](uint32_t page, int depth) {
      uint8_t bytes[kPage];
      ASSERT_EQ(FileReadAt(slot, page, bytes, kPage), kKbdOk);
      const uint32_t count = bytes[0];
      ASSERT_LE(count, 6u);
      if (page != root) {
        EXPECT_GE(count, 3u) << "page " << page;
      }
      const bool leaf = GetLe32(bytes + 4) == 0;
      if (leaf) {
        if (leaf_depth < 0) leaf_depth = depth;
        EXPECT_EQ(depth, leaf_depth);
        ++leaves;
        if (count != 6) ++partial_leaves;
      }
      for (uint32_t i = 0; i <= count; ++i) {
        const uint8_t* item = bytes + 4 + i * ItemEncoder::kItem;
        if (!leaf) {
          ASSERT_NE(GetLe32(item), 0u);
          ASSERT_NO_FATAL_FAILURE(walk(GetLe32(item), depth + 1));
        }
        if (i < count) {
          seen.emplace_back(reinterpret_cast<const char*>(item + 8), kKey);
          recnos.push_back(GetLe32(item + 4));
        }
      }
    };
    ASSERT_NO_FATAL_FAILURE(walk(root, 0));
    EXPECT_EQ(seen, keys);
    for (uint32_t i = 0; i < recnos.size(); ++i) EXPECT_EQ(recnos[i], i + 1);
    EXPECT_LE(partial_leaves, 2u);
    EXPECT_EQ(writer.pages_written(), (next - kPage) / kPage);
    ASSERT_EQ(FileClose(slot), kKbdOk);
  }
}

TEST_F(PageWriterTest, RefusesBadUse) {
  const EntryLayout layout = Layout();
  Encoder encoder(layout);
  WriterShape shape;
  shape.page_size = kPage;
  shape.key_length = kKey;
  shape.leaf_keys = 7;
  shape.interior_keys = 7;
  PageWriter writer(0xFFFF, shape, &encoder);
  EXPECT_EQ(writer.Start(0, 1, 1), kKbdErrCommand);
  kbdseterror(0);
  ASSERT_EQ(writer.Start(2, 1, 1), kKbdOk);
  uint8_t key[kKey] = {};
  ASSERT_EQ(writer.Add(key, 1), kKbdOk);
  uint32_t root = 0, next = 0;
  EXPECT_EQ(writer.Finish(&root, &next), kKbdErrCommand);  // one key short
  kbdseterror(0);
}

}  // namespace
}  // namespace qx::engine::btree
