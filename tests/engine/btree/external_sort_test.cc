// The external sort: many runs through the work file merge into order,
// every item once; the key comparison with a whole-item tie-break; the
// single in-memory run; the buffer floor; the work file removed; two
// sorts at once.
#include "engine/btree/external_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "engine/collate/collation.h"
#include "engine/core/coding.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine::btree {
namespace {

class ExternalSortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    work_ = dir_.File("stacks.tmp");
  }
  void TearDown() override { kbdterm(); }

  // Sorts items through the sorter and returns them in merge order.
  std::vector<std::string> SortAll(const std::vector<std::string>& items,
                                   SortOptions options, uint32_t* runs) {
    ExternalSort sort;
    options.work_file = work_;
    EXPECT_EQ(sort.Start(options), kKbdOk);
    EXPECT_TRUE(std::filesystem::exists(work_));
    for (const std::string& item : items) {
      uint8_t* slot = nullptr;
      EXPECT_EQ(sort.Append(&slot), kKbdOk);
      std::memcpy(slot, item.data(), item.size());
    }
    EXPECT_EQ(sort.Finish(), kKbdOk);
    *runs = sort.run_count();
    std::vector<std::string> out;
    for (;;) {
      const uint8_t* item = nullptr;
      EXPECT_EQ(sort.Next(&item), kKbdOk);
      if (item == nullptr) break;
      out.emplace_back(reinterpret_cast<const char*>(item), options.item_size);
    }
    sort.Close();
    EXPECT_FALSE(std::filesystem::exists(work_));
    return out;
  }

  qx::testing::TempDir dir_;
  std::string work_;
};

