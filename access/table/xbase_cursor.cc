// The xBase cursor.
#include "access/table/xbase_cursor.h"

#include "access/connection/driver_options.h"
#include "access/errors/error_context.h"
#include "access/table/record_transfer.h"
#include "access/table/xbase_table.h"
#include "access/table/xbase_table_handle.h"
#include "framework/framework_state.h"
#include "framework/guard.h"
#include "framework/names.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorNotReadable = 1014;
// The task text inserted into error 1014.
constexpr uint32_t kTaskReadRecord = 2658;
// Count option: the table's record count rather than a count by reading.
constexpr uint32_t kCountFromTable = 16;

constexpr uint32_t kUnitCursor = 107;
constexpr uint32_t kSiteTable = 1;

}  // namespace

CXBaseCursor::CXBaseCursor(const Query* query, CXBaseTableHandle* handle,
                           IErrorContext* errors)
    : handle_(handle), errors_(AsErrorContext(errors)) {
  if (query != nullptr) {
    table_name_ = framework::HostText(query->table_name);
    item_name_ = framework::HostText(query->item_name);
    record_ = query->record;
    query_ = query;
  }
  if (handle_ != nullptr) handle_->AddRef();
  if (errors_ != nullptr) errors_->AddRef();
}

void CXBaseCursor::Destroy() {
  if (table_ != nullptr) table_->Release();
  if (handle_ != nullptr) handle_->Release();
  if (errors_ != nullptr) errors_->Release();
  delete this;
}

template <typename Fn>
int32_t CXBaseCursor::Run(const char16_t* operation, Fn&& fn) {
  platform::CriticalSection* lock = framework::RegistryLock();
  if (lock == nullptr) return 0;
  platform::CriticalSectionLock hold(*lock);
  return framework::Guarded(
      0,
      [&]() -> int32_t {
        if (errors_ != nullptr) errors_->Reset(operation);
        return fn();
      },
      [&](bool out_of_memory) {
        if (out_of_memory && errors_ != nullptr) errors_->MarkOutOfMemory();
      });
}

CXBaseTable* CXBaseCursor::Table() {
  // The table object found last serves while its files stay open; once
  // they are closed, the handle may hold a new object of the name.
  if (table_ != nullptr && table_->IsOpen() != 0) return table_;
  CXBaseTable* table =
      handle_ == nullptr ? nullptr : handle_->Find(table_name_);
  if (table != nullptr) {
    table->AddRef();
    if (table_ != nullptr) table_->Release();
    table_ = table;
    return table;
  }
  std::u16string task;
  LoadDriverResource(kTaskReadRecord, &task);
  ErrorReport report;
  report.id = kErrorNotReadable;
  report.args = {platform::MessageArg::Text(task),
                 platform::MessageArg::Text(table_name_)};
  report.table = table_name_;
  report.unit = kUnitCursor;
  report.site = kSiteTable;
  ReportError(errors_, report);
  return nullptr;
}

int32_t CXBaseCursor::SetName(const char16_t* name) {
  name_ = framework::HostText(name);
  return 1;
}

int32_t CXBaseCursor::Close() {
  out_of_file_ = true;
  in_file_ = false;
  recno_ = 0;
  visits_ = -1;
  started_ = false;
  beyond_ = 0;
  return 1;
}

int32_t CXBaseCursor::ReadRecord(uint32_t recno, int32_t fetch_fields,
                                 uint32_t lock_options, int32_t* deleted) {
  return Run(u"ReadRecord", [&]() -> int32_t {
    if (deleted != nullptr) *deleted = 0;
    CXBaseTable* table = Table();
    if (table == nullptr) return 0;
    uint32_t previous = 0;
    if (table->LockRecord(record_, lock_options, recno, &previous) != 1)
      return 0;
    int32_t is_deleted = 0;
    int32_t out = 0;
    const int32_t result =
        table->ReadRecord(record_, recno, fetch_fields, &is_deleted, &out);
    if (result != 1) {
      out_of_file_ = true;
      in_file_ = false;
      return 0;
    }
    if (deleted != nullptr) *deleted = is_deleted;
    out_of_file_ = out != 0;
    in_file_ = out == 0;
    if (out == 0) {
      recno_ = recno;
      beyond_ = 0;
    }
    return 1;
  });
}

