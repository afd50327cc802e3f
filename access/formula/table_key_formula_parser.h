// The table-bound compound key formula parser: field names resolve to a
// table's fields, typed as the fields a table creation would make of
// them, and the report of a rejected formula (error 1069).
#ifndef QX_ACCESS_FORMULA_TABLE_KEY_FORMULA_PARSER_H_
#define QX_ACCESS_FORMULA_TABLE_KEY_FORMULA_PARSER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "access/formula/key_formula_parser.h"
#include "qx/host_types.h"

namespace qx::access {

class CErrorContext;

// One field of a table as a compound key sees it: its host item.
struct KeyField {
  std::u16string name;            // as the table names it
  uint8_t item_type = kItemNone;  // HostItemType
  uint32_t text_length = 0;       // characters of a text item
  int32_t digits = 0;             // integer digits of a number
  int32_t decimals = 0;
  uint32_t mapping_flags = 0;  // FieldMappingFlags (fields/type_mapping.h)
};

// The resolver's context: the fields of a table, by name.
class KeyFieldSource {
 public:
  virtual ~KeyFieldSource() = default;
  // The field named name, compared without regard to case; false when
  // the table has none.
  virtual bool FindField(std::u16string_view name, KeyField* field) const = 0;
};

// The fields of a host table description: its items, except compound keys
// and items the host marks as not stored. A text item's size counts its
// terminating zero, as the driver's descriptions report text items (field
// length + 1), so its characters are size - 1.
class HostFileFields final : public KeyFieldSource {
 public:
  // file may be null (no fields); it must outlive this object.
  explicit HostFileFields(const FileDesc* file) : file_(file) {}
  bool FindField(std::u16string_view name, KeyField* field) const override;

 private:
  const FileDesc* file_;
};

// Resolves a field through the KeyFieldSource given to Parse: its type
// and length are those of the field a table creation makes of the host
// item in the parser's dialect; memo and picture fields, and items
// without an xBase field, are not usable in a key.
class TableKeyFormulaParser final : public KeyFormulaParser {
 protected:
  bool ResolveField(KeyFormulaNode* node, std::u16string* name) override;
};

// Reports error 1069 ("La formule <%1> de la clé composée <%2> est
// incorrecte.\n%3") into sink with the formula, the key name and the
// parser's messages (their last CR LF left out), naming table and key as
// the error's file and item, with the debug line of (unit, site).
void ReportKeyFormulaError(CErrorContext* sink, std::u16string_view formula,
                           std::u16string_view key_name,
                           const KeyFormulaParser& parser,
                           std::u16string_view table, uint32_t unit,
                           uint32_t site);

}  // namespace qx::access

#endif  // QX_ACCESS_FORMULA_TABLE_KEY_FORMULA_PARSER_H_
