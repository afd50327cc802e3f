// Collation of character keys: byte order, the national table, the switch
// and its settings file.
#include "engine/collate/collation.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::engine {
namespace {

int Cmp(const std::string& a, const std::string& b) {
  EXPECT_EQ(a.size(), b.size());
  int r = CompareCharKeys(reinterpret_cast<const uint8_t*>(a.data()),
                          reinterpret_cast<const uint8_t*>(b.data()), a.size());
  return r < 0 ? -1 : r > 0 ? 1 : 0;
}

TEST(CollationTest, TableOrder) {
  kbdsetsort(0, 1);
  EXPECT_EQ(Cmp("A", "\xC4"), -1);  // A < Ä
  EXPECT_EQ(Cmp("\xC4", "B"), -1);  // Ä < B
  EXPECT_EQ(Cmp("Z", "b"), -1);     // b after Z
  EXPECT_EQ(Cmp("9", "A"), -1);     // digits before letters
  EXPECT_EQ(Cmp("z", "("), -1);     // punctuation after letters
  EXPECT_EQ(Cmp(" ", "0"), -1);
  EXPECT_EQ(Cmp("\xE9", "f"), -1);     // é < f
  EXPECT_EQ(Cmp("\xFF", "z"), -1);     // ÿ < z
  EXPECT_EQ(Cmp("\xA8", "\x01"), -1);  // ¨ (last in table) < any absent byte
  // Bytes absent from the table are equal to each other.
  EXPECT_EQ(Cmp("A\x01"
                "C",
                "A\xC0"
                "C"),
            0);
  EXPECT_EQ(Cmp("A\x01"
                "B",
                "A\xC0"
                "C"),
            -1);
  EXPECT_EQ(Cmp("abc", "abc"), 0);

  kbdsetsort(1, 1);
  EXPECT_EQ(Cmp("Z", "b"), -1);
  EXPECT_EQ(Cmp("\xC4", "B"), 1);  // plain bytes: 0xC4 > 'B'
  EXPECT_EQ(Cmp("A\x01", "A\xC0"), -1);
}

TEST(CollationTest, SwitchAndSettingsFile) {
  qx::testing::TempDir dir;
  std::string old_dir = platform::SystemDirectory();
  platform::SetSystemDirectory(dir.path());

  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);  // no settings file: byte order
  EXPECT_TRUE(AsciiSortOn());
  EXPECT_EQ(kbdsetsort(0, 0), 1);  // query only
  EXPECT_TRUE(AsciiSortOn());
  EXPECT_EQ(kbdsetsort(0, 1), 1);
  EXPECT_EQ(kbdsetsort(0, 0), 0);
  EXPECT_EQ(kbdsetsort(3, 1), 0);  // bit 0 of the value
  EXPECT_TRUE(AsciiSortOn());
  EXPECT_EQ(kbdsetsort(2, 1), 1);
  EXPECT_FALSE(AsciiSortOn());

  qx::testing::WriteWholeFile(dir.File("qxdb4xx.ini"), "[Sort]\nAsciiSort=0\n");
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  EXPECT_FALSE(AsciiSortOn());
  qx::testing::WriteWholeFile(dir.File("qxdb4xx.ini"), "[sort]\nasciisort=2\n");
  ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
  EXPECT_TRUE(AsciiSortOn());
  kbdterm();
  platform::SetSystemDirectory(old_dir);
}

}  // namespace
}  // namespace qx::engine
