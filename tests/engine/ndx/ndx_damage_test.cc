// A damaged NDX file whose pages lead back to the root (the same code
// serves MDX tags): walks, finds and the check end with an error or a
// report instead of going round.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "engine/core/coding.h"
#include "engine/ndx/ndx_check.h"
#include "engine/ndx/ndx_format.h"
#include "tests/engine/ndx/ndx_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {
namespace {

using NdxDamageTest = NdxTest;

TEST_F(NdxDamageTest, PageLinkBackToTheRootEndsWithAnError) {
  int16_t h = CreateOpen("loop.ndx", 'C', "NAME", 8);
  for (int i = 0; i < 300; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%08d", (i * 7919) % 1000);
    ASSERT_EQ(kbdnkadd(h, key, static_cast<uint32_t>(i + 1)), kKbdOk);
  }
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  const std::string path = Path("loop.ndx");
  const std::string original = qx::testing::ReadWholeFile(path);
  const auto* bytes = reinterpret_cast<const uint8_t*>(original.data());
  const uint32_t root = GetLe32(bytes + kNdxRootOffset);
  const size_t root_at = static_cast<size_t>(root) * kNdxPageSize;
  const uint32_t count = bytes[root_at + kNdxCountOffset];
  const uint32_t entry = NdxEntrySize(8);
  ASSERT_GT(count, 0u);
  // The root's first child, then its last (the pointer after its keys),
  // made the root itself.
  for (uint32_t slot : {0u, count}) {
    std::string damaged = original;
    PutLe32(reinterpret_cast<uint8_t*>(damaged.data()) + root_at +
                kNdxEntriesOffset + slot * entry + kNdxChildOffset,
            root);
    qx::testing::WriteWholeFile(path, damaged);
    ASSERT_EQ(kbdnopenx(&h, path.c_str(), 0), kKbdOk) << slot;
    const WalkEnd forward = WalkToEnd<int16_t>(h, kbdnkfirst, kbdnknext, 1000);
    EXPECT_TRUE(forward.ended) << slot;
    EXPECT_LT(forward.status, 0) << slot;
    const WalkEnd backward = WalkToEnd<int16_t>(h, kbdnklast, kbdnkprev, 1000);
    EXPECT_TRUE(backward.ended) << slot;
    EXPECT_LT(backward.status, 0) << slot;
    char key[16] = "00000500";
    uint32_t recno = 0;
    kbdseterror(0);
    EXPECT_NE(kbdnkfind(h, key, &recno, kKbdFindFirstEqual), kKbdOk);
    kbdseterror(0);
    btree::CheckReport report;
    EXPECT_EQ(CheckNdx(h, &report), kKbdOk);
    EXPECT_FALSE(report.problems.empty()) << slot;
    kbdseterror(0);
    ASSERT_EQ(kbdnclose(h), kKbdOk);
  }
}

}  // namespace
}  // namespace qx::engine::testing
