// Key values of data-file records for the index builds (see
// record_keys.h).
#include "engine/index/record_keys.h"

#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/dbf/dbf_block_reader.h"
#include "engine/dbf/dbf_format.h"
#include "engine/dbf/dbf_internal.h"

namespace qx::engine::index {

int16_t LockedRecords::Begin(int16_t dbf_handle) {
  End();
  dbf_handle_ = dbf_handle;
  dbf_ = CheckDbf(dbf_handle);
  if (dbf_ == nullptr) return kKbdErrHandle;
  if (int16_t e = LockDbfFile(dbf_, kBuildLockMode)) return e;
  locked_ = true;
  if (int16_t e = PrepareBlockReader(dbf_handle)) return e;
  reading_ = true;
  return kKbdOk;
}

uint32_t LockedRecords::record_count() const {
  return dbf_->header.record_count;
}

void LockedRecords::End() {
  if (reading_) {
    RunDespiteError([&] {
      ReleaseBlockReader(dbf_handle_);
      return int16_t{kKbdOk};
    });
    reading_ = false;
  }
  if (locked_) {
    RunDespiteError([&] { return UnlockDbfFile(dbf_, kBuildLockMode); });
    locked_ = false;
  }
}

int16_t RecordKeyReader::Prepare(int16_t dbf_handle,
                                 std::string_view expression,
                                 std::string_view direct_types,
                                 NumericKeyRule rule,
                                 std::string_view for_condition,
                                 ExprRules rules) {
  dbf_handle_ = dbf_handle;
  expression_.assign(expression);
  rule_ = rule;
  rules_ = rules;
  field_ = nullptr;
  condition_.clear();
  if (for_condition.find_first_not_of(' ') != std::string_view::npos)
    condition_.assign(for_condition);
  DbfFile* dbf = CheckDbf(dbf_handle);
  if (dbf == nullptr) return kKbdErrHandle;
  int16_t field = FindField(*dbf, expression_);
  if (field >= 0) {
    const DbfField& f = dbf->fields[static_cast<size_t>(field)];
    if (direct_types.find(f.type) != std::string_view::npos) field_ = &f;
  }
  // The condition is evaluated on the record buffer, as any expression.
  if (field_ != nullptr && condition_.empty()) return kKbdOk;
  return source_.Open(dbf_handle);
}

int16_t RecordKeyReader::DirectKey(const uint8_t* record,
                                   RecordKey* key) const {
  const uint8_t* bytes = record + field_->offset;
  switch (field_->type) {
    case 'C':
      key->type = 'C';
      key->text = std::string_view(reinterpret_cast<const char*>(bytes),
                                   field_->length);
      return kKbdOk;
    case 'D': {
      key->type = 'D';
      const size_t n = field_->length < kStoredDateLength ? field_->length
                                                          : kStoredDateLength;
      const std::string_view text(reinterpret_cast<const char*>(bytes), n);
      key->stored_date = {};
      int year = 0, month = 0, day = 0;
      if (ReadStoredDate(text, &year, &month, &day)) {
        key->number = DateToKeyDay(year, month, day);
        if (year >= 1) key->stored_date = text;
        return kKbdOk;
      }
      int16_t read = DateTextToKeyDay(&key->number, text, kDateFormatYmd);
      return read < 0 ? Fail(read) : int16_t{kKbdOk};
    }
    default:  // 'N', 'F'
      key->type = 'N';
      key->number = DecodeNumber(bytes, field_->length);
      return kKbdOk;
  }
}

int16_t RecordKeyReader::Read(uint32_t recno, RecordKey* key) {
  key->included = true;
  if (field_ != nullptr && condition_.empty()) {
    const uint8_t* record = nullptr;
    int16_t status = PeekRecordThroughBlock(dbf_handle_, recno, &record);
    if (status < 0) return status;
    return DirectKey(record, key);
  }
  int16_t status = ReadRecordThroughBlock(dbf_handle_, recno);
  if (status < 0) return status;
  if (!condition_.empty()) {
    bool accepted = false;
    status = EvaluateCondition(&source_, condition_, rules_, &accepted);
    if (status < 0) return status;
    if (!accepted) {
      key->included = false;
      return kKbdOk;
    }
    if (field_ != nullptr) {
      // The block still holds the record: its bytes, without a copy.
      const uint8_t* record = nullptr;
      status = PeekRecordThroughBlock(dbf_handle_, recno, &record);
      if (status < 0) return status;
      return DirectKey(record, key);
    }
  }
  status = EvaluateKey(&source_, expression_, rule_, &value_, rules_);
  if (status < 0) return status;
  key->type = value_.type;
  key->text = value_.text;
  key->number = value_.number;
  return kKbdOk;
}

}  // namespace qx::engine::index
