// Maintaining a table (see table_maintenance.h).
#include "access/table/table_maintenance.h"

#include <string>

#include "access/errors/error_context.h"
#include "access/table/index_paths.h"
#include "access/table/record_transfer.h"
#include "access/table/xbase_description.h"
#include "access/table/xbase_item.h"
#include "framework/error_sink.h"
#include "framework/names.h"
#include "platform/platform.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorOpenFile = 1001;
constexpr uint32_t kErrorCompact = 1063;

constexpr uint32_t kUnitMaintenance = 107;
constexpr uint32_t kSiteCompact = 1;
constexpr uint32_t kSiteReopen = 2;
constexpr uint32_t kSiteKey = 3;

}  // namespace

int32_t CompactDataFile(TableFiles* files) {
  CloseMemoFile(files);
  uint16_t handle = files->handle;
  const int32_t status = PackDataFile(&handle);
  int32_t result = 1;
  if (status < 0) {
    ErrorReport report;
    report.id = kErrorCompact;
    report.args = {platform::MessageArg::Text(files->table)};
    report.table = files->table;
    report.unit = kUnitMaintenance;
    report.site = kSiteCompact;
    report.engine_status = status;
    ReportError(files->errors, report);
    result = 0;
  }
  // The pack reopens the file in a mode of its own: the table takes its
  // own mode back.
  if (handle != kNoDataHandle) CloseDataFile(handle);
  files->handle = kNoDataHandle;
  files->current_recno = 0;
  uint16_t reopened = kNoDataHandle;
  const int32_t open_status =
      OpenDataFileAs(files->path, files->mode_word, &reopened);
  if (open_status < 0) {
    ErrorReport report;
    report.id = kErrorOpenFile;
    report.args = {platform::MessageArg::Text(files->path),
                   platform::MessageArg::Signed(open_status)};
    report.table = files->table;
    report.unit = kUnitMaintenance;
    report.site = kSiteReopen;
    report.engine_status = open_status;
    ReportError(files->errors, report);
    return 0;
  }
  files->handle = reopened;
  return result;
}

std::vector<KeyBuild> KeysToRebuild(CXBaseDescription* description,
                                    std::u16string_view data_path) {
  std::vector<KeyBuild> keys;
  for (uint32_t i = 0; i < description->GetKeyCount(); ++i) {
    IItem* key = description->GetKey(i);
    if (key == nullptr) continue;
    KeyBuild build;
    build.key_name = framework::HostText(key->GetName());
    const std::u16string_view stored = framework::HostText(key->GetIndexPath());
    build.index_path = IndexPathOf(
        data_path,
        stored.empty()
            ? DefaultIndexFileName(description->file_name(), build.key_name)
            : std::u16string(stored));
    const std::u16string_view expression =
        framework::HostText(key->GetExpression());
    build.expression =
        expression.empty() ? build.key_name : std::u16string(expression);
    build.unique = (key->GetKeyFlags() & kKeyUnique) != 0;
    build.descending = (key->GetKeyFlags() & kKeyDescending) != 0;
    ReadKeyOptions(build.index_path, build.key_name, &build);
    keys.push_back(std::move(build));
  }
  return keys;
}

int32_t RebuildKeys(const std::vector<KeyBuild>& keys, uint16_t dbf_handle,
                    std::u16string_view data_path, std::u16string_view table,
                    CErrorContext* errors, IProgress* progress) {
  if (progress != nullptr) progress->Reset(static_cast<uint32_t>(keys.size()));
  int32_t result = 1;
  for (const KeyBuild& key : keys) {
    const int32_t status = BuildKeyIndex(dbf_handle, data_path, key);
    if (status < 0) {
      ErrorReport report;
      report.id = framework::kErrorReindexKey;
      report.args = {platform::MessageArg::Text(key.key_name),
                     platform::MessageArg::Text(table)};
      report.table = table;
      report.item = key.key_name;
      report.unit = kUnitMaintenance;
      report.site = kSiteKey;
      if (status > kBuildNotDeleted) report.engine_status = status;
      ReportError(errors, report);
      result = 0;
    }
    if (progress != nullptr) progress->Advance();
  }
  return result;
}

}  // namespace qx::access
