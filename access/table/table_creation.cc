// Creating a table's files (see table_creation.h).
#include "access/table/table_creation.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "access/adapter/memo_ops.h"
#include "access/errors/error_context.h"
#include "access/fields/type_mapping.h"
#include "access/formula/table_key_formula_parser.h"
#include "access/table/compound_keys.h"
#include "access/table/index_paths.h"
#include "framework/names.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

constexpr uint32_t kErrorCreateFile = 1034;
constexpr uint32_t kErrorFieldType = 1035;
constexpr uint32_t kErrorMemoName = 1056;
constexpr uint32_t kErrorFieldName = 1059;
constexpr uint32_t kErrorCreateIndex = 1062;
constexpr uint32_t kErrorDeleteIndex = 1065;

constexpr uint32_t kUnitCreation = 106;
constexpr uint32_t kSiteField = 1;
constexpr uint32_t kSiteDataFile = 2;
constexpr uint32_t kSiteMemoFile = 3;
constexpr uint32_t kSiteFormula = 4;
constexpr uint32_t kSiteIndex = 5;

// Field names are cut to 10 characters in the descriptors.
constexpr int32_t kLongestFieldName = 10;
// The longest memo file path, in characters.
constexpr int32_t kLongestMemoPath = 260;
// The data file opened to build an index: shared, read and write.
constexpr uint16_t kBuildOpenMode = 0xE00;

void Report(const CreationTarget& target, uint32_t id,
            std::vector<platform::MessageArg> args, uint32_t site,
            std::optional<int32_t> status = std::nullopt,
            std::u16string_view item = {}) {
  ErrorReport report;
  report.id = id;
  report.args = std::move(args);
  report.table = target.table;
  report.item = item;
  report.unit = kUnitCreation;
  report.site = site;
  report.engine_status = status;
  ReportError(target.errors, report);
}

// The file name of a path: no directory, no extension.
std::u16string BaseName(std::u16string_view path) {
  const size_t slash = path.find_last_of(u"/\\:");
  if (slash != std::u16string_view::npos) path.remove_prefix(slash + 1);
  const size_t dot = path.rfind(u'.');
  if (dot != std::u16string_view::npos) path.remove_suffix(path.size() - dot);
  return std::u16string(path);
}

bool KeepsMemo(const FieldDescription& field) {
  const char t = static_cast<char>(field.type);
  return t == 'M' || t == 'G' || t == 'W' || t == 'P';
}

int32_t CreateMemoFile(const CreationTarget& target,
                       const std::vector<FieldDescription>& fields) {
  bool needed = false;
  for (const FieldDescription& f : fields) needed = needed || KeepsMemo(f);
  if (!needed) return 1;
  const std::u16string path = MemoFileName(target.dialect, target.data_path);
  int32_t status = kKbdErrFileName;
  if (!path.empty() && path.size() <= static_cast<size_t>(kLongestMemoPath))
    status = CreateMemo(UsesFptMemo(target.dialect) != 0, path, target.dialect,
                        kMemoCreateBlocks);
  if (status == 0) return 1;
  if (status == kKbdErrFileName) {
    Report(target, kErrorMemoName,
           {platform::MessageArg::Text(path.empty() ? target.data_path : path),
            platform::MessageArg::Signed(kLongestMemoPath)},
           kSiteMemoFile);
  } else {
    Report(target, kErrorCreateFile, {platform::MessageArg::Text(path)},
           kSiteMemoFile, status);
  }
  return 0;
}

}  // namespace

bool NewTableFields(const CreationTarget& target, XbaseDialect dialect,
                    std::vector<FieldDescription>* fields) {
  fields->clear();
  const FileDesc& file = *target.file;
  for (uint32_t i = 0; i < file.item_count && file.items != nullptr; ++i) {
    const FileItem& item = file.items[i];
    if ((item.flags & (kItemFlagNotStored | kItemFlagCompound)) != 0) continue;
    const std::u16string_view name = framework::HostText(item.name);
    if (name.size() > static_cast<size_t>(kLongestFieldName)) {
      Report(target, kErrorFieldName,
             {platform::MessageArg::Text(name),
              platform::MessageArg::Signed(kLongestFieldName)},
             kSiteField, std::nullopt, name);
      return false;
    }
    FieldMapping mapping;
    const uint32_t text_length = item.size > 0 ? item.size - 1 : 0;
    const uint32_t flags = (item.flags & kItemFlagAlternative) != 0
                               ? uint32_t{kMapAlternativeAsText}
                               : 0u;
    if (name.empty() ||
        !MapHostItemToField(item.item_type, text_length, item.digits,
                            item.decimals, flags, dialect, &mapping)) {
      Report(target, kErrorFieldType, {platform::MessageArg::Text(name)},
             kSiteField, std::nullopt, name);
      return false;
    }
    FieldDescription field;
    const std::string ansi = platform::Utf16ToAnsi(name);
    std::memcpy(field.name, ansi.data(),
                std::min(ansi.size(), sizeof field.name - 1));
    for (char* c = field.name; *c != '\0'; ++c) {
      if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
    }
    field.type = static_cast<uint16_t>(mapping.type);
    field.length = static_cast<uint16_t>(mapping.length);
    field.decimals = static_cast<uint16_t>(mapping.decimals);
    fields->push_back(field);
  }
  return true;
}

