// Damaged NTX files end walks with an error instead of going round: an
// entry of record number 0 (a fuzzing find), and a page that points back
// at the root.
#include <gtest/gtest.h>

#include <string>

#include "engine/ntx/ntx_format.h"
#include "tests/engine/ntx/ntx_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {
namespace {

class NtxDamageTest : public NtxTest {
 protected:
  // Walks both ways; each walk must end within max_steps and the check
  // must run through.
  static void ExpectWalksEnd(int16_t h, uint64_t max_steps) {
    const WalkEnd forward =
        WalkToEnd<int16_t>(h, kbdxfirst, kbdxnext, max_steps);
    EXPECT_TRUE(forward.ended) << forward.entries;
    const WalkEnd backward =
        WalkToEnd<int16_t>(h, kbdxlast, kbdxprev, max_steps);
    EXPECT_TRUE(backward.ended) << backward.entries;
    btree::CheckReport report;
    EXPECT_GE(CheckNtx(h, &report), 0);
    kbdseterror(0);
  }
};

TEST_F(NtxDamageTest, EntryOfRecordZeroIsCorrupt) {
  // Header of a 5-byte character key and one leaf whose entries hold keys
  // out of order, one of them NULs with record number 0.
  const std::string path = qx::testing::SourceDir() +
                           "/tests/fuzz/regressions/ntx-entry-recno-zero.ntx";
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(
      kbdxopenx(&h, path.c_str(), kKbdClipper | uint16_t{kKbdModeReadOnly}),
      kKbdOk);
  const WalkEnd forward = WalkToEnd<int16_t>(h, kbdxfirst, kbdxnext, 100);
  EXPECT_TRUE(forward.ended);
  EXPECT_EQ(forward.status, kKbdErrCorrupt);
  const WalkEnd backward = WalkToEnd<int16_t>(h, kbdxlast, kbdxprev, 100);
  EXPECT_TRUE(backward.ended);
  EXPECT_EQ(backward.status, kKbdErrCorrupt);
}

TEST_F(NtxDamageTest, PageLinkBackToTheRootEndsWithAnError) {
  int16_t h = CreateOpen("loop.ntx", 'C', "NAME", 8);
  for (int i = 0; i < 300; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%08d", (i * 7919) % 1000);
    ASSERT_EQ(kbdxadd(h, key, static_cast<uint32_t>(i + 1)), kKbdOk);
  }
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  const std::string path = Path("loop.ntx");
  const std::string bytes = ReadFile(path);
  const uint32_t root = Word(bytes, kNtxRootOffset, 4);
  // The root's first item leads to the root itself.
  const uint32_t first_item = Word(bytes, root + kNtxTableOffset, 2);
  PatchWord(path, root + first_item + kNtxItemChildOffset, root, 4);
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0), kKbdOk);
  ExpectWalksEnd(h, 1000);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  // The other way round: the root's last child made the root.
  PatchWord(path, root + first_item + kNtxItemChildOffset,
            Word(bytes, root + first_item + kNtxItemChildOffset, 4), 4);
  const uint32_t count = Word(bytes, root + kNtxCountOffset, 2);
  const uint32_t last_item = Word(bytes, root + kNtxTableOffset + 2 * count, 2);
  PatchWord(path, root + last_item + kNtxItemChildOffset, root, 4);
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0), kKbdOk);
  ExpectWalksEnd(h, 1000);
}

}  // namespace
}  // namespace qx::engine::testing
