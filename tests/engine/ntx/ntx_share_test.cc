// Two processes on one NTX file, in lockstep by pipes: their adds and
// deletes interleave in the same pages, each sees the other's changes at
// its next call (pages kept from earlier calls serve only while the
// header words are unchanged), freed pages are reused across processes, a
// walk half-way through its pages goes on in the tree the other process
// changed, and in the end every key is found and the file passes the
// check.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/engine/ntx/ntx_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr int kKeys = 1500;

using Keys = TwoProcessKeys<kKeys>;
int VerifyAll(int16_t h, const std::set<std::string>& keys) {
  return NtxKeys().HoldsExactly(h, keys);
}

TEST_F(NtxTest, TwoProcessesShareOneFile) {
  kbdsetsync(0);
  const std::string path = Path("shared.ntx");
  ASSERT_EQ(kbdxcreate(path.c_str(), 'C', "K", 8, 0), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0x400), kKbdOk);

  std::set<std::string> all, after_deletes;
  for (int i = 0; i < kKeys; ++i) {
    all.insert(Keys::Key(i, 0));
    all.insert(Keys::Key(i, 1));
    if (i % 2 != 0) {
      after_deletes.insert(Keys::Key(i, 0));
      after_deletes.insert(Keys::Key(i, 1));
    }
  }

  // The child's steps: open; add its key i; verify; delete its key i
  // (even i); verify; close.
  enum {
    kOpen = 0,
    kAdd = 1,
    kVerify = kAdd + kKeys,
    kDelete,
    kVerifyDeleted = kDelete + kKeys,
    kClose
  };
  int16_t mine = kKbdNoHandle;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == kOpen) return kbdxopenx(&mine, path.c_str(), 0x400);
    if (step >= kAdd && step < kVerify) {
      const std::string key = Keys::Key(step - kAdd, 1);
      return Add(mine, key, Keys::Recno(key));
    }
    if (step == kVerify) return VerifyAll(mine, all);
    if (step >= kDelete && step < kVerifyDeleted) {
      const int i = step - kDelete;
      if (i % 2 != 0) return 0;
      return Del(mine, Keys::Key(i, 1), Keys::Recno(i, 1));
    }
    if (step == kVerifyDeleted) return VerifyAll(mine, after_deletes);
    if (step == kClose) return kbdxclose(mine);
    return 99;
  });

  ASSERT_EQ(child.Run(kOpen), kKbdOk);
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(Add(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    ASSERT_EQ(child.Run(kAdd + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kVerify), 0);
  ASSERT_EQ(VerifyAll(h, all), 0);
  EXPECT_EQ(NtxCheck(h).keys, all.size());

  // Deletes from both sides merge pages onto the one free list.
  for (int i = 0; i < kKeys; ++i) {
    if (i % 2 == 0) {
      ASSERT_EQ(Del(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    }
    ASSERT_EQ(child.Run(kDelete + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kVerifyDeleted), 0);
  ASSERT_EQ(VerifyAll(h, after_deletes), 0);
  btree::CheckReport report = NtxCheck(h);
  EXPECT_EQ(report.keys, after_deletes.size());
  EXPECT_GT(report.chain_pages, 0u);
  ASSERT_EQ(child.Run(kClose), kKbdOk);

  // Adding again takes the free pages first: while the list holds the two
  // pages a split may need, the file does not grow.
  for (int i = 0; i < kKeys; i += 2) {
    const uint32_t free_pages = NtxCheck(h).chain_pages;
    const uint64_t size = FileSize(path);
    ASSERT_EQ(Add(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk);
    if (free_pages >= 2) {
      ASSERT_EQ(FileSize(path), size) << i;
    }
  }
  ASSERT_EQ(kbdxclose(h), kKbdOk);
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0), kKbdOk);
  NtxCheck(h);
}

// The parent walks half the file, keeping its pages; the child deletes two
// keys of three (merging and freeing pages) and adds as many (splitting
// and reusing them); the parent's walk then goes on from its entry in the
// changed tree, and a new walk and seeks see every change.
TEST_F(NtxTest, AWalkGoesOnAfterAnotherProcessChangesTheTree) {
  kbdsetsync(0);
  const std::string path = Path("walk.ntx");
  ASSERT_EQ(kbdxcreate(path.c_str(), 'C', "K", 8, 0), kKbdOk);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0x400), kKbdOk);
  std::set<std::string> after;
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(Add(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    if (i % 3 == 0) after.insert(Keys::Key(i, 0));
    after.insert(Keys::Key(i, 1));
  }
  int16_t mine = kKbdNoHandle;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == 0) return kbdxopenx(&mine, path.c_str(), 0x400);
    for (int i = 0; i < kKeys; ++i) {
      if (i % 3 != 0) {
        if (int16_t s = Del(mine, Keys::Key(i, 0), Keys::Recno(i, 0)))
          return s;
      }
      if (int16_t s = Add(mine, Keys::Key(i, 1), Keys::Recno(i, 1)))
        return s;
    }
    return kbdxclose(mine);
  });
  ASSERT_EQ(child.Run(0), kKbdOk);

  char key[16] = {};
  uint32_t recno = 0;
  ASSERT_EQ(kbdxfirst(h, key, &recno), kKbdOk);
  for (int n = 1; n < kKeys / 2; ++n) ASSERT_EQ(kbdxnext(h, key, &recno), 0);
  const std::string from = key;
  ASSERT_EQ(child.Run(1), kKbdOk);
  std::vector<std::string> rest;
  while (kbdxnext(h, key, &recno) == kKbdOk) {
    rest.push_back(key);
    ASSERT_EQ(recno, Keys::Recno(key));
  }
  EXPECT_EQ(rest, std::vector<std::string>(after.upper_bound(from),
                                           after.end()));
  EXPECT_EQ(VerifyAll(h, after), 0);
  for (const std::string& k : after) {
    char sought[32] = {};
    k.copy(sought, sizeof sought - 1);
    uint32_t found = 0;
    ASSERT_EQ(kbdxseek(h, sought, &found, 1), kKbdOk) << k;
    EXPECT_EQ(found, Keys::Recno(k));
  }
  EXPECT_EQ(NtxCheck(h).keys, after.size());
  ASSERT_EQ(kbdxclose(h), kKbdOk);
}

