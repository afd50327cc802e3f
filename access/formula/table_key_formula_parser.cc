// The table-bound formula parser and its error report.
#include "access/formula/table_key_formula_parser.h"

#include "access/errors/error_context.h"
#include "access/fields/type_mapping.h"
#include "framework/names.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorBadFormula = 1069;

// Stored widths of the binary fields whose created length the engine
// sets (the creation mapping gives 0): 4-byte integers, 8-byte currency
// and date-times.
constexpr uint32_t kIntegerFieldWidth = 4;
constexpr uint32_t kCurrencyFieldWidth = 8;

std::u16string_view Text(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text);
}

}  // namespace

bool HostFileFields::FindField(std::u16string_view name,
                               KeyField* field) const {
  if (file_ == nullptr || file_->items == nullptr) return false;
  for (uint32_t i = 0; i < file_->item_count; ++i) {
    const FileItem& item = file_->items[i];
    if ((item.flags & (kItemFlagCompound | kItemFlagNotStored)) != 0) continue;
    if (!framework::SameName(Text(item.name), name)) continue;
    field->name = Text(item.name);
    field->item_type = item.item_type;
    field->text_length = item.size > 0 ? item.size - 1 : 0;
    field->digits = item.digits;
    field->decimals = item.decimals;
    field->mapping_flags = (item.flags & kItemFlagAlternative) != 0
                               ? uint32_t{kMapAlternativeAsText}
                               : 0u;
    return true;
  }
  return false;
}

bool TableKeyFormulaParser::ResolveField(KeyFormulaNode* node,
                                         std::u16string* name) {
  if (field_source() == nullptr) return false;
  KeyField field;
  if (!field_source()->FindField(node->text, &field)) return false;
  FieldMapping mapping;
  if (!MapHostItemToField(field.item_type, field.text_length, field.digits,
                          field.decimals, field.mapping_flags, dialect(),
                          &mapping) ||
      mapping.type == u'M' || mapping.type == u'W') {
    return false;
  }
  node->type = mapping.type;
  node->length = mapping.type == u'I' ? kIntegerFieldWidth
                 : mapping.type == u'Y' || mapping.type == u'T'
                     ? kCurrencyFieldWidth
                     : mapping.length;
  *name = std::move(field.name);
  return true;
}

void ReportKeyFormulaError(CErrorContext* sink, std::u16string_view formula,
                           std::u16string_view key_name,
                           const KeyFormulaParser& parser,
                           std::u16string_view table, uint32_t unit,
                           uint32_t site) {
  std::u16string_view messages = parser.messages();
  if (messages.ends_with(u"\r\n")) messages.remove_suffix(2);
  ErrorReport report;
  report.id = kErrorBadFormula;
  report.args = {platform::MessageArg::Text(formula),
                 platform::MessageArg::Text(key_name),
                 platform::MessageArg::Text(messages)};
  report.table = table;
  report.item = key_name;
  report.unit = unit;
  report.site = site;
  ReportError(sink, report);
}

}  // namespace qx::access
