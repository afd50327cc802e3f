// Two processes on one CDX file: the scenarios every index format shares
// (tests/engine/index/share_harness.h) over CDX, and what a compound file
// opened without sharing keeps from call to call. The sharing processes
// open the file shared and written through (0x800), so that every add and
// delete runs under the file's lock byte; nodes kept from earlier calls
// serve only while the change counter and free list are unchanged.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/engine/cdx/cdx_test_util.h"
#include "tests/engine/index/share_harness.h"

namespace qx::engine::testing {
namespace {

// A compound file with the tag KEYS (12 characters; the child opens it
// as "keys"). Before the child closes, the parent creates a tag the child
// then opens; the lock is held only during a change, and no block is
// lost.
struct CdxShare : ShareFormat<CdxShare, int32_t> {
  static constexpr int kKeys = 1500;
  static constexpr const char* kSuffix = ".cdx";
  static constexpr uint16_t kShared = 0x800;
  static constexpr int16_t kSeekPastEnd = kKbdNoMoreKeys;
  static IndexKeys<int32_t> Keys() { return CdxKeys(); }
  static void CreateOpen(const std::string& path, uint16_t mode, Index* x) {
    ASSERT_EQ(kbdccreate(path.c_str()), kKbdOk);
    ASSERT_EQ(kbdcopenx(&x->file, path.c_str(), mode), kKbdOk);
    ASSERT_EQ(kbdctagcreate(x->file, "KEYS", 'C', "K", 12), kKbdOk);
    ASSERT_EQ(kbdctagopen(&x->keys, x->file, "KEYS"), kKbdOk);
  }
  static int16_t Open(const std::string& path, uint16_t mode, Index* x) {
    const int16_t status = kbdcopenx(&x->file, path.c_str(), mode);
    if (status < 0) return status;
    const int16_t e = kbdctagopen(&x->keys, x->file, "keys");
    if (e == kKbdOk) return status;
    kbdcclose(x->file);
    return e;
  }
  static int16_t Close(int16_t file) { return kbdcclose(file); }
  static uint64_t Check(const Index& x) {
    CdxFileCheck(x.file);
    return CdxTagCheck(x.keys).keys;
  }
  static int16_t Seek(int32_t tag, void* key, uint32_t* recno) {
    return kbdcfind(tag, key, recno, kKbdCdxFirstNotBelow);
  }

  static void LastChange(const Index& x) {
    ASSERT_EQ(kbdctagcreate(x.file, "LATER", 'C', "K", 8), kKbdOk);
    int32_t later = kKbdNoHandle;
    ASSERT_EQ(kbdctagopen(&later, x.file, "LATER"), kKbdOk);
    ASSERT_EQ(Keys().Add(later, "one", 1), kKbdOk);
  }
  static int ChildLastLook(const Index& x) {
    int32_t later = kKbdNoHandle;
    if (int16_t s = kbdctagopen(&later, x.file, "LATER")) return s;
    return Keys().Walk(later).size() == 1 ? 0 : 99;
  }
  static void AfterSharing(Index* x, const std::string&,
                           std::set<std::string>* keys) {
    KbdCdxInfo info;
    ASSERT_EQ(kbdcinfo(x->file, &info), kKbdOk);
    EXPECT_EQ(info.locked, 0);
    EXPECT_EQ(CdxFileCheck(x->file).keys, keys->size() + 1);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Cdx, IndexShareTest, CdxShare);
INSTANTIATE_TYPED_TEST_SUITE_P(Cdx, IndexWalkShareTest, CdxShare);

constexpr int kKeys = CdxShare::kKeys;
using Keys = TwoProcessKeys<kKeys>;

// A compound file opened without sharing (opened by no one else: see the
// shared scenario) trusts the nodes its tags kept from clean read calls:
// that holds because a tag's nodes change only through that tag. Reads of
// one tag interleaved with splits of another (which grow the file and
// reuse freed blocks) find the same keys as a fresh open, and the file's
// bytes after close are those the same calls give on a file opened
// shared.
TEST_F(CdxTest, FileOpenWithoutSharingWritesWhatASharedOneWrites) {
  kbdsetsync(0);
  // The same changes to a file opened without sharing (h, checked as it
  // goes) and to one opened shared (s): after the close both files hold
  // the same bytes, change counter included (written once at close here).
  const std::string path = Path("alone.cdx");
  const std::string shared_path = Path("shared.cdx");
  int16_t h = CreateOpen("alone.cdx", 0);
  const int16_t s = CreateOpen("shared.cdx", 0x400);
  int32_t a = NewTag(h, "A", 'C', "K", 12);
  int32_t b = NewTag(h, "B", 'C', "K", 12);
  const int32_t sa = NewTag(s, "A", 'C', "K", 12);
  const int32_t sb = NewTag(s, "B", 'C', "K", 12);
  std::set<std::string> in_a, in_b;
  auto add = [&](int32_t tag, int32_t shared_tag, const std::string& key) {
    ASSERT_EQ(Add(tag, key, Keys::Recno(key)), kKbdOk);
    ASSERT_EQ(Add(shared_tag, key, Keys::Recno(key)), kKbdOk);
  };
  for (int i = 0; i < kKeys; ++i) {
    const std::string key = Keys::Key(i, 0);
    add(a, sa, key);
    in_a.insert(key);
    if (i % 100 == 0) {
      // b's nodes are kept by these reads while a splits and grows.
      const std::string other = Keys::Key(i, 1);
      add(b, sb, other);
      in_b.insert(other);
      ASSERT_EQ(CdxKeys().HoldsExactly(b, in_b), 0);
    }
    if (i % 700 == 699) {
      for (int j = i - 600; j <= i; j += 3) {
        const std::string gone = Keys::Key(j, 0);
        ASSERT_EQ(Del(a, gone, Keys::Recno(gone)), kKbdOk);
        ASSERT_EQ(Del(sa, gone, Keys::Recno(gone)), kKbdOk);
        in_a.erase(gone);
      }
    }
  }
  EXPECT_EQ(CdxKeys().HoldsExactly(a, in_a), 0);
  EXPECT_EQ(CdxKeys().HoldsExactly(b, in_b), 0);
  CheckFile(h);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
  ASSERT_EQ(kbdcclose(s), kKbdOk);
  EXPECT_TRUE(qx::testing::ReadWholeFile(path) ==
              qx::testing::ReadWholeFile(shared_path));
  ASSERT_EQ(kbdcopenx(&h, path.c_str(), 0x400), kKbdOk);
  ASSERT_EQ(kbdctagopen(&a, h, "A"), kKbdOk);
  ASSERT_EQ(kbdctagopen(&b, h, "B"), kKbdOk);
  EXPECT_EQ(CdxKeys().HoldsExactly(a, in_a), 0);
  EXPECT_EQ(CdxKeys().HoldsExactly(b, in_b), 0);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
