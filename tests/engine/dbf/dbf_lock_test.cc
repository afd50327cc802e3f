// File and record locks of data files: between two handles of this
// process, and against a second process run in lockstep through pipes.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/engine/dbf/dbf_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {
namespace {

RawDbf ThreeRecords() {
  RawDbf dbf;
  dbf.fields = {{"NAME", 'C', 4, 0}};
  dbf.records = {" AAAA", " BBBB", " CCCC"};
  return dbf;
}

// Runs op with the last error cleared and answers its status.
template <typename Op>
int16_t Fresh(Op op) {
  kbdseterror(0);
  int16_t status = op();
  kbdseterror(0);
  return status;
}

TEST_F(DbfTest, LocksBetweenHandles) {
  std::string path = Write("l.dbf", ThreeRecords());
  int16_t a = -1, b = -1, c = -1;
  ASSERT_EQ(Open(path, 0x400 | 1, &a), kKbdOk);
  ASSERT_EQ(Open(path, 0x400 | 1, &b), kKbdOk);
  ASSERT_EQ(Open(path, 0x400 | 1, &c), kKbdOk);

  // Record locks: held per handle, listed, tested, released.
  ASSERT_EQ(kbddlockrec(a, 2, kKbdLockRec), kKbdOk);
  EXPECT_EQ(kbddlockrec(a, 2, kKbdLockRec), kKbdOk);      // already listed
  EXPECT_EQ(kbddlockrec(a, 2, kKbdLockRecTest), kKbdOk);  // ours
  EXPECT_EQ(Fresh([&] { return kbddlockrec(b, 2, kKbdLockRec); }),
            kKbdErrLockViolation);
  EXPECT_EQ(Fresh([&] { return kbddlockrec(b, 2, kKbdLockRecTest); }),
            kKbdErrLockViolation);
  EXPECT_EQ(kbddlockrec(b, 3, kKbdLockRecTest), kKbdOk);  // test holds nothing
  EXPECT_EQ(kbddlockrec(a, 3, kKbdLockRec), kKbdOk);
  EXPECT_EQ(Fresh([&] { return kbddlock(b, 2); }), kKbdErrLockViolation);
  EXPECT_EQ(kbddlockrec(a, 9, kKbdLockRecUnlock), kKbdOk);  // not listed
  EXPECT_EQ(kbddlockrec(a, 2, kKbdLockRecUnlock), kKbdOk);
  EXPECT_EQ(kbddlockrec(b, 2, kKbdLockRec), kKbdOk);
  EXPECT_EQ(kbddlockrec(a, 0, kKbdLockRecUnlock), kKbdOk);  // all of a's
  EXPECT_EQ(kbddlockrec(b, 0, kKbdLockRecUnlock), kKbdOk);
  EXPECT_EQ(kbddlockrec(a, 1, 99), kKbdOk);  // other modes do nothing

  // The list grows past its first 64 entries; unlocking all frees each.
  for (uint32_t n = 1; n <= 200; ++n)
    ASSERT_EQ(kbddlockrec(a, n, kKbdLockRec), kKbdOk);
  EXPECT_EQ(Fresh([&] { return kbddlockrec(b, 150, kKbdLockRec); }),
            kKbdErrLockViolation);
  ASSERT_EQ(kbddlockrec(a, 0, kKbdLockRecUnlock), kKbdOk);
  EXPECT_EQ(kbddlockrec(b, 150, kKbdLockRec), kKbdOk);
  EXPECT_EQ(kbddlockrec(b, 150, kKbdLockRecUnlock), kKbdOk);

  // File lock mode 2 excludes record locks and other file locks.
  ASSERT_EQ(kbddlock(a, 2), kKbdOk);
  EXPECT_EQ(Fresh([&] { return kbddlockrec(b, 1, kKbdLockRec); }),
            kKbdErrLockViolation);
  EXPECT_EQ(Fresh([&] { return kbddlock(b, 1); }), kKbdErrLockViolation);
  EXPECT_EQ(Fresh([&] { return kbddlock(b, 4); }), kKbdErrLockViolation);
  EXPECT_EQ(kbddunlock(a, 2), kKbdOk);
  EXPECT_EQ(kbddunlock(a, 2), kKbdOk);  // unlocking twice is still 0
  EXPECT_EQ(kbddlockrec(b, 1, kKbdLockRec), kKbdOk);
  EXPECT_EQ(kbddlockrec(b, 1, kKbdLockRecUnlock), kKbdOk);

  // Mode 4 takes one shared slot per handle; mode 2 and mode 5 then fail.
  ASSERT_EQ(kbddlock(a, 4), kKbdOk);
  ASSERT_EQ(kbddlock(b, 4), kKbdOk);
  EXPECT_EQ(Fresh([&] { return kbddlock(c, 2); }), kKbdErrLockViolation);
  EXPECT_EQ(Fresh([&] { return kbddlock(c, 5); }), kKbdErrLockViolation);
  EXPECT_EQ(kbddlock(c, 1), kKbdOk);  // mode 1's byte lies beyond the slots
  EXPECT_EQ(kbddunlock(c, 1), kKbdOk);
  EXPECT_EQ(kbddunlock(a, 4), kKbdOk);
  EXPECT_EQ(kbddunlock(b, 4), kKbdOk);
  EXPECT_EQ(kbddlock(c, 5), kKbdOk);
  EXPECT_EQ(kbddlock(c, 3), kKbdOk);
  EXPECT_EQ(Fresh([&] { return kbddlock(a, 4); }), kKbdErrLockViolation);
  EXPECT_EQ(kbddunlock(c, 3), kKbdOk);
  EXPECT_EQ(kbddlock(c, 0), kKbdOk);  // other modes do nothing
  EXPECT_EQ(kbddunlock(c, 7), kKbdOk);

  kbddclose(a);
  kbddclose(b);
  kbddclose(c);
}

// The child's answers: a status as 0..255 (negative statuses + 100 made
// positive), or a record number.
int Answer(int16_t status) { return status < 0 ? 100 - status : status; }

TEST_F(DbfTest, LocksBetweenProcesses) {
  std::string path = Write("p.dbf", ThreeRecords());
  int16_t child_handle = -1;
  // Forked before the parent opens anything: the child inherits no files.
  qx::testing::ChildProcess child([&](int step) -> int {
    kbdseterror(0);
    uint32_t recno = 0;
    switch (step) {
      case 1:
        return Answer(kbddopenx(&child_handle, path.c_str(), 0x400 | 1));
      case 2:
        return Answer(kbddlockrec(child_handle, 2, kKbdLockRec));
      case 3:
        return Answer(kbddlockrec(child_handle, 3, kKbdLockRec));
      case 4:
        return Answer(kbddlockrec(child_handle, 2, kKbdLockRecUnlock));
      case 5:
        return Answer(kbddlockrec(child_handle, 1, kKbdLockRec));
      case 6:
        return Answer(kbddlockrec(child_handle, 0, kKbdLockRecUnlock));
      case 7:
        if (kbddlock(child_handle, 2) != kKbdOk) return 255;
        if (kbddread(child_handle, 1) != kKbdOk) return 254;
        if (kbddwrite(child_handle, &recno, kKbdWriteAppend) != kKbdOk)
          return 253;
        kbddunlock(child_handle, 2);
        return static_cast<int>(recno);
      case 8:
        return Answer(kbddclose(child_handle));
      default:
        return 250;
    }
  });
  const int kViolation = Answer(kKbdErrLockViolation);

  ASSERT_EQ(child.Run(1), 0);
  int16_t h = -1;
  ASSERT_EQ(Open(path, 0x400 | 1, &h), kKbdOk);

  // A record locked by one process cannot be locked by the other.
  ASSERT_EQ(child.Run(2), 0);
  EXPECT_EQ(Fresh([&] { return kbddlockrec(h, 2, kKbdLockRec); }),
            kKbdErrLockViolation);
  EXPECT_EQ(Fresh([&] { return kbddlockrec(h, 2, kKbdLockRecTest); }),
            kKbdErrLockViolation);
  ASSERT_EQ(kbddlockrec(h, 3, kKbdLockRec), kKbdOk);
  EXPECT_EQ(child.Run(3), kViolation);
  // Unlocking releases.
  ASSERT_EQ(child.Run(4), 0);
  EXPECT_EQ(kbddlockrec(h, 2, kKbdLockRec), kKbdOk);
  ASSERT_EQ(kbddlockrec(h, 0, kKbdLockRecUnlock), kKbdOk);

  // File lock mode 2 blocks the other process's record locks.
  ASSERT_EQ(kbddlock(h, 2), kKbdOk);
  EXPECT_EQ(child.Run(5), kViolation);
  ASSERT_EQ(kbddunlock(h, 2), kKbdOk);
  EXPECT_EQ(child.Run(5), 0);
  EXPECT_EQ(child.Run(6), 0);

  // After the other process appended, a file lock brings the new count.
  uint32_t count = 0;
  ASSERT_EQ(kbddreccount(h, &count), kKbdOk);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(child.Run(7), 4);
  ASSERT_EQ(kbddreccount(h, &count), kKbdOk);
  EXPECT_EQ(count, 3u);
  ASSERT_EQ(kbddlock(h, 1), kKbdOk);
  ASSERT_EQ(kbddreccount(h, &count), kKbdOk);
  EXPECT_EQ(count, 4u);
  ASSERT_EQ(kbddunlock(h, 1), kKbdOk);
  EXPECT_EQ(kbddread(h, 4), kKbdOk);

  EXPECT_EQ(child.Run(8), 0);
  kbddclose(h);
}

// Four processes append to one shared table at the same time, through
// the append lock alone (no caller lock): every record lands exactly once
// and the header counts them all.
TEST_F(DbfTest, AppendsOfManyProcessesTakeTurns) {
  std::string path = dir_.File("a.dbf");
  KbdFieldDef defs[] = {FieldDef("WHO", 'N', 2), FieldDef("SEQ", 'N', 5)};
  ASSERT_EQ(kbddcreate(path.c_str(), 2, defs, kKbdDbase3), kKbdOk);
  constexpr int kWriters = 4, kAppends = 2000;
  std::vector<int> results =
      qx::testing::RunChildrenTogether(kWriters, [&](int who) {
        int16_t h = -1;
        kbdsetsync(0);
        // The others' appends go on meanwhile: the open must neither fail nor
        // warn about the size.
        if (kbddopenx(&h, path.c_str(), 0x400 | kKbdDbase3) != kKbdOk) return 1;
        for (int n = 0; n < kAppends; ++n) {
          double w = who, seq = n;
          uint32_t recno = 0;
          if (kbddput(h, 0, &w) != kKbdOk || kbddput(h, 1, &seq) != kKbdOk ||
              kbddwrite(h, &recno, kKbdWriteAppend) != kKbdOk)
            return 2;
        }
        return kbddclose(h) == kKbdOk ? 0 : 3;
      });
  EXPECT_EQ(results, std::vector<int>(kWriters, 0));

  int16_t h = -1;
  ASSERT_EQ(Open(path, kKbdDbase3, &h), kKbdOk);
  uint32_t count = 0;
  ASSERT_EQ(kbddreccount(h, &count), kKbdOk);
  ASSERT_EQ(count, uint32_t{kWriters * kAppends});
  std::vector<int> next(kWriters, 0);  // each writer's records in its order
  for (uint32_t r = 1; r <= count; ++r) {
    ASSERT_EQ(kbddread(h, r), kKbdOk);
    double who = -1, seq = -1;
    ASSERT_EQ(kbddget(h, 0, &who), kKbdOk);
    ASSERT_EQ(kbddget(h, 1, &seq), kKbdOk);
    ASSERT_GE(who, 0);
    ASSERT_LT(who, kWriters);
    EXPECT_EQ(seq, next[static_cast<int>(who)]++) << "record " << r;
  }
  EXPECT_EQ(next, std::vector<int>(kWriters, kAppends));
  KbdDbfInfo info{};
  ASSERT_EQ(kbddinfo(h, &info), kKbdOk);
  EXPECT_EQ(std::filesystem::file_size(path),
            info.header_size + uint64_t{count} * info.record_size + 1);
  kbddclose(h);
}

}  // namespace
}  // namespace qx::engine::testing
