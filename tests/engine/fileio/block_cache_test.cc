// Blocks kept in memory for a file opened without sharing: every read
// through the file layer must answer what the file holds, across random
// writes (inside, across and past block ends, with gaps), cuts, reads past
// the end and evictions, and every size query what the file measures.
#include "engine/fileio/block_cache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/core/last_error.h"
#include "engine/core/status.h"
#include "engine/fileio/file_layer.h"
#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

class BlockCacheTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(kbdinit(32767, 4), kKbdOk); }
  void TearDown() override { kbdterm(); }

  // A file of size bytes of a known pattern; its bytes in *model.
  std::string MakeFile(const char* name, uint32_t size,
                       std::vector<uint8_t>* model) {
    model->resize(size);
    for (uint32_t i = 0; i < size; ++i)
      (*model)[i] = static_cast<uint8_t>(i * 7 + 3);
    std::string path = dir_.File(name);
    qx::testing::WriteWholeFile(path,
                                std::string(model->begin(), model->end()));
    return path;
  }

  qx::testing::TempDir dir_;
};

// Random operations through the file layer on a slot that keeps its
// blocks, checked against a model of the file's bytes, then the file
// itself against the model after the close.
TEST_F(BlockCacheTest, ReadsAnswerWhatTheFileHolds) {
  std::vector<uint8_t> model;
  const std::string path =
      MakeFile("kept.dat", 5 * kKeptBlockSize + 123, &model);
  uint16_t slot = 0, flags = 0;
  ASSERT_EQ(FileOpen(&slot, path.c_str(), 0, &flags), kKbdOk);
  ASSERT_TRUE(FileOpenedAlone(slot));
  FileKeepBlocks(slot);
  ASSERT_NE(KeptOfOpenSlot(slot), nullptr);

  std::mt19937 random(18);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  std::vector<uint8_t> got;
  for (int step = 0; step < 10000; ++step) {
    const uint32_t size = static_cast<uint32_t>(model.size());
    const uint32_t what = pick(100);
    // Offsets near block ends half of the time.
    uint32_t at =
        pick(2) ? pick(size + 200) : (pick(7) * kKeptBlockSize + pick(80)) - 40;
    at = std::min(at, 7 * kKeptBlockSize);
    const uint32_t count =
        1 + (pick(4) == 0 ? pick(3 * kKeptBlockSize) : pick(600));
    if (what < 60) {
      got.assign(count, 0xEE);
      const int16_t status = FileReadAt(slot, at, got.data(), count);
      if (uint64_t{at} + count <= size) {
        ASSERT_EQ(status, kKbdOk) << "step " << step;
        ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin() + at))
            << "step " << step << " at " << at << " count " << count;
      } else {
        ASSERT_EQ(status, kKbdErrRead) << "step " << step;  // past the end
        kbdseterror(0);
      }
    } else if (what < 95) {
      std::vector<uint8_t> bytes(count);
      for (auto& b : bytes) b = static_cast<uint8_t>(random());
      ASSERT_EQ(FileWriteAt(slot, at, bytes.data(), count), kKbdOk);
      if (uint64_t{at} + count > model.size()) model.resize(at + count, 0);
      std::copy(bytes.begin(), bytes.end(), model.begin() + at);
    } else if (what < 97) {
      const uint32_t cut = pick(size + 1);
      FileCut(slot, cut);
      model.resize(cut);
    } else {
      uint32_t measured = 0;  // kept in memory after the first query
      ASSERT_EQ(FileSize(slot, &measured), kKbdOk);
      ASSERT_EQ(measured, size) << "step " << step;
    }
  }
  ASSERT_EQ(FileClose(slot), kKbdOk);
  const std::string bytes = qx::testing::ReadWholeFile(path);
  ASSERT_EQ(bytes.size(), model.size());
  EXPECT_TRUE(std::equal(
      model.begin(), model.end(), bytes.begin(),
      [](uint8_t m, char b) { return m == static_cast<uint8_t>(b); }));

  // A shared slot keeps nothing.
  ASSERT_EQ(FileOpen(&slot, path.c_str(), kKbdModeShared, &flags), kKbdOk);
  EXPECT_FALSE(FileOpenedAlone(slot));
  FileKeepBlocks(slot);
  EXPECT_EQ(KeptOfOpenSlot(slot), nullptr);
  ASSERT_EQ(FileClose(slot), kKbdOk);
}

// Under a budget of three blocks a cache reuses its oldest blocks, and
// gives every byte back when it ends; reads it cannot keep go to the file.
TEST_F(BlockCacheTest, BudgetBoundsTheKeptBlocks) {
  std::vector<uint8_t> model;
  const std::string path = MakeFile("budget.dat", 9 * kKeptBlockSize, &model);
  platform::File* file = platform::OpenFile(
      path.c_str(), platform::kFileOpenExisting | platform::kFileRead);
  ASSERT_NE(file, nullptr);
  std::size_t kept_bytes = 0;
  {
    BlockCache cache(&kept_bytes, 3 * kKeptBlockSize);
    std::mt19937 random(3);
    std::vector<uint8_t> got(100);
    for (int step = 0; step < 2000; ++step) {
      const uint32_t at =
          static_cast<uint32_t>(random() % (model.size() - 100));
      if (!cache.Copy(at, got.data(), 100)) {
        ASSERT_TRUE(cache.Fill(file, at, got.data(), 100)) << step;
      }
      ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin() + at));
      ASSERT_LE(kept_bytes, 3 * kKeptBlockSize);
    }
    EXPECT_EQ(kept_bytes, 3 * kKeptBlockSize);
    // Past the end, or longer than a block: not served, nothing kept.
    std::vector<uint8_t> long_read(kKeptBlockSize + 1);
    EXPECT_FALSE(cache.Fill(file, 0, long_read.data(), kKeptBlockSize + 1));
    EXPECT_FALSE(cache.Fill(file, 9 * kKeptBlockSize - 10, got.data(), 100));
  }
  EXPECT_EQ(kept_bytes, 0u);
  platform::CloseFile(file);
}

}  // namespace
}  // namespace qx::engine
