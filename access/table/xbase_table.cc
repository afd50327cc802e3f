// The xBase table object.
//
// Divisions: construction and errors; opening (description and files);
// record transfer; keys; operations of the writing, locking and
// maintenance paths.
#include "access/table/xbase_table.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "access/adapter/index_ops.h"
#include "access/adapter/key_ops.h"
#include "access/adapter/key_typing.h"
#include "access/adapter/record_ops.h"
#include "access/connection/table_path.h"
#include "access/connection/xbase_connection.h"
#include "access/errors/error_context.h"
#include "access/errors/error_def.h"
#include "access/fields/type_mapping.h"
#include "access/table/index_association.h"
#include "access/table/index_paths.h"
#include "access/table/record_transfer.h"
#include "access/table/record_writer.h"
#include "access/table/table_creation.h"
#include "access/table/table_maintenance.h"
#include "access/table/xbase_description.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

// The key image buffers of the host (101 bytes).
constexpr size_t kKeyImageBytes = 101;

constexpr uint32_t kErrorOpenFile = 1001;
constexpr uint32_t kErrorNoFieldDescriptions = 1003;
constexpr uint32_t kErrorNoDescription = 1005;
constexpr uint32_t kErrorNotReadable = 1014;
constexpr uint32_t kErrorReadRecord = 1015;
constexpr uint32_t kErrorNotInTable = 1023;
constexpr uint32_t kErrorRecordCount = 1028;
constexpr uint32_t kErrorNoFile = 1032;
constexpr uint32_t kErrorCloseFile = 1033;
constexpr uint32_t kErrorOpenTag = 1044;
constexpr uint32_t kErrorBuildKey = 1048;
constexpr uint32_t kErrorIndexType = 1058;
// The task text inserted into error 1014.
constexpr uint32_t kTaskReadRecord = 2658;

constexpr uint32_t kUnitTable = 105;
constexpr uint32_t kSiteMissing = 1;
constexpr uint32_t kSiteClose = 2;
constexpr uint32_t kSiteDescription = 3;
constexpr uint32_t kSiteOpenData = 4;
constexpr uint32_t kSiteCount = 5;
constexpr uint32_t kSiteRead = 6;
constexpr uint32_t kSiteKeyItem = 10;
constexpr uint32_t kSiteKeyIndex = 11;
constexpr uint32_t kSiteKeyTag = 12;
constexpr uint32_t kSiteKeyType = 13;
constexpr uint32_t kSiteBuildKey = 14;

// The shared bits of the data file's open-mode word for record work.
constexpr uint16_t kRecordWorkMode = 0xE00;
// Index files opened for record work: shared, read and write.
constexpr uint16_t kIndexWorkMode = 0xE00;

bool OemOption(std::u16string_view extended_info) {
  return framework::SameName(
      framework::ExtendedInfoValue(extended_info, u"OEMTOANSI"), u"WINDOWS");
}

}  // namespace

ConnectionInfo InfoOfConnection(IConnection* connection) {
  ConnectionInfo info;
  if (connection == nullptr) return info;
  info.name = framework::HostText(connection->GetName());
  info.data_source = framework::HostText(connection->GetDataSource());
  if (auto* xbase = dynamic_cast<CXBaseConnection*>(connection)) {
    info.oem_conversion = xbase->oem_conversion();
    info.read_only = xbase->access_mode() == kAccessReadOnly;
  }
  return info;
}

// ---------------------------------------------------------------------------
// Construction and errors

CXBaseTable::CXBaseTable(const FileDesc* file, ConnectionInfo connection,
                         uint32_t /*options*/)
    : name_(file == nullptr ? std::u16string_view()
                            : framework::HostText(file->name)),
      host_file_(file, name_),
      connection_(std::move(connection)) {
  files_.table = name_;
  files_.full_conversion =
      connection_.oem_conversion != 0 ||
      (file != nullptr && OemOption(framework::HostText(file->extended_info)));
}

CXBaseTable::~CXBaseTable() = default;

void CXBaseTable::Destroy() {
  while (files_.is_open()) CloseFiles();
  SetDescription(nullptr);
  SetErrors(nullptr);
  delete this;
}

