// The xBase table description.
#include "access/table/xbase_description.h"

#include <new>
#include <optional>
#include <vector>

#include "access/adapter/data_file_ops.h"
#include "access/adapter/memo_ops.h"
#include "access/connection/table_path.h"
#include "access/errors/error_context.h"
#include "access/fields/type_mapping.h"
#include "framework/names.h"
#include "platform/platform.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorOutOfMemory = 12;
constexpr uint32_t kErrorNoFieldDescriptions = 1003;
constexpr uint32_t kErrorNoFieldDescription = 1006;
constexpr uint32_t kErrorNotInFile = 1064;

// Debug places of the description's reports.
constexpr uint32_t kUnitDescription = 104;
constexpr uint32_t kSiteOpen = 1;
constexpr uint32_t kSiteFields = 2;
constexpr uint32_t kSiteField = 3;
constexpr uint32_t kSiteItem = 4;
constexpr uint32_t kSiteCheck = 5;

// Open-mode bits of the description's look at the file: read-only,
// shared.
constexpr uint16_t kDescribeMode = kModeShared | kModeReadOnly;

void Report(CErrorContext* errors, uint32_t id,
            std::vector<platform::MessageArg> args, std::u16string_view table,
            uint32_t site, std::optional<int32_t> status = std::nullopt) {
  ErrorReport report;
  report.id = id;
  report.args = std::move(args);
  report.table = table;
  report.unit = kUnitDescription;
  report.site = site;
  report.engine_status = status;
  ReportError(errors, report);
}

// Closes the data file a description opened, on every way out.
class DescribedFile {
 public:
  explicit DescribedFile(uint16_t handle) : handle_(handle) {}
  ~DescribedFile() { CloseDataFile(handle_); }
  DescribedFile(const DescribedFile&) = delete;
  DescribedFile& operator=(const DescribedFile&) = delete;
  uint16_t handle() const { return handle_; }

 private:
  uint16_t handle_;
};

}  // namespace

const char16_t* CXBaseDescription::GetExtension() {
  return extension_.empty() ? nullptr : extension_.c_str();
}

XbaseDialect CXBaseDescription::dialect() const {
  const std::span<const DialectRow> rows = DialectRows();
  if (dialect_row_ < 0 || static_cast<size_t>(dialect_row_) >= rows.size())
    return kDialectOther;
  return rows[static_cast<size_t>(dialect_row_)].code;
}

bool CXBaseDescription::Fill(std::u16string_view logical_name,
                             std::u16string_view path, CErrorContext* errors) {
  set_name(logical_name);
  path_ = path;
  if (path_.empty()) {
    path_ = data_source_ + u"\\" + std::u16string(logical_name) + u".dbf";
  }
  const PathParts parts = SplitPath(path_);
  set_file_name(parts.name);
  extension_ = parts.extension;
  return DescribeItems(errors) == 1;
}

int32_t CXBaseDescription::DescribeItems(IErrorContext* context) {
  CErrorContext* errors = AsErrorContext(context);
  const std::u16string logical = name();
  uint16_t handle = kNoDataHandle;
  int16_t status = 0;
  if (OpenDataFile(logical, path_, kDescribeMode, nullptr, &handle,
                   &dialect_row_, &status) == 0) {
    Report(errors, kErrorNoFieldDescriptions,
           {platform::MessageArg::Text(logical)}, logical, kSiteOpen, status);
    return 0;
  }
  DescribedFile file(handle);
  const XbaseDialect family = dialect();
  file_type_ = FileTypeOfDialect(family);
  FieldDescriptions fields;
  if (const int32_t loaded = LoadFieldDescriptions(&fields, handle);
      loaded < 0) {
    Report(errors, kErrorNoFieldDescriptions,
           {platform::MessageArg::Text(logical)}, logical, kSiteFields, loaded);
    return 0;
  }
  for (int32_t i = 0; i < fields.count; ++i) {
    FieldDescription field;
    if (GetFieldDescription(fields, i, &field) != 0) {
      Report(errors, kErrorNoFieldDescription,
             {platform::MessageArg::Signed(i),
              platform::MessageArg::Text(logical)},
             logical, kSiteField);
      return 0;
    }
    if (IsHiddenField(family, field) != 0) continue;
    CXBaseItem* item = new (std::nothrow) CXBaseItem();
    if (item == nullptr) {
      Report(errors, kErrorOutOfMemory, {}, logical, kSiteItem);
      return 0;
    }
    const HostItemMapping mapping =
        MapFieldToHostItem(field.type, field.length, field.decimals, family);
    item->set_name(platform::AnsiToUtf16(field.name));
    item->set_item_type(mapping.item_type);
    item->set_size(mapping.size);
    item->set_field_number(i);
    item->set_xbase_type(static_cast<uint16_t>(
        field.type >= 'a' && field.type <= 'z' ? field.type - 0x20
                                               : field.type));
    item->set_digits(mapping.digits);
    item->set_decimals(field.decimals);
    if (mapping.item_type == kItemTextMemo ||
        mapping.item_type == kItemBinaryMemo) {
      const std::u16string memo = MemoFileName(family, path_);
      if (!memo.empty() && TableFileExists(memo)) item->set_memo_path(memo);
    }
    AppendItem(item);
  }
  return 1;
}

int32_t CXBaseDescription::CheckItems(const FileDesc* file,
                                      IErrorContext* context) {
  if (file == nullptr) return 1;
  for (uint32_t i = 0; i < file->item_count; ++i) {
    const FileItem& host = file->items[i];
    if (Find(framework::HostText(host.name)) != nullptr) continue;
    if ((host.flags & kItemFlagCompound) != 0) continue;
    Report(AsErrorContext(context), kErrorNotInFile,
           {platform::MessageArg::Text(framework::HostText(host.name)),
            platform::MessageArg::Text(name())},
           name(), kSiteCheck);
    return 0;
  }
  return 1;
}

IDescription* CXBaseDescription::Copy() {
  auto* copy = new (std::nothrow) CXBaseDescription(data_source_);
  if (copy == nullptr) return nullptr;
  copy->set_name(name());
  copy->set_file_name(file_name());
  copy->path_ = path_;
  copy->extension_ = extension_;
  copy->dialect_row_ = dialect_row_;
  copy->file_type_ = file_type_;
  for (framework::CNativeItem* item : items()) {
    copy->AppendItem(static_cast<CXBaseItem*>(item)->Clone());
  }
  // Keys keep their own order, which may differ from the items' order.
  for (framework::CNativeItem* key : keys()) {
    copy->AddKey(copy->Find(framework::HostText(key->GetName())));
  }
  return copy;
}

}  // namespace qx::access
