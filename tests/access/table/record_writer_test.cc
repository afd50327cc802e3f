// The record writer's undo when an index refuses a key in the middle of a
// write (its file reopened read-only under the table's handle, so that
// the later key fails after the earlier one was maintained): a
// modification puts the record and every earlier key back; an add leaves
// its record marked deleted without entries.
#include "access/table/record_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "access/adapter/key_descriptor.h"
#include "access/errors/error_context.h"
#include "access/table/xbase_table.h"
#include "engine/core/engine_state.h"
#include "framework/framework_state.h"
#include "host/vm/vm.h"
#include "platform/platform.h"
#include "qx/engine.h"
#include "tests/support/test_support.h"

namespace qx::access {
namespace {

class RecordWriterTest : public ::testing::Test {
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
  // The entry of index `file` for recno, as the key text ("" when none).
  std::string EntryOf(const std::string& file, uint32_t recno) {
    int16_t h = -1;
    EXPECT_EQ(kbdnopenx(&h, dir_.File(file).c_str(), 0), kKbdOk);
    char key[101] = {};
    uint32_t at = 0;
    std::string found;
    for (int16_t s = kbdnkfirst(h, key, &at); s == kKbdOk;
         s = kbdnknext(h, key, &at)) {
      if (at == recno) found.assign(key, std::strlen(key));
    }
    kbdnclose(h);
    return found;
  }

  testing::TempDir dir_;
  CErrorContext* errors_ = nullptr;
};

TEST_F(RecordWriterTest, AFailedLaterKeyUndoesTheEarlierOnes) {
  const KbdFieldDef fields[] = {{"NOM", 'C', 8, 0, 0}, {"CODE", 'C', 4, 0, 0}};
  const std::string dbf = dir_.File("t.dbf");
  ASSERT_EQ(kbddcreate(dbf.c_str(), 2, fields, kKbdDbase3), kKbdOk);
  ASSERT_EQ(kbdncreate(dir_.File("nom.ndx").c_str(), 'C', "NOM", 8), kKbdOk);
  ASSERT_EQ(kbdncreate(dir_.File("code.ndx").c_str(), 'C', "CODE", 4), kKbdOk);

  FileItem host_items[2];
  host_items[0].name = u"NOM";
  host_items[0].item_type = kItemText;
  host_items[0].size = 9;
  host_items[0].key_flags = kKeyDuplicates;
  host_items[0].index_file = u"nom.ndx";
  host_items[1].name = u"CODE";
  host_items[1].item_type = kItemText;
  host_items[1].size = 5;
  host_items[1].key_flags = kKeyDuplicates;
  host_items[1].index_file = u"code.ndx";
  FileDesc file;
  file.name = u"t";
  file.items = host_items;
  file.item_count = 2;
  ConnectionInfo info;
  info.data_source = platform::Utf8ToUtf16(dir_.path());
  auto* table = new CXBaseTable(&file, info, 0);
  table->AddRef();
  ASSERT_EQ(table->Open(errors_), 1);
  ASSERT_EQ(table->OpenFiles(kAccessWrite), 1);

  char nom[9] = {}, code[5] = {};
  std::vector<RecordItem> items(2);
  items[0].name = u"NOM";
  items[0].value_type = kValueText;
  items[0].flags = kRecordItemText | kRecordItemWritable | kRecordItemKey;
  items[0].field_number = 0;
  items[0].buffer = nom;
  items[0].capacity = sizeof nom;
  items[1].name = u"CODE";
  items[1].value_type = kValueText;
  items[1].flags = kRecordItemText | kRecordItemWritable | kRecordItemKey;
  items[1].field_number = 1;
  items[1].buffer = code;
  items[1].capacity = sizeof code;
  Record record;
  record.items = items.data();
  record.item_count = 2;
  const auto set = [&](const char* n, const char* c) {
    std::strcpy(nom, n);
    items[0].length = static_cast<uint32_t>(std::strlen(n));
    std::strcpy(code, c);
    items[1].length = static_cast<uint32_t>(std::strlen(c));
  };

  set("ANNE", "A1");
  uint32_t recno = 0;
  ASSERT_EQ(WriteTableRecord(table, &record, &recno, 0, 0), 1)
      << platform::Utf16ToUtf8(errors_->error()->user_message());
  ASSERT_EQ(recno, 1u);

  // The CODE index refuses changes: the file behind the table's handle is
  // reopened read-only (the engine gives the freed handle again).
  const IndexKeyDescriptor* key = table->KeyDescriptor(u"CODE");
  ASSERT_NE(key, nullptr);
  const auto code_handle = static_cast<int16_t>(key->index_handle);
  ASSERT_EQ(kbdnclose(code_handle), kKbdOk);
  int16_t reopened = -1;
  ASSERT_EQ(kbdnopenx(&reopened, dir_.File("code.ndx").c_str(), 0x100), kKbdOk);
  ASSERT_EQ(reopened, code_handle);

  // A → B on NOM, then CODE fails: NOM's entry is A again, and so is the
  // record.
  errors_->Reset(nullptr);
  set("BRUNO", "B1");
  recno = 1;
  EXPECT_EQ(WriteTableRecord(table, &record, &recno, 0, 256), 0);
  EXPECT_EQ(errors_->ErrorId(), 1049u);
  int16_t h = static_cast<int16_t>(table->files().handle);
  ASSERT_EQ(kbddread(h, 1), kKbdOk);
  char stored[9] = {};
  ASSERT_EQ(kbddget(h, 0, stored), kKbdOk);
  EXPECT_STREQ(stored, "ANNE    ");

  // An add that fails at CODE: the record stays, marked deleted, and NOM
  // holds no entry for it.
  errors_->Reset(nullptr);
  set("CLAIRE", "C1");
  recno = 0;
  EXPECT_EQ(WriteTableRecord(table, &record, &recno, 0, 0), 0);
  uint32_t count = 0;
  ASSERT_EQ(kbddreccount(h, &count), kKbdOk);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(kbddread(h, 2), kKbdDeletedRecord);
  table->CloseFiles();
  table->Release();

  EXPECT_EQ(EntryOf("nom.ndx", 1), "ANNE    ");
  EXPECT_EQ(EntryOf("nom.ndx", 2), "");
}

}  // namespace
}  // namespace qx::access