int32_t CreateDataAndMemo(const CreationTarget& target) {
  std::vector<FieldDescription> fields;
  if (!NewTableFields(target, target.dialect, &fields)) return 0;
  const int32_t status =
      CreateDataFile(target.data_path, target.dialect, fields.data(),
                     static_cast<int32_t>(fields.size()));
  if (status != 0) {
    Report(target, kErrorCreateFile,
           {platform::MessageArg::Text(target.data_path)}, kSiteDataFile,
           status);
    return 0;
  }
  return CreateMemoFile(target, fields);
}

bool KeyBuildOfHostItem(const CreationTarget& target, const FileItem& item,
                        std::u16string_view index_file, KeyBuild* build) {
  const std::u16string_view name = framework::HostText(item.name);
  std::u16string_view file_name =
      index_file.empty() ? framework::HostText(item.index_file) : index_file;
  const std::u16string default_name =
      DefaultIndexFileName(BaseName(target.data_path), name);
  if (file_name.empty()) file_name = default_name;
  KeyBuild made;
  made.key_name = name;
  made.index_path = IndexPathOf(target.data_path, file_name);
  made.unique = (item.key_flags & kKeyUnique) != 0;
  made.descending = (item.key_flags & kKeyDescending) != 0;
  if ((item.flags & kItemFlagCompound) != 0) {
    const std::u16string_view formula = framework::HostText(item.formula);
    const HostFileFields fields(target.file);
    TableKeyFormulaParser parser;
    if (parser.ParseStrict(
            CompoundKeyDialect(target.file->file_format, made.index_path),
            &fields, formula) != 1) {
      ReportKeyFormulaError(target.errors, formula, name, parser, target.table,
                            kUnitCreation, kSiteFormula);
      return false;
    }
    made.expression = formula;
  } else {
    made.expression = name;
  }
  *build = std::move(made);
  return true;
}

int32_t CreateKeyIndex(const CreationTarget& target, uint16_t dbf_handle,
                       const KeyBuild& build) {
  uint16_t handle = dbf_handle;
  int32_t status = 0;
  if (handle == kNoDataHandle) {
    status = OpenDataFileAs(
        target.data_path,
        static_cast<uint16_t>(target.dialect | kBuildOpenMode), &handle);
  }
  if (status >= 0) status = BuildKeyIndex(handle, target.data_path, build);
  if (dbf_handle == kNoDataHandle && handle != kNoDataHandle)
    CloseDataFile(handle);
  if (status >= 0) return 1;
  if (status == kBuildNotDeleted) {
    Report(target, kErrorDeleteIndex,
           {platform::MessageArg::Text(build.index_path)}, kSiteIndex,
           std::nullopt, build.key_name);
  } else {
    Report(target, kErrorCreateIndex,
           {platform::MessageArg::Text(build.index_path)}, kSiteIndex,
           status <= kBuildNotDeleted ? std::nullopt
                                      : std::optional<int32_t>(status),
           build.key_name);
  }
  return 0;
}

int32_t CreateTableFiles(const CreationTarget& target) {
  if (CreateDataAndMemo(target) != 1) return 0;
  const FileDesc& file = *target.file;
  for (uint32_t i = 0; i < file.item_count && file.items != nullptr; ++i) {
    const FileItem& item = file.items[i];
    if (item.key_flags == 0) continue;
    KeyBuild build;
    if (!KeyBuildOfHostItem(target, item, u"", &build)) return 0;
    if (CreateKeyIndex(target, kNoDataHandle, build) != 1) return 0;
  }
  return 1;
}

}  // namespace qx::access
