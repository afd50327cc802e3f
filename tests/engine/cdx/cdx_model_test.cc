// Randomized model test of a CDX tag (the shared harness of
// index_model.h): tens of thousands of adds and deletes with duplicates
// and prefixes against std::multimap, on a tag of compact leaves driven
// through splits, re-encodings after inserts and deletes, and node frees,
// with a second tag in the same file changing alongside so that both draw
// on one free list. After every batch the tag walks as the model, finds
// land where the model says, and the whole file passes the check (every
// block in one place). Seed: QX_TEST_SEED, else fixed; shown on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "engine/collate/collation.h"
#include "tests/engine/btree/index_model.h"
#include "tests/engine/cdx/cdx_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr uint16_t kKeyLength = 12;

// The model asks where a find without flags lands: on an equal key (0),
// else on the greatest smaller key (4), or on the first key when every key
// is greater (12). A tag's mode-1 find lands on the next greater key
// instead; the step back to the model's entry goes through kbdcprev and
// kbdclast.
class CdxSubject : public ModelSubject {
 public:
  CdxSubject(int16_t handle, int32_t tag, int32_t neighbour)
      : handle_(handle), tag_(tag), neighbour_(neighbour) {}

  int16_t Add(const std::string& key, uint32_t recno) override {
    // The neighbour tag grows and shrinks with the tag, in other blocks
    // of the same file.
    if (recno % 3 == 0) {
      EXPECT_EQ(CdxKeys().Add(neighbour_, key, recno), kKbdOk);
    }
    return CdxKeys().Add(tag_, key, recno);
  }
  int16_t Delete(const std::string& key, uint32_t recno) override {
    if (recno % 3 == 0) CdxKeys().Del(neighbour_, key, recno);
    return CdxKeys().Del(tag_, key, recno);
  }
  int16_t Find(const std::string& search, IndexEntry* found) override {
    int16_t status = CdxKeys().Find(tag_, search, 0, 1, found);
    if (status == kKbdOk || status == kKbdEmptyFile) return status;
    std::vector<char> key(kKeyLength + 1, '\0');
    uint32_t recno = 0;
    if (status == kKbdNoMoreKeys) {
      EXPECT_EQ(kbdclast(tag_, key.data(), &recno), kKbdOk);
      *found = {std::string(key.data(), kKeyLength), recno};
      return kKbdKeyNotFound;
    }
    EXPECT_EQ(status, kKbdKeyNotFound);
    std::copy(found->key.begin(), found->key.end(), key.begin());
    recno = found->recno;
    int16_t back = kbdcprev(tag_, key.data(), &recno);
    if (back == kKbdNoMoreKeys) return kKbdKeyNotFoundEnd;
    EXPECT_EQ(back, kKbdOk);
    *found = {std::string(key.data(), kKeyLength), recno};
    return kKbdKeyNotFound;
  }
  std::vector<IndexEntry> Walk() override {
    std::vector<IndexEntry> walk = CdxKeys().Walk(tag_);
    EXPECT_EQ(CdxKeys().WalkBack(tag_), walk);
    return walk;
  }
  uint64_t Check() override {
    btree::CheckReport report;
    EXPECT_EQ(CheckCdx(handle_, &report), kKbdOk);
    EXPECT_EQ(report.foreign_free_pages, 0u) << "lost blocks";
    for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
    btree::CheckReport tag_report;
    EXPECT_EQ(CheckCdxTag(tag_, &tag_report), kKbdOk);
    return tag_report.keys;
  }

 private:
  int16_t handle_;
  int32_t tag_;
  int32_t neighbour_;
};

// A descending tag against the same ascending model: its walk is the
// model's reversed; a find lands where the model says through the
// descending tag's own modes: mode 3 gives the greatest entry below the
// search key, the step back along the walk (kbdcprev) the first entry not
// below it, kbdclast the first entry of all.
class DescendingSubject : public ModelSubject {
 public:
  DescendingSubject(int16_t handle, int32_t tag) : handle_(handle), tag_(tag) {}

