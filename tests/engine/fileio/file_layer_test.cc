// The engine file layer: status mapping of every operation, the read-only
// fallback, locks between slots, and slot exhaustion.
#include "engine/fileio/file_layer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/core/last_error.h"
#include "engine/core/status.h"
#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

class FileLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(kbdinit(32767, 4), kKbdOk); }
  void TearDown() override { kbdterm(); }

  std::string MakeFile(const std::string& name, const std::string& bytes) {
    std::string path = dir_.File(name);
    qx::testing::WriteWholeFile(path, bytes);
    return path;
  }

  qx::testing::TempDir dir_;
};

TEST_F(FileLayerTest, ReadWriteSeekSize) {
  std::string path = dir_.File("a.dat");
  uint16_t slot = 0;
  ASSERT_EQ(FileCreate(&slot, path.c_str()), kKbdOk);
  EXPECT_GE(slot, kFirstFileSlot);
  ASSERT_EQ(FileWrite(slot, "hello world", 11), kKbdOk);
  uint32_t size = 0, pos = 0;
  ASSERT_EQ(FileSeek(slot, 6), kKbdOk);
  ASSERT_EQ(FileSize(slot, &size), kKbdOk);
  EXPECT_EQ(size, 11u);
  ASSERT_EQ(FilePosition(slot, &pos), kKbdOk);
  EXPECT_EQ(pos, 6u);  // size keeps the position
  char buf[8] = {};
  ASSERT_EQ(FileRead(slot, buf, 5), kKbdOk);
  EXPECT_EQ(std::string(buf, 5), "world");
  bool at_end = false;
  ASSERT_EQ(FileAtEnd(slot, &at_end), kKbdOk);
  EXPECT_TRUE(at_end);
  ASSERT_EQ(FileWriteAt(slot, 0, "J", 1), kKbdOk);
  ASSERT_EQ(FileReadAt(slot, 0, buf, 5), kKbdOk);
  EXPECT_EQ(std::string(buf, 5), "Jello");
  FileCut(slot, 5);
  ASSERT_EQ(FileSize(slot, &size), kKbdOk);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(FileFlush(slot), kKbdOk);

  // Reading past the end is -2, and the error sticks.
  ASSERT_EQ(FileSeek(slot, 3), kKbdOk);
  EXPECT_EQ(FileRead(slot, buf, 5), kKbdErrRead);
  EXPECT_EQ(FileSeek(slot, 0), kKbdErrRead);
  kbdseterror(0);
  EXPECT_EQ(FileRead(slot, nullptr, 1), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(FileClose(slot), kKbdOk);
  EXPECT_EQ(FileClose(slot), kKbdErrHandle);  // now free
  kbdseterror(0);
  EXPECT_EQ(FileClose(kNoFileSlot), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(FileRead(kNoFileSlot, buf, 1), kKbdErrRead);
  kbdseterror(0);
  EXPECT_EQ(FileCreate(&slot, ""), kKbdErrFileName);
  kbdseterror(0);
  EXPECT_EQ(FileCreate(nullptr, path.c_str()), kKbdErrNullPointer);
}

TEST_F(FileLayerTest, OpenFallsBackToReadOnlyShared) {
  std::string path = MakeFile("b.dat", "0123456789");
  // Another handle reads the file and lets others only read: a read-write
  // open is refused, the engine's retry opens it read-only and shared.
  platform::File* reader = platform::OpenFile(
      path.c_str(), platform::kFileRead | platform::kFileShareRead |
                        platform::kFileOpenExisting);
  ASSERT_NE(reader, nullptr);
  uint16_t slot, flags = 0;
  bool closed = true;
  ASSERT_EQ(FileOpen(&slot, path.c_str(), 0x0001, &flags, &closed), kKbdOk);
  EXPECT_EQ(flags, kFileFlagReadOnly | kFileFlagShared);
  EXPECT_FALSE(closed);
  EXPECT_EQ(FileWrite(slot, "x", 1), kKbdErrWrite);
  kbdseterror(0);
  char buf[4];
  EXPECT_EQ(FileRead(slot, buf, 4), kKbdOk);
  EXPECT_EQ(FileClose(slot), kKbdOk);

  // An exclusive holder leaves nothing to open: -46.
  platform::CloseFile(reader);
  platform::File* holder = platform::OpenFile(
      path.c_str(), platform::kFileRead | platform::kFileOpenExisting);
  ASSERT_NE(holder, nullptr);
  flags = 0;
  EXPECT_EQ(FileOpen(&slot, path.c_str(), 0x0401, &flags), kKbdErrOpen);
  platform::CloseFile(holder);
  kbdseterror(0);
  EXPECT_EQ(FileOpen(&slot, dir_.File("missing").c_str(), 0x0001, &flags),
            kKbdErrOpen);
  kbdseterror(0);
  ASSERT_EQ(FileOpen(&slot, path.c_str(), 0x0501, &flags), kKbdOk);
  EXPECT_EQ(flags, kFileFlagReadOnly | kFileFlagShared);
  EXPECT_EQ(FileClose(slot), kKbdOk);
}

TEST_F(FileLayerTest, LocksBetweenSlotsOfOneFile) {
  std::string path = MakeFile("c.dat", "data");
  uint16_t a, b, fa = 0, fb = 0;
  ASSERT_EQ(FileOpen(&a, path.c_str(), 0x0401, &fa), kKbdOk);
  ASSERT_EQ(FileOpen(&b, path.c_str(), 0x0401, &fb), kKbdOk);
  const uint32_t rec5 = 0x7FFFFFBFu - 5;
  ASSERT_EQ(FileLock(a, false, rec5, 1), kKbdOk);
  EXPECT_EQ(FileLock(b, false, rec5, 1), kKbdErrLockViolation);
  kbdseterror(0);
  EXPECT_EQ(FileLock(a, false, rec5, 1), kKbdErrLockViolation);  // same slot
  kbdseterror(0);
  EXPECT_EQ(FileLock(b, true, rec5, 1),
            SystemErrorStatus(platform::kErrorNotLocked));
  kbdseterror(0);
  ASSERT_EQ(FileLock(a, true, rec5, 1), kKbdOk);
  EXPECT_EQ(FileLock(b, false, rec5, 1), kKbdOk);
  EXPECT_EQ(FileLock(0, false, 0, 1), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(FileLock(kNoFileSlot, false, 0, 1), kKbdErrHandle);
  kbdseterror(0);
  EXPECT_EQ(FileClose(b), kKbdOk);  // closing releases b's lock
  EXPECT_EQ(FileLock(a, false, rec5, 1), kKbdOk);
  EXPECT_EQ(FileClose(a), kKbdOk);
}

TEST_F(FileLayerTest, DeleteAndRename) {
  std::string path = MakeFile("d.dat", "x");
  std::string moved = dir_.File("e.dat");
  EXPECT_EQ(FileDelete(dir_.File("nothing").c_str()), kKbdKeyNotFound);
  EXPECT_EQ(FileRename(moved.c_str(), dir_.File("nothing").c_str()),
            kKbdErrNoFile);
  kbdseterror(0);
  EXPECT_EQ(FileRename(moved.c_str(), path.c_str()), kKbdOk);
  EXPECT_FALSE(FileExists(path.c_str()));
  EXPECT_TRUE(FileExists(moved.c_str()));
  EXPECT_EQ(FileDelete(moved.c_str()), kKbdOk);
  EXPECT_FALSE(FileExists(moved.c_str()));
  EXPECT_EQ(FileDelete(nullptr), kKbdErrNullPointer);
}

TEST_F(FileLayerTest, SlotTableHoldsExactly1024Files) {
  std::string path = MakeFile("f.dat", "x");
  std::vector<uint16_t> slots;
  for (int i = 0; i < kFileSlotCount; ++i) {
    uint16_t slot, flags = 0;
    ASSERT_EQ(FileOpen(&slot, path.c_str(), 0x0501, &flags), kKbdOk) << i;
    slots.push_back(slot);
  }
  EXPECT_EQ(slots.front(), 2);
  EXPECT_EQ(slots.back(), 1025);
  uint16_t slot, flags = 0;
  EXPECT_EQ(FileOpen(&slot, path.c_str(), 0x0501, &flags), kKbdErrOpen);
  kbdseterror(0);
  ASSERT_EQ(FileClose(slots[10]), kKbdOk);
  ASSERT_EQ(FileOpen(&slot, path.c_str(), 0x0501, &flags), kKbdOk);
  EXPECT_EQ(slot, slots[10]);
  // kbdterm ends the layer; files left open are closed there.
}

}  // namespace
}  // namespace qx::engine
