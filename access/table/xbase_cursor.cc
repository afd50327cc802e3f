// The xBase cursor.
#include "access/table/xbase_cursor.h"

#include "access/errors/error_context.h"
#include "access/table/xbase_table.h"
#include "access/table/xbase_table_handle.h"
#include "framework/framework_state.h"
#include "framework/guard.h"
#include "framework/names.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorNotReadable = 1014;
constexpr uint32_t kErrorUnavailable = 1024;
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

int32_t CXBaseCursor::Unavailable(uint32_t site) {
  return Run(u"Cursor", [&]() -> int32_t {
    ErrorReport report;
    report.id = kErrorUnavailable;
    report.table = table_name_;
    report.item = item_name_;
    report.unit = kUnitCursor;
    report.site = site;
    ReportError(errors_, report);
    return 0;
  });
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
    if (out == 0) recno_ = recno;
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
      if (table->ReadRecord(nullptr, recno, 0, &deleted, &out) != 1 ||
          out != 0)
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

// Browsing, seeking, writing and record locks are not part of this build.
int32_t CXBaseCursor::Position(int32_t, int32_t, uint32_t, int32_t* deleted) {
  if (deleted != nullptr) *deleted = 0;
  return Unavailable(10);
}
int32_t CXBaseCursor::Seek(const HostValue*, int32_t, int32_t*, int32_t*,
                           uint32_t*, uint8_t*, int32_t*, uint16_t) {
  return Unavailable(11);
}
int32_t CXBaseCursor::Refind(uint32_t) { return Unavailable(12); }
int32_t CXBaseCursor::SavePosition(PositionRecord*) { return Unavailable(13); }
int32_t CXBaseCursor::RestorePosition(const PositionRecord*) {
  return Unavailable(14);
}
int32_t CXBaseCursor::Write(uint32_t*, uint32_t, uint16_t) {
  return Unavailable(15);
}
int32_t CXBaseCursor::Delete(uint32_t) { return Unavailable(16); }
int32_t CXBaseCursor::LockRecord(uint32_t, uint32_t, uint32_t* previous_kind) {
  if (previous_kind != nullptr) *previous_kind = 0;
  return Unavailable(17);
}

}  // namespace qx::access
