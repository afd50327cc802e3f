// Two processes on one IDX file, in lockstep by pipes, in both layouts.
// A compact file's reader keeps the nodes of its clean read calls while
// the change counter and free list stay the same, and tries them without
// the lock; a standard file's reader reads every node afresh. Either way
// each process sees the other's changes at its next call: adds and
// deletes interleave in the same leaves, a walk half-way through its
// nodes goes on in the tree the other process split, emptied and refilled
// (freed nodes reused), seeks and counts see every change, and the file
// passes the check.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/idx/idx_check.h"
#include "tests/engine/btree/index_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr int kKeys = 1500;
constexpr uint16_t kKeyLength = 12;
constexpr uint16_t kShared = 0x400;

using Keys = TwoProcessKeys<kKeys>;

uint16_t IdxKeyLength(int16_t h) {
  KbdIdxInfo info;
  EXPECT_EQ(kbdiinfo(h, &info), kKbdOk);
  return info.key_length;
}

// The pair itself with kKbdFindRecno, else the first key not below.
int16_t IdxHarnessFind(int16_t h, void* key, uint32_t* recno,
                       uint16_t flags) {
  if (flags & kKbdFindRecno) return kbdifind(h, key, *recno);
  return kbdiseek(h, key, recno, kKbdSeekKey);
}

IndexKeys<int16_t> IdxKeys() {
  return IndexKeys<int16_t>({IdxKeyLength, kbdiadd, kbdidelete,
                             IdxHarnessFind, kbdifirst, kbdinext, kbdilast,
                             kbdiprev});
}

// The parameter: the key type word of the file, standard or compact.
class IdxShareTest : public IndexTest<int16_t, IdxKeys>,
                     public ::testing::WithParamInterface<uint16_t> {
 protected:
  int16_t CreateOpen(const std::string& path, uint16_t type) {
    EXPECT_EQ(kbdicreate(path.c_str(), type, "K", kKeyLength), kKbdOk);
    int16_t h = kKbdNoHandle;
    EXPECT_EQ(kbdiopenx(&h, path.c_str(), kShared | kKbdFoxpro2), kKbdOk);
    return h;
  }
  static btree::CheckReport Check(int16_t h) {
    return ExpectCleanCheck<btree::CheckReport>(
        [h](btree::CheckReport* report) { return CheckIdx(h, report); });
  }
  // The key found and its record number, as text without the padding.
  static std::string Text(const uint8_t* key) {
    std::string k(reinterpret_cast<const char*>(key), kKeyLength);
    return k.substr(0, k.find_last_not_of(' ') + 1);
  }
};