void CXBaseTable::SetErrors(IErrorContext* errors) {
  CErrorContext* context = AsErrorContext(errors);
  if (context != nullptr) context->AddRef();
  if (errors_ != nullptr) errors_->Release();
  errors_ = context;
  files_.errors = context;
}

void CXBaseTable::SetDescription(CXBaseDescription* description) {
  if (description != nullptr) description->AddRef();
  if (description_ != nullptr) description_->Release();
  description_ = description;
}

IDescription* CXBaseTable::GetDescription() { return description_; }

// ---------------------------------------------------------------------------
// Opening

CXBaseDescription* CXBaseTable::MakeDescription(std::u16string_view path) {
  auto* description =
      new (std::nothrow) CXBaseDescription(connection_.data_source);
  if (description == nullptr) return nullptr;
  description->AddRef();
  if (!description->Fill(name_, path, errors_)) {
    description->Release();
    return nullptr;
  }
  return description;
}

int32_t CXBaseTable::Open(IErrorContext* errors) {
  SetErrors(errors);
  const FileDesc* file = host_file_.get();
  const std::u16string_view given = file->path != nullptr
                                        ? framework::HostText(file->path)
                                        : framework::HostText(file->name);
  std::u16string full_path;
  if (!ResolveTablePath(connection_.data_source, given,
                        framework::HostText(file->extension), errors_,
                        &full_path)) {
    return 0;
  }
  if (!TableFileExists(full_path)) {
    ErrorReport report;
    report.id = kErrorNoFile;
    report.args = {platform::MessageArg::Text(full_path)};
    report.table = name_;
    report.unit = kUnitTable;
    report.site = kSiteMissing;
    ReportError(errors_, report);
    return 0;
  }
  CXBaseDescription* description = MakeDescription(full_path);
  if (description == nullptr) return 0;
  const bool keyed = AssociateHostKeys(description, file, errors_) == 1 &&
                     description->CheckItems(file, errors_) == 1;
  if (keyed) SetDescription(description);
  description->Release();
  if (!keyed) return 0;
  files_.path = full_path;
  return 1;
}

int32_t CXBaseTable::OpenFiles(uint32_t access_mode) {
  if (description_ == nullptr) {
    CXBaseDescription* description =
        files_.path.empty() ? nullptr : MakeDescription(files_.path);
    if (description == nullptr) {
      ErrorReport report;
      report.id = kErrorNoDescription;
      report.args = {platform::MessageArg::Text(name_)};
      report.table = name_;
      report.unit = kUnitTable;
      report.site = kSiteDescription;
      ReportError(errors_, report);
      return 0;
    }
    SetDescription(description);
    description->Release();
  }
  if (files_.is_open()) {
    ++files_.open_count;
    return 1;
  }
  files_.path = description_->path();
  files_.dialect = description_->dialect();
  uint16_t mode = static_cast<uint16_t>(files_.dialect | kRecordWorkMode);
  if (access_mode != kAccessWrite) mode |= kModeReadOnly;
  uint16_t handle = kNoDataHandle;
  const int32_t status = OpenDataFileAs(files_.path, mode, &handle);
  if (status < 0) {
    ErrorReport report;
    report.id = kErrorOpenFile;
    report.args = {platform::MessageArg::Text(files_.path),
                   platform::MessageArg::Signed(status)};
    report.table = name_;
    report.unit = kUnitTable;
    report.site = kSiteOpenData;
    report.engine_status = status;
    ReportError(errors_, report);
    return 0;
  }
  files_.handle = handle;
  files_.mode_word = mode;
  const int32_t loaded = LoadFieldDescriptions(&files_.fields, handle);
  if (loaded < 0 || DataFileVersion(handle, &files_.version) < 0) {
    ErrorReport report;
    report.id = kErrorNoFieldDescriptions;
    report.args = {platform::MessageArg::Text(name_)};
    report.table = name_;
    report.unit = kUnitTable;
    report.site = kSiteOpenData;
    report.engine_status = loaded;
    ReportError(errors_, report);
    CloseDataFile(handle);
    files_.handle = kNoDataHandle;
    files_.mode_word = 0;
    return 0;
  }
  files_.current_recno = 0;
  files_.open_count = 1;
  return 1;
}

