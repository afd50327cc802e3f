// The real MDX file of the corpus (written by another program): it opens,
// describes itself as the peer reader found it, each tag walks forward
// and backward in the expected order, passes the checks with the whole
// file, holds the key its expression gives for every record (numbers
// compared by the packed-decimal rule: that writer fills the sign byte
// otherwise) and finds every key again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/mdx/mdx_decimal.h"
#include "tests/engine/mdx/mdx_test_util.h"

namespace qx::engine::testing {
namespace {

TEST_F(MdxTest, RealFileWalksChecksAndMatchesTheTable) {
  const std::string folder =
      qx::testing::SharedDir() + "/fixtures/real/jdbfdriver-mdx/";
  int16_t h = kKbdNoHandle;
  ASSERT_EQ(kbdmopenx(&h, (folder + "TEST.MDX").c_str(), kFixtureMode), kKbdOk);
  KbdMdxInfo info;
  ASSERT_EQ(kbdminfo(h, &info), kKbdOk);
  EXPECT_EQ(info.tag_count, 2);
  EXPECT_EQ(info.flags & 0x01, 0x01);
  const MdxFileReport file_report = CheckFile(h);
  EXPECT_EQ(file_report.tags, 2u);
  EXPECT_EQ(file_report.keys, 6u);
  EXPECT_EQ(file_report.free_blocks, 0u);

  int16_t dbf = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&dbf, (folder + "TEST.DBF").c_str(), kFixtureMode),
            kKbdOk);
  struct Expected {
    const char* tag;
    char type;
    uint16_t key_length;
    const char* expression;
  };
  for (const Expected& x : {Expected{"TEST1", 'C', 50, "TEST1"},
                            Expected{"test2", 'N', 12, "TEST2"}}) {
    SCOPED_TRACE(x.tag);
    int32_t t = kKbdNoHandle;
    ASSERT_EQ(kbdmtagopen(&t, h, x.tag), kKbdOk);
    KbdMdxTagInfo tag_info;
    ASSERT_EQ(kbdmtaginfo(t, &tag_info), kKbdOk);
    EXPECT_EQ(tag_info.type, x.type);
    EXPECT_EQ(tag_info.key_length, x.key_length);
    EXPECT_EQ(tag_info.flags, 0);
    EXPECT_STREQ(tag_info.expression, x.expression);
    char expression[221];
    ASSERT_EQ(kbdmexpr(t, expression), kKbdOk);
    EXPECT_STREQ(expression, x.expression);

    std::string upper = x.tag;
    for (char& c : upper) c = static_cast<char>(std::toupper(c));
    const std::vector<IndexEntry> walk = Walk(t);
    EXPECT_EQ(Recnos(walk),
              ReadOrderFile(folder + "expected/TEST.MDX." + upper + ".order"));
    EXPECT_EQ(WalkBack(t), walk);
    EXPECT_EQ(Check(t).keys, 3u);

    for (const IndexEntry& e : walk) {
      ASSERT_GE(kbddread(dbf, e.recno), 0);
      void* key = nullptr;
      ASSERT_EQ(kbdmkmake(dbf, t, &key), kKbdOk);
      const std::string made(static_cast<char*>(key), x.key_length);
      kbdfree(key);
      if (x.type == 'N') {
        EXPECT_EQ(
            CompareMdxDecimals(reinterpret_cast<const uint8_t*>(made.data()),
                               reinterpret_cast<const uint8_t*>(e.key.data())),
            0)
            << "record " << e.recno;
      } else {
        EXPECT_EQ(made, e.key) << "record " << e.recno;
      }
      IndexEntry found;
      EXPECT_EQ(Find(t, made, e.recno, kKbdFindRecno, &found), kKbdOk);
      EXPECT_EQ(found, e);
    }
    ASSERT_EQ(kbdmtagclose(t), kKbdOk);
  }
  // Tags open by number too; a read-only file takes no key.
  int32_t t = kKbdNoHandle;
  ASSERT_EQ(kbdmtagopenn(&t, h, 2), kKbdOk);
  EXPECT_EQ(t, 2 * 65536 + h);
  EXPECT_EQ(Add(t, DecimalKey(5), 4), kKbdErrReadOnly);
  kbdseterror(0);
  EXPECT_EQ(kbddclose(dbf), kKbdOk);
  EXPECT_EQ(kbdmclose(h), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
