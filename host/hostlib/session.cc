// The reference host's session (see session.h).
#include "host/hostlib/session.h"

#include <cstring>
#include <new>

namespace qx::host {
namespace {

bool IsMemoItem(uint8_t item_type) {
  return item_type == kItemTextMemo || item_type == kItemBinaryMemo ||
         item_type == kItemUnicodeMemo;
}

std::u16string Text(const char16_t* text) {
  return text == nullptr ? std::u16string() : std::u16string(text);
}

ItemInfo InfoOf(IItem* item) {
  ItemInfo info;
  info.name = Text(item->GetName());
  info.item_type = item->GetItemType();
  info.size = item->GetSize();
  info.field_number = item->GetFieldNumber();
  info.key_number = item->GetKeyNumber();
  info.key_flags = item->GetKeyFlags();
  info.key_length = item->GetKeyLength();
  info.index_path = Text(item->GetIndexPath());
  info.expression = Text(item->GetExpression());
  info.xbase_type = item->GetXBaseType();
  info.digits = item->GetDigits();
  info.decimals = item->GetDecimals();
  info.memo_path = Text(item->GetMemoPath());
  return info;
}

}  // namespace

uint8_t BoundValueType(uint8_t item_type) {
  switch (item_type) {
    case kItemText:
      return kValueText;
    case kItemInt8:
      return kValueInt8;
    case kItemInt16:
      return kValueInt16;
    case kItemInt32:
      return kValueInt32;
    case kItemInt64:
      return kValueInt64;
    case kItemReal8:
      return kValueDouble;
    case kItemCurrency:
      return kValueCurrency;
    case kItemDecimal:
      return kValueDecimal;
    case kItemDate:
      return kValueDate;
    case kItemDateTime:
      return kValueDateTime;
    case kItemBoolean:
    case kItemLogical:
      return kValueBoolean;
    case kItemTextMemo:
      return kValueUnicodeText;
    case kItemUnicodeMemo:
      return kValueUnicodeMemo;
    case kItemBinaryMemo:
    case kItemBinary:
      return kValueBinary;
    default:
      return kValueNone;
  }
}

// ---------------------------------------------------------------------------
// HostRecord

HostRecord::~HostRecord() { ReleaseMemos(); }

void HostRecord::ReleaseMemos() {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (!IsMemo(i)) continue;
    auto* value = static_cast<HostValue*>(items_[i].buffer);
    if ((value->state & kValueStateOwned) != 0 && end_conversion_ != nullptr)
      end_conversion_(value);
    *value = HostValue();
  }
}

void HostRecord::Bind(const TableInfo& info) {
  ReleaseMemos();
  names_.clear();
  buffers_.clear();
  items_.clear();
  std::vector<const ItemInfo*> fields;
  for (const ItemInfo& item : info.items) {
    if (item.field_number >= 0) fields.push_back(&item);
  }
  names_.reserve(fields.size());
  for (const ItemInfo* field : fields) {
    RecordItem item;
    names_.push_back(field->name);
    item.value_type = BoundValueType(field->item_type);
    item.field_type = static_cast<uint8_t>(field->xbase_type);
    item.field_number = field->field_number;
    item.field_length = field->size;
    item.flags = kRecordItemWritable;
    if (field->key_number >= 0) {
      item.flags |= kRecordItemKey;
      if ((field->key_flags & kKeyUnique) != 0) item.flags |= kRecordItemUnique;
    }
    if (item.value_type == kValueNone) item.flags |= kRecordItemSkip;
    if (item.value_type == kValueText) item.flags |= kRecordItemText;
    if (item.value_type == kValueDecimal)
      item.scale = static_cast<uint8_t>(field->decimals);
    size_t capacity = FixedValueWidth(item.value_type);
    if (IsMemoItem(field->item_type)) {
      item.flags |= kRecordItemMemo;
      capacity = sizeof(HostValue);
    } else if (capacity == 0) {
      capacity = field->size;
    }
    buffers_.push_back(std::make_unique<uint64_t[]>((capacity + 7) / 8 + 1));
    item.buffer = buffers_.back().get();
    item.capacity = static_cast<uint32_t>(capacity);
    if ((item.flags & kRecordItemMemo) != 0) {
      new (item.buffer) HostValue();
      static_cast<HostValue*>(item.buffer)->type = item.value_type;
    }
    items_.push_back(item);
  }
  field_items_ = items_.size();
  for (const ItemInfo& key : info.items) {
    if (key.field_number >= 0 || key.key_number < 0) continue;
    RecordItem item;
    names_.push_back(key.name);
    item.flags = kRecordItemKey | kRecordItemSkip;
    if ((key.key_flags & kKeyUnique) != 0) item.flags |= kRecordItemUnique;
    items_.push_back(item);
  }
  for (size_t i = 0; i < items_.size(); ++i) items_[i].name = names_[i].c_str();
  record_ = Record();
  record_.items = items_.empty() ? nullptr : items_.data();
  record_.item_count = static_cast<uint32_t>(items_.size());
}

