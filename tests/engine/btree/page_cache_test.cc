// The page cache: most-recently-used eviction over few buffers, pins,
// write-through, bounds and read-only refusals, Clear, held reads, and
// the middle insertion of large caches with their id index under churn.
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
    for (int n = 0; n < 64; ++n)
      bytes += std::string(kPage, static_cast<char>(n));
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
  cache.SetBounds(1, 200);
  EXPECT_EQ(cache.Load(150, &page), kKbdErrRead);
  kbdseterror(0);
  EXPECT_EQ(cache.cached_pages(), 0);
  // Fewer buffers than the format needs.
  PageCache small;
  EXPECT_EQ(small.Init(slot_, kPage, kPage, {10, 2}, 3), kKbdErrNoMemory);
  kbdseterror(0);
}

TEST_F(PageCacheTest, HeldReadsUseOnlyWhatIsCached) {
  PageCache cache;
  ASSERT_EQ(cache.Init(slot_, kPage, kPage, {8, 8, true}, 3), kKbdOk);
  cache.SetBounds(1, 64);
  PageRef page;
  ASSERT_EQ(cache.Load(3, &page), kKbdOk);
  page.Reset();
  const uint64_t reads = cache.reads();
  cache.HoldReads(true);
  ASSERT_EQ(cache.Load(3, &page), kKbdOk);  // kept: no read
  EXPECT_EQ(page.data()[0], 3);
  page.Reset();
  EXPECT_FALSE(cache.TakeMissed());
  // A page not kept is not read, and no error is left behind; nor may a
  // page be created or written.
  EXPECT_EQ(cache.Load(4, &page), kPageNotCached);
  EXPECT_EQ(cache.Create(5, &page), kPageNotCached);
  EXPECT_EQ(kbdgeterror(), kKbdOk);
  EXPECT_TRUE(cache.TakeMissed());
  EXPECT_FALSE(cache.TakeMissed());
  cache.HoldReads(false);
  EXPECT_EQ(cache.reads(), reads);
  ASSERT_EQ(cache.Load(4, &page), kKbdOk);
  EXPECT_EQ(cache.reads(), reads + 1);
}

TEST_F(PageCacheTest, PagesUsedAgainOutliveThoseReadOnce) {
  PageCache cache;
  ASSERT_EQ(cache.Init(slot_, kPage, kPage, {16, 16, true}, 3), kKbdOk);
  cache.SetBounds(1, 64);
  std::vector<std::string> problems;
  const auto touch = [&](uint32_t id) {
    PageRef page;
    ASSERT_EQ(cache.Load(id, &page), kKbdOk);
    ASSERT_EQ(page.data()[0], id);
  };
  // Pages 1..4 as the upper levels of a tree: used on every descent;
  // pages 10..63 as leaves, each used once.
  for (uint32_t leaf = 10; leaf < 64; ++leaf) {
    for (uint32_t upper = 1; upper <= 4; ++upper) touch(upper);
    touch(leaf);
    ASSERT_TRUE(cache.Check(&problems));
  }
  const uint64_t reads = cache.reads();
  for (uint32_t upper = 1; upper <= 4; ++upper) touch(upper);
  EXPECT_EQ(cache.reads(), reads);  // never evicted
  // Churn over every id: the index finds each cached page, and only it.
  uint32_t x = 7;
  for (int n = 0; n < 2000; ++n) {
    x = x * 1103515245u + 12345u;
    touch(1 + (x >> 16) % 63);
    if (n % 100 == 0) {
      ASSERT_TRUE(cache.Check(&problems));
      ASSERT_EQ(cache.Clear(), kKbdOk);
    }
  }
  EXPECT_TRUE(cache.Check(&problems));
  for (const std::string& p : problems) ADD_FAILURE() << p;
}

}  // namespace
}  // namespace qx::engine::btree
