// Creation and maintenance of tables by the table object: the fields a
// host description gives in each family (read back from the descriptors
// written), the memo and index files made with them, the errors of bad
// descriptions with their French texts, and pack + reindex with the
// progress sink, one error 34 per failing key, kept index options, and
// indexes that pass qxdb's check afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "access/errors/error_context.h"
#include "access/table/xbase_table.h"
#include "engine/core/engine_state.h"
#include "framework/framework_state.h"
#include "host/qxdb/cli.h"
#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::access {
namespace {

namespace fs = std::filesystem;

std::u16string U(const std::string& utf8) {
  return platform::Utf8ToUtf16(utf8);
}

// One field descriptor as the data file holds it.
struct Stored {
  std::string name;
  char type;
  int length;
  int decimals;
};

std::vector<Stored> Descriptors(const std::string& path, uint8_t* version) {
  const std::string bytes = testing::ReadWholeFile(path);
  std::vector<Stored> fields;
  if (bytes.size() < 32) return fields;
  *version = static_cast<uint8_t>(bytes[0]);
  for (size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\x0D';
       at += 32) {
    Stored f;
    f.name = std::string(bytes.c_str() + at);
    f.type = bytes[at + 11];
    f.length = static_cast<uint8_t>(bytes[at + 16]);
    f.decimals = static_cast<uint8_t>(bytes[at + 17]);
    fields.push_back(f);
  }
  return fields;
}

// The host's items of a test description.
struct Item {
  const char16_t* name;
  uint8_t type;
  uint32_t size;  // text: characters + 1
  uint16_t digits = 0;
  uint16_t decimals = 0;
  uint32_t key_flags = 0;
  const char16_t* index_file = nullptr;
};

class Progress final : public IProgress {
 public:
  void Reset(uint32_t steps) override {
    steps_ = steps;
    log_ += "reset " + std::to_string(steps) + ";";
  }
  void Advance() override { log_ += "advance;"; }
  const std::string& log() const { return log_; }

 private:
  uint32_t steps_ = 0;
  std::string log_;
};

class TableCreationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    engine::ResetEngineStateForTesting();
    ASSERT_EQ(kbdinit(32767, 4), kKbdOk);
    errors_ = new CErrorContext();
    errors_->AddRef();
  }
  void TearDown() override {
    errors_->Release();
    kbdterm();
    framework::ResetFrameworkStateForTesting();
  }

  // A table object on a host description of the test directory.
  CXBaseTable* Table(const std::u16string& name, uint32_t format,
                     const std::vector<Item>& items) {
    items_.clear();
    for (const Item& i : items) {
      FileItem f;
      f.name = i.name;
      f.item_type = i.type;
      f.size = i.size;
      f.digits = i.digits;
      f.decimals = i.decimals;
      f.key_flags = i.key_flags;
      f.index_file = i.index_file;
      items_.push_back(f);
    }
    FileDesc file;
    file.name = name.c_str();
    file.file_format = format;
    file.items = items_.data();
    file.item_count = static_cast<uint32_t>(items_.size());
    ConnectionInfo connection;
    connection.data_source = U(dir_.path());
    auto* table = new CXBaseTable(&file, connection, 0);
    table->AddRef();
    table->SetErrors(errors_);
    return table;
  }

  bool Create(const std::u16string& name, uint32_t format,
              const std::vector<Item>& items) {
    CXBaseTable* table = Table(name, format, items);
    const bool made = table->CreateFiles() == 1;
    table->Release();
    return made;
  }

  // Appends records with text in fields 0 and 2 and a number in field 1,
  // deleting those whose number is negative.
  void Fill(const std::string& file,
            const std::vector<std::pair<std::string, double>>& rows) {
    int16_t h = -1;
    ASSERT_GE(kbddopenx(&h, dir_.File(file).c_str(), 0), 0);
    for (const auto& [text, number] : rows) {
      ASSERT_GE(kbddblankrec(h), 0);
      ASSERT_GE(kbddput(h, 0, text.c_str()), 0);
      ASSERT_GE(kbddput(h, 1, &number), 0);
      ASSERT_GE(kbddput(h, 2, text.c_str()), 0);
      uint32_t recno = 0;
      ASSERT_GE(kbddwrite(h, &recno, kKbdWriteAppend), 0);
      if (number < 0) {
        ASSERT_GE(kbdddelete(h, recno), 0);
      }
    }
    kbddclose(h);
  }

  // qxdb check of an index: its output line. qxdb stops the engine when
  // it ends: no handle may be open, and the engine is started again.
  std::string Check(const std::string& table, const std::string& index,
                    const std::string& tag = "") {
    std::vector<std::string> args = {"check", dir_.File(table),
                                     dir_.File(index)};
    if (!tag.empty()) args.insert(args.end(), {"--tag", tag});
    std::ostringstream out, err;
    std::istringstream in;
    qxdb::RunQxdb(args, out, err, in);
    kbdinit(32767, 4);
    return out.str() + err.str();
  }

  std::string Message() {
    const CXError* error = errors_->error();
    return error == nullptr ? "" : platform::Utf16ToUtf8(error->user_message());
  }

  testing::TempDir dir_;
  CErrorContext* errors_ = nullptr;
  std::vector<FileItem> items_;
};

