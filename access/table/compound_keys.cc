// Compound keys of a table (see compound_keys.h).
#include "access/table/compound_keys.h"

#include "access/adapter/dialects.h"
#include "access/fields/type_mapping.h"
#include "access/table/xbase_description.h"
#include "framework/names.h"
#include "qx/engine.h"

namespace qx::access {

bool DescriptionFields::FindField(std::u16string_view name,
                                  KeyField* field) const {
  // Index expressions of other programs name fields as ALIAS->FIELD.
  if (const size_t arrow = name.find(u"->"); arrow != name.npos)
    name.remove_prefix(arrow + 2);
  CXBaseItem* item = description_->FindXItem(name);
  if (item == nullptr || !item->is_field()) return false;
  field->name = item->GetName();
  field->item_type = item->GetItemType();
  field->text_length = item->GetSize() > 0 ? item->GetSize() - 1 : 0;
  field->digits = static_cast<int32_t>(item->GetDigits());
  field->decimals = static_cast<int32_t>(item->GetDecimals());
  field->mapping_flags = 0;
  return true;
}

int32_t CompoundKeyDialect(uint32_t file_type, std::u16string_view index_file) {
  const int32_t dialect = DialectOfFileType(file_type);
  if (DialectOfIndexPath(index_file) == kKbdVisualFoxpro &&
      dialect == kKbdFoxbase)
    return kKbdVisualFoxpro;
  return dialect;
}

void PrepareCompoundKeys(const FileDesc* file, std::u16string_view index_file) {
  if (file == nullptr || file->items == nullptr) return;
  const HostFileFields fields(file);
  for (uint32_t i = 0; i < file->item_count; ++i) {
    FileItem& item = file->items[i];
    if ((item.flags & kItemFlagCompound) == 0) continue;
    const std::u16string_view own = framework::HostText(item.index_file);
    const int32_t dialect = CompoundKeyDialect(
        file->file_format, index_file.empty() ? own : index_file);
    TableKeyFormulaParser parser;
    if (parser.Parse(0, dialect, &fields, framework::HostText(item.formula)) !=
        1)
      continue;
    item.key_length = parser.root()->length;
    if (item.component_lengths == nullptr) continue;
    const std::vector<const KeyFormulaNode*> operands = parser.Operands();
    for (uint32_t c = 1; c <= item.component_count; ++c) {
      if (c > operands.size()) break;
      const KeyFormulaNode* operand = operands[c - 1];
      uint32_t length = operand->length;
      if (operand->type == u'C' && length > 0) --length;
      item.component_lengths[c - 1] = length;
    }
  }
}

}  // namespace qx::access
