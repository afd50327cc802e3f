// Key expressions on a data file's current record: the field source over
// an open DBF handle, kbddeval, and the key and FOR condition of a record
// as the index modules need them.
//
// Field values, by the data file's type character:
//   C            'C', the field's full width (trailing blanks kept)
//   V            'C', the stored text padded with blanks to the width
//   D            'D', the date text in the task's date format
//   N, F         'N' or 'F', the number
//   B, Y, I      'N', the number
//   L            'L', one byte: 1, 0 or '?' (blank)
//   M, P         'M', the memo block number
//   T, Q, G, W   kKbdErrKeyExpression: no value of the language fits
// DELETED() reads the record buffer's deletion flag, RECNO() the data
// file's current record number. Everything goes through the data-file
// module's C interface.
#ifndef QX_ENGINE_EXPR_RECORD_SOURCE_H_
#define QX_ENGINE_EXPR_RECORD_SOURCE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/expression.h"
#include "qx/engine.h"

namespace qx::engine {

// The fields of one open data file and its record buffer.
class DbfFieldSource : public FieldSource {
 public:
  // Checks that dbf_handle is an open data file and takes its field list.
  // Returns kKbdOk or the data-file module's status (-13 for a handle that
  // is not a data file). Must succeed before the source is used.
  int16_t Open(int16_t dbf_handle);

  bool FindField(std::string_view name, FieldInfo* field) override;
  int16_t GetValue(const FieldInfo& field, ExprValue* value) override;
  int16_t GetDeleted(bool* deleted) override;
  int16_t GetRecno(uint32_t* recno) override;

  // The rules of the dialect the data file is open in (RulesOfDialect).
  ExprRules dialect_rules() const { return dialect_rules_; }
  // The data file's open handle and field descriptors, in record order.
  int16_t handle() const { return handle_; }
  const std::vector<KbdFieldDef>& fields() const { return fields_; }

 private:
  int16_t handle_ = kKbdNoHandle;
  std::vector<KbdFieldDef> fields_;
  const uint8_t* record_ = nullptr;  // the record buffer, deletion flag first
  ExprRules dialect_rules_ = ExprRules::kDbase;
};

// Clipper rules for the Clipper dialects (5 and 6), dBASE rules for every
// other: what kbddeval uses when the caller names none.
ExprRules RulesOfDialect(int16_t dialect);

// How a numeric expression result becomes a key: NDX keys take 'N' only,
// MDX keys 'N' and 'F'.
enum class NumericKeyRule { kNumericOnly, kNumericOrFloat };

// The key of a record before the index format packs it.
struct KeyValue {
  char type = ' ';      // 'C', 'N' or 'D'
  std::string text;     // 'C': the text, neither padded nor cut
  double number = 0.0;  // 'N': the number; 'D': the key day number of the
                        // date (kEmptyDateKeyDay for an empty date)
};

// Evaluates an index's expression (no term limit) under the index
// family's rules on the source's record and turns the result into a key:
// 'C' text, 'N' (and 'F' under kNumericOrFloat) number, 'D' key day number
// read in the task's date format. Any other result type is
// kKbdErrKeyExpression; an unreadable date is kKbdErrDate. REQUIRES: the
// engine is started, inside an engine operation. *key is written only on
// success.
int16_t EvaluateKey(FieldSource* source, std::string_view expression,
                    NumericKeyRule rule, KeyValue* key,
                    ExprRules rules = ExprRules::kDbase);
// The same on the current record of an open data file.
int16_t EvaluateKey(int16_t dbf_handle, std::string_view expression,
                    NumericKeyRule rule, KeyValue* key,
                    ExprRules rules = ExprRules::kDbase);

// Evaluates an index's FOR condition under the index family's rules on the
// source's record: *accepted tells whether the record belongs in the
// index. An empty condition (nothing but blanks) accepts every record; a
// condition whose value is not a logical is kKbdErrKeyExpression (a blank
// logical field counts as false). Returns kKbdOk or an extension warning,
// or a negative status with *accepted false. REQUIRES as EvaluateKey.
int16_t EvaluateCondition(FieldSource* source, std::string_view condition,
                          ExprRules rules, bool* accepted);
// The same on the current record of an open data file.
int16_t EvaluateCondition(int16_t dbf_handle, std::string_view condition,
                          ExprRules rules, bool* accepted);

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_RECORD_SOURCE_H_
