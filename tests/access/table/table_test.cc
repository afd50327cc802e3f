// The access layer's table objects in-process: descriptions of data
// files, index paths and association (real CDX, NDX and NTX files of the
// corpus), key descriptors, and record transfer with the reference VM's
// conversions bound.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "access/errors/error_context.h"
#include "access/table/index_association.h"
#include "access/table/index_paths.h"
#include "access/table/xbase_description.h"
#include "access/table/xbase_table.h"
#include "engine/core/engine_state.h"
#include "framework/framework_state.h"
#include "framework/host_value.h"
#include "host/vm/vm.h"
#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::access {
namespace {

namespace fs = std::filesystem;

std::u16string U(const std::string& utf8) {
  return platform::Utf8ToUtf16(utf8);
}

std::string Corpus(const std::string& file) {
  return testing::SharedDir() + "/fixtures/real/" + file;
}

class TableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::ResetEngineStateForTesting();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    framework::Framework().convert = vm::Convert;
    framework::Framework().end_conversion = vm::EndConversion;
    errors_ = new CErrorContext();
    errors_->AddRef();
  }
  void TearDown() override {
    errors_->Release();
    kbdterm();
    framework::ResetFrameworkStateForTesting();
  }

  // Copies corpus files into the temporary directory.
  void CopyIn(const std::vector<std::string>& files) {
    for (const std::string& file : files) {
      const fs::path to = dir_.File(fs::path(file).filename().string());
      fs::copy_file(Corpus(file), to);
      fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write);
    }
  }

  // A description of a data file of the directory (one reference).
  CXBaseDescription* Describe(const std::string& file) {
    auto* description = new CXBaseDescription(U(dir_.path()));
    description->AddRef();
    EXPECT_TRUE(description->Fill(U(file), U(dir_.File(file)), errors_))
        << Message();
    return description;
  }

  std::u16string Message16() {
    const CXError* error = errors_->error();
    return error == nullptr ? u"" : error->user_message();
  }
  std::string Message() { return platform::Utf16ToUtf8(Message16()); }
  uint32_t ErrorId() { return errors_->ErrorId(); }

  testing::TempDir dir_;
  CErrorContext* errors_ = nullptr;
};