TEST_F(TableCreationTest, FieldsFollowTheFamily) {
  // dBASE III: currency as N, 18 + 4 digits past the widest number, text,
  // date and memo as the host sizes them; a DBT beside.
  const std::vector<Item> items = {
      {u"CURR", kItemCurrency, 10, 10, 2},
      {u"BIG", kItemReal8, 8, 18, 4},
      {u"NAME", kItemText, 31},
      {u"BORN", kItemDate, 4},
      {u"NOTES", kItemTextMemo, 8},
      {u"ok", kItemLogical, 1},
  };
  ASSERT_TRUE(Create(u"d3", kFileTypeDbase3, items)) << Message();
  uint8_t version = 0;
  std::vector<Stored> f = Descriptors(dir_.File("d3.dbf"), &version);
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(version, 0x83);
  EXPECT_EQ((std::vector<std::string>{f[0].name, f[5].name}),
            (std::vector<std::string>{"CURR", "OK"}));
  EXPECT_EQ(std::string(1, f[0].type) + std::to_string(f[0].length) + "." +
                std::to_string(f[0].decimals),
            "N13.2");
  EXPECT_EQ(std::string(1, f[1].type) + std::to_string(f[1].length) + "." +
                std::to_string(f[1].decimals),
            "N19.5");
  EXPECT_EQ(std::string(1, f[2].type) + std::to_string(f[2].length), "C30");
  EXPECT_EQ(std::string(1, f[3].type) + std::to_string(f[3].length), "D8");
  EXPECT_EQ(std::string(1, f[4].type) + std::to_string(f[4].length), "M10");
  EXPECT_TRUE(fs::exists(dir_.File("d3.dbt")));

  // dBASE IV: currency as F, 20 wide at most.
  ASSERT_TRUE(Create(u"d4", kFileTypeDbase4, items)) << Message();
  f = Descriptors(dir_.File("d4.dbf"), &version);
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(version, 0x8B);
  EXPECT_EQ(std::string(1, f[0].type) + std::to_string(f[0].length), "F13");
  EXPECT_EQ(std::string(1, f[1].type) + std::to_string(f[1].length), "F20");

  // Code 6: a Clipper table with a DBT memo file.
  ASSERT_TRUE(Create(u"cl", kFileTypeClipper, items)) << Message();
  f = Descriptors(dir_.File("cl.dbf"), &version);
  EXPECT_EQ(version, 0x83);
  EXPECT_TRUE(fs::exists(dir_.File("cl.dbt")));
  EXPECT_FALSE(fs::exists(dir_.File("cl.fpt")));

  // Our codes: FoxPro 2 and Visual FoxPro, with FPT memos; Visual FoxPro
  // takes its binary types.
  ASSERT_TRUE(Create(u"f2", kFileTypeFoxPro2, items)) << Message();
  f = Descriptors(dir_.File("f2.dbf"), &version);
  EXPECT_EQ(version, 0xF5);
  EXPECT_TRUE(fs::exists(dir_.File("f2.fpt")));
  const std::vector<Item> vfp_items = {
      {u"QTY", kItemInt32, 4, 9},   {u"PRICE", kItemCurrency, 10, 10, 4},
      {u"WHEN", kItemDateTime, 8},  {u"NOTES", kItemTextMemo, 8},
      {u"PIC", kItemBinaryMemo, 8}, {u"NAME", kItemText, 21},
  };
  ASSERT_TRUE(Create(u"vf", kFileTypeVisualFoxPro, vfp_items)) << Message();
  f = Descriptors(dir_.File("vf.dbf"), &version);
  EXPECT_EQ(version, 0x30);
  std::string types;
  for (const Stored& s : f)
    types += std::string(1, s.type) + std::to_string(s.length) + " ";
  EXPECT_EQ(types, "I4 Y8 T8 M4 W4 C20 ");
  EXPECT_TRUE(fs::exists(dir_.File("vf.fpt")));
}

