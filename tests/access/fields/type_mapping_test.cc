// The host item / xBase field / key type tables at their edges.
#include "access/fields/type_mapping.h"

#include <gtest/gtest.h>

#include "qx/engine.h"
#include "qx/host_types.h"

namespace qx::access {
namespace {

FieldMapping Map(uint8_t type, uint32_t text_length, int32_t digits,
                 int32_t decimals, int32_t dialect, uint32_t flags = 0) {
  FieldMapping field;
  EXPECT_TRUE(MapHostItemToField(type, text_length, digits, decimals, flags,
                                 dialect, &field));
  return field;
}

bool Same(const FieldMapping& field, char16_t type, uint32_t length,
          uint32_t decimals) {
  return field.type == type && field.length == length &&
         field.decimals == decimals;
}

TEST(TypeMappingTest, HostItemsBecomeFields) {
  EXPECT_TRUE(Same(Map(kItemCurrency, 0, 8, 2, kKbdDbase4), u'F', 11, 2));
  EXPECT_TRUE(Same(Map(kItemCurrency, 0, 8, 2, kKbdDbase3), u'N', 11, 2));
  EXPECT_TRUE(Same(Map(kItemCurrency, 0, 8, 2, kKbdVisualFoxpro), u'Y', 0, 0));
  // 18 + 4 digits and the point are past dBASE III's 19: the widest field
  // with 5 decimals; dBASE IV takes 20.
  EXPECT_TRUE(Same(Map(kItemInt64, 0, 18, 4, kKbdDbase3), u'N', 19, 5));
  EXPECT_TRUE(Same(Map(kItemInt64, 0, 15, 4, kKbdDbase4), u'N', 20, 4));
  EXPECT_TRUE(Same(Map(kItemInt32, 0, 9, 0, kKbdVisualFoxpro), u'I', 0, 0));
  EXPECT_TRUE(Same(Map(kItemInt32, 0, -1, 0, kKbdClipper), u'N', 19, 5));
  EXPECT_TRUE(Same(Map(kItemText, 30, 0, 0, kKbdDbase3), u'C', 30, 0));
  EXPECT_TRUE(Same(Map(kItemDate, 0, 0, 0, kKbdDbase3), u'D', 8, 0));
  EXPECT_TRUE(Same(Map(kItemTextMemo, 0, 0, 0, kKbdDbase3), u'M', 10, 0));
  EXPECT_TRUE(Same(Map(kItemDateTime, 0, 0, 0, kKbdDbase3), u'C', 18, 0));
  EXPECT_TRUE(Same(Map(kItemBoolean, 1, 0, 0, kKbdDbase3), u'C', 1, 0));
  EXPECT_TRUE(Same(Map(kItemBoolean, 1, 0, 0, kKbdDbase3, kMapBooleanAsLogical),
                   u'L', 1, 0));
  EXPECT_TRUE(
      Same(Map(kItemBinary, 12, 0, 0, kKbdDbase3, kMapAlternativeAsText), u'C',
           12, 0));
  FieldMapping field;
  EXPECT_FALSE(
      MapHostItemToField(kItemBinary, 12, 0, 0, 0, kKbdDbase3, &field));
  EXPECT_FALSE(
      MapHostItemToField(kItemBinaryMemo, 0, 0, 0, 0, kKbdDbase4, &field));
  EXPECT_FALSE(
      MapHostItemToField(kItemDecimal, 0, 10, 2, 0, kKbdDbase4, &field));
}

TEST(TypeMappingTest, KeyTypesAndKeyValueTypes) {
  EXPECT_EQ(KeyTypeOfField(u'v', kKbdDbase3), 'C');
  EXPECT_EQ(KeyTypeOfField(u'B', kKbdVisualFoxpro), 'N');
  EXPECT_EQ(KeyTypeOfField(u'l', kKbdFoxbase), 'L');
  EXPECT_EQ(KeyTypeOfField(u'L', kKbdFoxpro2), 'C');
  EXPECT_EQ(KeyTypeOfField(u'T', kKbdVisualFoxpro), kKeyTypeDateTime);
  EXPECT_EQ(KeyTypeOfField(u'M', kKbdDbase3), kKeyTypeInvalid);

  EXPECT_EQ(KeyValueType(kKbdDbase3, 'N'), kValueDouble);  // NDX
  EXPECT_EQ(KeyValueType(kKbdClipper5, 'N'), kValueText);  // NTX
  EXPECT_EQ(KeyValueType(kKbdDialectOther, 'D'), kValueText);
  EXPECT_EQ(KeyValueType(0, 'D'), kValueText);
  EXPECT_EQ(KeyValueType(kKbdClipper, kKeyTypeCurrency), kValueDouble);
  EXPECT_EQ(KeyValueType(kKbdVisualFoxpro, kKeyTypeInteger), kValueInt32);
  EXPECT_EQ(KeyValueType(kKbdFoxbase, 'L'), kValueChar);
  EXPECT_EQ(KeyValueType(kKbdVisualFoxpro, 'C'), kValueText);
}

}  // namespace
}  // namespace qx::access

