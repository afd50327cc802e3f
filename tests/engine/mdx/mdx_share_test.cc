// Two processes on one MDX file, in lockstep by pipes: their adds and
// deletes interleave in the leaves of one tag while the child also fills
// a second tag, so that both allocate from (and free to) the one free
// chain and end of file; each sees the other's changes at its next call.
// In the end every key is found, and the file accounts for every block.
// A file opened without sharing is opened by no one else, and its tags'
// kept pages stay true through one another's changes.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "engine/mdx/mdx_file.h"
#include "tests/engine/mdx/mdx_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr int kKeys = 1500;

using Keys = TwoProcessKeys<kKeys>;
int VerifyAll(int32_t t, const std::set<std::string>& keys) {
  return MdxKeys().HoldsExactly(t, keys);
}

TEST_F(MdxTest, TwoProcessesShareOneFile) {
  kbdsetsync(0);
  const std::string path = Path("shared.mdx");
  int16_t h = CreateOpen("shared.mdx", 0x400);
  ASSERT_EQ(kbdmtagdef(h, "K", 'C', "K", 12), kKbdOk);
  ASSERT_EQ(kbdmtagdef(h, "OTHER", 'C', "K", 12), kKbdOk);
  int32_t t = kKbdNoHandle;
  ASSERT_EQ(kbdmtagopen(&t, h, "K"), kKbdOk);

  std::set<std::string> all, after_deletes;
  for (int i = 0; i < kKeys; ++i) {
    all.insert(Keys::Key(i, 0));
    all.insert(Keys::Key(i, 1));
  }
  after_deletes = all;
  for (int i = 0; i < kKeys; i += 2) {
    after_deletes.erase(Keys::Key(i, 0));
    after_deletes.erase(Keys::Key(i, 1));
  }
  std::set<std::string> final_keys = after_deletes;
  for (int i = 0; i < kKeys; i += 4) {
    final_keys.insert(Keys::Key(i, 0));
    final_keys.insert(Keys::Key(i, 1));
  }

  // The child's steps: 0 open; then per key an add to K and to OTHER;
  // verify; deletes (K and OTHER); verify; re-adds; close.
  enum { kOpen = 0, kAdd = 1, kVerify = kAdd + kKeys, kDelete,
         kVerifyDeleted = kDelete + kKeys, kReAdd, kClose = kReAdd + kKeys };
  int16_t mine = kKbdNoHandle;
  int32_t mine_k = kKbdNoHandle, mine_other = kKbdNoHandle;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == kOpen) {
      if (int16_t e = kbdmopenx(&mine, path.c_str(), 0x400)) return e;
      if (int16_t e = kbdmtagopen(&mine_k, mine, "K")) return e;
      return kbdmtagopen(&mine_other, mine, "OTHER");
    }
    if (step >= kAdd && step < kVerify) {
      const std::string key = Keys::Key(step - kAdd, 1);
      if (int16_t e = Add(mine_k, key, Keys::Recno(key))) return e;
      return Add(mine_other, key, Keys::Recno(key));
    }
    if (step == kVerify) return VerifyAll(mine_k, all);
    if (step >= kDelete && step < kVerifyDeleted) {
      const int i = step - kDelete;
      const std::string key = Keys::Key(i, 1);
      if (i % 2 != 0) return Del(mine_other, key, Keys::Recno(key));
      return Del(mine_k, key, Keys::Recno(key));
    }
    if (step == kVerifyDeleted) return VerifyAll(mine_k, after_deletes);
    if (step >= kReAdd && step < kClose) {
      const int i = step - kReAdd;
      if (i % 4 != 0) return 0;
      const std::string key = Keys::Key(i, 1);
      return Add(mine_k, key, Keys::Recno(key));
    }
    if (step == kClose) return kbdmclose(mine);
    return 99;
  });

  ASSERT_EQ(child.Run(kOpen), kKbdOk);
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(Add(t, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    ASSERT_EQ(child.Run(kAdd + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kVerify), 0);
  ASSERT_EQ(VerifyAll(t, all), 0);
  Check(t);
  CheckFile(h);

  // Deletes from both sides merge pages of K and OTHER: both processes
  // free blocks to the one chain.
  for (int i = 0; i < kKeys; ++i) {
    if (i % 2 == 0) {
      ASSERT_EQ(Del(t, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    }
    ASSERT_EQ(child.Run(kDelete + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kVerifyDeleted), 0);
  ASSERT_EQ(VerifyAll(t, after_deletes), 0);
  EXPECT_GT(CheckFile(h).free_blocks, 0u);

  // Both add again, taking blocks back from the chain the other filled.
  const uint64_t size = FileSize(path);
  for (int i = 0; i < kKeys; ++i) {
    if (i % 4 == 0) {
      ASSERT_EQ(Add(t, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    }
    ASSERT_EQ(child.Run(kReAdd + i), kKbdOk) << i;
  }
  EXPECT_EQ(FileSize(path), size);
  ASSERT_EQ(child.Run(kClose), kKbdOk);
  ASSERT_EQ(VerifyAll(t, final_keys), 0);
  EXPECT_EQ(Check(t).keys, final_keys.size());
  ASSERT_EQ(kbdmclose(h), kKbdOk);
  ASSERT_EQ(kbdmopenx(&h, path.c_str(), 0), kKbdOk);
  const MdxFileReport report = CheckFile(h);
  EXPECT_EQ(report.keys, final_keys.size() + kKeys / 2);
}

// Tags defined and deleted by one process are seen by the other at its
// next lookup: a new tag opens by name there; after a deletion an open tag
// that moved to another number answers to that number's handle (as after
// a deletion of its own) and the deleted tag is closed; a tag the other
// process defines then takes the next number without undoing the first
// one's table.
TEST_F(MdxTest, TagTablesOfTwoProcessesAgree) {
  kbdsetsync(0);
  const std::string path = Path("tags.mdx");
  int16_t h = CreateOpen("tags.mdx", 0x400);
  for (const char* name : {"A", "B", "C"})
    ASSERT_EQ(kbdmtagdef(h, name, 'C', "K", 8), kKbdOk);
  int16_t mine = kKbdNoHandle;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    int32_t tag = kKbdNoHandle;
    switch (step) {
      case 0:  // A open
        if (int16_t e = kbdmopenx(&mine, path.c_str(), 0x400)) return e;
        return kbdmtagopen(&tag, mine, "A");
      case 1:  // D, defined there, opens here as number 4
        if (int16_t e = kbdmtagopen(&tag, mine, "D")) return e;
        return tag == MdxTagHandle(mine, 4) ? Add(tag, "d1", 1) : 99;
      case 2:  // A deleted there, D moved to number 1: seen at a lookup
        if (int16_t e = kbdmtagopen(&tag, mine, "B")) return e;
        if (kbdmkadd(MdxTagHandle(mine, 4), "x", 1) != kKbdErrTagId) return 98;
        kbdseterror(0);
        if (int16_t e = Add(MdxTagHandle(mine, 1), "d2", 2)) return e;
        return kbdmtagdef(mine, "E", 'C', "K", 8);
      default:
        return kbdmclose(mine);
    }
  });
  ASSERT_EQ(child.Run(0), kKbdOk);
  ASSERT_EQ(kbdmtagdef(h, "D", 'C', "K", 8), kKbdOk);
  ASSERT_EQ(child.Run(1), kKbdOk);
  ASSERT_EQ(kbdmtagdel(h, "A"), kKbdOk);
  ASSERT_EQ(child.Run(2), kKbdOk);
  ASSERT_EQ(child.Run(3), kKbdOk);

  int32_t d = kKbdNoHandle, e = kKbdNoHandle;
  ASSERT_EQ(kbdmtagopen(&d, h, "D"), kKbdOk);
  EXPECT_EQ(d, MdxTagHandle(h, 1));
  EXPECT_EQ(Walk(d).size(), 2u);
  ASSERT_EQ(kbdmtagopen(&e, h, "E"), kKbdOk);
  EXPECT_EQ(e, MdxTagHandle(h, 4));
  EXPECT_EQ(CheckFile(h).tags, 4u);
}

// A file opened without sharing is opened by no other process and no
// second handle of this one, in any mode, so its file words and each
// tag's root and pages are kept from call to call. One tag's kept pages
// stay true while the other tag splits, frees blocks to the one chain,
// takes them back and grows the file: both find the keys they hold, a
// fresh shared open finds the same, and the file's bytes after close are
// those the same calls give on a file opened shared (which re-reads all).
TEST_F(MdxTest, FileOpenWithoutSharingIsOpenedByNoOneElse) {
  kbdsetsync(0);
  const std::string path = Path("alone.mdx");
  const std::string shared = Path("shared.mdx");
  ASSERT_EQ(kbdmcreate(path.c_str()), kKbdOk);
  // The child starts before the file is opened (a Windows child runs the
  // test's set-up again up to here). Step 4 only answers: it is alive.
  const uint16_t kModes[] = {0, 0x400, 0x100, 0x100 | 0x400};
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == 4) return 0;
    int16_t mine = kKbdNoHandle;
    const int16_t status = kbdmopenx(&mine, path.c_str(), kModes[step]);
    if (status >= 0) kbdmclose(mine);
    return status;
  });
  ASSERT_EQ(child.Run(4), 0);
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdmopenx(&h, path.c_str(), 0), kKbdOk);
  const int16_t s = CreateOpen("shared.mdx", 0x400);
  const int32_t a = DefineOpen(h, "A", 'C', "K", 12);
  const int32_t b = DefineOpen(h, "B", 'C', "K", 12);
  const int32_t sa = DefineOpen(s, "A", 'C', "K", 12);
  const int32_t sb = DefineOpen(s, "B", 'C', "K", 12);
  for (int step = 0; step < 4; ++step)
    EXPECT_LT(child.Run(step), 0) << "mode " << kModes[step];
  int16_t second = kKbdNoHandle;
  EXPECT_LT(kbdmopenx(&second, path.c_str(), 0x100 | 0x400), 0);
  kbdseterror(0);

  std::set<std::string> in_a, in_b;
  auto add = [&](int32_t alone, int32_t other, const std::string& key,
                 std::set<std::string>* in) {
    ASSERT_EQ(Add(alone, key, Keys::Recno(key)), kKbdOk) << key;
    ASSERT_EQ(Add(other, key, Keys::Recno(key)), kKbdOk) << key;
    in->insert(key);
  };
  auto del = [&](int32_t alone, int32_t other, const std::string& key,
                 std::set<std::string>* in) {
    ASSERT_EQ(Del(alone, key, Keys::Recno(key)), kKbdOk) << key;
    ASSERT_EQ(Del(other, key, Keys::Recno(key)), kKbdOk) << key;
    in->erase(key);
  };
  for (int i = 0; i < kKeys; ++i) {
    add(a, sa, Keys::Key(i, 0), &in_a);
    if (i % 3 == 0) add(b, sb, Keys::Key(i, 1), &in_b);
    if (i % 100 == 99) {
      // b's pages are kept by these reads while a splits and grows.
      ASSERT_EQ(MdxKeys().HoldsExactly(b, in_b), 0) << i;
    }
    if (i % 500 == 499) {
      // a frees blocks that b's next splits take from the chain, then b
      // frees some that a takes back.
      for (int j = i - 450; j <= i; ++j) del(a, sa, Keys::Key(j, 0), &in_a);
      ASSERT_EQ(MdxKeys().HoldsExactly(a, in_a), 0) << i;
    }
    if (i % 500 == 299) {
      for (int j = i - 240; j <= i; ++j)
        if (j % 6 == 0) del(b, sb, Keys::Key(j, 1), &in_b);
    }
  }
  EXPECT_EQ(MdxKeys().HoldsExactly(a, in_a), 0);
  EXPECT_EQ(MdxKeys().HoldsExactly(b, in_b), 0);
  CheckFile(h);
  ASSERT_EQ(kbdmclose(h), kKbdOk);
  ASSERT_EQ(kbdmclose(s), kKbdOk);
  // The files differ only in the data file's name in the header.
  std::string alone_bytes = qx::testing::ReadWholeFile(path);
  std::string shared_bytes = qx::testing::ReadWholeFile(shared);
  ASSERT_EQ(alone_bytes.size(), shared_bytes.size());
  alone_bytes.replace(kMdxDataNameOffset, kMdxDataNameSize,
                      kMdxDataNameSize, ' ');
  shared_bytes.replace(kMdxDataNameOffset, kMdxDataNameSize,
                       kMdxDataNameSize, ' ');
  EXPECT_TRUE(alone_bytes == shared_bytes);

  int32_t t = kKbdNoHandle;
  ASSERT_EQ(kbdmopenx(&h, path.c_str(), 0x400), kKbdOk);
  ASSERT_EQ(kbdmtagopen(&t, h, "A"), kKbdOk);
  EXPECT_EQ(MdxKeys().HoldsExactly(t, in_a), 0);
  ASSERT_EQ(kbdmtagopen(&t, h, "B"), kKbdOk);
  EXPECT_EQ(MdxKeys().HoldsExactly(t, in_b), 0);
  ASSERT_EQ(kbdmclose(h), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