int32_t CXBaseTable::CloseFiles() {
  if (files_.open_count > 0) --files_.open_count;
  CloseKeys();
  if (files_.open_count > 0) return 1;
  if (files_.handle == kNoDataHandle) return 1;
  locks_.Closed(this);
  CloseMemoFile(&files_);
  int32_t result = 1;
  const int32_t status = CloseDataFile(files_.handle);
  if (status < 0) {
    ErrorReport report;
    report.id = kErrorCloseFile;
    report.args = {platform::MessageArg::Text(files_.path)};
    report.table = name_;
    report.unit = kUnitTable;
    report.site = kSiteClose;
    report.engine_status = status;
    ReportError(errors_, report);
    result = 0;
  }
  files_.fields = FieldDescriptions();
  files_.handle = kNoDataHandle;
  files_.mode_word = 0;
  files_.current_recno = 0;
  return result;
}

int32_t CXBaseTable::RecordCount(uint32_t* count) {
  uint32_t n = 0;
  const int32_t status = files_.is_open()
                             ? access::RecordCount(files_.handle, &n)
                             : int32_t{kKbdErrHandle};
  if (status != 0) {
    ErrorReport report;
    report.id = kErrorRecordCount;
    report.args = {platform::MessageArg::Text(files_.path)};
    report.table = name_;
    report.unit = kUnitTable;
    report.site = kSiteCount;
    report.engine_status = status;
    ReportError(errors_, report);
    return 0;
  }
  if (count != nullptr) *count = n;
  return 1;
}

// ---------------------------------------------------------------------------
// Record transfer

int32_t CXBaseTable::ReadRecord(Record* record, uint32_t recno,
                                int32_t fetch_fields, int32_t* deleted,
                                int32_t* out_of_file) {
  if (out_of_file != nullptr) *out_of_file = 0;
  if (deleted != nullptr) *deleted = 0;
  if (!files_.is_open()) {
    std::u16string task;
    LoadDriverResource(kTaskReadRecord, &task);
    ErrorReport report;
    report.id = kErrorNotReadable;
    report.args = {platform::MessageArg::Text(task),
                   platform::MessageArg::Text(name_)};
    report.table = name_;
    report.unit = kUnitTable;
    report.site = kSiteRead;
    ReportError(errors_, report);
    return 0;
  }
  const int32_t status = access::ReadRecord(files_.handle, recno);
  if (status == kKbdErrSeek) {
    if (out_of_file != nullptr) *out_of_file = 1;
    return 1;
  }
  if (status != kKbdOk && status != kKbdDeletedRecord) {
    ErrorReport report;
    report.id = kErrorReadRecord;
    report.args = {platform::MessageArg::Signed(recno),
                   platform::MessageArg::Text(name_),
                   platform::MessageArg::Signed(status)};
    report.table = name_;
    report.unit = kUnitTable;
    report.site = kSiteRead;
    report.engine_status = status;
    ReportError(errors_, report);
    return 0;
  }
  if (deleted != nullptr) *deleted = status == kKbdDeletedRecord ? 1 : 0;
  files_.current_recno = recno;
  if (record == nullptr) return 1;
  record->recno = recno;
  const int32_t marked = status == kKbdDeletedRecord ? 1 : 0;
  if (fetch_fields == 0) return RefreshRecordState(&files_, record, marked);
  return access::FillItems(&files_, record, marked);
}

int32_t CXBaseTable::FillItems(Record* record) {
  if (record == nullptr || !files_.is_open()) return 0;
  return access::FillItems(&files_, record);
}

int32_t CXBaseTable::PutItem(Record* record, uint32_t item) {
  if (record == nullptr || item >= record->item_count || !files_.is_open())
    return 0;
  return access::PutItem(&files_, &record->items[item]);
}

int32_t CXBaseTable::ReadMemoItem(Record* record, uint32_t item) {
  if (!files_.is_open()) return 0;
  return access::ReadMemoItem(&files_, record, item);
}

