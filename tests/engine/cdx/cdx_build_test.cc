// Building CDX tags from a data file (kbdctagbuild): one entry per record
// (a unique tag: per key, the first record's; a filtered tag: per record
// kbdcforrec accepts), each the key kbdckeyrec
// gives, in (key, record number) order (a descending tag walks it in
// reverse), the empty dates first, the file clean under the check, the
// tags walked by the peer reader in the same order; a rebuild replaces the
// tag, and the built tags take adds and deletes afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/engine/cdx/cdx_test_util.h"

namespace qx::engine::testing {
namespace {

constexpr uint32_t kRecords = 3000;

struct BuiltTag {
  const char* name;
  uint16_t type;
  const char* expression;
  uint16_t key_length;
  const char* for_expression = nullptr;
};

const BuiltTag kTags[] = {
    {"NAME", 'C', "NAME", 20},
    {"UNAME", 'C' | kKbdKeyUnique, "UPPER(NAME)", 12},
    {"AMOUNT", 'N', "AMOUNT", 8},
    {"BIRTH", 'D', "BIRTH", 8},
    {"BIRTHD", 'D' | kKbdKeyDescending, "BIRTH", 8},
    {"MIXED", 'C', "LEFT(NAME,3)+DTOS(BIRTH)", 11},
    {"GAINS", 'N', "AMOUNT", 8, "amount > 0 .AND. !DELETED()"},
};

TEST_F(CdxTest, BuildsTagsFromADataFile) {
  const int16_t dbf = MakeBuildTable(Path("people.dbf"), kRecords, 77, 4);
  int16_t h = CreateOpen("people.cdx", 0x400);
  for (const BuiltTag& t : kTags)
    ASSERT_EQ(kbdctagbuildx(dbf, h, t.name, t.type, t.expression, t.key_length,
                            t.for_expression),
              kKbdOk)
        << t.name;
  // The work file is gone; a rebuild replaces the tag.
  EXPECT_FALSE(std::filesystem::exists(Path("stacks.tmp")));
  ASSERT_EQ(kbdctagbuild(dbf, h, "NAME", 'C', "NAME", 20), kKbdOk);
  EXPECT_EQ(TagNames(h).size(), std::size(kTags));
  btree::CheckReport report = CheckFile(h);
  EXPECT_EQ(report.problem_count, 0u);

  for (const BuiltTag& t : kTags) {
    SCOPED_TRACE(t.name);
    int32_t tag = -1;
    ASSERT_EQ(kbdctagopen(&tag, h, t.name), kKbdOk);
    if ((t.type & 0x7F) != 'C') {
      ASSERT_EQ(kbdckeytype(tag, t.type & 0xFF), kKbdOk);
    }
    const bool descending = (t.type & kKbdKeyDescending) != 0;
    std::vector<IndexEntry> walk = Walk(tag);
    // The entries: the key of every record the FOR condition accepts,
    // sorted; one per key in a unique tag.
    std::vector<IndexEntry> expected;
    for (uint32_t recno = 1; recno <= kRecords; ++recno) {
      ASSERT_GE(kbddread(dbf, recno), 0);
      const int16_t belongs = kbdcforrec(dbf, tag);
      ASSERT_GE(belongs, 0);
      if (t.for_expression == nullptr) {
        EXPECT_EQ(belongs, 1);
      }
      kbdseterror(0);
      if (belongs == 0) continue;
      void* key = nullptr;
      ASSERT_EQ(kbdckeyrec(dbf, tag, &key), kKbdOk);
      expected.push_back({std::string(static_cast<char*>(key),
                                      static_cast<size_t>(t.key_length)),
                          recno});
      kbdfree(key);
    }
    std::stable_sort(
        expected.begin(), expected.end(),
        [](const IndexEntry& a, const IndexEntry& b) { return a.key < b.key; });
    if (t.type & kKbdKeyUnique) {
      expected.erase(std::unique(expected.begin(), expected.end(),
                                 [](const IndexEntry& a, const IndexEntry& b) {
                                   return a.key == b.key;
                                 }),
                     expected.end());
    }
    if (descending) std::reverse(expected.begin(), expected.end());
    ASSERT_EQ(walk.size(), expected.size());
    for (size_t i = 0; i < walk.size(); ++i)
      ASSERT_EQ(walk[i], expected[i]) << "entry " << i;
    EXPECT_EQ(CheckTag(tag).keys, expected.size());
    if (t.for_expression != nullptr) {
      // Positive amounts of live records only: about 3/7 of them.
      EXPECT_GT(walk.size(), kRecords / 3);
      EXPECT_LT(walk.size(), kRecords / 2);
    }
    if ((t.type & 0xFF) == 'D') {
      // Empty dates (0.0) come before every date.
      char empty[9];
      ASSERT_EQ(kbdcdatekey(empty, "        "), kKbdOk);
      const IndexEntry& lowest = descending ? walk.back() : walk.front();
      EXPECT_EQ(lowest.key, std::string(empty, 8));
    }

    // The peer reader walks the built tag in the same order.
    std::vector<uint32_t> peer;
    std::string failure;
    if (PerlOrder(Path("people.cdx"), 'C', t.name, &peer, &failure)) {
      if (descending) std::reverse(peer.begin(), peer.end());
      EXPECT_EQ(peer, Recnos(walk));
    } else {
      EXPECT_TRUE(failure.empty()) << failure;
    }

    // Built tags change as any other: the record after the last, and the
    // removal of the first entry (by key and record number, in a unique
    // tag too).
    const bool unique = (t.type & kKbdKeyUnique) != 0;
    ASSERT_EQ(kbdcadd(tag, walk.back().key.data(), kRecords + 1),
              unique ? kKbdAlreadyExists : kKbdOk);
    ASSERT_EQ(kbdcdelete(tag, walk.front().key.data(), kRecords + 2),
              kKbdKeyNotFound);
    ASSERT_EQ(kbdcdelete(tag, walk.front().key.data(), walk.front().recno),
              kKbdOk);
    EXPECT_EQ(Walk(tag).size(), walk.size() - (unique ? 1 : 0));
    ASSERT_EQ(kbdctagclose(tag), kKbdOk);
  }
  CheckFile(h);
  // A bad expression fails the build and leaves no tag behind.
  EXPECT_EQ(kbdctagbuild(dbf, h, "BAD", 'C', "NAME+AMOUNT", 10),
            kKbdErrKeyExpression);
  kbdseterror(0);
  EXPECT_EQ(TagNames(h).size(), std::size(kTags));
  CheckFile(h);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
  ASSERT_EQ(kbddclose(dbf), kKbdOk);
}

// A table without records gives an empty tag.
TEST_F(CdxTest, BuildsAnEmptyTag) {
  const int16_t dbf = MakeBuildTable(Path("empty.dbf"), 0, 1, 4);
  int16_t h = CreateOpen("empty.cdx");
  ASSERT_EQ(kbdctagbuild(dbf, h, "NAME", 'C', "NAME", 20), kKbdOk);
  int32_t tag = -1;
  ASSERT_EQ(kbdctagopen(&tag, h, "NAME"), kKbdOk);
  char key[21];
  uint32_t recno = 0;
  EXPECT_EQ(kbdcfirst(tag, key, &recno), kKbdEmptyFile);
  CheckFile(h);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
  ASSERT_EQ(kbddclose(dbf), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
