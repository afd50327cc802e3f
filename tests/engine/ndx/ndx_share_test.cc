// Two processes on one NDX file: the scenarios every index format shares
// (tests/engine/index/share_harness.h) over NDX, and what a file opened
// without sharing keeps from call to call.
#include <gtest/gtest.h>

#include <iterator>
#include <set>
#include <string>

#include "tests/engine/index/share_harness.h"
#include "tests/engine/ndx/ndx_test_util.h"

namespace qx::engine::testing {
namespace {

// An NDX file holds one key, here of 12 characters. Both processes add
// their keys again after the parent closed (compacting the freed pages)
// and opened the file again, while the child stays open with its own,
// partly stale, chain of freed pages.
struct NdxShare : ShareFormat<NdxShare, int16_t> {
  static constexpr int kKeys = 2000;
  static constexpr const char* kSuffix = ".ndx";
  static constexpr uint16_t kShared = 0x400;
  static IndexKeys<int16_t> Keys() { return NdxKeys(); }
  static void CreateOpen(const std::string& path, uint16_t mode, Index* x) {
    ASSERT_EQ(kbdncreate(path.c_str(), 'C', "K", 12), kKbdOk);
    ASSERT_EQ(Open(path, mode, x), kKbdOk);
  }
  static int16_t Open(const std::string& path, uint16_t mode, Index* x) {
    const int16_t status = kbdnopenx(&x->file, path.c_str(), mode);
    x->keys = x->file;
    return status;
  }
  static int16_t Close(int16_t file) { return kbdnclose(file); }
  static uint64_t Check(const Index& x) { return NdxCheck(x.keys).keys; }
  static constexpr int16_t kSeekPastEnd = kKbdNoMoreKeys;
  static int16_t Seek(int16_t h, void* key, uint32_t* recno) {
    return SeekByFindAndNext<int16_t>(h, key, recno, kbdnkfind, kbdnknext);
  }

  static constexpr bool kReAdd = true;
  static void BeforeReAdd(Index* x, const std::string& path) {
    ASSERT_EQ(Close(x->file), kKbdOk);
    ASSERT_EQ(Open(path, kShared, x), kKbdOk);
  }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Ndx, IndexShareTest, NdxShare);
INSTANTIATE_TYPED_TEST_SUITE_P(Ndx, IndexWalkShareTest, NdxShare);

constexpr int kKeys = NdxShare::kKeys;
using Keys = TwoProcessKeys<kKeys>;

// A file opened without sharing (opened by no one else: see the shared
// scenario) keeps its pages and header words from call to call: its adds,
// deletes (freed pages reused, compacted at close) and walks give the keys
// and, after close, the bytes the same calls give on a file opened
// shared, which re-reads everything.
TEST_F(NdxTest, FileOpenWithoutSharingWritesWhatASharedOneWrites) {
  kbdsetsync(0);
  const std::string path = Path("alone.ndx");
  const std::string shared = Path("shared.ndx");
  ASSERT_EQ(kbdncreate(path.c_str(), 'C', "K", 12), kKbdOk);
  ASSERT_EQ(kbdncreate(shared.c_str(), 'C', "K", 12), kKbdOk);
  int16_t h = kKbdNoHandle, s = kKbdNoHandle;
  ASSERT_EQ(kbdnopenx(&h, path.c_str(), 0), kKbdOk);
  ASSERT_EQ(kbdnopenx(&s, shared.c_str(), 0x400), kKbdOk);
  ASSERT_EQ(Add(h, Keys::Key(0, 0), Keys::Recno(0, 0)), kKbdOk);

  std::set<std::string> keys = {Keys::Key(0, 0)};
  ASSERT_EQ(Add(s, Keys::Key(0, 0), Keys::Recno(0, 0)), kKbdOk);
  for (int i = 1; i < kKeys; ++i) {
    for (int16_t x : {h, s}) {
      ASSERT_EQ(Add(x, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
      if (i % 5 == 0) {
        ASSERT_EQ(Add(x, Keys::Key(i, 1), Keys::Recno(i, 1)), kKbdOk) << i;
      }
    }
    keys.insert(Keys::Key(i, 0));
    if (i % 5 == 0) keys.insert(Keys::Key(i, 1));
    if (i % 400 == 399) {
      // Merges free pages the next adds take again; the walks run on the
      // pages kept from the calls before.
      for (int j = i - 380; j <= i; j += 2) {
        for (int16_t x : {h, s})
          ASSERT_EQ(Del(x, Keys::Key(j, 0), Keys::Recno(j, 0)), kKbdOk) << j;
        keys.erase(Keys::Key(j, 0));
      }
      ASSERT_EQ(NdxKeys().HoldsExactly(h, keys), 0) << i;
      EXPECT_EQ(WalkBack(h).size(), keys.size());
    }
  }
  // Steps from a position after this handle's own adds (leaf splits) and
  // deletes around it: the path kept from the find is stale by then.
  const std::string at = *std::next(keys.begin(), keys.size() / 2);
  auto near = [&at](int n) {
    return at + static_cast<char>('A' + n / 26) +
           static_cast<char>('A' + n % 26);
  };
  for (int16_t x : {h, s}) {
    IndexEntry found;
    ASSERT_EQ(NdxKeys().Find(x, at, 0, 0, &found), kKbdOk);
    for (int n = 0; n < 120; ++n)
      ASSERT_EQ(Add(x, near(n), Keys::Recno(at)), kKbdOk) << n;
    char key[13] = {};
    uint32_t recno = 0;
    ASSERT_EQ(kbdnknext(x, key, &recno), kKbdOk);
    EXPECT_EQ(std::string(key).substr(0, 10), near(0));
    for (int n = 1; n < 60; ++n)
      ASSERT_EQ(Del(x, near(n), Keys::Recno(at)), kKbdOk) << n;
    ASSERT_EQ(kbdnknext(x, key, &recno), kKbdOk);
    EXPECT_EQ(std::string(key).substr(0, 10), near(60));
    ASSERT_EQ(kbdnkprev(x, key, &recno), kKbdOk);
    EXPECT_EQ(std::string(key).substr(0, 10), near(0));
  }
  for (int n = 0; n < 120; ++n)
    if (n == 0 || n >= 60) keys.insert(near(n));
  for (int j = kKeys - 300; j < kKeys; ++j) {  // freed pages left at close
    if (keys.count(Keys::Key(j, 0)) == 0) continue;
    for (int16_t x : {h, s})
      ASSERT_EQ(Del(x, Keys::Key(j, 0), Keys::Recno(j, 0)), kKbdOk) << j;
    keys.erase(Keys::Key(j, 0));
  }
  EXPECT_EQ(Check(h).keys, keys.size());
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  ASSERT_EQ(kbdnclose(s), kKbdOk);
  EXPECT_TRUE(qx::testing::ReadWholeFile(path) ==
              qx::testing::ReadWholeFile(shared));

  ASSERT_EQ(kbdnopenx(&h, path.c_str(), 0x400), kKbdOk);
  EXPECT_EQ(NdxKeys().HoldsExactly(h, keys), 0);
  ASSERT_EQ(kbdnclose(h), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