TEST_F(TableTest, DescriptionsMapEveryFieldClass) {
  const KbdFieldDef fields[] = {
      {"NOM", 'C', 254, 0, 0},  {"PRIX", 'N', 5, 2, 0},
      {"NUM10", 'N', 10, 0, 0}, {"NUM9", 'N', 9, 0, 0},
      {"NUM2", 'N', 2, 0, 0},   {"LARGE", 'N', 19, 0, 0},
      {"FRAC", 'N', 19, 8, 0},  {"QUAND", 'D', 8, 0, 0},
      {"OUI", 'L', 1, 0, 0},    {"NOTE", 'M', 10, 0, 0}};
  ASSERT_EQ(kbddcreate(dir_.File("t.dbf").c_str(), 10, fields, kKbdDbase3),
            kKbdOk);
  CXBaseDescription* description = Describe("t.dbf");
  ASSERT_EQ(description->GetItemCount(), 10u);
  EXPECT_EQ(description->GetFileType(), uint32_t{kFileTypeDbase3});
  EXPECT_EQ(std::u16string(description->GetExtension()), u".dbf");
  EXPECT_EQ(std::u16string(description->GetFileName()), u"t");
  struct Expected {
    uint8_t type;
    uint32_t size, digits, decimals;
  };
  const Expected expected[] = {
      {kItemText, 255, 0, 0},   {kItemCurrency, 10, 2, 2},
      {kItemInt64, 8, 10, 0},   {kItemInt32, 4, 9, 0},
      {kItemInt8, 1, 2, 0},     {kItemInt64, 8, 19, 0},
      {kItemDecimal, 8, 10, 8}, {kItemDate, 9, 0, 0},
      {kItemBoolean, 1, 0, 0},  {kItemTextMemo, 8, 0, 0}};
  for (uint32_t i = 0; i < 10; ++i) {
    IItem* item = description->GetItem(i);
    SCOPED_TRACE(platform::Utf16ToUtf8(item->GetName()));
    EXPECT_EQ(item->GetItemType(), expected[i].type);
    EXPECT_EQ(item->GetSize(), expected[i].size);
    EXPECT_EQ(item->GetFieldNumber(), static_cast<int32_t>(i));
    EXPECT_EQ(item->GetKeyNumber(), -1);
    if (item->GetXBaseType() == u'N') {
      EXPECT_EQ(item->GetDigits(), expected[i].digits);
    }
    EXPECT_EQ(item->GetDecimals(), expected[i].decimals);
  }
  // The memo file is missing: the path stays empty, the description holds.
  EXPECT_EQ(std::u16string(description->GetItem(9)->GetMemoPath()), u"");
  description->Release();
  ASSERT_EQ(kbdtcreate(dir_.File("t.dbt").c_str(), 1, kKbdDbase3), kKbdOk);
  description = Describe("t.dbf");
  EXPECT_EQ(std::u16string(description->GetItem(9)->GetMemoPath()),
            U(dir_.File("t.dbt")));
  // The host's items: every one must be in the file, compound keys aside.
  FileItem host[2];
  host[0].name = u"NOM";
  host[1].name = u"AUTRE";
  FileDesc file;
  file.items = host;
  file.item_count = 2;
  EXPECT_EQ(description->CheckItems(&file, errors_), 0);
  EXPECT_EQ(Message16(),
            u"La rubrique AUTRE n'existe pas dans le fichier physique t.dbf .");
  host[1].flags = kItemFlagCompound;
  EXPECT_EQ(description->CheckItems(&file, errors_), 1);
  // A copy has the same items and keys.
  IDescription* copy = description->Copy();
  copy->AddRef();
  EXPECT_EQ(copy->GetItemCount(), 10u);
  EXPECT_EQ(std::u16string(copy->GetPath()), U(dir_.File("t.dbf")));
  copy->Release();
  description->Release();

  // A Clipper 5.0 table: wide character fields and a DBT memo, which the
  // Clipper row opens first (dBASE rows read the wide length wrong, FoxPro
  // rows refuse a DBT memo).
  const KbdFieldDef clipper[] = {{"TEXTE", 'C', 300, 0, 0},
                                 {"NOTE", 'M', 10, 0, 0}};
  ASSERT_EQ(kbddcreate(dir_.File("c.dbf").c_str(), 2, clipper, kKbdClipper5),
            kKbdOk);
  description = Describe("c.dbf");
  EXPECT_EQ(description->GetFileType(), uint32_t{kFileTypeClipper});
  EXPECT_EQ(description->GetItem(0)->GetSize(), 301u);
  description->Release();
  // A file that is not a data file.
  testing::WriteWholeFile(dir_.File("x.dbf"), std::string(40, 'x'));
  errors_->Reset(nullptr);
  auto* broken = new CXBaseDescription(U(dir_.path()));
  broken->AddRef();
  EXPECT_FALSE(broken->Fill(u"x", U(dir_.File("x.dbf")), errors_));
  EXPECT_EQ(ErrorId(), 1003u);
  broken->Release();
}

TEST(IndexPathsTest, NamesResolveBesideTheDataFileAndStoreRelative) {
  EXPECT_EQ(IndexPathOf(u"/d/base/t.dbf", u"clients"), u"/d/base/clients.ndx");
  EXPECT_EQ(IndexPathOf(u"/d/base/t.dbf", u"sub\\x.NTX"),
            u"/d/base/sub\\x.NTX");
  EXPECT_EQ(IndexPathOf(u"C:\\d\\t.dbf", u"E:\\i\\x.cdx"), u"E:\\i\\x.cdx");
  EXPECT_EQ(IndexPathOf(u"/d/t.dbf", u"/other/x.mdx"), u"/other/x.mdx");
  EXPECT_EQ(DefaultIndexFileName(u"clients", u"NOM"), u"clients_NOM");

  EXPECT_EQ(StoredIndexPath(u"/d/base/t.dbf", u"/d/base/x.ndx"), u".\\x.ndx");
  EXPECT_EQ(StoredIndexPath(u"/d/base/t.dbf", u"/d/base/sub/x.ndx"),
            u".\\sub\\x.ndx");
  EXPECT_EQ(StoredIndexPath(u"/d/base/t.dbf", u"/d/x.ndx"), u"..\\x.ndx");
  EXPECT_EQ(StoredIndexPath(u"/d/base/t.dbf", u"/D/Other/x.ndx"),
            u"..\\Other\\x.ndx");
  EXPECT_EQ(StoredIndexPath(u"/d/base/t.dbf", u"/d/base/./x.ndx"), u".\\x.ndx");
  EXPECT_EQ(StoredIndexPath(u"C:\\d\\t.dbf", u"E:\\d\\x.ndx"), u"E:\\d\\x.ndx");
  const std::u16string deep =
      u"/d/base/" + std::u16string(255, u'a') + u"/x.ndx";
  EXPECT_EQ(StoredIndexPath(u"/d/base/t.dbf", deep), deep);
}