// What a handle open without sharing trusts (its kept pages and header
// words, never read again while its calls end cleanly) holds only because
// no one else can open the file: another process cannot, in any mode, and
// neither can a second handle of this process. Once the file is closed,
// the other process opens it and its changes are seen by the next open.
TEST_F(NtxTest, FileOpenWithoutSharingIsOpenedByNoOneElse) {
  const std::string path = Path("alone.ntx");
  ASSERT_EQ(kbdxcreate(path.c_str(), 'C', "K", 8, 0), kKbdOk);
  // The child starts before the file is opened (a Windows child runs the
  // test's set-up again up to here). Step 5 only answers: it is alive.
  int16_t mine = kKbdNoHandle;
  const uint16_t kModes[] = {0, 0x400, 0x100, 0x100 | 0x400};
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step < 4) {
      const int16_t status = kbdxopenx(&mine, path.c_str(), kModes[step]);
      if (status >= 0) kbdxclose(mine);
      return status;
    }
    if (step == 5) return 0;
    if (int16_t s = kbdxopenx(&mine, path.c_str(), 0x400); s < 0) return s;
    if (int16_t s = Add(mine, "00000002", 3); s < 0) return s;
    return kbdxclose(mine);
  });
  ASSERT_EQ(child.Run(5), 0);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0), kKbdOk);
  ASSERT_EQ(Add(h, "00000001", 2), kKbdOk);
  for (int step = 0; step < 4; ++step)
    EXPECT_LT(child.Run(step), 0) << "mode " << kModes[step];
  int16_t second = kKbdNoHandle;
  EXPECT_LT(kbdxopenx(&second, path.c_str(), 0x100 | 0x400), 0);
  kbdseterror(0);
  char key[16] = {};
  uint32_t recno = 0;
  ASSERT_EQ(kbdxfirst(h, key, &recno), kKbdOk);
  ASSERT_EQ(kbdxclose(h), kKbdOk);

  ASSERT_EQ(child.Run(4), kKbdOk);
  ASSERT_EQ(kbdxopenx(&h, path.c_str(), 0), kKbdOk);
  EXPECT_EQ(NtxKeys().HoldsExactly(h, {"00000001", "00000002"}), 0);
  ASSERT_EQ(kbdxclose(h), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
