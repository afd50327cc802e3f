// Key expressions on a data file's record (see record_source.h).
#include "engine/expr/record_source.h"

#include <algorithm>
#include <cstring>

#include "engine/core/coding.h"
#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/fileio/memory.h"

namespace qx::engine {
namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

uint16_t TaskDateFormat() { return CurrentTask()->date_format; }

// The deletion flag byte of a record marked deleted.
constexpr uint8_t kDeletedFlag = '*';

}  // namespace

ExprRules RulesOfDialect(int16_t dialect) {
  return dialect == kKbdClipper || dialect == kKbdClipper5 ? ExprRules::kClipper
                                                           : ExprRules::kDbase;
}

int16_t DbfFieldSource::Open(int16_t dbf_handle) {
  uint8_t* record = nullptr;
  uint16_t record_size = 0;
  int16_t field_count = 0;
  int16_t status = kbddrecinfo(dbf_handle, &record, &record_size, &field_count);
  if (status < 0) return status;
  KbdDbfInfo info{};
  status = kbddinfo(dbf_handle, &info);
  if (status < 0) return status;
  fields_.assign(static_cast<size_t>(std::max<int16_t>(field_count, 0)),
                 KbdFieldDef{});
  if (!fields_.empty()) {
    uint16_t largest_length = 0;
    status = kbddfields(dbf_handle, &largest_length, fields_.data());
    if (status < 0) return status;
  }
  handle_ = dbf_handle;
  record_ = record;
  dialect_rules_ = RulesOfDialect(info.dialect);
  return kKbdOk;
}

bool DbfFieldSource::FindField(std::string_view name, FieldInfo* field) {
  for (size_t i = 0; i < fields_.size(); ++i) {
    const KbdFieldDef& def = fields_[i];
    std::string_view def_name(def.name,
                              BoundedLength(def.name, sizeof(def.name)));
    if (EqualIgnoringCase(def_name, name)) {
      field->number = static_cast<int16_t>(i);
      field->type = static_cast<char>(def.type);
      if (field->type >= 'a' && field->type <= 'z')
        field->type = static_cast<char>(field->type - 'a' + 'A');
      field->length = def.length;
      field->decimals = def.decimals;
      return true;
    }
  }
  return false;
}

int16_t DbfFieldSource::GetValue(const FieldInfo& field, ExprValue* value) {
  *value = ExprValue();
  int16_t status = kKbdOk;
  switch (field.type) {
    case 'C':
    case 'V':
    case 'D': {
      // A date comes in the task's format, which may be longer than the
      // eight stored digits.
      size_t size = std::max<size_t>(field.length + 1u, kDateTextSize);
      std::string buffer(size, '\0');
      status = kbddget(handle_, field.number, buffer.data());
      if (status < 0) return status;
      if (field.type == 'C') {
        value->text.assign(buffer.data(), field.length);
      } else {
        value->text.assign(buffer.data(), BoundedLength(buffer.data(), size));
        // A varchar holds its own length; keys need the field's width.
        if (field.type == 'V' && value->text.size() < field.length)
          value->text.resize(field.length, ' ');
      }
      value->type = field.type == 'D' ? 'D' : 'C';
      return kKbdOk;
    }
    case 'N':
    case 'F':
    case 'B':
    case 'Y':
      status = kbddget(handle_, field.number, &value->number);
      if (status < 0) return status;
      value->type = field.type == 'F' ? 'F' : 'N';
      return kKbdOk;
    case 'I': {
      int32_t integer = 0;
      status = kbddget(handle_, field.number, &integer);
      if (status < 0) return status;
      value->type = 'N';
      value->number = integer;
      return kKbdOk;
    }
    case 'L': {
      char logical = 0;
      status = kbddget(handle_, field.number, &logical);
      if (status < 0) return status;
      value->type = 'L';
      value->logical = static_cast<uint8_t>(logical);
      return kKbdOk;
    }
    case 'M':
    case 'P':
      status = kbddget(handle_, field.number, &value->block);
      if (status < 0) return status;
      value->type = 'M';
      return kKbdOk;
    default:
      return Fail(kKbdErrKeyExpression);
  }
}

int16_t DbfFieldSource::GetDeleted(bool* deleted) {
  *deleted = record_ != nullptr && record_[0] == kDeletedFlag;
  return kKbdOk;
}

int16_t DbfFieldSource::GetRecno(uint32_t* recno) {
  return kbddrecno(handle_, recno);
}

int16_t EvaluateKey(FieldSource* source, std::string_view expression,
                    NumericKeyRule rule, KeyValue* key, ExprRules rules) {
  const uint16_t date_format = TaskDateFormat();
  ExprValue value;
  int16_t status =
      EvaluateExpression(source, expression, -1, date_format, &value, rules);
  if (status < 0) return status;
  KeyValue result;
  switch (value.type) {
    case 'C':
      result.type = 'C';
      result.text = std::move(value.text);
      break;
    case 'F':
      if (rule != NumericKeyRule::kNumericOrFloat)
        return Fail(kKbdErrKeyExpression);
      [[fallthrough]];
    case 'N':
      result.type = 'N';
      result.number = value.number;
      break;
    case 'D': {
      result.type = 'D';
      int16_t date_status =
          DateTextToKeyDay(&result.number, value.text, date_format);
      if (date_status < 0) return Fail(date_status);
      break;
    }
    default:
      return Fail(kKbdErrKeyExpression);
  }
  *key = std::move(result);
  return status;
}

