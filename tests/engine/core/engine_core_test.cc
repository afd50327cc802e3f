// Engine core: start and stop, the sticky last error, the handle table, the
// open-mode word, the dialect table, the status catalogue and the byte
// codecs.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "engine/core/coding.h"
#include "engine/core/handle_table.h"
#include "engine/core/last_error.h"
#include "engine/core/open_mode.h"
#include "engine/core/status.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

struct TestBlock : ControlBlock {
  int value = 0;
};

int g_closed = 0;
int16_t CloseTestHandle(int16_t handle) {
  if (CheckHandle(handle, kKbdKindDbf) == nullptr) return LastError();
  ++g_closed;
  FreeHandle(handle);
  return kKbdOk;
}

class EngineCoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    kbdterm();
    g_closed = 0;
  }
  void TearDown() override { kbdterm(); }
};

TEST_F(EngineCoreTest, NotStartedAnswersMinus59) {
  uint16_t code;
  char name[kKbdDateFormatNameSize];
  EXPECT_EQ(kbdgetdatefmt(&code, name), kKbdErrNoTask);
  EXPECT_EQ(kbdsetdatefmt(4), kKbdErrNoTask);
  EXPECT_EQ(kbdseterror(0), kKbdErrNoTask);
  EXPECT_EQ(kbdgeterror(), kKbdErrNoTask);
  EXPECT_EQ(Engine().last_error_copy, kKbdErrNoTask);
  EXPECT_EQ(RunOperation([] { return int16_t{0}; }), kKbdErrNoTask);

  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  EXPECT_EQ(kbdgeterror(), kKbdOk);
  EXPECT_EQ(kbdterm(), kKbdOk);
  EXPECT_EQ(Engine().last_error_copy, kKbdOk);  // kbdterm clears the copy
  EXPECT_EQ(kbdgetdatefmt(&code, name), kKbdErrNoTask);
  EXPECT_EQ(Engine().last_error_copy, kKbdErrNoTask);
}

TEST_F(EngineCoreTest, LastErrorIsSticky) {
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  int runs = 0;
  auto op = [&] {
    return RunOperation([&] {
      ++runs;
      return int16_t{0};
    });
  };
  EXPECT_EQ(kbdseterror(kKbdErrRead), kKbdErrRead);
  EXPECT_EQ(op(), kKbdErrRead);
  EXPECT_EQ(kbdsetdatefmt(7), kKbdErrRead);
  EXPECT_EQ(runs, 0);
  EXPECT_EQ(kbdgeterror(), kKbdErrRead);

  // A warning does not block, and the next operation starts from 0.
  EXPECT_EQ(kbdseterror(kKbdDeletedRecord), kKbdDeletedRecord);
  EXPECT_EQ(op(), kKbdOk);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(kbdgeterror(), kKbdOk);

  // A failed internal step wins over a body that carries on.
  EXPECT_EQ(RunOperation([] {
              Fail(kKbdErrSeek);
              return int16_t{0};
            }),
            kKbdErrSeek);
  EXPECT_EQ(op(), kKbdErrSeek);
  kbdseterror(0);
  EXPECT_EQ(RunOperation([]() -> int16_t { throw std::bad_alloc(); }),
            kKbdErrNoMemory);
}

TEST_F(EngineCoreTest, HandleTableFillsAndChecks) {
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  std::set<int16_t> handles;
  for (int i = 0; i < kKbdHandleSlots; ++i) {
    int16_t h = 99;
    TestBlock* block = nullptr;
    ASSERT_EQ(AllocateHandle(&h, kKbdKindDbf, &CloseTestHandle, &block),
              kKbdOk);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->value, 0);
    EXPECT_EQ(h, i);  // first free slot from 0
    handles.insert(h);
  }
  EXPECT_EQ(CurrentTask()->open_count, kKbdHandleSlots);
  int16_t h = 5;
  TestBlock* block = nullptr;
  EXPECT_EQ(AllocateHandle(&h, kKbdKindDbf, &CloseTestHandle, &block),
            kKbdErrNoHandle);
  EXPECT_EQ(h, kKbdNoHandle);

  kbdseterror(0);
  EXPECT_NE(CheckHandle(1018, kKbdKindDbf), nullptr);
  for (int16_t bad : {int16_t{-1}, int16_t{1019}, int16_t{30000}}) {
    kbdseterror(0);
    EXPECT_EQ(CheckHandle(bad, kKbdKindDbf), nullptr);
    EXPECT_EQ(kbdgeterror(), kKbdErrHandle);
  }
  kbdseterror(0);
  EXPECT_EQ(CheckHandle(3, kKbdKindNdx), nullptr);  // another kind
  EXPECT_EQ(kbdgeterror(), kKbdErrHandle);

  // A freed slot is the next one taken; a bad kind is -56.
  kbdseterror(0);
  FreeHandle(700);
  EXPECT_EQ(HandleKind(700), kKbdKindFree);
  EXPECT_EQ(AllocateHandle(&h, 9, &CloseTestHandle, &block), kKbdErrParameter);
  kbdseterror(0);
  EXPECT_EQ(AllocateHandle(&h, kKbdKindDbf, &CloseTestHandle, &block), kKbdOk);
  EXPECT_EQ(h, 700);
  EXPECT_EQ(AllocateHandle<TestBlock>(nullptr, kKbdKindDbf, nullptr, &block),
            kKbdErrNullPointer);
}

