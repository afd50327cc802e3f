// Two processes on one index file, in lockstep by pipes: the scenarios
// every index format must pass, written once over a format description
// (how the format creates, opens, checks and seeks through the C API) and
// instantiated by each format's share test.
//
// IndexShareTest (every format):
// - TwoProcessesShareOneFile: adds and deletes of both processes
//   interleave in the same leaves and each sees the other's changes at its
//   next call, walks included (a walk keeps its pages, and the other's
//   add must not hide behind them); in the end every key is found, the
//   file passes the check, and it holds the same keys opened alone.
// - FileOpenWithoutSharingIsOpenedByNoOneElse: what a handle opened
//   without sharing trusts (its kept pages and header words) holds only
//   because no other process can open the file, in any mode, and neither
//   can a second handle of this process; once closed, the other process
//   opens it and its change is seen by the next open.
// IndexWalkShareTest (every format; a seek to the first key not below):
// - AWalkGoesOnAfterAnotherProcessChangesTheTree: the parent walks half
//   the keys, keeping its pages; the child deletes two keys of three
//   (merging, freeing pages) and adds as many (splitting, reusing them);
//   the walk goes on from its entry in the changed tree, and walks and
//   seeks see every change; the child then takes its keys out again while
//   the parent holds only the pages of its seeks.
#ifndef QX_TESTS_ENGINE_INDEX_SHARE_HARNESS_H_
#define QX_TESTS_ENGINE_INDEX_SHARE_HARNESS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "qx/engine.h"
#include "tests/engine/btree/index_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {

// What a process of a scenario holds open: the file, the handle its keys
// go through (the file itself, or a tag of it) and, where the format has
// tags and the scenario a second one, that tag.
template <typename Handle>
struct OpenIndex {
  int16_t file = kKbdNoHandle;
  Handle keys = kKbdNoHandle;
  Handle other = kKbdNoHandle;
};

// The base of a format description (Format derives from it). A format
// supplies:
//   kKeys, kSuffix    keys per process; the file name's extension
//   kShared           the open mode of two processes sharing the file
//   Keys()            keys as strings over the format's operations
//   CreateOpen(path, mode, OpenIndex*)   a new file (replacing) with its
//                     character keys of up to 12 bytes, opened; fatal
//                     failures when it cannot
//   Open(path, mode, OpenIndex*)  opens the file and its keys: the status
//                     (on failure nothing is left open)
//   Close(file)
//   Check(index)      the format's structural checks, their problems as
//                     test failures: the number of keys of index.keys
// and, for IndexWalkShareTest:
//   Seek(handle, key, recno)   to the first entry not below the key
//   kSeekPastEnd      its status when every key is smaller
// The hooks below let a format add its own steps to the scenario of two
// sharing processes; the defaults add nothing.
template <typename Format, typename HandleType>
struct ShareFormat {
  using Handle = HandleType;
  using Index = OpenIndex<Handle>;

  // The child's add of its key, and its delete of key i (even i).
  static int16_t ChildAdd(const Index& x, const std::string& key,
                          uint32_t recno) {
    return Format::Keys().Add(x.keys, key, recno);
  }
  static int16_t ChildDelete(const Index& x, int i, const std::string& key,
                             uint32_t recno) {
    if (i % 2 != 0) return 0;
    return Format::Keys().Del(x.keys, key, recno);
  }
  // After the deletes: what the freed pages must show.
  static void ExpectFreedPages(const Index&) {}
  // Whether both processes add every fourth key again (ReAdd), the child
  // still open; BeforeReAdd runs in the parent first; with ReAddKeepsSize
  // the adds take freed pages and the file does not grow.
  static constexpr bool kReAdd = false;
  static constexpr bool kReAddKeepsSize = false;
  static void BeforeReAdd(Index*, const std::string&) {}
  // A last change of the parent (LastChange) the child then looks for
  // (ChildLastLook: 0 when it sees it), before the child closes.
  static void LastChange(const Index&) {}
  static int ChildLastLook(const Index&) { return 0; }
  // The parent's own steps once the child has closed; *keys what the file
  // must hold afterwards.
  static void AfterSharing(Index*, const std::string&, std::set<std::string>*) {
  }
};

