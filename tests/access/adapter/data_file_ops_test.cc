// Data files, memo files and code pages through the adapter, over real
// files of the corpus where one shows the case.
#include "access/adapter/data_file_ops.h"

#include <cstring>
#include <string>

#include "access/adapter/code_pages.h"
#include "access/adapter/memo_ops.h"
#include "access/errors/cx_error.h"
#include "tests/access/adapter/adapter_test_util.h"

namespace qx::access::testing {
namespace {

constexpr uint16_t kReadShared = kModeReadOnly | kModeShared;

TEST_F(AdapterTest, AVisualFoxProTableOpensAtTheLastRowAfterTenFailures) {
  const std::u16string path = Real("xsharp-northwind/orders.dbf");
  CXError sink;
  uint16_t handle = kNoDataHandle;
  int32_t row = -1;
  int16_t status = -1;
  ASSERT_EQ(
      OpenDataFile(u"orders", path, kReadShared, &sink, &handle, &row, &status),
      1);
  EXPECT_EQ(row, 10);
  EXPECT_EQ(DialectRows()[static_cast<size_t>(row)].code, kKbdVisualFoxpro);
  EXPECT_NE(handle, kNoDataHandle);
  // The sink holds the failure of row 9 (Omnis), the last one tried
  // before.
  int16_t omnis = -1;
  const std::string name = platform::Utf16ToAnsi(path);
  const int16_t refused = kbddopenx(&omnis, name.c_str(), kReadShared | 9);
  kbdseterror(0);
  ASSERT_LT(refused, 0);
  EXPECT_EQ(sink.id(), 1001u);
  EXPECT_NE(sink.user_message().find(path), std::u16string::npos);
  EXPECT_NE(sink.user_message().find(
                u"<" + platform::Utf8ToUtf16(std::to_string(refused)) + u">"),
            std::u16string::npos);
  ASSERT_NE(sink.FindItem(kInfoLogicalTableName), nullptr);
  EXPECT_EQ(sink.FindItem(kInfoLogicalTableName)->text, u"orders");
  EXPECT_NE(sink.debug_info().find(u"IEQXDB=110.1"), std::u16string::npos);

  // Its field descriptions: _NullFlags is hidden in Visual FoxPro only.
  FieldDescriptions fields;
  ASSERT_EQ(LoadFieldDescriptions(&fields, handle), kKbdOk);
  ASSERT_EQ(fields.count, 15);
  FieldDescription field;
  ASSERT_EQ(GetFieldDescription(fields, 14, &field), kKbdOk);
  EXPECT_STREQ(field.name, "_NULLFLAGS");
  EXPECT_EQ(IsHiddenField(kKbdVisualFoxpro, field), 1);
  EXPECT_EQ(IsHiddenField(kKbdFoxpro2, field), 0);
  ASSERT_EQ(GetFieldDescription(fields, 0, &field), kKbdOk);
  EXPECT_STREQ(field.name, "ORDERID");
  EXPECT_EQ(field.type, 'I');
  EXPECT_EQ(IsHiddenField(kKbdVisualFoxpro, field), 0);
  EXPECT_EQ(GetFieldDescription(fields, 15, &field), kStatusNoSuchField);
  EXPECT_EQ(GetFieldDescription(fields, -1, &field), kStatusNoSuchField);
  EXPECT_EQ(GetFieldDescription(fields, 0, nullptr), kStatusNoSuchField);
  EXPECT_EQ(CloseDataFile(handle), kKbdOk);

  // A file that no row opens; probing never fails.
  EXPECT_EQ(OpenDataFile(u"x", Real("xsharp-northwind/orders.cdx"), kReadShared,
                         &sink, &handle, &row),
            0);
  EXPECT_EQ(handle, kNoDataHandle);
  EXPECT_EQ(row, -1);
  EXPECT_EQ(sink.id(), 1001u);
  EXPECT_EQ(ProbeDataFile(u"x", Temp("missing.dbf"), nullptr), 1);
}

// A table created with its memo file: a value written and read back, and
// a record whose memo block is 0 reads as no text, for both memo kinds.
TEST_F(AdapterTest, MemoValuesOfBothKinds) {
  for (const XbaseDialect dialect : {kKbdDbase3, kKbdFoxpro2}) {
    SCOPED_TRACE(dialect);
    const bool fpt = UsesFptMemo(dialect) != 0;
    const std::u16string data = Temp("m" + std::to_string(dialect) + ".dbf");
    FieldDescription fields[2];
    std::strcpy(fields[0].name, "NAME");
    fields[0].type = 'C';
    fields[0].length = 8;
    std::strcpy(fields[1].name, "NOTES");
    fields[1].type = 'M';
    fields[1].length = 10;
    ASSERT_EQ(CreateDataFile(data, dialect, fields, 2), kKbdOk);
    const std::u16string memo = MemoFileName(dialect, data);
    EXPECT_EQ(memo.substr(memo.size() - 4),
              platform::Utf8ToUtf16(MemoExtension(fpt)));
    ASSERT_EQ(CreateMemo(fpt, memo, dialect), kKbdOk);
    uint16_t dbf = kNoDataHandle;
    ASSERT_EQ(OpenDataFile(u"m", data, kModeShared, nullptr, &dbf, nullptr), 1);
    uint16_t memo_handle = kNoMemoHandle;
    ASSERT_EQ(OpenMemo(fpt, memo, &memo_handle), kKbdOk);
    const int16_t h = static_cast<int16_t>(dbf);
    for (int i = 0; i < 2; ++i) {
      ASSERT_EQ(kbddblankrec(h), kKbdOk);
      uint32_t recno = 0;
      ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteAppend), kKbdOk);
    }
    uint32_t block = 0;
    ASSERT_EQ(WriteMemo(fpt, memo_handle, &block, "Crème brûlée", 256), kKbdOk);
    ASSERT_NE(block, 0u);
    ASSERT_EQ(kbddread(h, 2), kKbdOk);
    ASSERT_EQ(kbddsetmemoblock(h, 1, block), kKbdOk);
    uint32_t recno = 2;
    ASSERT_EQ(kbddwrite(h, &recno, kKbdWriteRewrite), kKbdOk);