int32_t CXBaseCursor::Count(uint32_t* count, uint32_t options) {
  return Run(u"Count", [&]() -> int32_t {
    CXBaseTable* table = Table();
    if (table == nullptr || count == nullptr) return 0;
    if ((options & kCountFromTable) != 0) return table->RecordCount(count);
    // Record by record from 1 until the file ends or a read fails; the
    // records marked deleted count too.
    uint32_t n = 0;
    for (uint32_t recno = 1;; ++recno) {
      int32_t deleted = 0;
      int32_t out = 0;
      if (table->ReadRecord(nullptr, recno, 0, &deleted, &out) != 1 || out != 0)
        break;
      ++n;
    }
    *count = n;
    return 1;
  });
}

int32_t CXBaseCursor::ReadMemoItem(uint32_t item, uint32_t /*options*/) {
  return Run(u"ReadMemoItem", [&]() -> int32_t {
    CXBaseTable* table = Table();
    if (table == nullptr) return 0;
    return table->ReadMemoItem(record_, item);
  });
}

int32_t CXBaseCursor::Position(int32_t direction, int32_t fetch_fields,
                               uint32_t lock_options, int32_t* deleted) {
  if (deleted != nullptr) *deleted = 0;
  return Run(u"Position", [&] {
    return DoPosition(direction, fetch_fields, lock_options, deleted);
  });
}

int32_t CXBaseCursor::Seek(const HostValue* value, int32_t exact,
                           int32_t* found, int32_t* out_of_file,
                           uint32_t* recno, uint8_t* key_image,
                           int32_t* past_end, uint16_t search_mode) {
  return Run(u"Seek", [&] {
    return DoSeek(value, exact, found, out_of_file, recno, key_image, past_end,
                  search_mode);
  });
}

int32_t CXBaseCursor::Refind(uint32_t recno) {
  return Run(u"Refind", [&] { return DoRefind(recno); });
}

int32_t CXBaseCursor::SavePosition(PositionRecord* position) {
  return Run(u"SavePosition", [&] { return DoSavePosition(position); });
}

int32_t CXBaseCursor::RestorePosition(const PositionRecord* position) {
  return Run(u"RestorePosition", [&] { return DoRestorePosition(position); });
}

// After a write the record written is the current one, whatever a browse
// was on (in a rewrite even when the write failed: the record is there);
// after a delete, the deleted record.
int32_t CXBaseCursor::Write(uint32_t* recno, uint32_t options, uint16_t mode) {
  return Run(u"Write", [&]() -> int32_t {
    CXBaseTable* table = Table();
    if (table == nullptr || recno == nullptr) return 0;
    const int32_t result = table->WriteRecord(record_, recno, options, mode);
    if (result == 1 || mode == kWriteModeRewrite) {
      recno_ = *recno;
      out_of_file_ = false;
      in_file_ = true;
    }
    return result;
  });
}
int32_t CXBaseCursor::Delete(uint32_t recno) {
  return Run(u"Delete", [&]() -> int32_t {
    CXBaseTable* table = Table();
    if (table == nullptr) return 0;
    const int32_t result =
        table->DeleteRecord(record_, recno, Options().delete_index);
    if (result == 1) {
      recno_ = recno;
      out_of_file_ = false;
      in_file_ = true;
    }
    return result;
  });
}
int32_t CXBaseCursor::LockRecord(uint32_t kind, uint32_t recno,
                                 uint32_t* previous_kind) {
  return Run(u"LockRecord", [&]() -> int32_t {
    if (previous_kind != nullptr) *previous_kind = 0;
    CXBaseTable* table = Table();
    if (table == nullptr) return 0;
    return table->LockRecord(record_, kind, recno, previous_kind);
  });
}

}  // namespace qx::access