TEST_F(ExternalSortTest, ManyRunsMergeIntoByteOrder) {
  std::mt19937 rng(42);
  std::vector<std::string> items;
  for (uint32_t i = 0; i < 50000; ++i) {
    std::string item(12, '\0');
    for (int j = 0; j < 8; ++j) item[j] = static_cast<char>('a' + rng() % 4);
    PutBe32(reinterpret_cast<uint8_t*>(item.data()) + 8, i + 1);
    items.push_back(item);
  }
  SortOptions options;
  options.item_size = 12;
  options.buffer_bytes = 2400;  // 200 items a run
  options.min_buffer_bytes = 2049;
  options.merge_bytes = 4096;  // portions of a few items per run
  uint32_t runs = 0;
  std::vector<std::string> out = SortAll(items, options, &runs);
  EXPECT_EQ(runs, 250u);
  std::vector<std::string> expected = items;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(out, expected);  // X1, X2

  // One run stays in memory; an empty input gives nothing.
  items.resize(150);
  out = SortAll(items, options, &runs);
  EXPECT_EQ(runs, 1u);
  expected.assign(items.begin(), items.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(out, expected);
  items.clear();
  EXPECT_TRUE(SortAll(items, options, &runs).empty());
  EXPECT_EQ(runs, 0u);

  // Items shorter than, within and longer than the cached sixteen-byte
  // prefix, of few distinct bytes (long equal prefixes).
  const uint8_t kBytes[] = {0x00, 0x41, 0xFE, 0xFF};
  for (uint32_t size : {5u, 9u, 20u, 37u}) {
    items.clear();
    for (uint32_t i = 0; i < 20000; ++i) {
      std::string item(size, '\0');
      for (uint32_t j = 0; j + 4 < size; ++j) {
        // Mostly 0xFF in the prefix: many items tie with a used-up run.
        const uint32_t pick = rng() % 8;
        item[j] = static_cast<char>(j < 16 ? (pick == 0 ? 0xFE : 0xFF)
                                           : kBytes[pick % 4]);
      }
      PutBe32(reinterpret_cast<uint8_t*>(item.data()) + size - 4, i + 1);
      items.push_back(item);
    }
    options.item_size = size;
    options.buffer_bytes = 150 * size;
    options.min_buffer_bytes = 1;
    out = SortAll(items, options, &runs);
    EXPECT_GT(runs, 100u) << size;
    expected = items;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(out, expected) << size;  // X1, X2
  }
}

TEST_F(ExternalSortTest, KeyOrderWithWholeItemTieBreak) {
  kbdsetsort(0, 1);
  // Keys of 3 bytes; 0x01 and 0x02 are missing from the collation table,
  // so "A\x01x" and "A\x02x" compare equal as keys and the whole item
  // (bytes, then record number) decides.
  const char* keys[] = {"b  ",    "A\x02x", "Z  ", "\xC4  ",
                        "A\x01x", "B  ",    "a  ", "A\x01x"};
  std::vector<std::string> items;
  for (uint32_t i = 0; i < 8; ++i) {
    for (uint32_t copy = 0; copy < 400; ++copy) {
      std::string item(keys[i], 3);
      item.resize(7);
      PutBe32(reinterpret_cast<uint8_t*>(item.data()) + 3,
              1000 - i * 100 + copy);
      items.push_back(item);
    }
  }
  std::shuffle(items.begin(), items.end(), std::mt19937(7));
  SortOptions options;
  options.item_size = 7;
  options.order.compare_key = CollateCompare;
  options.order.key_length = 3;
  options.buffer_bytes = 2100;
  uint32_t runs = 0;
  std::vector<std::string> out = SortAll(items, options, &runs);
  EXPECT_GT(runs, 5u);
  std::vector<std::string> expected = items;
  std::sort(expected.begin(), expected.end(),
            [](const std::string& a, const std::string& b) {
              int c =
                  CollateCompare(reinterpret_cast<const uint8_t*>(a.data()),
                                 reinterpret_cast<const uint8_t*>(b.data()), 3);
              return c != 0 ? c < 0 : a < b;
            });
  EXPECT_EQ(out, expected);
  // Upper case before lower case, Ä right after A.
  EXPECT_EQ(out.front().substr(0, 3), std::string("A\x01x", 3));
  kbdsetsort(1, 1);
}

TEST_F(ExternalSortTest, RefusesABufferBelowTheFloor) {
  ExternalSort sort;
  SortOptions options;
  options.item_size = 24;
  options.work_file = work_;
  options.buffer_bytes = 2000;
  options.min_buffer_bytes = 2049;
  EXPECT_EQ(sort.Start(options), kKbdErrNoMemory);
  kbdseterror(0);
  EXPECT_FALSE(std::filesystem::exists(work_));
  options.buffer_bytes = 65000;
  ASSERT_EQ(sort.Start(options), kKbdOk);
  EXPECT_EQ(sort.items_per_run(), 65000u / 24);
  // Out of turn: Next before Finish.
  const uint8_t* item = nullptr;
  EXPECT_EQ(sort.Next(&item), kKbdErrCommand);
  kbdseterror(0);
}

// Two sorts at once in one directory (two builds, of this process or of
// two): the second takes its own work file instead of truncating the
// first's. A file left behind by a dead build is taken over and removed.
TEST_F(ExternalSortTest, SortsRunningTogetherKeepTheirOwnWorkFiles) {
  {
    std::FILE* stale = std::fopen(work_.c_str(), "wb");
    ASSERT_NE(stale, nullptr);
    std::fputs("left by a dead build", stale);
    std::fclose(stale);
  }
  SortOptions options;
  options.item_size = 8;
  options.buffer_bytes = 2400;  // 300 items a run: both sorts spill
  options.merge_bytes = 4096;
  options.work_file = work_;
  ExternalSort first, second;
  ASSERT_EQ(first.Start(options), kKbdOk);
  ASSERT_EQ(second.Start(options), kKbdOk);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("stacks1.tmp")));
  std::vector<std::string> in_first, in_second;
  for (uint32_t i = 0; i < 3000; ++i) {
    std::string a(8, '\0'), b(8, '\0');
    PutBe32(reinterpret_cast<uint8_t*>(a.data()), (i * 7919u) % 3001u);
    PutBe32(reinterpret_cast<uint8_t*>(b.data()) + 4, (i * 104729u) % 3001u);
    uint8_t* slot = nullptr;
    ASSERT_EQ(first.Append(&slot), kKbdOk);
    std::memcpy(slot, a.data(), 8);
    ASSERT_EQ(second.Append(&slot), kKbdOk);
    std::memcpy(slot, b.data(), 8);
    in_first.push_back(a);
    in_second.push_back(b);
  }
  ASSERT_EQ(first.Finish(), kKbdOk);
  ASSERT_EQ(second.Finish(), kKbdOk);
  for (auto [sort, in] :
       {std::pair{&first, &in_first}, std::pair{&second, &in_second}}) {
    std::vector<std::string> out;
    for (;;) {
      const uint8_t* item = nullptr;
      ASSERT_EQ(sort->Next(&item), kKbdOk);
      if (item == nullptr) break;
      out.emplace_back(reinterpret_cast<const char*>(item), 8);
    }
    std::sort(in->begin(), in->end());
    EXPECT_EQ(out, *in);
    sort->Close();
  }
  EXPECT_FALSE(std::filesystem::exists(work_));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("stacks1.tmp")));
}

}  // namespace
}  // namespace qx::engine::btree
