// The framework's driver object: registries, the common pattern, and the
// base behaviour of every slot.
//
// Divisions: construction and destruction; error reporting helpers;
// registries; connection operations; table-handle operations; queries;
// values and texts; factories.
#include "framework/native_driver.h"

#include <new>
#include <string>

#include "framework/host_value.h"
#include "framework/native_objects.h"
#include "resources/message_store.h"

namespace qx::framework {
namespace {

constexpr std::u16string_view kCaptionDefaults[kCaptionCount] = {
    u"Texte de la requête", u"Type Z-Langage", u"Valeur", u"DataSource : ",
    u"Lock mode : "};

std::u16string_view ConnectionName(const ConnectionDesc* cnx) {
  return cnx == nullptr ? std::u16string_view() : HostText(cnx->name);
}

// The table name of a host file description: its logical name.
std::u16string_view TableName(const FileDesc* file) {
  return file == nullptr ? std::u16string_view() : HostText(file->name);
}

}  // namespace

// ---------------------------------------------------------------------------
// Construction and destruction

CNativeDriver::CNativeDriver() {
  for (int i = 0; i < kCaptionCount; ++i) {
    std::u16string text = resources::MessageText(kFirstCaptionId + i);
    captions_[i] = text.empty() ? std::u16string(kCaptionDefaults[i]) : text;
  }
}

CNativeDriver::~CNativeDriver() { ReleaseAll(); }

void CNativeDriver::Destroy() {
  ReleaseAll();
  delete this;
}

void CNativeDriver::ReleaseAll() {
  GuardedVoid([&] {
    if (errors_ != nullptr) errors_->Reset(nullptr);
    while (!queries_.empty()) {
      ICursor* cursor = queries_.begin()->second;
      queries_.erase(queries_.begin());
      cursor->Close();
      cursor->Release();
    }
    while (!handles_.empty()) EraseHandle(handles_.begin());
    while (!connections_.empty()) {
      auto it = connections_.begin();
      IConnection* connection = it->second.connection;
      const uint32_t references = 1 + it->second.open_refs;
      if (it->second.open_refs > 0) connection->Close(errors_);
      connection_cache_ = nullptr;
      connections_.erase(it);
      for (uint32_t i = 0; i < references; ++i) connection->Release();
    }
    if (errors_ != nullptr) {
      errors_->Release();
      errors_ = nullptr;
    }
  });
}

void CNativeDriver::RenewErrorContext() {
  if (errors_ != nullptr) {
    errors_->Release();
    errors_ = nullptr;
  }
  errors_ = NewErrorSink();
  if (errors_ != nullptr) errors_->AddRef();
}

// ---------------------------------------------------------------------------
// Error reporting helpers

void CNativeDriver::Reset(const char16_t* operation) {
  if (errors_ != nullptr) errors_->Reset(operation);
}

void CNativeDriver::RaiseFramework(
    uint32_t id, std::initializer_list<platform::MessageArg> args,
    uint32_t level) {
  if (errors_ != nullptr) errors_->RaiseFramework(id, args, level);
}

void CNativeDriver::ReportFactoryFailure() {
  if (errors_ != nullptr && errors_->HasError() == 0) {
    errors_->MarkOutOfMemory();
  }
}

int32_t CNativeDriver::ResetErrors() {
  Reset(nullptr);
  return 0;
}

// ---------------------------------------------------------------------------
// Registries

CNativeDriver::ConnectionMap::iterator CNativeDriver::LookupConnection(
    std::u16string_view name) {
  if (connection_cache_ != nullptr && SameName(connection_cache_name_, name)) {
    auto it = connections_.find(connection_cache_name_);
    if (it != connections_.end()) return it;
  }
  auto it = connections_.find(name);
  if (it != connections_.end()) {
    connection_cache_ = &it->second;
    connection_cache_name_ = it->first;
  }
  return it;
}

CNativeDriver::HandleMap::iterator CNativeDriver::LookupHandle(
    std::u16string_view name) {
  if (handle_cache_ != nullptr && SameName(handle_cache_name_, name)) {
    auto it = handles_.find(handle_cache_name_);
    if (it != handles_.end()) return it;
  }
  auto it = handles_.find(name);
  if (it != handles_.end()) {
    handle_cache_ = &it->second;
    handle_cache_name_ = it->first;
  }
  return it;
}

void CNativeDriver::EraseConnection(ConnectionMap::iterator it) {
  if (connection_cache_ == &it->second) connection_cache_ = nullptr;
  IConnection* connection = it->second.connection;
  const uint32_t references = 1 + it->second.open_refs;
  connections_.erase(it);
  for (uint32_t i = 0; i < references; ++i) connection->Release();
}

void CNativeDriver::EraseHandle(HandleMap::iterator it) {
  if (handle_cache_ == &it->second) handle_cache_ = nullptr;
  ITableHandle* handle = it->second.handle;
  handles_.erase(it);
  handle->Release();
}

IConnection* CNativeDriver::ResolveConnection(const ConnectionDesc* cnx) {
  const std::u16string_view name = ConnectionName(cnx);
  auto it = LookupConnection(name);
  if (it == connections_.end()) {
    IConnection* made = CreateConnection(std::u16string(name).c_str(), cnx);
    if (made == nullptr) {
      ReportFactoryFailure();
      return nullptr;
    }
    made->AddRef();  // the registry's reference
    it =
        connections_.emplace(std::u16string(name), ConnectionEntry{made}).first;
  }
  it->second.connection->AddRef();  // the lookup's reference
  return it->second.connection;
}

IConnection* CNativeDriver::FindConnection(const ConnectionDesc* cnx) {
  const std::u16string_view name = ConnectionName(cnx);
  auto it = LookupConnection(name);
  if (it == connections_.end()) {
    RaiseFramework(kErrorInvalidConnection, {platform::MessageArg::Text(name)});
    return nullptr;
  }
  it->second.connection->AddRef();
  return it->second.connection;
}

void CNativeDriver::ReleaseConnection(IConnection* connection) {
  if (connection == nullptr) return;
  const uint32_t left = connection->Release();
  if (left != 1) return;
  // Only the registry's reference is left: a connection marked closed goes.
  for (auto it = connections_.begin(); it != connections_.end(); ++it) {
    if (it->second.connection != connection) continue;
    if (it->second.marked_closed && it->second.open_refs == 0) {
      connection->Close(errors_);
      EraseConnection(it);
    }
    return;
  }
}

IConnection* CNativeDriver::AcquireOpenConnection(const ConnectionDesc* cnx) {
  IConnection* connection = ResolveConnection(cnx);
  if (connection == nullptr) return nullptr;
  if (connection->IsOpen() == 0 && connection->Open(errors_) != 1) {
    ReleaseConnection(connection);
    return nullptr;
  }
  return connection;
}

ITableHandle* CNativeDriver::FindTableHandle(std::u16string_view name) {
  auto it = LookupHandle(name);
  if (it == handles_.end()) return nullptr;
  it->second.handle->AddRef();
  return it->second.handle;
}

// ---------------------------------------------------------------------------
// Connection operations

int32_t CNativeDriver::OpenConnection(const ConnectionDesc* cnx) {
  return Locked(0, [&]() -> int32_t {
    Reset(u"OpenConnection");
    IConnection* connection = ResolveConnection(cnx);
    if (connection == nullptr) return 0;
    const int32_t result = connection->Open(errors_);
    auto it = LookupConnection(connection->GetName());
    if (result == 1) {
      connection->AddRef();
      ++it->second.open_refs;
      it->second.marked_closed = false;
    } else {
      if (it != connections_.end()) EraseConnection(it);
      if (errors_ != nullptr) errors_->SetState(kErrorStateFailed);
    }
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::CloseConnection(const ConnectionDesc* cnx) {
  return Locked(0, [&]() -> int32_t {
    Reset(u"CloseConnection");
    auto it = LookupConnection(ConnectionName(cnx));
    if (it == connections_.end()) return 1;
    IConnection* connection = it->second.connection;
    connection->AddRef();
    if (it->second.open_refs > 0) {
      --it->second.open_refs;
      connection->Release();  // OpenConnection's reference
      if (it->second.open_refs == 0) it->second.marked_closed = true;
    }
    ReleaseConnection(connection);
    return 1;
  });
}

int32_t CNativeDriver::GetConnectionProperty(const ConnectionDesc* cnx,
                                             HostValue* value,
                                             uint32_t options) {
  return Locked(0, [&]() -> int32_t {
    Reset(u"GetConnectionProperty");
    IConnection* connection = ResolveConnection(cnx);
    if (connection == nullptr) return 0;
    const int32_t result = GetConnectionValue(value, connection, options);
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::StartTransaction(const ConnectionDesc* cnx,
                                        const char16_t* name) {
  return Locked(0, [&]() -> int32_t {
    Reset(u"StartTransaction");
    IConnection* connection = ResolveConnection(cnx);
    if (connection == nullptr) return 0;
    const int32_t result = connection->StartTransaction(name);
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::EndTransactionWay(const ConnectionDesc* cnx,
                                         int32_t way) {
  return Locked(0, [&]() -> int32_t {
    IConnection* connection = FindConnection(cnx);
    if (connection == nullptr) return 0;
    const int32_t result = connection->EndTransaction(way);
    if (connection->NeedsTableReset() != 0) {
      for (auto& [name, entry] : handles_) {
        if (SameName(entry.connection, connection->GetName())) {
          entry.handle->Reset();
        }
      }
    }
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::EndTransaction(const ConnectionDesc* cnx) {
  return EndTransactionWay(cnx, 1);
}

int32_t CNativeDriver::EndTransactionEx(const ConnectionDesc* cnx) {
  return EndTransactionWay(cnx, 2);
}

int32_t CNativeDriver::AskConnection(const ConnectionDesc* cnx,
                                     int32_t question) {
  return Locked(0, [&]() -> int32_t {
    IConnection* connection = FindConnection(cnx);
    if (connection == nullptr) return 0;
    int32_t answer = 0;
    if (connection->IsOpen() != 0 || connection->Open(errors_) == 1) {
      answer = connection->Ask(question);
    }
    ReleaseConnection(connection);
    return answer;
  });
}

int32_t CNativeDriver::ConnectionQuery(const ConnectionDesc* cnx) {
  return AskConnection(cnx, 1);
}

int32_t CNativeDriver::ConnectionQueryEx(const ConnectionDesc* cnx) {
  return AskConnection(cnx, 2);
}

int32_t CNativeDriver::ConnectionAction(const ConnectionDesc* cnx,
                                        uintptr_t first, uintptr_t second) {
  return Locked(0, [&]() -> int32_t {
    IConnection* connection = FindConnection(cnx);
    if (connection == nullptr) return 0;
    const int32_t result = connection->Action(first, second);
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::TableFileExists(const ConnectionDesc* cnx,
                                       const FileDesc* file) {
  return Locked(0, [&]() -> int32_t {
    Reset(u"TableFileExists");
    IConnection* connection = AcquireOpenConnection(cnx);
    if (connection == nullptr) return 0;
    const char16_t* path = nullptr;
    if (file != nullptr) path = file->path != nullptr ? file->path : file->name;
    const int32_t result = CheckTableFile(connection, path);
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::PrepareTable(const ConnectionDesc* cnx,
                                    const FileDesc* file) {
  return Locked(0, [&]() -> int32_t {
    IConnection* connection = ResolveConnection(cnx);
    if (connection == nullptr) return 0;
    const int32_t result = PrepareTableHook(connection, file);
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::Unsupported() {
  return Guard(0, [&]() -> int32_t {
    RaiseFramework(kErrorUnsupported, {});
    return 0;
  });
}

int32_t CNativeDriver::UnsupportedEx() {
  return Guard(0, [&]() -> int32_t {
    RaiseFramework(kErrorUnsupported, {}, kUnsupportedExLevel);
    return 0;
  });
}

int32_t CNativeDriver::UnsupportedOnConnection(const ConnectionDesc* cnx) {
  return Locked(0, [&]() -> int32_t {
    IConnection* connection = ResolveConnection(cnx);
    RaiseFramework(kErrorUnsupported, {}, kUnsupportedExLevel);
    ReleaseConnection(connection);
    return 0;
  });
}

// ---------------------------------------------------------------------------
// Table-handle operations

int32_t CNativeDriver::ForEachTableHandle(uintptr_t first, uintptr_t second) {
  return Locked(0, [&]() -> int32_t {
    bool all = true;
    for (auto& [name, entry] : handles_) {
      if (entry.handle->Apply(first, second) != 1) all = false;
    }
    return all ? 1 : 0;
  });
}

void CNativeDriver::ForEachTableHandleEx(uintptr_t first, uintptr_t second) {
  Locked(0, [&]() -> int32_t {
    for (auto& [name, entry] : handles_) entry.handle->Notify(first, second);
    return 1;
  });
}

ITableHandle* CNativeDriver::GetTable(const ConnectionDesc* cnx,
                                      const FileDesc* file) {
  return Locked<ITableHandle*>(nullptr, [&]() -> ITableHandle* {
    Reset(u"GetTable");
    IConnection* connection = ResolveConnection(cnx);
    if (connection == nullptr) return nullptr;
    const std::u16string name(TableName(file));
    ITableHandle* handle = FindTableHandle(name);
    if (handle == nullptr) {
      handle = CreateTableHandle(name.c_str(), file, connection);
      if (handle == nullptr) {
        ReportFactoryFailure();
      } else {
        handle->AddRef();  // the registry's reference
        handles_.emplace(name, HandleEntry{handle, connection->GetName()});
        handle->AddRef();  // the caller's
      }
    }
    ReleaseConnection(connection);
    return handle;
  });
}

int32_t CNativeDriver::OpenTableEx(const ConnectionDesc* cnx,
                                   const FileDesc* file, uint32_t flags) {
  return OpenTable(cnx, file, flags, nullptr);
}

int32_t CNativeDriver::OpenTable(const ConnectionDesc* cnx,
                                 const FileDesc* file, uint32_t flags,
                                 ITableHandle** out) {
  if (out != nullptr) *out = nullptr;
  return Locked(0, [&]() -> int32_t {
    Reset(u"OpenTable");
    IConnection* connection = ResolveConnection(cnx);
    if (connection == nullptr) return 0;
    const std::u16string name(TableName(file));
    ITableHandle* handle = FindTableHandle(name);
    const bool registered = handle != nullptr;
    if (handle == nullptr) {
      handle = CreateTableHandle(name.c_str(), file, connection);
      if (handle == nullptr) {
        ReportFactoryFailure();
        ReleaseConnection(connection);
        return 0;
      }
      handle->AddRef();  // held by this operation
    }
    const int32_t result = handle->Open(file, flags, errors_);
    if (result != 1) {
      if ((flags & kOpenKeepHandle) == 0 && handle->HasOpenTable() == 0) {
        handle->Close();
        if (registered) {
          auto it = LookupHandle(name);
          if (it != handles_.end() && it->second.handle == handle) {
            EraseHandle(it);
          }
        }
      }
      handle->Release();
    } else {
      if (!registered) {
        // This operation's reference becomes the registry's.
        handles_.emplace(name, HandleEntry{handle, connection->GetName()});
      }
      if (out != nullptr) {
        handle->AddRef();
        *out = handle;
      }
      if (registered) handle->Release();  // the lookup's reference
    }
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::CloseTable(const ConnectionDesc* cnx,
                                  const char16_t* table) {
  return Locked(0, [&]() -> int32_t {
    IConnection* connection = ResolveConnection(cnx);
    ITableHandle* handle = FindTableHandle(HostText(table));
    int32_t result = 0;
    if (handle != nullptr) {
      result = handle->Close();
      if (handle->IsForgotten() != 0) {
        auto it = LookupHandle(HostText(table));
        if (it != handles_.end() && it->second.handle == handle) {
          EraseHandle(it);
        }
      }
      handle->Release();
    }
    ReleaseConnection(connection);
    return result;
  });
}

int32_t CNativeDriver::TableCommand(const ConnectionDesc* cnx,
                                    const char16_t* table, uintptr_t argument) {
  return Locked(0, [&]() -> int32_t {
    Reset(u"TableCommand");
    IConnection* connection = AcquireOpenConnection(cnx);
    if (connection == nullptr) return 1;
    ITableHandle* handle = FindTableHandle(HostText(table));
    if (handle != nullptr) {
      handle->Command(argument);
      handle->Release();
    }
    ReleaseConnection(connection);
    return 1;
  });
}

int32_t CNativeDriver::ForgetTableHandle(const ConnectionDesc* cnx,
                                         const char16_t* table) {
  return Locked(0, [&]() -> int32_t {
    IConnection* connection = ResolveConnection(cnx);
    ITableHandle* handle = FindTableHandle(HostText(table));
    if (handle != nullptr) {
      handle->SetForget();
      handle->Release();
    }
    ReleaseConnection(connection);
    return 1;
  });
}

// ---------------------------------------------------------------------------
// Queries

int32_t CNativeDriver::ReleaseQuery(const Query* query) {
  return Locked(0, [&]() -> int32_t {
    if (query == nullptr) return 0;
    auto it = queries_.find(query->id);
    if (it == queries_.end()) return 0;
    ICursor* cursor = it->second;
    queries_.erase(it);
    cursor->Close();
    cursor->Release();
    return 1;
  });
}

int32_t CNativeDriver::NameQuery(const Query* query, const char16_t* name) {
  return Locked(0, [&]() -> int32_t {
    if (query == nullptr) return 0;
    auto it = queries_.find(query->id);
    if (it != queries_.end()) {
      it->second->SetName(name);
      return 1;
    }
    ICursor* cursor = CreateQuery(query);
    if (cursor == nullptr) {
      ReportFactoryFailure();
      return 0;
    }
    cursor->AddRef();
    queries_.emplace(query->id, cursor);
    cursor->SetName(name);
    return 0;
  });
}

// ---------------------------------------------------------------------------
// Values and texts

int32_t CNativeDriver::GetNullValue(HostValue* value) {
  return Guard(0, [&]() -> int32_t {
    if (value == nullptr) return 0;
    SetNullHostValue(value);
    return 1;
  });
}

int32_t CNativeDriver::SetHostValues(uintptr_t first, uintptr_t second) {
  host_values_[0] = first;
  host_values_[1] = second;
  return 1;
}

int32_t CNativeDriver::SetHostValue(uintptr_t value) {
  host_values_[2] = value;
  return 1;
}

uint32_t CNativeDriver::FormatConnectionString(const ConnectionDesc* cnx,
                                               char16_t* buffer,
                                               uint32_t capacity) {
  return Guard(0u, [&]() -> uint32_t {
    if (cnx == nullptr) return CopyToBuffer(u"", buffer, capacity);
    auto part = [](const char16_t* text) {
      return text == nullptr ? std::u16string(u"NULL") : std::u16string(text);
    };
    std::u16string text =
        u"Connection=" + part(cnx->name) + u";Provider=" + part(cnx->provider) +
        u";ExtendedInformation=" + part(cnx->extended_info) + u";Data source=" +
        part(cnx->data_source) + u";user id=" + part(cnx->user) +
        u";password=" + part(cnx->password) + u";access=" +
        (cnx->access_mode == kAccessReadOnly ? u"R" : u"RW");
    return CopyToBuffer(text, buffer, capacity);
  });
}

// ---------------------------------------------------------------------------
// Factories: objects come with a count of 0; the taker adds the first
// reference.

IFrameworkObject* CNativeDriver::CreateBaseObjectA() {
  IFrameworkObject* made =
      new (std::nothrow) CFrameworkObject(kFrameworkObjectA);
  if (made == nullptr && errors_ != nullptr) errors_->MarkOutOfMemory();
  return made;
}

IFrameworkObject* CNativeDriver::CreateBaseObjectB() {
  return new (std::nothrow) CFrameworkObject(kFrameworkObjectB);
}

IFrameworkObject* CNativeDriver::CreateBaseObjectC() {
  return new (std::nothrow) CFrameworkObject(kFrameworkObjectC);
}

IFrameworkObject* CNativeDriver::CreateBaseObjectD() {
  return new (std::nothrow) CFrameworkObject(kFrameworkObjectD);
}

IFrameworkObject* CNativeDriver::CreateStatementBuilder() {
  return new (std::nothrow) CFrameworkObject(kFrameworkStatementBuilder);
}

IItemValue* CNativeDriver::CreateItemValue(uint8_t item_type) {
  if (!CNativeItemValue::Supports(item_type)) return nullptr;
  return new (std::nothrow) CNativeItemValue(item_type);
}

IErrorContext* CNativeDriver::CreateErrorContext() {
  return Guard<IErrorContext*>(nullptr, [&] { return NewErrorSink(); });
}

IItem* CNativeDriver::CreateItem() { return new (std::nothrow) CNativeItem(); }

}  // namespace qx::framework