TEST_F(TableCreationTest, BadDescriptionsRaiseTheirErrors) {
  EXPECT_FALSE(
      Create(u"long", kFileTypeDbase3,
             {{u"NAME", kItemText, 11}, {u"ABCDEFGHIJK", kItemText, 5}}));
  EXPECT_EQ(errors_->ErrorId(), 1059u);
  EXPECT_EQ(
      Message(),
      "Le nom de la rubrique 'ABCDEFGHIJK' est trop long (<10> caractères "
      "maximum).");
  EXPECT_FALSE(fs::exists(dir_.File("long.dbf")));

  errors_->Reset(u"test");
  EXPECT_FALSE(Create(u"odd", kFileTypeDbase3, {{u"WHEN", kItemTime, 4}}));
  EXPECT_EQ(errors_->ErrorId(), 1035u);
  EXPECT_EQ(Message(),
            "Le type de la rubrique 'WHEN' n'est pas reconnu par xBase.");

  // A binary memo has no field outside Visual FoxPro.
  errors_->Reset(u"test");
  EXPECT_FALSE(Create(u"bin", kFileTypeDbase4, {{u"PIC", kItemBinaryMemo, 8}}));
  EXPECT_EQ(errors_->ErrorId(), 1035u);

  // The data file cannot be made where a directory stands.
  errors_->Reset(u"test");
  fs::create_directory(dir_.File("dir.dbf"));
  EXPECT_FALSE(Create(u"dir", kFileTypeDbase3, {{u"NAME", kItemText, 11}}));
  EXPECT_EQ(errors_->ErrorId(), 1034u);
  EXPECT_NE(
      Message().find("Une erreur est survenue lors de la création du fichier"),
      std::string::npos);

  // A compound key whose formula names no field of the table.
  errors_->Reset(u"test");
  CXBaseTable* table =
      Table(u"cmp", kFileTypeDbase3, {{u"NAME", kItemText, 11}});
  ASSERT_EQ(table->CreateFiles(), 1) << Message();
  table->Release();
  items_.push_back(FileItem());
  items_.back().name = u"BOTH";
  items_.back().key_flags = kKeyDuplicates;
  items_.back().flags = kItemFlagCompound;
  items_.back().formula = u"NAME+NOPE";
  FileDesc file;
  file.name = u"cmp";
  file.items = items_.data();
  file.item_count = static_cast<uint32_t>(items_.size());
  ConnectionInfo connection;
  connection.data_source = U(dir_.path());
  table = new CXBaseTable(&file, connection, 0);
  table->AddRef();
  table->SetErrors(errors_);
  EXPECT_EQ(table->CreateIndex(u"BOTH", u"both.ntx"), 0);
  EXPECT_EQ(errors_->ErrorId(), 1069u);
  // The unknown key item.
  errors_->Reset(u"test");
  EXPECT_EQ(table->CreateIndex(u"NONE", u"none.ntx"), 0);
  EXPECT_EQ(errors_->ErrorId(), 1023u);
  table->Release();
}