TEST_F(TableTest, IndexFilesGiveKeyItems) {
  CopyIn({"dbd-xbase/rooms.dbf", "dbd-xbase/rooms.cdx", "dbd-xbase/ndx-num.dbf",
          "dbd-xbase/ndx-num.ndx", "xsharp-byor/customer.dbf",
          "xsharp-byor/CUSTNUM.NTX"});
  CXBaseDescription* rooms = Describe("rooms.dbf");
  ASSERT_EQ(rooms->GetItemCount(), 2u);
  std::vector<CXBaseItem*> added;
  // The key name is ignored for a file of several tags.
  ASSERT_EQ(AssociateIndexFile(rooms, rooms->path(), U(dir_.File("rooms.cdx")),
                               u"IGNORED", false, &added, errors_),
            1)
      << Message();
  ASSERT_EQ(rooms->GetKeyCount(), 5u);
  EXPECT_EQ(added.size(), 3u);  // AUDIO, FILM, MAIN: not fields
  for (uint32_t k = 0; k < rooms->GetKeyCount(); ++k) {
    IItem* key = rooms->GetKey(k);
    SCOPED_TRACE(platform::Utf16ToUtf8(key->GetName()));
    EXPECT_EQ(key->GetKeyNumber(), static_cast<int32_t>(k));
    EXPECT_EQ(std::u16string(key->GetIndexPath()), u".\\rooms.cdx");
    EXPECT_EQ(key->GetKeyLength(), 11u);  // 10 characters and the NUL
    const bool field = key->GetFieldNumber() >= 0;
    EXPECT_EQ(key->GetKeyFlags(), uint32_t{kKeyDuplicates | kKeyAscending} |
                                      (field ? 0u : uint32_t{kKeyNotAField}));
    if (!field) {
      EXPECT_EQ(key->GetItemType(), kItemBinary);
      EXPECT_EQ(std::u16string(key->GetExpression()), u"ROOMNAME");
    }
  }
  EXPECT_EQ(std::u16string(rooms->FindItem(u"FACILITY")->GetIndexPath()),
            u".\\rooms.cdx");

  // Errors: an extension no index engine takes, a file that is missing, a
  // key name that is a field of the table for an expression that is not.
  EXPECT_EQ(AssociateIndexFile(rooms, rooms->path(), U(dir_.File("x.idz")), u"",
                               false, nullptr, errors_),
            0);
  EXPECT_EQ(ErrorId(), 1058u);
  errors_->Reset(nullptr);
  EXPECT_EQ(AssociateIndexFile(rooms, rooms->path(), U(dir_.File("none.ndx")),
                               u"ROOMNAME", false, nullptr, errors_),
            0);
  EXPECT_EQ(ErrorId(), 1001u);
  errors_->Reset(nullptr);
  kbdseterror(0);
  ASSERT_EQ(
      kbdncreate(dir_.File("upper.ndx").c_str(), 'C', "UPPER(FACILITY)", 10),
      kKbdOk);
  EXPECT_EQ(AssociateIndexFile(rooms, rooms->path(), U(dir_.File("upper.ndx")),
                               u"ROOMNAME", false, nullptr, errors_),
            0);
  EXPECT_EQ(ErrorId(), 1071u);
  EXPECT_EQ(rooms->GetKeyCount(), 5u);  // a failure leaves the keys alone
  rooms->Release();

  // Key descriptors of an open table: the key and key value types by
  // family; two tags of one file share its handle.
  const auto open = [&](const std::u16string& name,
                        std::vector<FileItem> items) {
    FileDesc file;
    file.name = name.c_str();
    file.items = items.data();
    file.item_count = static_cast<uint32_t>(items.size());
    ConnectionInfo info;
    info.data_source = U(dir_.path());
    auto* table = new CXBaseTable(&file, info, 0);
    table->AddRef();
    EXPECT_EQ(table->Open(errors_), 1) << Message();
    EXPECT_EQ(table->OpenFiles(kAccessRead), 1) << Message();
    return table;
  };
  FileItem facility;
  facility.name = u"FACILITY";
  facility.key_flags = kKeyDuplicates;
  facility.index_file = u"rooms.cdx";
  CXBaseTable* table = open(u"rooms", {facility});
  const IndexKeyDescriptor* by_facility = table->KeyDescriptor(u"FACILITY");
  const IndexKeyDescriptor* by_audio = table->KeyDescriptor(u"AUDIO");
  ASSERT_NE(by_facility, nullptr);
  ASSERT_NE(by_audio, nullptr);
  EXPECT_EQ(table->open_index_count(), 1u);
  EXPECT_EQ(by_facility->index_handle, by_audio->index_handle);
  EXPECT_NE(by_facility->tag_handle, by_audio->tag_handle);
  EXPECT_EQ(by_facility->dialect, kKbdVisualFoxpro);
  EXPECT_EQ(by_facility->key_type, 'C');
  EXPECT_EQ(by_facility->key_value_type, kValueText);
  EXPECT_EQ(by_facility->key_length, 11u);
  EXPECT_EQ(by_audio->compound, 1u);
  errors_->Reset(nullptr);
  EXPECT_EQ(table->KeyDescriptor(u"ABSENT"), nullptr);
  EXPECT_EQ(ErrorId(), 1023u);
  table->Release();

  FileItem field1;
  field1.name = u"FIELD1";
  field1.key_flags = kKeyDuplicates;
  field1.index_file = u"ndx-num";  // NDX by default
  table = open(u"ndx-num", {field1});
  const IndexKeyDescriptor* ndx = table->KeyDescriptor(u"FIELD1");
  ASSERT_NE(ndx, nullptr);
  EXPECT_EQ(ndx->key_type, 'N');
  EXPECT_EQ(ndx->key_value_type, kValueDouble);
  EXPECT_EQ(ndx->tag_handle, kNoTagHandle);
  table->Release();

  FileItem custnum;
  custnum.name = u"CUSTNUM";
  custnum.key_flags = kKeyDuplicates;
  custnum.index_file = u"CUSTNUM.NTX";
  table = open(u"customer", {custnum});
  const IndexKeyDescriptor* ntx = table->KeyDescriptor(u"CUSTNUM");
  ASSERT_NE(ntx, nullptr);
  EXPECT_EQ(ntx->key_type, 'N');
  EXPECT_EQ(ntx->key_value_type, kValueText);
  EXPECT_EQ(ntx->width, 5u);
  table->Release();
}