int32_t CXBaseTable::WriteMemoItem(Record* record, uint32_t item,
                                   uint16_t mode) {
  if (!files_.is_open()) return 0;
  return access::WriteMemoItem(&files_, record, item, mode);
}

// ---------------------------------------------------------------------------
// Keys

const IndexKeyDescriptor* CXBaseTable::KeyDescriptor(
    std::u16string_view item_name) {
  if (auto it = keys_.find(item_name); it != keys_.end()) return &it->second;
  CXBaseItem* item =
      description_ == nullptr ? nullptr : description_->FindXItem(item_name);
  ErrorReport report;
  report.table = name_;
  report.item = item_name;
  report.unit = kUnitTable;
  if (item == nullptr) {
    report.id = kErrorNotInTable;
    report.args = {platform::MessageArg::Text(item_name),
                   platform::MessageArg::Text(name_)};
    report.site = kSiteKeyItem;
    ReportError(errors_, report);
    return nullptr;
  }
  const std::u16string_view stored = item->GetIndexPath();
  const std::u16string index_path = IndexPathOf(
      files_.path.empty() ? description_->path() : files_.path,
      stored.empty()
          ? DefaultIndexFileName(description_->file_name(), item_name)
          : std::u16string(stored));
  const OpenIndexFile* index = nullptr;
  for (const OpenIndexFile& open : open_indexes_) {
    if (framework::SameName(open.path, index_path)) index = &open;
  }
  if (index == nullptr) {
    OpenIndexFile opened;
    opened.path = index_path;
    opened.dialect = DialectOfIndexPath(index_path);
    if (opened.dialect == kDialectOther) {
      report.id = kErrorIndexType;
      report.args = {platform::MessageArg::Text(index_path)};
      report.site = kSiteKeyType;
      ReportError(errors_, report);
      return nullptr;
    }
    uint16_t mode = kIndexWorkMode;
    if (files_.read_only()) mode |= kModeReadOnly;
    const int32_t status =
        OpenIndex(opened.dialect, index_path, &opened.handle, mode);
    if (status < 0) {
      report.id = kErrorOpenFile;
      report.args = {platform::MessageArg::Text(index_path),
                     platform::MessageArg::Signed(status)};
      report.site = kSiteKeyIndex;
      report.engine_status = status;
      ReportError(errors_, report);
      return nullptr;
    }
    open_indexes_.push_back(std::move(opened));
    index = &open_indexes_.back();
  }
  IndexKeyDescriptor key;
  key.dialect = index->dialect;
  key.index_handle = index->handle;
  key.full_oem = files_.full_conversion ? 1 : 0;
  const int32_t tag_status =
      OpenTag(index->dialect, platform::Utf16ToAnsi(item_name), &key.tag_handle,
              index->handle);
  if (tag_status < 0) {
    report.id = kErrorOpenTag;
    report.args = {platform::MessageArg::Text(item_name),
                   platform::MessageArg::Text(index_path)};
    report.site = kSiteKeyTag;
    report.engine_status = tag_status;
    ReportError(errors_, report);
    return nullptr;
  }
  IndexKeyInfo info;
  const bool described = DescribeKeyByTag(&info, index->dialect, index->handle,
                                          key.tag_handle) >= 0;
  key.key_length = described ? info.key_length : item->GetKeyLength();
  key.compound = described && item->compound() ? 1 : 0;
  const XbaseDialect data_dialect = description_->dialect();
  key.key_type = KeyTypeOfField(item->GetXBaseType(), data_dialect);
  if (described && IndexFamilyOf(index->dialect) == IndexFamily::kIdx &&
      key.key_type == 'C' && info.key_type == '?')
    ++key.key_length;
  key.key_value_type = KeyValueType(index->dialect, key.key_type);
  key.item_type = ValueTypeOfItem(item->GetItemType());
  key.width = item->GetDigits();
  const char16_t letter = item->GetXBaseType();
  if ((letter == u'N' || letter == u'F') && item->GetDecimals() > 0)
    key.width += item->GetDecimals() + 1;
  key.decimals = item->GetDecimals();
  // A key item of no field takes the type its index reports, which IDX,
  // CDX and NTX files do not record: the expression evaluated on the
  // table tells it.
  if (described && !item->is_field() && files_.is_open() &&
      !info.expression.empty())
    TypeKeyFromTable(&key, files_.handle, info.expression);
  return &keys_.emplace(std::u16string(item_name), key).first->second;
}