// The seek of formats whose find lands on the greatest smaller key when
// the key is absent (NDX, MDX): the find, then a step on. 4 when it lands
// on a greater key, 3 when every key is smaller.
template <typename Handle>
int16_t SeekByFindAndNext(Handle h, void* key, uint32_t* recno,
                          int16_t (*find)(Handle, void*, uint32_t*, uint16_t),
                          KeyMove<Handle> next) {
  const int16_t status = find(h, key, recno, 0);
  // Every key greater: positioned on the first, the one not below.
  if (status == kKbdKeyNotFoundEnd) return kKbdKeyNotFound;
  if (status != kKbdKeyNotFound) return status;
  const int16_t step = next(h, key, recno);
  return step == kKbdOk ? int16_t{kKbdKeyNotFound} : step;
}

// A key's text without the padding of its key length.
inline std::string KeyText(const std::string& key) {
  const size_t end = key.find_last_not_of(std::string(" \0", 2));
  return end == std::string::npos ? std::string() : key.substr(0, end + 1);
}

template <typename Format>
class IndexShareTest : public EngineDirTest {
 protected:
  using Handle = typename Format::Handle;
  using Index = OpenIndex<Handle>;

  std::string FilePath(const char* stem) const {
    return Path(std::string(stem) + Format::kSuffix);
  }
  // A seek from a copy of key text; *found the record number found.
  static int16_t SeekText(Handle h, const std::string& key, uint32_t* found) {
    char sought[32] = {};
    key.copy(sought, sizeof sought - 1);
    *found = 0;
    return Format::Seek(h, sought, found);
  }
};

template <typename Format>
class IndexWalkShareTest : public IndexShareTest<Format> {};

TYPED_TEST_SUITE_P(IndexShareTest);
TYPED_TEST_SUITE_P(IndexWalkShareTest);

