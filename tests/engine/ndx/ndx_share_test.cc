// Two processes on one NDX file, in lockstep by pipes: their adds and
// deletes interleave in the same leaves, each sees the other's changes at
// its next call, one closes (and compacts) while the other goes on, and
// in the end every key is found and the file passes the check. A file
// opened without sharing is opened by no one else and keeps what it read.
#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <set>
#include <string>

#include "tests/engine/ndx/ndx_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr int kKeys = 2000;

using Keys = TwoProcessKeys<kKeys>;
int VerifyAll(int16_t h, const std::set<std::string>& keys) {
  return NdxKeys().HoldsExactly(h, keys);
}

TEST_F(NdxTest, TwoProcessesShareOneFile) {
  kbdsetsync(0);
  const std::string path = Path("shared.ndx");
  ASSERT_EQ(kbdncreate(path.c_str(), 'C', "K", 12), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdnopenx(&h, path.c_str(), 0x400), kKbdOk);

  std::set<std::string> all;
  for (int i = 0; i < kKeys; ++i) {
    all.insert(Keys::Key(i, 0));
    all.insert(Keys::Key(i, 1));
  }
  std::set<std::string> after_deletes = all;
  for (int i = 0; i < kKeys; i += 2) {
    after_deletes.erase(Keys::Key(i, 0));
    after_deletes.erase(Keys::Key(i, 1));
  }
  std::set<std::string> final_keys = after_deletes;
  for (int i = 0; i < kKeys; i += 4) {
    final_keys.insert(Keys::Key(i, 0));
    final_keys.insert(Keys::Key(i, 1));
  }

  // The child's steps: 0 open; 1..kKeys add; then verify; then delete
  // every second key; then verify; then re-add every fourth; then close.
  enum { kOpen = 0, kAdd = 1, kVerify = kAdd + kKeys, kDelete,
         kVerifyDeleted = kDelete + kKeys, kReAdd, kClose = kReAdd + kKeys };
  int16_t mine = kKbdNoHandle;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == kOpen) return kbdnopenx(&mine, path.c_str(), 0x400);
    if (step >= kAdd && step < kVerify)
      return Add(mine, Keys::Key(step - kAdd, 1), Keys::Recno(step - kAdd, 1));
    if (step == kVerify) return VerifyAll(mine, all);
    if (step >= kDelete && step < kVerifyDeleted) {
      int i = step - kDelete;
      if (i % 2 != 0) return 0;
      return Del(mine, Keys::Key(i, 1), Keys::Recno(i, 1));
    }
    if (step == kVerifyDeleted) return VerifyAll(mine, after_deletes);
    if (step >= kReAdd && step < kClose) {
      int i = step - kReAdd;
      if (i % 4 != 0) return 0;
      return Add(mine, Keys::Key(i, 1), Keys::Recno(i, 1));
    }
    if (step == kClose) return kbdnclose(mine);
    return 99;
  });

  ASSERT_EQ(child.Run(kOpen), kKbdOk);
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(Add(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    ASSERT_EQ(child.Run(kAdd + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kVerify), 0);
  ASSERT_EQ(VerifyAll(h, all), 0);
  Check(h);

  // Deletes from both sides merge pages; each side chains its own freed
  // pages.
  for (int i = 0; i < kKeys; ++i) {
    if (i % 2 == 0) {
      ASSERT_EQ(Del(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    }
    ASSERT_EQ(child.Run(kDelete + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kVerifyDeleted), 0);
  ASSERT_EQ(VerifyAll(h, after_deletes), 0);
  Check(h);

  // The parent closes and compacts while the child stays open; then both
  // add again and the child closes with its own (partly stale) chain.
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  ASSERT_EQ(kbdnopenx(&h, path.c_str(), 0x400), kKbdOk);
  for (int i = 0; i < kKeys; ++i) {
    if (i % 4 == 0) {
      ASSERT_EQ(Add(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    }
    ASSERT_EQ(child.Run(kReAdd + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kClose), kKbdOk);
  ASSERT_EQ(VerifyAll(h, final_keys), 0);
  btree::CheckReport report = Check(h);
  EXPECT_EQ(report.keys, final_keys.size());
  ASSERT_EQ(kbdnclose(h), kKbdOk);
  ASSERT_EQ(kbdnopenx(&h, path.c_str(), 0), kKbdOk);
  Check(h);
}

// A file opened without sharing is opened by no other process and no
// second handle of this one, in any mode, so it keeps its pages and
// header words from call to call: its adds, deletes (freed pages reused,
// compacted at close) and walks give the keys and, after close, the bytes
// the same calls give on a file opened shared, which re-reads everything.
TEST_F(NdxTest, FileOpenWithoutSharingIsOpenedByNoOneElse) {
  kbdsetsync(0);
  const std::string path = Path("alone.ndx");
  const std::string shared = Path("shared.ndx");
  ASSERT_EQ(kbdncreate(path.c_str(), 'C', "K", 12), kKbdOk);
  ASSERT_EQ(kbdncreate(shared.c_str(), 'C', "K", 12), kKbdOk);
  // The child starts before the file is opened (a Windows child runs the
  // test's set-up again up to here). Step 4 only answers: it is alive.
  const uint16_t kModes[] = {0, 0x400, 0x100, 0x100 | 0x400};
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == 4) return 0;
    int16_t mine = kKbdNoHandle;
    const int16_t status = kbdnopenx(&mine, path.c_str(), kModes[step]);
    if (status >= 0) kbdnclose(mine);
    return status;
  });
  ASSERT_EQ(child.Run(4), 0);
  int16_t h = kKbdNoHandle, s = kKbdNoHandle;
  ASSERT_EQ(kbdnopenx(&h, path.c_str(), 0), kKbdOk);
  ASSERT_EQ(kbdnopenx(&s, shared.c_str(), 0x400), kKbdOk);
  ASSERT_EQ(Add(h, Keys::Key(0, 0), Keys::Recno(0, 0)), kKbdOk);
  for (int step = 0; step < 4; ++step)
    EXPECT_LT(child.Run(step), 0) << "mode " << kModes[step];
  int16_t second = kKbdNoHandle;
  EXPECT_LT(kbdnopenx(&second, path.c_str(), 0x100 | 0x400), 0);
  kbdseterror(0);

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
