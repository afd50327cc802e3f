// The xBase table handle.
#include "access/table/xbase_table_handle.h"

#include <new>

#include "access/errors/error_context.h"

namespace qx::access {

CXBaseTableHandle::CXBaseTableHandle(std::u16string_view name,
                                     const FileDesc* file,
                                     ConnectionInfo connection)
    : name_(name), file_(file, name), connection_(std::move(connection)) {}

void CXBaseTableHandle::Destroy() {
  Reset();
  if (errors_ != nullptr) errors_->Release();
  errors_ = nullptr;
  delete this;
}

CXBaseTable* CXBaseTableHandle::Find(std::u16string_view table) const {
  auto it = tables_.find(table);
  return it == tables_.end() ? nullptr : it->second;
}

int32_t CXBaseTableHandle::Open(const FileDesc* file, uint32_t /*flags*/,
                                IErrorContext* errors) {
  CErrorContext* context = AsErrorContext(errors);
  if (context != nullptr) context->AddRef();
  if (errors_ != nullptr) errors_->Release();
  errors_ = context;
  const std::u16string table(file == nullptr ? std::u16string_view(name_)
                                             : framework::HostText(file->name));
  CXBaseTable* object = Find(table);
  bool made = false;
  if (object == nullptr) {
    object = new (std::nothrow) CXBaseTable(file, connection_, 0);
    if (object == nullptr) {
      if (errors_ != nullptr) errors_->MarkOutOfMemory();
      return 0;
    }
    object->AddRef();
    if (object->Open(errors) != 1) {
      object->Release();
      return 0;
    }
    made = true;
  }
  if (object->OpenFiles(access_mode()) != 1) {
    if (made) object->Release();
    return 0;
  }
  if (made) tables_.emplace(table, object);
  return 1;
}

int32_t CXBaseTableHandle::Close() {
  int32_t result = 1;
  for (auto it = tables_.begin(); it != tables_.end();) {
    CXBaseTable* table = it->second;
    if (table->IsOpen() != 0 && table->CloseFiles() != 1) result = 0;
    if (table->IsOpen() == 0) {
      it = tables_.erase(it);
      table->Release();
    } else {
      ++it;
    }
  }
  return result;
}

int32_t CXBaseTableHandle::HasOpenTable() {
  for (const auto& [name, table] : tables_) {
    if (table->IsOpen() != 0) return 1;
  }
  return 0;
}

IDescription* CXBaseTableHandle::GetDescription() {
  if (CXBaseTable* table = Find(name_)) return table->GetDescription();
  return tables_.empty() ? nullptr : tables_.begin()->second->GetDescription();
}

void CXBaseTableHandle::Reset() {
  while (!tables_.empty()) {
    CXBaseTable* table = tables_.begin()->second;
    tables_.erase(tables_.begin());
    while (table->IsOpen() != 0) table->CloseFiles();
    table->Release();
  }
}

CXBaseTable* CXBaseTableHandle::Obtain(std::u16string_view table) {
  if (CXBaseTable* found = Find(table)) return found;
  // A table of the handle's own name opens on the handle's description;
  // another on its name alone.
  const std::u16string table_name(table);
  FileDesc named;
  named.name = table_name.c_str();
  const FileDesc* file =
      framework::SameName(table, name_) ? file_.get() : &named;
  auto* object = new (std::nothrow) CXBaseTable(file, connection_, 0);
  if (object == nullptr) return nullptr;
  object->AddRef();
  if (object->Open(errors_) != 1) {
    object->Release();
    return nullptr;
  }
  tables_.emplace(std::u16string(table), object);
  return object;
}

int32_t CXBaseTableHandle::OpenTableFiles(const char16_t* table,
                                          uint32_t mode) {
  CXBaseTable* object = Obtain(framework::HostText(table));
  return object == nullptr ? 0 : object->OpenFiles(mode);
}

int32_t CXBaseTableHandle::LockTable(const char16_t* table, uint32_t kind) {
  CXBaseTable* object = Obtain(framework::HostText(table));
  return object == nullptr ? 0 : object->LockFile(kind);
}

int32_t CXBaseTableHandle::MaintainTable(const char16_t* table,
                                         uint32_t options) {
  CXBaseTable* object = Obtain(framework::HostText(table));
  return object == nullptr ? 0 : object->Maintain(options, nullptr);
}

int32_t CXBaseTableHandle::BuildKey(const char16_t* table, const Record* record,
                                    uint32_t item, uint8_t* key_image) {
  CXBaseTable* object = Find(framework::HostText(table));
  return object == nullptr ? 0 : object->BuildKey(record, item, key_image);
}

int32_t CXBaseTableHandle::AddKeyItems(IItem* const* items, uint32_t count,
                                       const char16_t* index_path) {
  for (const auto& [name, table] : tables_) {
    table->AddKeyItems(items, count, framework::HostText(index_path));
  }
  return 1;
}

ITable* CXBaseTableHandle::GetTableObject(const char16_t* table) {
  return Find(framework::HostText(table));
}

}  // namespace qx::access
