// Compound keys of a table: formulas over its fields.
//
// Two sources of fields for the formula parser (formula/): the items of a
// description filled from the data file (DescriptionFields), and the
// host's own description (HostFileFields of formula/). A key item made
// from an index expression is analysed against the first; the compound
// key items the host declares are prepared against the second when the
// host first obtains its table handle: the driver writes back the key's
// length and each component's length (a character component without its
// terminating zero).
#ifndef QX_ACCESS_TABLE_COMPOUND_KEYS_H_
#define QX_ACCESS_TABLE_COMPOUND_KEYS_H_

#include <string_view>

#include "access/formula/table_key_formula_parser.h"
#include "qx/host_types.h"

namespace qx::access {

class CXBaseDescription;

// The fields of a description: its field items, typed as the host is told
// of them (text items of size - 1 characters, numbers by their digits). A
// name ALIAS->FIELD is the field FIELD, as index expressions of other
// programs write it.
class DescriptionFields final : public KeyFieldSource {
 public:
  // description must outlive this object.
  explicit DescriptionFields(CXBaseDescription* description)
      : description_(description) {}
  bool FindField(std::u16string_view name, KeyField* field) const override;

 private:
  CXBaseDescription* description_;
};

// The dialect a compound key's formula is read in: the family of the
// host's file type, and Visual FoxPro for a CDX key of a FoxBASE file.
int32_t CompoundKeyDialect(uint32_t file_type, std::u16string_view index_file);

// Prepares every compound key item of the host's description (flag
// kItemFlagCompound): its formula is parsed against the description's
// other items; when it parses, the item's key_length and its
// component_lengths (when the host gave the array) are written.
// index_file, when not empty, stands for the items' own index files.
void PrepareCompoundKeys(const FileDesc* file,
                         std::u16string_view index_file = u"");

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_COMPOUND_KEYS_H_
