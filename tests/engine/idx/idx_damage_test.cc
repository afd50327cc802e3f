// Damaged IDX files end walks with an error instead of going round: two
// fuzzing finds (a leaf entry of record number 0; character keys holding
// NULs, which a step took as shorter texts and so never left) and a leaf
// whose right link points at itself. A tail shorter than a block, left by
// a node write cut short, is overwritten by the next new node.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/core/coding.h"
#include "engine/fox/fox_format.h"
#include "engine/fox/fox_tree.h"
#include "engine/idx/idx_check.h"
#include "qx/engine.h"
#include "tests/engine/btree/index_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {
namespace {

using namespace qx::engine::fox;

class IdxDamageTest : public EngineDirTest {
 protected:
  static std::string Regression(const char* name) {
    return qx::testing::SourceDir() + "/tests/fuzz/regressions/" + name;
  }
  // Both walks end, with *forward and *backward their last statuses.
  static void Walks(int16_t h, int16_t* forward, int16_t* backward) {
    const WalkEnd f = WalkToEnd<int16_t>(h, kbdifirst, kbdinext, 5000);
    EXPECT_TRUE(f.ended) << f.entries;
    *forward = f.status;
    const WalkEnd b = WalkToEnd<int16_t>(h, kbdilast, kbdiprev, 5000);
    EXPECT_TRUE(b.ended) << b.entries;
    *backward = b.status;
  }
};

TEST_F(IdxDamageTest, FuzzFindsEndTheirWalks) {
  int16_t forward = 0, backward = 0;
  // A compact index of 300 keys whose last leaf holds an entry of record
  // number 0 and keys out of order.
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdiopenx(&h, Regression("idx-entry-recno-zero.idx").c_str(),
                      kKbdFoxpro2 | uint16_t{kKbdModeReadOnly}),
            kKbdOk);
  Walks(h, &forward, &backward);
  EXPECT_EQ(forward, kKbdErrCorrupt);
  EXPECT_EQ(backward, kKbdErrCorrupt);
  btree::CheckReport report;
  EXPECT_EQ(CheckIdx(h, &report), kKbdOk);
  EXPECT_FALSE(report.problems.empty());
  kbdseterror(0);
  EXPECT_EQ(kbdiclose(h), kKbdOk);

  // Character keys whose stored bytes hold NULs: every step hands out the
  // stored key and takes it back whole, so both walks reach their end.
  ASSERT_EQ(kbdiopenx(&h, Regression("idx-key-with-nul.idx").c_str(),
                      kKbdFoxpro2 | uint16_t{kKbdModeReadOnly}),
            kKbdOk);
  Walks(h, &forward, &backward);
  EXPECT_EQ(forward, kKbdNoMoreKeys);
  EXPECT_EQ(backward, kKbdNoMoreKeys);
  EXPECT_EQ(kbdiclose(h), kKbdOk);
}

TEST_F(IdxDamageTest, LeafLinkedToItselfEndsWithAnError) {
  const std::string path = Path("loop.idx");
  ASSERT_EQ(kbdicreate(path.c_str(), 'C' | kKbdKeyCompact, "NAME", 8), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdiopenx(&h, path.c_str(), kKbdFoxpro2), kKbdOk);
  for (int i = 0; i < 600; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%08d", (i * 7919) % 1000);
    ASSERT_EQ(kbdiadd(h, key, static_cast<uint32_t>(i + 1)), kKbdOk);
  }
  ASSERT_EQ(kbdiclose(h), kKbdOk);
  // The first leaf (no left neighbour) gets itself as its right neighbour.
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  auto* data = reinterpret_cast<uint8_t*>(bytes.data());
  bool patched = false;
  for (size_t node = 1024; node + 512 <= bytes.size() && !patched;
       node += 512) {
    const uint16_t attributes = GetLe16(data + node + kFoxNodeAttributesOffset);
    if ((attributes & kFoxAttrLeaf) == 0 ||
        GetLe32(data + node + kFoxNodeLeftOffset) != 0xFFFFFFFFu ||
        GetLe32(data + node + kFoxNodeRightOffset) == 0xFFFFFFFFu)
      continue;
    PutLe32(data + node + kFoxNodeRightOffset, static_cast<uint32_t>(node));
    patched = true;
  }
  ASSERT_TRUE(patched);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  ASSERT_EQ(
      kbdiopenx(&h, path.c_str(), kKbdFoxpro2 | uint16_t{kKbdModeReadOnly}),
      kKbdOk);
  const WalkEnd forward = WalkToEnd<int16_t>(h, kbdifirst, kbdinext, 5000);
  EXPECT_TRUE(forward.ended);
  EXPECT_EQ(forward.status, kKbdErrCorrupt);
  btree::CheckReport report;
  EXPECT_EQ(CheckIdx(h, &report), kKbdOk);
  EXPECT_FALSE(report.problems.empty());
  kbdseterror(0);
}

// A node write cut short at the end of the file leaves a tail shorter than
// a block, which no tree refers to. The next new node goes over it: past
// it, the tail would become a block that is neither in the tree nor free.
TEST_F(IdxDamageTest, TornTailIsOverwrittenByTheNextNode) {
  for (uint16_t type : {uint16_t{'C'}, uint16_t{'C' | kKbdKeyCompact}}) {
    SCOPED_TRACE(type);
    const std::string path = Path("torn.idx");
    ASSERT_EQ(kbdicreate(path.c_str(), type, "NAME", 8), kKbdOk);
    {
      std::ofstream out(path, std::ios::binary | std::ios::app);
      out.write(std::string(256, 'x').data(), 256);
    }
    int16_t h = kKbdNoHandle;
    ASSERT_GE(kbdiopenx(&h, path.c_str(), kKbdFoxpro2), 0);
    for (int i = 0; i < 200; ++i) {  // splits: new nodes
      char key[16];
      std::snprintf(key, sizeof key, "%08d", (i * 7919) % 1000);
      ASSERT_EQ(kbdiadd(h, key, static_cast<uint32_t>(i + 1)), kKbdOk);
    }
    btree::CheckReport report;
    EXPECT_EQ(CheckIdx(h, &report), kKbdOk);
    EXPECT_EQ(report.problem_count, 0u)
        << (report.problems.empty() ? "" : report.problems[0]);
    EXPECT_EQ(kbdiclose(h), kKbdOk);
    EXPECT_EQ(std::filesystem::file_size(path) % kFoxBlockSize, 0u);
  }
}

}  // namespace
}  // namespace qx::engine::testing
