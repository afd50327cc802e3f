// The FoxPro record keys over real Visual FoxPro tables: every record's
// key, as kbdckeyrec makes it, is the entry the writer stored for it —
// 4-byte integer keys, keys of nullable fields (the 0x80 byte, all zeros
// for null) and logical keys — and kbdckeyform says which form a tag has.
// Long field names in an expression are cut to the stored 10.
#include "engine/fox/fox_key_image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "qx/engine.h"
#include "tests/engine/cdx/cdx_test_util.h"
#include "tests/support/test_support.h"

namespace qx::engine::testing {
namespace {

struct TagCase {
  const char* tag;
  char type;      // kbdckeyform's type
  uint16_t form;  // and form bits
  int nulls;      // records whose key is all zero bytes
};

class FoxKeyTest : public CdxTest {
 protected:
  // Walks the tag (its key type set, so short keys are padded right) and
  // compares each record's key with its entry.
  static void ExpectRecordKeysAreEntries(const std::string& folder,
                                         const std::string& table,
                                         const std::string& index,
                                         const TagCase& c);
};

void FoxKeyTest::ExpectRecordKeysAreEntries(const std::string& folder,
                                            const std::string& table,
                                            const std::string& index,
                                            const TagCase& c) {
  SCOPED_TRACE(std::string(index) + " tag " + c.tag);
  int16_t h = kKbdNoHandle;
  ASSERT_GE(kbdcopenx(&h, (folder + index).c_str(), kFixtureMode), 0);
  int16_t dbf = kKbdNoHandle;
  ASSERT_GE(kbddopenx(&dbf, (folder + table).c_str(),
                      kFixtureMode | kKbdVisualFoxpro),
            0);
  int32_t tag = -1;
  ASSERT_EQ(kbdctagopen(&tag, h, c.tag), kKbdOk);
  ASSERT_GE(kbddread(dbf, 1), 0);
  char type = ' ';
  uint16_t form = 0xFFFF;
  ASSERT_EQ(kbdckeyform(dbf, tag, &type, &form), kKbdOk);
  EXPECT_EQ(type, c.type);
  EXPECT_EQ(form, c.form);
  ASSERT_EQ(kbdckeytype(tag, c.type == 'C' ? 'C' : 'N'), kKbdOk);
  const std::vector<IndexEntry> entries = Walk(tag);
  ASSERT_FALSE(entries.empty());
  int nulls = 0;
  for (const IndexEntry& e : entries) {
    ASSERT_GE(kbddread(dbf, e.recno), 0);
    void* key = nullptr;
    ASSERT_EQ(kbdckeyrec(dbf, tag, &key), kKbdOk) << e.recno;
    const std::string made(static_cast<char*>(key), e.key.size());
    kbdfree(key);
    EXPECT_EQ(made, e.key) << "record " << e.recno;
    if (made.find_first_not_of('\0') == std::string::npos) ++nulls;
  }
  EXPECT_EQ(nulls, c.nulls);
  ASSERT_EQ(kbddclose(dbf), kKbdOk);
  ASSERT_EQ(kbdcclose(h), kKbdOk);
}

TEST_F(FoxKeyTest, RecordKeysOfVisualFoxProTablesAreTheirEntries) {
  const std::string northwind =
      qx::testing::SharedDir() + "/fixtures/real/xsharp-northwind/";
  const std::string foxref =
      qx::testing::SharedDir() + "/fixtures/real/javadbf-xsource/";
  for (const TagCase& c : {
           TagCase{"ORDERID", 'N', kKbdFoxKeyInteger, 0},
           TagCase{"EMPLOYEEID", 'N', kKbdFoxKeyInteger | kKbdFoxKeyNullable,
                   0},
           TagCase{"CUSTOMERID", 'C', kKbdFoxKeyNullable, 0},
           TagCase{"SHIPPEDDAT", 'D', kKbdFoxKeyNullable, 21},
       })
    ExpectRecordKeysAreEntries(northwind, "orders.dbf", "orders.cdx", c);
  for (const TagCase& c : {TagCase{"INACTIVE", 'L', 0, 0},
                           TagCase{"CHECKED", 'L', kKbdFoxKeyNullable, 0}})
    ExpectRecordKeysAreEntries(foxref, "foxref_ref.dbf", "foxref_ref.cdx", c);
}

// A logical key holds 'T' or 'F'; an expression naming a field by more
// than 10 characters is evaluated with the name cut to the stored 10.
TEST_F(FoxKeyTest, LogicalKeysAndLongFieldNames) {
  std::vector<KbdFieldDef> fields(2);
  std::strcpy(fields[0].name, "FLAG");
  fields[0].type = 'L';
  fields[0].length = 1;
  std::strcpy(fields[1].name, "CUSTOMERNA");
  fields[1].type = 'C';
  fields[1].length = 6;
  ASSERT_EQ(kbddcreate(Path("t.dbf").c_str(), 2, fields.data(), kKbdFoxpro2),
            kKbdOk);
  int16_t dbf = kKbdNoHandle;
  ASSERT_EQ(kbddopenx(&dbf, Path("t.dbf").c_str(), kKbdFoxpro2), kKbdOk);
  for (const char* flag : {"T", "F"}) {
    ASSERT_EQ(kbddblankrec(dbf), kKbdOk);
    ASSERT_EQ(kbddput(dbf, 0, flag), kKbdOk);
    ASSERT_EQ(kbddput(dbf, 1, "abc"), kKbdOk);
    uint32_t recno = 0;
    ASSERT_EQ(kbddwrite(dbf, &recno, kKbdWriteAppend), kKbdOk);
  }
  int16_t h = CreateOpen("t.cdx");
  int32_t flag = NewTag(h, "FLAG", 'L', "FLAG", 1);
  int32_t name = NewTag(h, "NAME", 'C', "UPPER(CUSTOMERNAME)", 6);
  for (uint32_t recno : {1u, 2u}) {
    ASSERT_EQ(kbddread(dbf, recno), kKbdOk);
    void* key = nullptr;
    ASSERT_EQ(kbdckeyrec(dbf, flag, &key), kKbdOk);
    EXPECT_EQ(static_cast<char*>(key)[0], recno == 1 ? 'T' : 'F');
    kbdfree(key);
    ASSERT_EQ(kbdckeyrec(dbf, name, &key), kKbdOk);
    EXPECT_EQ(std::string(static_cast<char*>(key), 6), "ABC   ");
    kbdfree(key);
  }
  EXPECT_EQ(fox::ShortFieldNames("upper(customername)+'longwordinquotes'"),
            "upper(customerna)+'longwordinquotes'");
  ASSERT_EQ(kbddclose(dbf), kKbdOk);
}

}  // namespace
}  // namespace qx::engine::testing