  int16_t Add(const std::string& key, uint32_t recno) override {
    return CdxKeys().Add(tag_, key, recno);
  }
  int16_t Delete(const std::string& key, uint32_t recno) override {
    return CdxKeys().Del(tag_, key, recno);
  }
  int16_t Find(const std::string& search, IndexEntry* found) override {
    IndexEntry below;
    const int16_t status = CdxKeys().Find(tag_, search, 0, 3, &below);
    if (status == kKbdEmptyFile) return status;
    std::vector<char> key(kKeyLength + 1, '\0');
    uint32_t recno = 0;
    int16_t back = kKbdNoMoreKeys;
    if (status == kKbdKeyNotFound) {
      std::copy(below.key.begin(), below.key.end(), key.begin());
      recno = below.recno;
      back = kbdcprev(tag_, key.data(), &recno);
      if (back == kKbdNoMoreKeys) {
        *found = below;
        return kKbdKeyNotFound;
      }
      EXPECT_EQ(back, kKbdOk);
    } else {
      EXPECT_EQ(status, kKbdNoMoreKeys);
      EXPECT_EQ(kbdclast(tag_, key.data(), &recno), kKbdOk);
    }
    *found = {std::string(key.data(), kKeyLength), recno};
    if (found->key.compare(0, search.size(), search) == 0) return kKbdOk;
    if (status == kKbdNoMoreKeys) return kKbdKeyNotFoundEnd;
    *found = below;
    return kKbdKeyNotFound;
  }
  std::vector<IndexEntry> Walk() override {
    std::vector<IndexEntry> walk = CdxKeys().Walk(tag_);
    EXPECT_EQ(CdxKeys().WalkBack(tag_), walk);
    std::reverse(walk.begin(), walk.end());
    return walk;
  }
  uint64_t Check() override {
    btree::CheckReport report;
    EXPECT_EQ(CheckCdx(handle_, &report), kKbdOk);
    for (const std::string& problem : report.problems) ADD_FAILURE() << problem;
    return report.keys;
  }

 private:
  int16_t handle_;
  int32_t tag_;
};

TEST_F(CdxTest, RandomChangesOfADescendingTagAgainstAModel) {
  const uint32_t seed = TestSeed(20261206);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  kbdsetsync(0);
  int16_t h = CreateOpen("down.cdx");
  int32_t tag = NewTag(h, "DOWN", 'C' | kKbdKeyDescending, "K", kKeyLength);
  std::mt19937 stems(seed);
  IndexModel model(TextModelKeys(kKeyLength, stems, CompareCharKeys), seed);
  DescendingSubject subject(h, tag);
  ASSERT_NO_FATAL_FAILURE(model.Run(&subject, 20000, 4000));
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

TEST_F(CdxTest, RandomAddsAndDeletesAgainstAModel) {
  const uint32_t seed = TestSeed(20241205);
  SCOPED_TRACE("QX_TEST_SEED=" + std::to_string(seed));
  kbdsetsync(0);
  for (uint16_t mode : {0, 0x200}) {
    SCOPED_TRACE(mode ? "write-through" : "written at the end of each call");
    const std::string path = Path(mode ? "wt.cdx" : "model.cdx");
    ASSERT_EQ(kbdccreate(path.c_str()), kKbdOk);
    int16_t h = kKbdNoHandle;
    ASSERT_EQ(kbdcopenx(&h, path.c_str(), mode), kKbdOk);
    int32_t neighbour = NewTag(h, "NEIGHBOUR", 'C', "K", kKeyLength);
    int32_t tag = NewTag(h, "MODEL", 'C', "K", kKeyLength);
    std::mt19937 stems(seed + mode);
    IndexModel model(TextModelKeys(kKeyLength, stems, CompareCharKeys),
                     seed + mode);
    CdxSubject subject(h, tag, neighbour);
    ASSERT_NO_FATAL_FAILURE(model.Run(&subject, 30000, 5000));
    // Reopened, the file holds the same tag.
    ASSERT_EQ(kbdcclose(h), kKbdOk);
    ASSERT_EQ(kbdcopenx(&h, path.c_str(), 0), kKbdOk);
    int32_t reopened = -1;
    ASSERT_EQ(kbdctagopen(&reopened, h, "model"), kKbdOk);
    ASSERT_EQ(kbdctagopen(&neighbour, h, "neighbour"), kKbdOk);
    CdxSubject again(h, reopened, neighbour);
    ASSERT_NO_FATAL_FAILURE(model.Verify(&again));
    ASSERT_EQ(kbdcclose(h), kKbdOk);
  }
}

}  // namespace
}  // namespace qx::engine::testing