namespace qx::access {
namespace {

bool Host(char16_t type, uint32_t length, uint32_t decimals, uint8_t item,
          uint32_t size, int32_t dialect = kKbdDbase3) {
  const HostItemMapping m = MapFieldToHostItem(type, length, decimals, dialect);
  return m.item_type == item && m.size == size;
}

TEST(TypeMappingTest, FieldsBecomeHostItems) {
  // N and F by their integer digits, in the order the classes are tried.
  EXPECT_TRUE(Host(u'N', 5, 2, kItemCurrency, 10));  // 2 digits, 2 decimals
  EXPECT_TRUE(Host(u'N', 10, 0, kItemInt64, 8));
  EXPECT_TRUE(Host(u'N', 9, 0, kItemInt32, 4));
  EXPECT_TRUE(Host(u'N', 4, 0, kItemInt16, 2));
  EXPECT_TRUE(Host(u'N', 2, 0, kItemInt8, 1));
  EXPECT_TRUE(Host(u'n', 2, 0, kItemInt8, 1));  // either case
  EXPECT_TRUE(Host(u'N', 20, 0, kItemDecimal, 9, kKbdDbase4));
  EXPECT_TRUE(Host(u'F', 20, 8, kItemDecimal, 9, kKbdDbase4));  // p = 19
  EXPECT_TRUE(Host(u'N', 12, 7, kItemDecimal, 5));  // 7 decimals: no currency
  EXPECT_TRUE(Host(u'N', 1, 0, kItemInt8, 1));
  EXPECT_EQ(MapFieldToHostItem(u'N', 20, 8, kKbdDbase4).digits, 11u);
  EXPECT_EQ(DecimalByteSize(1), 1u);
  EXPECT_EQ(DecimalByteSize(2), 1u);
  EXPECT_EQ(DecimalByteSize(3), 2u);
  EXPECT_EQ(DecimalByteSize(9), 4u);
  EXPECT_EQ(DecimalByteSize(35), 15u);
  EXPECT_EQ(DecimalByteSize(36), 16u);
  EXPECT_EQ(DecimalByteSize(38), 16u);
  // The other letters.
  EXPECT_TRUE(Host(u'C', 254, 0, kItemText, 255));
  EXPECT_TRUE(Host(u'V', 10, 0, kItemText, 11, kKbdVisualFoxpro));
  EXPECT_TRUE(Host(u'D', 8, 0, kItemDate, 9));
  EXPECT_TRUE(Host(u'L', 1, 0, kItemBoolean, 1));
  EXPECT_TRUE(Host(u'M', 10, 0, kItemTextMemo, 8));
  EXPECT_TRUE(Host(u'G', 4, 0, kItemBinaryMemo, 8, kKbdVisualFoxpro));
  EXPECT_TRUE(Host(u'B', 8, 0, kItemReal8, 8, kKbdVisualFoxpro));
  EXPECT_TRUE(Host(u'B', 10, 0, kItemBinaryMemo, 8, kKbdDbase4));
  EXPECT_TRUE(Host(u'I', 4, 0, kItemInt32, 4, kKbdVisualFoxpro));
  EXPECT_TRUE(Host(u'Y', 8, 0, kItemCurrency, 10, kKbdVisualFoxpro));
  EXPECT_TRUE(Host(u'T', 8, 0, kItemDateTime, 8, kKbdVisualFoxpro));
  EXPECT_TRUE(Host(u'Q', 10, 0, kItemBinary, 12, kKbdVisualFoxpro));
  EXPECT_TRUE(Host(u'0', 1, 0, kItemNone, 0, kKbdVisualFoxpro));
}

TEST(TypeMappingTest, FileTypesOfTheFamilies) {
  const uint32_t types[] = {0, 2, 3, 4, 4, 6, 5, 1, 4, 1, 4, 1};
  for (int32_t dialect = 1; dialect <= 11; ++dialect) {
    EXPECT_EQ(FileTypeOfDialect(dialect), types[dialect]) << dialect;
  }
  EXPECT_EQ(DialectOfFileType(3), kKbdDbase4);
  EXPECT_EQ(DialectOfFileType(4), kKbdFoxbase);
  EXPECT_EQ(DialectOfFileType(5), kKbdClipper5);
  EXPECT_EQ(DialectOfFileType(6), kKbdClipper);
  EXPECT_EQ(DialectOfFileType(2), kKbdDbase3);
  EXPECT_EQ(DialectOfFileType(9), kKbdDbase3);
}

}  // namespace
}  // namespace qx::access