TYPED_TEST_P(IndexShareTest, TwoProcessesShareOneFile) {
  using F = TypeParam;
  using Keys = TwoProcessKeys<F::kKeys>;
  constexpr int kKeys = F::kKeys;
  const auto keys = F::Keys();
  kbdsetsync(0);
  const std::string path = this->FilePath("shared");
  typename TestFixture::Index x;
  // The file is made once: a Windows child runs the test again up to its
  // child call and finds it there.
  if (qx::testing::RunsTestSetUp()) {
    ASSERT_NO_FATAL_FAILURE(F::CreateOpen(path, F::kShared, &x));
  }

  std::set<std::string> all, half;
  for (int i = 0; i < kKeys; ++i) {
    for (int parity = 0; parity < 2; ++parity) {
      all.insert(Keys::Key(i, parity));
      if (i % 2 != 0) half.insert(Keys::Key(i, parity));
    }
  }
  std::set<std::string> expected = half;
  if (F::kReAdd) {
    for (int i = 0; i < kKeys; i += 4) {
      expected.insert(Keys::Key(i, 0));
      expected.insert(Keys::Key(i, 1));
    }
  }

  // The child's steps: open; add its key i; verify; delete its key i
  // (even i); verify; add it again (every fourth); look for the parent's
  // last change; close.
  enum {
    kOpen = 0,
    kAdd = 1,
    kVerify = kAdd + kKeys,
    kDelete,
    kVerifyHalf = kDelete + kKeys,
    kReAdd,
    kLastLook = kReAdd + kKeys,
    kClose
  };
  typename TestFixture::Index mine;
  std::set<std::string> seen;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == kOpen) return F::Open(path, F::kShared, &mine);
    if (step >= kAdd && step < kVerify) {
      // Walks (the parent's keys 0..i and the child's own) end step 98
      // of every hundred, keeping their pages, and begin step 99, after
      // the parent's add.
      const int i = step - kAdd;
      seen.insert(Keys::Key(i, 0));
      if (i % 100 == 99 && keys.Walk(mine.keys).size() != seen.size())
        return 97;
      const std::string key = Keys::Key(i, 1);
      if (int16_t s = F::ChildAdd(mine, key, Keys::Recno(key))) return s;
      seen.insert(key);
      if (i % 100 < 98) return 0;
      return keys.Walk(mine.keys).size() == seen.size() ? 0 : 98;
    }
    if (step == kVerify) return keys.HoldsExactly(mine.keys, all);
    if (step >= kDelete && step < kVerifyHalf) {
      const int i = step - kDelete;
      const std::string key = Keys::Key(i, 1);
      return F::ChildDelete(mine, i, key, Keys::Recno(key));
    }
    if (step == kVerifyHalf) return keys.HoldsExactly(mine.keys, half);
    if (step >= kReAdd && step < kLastLook) {
      const int i = step - kReAdd;
      if (i % 4 != 0) return 0;
      return keys.Add(mine.keys, Keys::Key(i, 1), Keys::Recno(i, 1));
    }
    if (step == kLastLook) return F::ChildLastLook(mine);
    if (step == kClose) return F::Close(mine.file);
    return 99;
  });

  ASSERT_EQ(child.Run(kOpen), kKbdOk);
  for (int i = 0; i < kKeys; ++i) {
    ASSERT_EQ(keys.Add(x.keys, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk)
        << i;
    // A walk keeps its pages; the child's add must not hide behind them.
    if (i % 100 == 50) {
      ASSERT_EQ(keys.Walk(x.keys).size(), 2u * i + 1) << i;
    }
    ASSERT_EQ(child.Run(kAdd + i), kKbdOk) << i;
    if (i % 100 == 50) {
      ASSERT_EQ(keys.Walk(x.keys).size(), 2u * (i + 1)) << i;
    }
  }
  ASSERT_EQ(child.Run(kVerify), 0);
  ASSERT_EQ(keys.HoldsExactly(x.keys, all), 0);
  EXPECT_EQ(F::Check(x), all.size());

  // Deletes from both sides merge pages and free them.
  for (int i = 0; i < kKeys; ++i) {
    if (i % 2 == 0) {
      ASSERT_EQ(keys.Del(x.keys, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk)
          << i;
    }
    ASSERT_EQ(child.Run(kDelete + i), kKbdOk) << i;
  }
  ASSERT_EQ(child.Run(kVerifyHalf), 0);
  ASSERT_EQ(keys.HoldsExactly(x.keys, half), 0);
  EXPECT_EQ(F::Check(x), half.size());
  ASSERT_NO_FATAL_FAILURE(F::ExpectFreedPages(x));

  if (F::kReAdd) {
    ASSERT_NO_FATAL_FAILURE(F::BeforeReAdd(&x, path));
    const uint64_t size = this->FileSize(path);
    for (int i = 0; i < kKeys; ++i) {
      if (i % 4 == 0) {
        ASSERT_EQ(keys.Add(x.keys, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk)
            << i;
      }
      ASSERT_EQ(child.Run(kReAdd + i), kKbdOk) << i;
    }
    if (F::kReAddKeepsSize) {
      EXPECT_EQ(this->FileSize(path), size);
    }
  }
  ASSERT_NO_FATAL_FAILURE(F::LastChange(x));
  ASSERT_EQ(child.Run(kLastLook), 0);
  ASSERT_EQ(child.Run(kClose), kKbdOk);
  ASSERT_EQ(keys.HoldsExactly(x.keys, expected), 0);
  EXPECT_EQ(F::Check(x), expected.size());
  ASSERT_NO_FATAL_FAILURE(F::AfterSharing(&x, path, &expected));

  // Opened alone, the file holds the same keys.
  ASSERT_EQ(F::Close(x.file), kKbdOk);
  ASSERT_EQ(F::Open(path, 0, &x), kKbdOk);
  EXPECT_EQ(keys.HoldsExactly(x.keys, expected), 0);
  EXPECT_EQ(F::Check(x), expected.size());
  ASSERT_EQ(F::Close(x.file), kKbdOk);
}

TYPED_TEST_P(IndexShareTest, FileOpenWithoutSharingIsOpenedByNoOneElse) {
  using F = TypeParam;
  using Keys = TwoProcessKeys<F::kKeys>;
  const auto keys = F::Keys();
  kbdsetsync(0);
  const std::string path = this->FilePath("alone");
  typename TestFixture::Index x;
  if (qx::testing::RunsTestSetUp()) {
    ASSERT_NO_FATAL_FAILURE(F::CreateOpen(path, F::kShared, &x));
    ASSERT_EQ(F::Close(x.file), kKbdOk);
  }
  const std::string first = "00000001", second = "00000002";
  // The child starts before the file is opened (a Windows child runs the
  // test's set-up again up to here). Steps 0..3 open in each mode, step 4
  // adds a key, step 5 only answers: it is alive.
  const uint16_t kModes[] = {0, 0x400, 0x100, 0x100 | 0x400};
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    typename TestFixture::Index mine;
    if (step < 4) {
      const int16_t status = F::Open(path, kModes[step], &mine);
      if (status >= 0) F::Close(mine.file);
      return status;
    }
    if (step == 5) return 0;
    if (int16_t s = F::Open(path, F::kShared, &mine); s < 0) return s;
    if (int16_t s = keys.Add(mine.keys, second, Keys::Recno(second)); s < 0)
      return s;
    return F::Close(mine.file);
  });
  ASSERT_EQ(child.Run(5), 0);
  ASSERT_EQ(F::Open(path, 0, &x), kKbdOk);
  ASSERT_EQ(keys.Add(x.keys, first, Keys::Recno(first)), kKbdOk);
  for (int step = 0; step < 4; ++step)
    EXPECT_LT(child.Run(step), 0) << "mode " << kModes[step];
  typename TestFixture::Index again;
  EXPECT_LT(F::Open(path, 0x100 | 0x400, &again), 0);
  kbdseterror(0);
  EXPECT_EQ(keys.Walk(x.keys).size(), 1u);
  ASSERT_EQ(F::Close(x.file), kKbdOk);

  ASSERT_EQ(child.Run(4), kKbdOk);
  ASSERT_EQ(F::Open(path, 0, &x), kKbdOk);
  EXPECT_EQ(keys.HoldsExactly(x.keys, {first, second}), 0);
  ASSERT_EQ(F::Close(x.file), kKbdOk);
}

