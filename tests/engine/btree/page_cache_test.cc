// The per-call page cache: most-recently-used eviction over few buffers,
// pins, write-through, bounds and read-only refusals, and Clear.
#include "engine/btree/page_cache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/fileio/file_layer.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::btree {
namespace {

constexpr uint32_t kPage = 64;

class PageCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    // Page n is filled with the byte n.
    std::string bytes;
    for (int n = 0; n < 8; ++n) bytes += std::string(kPage, static_cast<char>(n));
    qx::testing::WriteWholeFile(dir_.File("p.bin"), bytes);
    uint16_t flags = 0;
    ASSERT_EQ(FileOpen(&slot_, dir_.File("p.bin").c_str(), 0x401, &flags),
              kKbdOk);
  }
  void TearDown() override {
    FileClose(slot_);
    kbdterm();
  }
  uint8_t FileByte(uint32_t page) {
    return static_cast<uint8_t>(
        qx::testing::ReadWholeFile(dir_.File("p.bin"))[page * kPage]);
  }

  qx::testing::TempDir dir_;
  uint16_t slot_ = 0xFFFF;
};

TEST_F(PageCacheTest, EvictsLeastRecentlyUsedUnpinnedPages) {
  PageCache cache;
  ASSERT_EQ(cache.Init(slot_, kPage, kPage, {10, 3}, 3), kKbdOk);
  cache.SetBounds(1, 8);
  std::vector<std::string> problems;
  {
    PageRef a, b, c;
    ASSERT_EQ(cache.Load(1, &a), kKbdOk);
    ASSERT_EQ(cache.Load(2, &b), kKbdOk);
    ASSERT_EQ(cache.Load(3, &c), kKbdOk);
    EXPECT_EQ(a.data()[0], 1);
    EXPECT_EQ(c.data()[kPage - 1], 3);
    // Every buffer pinned: a fourth page cannot come in.
    PageRef d;
    EXPECT_EQ(cache.Load(4, &d), kKbdErrCorrupt);
    kbdseterror(0);
    // A pinned page loaded again shares its buffer.
    PageRef a2;
    ASSERT_EQ(cache.Load(1, &a2), kKbdOk);
    EXPECT_EQ(a2.data(), a.data());
    EXPECT_TRUE(cache.Check(&problems));
  }
  EXPECT_EQ(cache.cached_pages(), 3);
  {
    // Page 1 was used last, so page 2 is the least recently used: loading
    // page 4 evicts it.
    PageRef d;
    ASSERT_EQ(cache.Load(4, &d), kKbdOk);
    EXPECT_EQ(d.data()[0], 4);
  }
  EXPECT_EQ(cache.Write(2), kKbdErrPageNotLoaded);
  kbdseterror(0);
  EXPECT_EQ(cache.Write(1), kKbdOk);
  EXPECT_TRUE(cache.Check(&problems));
  EXPECT_EQ(cache.Clear(), kKbdOk);
  EXPECT_EQ(cache.cached_pages(), 0);
  EXPECT_EQ(cache.Write(1), kKbdErrNoPageLoaded);
  kbdseterror(0);
  for (const std::string& p : problems) ADD_FAILURE() << p;
}

TEST_F(PageCacheTest, WritesThroughAndRefusesWhatItMust) {
  PageCache cache;
  ASSERT_EQ(cache.Init(slot_, kPage, kPage, {10, 3}, 3), kKbdOk);
  cache.SetBounds(1, 8);
  {
    PageRef page;
    ASSERT_EQ(cache.Load(5, &page), kKbdOk);
    page.data()[0] = 0x55;
    ASSERT_EQ(cache.Write(page), kKbdOk);
  }
  EXPECT_EQ(FileByte(5), 0x55);  // at once, not at Clear
  {
    // A created page is zero-filled and dirty: Clear writes it.
    PageRef page;
    ASSERT_EQ(cache.Create(6, &page), kKbdOk);
    EXPECT_EQ(page.data()[0], 0);
    page.data()[0] = 0x66;
  }
  EXPECT_EQ(FileByte(6), 6);
  ASSERT_EQ(cache.Clear(), kKbdOk);
  EXPECT_EQ(FileByte(6), 0x66);
  // Bounds: [1, 8).
  PageRef page;
  EXPECT_EQ(cache.Load(0, &page), kKbdErrSeek);
  kbdseterror(0);
  EXPECT_EQ(cache.Load(8, &page), kKbdErrSeek);
  kbdseterror(0);
  // Read-only.
  cache.SetReadOnly(true);
  ASSERT_EQ(cache.Load(3, &page), kKbdOk);
  EXPECT_EQ(cache.Write(page), kKbdErrReadOnly);
  kbdseterror(0);
  page.Reset();
  EXPECT_EQ(cache.Clear(), kKbdOk);
  // A read past the end of the file leaves no page behind.
  cache.SetBounds(1, 100);
  EXPECT_EQ(cache.Load(50, &page), kKbdErrRead);
  kbdseterror(0);
  EXPECT_EQ(cache.cached_pages(), 0);
  // Fewer buffers than the format needs.
  PageCache small;
  EXPECT_EQ(small.Init(slot_, kPage, kPage, {10, 2}, 3), kKbdErrNoMemory);
  kbdseterror(0);
}

}  // namespace
}  // namespace qx::engine::btree
