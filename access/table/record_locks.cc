// Table and record locks (see record_locks.h).
#include "access/table/record_locks.h"

#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

#include "access/adapter/lock_ops.h"
#include "access/adapter/record_ops.h"
#include "access/errors/error_context.h"
#include "access/table/xbase_table.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorFileAccess = 1019;
constexpr uint32_t kErrorBadRecno = 1020;
constexpr uint32_t kErrorUnlockRecord = 1022;
constexpr uint32_t kErrorRecordLocked = 1041;
constexpr uint32_t kErrorFileLocked = 1054;

constexpr uint32_t kUnitLocks = 120;
constexpr uint32_t kSiteFile = 1;
constexpr uint32_t kSiteRecno = 2;
constexpr uint32_t kSiteOwner = 3;
constexpr uint32_t kSiteUnlock = 4;
constexpr uint32_t kSiteEngine = 5;

constexpr uint32_t kKindUnlock = 1;

constexpr uint32_t Bit(int16_t mode) { return 1u << mode; }
constexpr int16_t kFileModes[] = {kLockModeFile, kLockModeWrite,
                                  kLockModeShared};

// One record of a file's list.
struct LockEntry {
  const CXBaseTable* owner = nullptr;
  uint32_t kind = 0;
};

// The record lock lists of the process, by data file identity. Fields
// guarded by `mutex`. A file's list leaves the map when it empties, so
// the map owns memory only while records are locked.
struct LockLists {
  std::mutex mutex;
  std::map<std::string, std::unordered_map<uint32_t, LockEntry>> files;
};

// Built on first use in static storage and never destroyed, so a table
// released during static destruction still finds it.
union ListsStorage {
  ListsStorage() {}
  ~ListsStorage() {}
  LockLists lists;
};

LockLists& Lists() {
  static ListsStorage storage;
  static LockLists* lists = new (&storage.lists) LockLists();
  return *lists;
}

void Report(TableFiles* files, uint32_t id,
            std::vector<platform::MessageArg> args, uint32_t site,
            std::optional<int32_t> status = std::nullopt,
            std::optional<int32_t> category = std::nullopt) {
  ErrorReport report;
  report.id = id;
  report.args = std::move(args);
  report.table = files->table;
  report.unit = kUnitLocks;
  report.site = site;
  report.engine_status = status;
  report.category = category;
  ReportError(files->errors, report);
}

}  // namespace

const std::string& TableLocks::FileKey(const TableFiles& files) {
  if (keyed_path_ != files.path || file_key_.empty()) {
    keyed_path_ = files.path;
    file_key_.clear();
    // A file that cannot be reached (it was just opened, so hardly ever)
    // is known by its spelling.
    if (!platform::FileIdentity(platform::Utf16ToAnsi(files.path).c_str(),
                                &file_key_)) {
      file_key_ = "path:" + platform::Utf16ToUtf8(files.path);
    }
  }
  return file_key_;
}

int32_t TableLocks::LockFile(const CXBaseTable* table, TableFiles* files,
                             uint32_t kind) {
  int16_t mode = 0;
  bool satisfied = false;
  switch (kind) {
    case 2:
      mode = kLockModeWrite;
      satisfied = (held_ & (Bit(kLockModeFile) | Bit(kLockModeWrite))) != 0;
      break;
    case 3:
      mode = kLockModeFile;
      satisfied = (held_ & Bit(kLockModeFile)) != 0;
      break;
    case 4:
      mode = kLockModeShared;
      satisfied = held_ != 0;
      break;
    default:
      return 1;  // no lock asked
  }
  if (satisfied) return 1;
  UnlockFile(table, files);
  const int32_t status = LockDataFile(files->handle, mode);
  if (status >= 0) {
    held_ |= Bit(mode);
    return 1;
  }
  Report(files, kErrorFileLocked, {platform::MessageArg::Text(files->path)},
         kSiteFile, status,
         status == kKbdErrLockViolation
             ? std::optional<int32_t>(kCategoryLockConflict)
             : std::nullopt);
  return 0;
}

int32_t TableLocks::UnlockFile(const CXBaseTable* table, TableFiles* files) {
  int32_t result = 1;
  for (int16_t mode : kFileModes) {
    if ((held_ & Bit(mode)) == 0) continue;
    if (UnlockDataFile(files->handle, mode) >= 0) {
      held_ &= ~Bit(mode);
    } else {
      result = 0;
    }
  }
  if (LockDataRecord(files->handle, 0, kRecordUnlock) < 0) result = 0;
  Forget(table);
  return result;
}

