// Randomized model test of NTX indexes (the shared harness of
// index_model.h): tens of thousands of adds and deletes with duplicates
// and prefixes against std::multimap, with the structural check after
// every batch. Small keys make deep trees (splits, borrows, merges, root
// collapse as the tree shrinks); long keys make pages of 8 keys. Equal
// keys keep insertion order: record numbers scattered over the adds show
// it; descending files walk, find and check in their own order. Seed:
// QX_TEST_SEED, else fixed; shown on failure.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "tests/engine/btree/index_model.h"
#include "tests/engine/ntx/ntx_test_util.h"

namespace qx::engine::testing {
namespace {

int CompareBytes(const uint8_t* a, const uint8_t* b, size_t n) {
  return std::memcmp(a, b, n);
}

int CompareBytesDescending(const uint8_t* a, const uint8_t* b, size_t n) {
  return -std::memcmp(a, b, n);
}

class NtxModelTest : public NtxTest {
 protected:
  void Run(uint16_t type, uint16_t key_length, uint32_t fixed_seed, int ops,
           int batch, bool scattered = false) {
    kbdsetsync(0);
    const uint32_t seed = TestSeed(fixed_seed);
    SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
    const std::string name = "model" + std::to_string(key_length) + ".ntx";
    int16_t h = CreateOpen(name, type, "K", key_length);
    std::mt19937 stems(seed);
    const bool descending = (type & kKbdKeyDescending) != 0;
    IndexModel model(
        TextModelKeys(key_length, stems,
                      descending ? CompareBytesDescending : CompareBytes),
        seed);
    if (scattered) model.ScatterRecordNumbers();
    auto check = [](int16_t index) { return NtxCheck(index).keys; };
    KeysSubject<int16_t> subject(NtxKeys(), h, check);
    ASSERT_NO_FATAL_FAILURE(model.Run(&subject, ops, batch));
    // The same entries backwards.
    std::vector<IndexEntry> forward = Walk(h);
    EXPECT_EQ(WalkBack(h), forward);
    ASSERT_EQ(kbdxclose(h), kKbdOk);
    // Reopened, the file holds the same tree; its pages are the tree's and
    // the free list's.
    ASSERT_EQ(kbdxopenx(&h, Path(name).c_str(), 0), kKbdOk);
    btree::CheckReport report = NtxCheck(h);
    EXPECT_EQ(FileSize(Path(name)),
              (report.tree_pages + report.chain_pages + 1) * 1024u);
    KeysSubject<int16_t> reopened(NtxKeys(), h, check);
    ASSERT_NO_FATAL_FAILURE(model.Verify(&reopened));
    ASSERT_EQ(kbdxclose(h), kKbdOk);
  }
};

TEST_F(NtxModelTest, ShortKeysMakeDeepTrees) {
  ASSERT_NO_FATAL_FAILURE(Run('C', 4, 20261205, 40000, 4000));
}

TEST_F(NtxModelTest, LongKeysMakeSmallPages) {
  ASSERT_NO_FATAL_FAILURE(Run('C', 100, 4242, 12000, 1500));
}

TEST_F(NtxModelTest, EqualKeysInInsertionOrder) {
  ASSERT_NO_FATAL_FAILURE(Run('C', 4, 777, 30000, 3000, true));
}

TEST_F(NtxModelTest, DescendingFiles) {
  ASSERT_NO_FATAL_FAILURE(
      Run('C' | kKbdKeyDescending, 4, 8128, 30000, 3000, true));
  ASSERT_NO_FATAL_FAILURE(
      Run('C' | kKbdKeyDescending, 100, 496, 8000, 1000, true));
}

}  // namespace
}  // namespace qx::engine::testing
