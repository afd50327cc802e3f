// Two processes on one NTX file: the scenarios every index format shares
// (tests/engine/index/share_harness.h) over NTX. Pages kept from earlier
// calls serve only while the header words are unchanged; freed pages go to
// the one free list, which both processes take from.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/engine/index/share_harness.h"
#include "tests/engine/ntx/ntx_test_util.h"

namespace qx::engine::testing {
namespace {

// An NTX file holds one key, here of 8 characters. After the child has
// closed, the parent adds every second key again: while the free list
// holds the two pages a split may need, the file does not grow.
struct NtxShare : ShareFormat<NtxShare, int16_t> {
  static constexpr int kKeys = 1500;
  static constexpr const char* kSuffix = ".ntx";
  static constexpr uint16_t kShared = 0x400;
  static constexpr int16_t kSeekPastEnd = kKbdKeyNotFoundEnd;
  static IndexKeys<int16_t> Keys() { return NtxKeys(); }
  static void CreateOpen(const std::string& path, uint16_t mode, Index* x) {
    ASSERT_EQ(kbdxcreate(path.c_str(), 'C', "K", 8, 0), kKbdOk);
    ASSERT_EQ(Open(path, mode, x), kKbdOk);
  }
  static int16_t Open(const std::string& path, uint16_t mode, Index* x) {
    const int16_t status = kbdxopenx(&x->file, path.c_str(), mode);
    x->keys = x->file;
    return status;
  }
  static int16_t Close(int16_t file) { return kbdxclose(file); }
  static uint64_t Check(const Index& x) { return NtxCheck(x.keys).keys; }
  static int16_t Seek(int16_t h, void* key, uint32_t* recno) {
    return kbdxseek(h, key, recno, kKbdSeekKey);
  }

  static void ExpectFreedPages(const Index& x) {
    EXPECT_GT(NtxCheck(x.keys).chain_pages, 0u);
  }
  static void AfterSharing(Index* x, const std::string& path,
                           std::set<std::string>* keys) {
    using Pairs = TwoProcessKeys<kKeys>;
    for (int i = 0; i < kKeys; i += 2) {
      const uint32_t free_pages = NtxCheck(x->keys).chain_pages;
      const uint64_t size = std::filesystem::file_size(path);
      ASSERT_EQ(Keys().Add(x->keys, Pairs::Key(i, 0), Pairs::Recno(i, 0)),
                kKbdOk);
      if (free_pages >= 2) {
        ASSERT_EQ(std::filesystem::file_size(path), size) << i;
      }
      keys->insert(Pairs::Key(i, 0));
    }
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Ntx, IndexShareTest, NtxShare);
INSTANTIATE_TYPED_TEST_SUITE_P(Ntx, IndexWalkShareTest, NtxShare);

}  // namespace
}  // namespace qx::engine::testing
