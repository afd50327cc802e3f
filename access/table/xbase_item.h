// CXBaseItem: one item of an xBase table description.
//
// A field of the data file (field number, type letter, integer digits and
// decimals of numbers, the memo file of a memo field when that file
// exists), or a key one of the table's index files provides (key number,
// key flags, key length, the index file as stored and the key's
// expression), or both: a key on a plain field is the field's own item.
// Beyond the framework's item it knows whether it is a compound key (a
// key whose value is a formula over fields, made from an index
// expression or declared by the host) and the fields that formula reads.
#ifndef QX_ACCESS_TABLE_XBASE_ITEM_H_
#define QX_ACCESS_TABLE_XBASE_ITEM_H_

#include <string>
#include <vector>

#include "framework/native_objects.h"

namespace qx::access {

class CXBaseItem final : public framework::CNativeItem {
 public:
  CXBaseItem() = default;

  void Destroy() override { delete this; }

  // A new item with this one's contents (count 0).
  CXBaseItem* Clone();

  bool compound() const { return compound_; }
  void set_compound(bool compound) { compound_ = compound; }
  // The fields a compound key reads, in the order its formula names them.
  const std::vector<std::u16string>& key_fields() const { return key_fields_; }
  void set_key_fields(std::vector<std::u16string> fields) {
    key_fields_ = std::move(fields);
  }
  bool is_field() { return GetFieldNumber() >= 0; }
  bool is_key() { return GetKeyNumber() >= 0; }

 private:
  ~CXBaseItem() override = default;

  bool compound_ = false;
  std::vector<std::u16string> key_fields_;
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_XBASE_ITEM_H_