TYPED_TEST_P(IndexWalkShareTest, AWalkGoesOnAfterAnotherProcessChangesTheTree) {
  using F = TypeParam;
  using Keys = TwoProcessKeys<F::kKeys>;
  constexpr int kKeys = F::kKeys;
  const auto keys = F::Keys();
  kbdsetsync(0);
  const std::string path = this->FilePath("walk");
  typename TestFixture::Index x;
  // The file and its keys are made once (a Windows child runs the test
  // again up to its child call and finds them there).
  const bool set_up = qx::testing::RunsTestSetUp();
  if (set_up) {
    ASSERT_NO_FATAL_FAILURE(F::CreateOpen(path, F::kShared, &x));
  }
  std::set<std::string> after;
  for (int i = 0; i < kKeys; ++i) {
    if (set_up) {
      ASSERT_EQ(keys.Add(x.keys, Keys::Key(i, 0), Keys::Recno(i, 0)), kKbdOk)
          << i;
    }
    if (i % 3 == 0) after.insert(Keys::Key(i, 0));
    after.insert(Keys::Key(i, 1));
  }
  // The child's steps: open; delete two of three of the parent's keys
  // and add its own; delete its own again; close.
  typename TestFixture::Index mine;
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    if (step == 0) return F::Open(path, F::kShared, &mine);
    if (step == 3) return F::Close(mine.file);
    for (int i = 0; i < kKeys; ++i) {
      if (step == 1 && i % 3 != 0) {
        if (int16_t s = keys.Del(mine.keys, Keys::Key(i, 0), Keys::Recno(i, 0)))
          return s;
      }
      const std::string own = Keys::Key(i, 1);
      if (int16_t s = step == 1 ? keys.Add(mine.keys, own, Keys::Recno(own))
                                : keys.Del(mine.keys, own, Keys::Recno(own)))
        return s;
    }
    return 0;
  });
  ASSERT_EQ(child.Run(0), kKbdOk);

  std::vector<char> key(keys.KeyLength(x.keys) + 1u, '\0');
  const auto text = [&key] {
    return KeyText(std::string(key.data(), key.size() - 1));
  };
  uint32_t recno = 0;
  ASSERT_EQ(keys.First(x.keys, &key, &recno), kKbdOk);
  for (int n = 1; n < kKeys / 2; ++n)
    ASSERT_EQ(keys.Next(x.keys, &key, &recno), kKbdOk);
  const std::string from = text();
  ASSERT_EQ(child.Run(1), kKbdOk);
  std::vector<std::string> rest;
  while (keys.Next(x.keys, &key, &recno) == kKbdOk) {
    rest.push_back(text());
    ASSERT_EQ(recno, Keys::Recno(rest.back()));
  }
  EXPECT_EQ(rest,
            std::vector<std::string>(after.upper_bound(from), after.end()));
  EXPECT_EQ(keys.HoldsExactly(x.keys, after), 0);
  EXPECT_EQ(keys.WalkBack(x.keys).size(), after.size());
  for (const std::string& k : after) {
    uint32_t found = 0;
    ASSERT_EQ(this->SeekText(x.keys, k, &found), kKbdOk) << k;
    EXPECT_EQ(found, Keys::Recno(k));
  }
  EXPECT_EQ(F::Check(x), after.size());

  // The child's keys go again while the parent keeps the pages of its
  // seeks: the seeks now land on the parent's keys.
  ASSERT_EQ(child.Run(2), kKbdOk);
  std::set<std::string> left;
  for (int i = 0; i < kKeys; i += 3) left.insert(Keys::Key(i, 0));
  for (int i = 0; i < kKeys; ++i) {
    const std::string gone = Keys::Key(i, 1);
    uint32_t found = 0;
    const int16_t s = this->SeekText(x.keys, gone, &found);
    auto next = left.upper_bound(gone);
    if (next == left.end()) {
      EXPECT_EQ(s, F::kSeekPastEnd) << gone;
    } else {
      ASSERT_EQ(s, kKbdKeyNotFound) << gone;
      EXPECT_EQ(found, Keys::Recno(*next)) << gone;
    }
  }
  EXPECT_EQ(keys.HoldsExactly(x.keys, left), 0);
  EXPECT_EQ(F::Check(x), left.size());
  ASSERT_EQ(child.Run(3), kKbdOk);
  ASSERT_EQ(F::Close(x.file), kKbdOk);
}

REGISTER_TYPED_TEST_SUITE_P(IndexShareTest, TwoProcessesShareOneFile,
                            FileOpenWithoutSharingIsOpenedByNoOneElse);
REGISTER_TYPED_TEST_SUITE_P(IndexWalkShareTest,
                            AWalkGoesOnAfterAnotherProcessChangesTheTree);

}  // namespace qx::engine::testing

#endif  // QX_TESTS_ENGINE_INDEX_SHARE_HARNESS_H_
