// A record held in memory for the key-expression tests: named fields with
// ready values, so that the grammar can be tested without a data file.
#ifndef QX_TESTS_ENGINE_EXPR_FAKE_FIELD_SOURCE_H_
#define QX_TESTS_ENGINE_EXPR_FAKE_FIELD_SOURCE_H_

#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "engine/core/last_error.h"
#include "engine/expr/expression.h"
#include "qx/engine.h"

namespace qx::engine {

class FakeFieldSource : public FieldSource {
 public:
  void AddText(const std::string& name, std::string text) {
    ExprValue v;
    v.type = 'C';
    v.text = std::move(text);
    fields_[name] = v;
  }
  // length, decimals: the field's, which give the number's STR shape
  // under Clipper rules.
  void AddNumber(const std::string& name, char type, double number,
                 uint16_t length = 10, uint16_t decimals = 0) {
    ExprValue v;
    v.type = type;
    v.number = number;
    fields_[name] = v;
    shapes_[name] = {length, decimals};
  }
  // text: the date as the data file gives it, in the task's format.
  void AddDate(const std::string& name, std::string text) {
    ExprValue v;
    v.type = 'D';
    v.text = std::move(text);
    fields_[name] = v;
  }
  void AddLogical(const std::string& name, uint8_t logical) {
    ExprValue v;
    v.type = 'L';
    v.logical = logical;
    fields_[name] = v;
  }
  void AddMemo(const std::string& name, uint32_t block) {
    ExprValue v;
    v.type = 'M';
    v.block = block;
    fields_[name] = v;
  }
  // A field whose read fails with status.
  void AddBroken(const std::string& name, int16_t status) {
    broken_[name] = status;
    fields_[name] = ExprValue();
  }

  // The record's deletion mark and number.
  void SetRecord(bool deleted, uint32_t recno) {
    deleted_ = deleted;
    recno_ = recno;
  }

  bool FindField(std::string_view name, FieldInfo* field) override {
    auto it = fields_.find(std::string(name));
    if (it == fields_.end()) return false;
    field->number = static_cast<int16_t>(std::distance(fields_.begin(), it));
    field->type = it->second.type;
    field->length = static_cast<uint16_t>(it->second.Size());
    field->decimals = 0;
    if (auto shape = shapes_.find(it->first); shape != shapes_.end()) {
      field->length = shape->second.first;
      field->decimals = shape->second.second;
    }
    return true;
  }

  int16_t GetValue(const FieldInfo& field, ExprValue* value) override {
    auto it = fields_.begin();
    std::advance(it, field.number);
    auto broken = broken_.find(it->first);
    if (broken != broken_.end()) return Fail(broken->second);
    *value = it->second;
    return kKbdOk;
  }

  int16_t GetDeleted(bool* deleted) override {
    *deleted = deleted_;
    return kKbdOk;
  }
  int16_t GetRecno(uint32_t* recno) override {
    *recno = recno_;
    return kKbdOk;
  }

 private:
  std::map<std::string, ExprValue> fields_;
  std::map<std::string, std::pair<uint16_t, uint16_t>> shapes_;
  std::map<std::string, int16_t> broken_;
  bool deleted_ = false;
  uint32_t recno_ = 1;
};

}  // namespace qx::engine

#endif  // QX_TESTS_ENGINE_EXPR_FAKE_FIELD_SOURCE_H_
