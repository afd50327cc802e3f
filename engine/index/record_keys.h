// Key values of data-file records for the index builds, read in record
// order through the data file's block reader, and whether each record
// passes the index's FOR condition.
//
// When the key expression is the bare name of a field whose type the
// format reads directly, the value comes straight from the field bytes in
// the block: C the bytes (neither padded nor cut), N and F the text read
// as a number, D the key day number of the stored date (an empty date
// kEmptyDateKeyDay). Otherwise the record is copied into the record buffer
// and the expression evaluated (EvaluateKey). Both roads give the values
// the formats' record-key operations give. A FOR condition is evaluated on
// the record buffer (EvaluateCondition) before the key is read; a record
// it excludes gives no key.
//
// REQUIRES: the data file's block reader is prepared (and stays so while
// Read is used); calls run inside an engine operation.
#ifndef QX_ENGINE_INDEX_RECORD_KEYS_H_
#define QX_ENGINE_INDEX_RECORD_KEYS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/expr/record_source.h"

namespace qx::engine {
struct DbfField;
struct DbfFile;
}  // namespace qx::engine

namespace qx::engine::index {

// The data-file lock a build holds while it reads the records.
inline constexpr int16_t kBuildLockMode = 2;

// The data file held for a build: locked with kBuildLockMode (which reads
// the record count again) and read through its block reader. End (or the
// destructor) releases both, also while an error is pending, without
// replacing it.
class LockedRecords {
 public:
  LockedRecords() = default;
  ~LockedRecords() { End(); }
  LockedRecords(const LockedRecords&) = delete;
  LockedRecords& operator=(const LockedRecords&) = delete;

  // -13 when dbf_handle is not a data file; lock and reader errors.
  int16_t Begin(int16_t dbf_handle);
  // The record count read by the lock. REQUIRES Begin succeeded.
  uint32_t record_count() const;
  void End();

 private:
  int16_t dbf_handle_ = -1;
  DbfFile* dbf_ = nullptr;
  bool locked_ = false;
  bool reading_ = false;
};

// One record's key value.
struct RecordKey {
  // False when the record fails the FOR condition: it has no entry, and
  // the fields below are not set.
  bool included = true;
  char type = ' ';        // 'C', 'N' (numbers of any field type) or 'D'
  std::string_view text;  // 'C': valid until the next Read
  double number = 0.0;    // 'N' the number, 'D' the key day number
  // 'D' read from a field: its bytes when they are the date the key day
  // number stands for, written out (eight digits of a valid date from the
  // year 1 on; the key day of 0000-12-31 is also 0001-01-01's); else
  // empty. Valid until the next Read.
  std::string_view stored_date;
};

class RecordKeyReader {
 public:
  // direct_types: the field types the format reads from the bytes (a
  // subset of "CNFD"). for_condition: the index's FOR condition, empty for
  // none. rules: the index family's (NTX kClipper, the others kDbase).
  // -13 when dbf_handle is not a data file.
  int16_t Prepare(int16_t dbf_handle, std::string_view expression,
                  std::string_view direct_types, NumericKeyRule rule,
                  std::string_view for_condition = {},
                  ExprRules rules = ExprRules::kDbase);
  // The key value of record recno, or key->included false when the FOR
  // condition excludes it. Evaluation errors pass through (-7 for a key
  // type no key takes or a condition that is not logical).
  int16_t Read(uint32_t recno, RecordKey* key);

 private:
  // The direct field's key from the record's bytes.
  int16_t DirectKey(const uint8_t* record, RecordKey* key) const;

  int16_t dbf_handle_ = -1;
  const DbfField* field_ = nullptr;  // the direct field, or null
  std::string expression_;
  std::string condition_;  // empty: every record is included
  NumericKeyRule rule_ = NumericKeyRule::kNumericOnly;
  ExprRules rules_ = ExprRules::kDbase;
  DbfFieldSource source_;
  KeyValue value_;  // the evaluated value (its text buffer is reused)
};

}  // namespace qx::engine::index

#endif  // QX_ENGINE_INDEX_RECORD_KEYS_H_
