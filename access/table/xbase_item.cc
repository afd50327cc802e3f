// The xBase description item.
#include "access/table/xbase_item.h"

namespace qx::access {

CXBaseItem* CXBaseItem::Clone() {
  auto* copy = new CXBaseItem();
  copy->set_name(GetName());
  copy->set_item_type(GetItemType());
  copy->set_size(GetSize());
  copy->set_field_number(GetFieldNumber());
  copy->set_key_number(GetKeyNumber());
  copy->set_key_flags(GetKeyFlags());
  copy->set_key_length(GetKeyLength());
  copy->set_index_path(GetIndexPath());
  copy->set_expression(GetExpression());
  copy->set_xbase_type(GetXBaseType());
  copy->set_digits(GetDigits());
  copy->set_decimals(GetDecimals());
  copy->set_memo_path(GetMemoPath());
  copy->compound_ = compound_;
  copy->key_fields_ = key_fields_;
  return copy;
}

}  // namespace qx::access
