// The roll-forward journal at the open of its target: a whole journal is
// finished (patches made, files swapped, journal gone), once or again after
// the swap; a journal cut short goes and changes nothing; a target changed
// since, or held open by another handle, leaves everything as it is.
#include "engine/fileio/swap_journal.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "engine/fileio/file_layer.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

using qx::testing::ReadWholeFile;
using qx::testing::WriteWholeFile;

class SwapJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    WriteWholeFile(target_, "0123456789abcdef");
    WriteWholeFile(dir_.File("t.dbt"), "old memo");
    WriteWholeFile(dir_.File("0.DBT"), "new memo");
    journal_.guard_offset = 2;
    journal_.guard = "234";
    journal_.current_size = 8;
    journal_.work = "0.DBT";
    journal_.current = "t.dbt";
    journal_.backup = "t.BKT";
    journal_.patches = {{4, "XY"}, {10, "Z"}};
  }
  void TearDown() override { kbdterm(); }

  bool Exists(const char* name) {
    return std::filesystem::exists(dir_.File(name));
  }

  qx::testing::TempDir dir_;
  const std::string target_ = dir_.File("t.dbf");
  const std::string name_ = SwapJournalName(target_);
  SwapJournal journal_;
};

TEST_F(SwapJournalTest, FinishesWholeJournalsAndDropsCutOnes) {
  EXPECT_EQ(name_, dir_.File("t.PKJ"));
  ASSERT_EQ(WriteSwapJournal(name_, journal_), kKbdOk);
  const std::string whole = ReadWholeFile(name_);

  // Cut short: nothing happens, and the journal goes.
  WriteWholeFile(name_, whole.substr(0, whole.size() - 3));
  EXPECT_EQ(FinishSwapJournal(target_), kKbdOk);
  EXPECT_FALSE(Exists("t.PKJ"));
  EXPECT_EQ(ReadWholeFile(target_), "0123456789abcdef");
  EXPECT_TRUE(Exists("0.DBT"));

  // Whole: patched and swapped.
  WriteWholeFile(name_, whole);
  EXPECT_EQ(FinishSwapJournal(target_), kKbdOk);
  EXPECT_FALSE(Exists("t.PKJ"));
  EXPECT_EQ(ReadWholeFile(target_), "0123XY6789Zbcdef");
  EXPECT_EQ(ReadWholeFile(dir_.File("t.dbt")), "new memo");
  EXPECT_EQ(ReadWholeFile(dir_.File("t.BKT")), "old memo");
  EXPECT_FALSE(Exists("0.DBT"));

  // Killed after the swap, before the journal went: only the journal goes.
  WriteWholeFile(target_, "changed since, and so be it");
  WriteWholeFile(name_, whole);
  EXPECT_EQ(FinishSwapJournal(target_), kKbdOk);
  EXPECT_FALSE(Exists("t.PKJ"));
  EXPECT_EQ(ReadWholeFile(target_), "changed since, and so be it");

  // Killed between the two renames: the work file takes the name.
  WriteWholeFile(target_, "0123456789abcdef");
  std::filesystem::remove(dir_.File("t.dbt"));
  WriteWholeFile(dir_.File("0.DBT"), "new memo");
  WriteWholeFile(name_, whole);
  EXPECT_EQ(FinishSwapJournal(target_), kKbdOk);
  EXPECT_EQ(ReadWholeFile(target_), "0123XY6789Zbcdef");
  EXPECT_EQ(ReadWholeFile(dir_.File("t.dbt")), "new memo");
  EXPECT_EQ(ReadWholeFile(dir_.File("t.BKT")), "old memo");
  EXPECT_FALSE(Exists("t.PKJ"));
}

TEST_F(SwapJournalTest, LeavesChangedOrBusyTargetsAlone) {
  ASSERT_EQ(WriteSwapJournal(name_, journal_), kKbdOk);
  // The guard bytes differ: the target changed since.
  WriteWholeFile(target_, "01X3456789abcdef");
  EXPECT_EQ(FinishSwapJournal(target_), kKbdOk);
  EXPECT_TRUE(Exists("t.PKJ"));
  EXPECT_EQ(ReadWholeFile(target_), "01X3456789abcdef");
  EXPECT_EQ(ReadWholeFile(dir_.File("t.dbt")), "old memo");

  // The current file's size differs.
  WriteWholeFile(target_, "0123456789abcdef");
  WriteWholeFile(dir_.File("t.dbt"), "old memo, grown");
  EXPECT_EQ(FinishSwapJournal(target_), kKbdOk);
  EXPECT_TRUE(Exists("t.PKJ"));
  EXPECT_EQ(ReadWholeFile(target_), "0123456789abcdef");

  // Another handle has the target open: a writer may be at work.
  WriteWholeFile(dir_.File("t.dbt"), "old memo");
  uint16_t slot = 0, flags = 0;
  ASSERT_EQ(FileOpen(&slot, target_.c_str(), kKbdModeShared, &flags), kKbdOk);
  EXPECT_EQ(FinishSwapJournal(target_), kKbdOk);
  EXPECT_TRUE(Exists("t.PKJ"));
  EXPECT_EQ(ReadWholeFile(target_), "0123456789abcdef");
  ASSERT_EQ(FileClose(slot), kKbdOk);
  EXPECT_EQ(FinishSwapJournal(target_), kKbdOk);
  EXPECT_FALSE(Exists("t.PKJ"));
  EXPECT_EQ(ReadWholeFile(target_), "0123XY6789Zbcdef");
}

}  // namespace
}  // namespace qx::engine