int16_t EvaluateKey(int16_t dbf_handle, std::string_view expression,
                    NumericKeyRule rule, KeyValue* key, ExprRules rules) {
  DbfFieldSource source;
  int16_t status = source.Open(dbf_handle);
  if (status < 0) return status;
  return EvaluateKey(&source, expression, rule, key, rules);
}

int16_t EvaluateCondition(FieldSource* source, std::string_view condition,
                          ExprRules rules, bool* accepted) {
  *accepted = false;
  if (condition.find_first_not_of(' ') == std::string_view::npos) {
    *accepted = true;
    return kKbdOk;
  }
  ExprValue value;
  int16_t status = EvaluateExpression(source, condition, -1, TaskDateFormat(),
                                      &value, rules);
  if (status < 0) return status;
  if (value.type != 'L') return Fail(kKbdErrKeyExpression);
  *accepted = value.logical == 1;
  return status;
}

int16_t EvaluateCondition(int16_t dbf_handle, std::string_view condition,
                          ExprRules rules, bool* accepted) {
  *accepted = false;
  DbfFieldSource source;
  int16_t status = source.Open(dbf_handle);
  if (status < 0) return status;
  return EvaluateCondition(&source, condition, rules, accepted);
}

}  // namespace qx::engine

using namespace qx::engine;

namespace {

// Opens the source over the data file and gives the rules a C caller
// names (kKbdExprRulesOfTable: the data file's dialect's). The source's
// status, or -12 for a code outside the three.
int16_t OpenWithRules(int16_t dbf_handle, int16_t code, DbfFieldSource* source,
                      ExprRules* rules) {
  int16_t status = source->Open(dbf_handle);
  if (status < 0) return status;
  switch (code) {
    case kKbdExprRulesOfTable:
      *rules = source->dialect_rules();
      return kKbdOk;
    case kKbdExprRulesDbase:
      *rules = ExprRules::kDbase;
      return kKbdOk;
    case kKbdExprRulesClipper:
      *rules = ExprRules::kClipper;
      return kKbdOk;
    default:
      return Fail(kKbdErrCommand);
  }
}

}  // namespace

extern "C" int16_t kbddevalx(int16_t dbf_handle, const char* expr,
                             int16_t term_limit, int16_t rules, void** value,
                             char* type, uint16_t* length) {
  // Out values are cleared first, so that every failure, the sticky one
  // included, leaves them null.
  if (value != nullptr) *value = nullptr;
  if (type != nullptr) *type = ' ';
  if (length != nullptr) *length = 0;
  return RunOperation([&]() -> int16_t {
    if (expr == nullptr || value == nullptr || type == nullptr ||
        length == nullptr) {
      return Fail(kKbdErrNullPointer);
    }
    DbfFieldSource source;
    ExprRules chosen = ExprRules::kDbase;
    int16_t status = OpenWithRules(dbf_handle, rules, &source, &chosen);
    if (status < 0) return status;
    ExprValue result;
    status = EvaluateExpression(&source, expr, term_limit, TaskDateFormat(),
                                &result, chosen);
    if (status < 0) return status;
    if (int16_t sticky = StickyError(); sticky < 0) return sticky;
    // Texts get their NUL; the other values are handed out bare.
    size_t size = result.Size();
    bool is_text = result.type == 'C' || result.type == 'D';
    void* block = nullptr;
    if (EngineAllocate(size + (is_text ? 1 : 0), &block) < 0)
      return LastError();
    std::memcpy(block, result.Data(), size + (is_text ? 1 : 0));
    *value = block;
    *type = result.type;
    *length = static_cast<uint16_t>(size);
    return status;
  });
}

extern "C" int16_t kbddeval(int16_t dbf_handle, const char* expr,
                            int16_t term_limit, void** value, char* type,
                            uint16_t* length) {
  return kbddevalx(dbf_handle, expr, term_limit, kKbdExprRulesOfTable, value,
                   type, length);
}

extern "C" int16_t kbddcond(int16_t dbf_handle, const char* condition,
                            int16_t rules, int16_t* accepted) {
  if (accepted != nullptr) *accepted = 0;
  return RunOperation([&]() -> int16_t {
    if (condition == nullptr || accepted == nullptr)
      return Fail(kKbdErrNullPointer);
    DbfFieldSource source;
    ExprRules chosen = ExprRules::kDbase;
    int16_t status = OpenWithRules(dbf_handle, rules, &source, &chosen);
    if (status < 0) return status;
    bool holds = false;
    status = EvaluateCondition(&source, condition, chosen, &holds);
    if (status < 0) return status;
    *accepted = holds ? 1 : 0;
    return status;
  });
}