HostValue HostRecord::Value(size_t i) const {
  const RecordItem& item = items_[i];
  if (IsMemo(i)) return *static_cast<const HostValue*>(item.buffer);
  HostValue value;
  value.type = item.value_type;
  value.scale = item.scale;
  value.size = item.length;
  if (item.value_type == kValueText || item.value_type == kValueBinary) {
    value.data = item.buffer;
  } else {
    std::memcpy(value.fixed.bytes, item.buffer,
                std::min<size_t>(item.length, sizeof value.fixed.bytes));
  }
  return value;
}

// ---------------------------------------------------------------------------
// Session

Session::Session(ComponentHost* host) : host_(host) {
  if (host_->exports().query_proxy != nullptr) {
    proxy_ =
        static_cast<IProxy*>(host_->exports().query_proxy(kProxyInterface));
  }
  if (host_->vm_module() != nullptr) {
    end_conversion_ = reinterpret_cast<EndConversionFn>(
        platform::ModuleSymbol(host_->vm_module(), "FinConversion"));
    convert_ = reinterpret_cast<ConversionFn>(platform::ModuleSymbol(
        host_->vm_module(), "nConversionDepassementExt"));
  }
}

Session::~Session() {
  if (connected_ && driver() != nullptr) driver()->CloseConnection(&cnx_);
  if (proxy_ != nullptr) proxy_->Release();
}

bool Session::Connect(std::u16string_view directory,
                      std::u16string_view extended_info, bool read_only) {
  if (driver() == nullptr) return false;
  name_ = u"SESSION";
  directory_ = directory;
  extended_info_ = extended_info;
  cnx_ = ConnectionDesc();
  cnx_.name = name_.c_str();
  cnx_.provider = u"xBase";
  cnx_.data_source = directory_.c_str();
  cnx_.extended_info = extended_info_.c_str();
  cnx_.access_mode = read_only ? kAccessReadOnly : kAccessReadWrite;
  connected_ = driver()->OpenConnection(&cnx_) == 1;
  return connected_;
}

bool Session::ListTables(bool full, std::u16string* list) {
  list->clear();
  if (driver() == nullptr) return false;
  HostValue value;
  const uint32_t flags = full ? 33 : 1;
  const int32_t result = driver()->GetConnectionProperty(&cnx_, &value, flags);
  if (value.data != nullptr) {
    list->assign(static_cast<const char16_t*>(value.data),
                 value.size / sizeof(char16_t));
  }
  if (end_conversion_ != nullptr) end_conversion_(&value);
  return result == 1;
}

HostError Session::LastError() const {
  HostError error;
  IErrorContext* context =
      driver() == nullptr ? nullptr : driver()->GetErrorContext();
  if (context == nullptr || context->HasError() == 0) return error;
  error.id = context->ErrorId();
  error.level = context->Level();
  error.category = context->Category();
  const uint32_t length = context->CopyMessage(nullptr, 0);
  std::u16string text(length + 1, u'\0');
  context->CopyMessage(text.data(), length + 1);
  text.resize(length);
  error.message = std::move(text);
  return error;
}

bool Session::ValueText(const HostValue& value, std::u16string* text) const {
  text->clear();
  if (convert_ == nullptr) return false;
  HostValue converted;
  if (HostFailed(convert_(&value, &converted, kValueUnicodeText, 0)))
    return false;
  if (converted.data != nullptr) {
    text->assign(static_cast<const char16_t*>(converted.data),
                 converted.size / sizeof(char16_t));
  }
  if (end_conversion_ != nullptr) end_conversion_(&converted);
  return true;
}