void CXBaseTable::CloseKeys() {
  for (auto& [name, key] : keys_) {
    if (key.tag_handle != kNoTagHandle) CloseTag(key.dialect, key.tag_handle);
  }
  keys_.clear();
  for (const OpenIndexFile& index : open_indexes_) {
    CloseIndex(index.dialect, index.handle);
  }
  open_indexes_.clear();
}

void CXBaseTable::AddKeyItems(IItem* const* items, uint32_t count,
                              std::u16string_view /*index_path*/) {
  if (description_ == nullptr || items == nullptr) return;
  for (uint32_t i = 0; i < count; ++i) {
    auto* item = dynamic_cast<CXBaseItem*>(items[i]);
    if (item == nullptr) continue;
    if (description_->FindXItem(item->GetName()) != nullptr) continue;
    CXBaseItem* copy = item->Clone();
    copy->set_key_number(static_cast<int32_t>(description_->GetKeyCount()));
    description_->AppendXItem(copy);
    description_->AddKey(copy);
  }
}

// ---------------------------------------------------------------------------
// Writing and locking delegate to their modules.

int32_t CXBaseTable::WriteRecord(Record* record, uint32_t* recno,
                                 uint32_t options, uint16_t mode) {
  return WriteTableRecord(this, record, recno, options, mode);
}
int32_t CXBaseTable::DeleteRecord(Record* record, uint32_t recno,
                                  int32_t remove_keys) {
  return DeleteTableRecord(this, record, recno, remove_keys != 0);
}
// The key of a host record's key item as its index would hold it: the
// record's field values go into the engine's record buffer (copies of the
// items: the host's values stay as they are) and the index's own
// expression makes the key there, as a write does. 101 bytes, a text key
// blank-padded to its length and terminated.
int32_t CXBaseTable::BuildKey(const Record* record, uint32_t item,
                              uint8_t* key_image) {
  if (record == nullptr || key_image == nullptr || item >= record->item_count ||
      !files_.is_open())
    return 0;
  const std::u16string_view name =
      framework::HostText(record->items[item].name);
  const IndexKeyDescriptor* key = KeyDescriptor(name);
  if (key == nullptr) return 0;
  for (uint32_t i = 0; i < record->item_count; ++i) {
    RecordItem copy = record->items[i];
    if (copy.field_number < 0 ||
        (copy.flags & (kRecordItemSkip | kRecordItemMemo)) != 0)
      continue;
    if (access::PutItem(&files_, &copy) != 1) return 0;
  }
  std::array<uint8_t, kKeyImageBytes> image{};
  const int32_t status = RecordKey(*key, files_.handle, -1, 0, image);
  if (status < 0) {
    CXBaseItem* described =
        description_ == nullptr ? nullptr : description_->FindXItem(name);
    const std::u16string formula =
        described == nullptr ? u"" : described->GetExpression();
    ErrorReport report;
    report.id = kErrorBuildKey;
    report.args = {platform::MessageArg::Text(name),
                   platform::MessageArg::Text(formula)};
    report.table = name_;
    report.item = name;
    report.unit = kUnitTable;
    report.site = kSiteBuildKey;
    report.engine_status = status;
    ReportError(errors_, report);
    return 0;
  }
  if (IsTextValueType(key->key_value_type) && key->key_length >= 1 &&
      key->key_length <= image.size()) {
    const size_t end = static_cast<size_t>(key->key_length - 1);
    const size_t used =
        strnlen(reinterpret_cast<const char*>(image.data()), end);
    std::fill(image.begin() + static_cast<ptrdiff_t>(used),
              image.begin() + static_cast<ptrdiff_t>(end), uint8_t{' '});
    image[end] = 0;
  }
  std::memcpy(key_image, image.data(), image.size());
  return 1;
}
int32_t CXBaseTable::LockFile(uint32_t kind) {
  return locks_.LockFile(this, &files_, kind);
}
int32_t CXBaseTable::UnlockFile() { return locks_.UnlockFile(this, &files_); }
int32_t CXBaseTable::LockRecord(Record* record, uint32_t kind, uint32_t recno,
                                uint32_t* previous_kind) {
  return locks_.LockRecord(this, &files_, record, kind, recno, previous_kind);
}

