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