uint32_t TableLocks::CurrentKind() const {
  if ((held_ & Bit(kLockModeFile)) != 0) return 3;
  if ((held_ & Bit(kLockModeWrite)) != 0) return 2;
  return 0;
}

void TableLocks::Closed(const CXBaseTable* table) {
  Forget(table);
  held_ = 0;
}

void TableLocks::Forget(const CXBaseTable* table) {
  LockLists& lists = Lists();
  std::lock_guard<std::mutex> hold(lists.mutex);
  for (auto it = lists.files.begin(); it != lists.files.end();) {
    std::erase_if(it->second, [&](const auto& entry) {
      return entry.second.owner == table;
    });
    it = it->second.empty() ? lists.files.erase(it) : std::next(it);
  }
}

bool TableLocks::IsListed(const CXBaseTable* table, uint32_t recno) {
  LockLists& lists = Lists();
  std::lock_guard<std::mutex> hold(lists.mutex);
  for (const auto& [key, records] : lists.files) {
    auto it = records.find(recno);
    if (it != records.end() && it->second.owner == table) return true;
  }
  return false;
}

int32_t TableLocks::LockRecord(CXBaseTable* table, TableFiles* files,
                               Record* record, uint32_t kind, uint32_t recno,
                               uint32_t* previous_kind) {
  if (previous_kind != nullptr) *previous_kind = 0;
  if (kind == 0) return 1;
  uint32_t count = 0;
  if (table->RecordCount(&count) != 1) return 0;
  if (recno > count) {
    // The count is the one this handle saw last; another process may have
    // appended since. Reading the record reads the count again.
    const int32_t status = ReadRecord(files->handle, recno);
    if (status == kKbdOk || status == kKbdDeletedRecord) {
      files->current_recno = recno;
      if (table->RecordCount(&count) != 1) return 0;
    }
  }
  if (recno < 1 || recno > count) {
    Report(files, kErrorBadRecno, {platform::MessageArg::Unsigned(recno)},
           kSiteRecno);
    return 0;
  }
  const std::string key = FileKey(*files);
  LockLists& lists = Lists();
  std::unique_lock<std::mutex> hold(lists.mutex);
  auto& records = lists.files[key];
  if (auto it = records.find(recno); it != records.end()) {
    if (it->second.owner != table) {
      hold.unlock();
      Report(files, kErrorRecordLocked, {platform::MessageArg::Unsigned(recno)},
             kSiteOwner);
      return 0;
    }
    if (previous_kind != nullptr) *previous_kind = it->second.kind;
    if (kind != kKindUnlock) {
      it->second.kind = kind;
      if (record != nullptr) record->lock_kind = static_cast<uint16_t>(kind);
      return 1;
    }
    const int32_t status = LockDataRecord(files->handle, recno, kRecordUnlock);
    if (status == kKbdOk || status == kKbdErrLockViolation) {
      records.erase(it);
      if (records.empty()) lists.files.erase(key);
      if (record != nullptr) record->lock_kind = 0;
      return 1;
    }
    hold.unlock();
    Report(files, kErrorUnlockRecord, {platform::MessageArg::Unsigned(recno)},
           kSiteUnlock, status);
    return 0;
  }
  int32_t status = LockDataRecord(files->handle, recno, kRecordLockTest);
  if (status == kKbdOk) {
    if (kind == kKindUnlock) {
      if (records.empty()) lists.files.erase(key);
      if (record != nullptr) record->lock_kind = 0;
      return 1;
    }
    status = LockDataRecord(files->handle, recno, kRecordLock);
    if (status == kKbdOk) {
      records[recno] = LockEntry{table, kind};
      if (record != nullptr) record->lock_kind = static_cast<uint16_t>(kind);
      return 1;
    }
  }
  if (records.empty()) lists.files.erase(key);
  hold.unlock();
  if (status == kKbdErrLockViolation) {
    Report(files, kErrorRecordLocked, {platform::MessageArg::Unsigned(recno)},
           kSiteEngine, status);
  } else {
    Report(files, kErrorFileAccess, {platform::MessageArg::Text(files->path)},
           kSiteEngine, status);
  }
  return 0;
}

}  // namespace qx::access