std::unique_ptr<SessionTable> Session::Open(
    std::u16string_view name_or_path,
    const std::vector<AttachedIndex>& indexes) {
  if (driver() == nullptr || !connected_) return nullptr;
  std::unique_ptr<SessionTable> table(new SessionTable(this));
  table->name_ = name_or_path;
  const char16_t* name = table->name_.c_str();
  IDescription* description = nullptr;
  if (indexes.empty()) {
    description = driver()->OpenTableByPath(name, &cnx_);
  } else if (proxy_ != nullptr) {
    description = proxy_->OpenTableDirect(name, name, &cnx_, 0, this);
    FileDesc file;
    file.name = name;
    for (const AttachedIndex& index : indexes) {
      if (description == nullptr) break;
      IDescription* attached = proxy_->AttachIndex(
          index.file.c_str(), index.key.c_str(), &cnx_, &file, this);
      if (attached == nullptr) {
        description->Release();
        description = nullptr;
      } else {
        attached->Release();
      }
    }
  }
  if (description == nullptr) return nullptr;
  table->Describe(description);
  description->Release();

  // The host's description of the table: every item as described, the
  // keys naming their index files.
  std::vector<FileItem> items;
  for (const ItemInfo& info : table->info_.items) {
    FileItem item;
    item.name = info.name.c_str();
    item.item_type = info.item_type;
    item.size = info.size;
    item.digits = static_cast<uint16_t>(info.digits);
    item.decimals = static_cast<uint16_t>(info.decimals);
    item.key_flags = info.key_number >= 0 ? info.key_flags : 0;
    item.key_length = info.key_length;
    if (!info.index_path.empty()) item.index_file = info.index_path.c_str();
    items.push_back(item);
  }
  FileDesc file;
  file.name = name;
  file.path = table->info_.path.c_str();
  file.file_format = table->info_.file_type;
  file.items = items.empty() ? nullptr : items.data();
  file.item_count = static_cast<uint32_t>(items.size());
  ITableHandle* handle = nullptr;
  if (driver()->OpenTable(&cnx_, &file, 0, &handle) != 1) return nullptr;
  table->open_ = true;
  if (IDescription* opened = handle->GetDescription()) table->Describe(opened);
  table->handle_ = handle;  // the reference OpenTable gave

  table->record_ = std::make_unique<HostRecord>(end_conversion_);
  table->record_->Bind(table->info_);
  table->query_.id = NextQueryId();
  table->query_.table_name = table->name_.c_str();
  table->query_.record = table->record_->get();
  table->cursor_ = driver()->CreateQuery(&table->query_);
  if (table->cursor_ == nullptr) return nullptr;
  table->cursor_->AddRef();
  return table;
}

// ---------------------------------------------------------------------------
// SessionTable

SessionTable::SessionTable(Session* session) : session_(session) {}

SessionTable::~SessionTable() {
  if (cursor_ != nullptr) cursor_->Release();
  if (handle_ != nullptr) handle_->Release();
  record_.reset();
  if (open_ && session_->driver() != nullptr)
    session_->driver()->CloseTable(session_->connection(), name_.c_str());
}

void SessionTable::Describe(IDescription* description) {
  info_ = TableInfo();
  info_.name = Text(description->GetName());
  info_.file_name = Text(description->GetFileName());
  info_.path = Text(description->GetPath());
  info_.extension = Text(description->GetExtension());
  info_.file_type = description->GetFileType();
  for (uint32_t i = 0; i < description->GetItemCount(); ++i) {
    info_.items.push_back(InfoOf(description->GetItem(i)));
  }
  for (uint32_t i = 0; i < description->GetKeyCount(); ++i) {
    info_.keys.push_back(Text(description->GetKey(i)->GetName()));
  }
}

bool SessionTable::AttachIndex(std::u16string_view file,
                               std::u16string_view key) {
  IProxy* proxy = session_->proxy();
  if (proxy == nullptr) return false;
  const std::u16string index(file);
  const std::u16string key_name(key);
  FileDesc desc;
  desc.name = name_.c_str();
  IDescription* attached = proxy->AttachIndex(
      index.c_str(), key_name.c_str(), session_->connection(), &desc, session_);
  if (attached == nullptr) return false;
  Describe(attached);
  attached->Release();
  return true;
}

bool SessionTable::RecordCount(uint32_t* count) {
  return cursor_ != nullptr && cursor_->Count(count, 16) == 1;
}

bool SessionTable::Read(uint32_t recno) {
  out_of_file_ = false;
  if (cursor_ == nullptr) return false;
  int32_t deleted = 0;
  if (cursor_->ReadRecord(recno, 1, 0, &deleted) != 1) return false;
  out_of_file_ = cursor_->IsOutOfFile() != 0;
  return true;
}

bool SessionTable::ReadMemo(size_t item) {
  return cursor_ != nullptr &&
         cursor_->ReadMemoItem(static_cast<uint32_t>(item), 0) == 1;
}

}  // namespace qx::host
