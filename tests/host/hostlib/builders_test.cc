// The reference host's builders: records point into storage the builder
// keeps.
#include "host/hostlib/builders.h"

#include <gtest/gtest.h>

#include <cstring>

namespace qx::host {
namespace {

TEST(BuildersTest, RecordsPointIntoTheBuildersStorage) {
  ConnectionBuilder cnx(u"BASE");
  cnx.DataSource(u"C:\\data").ExtendedInfo(u"OEMTOANSI=WINDOWS").ReadOnly();
  const ConnectionDesc* desc = cnx.Get();
  EXPECT_EQ(std::u16string(desc->name), u"BASE");
  EXPECT_EQ(std::u16string(desc->data_source), u"C:\\data");
  EXPECT_EQ(desc->user, nullptr);
  EXPECT_EQ(desc->access_mode, static_cast<uint32_t>(kAccessReadOnly));

  FileBuilder file(u"CLIENTS");
  ItemDesc code;
  code.name = u"CODE";
  code.item_type = kItemInt32;
  code.size = 4;
  code.key_flags = kKeyUnique | kKeyAscending;
  code.index_file = u"clients.ndx";
  file.Item(code);
  ItemDesc nom;
  nom.name = u"NOMVILLE";
  nom.formula = u"NOM+VILLE";
  nom.component_count = 2;
  nom.flags = kItemFlagCompound;
  file.Item(nom).Format(kFileTypeDbase4);
  FileDesc* fd = file.Get();
  ASSERT_EQ(fd->item_count, 2u);
  EXPECT_EQ(fd->path, nullptr);
  EXPECT_EQ(fd->file_format, static_cast<uint32_t>(kFileTypeDbase4));
  EXPECT_EQ(std::u16string(fd->items[0].index_file), u"clients.ndx");
  EXPECT_EQ(fd->items[0].formula, nullptr);
  EXPECT_EQ(std::u16string(fd->items[1].formula), u"NOM+VILLE");
  ASSERT_NE(fd->items[1].component_lengths, nullptr);
  fd->items[1].component_lengths[1] = 20;  // the driver may write them

  RecordBuilder record;
  record.Item(u"NOM", kValueText, 31, kRecordItemText, 'C', 0, 30)
      .Item(u"AGE", kValueInt32, 4, 0, 'N', 1, 3);
  Record* r = record.Get();
  ASSERT_EQ(r->item_count, 2u);
  std::memcpy(r->items[0].buffer, "DUPONT", 6);
  EXPECT_EQ(r->items[0].capacity, 31u);
  EXPECT_EQ(r->items[1].field_number, 1);

  ConditionBuilder conditions;
  const HostValue value{};
  const Condition* range = conditions.And(
      conditions.Compare(kConditionGreaterOrEqual, u"NOM", value),
      conditions.Not(conditions.Compare(kConditionEqual, u"NOM", value, true)));
  EXPECT_EQ(range->kind, static_cast<uint32_t>(kConditionAnd));
  EXPECT_EQ(range->right->kind, static_cast<uint32_t>(kConditionNot));
  EXPECT_EQ(range->right->left->generic, 1u);
  EXPECT_EQ(std::u16string(range->left->item_name), u"NOM");
  EXPECT_EQ(conditions.Constant(kConditionFalse)->kind, 10u);
}

}  // namespace
}  // namespace qx::host