TEST_P(IdxShareTest, TwoProcessesShareOneFile) {
  kbdsetsync(0);
  const uint16_t layout = GetParam();
  const std::string path = Path(layout == 'C' ? "s.idx" : "c.idx");
  const int16_t h = CreateOpen(path, layout);
  std::set<std::string> all, half;
  for (int i = 0; i < kKeys; ++i) {
    for (int parity = 0; parity < 2; ++parity) {
      all.insert(Keys::Key(i, parity));
      if (i % 2 != 0) half.insert(Keys::Key(i, parity));
    }
  }
  // The child's steps: open; add its key i; verify; delete its key i (even
  // i); verify; close.
  enum { kOpen = 0, kAdd = 1, kVerify = kAdd + kKeys, kDelete,
         kVerifyHalf = kDelete + kKeys, kClose };
  int16_t mine = kKbdNoHandle;
  std::set<std::string> seen;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == kOpen)
      return kbdiopenx(&mine, path.c_str(), kShared | kKbdFoxpro2);
    if (step >= kAdd && step < kVerify) {
      // Walks (the parent's keys 0..i and the child's own) end step 98
      // of every hundred, keeping their nodes, and begin step 99, after
      // the parent's add.
      const int i = step - kAdd;
      seen.insert(Keys::Key(i, 0));
      if (i % 100 == 99 && Walk(mine).size() != seen.size()) return 97;
      const std::string key = Keys::Key(i, 1);
      if (int16_t s = Add(mine, key, Keys::Recno(key))) return s;
      seen.insert(key);
      if (i % 100 < 98) return 0;
      return Walk(mine).size() == seen.size() ? 0 : 98;
    }
    if (step == kVerify) return IdxKeys().HoldsExactly(mine, all);
    if (step >= kDelete && step < kVerifyHalf) {
      const int i = step - kDelete;
      if (i % 2 != 0) return 0;
      return Del(mine, Keys::Key(i, 1), Keys::Recno(i, 1));
    }
    if (step == kVerifyHalf) return IdxKeys().HoldsExactly(mine, half);
    if (step == kClose) return kbdiclose(mine);
    return 99;
  });

  ASSERT_EQ(child.Run(kOpen), kKbdOk);
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(Add(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    // A walk keeps its nodes; the child's add must not hide behind them.
    if (i % 100 == 50) {
      ASSERT_EQ(Walk(h).size(), 2u * i + 1) << i;
    }
    ASSERT_EQ(child.Run(kAdd + i), kKbdOk) << i;
    if (i % 100 == 50) {
      ASSERT_EQ(Walk(h).size(), 2u * (i + 1)) << i;
    }
  }
  ASSERT_EQ(child.Run(kVerify), 0);
  ASSERT_EQ(IdxKeys().HoldsExactly(h, all), 0);
  EXPECT_EQ(Check(h).keys, all.size());

  for (int i = 0; i < kKeys; ++i) {
    if (i % 2 == 0) {
      ASSERT_EQ(Del(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    }
    ASSERT_EQ(child.Run(kDelete + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kVerifyHalf), 0);
  ASSERT_EQ(IdxKeys().HoldsExactly(h, half), 0);
  ASSERT_EQ(child.Run(kClose), kKbdOk);
  EXPECT_EQ(Check(h).keys, half.size());
  ASSERT_EQ(kbdiclose(h), kKbdOk);
}

// The parent walks half the tree, keeping its nodes; the child deletes two
// keys of three (emptying and freeing leaves) and adds as many (splitting,
// reusing the freed nodes); the parent's walk then goes on from its entry
// in the changed tree, and a walk back, seeks and a count see every
// change. A second round of the child changes the tree while the parent
// has only sought (its kept nodes the leaves of the seeks).
TEST_P(IdxShareTest, AWalkGoesOnAfterAnotherProcessChangesTheTree) {
  kbdsetsync(0);
  const uint16_t layout = GetParam();
  const std::string path = Path(layout == 'C' ? "ws.idx" : "wc.idx");
  const int16_t h = CreateOpen(path, layout);
  std::set<std::string> after;
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(Add(h, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk) << i;
    if (i % 3 == 0) after.insert(Keys::Key(i, 0));
    after.insert(Keys::Key(i, 1));
  }
  // Step 1: delete two of three of the parent's keys and add the
  // child's; step 2: delete the child's keys again.
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    int16_t mine = kKbdNoHandle;
    if (int16_t s = kbdiopenx(&mine, path.c_str(), kShared | kKbdFoxpro2))
      return s;
    for (int i = 0; i < kKeys; ++i) {
      if (step == 1 && i % 3 != 0) {
        if (int16_t s = Del(mine, Keys::Key(i, 0), Keys::Recno(i, 0)))
          return s;
      }
      if (int16_t s = step == 1
                          ? Add(mine, Keys::Key(i, 1), Keys::Recno(i, 1))
                          : Del(mine, Keys::Key(i, 1), Keys::Recno(i, 1)))
        return s;
    }
    return kbdiclose(mine);
  });

  uint8_t key[kKeyLength + 1] = {};
  uint32_t recno = 0;
  ASSERT_EQ(kbdifirst(h, key, &recno), kKbdOk);
  for (int n = 1; n < kKeys / 2; ++n)
    ASSERT_EQ(kbdinext(h, key, &recno), kKbdOk);
  const std::string from = Text(key);
  ASSERT_EQ(child.Run(1), kKbdOk);
  std::vector<std::string> rest;
  while (kbdinext(h, key, &recno) == kKbdOk) {
    rest.push_back(Text(key));
    ASSERT_EQ(recno, Keys::Recno(rest.back()));
  }
  EXPECT_EQ(rest, std::vector<std::string>(after.upper_bound(from),
                                           after.end()));
  const std::vector<IndexEntry> back = WalkBack(h);
  ASSERT_EQ(back.size(), after.size());
  for (const std::string& k : after) {
    IndexEntry found;
    ASSERT_EQ(Find(h, k, 0, 0, &found), kKbdOk) << k;
    EXPECT_EQ(found.recno, Keys::Recno(k));
  }
  // The child's keys go again while the parent keeps the nodes of its
  // seeks: the seeks now land on the parent's keys.
  ASSERT_EQ(child.Run(2), kKbdOk);
  std::set<std::string> left;
  for (int i = 0; i < kKeys; i += 3) left.insert(Keys::Key(i, 0));
  for (int i = 0; i < kKeys; ++i) {
    IndexEntry found;
    const std::string gone = Keys::Key(i, 1);
    const int16_t s = Find(h, gone, 0, 0, &found);
    auto next = left.upper_bound(gone);
    if (next == left.end()) {
      EXPECT_EQ(s, kKbdKeyNotFoundEnd) << gone;
    } else {
      ASSERT_EQ(s, kKbdKeyNotFound) << gone;
      EXPECT_EQ(found.recno, Keys::Recno(*next)) << gone;
    }
  }
  EXPECT_EQ(IdxKeys().HoldsExactly(h, left), 0);
  EXPECT_EQ(Check(h).keys, left.size());
  ASSERT_EQ(kbdiclose(h), kKbdOk);
}

INSTANTIATE_TEST_SUITE_P(Layouts, IdxShareTest,
                         ::testing::Values(uint16_t{'C'},
                                           uint16_t{'C' | kKbdKeyCompact}));

}  // namespace
}  // namespace qx::engine::testing