    MemoText text;
    ASSERT_EQ(kbddread(h, 1), kKbdOk);
    EXPECT_EQ(ReadMemo(fpt, dbf, memo_handle, 1, &text), kKbdOk);
    EXPECT_FALSE(text.present());
    ASSERT_EQ(kbddread(h, 2), kKbdOk);
    ASSERT_EQ(ReadMemo(fpt, dbf, memo_handle, 1, &text), kKbdOk);
    EXPECT_EQ(text.bytes(), "Crème brûlée");
    EXPECT_EQ(CloseMemo(fpt, memo_handle), kKbdOk);
    EXPECT_EQ(CloseDataFile(dbf), kKbdOk);
  }
  // The FoxPro companions keep their own memo extension.
  EXPECT_EQ(MemoFileName(kKbdVisualFoxpro, u"C:\\app\\FORM.SCX"),
            u"C:\\app\\FORM.SCT");
  EXPECT_EQ(MemoFileName(kKbdClipper, u"t.dbf"), u"t.dbt");
  EXPECT_EQ(MemoFileName(kDialectOther, u"t.dbf"), u"");
  EXPECT_EQ(DbtLayoutBits(0x8B), kKbdDbase4);
  EXPECT_EQ(DbtLayoutBits(0x83), 0);
}

TEST_F(AdapterTest, CodePagesSwapFrenchLettersOrConvertEverything) {
  // à é ç ù and a byte only the full table converts (0xB0, degree).
  char text[] = "\xE0\xE9\xE7\xF9\xB0";
  AnsiToOem(text, 5, false);
  EXPECT_EQ(std::string(text), "\x85\x82\x87\x97\xB0");
  OemToAnsi(text, 5, false);
  EXPECT_EQ(std::string(text), "\xE0\xE9\xE7\xF9\xB0");
  AnsiToOem(text, 5, true);
  EXPECT_EQ(std::string(text, 4), "\x85\x82\x87\x97");
  EXPECT_NE(text[4], '\xB0');
  OemToAnsi(text, 5, true);
  EXPECT_EQ(std::string(text), "\xE0\xE9\xE7\xF9\xB0");
  // Every byte of an ANSI text reads back as written: one that is an OEM
  // letter's code ("…", the curly quotes, the dashes) trades places with
  // that letter on its way to the file.
  char quoted[] = "\x93\x85\x97\x96\xE9";
  AnsiToOem(quoted, 5, false);
  EXPECT_EQ(std::string(quoted), "\xF4\xE0\xF9\xFB\x82");
  OemToAnsi(quoted, 5, false);
  EXPECT_EQ(std::string(quoted), "\x93\x85\x97\x96\xE9");
  // The letters' swap stops at a zero byte.
  char cut[] = {'\xE9', '\0', '\xE9'};
  AnsiToOem(cut, 3, false);
  EXPECT_EQ(cut[0], '\x82');
  EXPECT_EQ(cut[2], '\xE9');
}

}  // namespace
}  // namespace qx::access::testing
