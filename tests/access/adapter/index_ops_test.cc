// Index files through the adapter: the family a name maps to, families
// without an index engine, real CDX and NTX files opened, described,
// walked and keyed, and indexes created by extension.
#include "access/adapter/index_ops.h"

#include <filesystem>
#include <string>
#include <vector>

#include "access/adapter/data_file_ops.h"
#include "access/adapter/index_create.h"
#include "access/adapter/key_image.h"
#include "access/adapter/key_ops.h"
#include "access/adapter/key_typing.h"
#include "tests/access/adapter/adapter_test_util.h"

namespace qx::access::testing {
namespace {

constexpr uint16_t kReadShared = kModeReadOnly | kModeShared;

TEST(DialectTest, IndexFilesMapToFamiliesByExtension) {
  EXPECT_EQ(DialectOfIndexPath(u"a.ndx"), kKbdDbase3);
  EXPECT_EQ(DialectOfIndexPath(u"dir\\A.MDX"), kKbdDbase4);
  EXPECT_EQ(DialectOfIndexPath(u"b.Idx"), kKbdFoxbase);
  EXPECT_EQ(DialectOfIndexPath(u"c.ntX"), kKbdClipper);
  EXPECT_EQ(DialectOfIndexPath(u"d.cDx"), kKbdVisualFoxpro);
  for (const char16_t* other :
       {u"e.dcx", u"noext", u"", u"x.cdx/file", u"f.cdxx"})
    EXPECT_EQ(DialectOfIndexPath(other), kDialectOther);
  ASSERT_EQ(DialectRows().size(), 11u);
  EXPECT_STREQ(DialectRows()[4].name, "FoxPro 2.0");
  EXPECT_STREQ(DialectRows()[6].name, "Clip Summer 1987");
  EXPECT_STREQ(IndexExtension(kKbdFoxpro1), ".cdx");
  EXPECT_STREQ(IndexExtension(kKbdClipper5), ".ntx");
  EXPECT_EQ(IndexExtension(kKbdDbxl), nullptr);
}

TEST_F(AdapterTest, FamiliesWithoutAnIndexEngine) {
  IndexKeyDescriptor key;
  key.dialect = kDialectOther;
  key.key_length = 11;
  std::vector<uint8_t> image(101);
  uint32_t recno = 0;
  EXPECT_EQ(FirstKey(key, image, &recno), kStatusNoIndexEngine);
  EXPECT_EQ(NextKey(key, image, &recno), kStatusNoIndexEngine);
  EXPECT_EQ(SeekKey(key, image, true, &recno, 1), kStatusNoIndexEngine);
  EXPECT_EQ(AddKey(key, image, 1), kStatusNoIndexEngine);
  EXPECT_EQ(RecordKey(key, 0, -1, 0, image), kStatusNoIndexEngine);
  IndexKeyInfo info;
  EXPECT_EQ(DescribeKeyByNumber(&info, kKbdDbxl, 0, 0), kStatusNoIndexEngine);
  uint16_t handle = 0;
  EXPECT_EQ(OpenIndex(kDialectOther, u"x.idx", &handle, 0),
            kStatusNoIndexEngine);
  EXPECT_EQ(handle, kNoIndexHandle);
  uint32_t tag = 0;
  EXPECT_EQ(OpenTag(kKbdOmnis, "T", &tag, 0), 0);
  EXPECT_EQ(tag, kNoTagHandle);
  int32_t count = 7;
  EXPECT_EQ(CountTags(kDialectOther, 0, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(CloseIndex(kDialectOther, 0), 0);
  EXPECT_EQ(CloseTag(kDialectOther, 0), 0);
}

// A CDX file named in mixed case: its tags described and opened, a
// character key walked with its terminating zero byte in place, and the
// record keys and FOR condition of a filtered tag.
TEST_F(AdapterTest, MixedCaseCdxWalksAndKeysRecords) {
  const std::u16string path = CopyReal("dbd-xbase/rooms.cdx", "Rooms.cDx");
  const XbaseDialect dialect = DialectOfIndexPath(path);
  ASSERT_EQ(dialect, kKbdVisualFoxpro);
  uint16_t file = kNoIndexHandle;
  ASSERT_GE(OpenIndex(dialect, path, &file, kReadShared), 0);
  int32_t count = 0;
  ASSERT_EQ(CountTags(dialect, file, &count), kKbdOk);
  ASSERT_EQ(count, 5);
  IndexKeyInfo info;
  ASSERT_EQ(DescribeKeyByNumber(&info, dialect, file, 0), kKbdOk);
  EXPECT_EQ(info.key_name, "AUDIO");
  EXPECT_EQ(info.expression, "ROOMNAME");
  EXPECT_EQ(info.for_expression, "TRIM(UPPER(FACILITY))==\"AUDIO\"");
  EXPECT_EQ(info.key_length, 11);  // 10 and the terminating zero

  uint16_t dbf = kNoDataHandle;
  ASSERT_EQ(OpenDataFile(u"rooms", Real("dbd-xbase/rooms.dbf"), kReadShared,
                         nullptr, &dbf, nullptr),
            1);
  for (const char* name : {"roomname", "audio"}) {
    SCOPED_TRACE(name);
    IndexKeyDescriptor key;
    key.dialect = dialect;
    key.index_handle = file;
    ASSERT_EQ(OpenTag(dialect, name, &key.tag_handle, file), kKbdOk);
    ASSERT_EQ(DescribeKeyByTag(&info, dialect, file, key.tag_handle), kKbdOk);
    key.key_length = info.key_length;
    key.key_type = 'C';
    key.key_value_type = KeyValueTypeOf(dialect, 'C');
    key.item_type = kValueText;
    std::vector<uint8_t> image(101, 0xFF);
    uint32_t recno = 0;
    std::vector<uint32_t> walked;
    for (int32_t s = FirstKey(key, image, &recno); s == kKbdOk;
         s = NextKey(key, image, &recno)) {
      EXPECT_EQ(image[10], 0) << recno;
      walked.push_back(recno);
    }
    ASSERT_FALSE(walked.empty());
    // The record of every entry belongs and keys as its entry, trimmed.
    size_t belonging = 0;
    KbdDbfInfo table{};
    ASSERT_EQ(kbddinfo(static_cast<int16_t>(dbf), &table), kKbdOk);
    for (uint32_t r = 1; r <= table.record_count; ++r) {
      ASSERT_GE(kbddread(static_cast<int16_t>(dbf), r), 0);
      const int32_t belongs = RecordBelongs(key, dbf);
      ASSERT_GE(belongs, 0);
      belonging += static_cast<size_t>(belongs);
      std::vector<uint8_t> made(101, 0xFF);
      ASSERT_EQ(RecordKey(key, dbf, -1, 0, made), kKbdOk);
      std::vector<uint8_t> field(101, 0xFF);
      ASSERT_EQ(RecordKey(key, dbf, 0, 'C', field), kKbdOk);  // ROOMNAME
      EXPECT_TRUE(SameKeyImage(key, made, field)) << r;
      uint32_t at = r;
      std::vector<uint8_t> current = made;
      if (belongs == 1) {
        EXPECT_EQ(CurrentKey(key, current, &at), kKbdOk) << r;
      }
    }
    EXPECT_EQ(belonging, walked.size());
    EXPECT_EQ(CloseTag(dialect, key.tag_handle), kKbdOk);
  }
  EXPECT_EQ(CloseDataFile(dbf), kKbdOk);
  EXPECT_EQ(CloseIndex(dialect, file), kKbdOk);
}

// NTX keys are described as text; a plain expression names the key, any
// other the file.
TEST_F(AdapterTest, NtxKeysAreDescribedAsText) {
  struct Case {
    const char* file;
    const char* key_name;
  };
  for (const Case& c : {Case{"xsharp-testntx2/TESTNTX2.NTX", "ID"},
                        Case{"xsharp-byor/CUSTNAME.NTX", "CUSTNAME"}}) {
    SCOPED_TRACE(c.file);
    uint16_t handle = kNoIndexHandle;
    ASSERT_GE(OpenIndex(kKbdClipper, Real(c.file), &handle, kReadShared), 0);
    IndexKeyInfo info;
    ASSERT_EQ(DescribeKeyByNumber(&info, kKbdClipper, handle, 0), kKbdOk);
    EXPECT_EQ(info.key_type, 'C');
    EXPECT_EQ(info.key_name, c.key_name);
    EXPECT_EQ(info.attribute, 0);
    int32_t count = 0;
    EXPECT_EQ(CountTags(kKbdClipper, handle, &count), kKbdOk);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(CloseIndex(kKbdClipper, handle), kKbdOk);
  }
}

// CreateIndexFile picks the engine by extension, in any case; CDX and MDX
// files are created for their first tag. CreateTableKeyIndex rebuilds a
// CDX tag from the records.
TEST_F(AdapterTest, IndexesCreatedByExtension) {
  IndexCreateRequest request;
  request.expression = "NAME";
  request.key_type = 'C';
  request.key_length = 8;
  request.path = Temp("K.NTX");
  ASSERT_EQ(CreateIndexFile(request), kKbdOk);
  uint16_t handle = kNoIndexHandle;
  ASSERT_EQ(
      OpenIndex(DialectOfIndexPath(request.path), request.path, &handle, 0),
      kKbdOk);
  IndexKeyInfo info;
  ASSERT_EQ(DescribeKeyByNumber(&info, kKbdClipper, handle, 0), kKbdOk);
  EXPECT_EQ(info.expression, "NAME");
  EXPECT_EQ(CloseIndex(kKbdClipper, handle), kKbdOk);

  const std::u16string unknown = Temp("K.XYZ");
  request.path = unknown;
  EXPECT_EQ(CreateIndexFile(request), kKbdErrFileName);
  EXPECT_FALSE(std::filesystem::exists(platform::Utf16ToUtf8(unknown)));
  request.path = Temp("K.NDX");
  request.for_expression = "NAME='A'";
  EXPECT_EQ(CreateIndexFile(request), kKbdErrCommand);
  request.for_expression.clear();
  for (const char* name : {"K.cdx", "K.mdx"}) {
    request.path = Temp(name);
    request.tag = "BYNAME";
    ASSERT_EQ(CreateIndexFile(request), kKbdOk) << name;
    const XbaseDialect dialect = DialectOfIndexPath(request.path);
    ASSERT_EQ(OpenIndex(dialect, request.path, &handle, 0), kKbdOk);
    int32_t count = 0;
    EXPECT_EQ(CountTags(dialect, handle, &count), kKbdOk);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(CloseIndex(dialect, handle), kKbdOk);
  }

  // Re-indexing a CDX tag fills it from every record.
  const std::u16string table = CopyReal("dbd-xbase/rooms.dbf", "rooms.dbf");
  uint16_t dbf = kNoDataHandle;
  ASSERT_EQ(OpenDataFile(u"rooms", table, 0, nullptr, &dbf, nullptr), 1);
  IndexBuildRequest build;
  build.path = Temp("rooms.cdx");
  build.key_name = "ROOMNAME";
  build.key_length = 10;
  ASSERT_EQ(CreateTableKeyIndex(dbf, build), kKbdOk);
  ASSERT_EQ(OpenIndex(kKbdVisualFoxpro, build.path, &handle, 0), kKbdOk);
  IndexKeyDescriptor key;
  key.dialect = kKbdVisualFoxpro;
  key.key_length = 11;
  key.key_value_type = kValueText;
  ASSERT_EQ(OpenTag(key.dialect, "roomname", &key.tag_handle, handle), kKbdOk);
  std::vector<uint8_t> image(101);
  uint32_t recno = 0;
  uint32_t entries = 0;
  for (int32_t s = FirstKey(key, image, &recno); s == kKbdOk;
       s = NextKey(key, image, &recno))
    ++entries;
  KbdDbfInfo rooms{};
  ASSERT_EQ(kbddinfo(static_cast<int16_t>(dbf), &rooms), kKbdOk);
  EXPECT_EQ(entries, rooms.record_count);
  EXPECT_EQ(CloseTag(key.dialect, key.tag_handle), kKbdOk);
  EXPECT_EQ(CloseIndex(key.dialect, handle), kKbdOk);
  EXPECT_EQ(CloseDataFile(dbf), kKbdOk);

  // An MDX file without tags beside a data file.
  ASSERT_EQ(CreateEmptyMdx(Temp("empty.dbf")), kKbdOk);
  ASSERT_EQ(OpenIndex(kKbdDbase4, Temp("empty.mdx"), &handle, 0), kKbdOk);
  int32_t count = -1;
  EXPECT_EQ(CountTags(kKbdDbase4, handle, &count), kKbdOk);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(CloseIndex(kKbdDbase4, handle), kKbdOk);
}

}  // namespace
}  // namespace qx::access::testing