// ---------------------------------------------------------------------------
// Creation and maintenance

bool CXBaseTable::CreationTargetOf(CreationTarget* target) {
  target->file = host_file_.get();
  target->table = name_;
  target->errors = errors_;
  if (!files_.path.empty()) {
    target->data_path = files_.path;
  } else if (description_ != nullptr) {
    target->data_path = description_->path();
  } else {
    const FileDesc* file = host_file_.get();
    const std::u16string_view given = file->path != nullptr
                                          ? framework::HostText(file->path)
                                          : framework::HostText(file->name);
    if (!ResolveTablePath(connection_.data_source, given,
                          framework::HostText(file->extension), errors_,
                          &target->data_path))
      return false;
  }
  target->dialect = files_.is_open() ? files_.dialect
                    : description_ != nullptr
                        ? description_->dialect()
                        : DialectOfFileType(host_file_.get()->file_format);
  return true;
}

int32_t CXBaseTable::CreateFiles() {
  CreationTarget target;
  if (!CreationTargetOf(&target)) return 0;
  // The description's family, not the file's (there is none yet).
  target.dialect = DialectOfFileType(host_file_.get()->file_format);
  return CreateTableFiles(target);
}

int32_t CXBaseTable::Maintain(uint32_t options, IProgress* progress) {
  // A table whose files are not open is opened for the work alone.
  const bool was_open = files_.is_open();
  if (!was_open && OpenFiles(kAccessWrite) != 1) return 0;
  CloseKeys();
  int32_t result = 1;
  if ((options & kMaintainCompact) != 0 && CompactDataFile(&files_) != 1)
    result = 0;
  if (files_.handle != kNoDataHandle) {
    const std::vector<KeyBuild> keys = KeysToRebuild(description_, files_.path);
    if (RebuildKeys(keys, files_.handle, files_.path, name_, errors_,
                    progress) != 1)
      result = 0;
  } else {
    result = 0;
  }
  if (!was_open) CloseFiles();
  return result;
}

int32_t CXBaseTable::CreateIndex(const char16_t* key_item,
                                 const char16_t* index_file) {
  CreationTarget target;
  if (!CreationTargetOf(&target)) return 0;
  const std::u16string_view key = framework::HostText(key_item);
  const std::u16string_view file_name = framework::HostText(index_file);
  KeyBuild build;
  bool found = false;
  const FileDesc* file = host_file_.get();
  for (uint32_t i = 0; i < file->item_count && file->items != nullptr; ++i) {
    if (!framework::SameName(framework::HostText(file->items[i].name), key))
      continue;
    if (!KeyBuildOfHostItem(target, file->items[i], file_name, &build))
      return 0;
    found = true;
    break;
  }
  CXBaseItem* item =
      found || description_ == nullptr ? nullptr : description_->FindXItem(key);
  if (!found && item != nullptr) {
    FileItem described;
    const std::u16string name(item->GetName());
    const std::u16string stored(item->GetIndexPath());
    described.name = name.c_str();
    described.key_flags = item->GetKeyFlags();
    if (!stored.empty()) described.index_file = stored.c_str();
    found = KeyBuildOfHostItem(target, described, file_name, &build);
    const std::u16string_view expression =
        framework::HostText(item->GetExpression());
    if (!expression.empty()) build.expression = expression;
  }
  if (!found) {
    ErrorReport report;
    report.id = kErrorNotInTable;
    report.args = {platform::MessageArg::Text(key),
                   platform::MessageArg::Text(name_)};
    report.table = name_;
    report.item = key;
    report.unit = kUnitTable;
    report.site = kSiteKeyItem;
    ReportError(errors_, report);
    return 0;
  }
  // A key whose index is open is closed for its rebuild.
  CloseKeys();
  const uint16_t handle = files_.is_open() ? files_.handle : kNoDataHandle;
  return CreateKeyIndex(target, handle, build);
}

}  // namespace qx::access