TEST_F(EngineCoreTest, SecondInitClosesEveryFile) {
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  for (int i = 0; i < 10; ++i) {
    int16_t h;
    TestBlock* block;
    ASSERT_EQ(AllocateHandle(&h, kKbdKindDbf, &CloseTestHandle, &block),
              kKbdOk);
  }
  kbdseterror(kKbdErrCorrupt);  // kbdterm closes even with a sticky error
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  EXPECT_EQ(g_closed, 10);
  EXPECT_EQ(CurrentTask()->open_count, 0);
  EXPECT_EQ(Engine().tasks.size(), 1u);
  EXPECT_EQ(kbdgeterror(), kKbdOk);
  int16_t h;
  TestBlock* block;
  ASSERT_EQ(AllocateHandle(&h, kKbdKindDbf, &CloseTestHandle, &block), kKbdOk);
  EXPECT_EQ(h, 0);
}

TEST_F(EngineCoreTest, DateFormatSetting) {
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  uint16_t code = 0;
  char name[kKbdDateFormatNameSize];
  ASSERT_EQ(kbdgetdatefmt(&code, name), kKbdOk);
  EXPECT_EQ(code, 4);
  EXPECT_STREQ(name, "dBASE (yyyymmdd)");
  EXPECT_EQ(kbdgetdatefmt(nullptr, name), kKbdErrNullPointer);
  kbdseterror(0);
  EXPECT_EQ(kbdsetdatefmt(0), kKbdErrCommand);
  kbdseterror(0);
  EXPECT_EQ(kbdsetdatefmt(16), kKbdErrCommand);
  kbdseterror(0);
  ASSERT_EQ(kbdgetdatefmt(&code, name), kKbdOk);
  EXPECT_EQ(code, 4);
  EXPECT_EQ(kbdsetdatefmt(7), kKbdOk);
  ASSERT_EQ(kbdgetdatefmt(&code, name), kKbdOk);
  EXPECT_EQ(code, 7);
  EXPECT_STREQ(name, "German (dd.mm.yyyy)");
}

TEST(OpenModeTest, NormalisesShorthandAndDialect) {
  EXPECT_EQ(NormalizeOpenMode(0x0800 | 2), 0x0600 | 2);
  EXPECT_EQ(NormalizeOpenMode(0x0800 | 0x0100 | 2), 0x0100 | 2);
  EXPECT_EQ(NormalizeOpenMode(0x0400), 0x0401);
  EXPECT_EQ(NormalizeOpenMode(0), 1);
  EXPECT_EQ(DialectOf(NormalizeOpenMode(0x080A)), 10);

  int16_t count = 0;
  const KbdDialectName* rows = kbddialects(&count);
  ASSERT_EQ(count, 11);
  EXPECT_EQ(rows[4].dialect, 5);
  EXPECT_STREQ(rows[5].name, "Clip Summer 1987");
  EXPECT_EQ(rows[5].dialect, 5);
  EXPECT_STREQ(DialectName(5), "Clipper");
  EXPECT_STREQ(DialectName(7), "dBXL/Quicksilver");
  EXPECT_STREQ(DialectName(10), "Visual FoxPro");
  EXPECT_EQ(DialectName(11), nullptr);
}

TEST(CodingTest, VariableWidthIntegersAgreeWithFixedOnes) {
  // Every width 1..8: n bytes written, the byte after them untouched, and
  // the same bytes as the fixed-width codec where one exists.
  const uint64_t v = 0x8877665544332211ull;
  for (size_t n = 1; n <= 8; ++n) {
    SCOPED_TRACE(n);
    uint8_t bytes[9];
    std::memset(bytes, 0xEE, sizeof bytes);
    PutLeBytes(bytes, v, n);
    for (size_t i = 0; i < n; ++i)
      EXPECT_EQ(bytes[i], static_cast<uint8_t>(0x11 * (i + 1)));
    EXPECT_EQ(bytes[n], 0xEE);
    const uint64_t low = n == 8 ? v : v & ((uint64_t{1} << (8 * n)) - 1);
    uint8_t fixed[8] = {};
    PutLe64(fixed, v);
    EXPECT_EQ(std::memcmp(bytes, fixed, n), 0);
    // The same bytes read big-endian: their reversal.
    EXPECT_EQ(GetBeBytes(bytes, n), ByteSwap64(low) >> (64 - 8 * n));
  }
  const uint8_t word[4] = {0x12, 0x34, 0x56, 0x78};
  EXPECT_EQ(GetBeBytes(word, 4), GetBe32(word));
  EXPECT_EQ(GetBeBytes(word, 2), GetBe16(word));
  EXPECT_EQ(GetBeBytes(word, 0), 0u);
}

TEST(StatusCatalogueTest, EveryCodeHasItsTexts) {
  int count = 0;
  const StatusTexts* rows = StatusCatalogue(&count);
  ASSERT_EQ(count, 72);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(rows[i].status, -59 + i);
    EXPECT_EQ(FindStatusTexts(rows[i].status), &rows[i]);
  }
  EXPECT_EQ(FindStatusTexts(-60), nullptr);
  EXPECT_EQ(FindStatusTexts(13), nullptr);
  EXPECT_EQ(FindStatusTexts(-59)->short_id, 2877u);
  EXPECT_EQ(FindStatusTexts(-20)->short_id, 2837u);  // ids skip below -19
  EXPECT_EQ(FindStatusTexts(-41)->detail_id, 0u);
  EXPECT_EQ(FindStatusTexts(12)->short_id, FindStatusTexts(4)->short_id);
  EXPECT_EQ(SystemErrorStatus(158), static_cast<int16_t>(0xC09E));
  EXPECT_TRUE(IsSystemErrorStatus(SystemErrorStatus(2)));
  EXPECT_FALSE(IsSystemErrorStatus(kKbdErrNoTask));
}

}  // namespace
}  // namespace qx::engine