TEST_F(TableCreationTest, ReindexGoesOnPastAFailingKey) {
  const std::vector<Item> items = {
      {u"NAME", kItemText, 11, 0, 0, kKeyDuplicates, u"k1.ntx"},
      {u"AGE", kItemInt16, 2, 3, 0, kKeyUnique, u"k2.ntx"},
      {u"CITY", kItemText, 11, 0, 0, kKeyDescending, u"k3.ntx"},
  };
  ASSERT_TRUE(Create(u"three", kFileTypeClipper, items)) << Message();
  for (const char* file : {"k1.ntx", "k2.ntx", "k3.ntx"})
    EXPECT_TRUE(fs::exists(dir_.File(file))) << file;
  Fill("three.dbf", {{"Zola", 3}, {"Ada", 7}, {"Bob", -2}, {"Cy", 7}});

  CXBaseTable* table = Table(u"three", kFileTypeClipper, items);
  ASSERT_EQ(table->Open(errors_), 1) << Message();
  ASSERT_EQ(table->OpenFiles(kAccessWrite), 1) << Message();
  // The second key cannot be rebuilt: a directory stands where its file
  // was. The first and third are rebuilt (their files made again).
  fs::remove(dir_.File("k1.ntx"));
  fs::remove(dir_.File("k2.ntx"));
  fs::create_directory(dir_.File("k2.ntx"));
  fs::remove(dir_.File("k3.ntx"));
  errors_->Reset(u"test");
  Progress progress;
  EXPECT_EQ(table->Maintain(0, &progress), 0);
  EXPECT_EQ(progress.log(), "reset 3;advance;advance;advance;");
  EXPECT_EQ(errors_->ErrorId(), 34u);
  EXPECT_EQ(errors_->SubErrorCount(), 0u);
  EXPECT_NE(
      Message().find(
          "Erreur lors de la réindexation de la clé AGE du fichier three."),
      std::string::npos)
      << Message();
  table->CloseFiles();
  table->Release();
  EXPECT_EQ(Check("three.dbf", "k1.ntx"), "ok 4 keys\n");
  EXPECT_EQ(Check("three.dbf", "k3.ntx"), "ok 4 keys\n");

  // The missing index made by its key alone (the table not open); then
  // pack and reindex: the deleted record goes, every key is rebuilt with
  // its options (unique AGE keeps one entry per age, CITY descends), and
  // the table stays open for record work.
  fs::remove(dir_.File("k2.ntx"));
  errors_->Reset(u"test");
  table = Table(u"three", kFileTypeClipper, items);
  ASSERT_EQ(table->CreateIndex(u"AGE", nullptr), 1) << Message();
  ASSERT_EQ(table->Open(errors_), 1) << Message();
  ASSERT_EQ(table->OpenFiles(kAccessWrite), 1) << Message();
  EXPECT_EQ(table->Maintain(1, nullptr), 1) << Message();
  uint32_t count = 0;
  ASSERT_EQ(table->RecordCount(&count), 1);
  EXPECT_EQ(count, 3u);
  int32_t deleted = 0, out_of_file = 0;
  EXPECT_EQ(table->ReadRecord(nullptr, 3, 0, &deleted, &out_of_file), 1);
  EXPECT_EQ(deleted, 0);
  EXPECT_EQ(out_of_file, 0);
  table->CloseFiles();
  table->Release();
  EXPECT_EQ(Check("three.dbf", "k1.ntx"), "ok 3 keys\n");
  EXPECT_EQ(Check("three.dbf", "k2.ntx"), "ok 2 keys\n");
  EXPECT_EQ(Check("three.dbf", "k3.ntx"), "ok 3 keys\n");
  const std::string header = testing::ReadWholeFile(dir_.File("k3.ntx"));
  ASSERT_GT(header.size(), 281u);
  EXPECT_EQ(header[280], 1) << "CITY descends";
}

}  // namespace
}  // namespace qx::access
