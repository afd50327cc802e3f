// Two processes on one IDX file, in both layouts: the scenarios every
// index format shares (tests/engine/index/share_harness.h) over IDX. A
// compact file's reader keeps the nodes of its clean read calls while the
// change counter and free list stay the same, and tries them without the
// lock; a standard file's reader reads every node afresh. Either way each
// process sees the other's changes at its next call.
#include <gtest/gtest.h>

#include <string>

#include "tests/engine/idx/idx_test_util.h"
#include "tests/engine/index/share_harness.h"

namespace qx::engine::testing {
namespace {

// An IDX file of layout type (standard 'C', or compact) holding one key
// of 12 characters.
template <uint16_t type>
struct IdxShare : ShareFormat<IdxShare<type>, int16_t> {
  using Index = OpenIndex<int16_t>;
  static constexpr int kKeys = 1500;
  static constexpr const char* kSuffix = ".idx";
  static constexpr uint16_t kShared = 0x400;
  static constexpr int16_t kSeekPastEnd = kKbdKeyNotFoundEnd;
  static IndexKeys<int16_t> Keys() { return IdxKeys(); }
  static void CreateOpen(const std::string& path, uint16_t mode, Index* x) {
    ASSERT_EQ(kbdicreate(path.c_str(), type, "K", 12), kKbdOk);
    ASSERT_EQ(Open(path, mode, x), kKbdOk);
  }
  static int16_t Open(const std::string& path, uint16_t mode, Index* x) {
    const int16_t status =
        kbdiopenx(&x->file, path.c_str(), mode | kKbdFoxpro2);
    x->keys = x->file;
    return status;
  }
  static int16_t Close(int16_t file) { return kbdiclose(file); }
  static uint64_t Check(const Index& x) { return IdxCheck(x.keys).keys; }
  static int16_t Seek(int16_t h, void* key, uint32_t* recno) {
    return kbdiseek(h, key, recno, kKbdSeekKey);
  }
};

using IdxLayouts =
    ::testing::Types<IdxShare<'C'>, IdxShare<'C' | kKbdKeyCompact>>;

// The instances' names: the layout.
struct LayoutName {
  template <typename Format>
  static std::string GetName(int i) {
    return i == 0 ? "Standard" : "Compact";
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Idx, IndexShareTest, IdxLayouts, LayoutName);
INSTANTIATE_TYPED_TEST_SUITE_P(Idx, IndexWalkShareTest, IdxLayouts, LayoutName);

}  // namespace
}  // namespace qx::engine::testing