TEST_F(TableTest, RecordsTravelToAndFromTheHost) {
  const KbdFieldDef fields[] = {{"NOM", 'C', 10, 0, 0},
                                {"PRIX", 'N', 6, 1, 0},
                                {"OUI", 'L', 1, 0, 0},
                                {"QUAND", 'D', 8, 0, 0}};
  ASSERT_EQ(kbddcreate(dir_.File("t.dbf").c_str(), 4, fields, kKbdDbase3),
            kKbdOk);
  int16_t h = -1;
  ASSERT_EQ(kbddopenx(&h, dir_.File("t.dbf").c_str(), kKbdDbase3), kKbdOk);
  const char oem[] = {'c', 'a', 'f', static_cast<char>(130), '\0'};
  const double price = 12.5;
  const uint8_t yes = 'T';
  uint32_t recno = 0;
  ASSERT_EQ(kbddblankrec(h), kKbdOk);
  ASSERT_EQ(kbddput(h, 0, oem), kKbdOk);
  ASSERT_EQ(kbddput(h, 1, &price), kKbdOk);
  ASSERT_EQ(kbddput(h, 2, &yes), kKbdOk);
  ASSERT_EQ(kbddput(h, 3, "20240131"), kKbdOk);
  ASSERT_EQ(kbddwrite(h, &recno, 0), kKbdOk);
  ASSERT_EQ(kbddblankrec(h), kKbdOk);
  ASSERT_EQ(kbddput(h, 0, "ABCDEFGHIJ"), kKbdOk);
  ASSERT_EQ(kbddwrite(h, &recno, 0), kKbdOk);
  ASSERT_EQ(kbdddelete(h, 2), kKbdOk);
  kbddclose(h);

  for (const bool full : {false, true}) {
    SCOPED_TRACE(full ? "OEMTOANSI=WINDOWS" : "French letters");
    FileDesc file;
    file.name = u"t";
    file.extended_info = full ? u"OEMTOANSI=WINDOWS" : nullptr;
    ConnectionInfo info;
    info.data_source = U(dir_.path());
    auto* table = new CXBaseTable(&file, info, 0);
    table->AddRef();
    ASSERT_EQ(table->Open(errors_), 1) << Message();
    ASSERT_EQ(table->OpenFiles(kAccessWrite), 1) << Message();
    EXPECT_EQ(table->files().full_conversion, full);

    char name[5] = {};
    char ansi_name[11] = {};
    double value = 0;
    int32_t day = 0;
    uint8_t flag = 0;
    std::vector<RecordItem> items(5);
    items[0].name = u"NOM";  // a text cut to its capacity
    items[0].value_type = kValueText;
    items[0].flags = kRecordItemText | kRecordItemWritable;
    items[0].field_number = 0;
    items[0].buffer = name;
    items[0].capacity = sizeof name;
    items[1].name = u"PRIX";
    items[1].value_type = kValueDouble;
    items[1].flags = kRecordItemWritable;
    items[1].field_number = 1;
    items[1].buffer = &value;
    items[1].capacity = sizeof value;
    items[2].name = u"OUI";
    items[2].value_type = kValueBoolean;
    items[2].field_number = 2;
    items[2].buffer = &flag;
    items[2].capacity = 1;
    items[3].name = u"QUAND";  // a date through the host's conversion
    items[3].value_type = kValueDate;
    items[3].field_number = 3;
    items[3].buffer = &day;
    items[3].capacity = sizeof day;
    items[4].name = u"NOM";  // the whole text
    items[4].value_type = kValueText;
    items[4].flags = kRecordItemText | kRecordItemWritable;
    items[4].field_number = 0;
    items[4].buffer = ansi_name;
    items[4].capacity = sizeof ansi_name;
    Record record;
    record.items = items.data();
    record.item_count = 5;

    int32_t deleted = -1, out = -1;
    ASSERT_EQ(table->ReadRecord(&record, 1, 1, &deleted, &out), 1) << Message();
    EXPECT_EQ(deleted, 0);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(std::string(ansi_name), "caf\xE9      ");  // OEM 130 is 'é'
    EXPECT_EQ(std::string(name), "caf\xE9");             // capacity - 1
    EXPECT_EQ(items[0].length, 4u);
    EXPECT_EQ(value, 12.5);
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(day, vm::JulianDay(2024, 1, 31));
    EXPECT_EQ(record.state, kRecordActive);

    ASSERT_EQ(table->ReadRecord(&record, 2, 1, &deleted, &out), 1);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(record.state, kRecordDeleted);
    EXPECT_EQ(items[4].state & kRecordDeleted, kRecordDeleted);
    EXPECT_EQ(std::string(name), "ABCD");
    EXPECT_TRUE(items[2].state & kRecordItemNull);  // a blank logical

    // Past the end: out of file, the items untouched.
    ASSERT_EQ(table->ReadRecord(&record, 3, 1, &deleted, &out), 1);
    EXPECT_EQ(out, 1);
    EXPECT_EQ(std::string(name), "ABCD");

    // Writing back: 'é' becomes OEM 130; a number with more decimals than
    // its field is rounded without an error.
    std::strcpy(ansi_name, "\xE9t\xE9");
    items[4].length = 3;
    value = 3.14159;
    ASSERT_EQ(table->ReadRecord(&record, 1, 0, &deleted, &out), 1);
    EXPECT_EQ(table->PutItem(&record, 4), 1) << Message();
    EXPECT_EQ(table->PutItem(&record, 1), 1) << Message();
    char stored[11] = {};
    ASSERT_EQ(kbddget(static_cast<int16_t>(table->files().handle), 0, stored),
              kKbdOk);
    EXPECT_EQ(std::string(stored), "\x82t\x82       ");
    double rounded = 0;
    ASSERT_EQ(kbddget(static_cast<int16_t>(table->files().handle), 1, &rounded),
              kKbdOk);
    EXPECT_EQ(rounded, 3.1);
    table->Release();
  }
}

}  // namespace
}  // namespace qx::access
