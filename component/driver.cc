// The xBase driver object.
#include "component/driver.h"

#include <new>
#include <string>
#include <vector>

#include "access/connection/table_listing.h"
#include "access/connection/table_path.h"
#include "access/connection/xbase_connection.h"
#include "access/table/compound_keys.h"
#include "access/table/index_association.h"
#include "access/table/index_paths.h"
#include "access/table/xbase_cursor.h"
#include "access/table/xbase_description.h"
#include "access/table/xbase_table.h"
#include "access/table/xbase_table_handle.h"
#include "component/component_state.h"
#include "component/proxy.h"
#include "framework/host_value.h"
#include "framework/names.h"
#include "framework/native_objects.h"

namespace qx::component {
namespace {

using access::ErrorReport;
using framework::HostText;
using platform::MessageArg;

// Internal error ids and debug units and sites of the driver's reports.
constexpr uint32_t kErrorConnectionOpen = 1004;
constexpr uint32_t kErrorNoFile = 1032;
constexpr uint32_t kErrorNoPriorOpen = 1067;
constexpr uint32_t kErrorKeyNameNeeded = 1068;
constexpr uint32_t kUnitConnection = 101;
constexpr uint32_t kSiteOpenByPath = 12;
constexpr uint32_t kSiteDirectOpen = 25;

// A memo item's value: its size follows its contents.
class CXBaseMemoValue final : public framework::CNativeItemValue {
 public:
  explicit CXBaseMemoValue(uint8_t item_type) : CNativeItemValue(item_type) {}
  int32_t HasFixedSize() override { return 0; }
  void Destroy() override { delete this; }

 private:
  ~CXBaseMemoValue() override = default;
};

bool IsMemoItemType(uint8_t item_type) {
  return item_type == kItemTextMemo || item_type == kItemBinaryMemo ||
         item_type == kItemUnicodeMemo;
}

// Whether an index file name needs a key name: MDX and CDX files hold
// several keys.
bool IsMultiKeyIndex(std::u16string_view index_file) {
  const std::u16string extension = access::SplitPath(index_file).extension;
  return framework::SameName(extension, u".mdx") ||
         framework::SameName(extension, u".cdx");
}

}  // namespace

access::CErrorContext* CXBaseDriver::xerrors() const {
  return access::AsErrorContext(errors());
}

framework::CNativeErrorSink* CXBaseDriver::NewErrorSink() {
  return new (std::nothrow) access::CErrorContext();
}

void CXBaseDriver::Destroy() {
  direct_opens_.Clear();
  for (CXBaseProxy* proxy : proxies_) proxy->Unbind();
  proxies_.clear();
  ReleaseAll();
  if (Component().current_driver == this) Component().current_driver = nullptr;
  delete this;
}

// ---------------------------------------------------------------------------
// Factories

IConnection* CXBaseDriver::CreateConnection(const char16_t* name,
                                            const ConnectionDesc* cnx) {
  return Guard<IConnection*>(nullptr, [&]() -> IConnection* {
    return new access::CXBaseConnection(HostText(name), cnx);
  });
}

IItemValue* CXBaseDriver::CreateItemValue(uint8_t item_type) {
  if (IsMemoItemType(item_type)) {
    return new (std::nothrow) CXBaseMemoValue(item_type);
  }
  return CNativeDriver::CreateItemValue(item_type);
}

IDescription* CXBaseDriver::CreateDescription(const FileDesc* file,
                                              IConnection* connection) {
  return Guard<IDescription*>(nullptr, [&]() -> IDescription* {
    auto* description = new access::CXBaseDescription(
        connection == nullptr ? u"" : HostText(connection->GetDataSource()));
    if (file != nullptr) description->set_name(HostText(file->name));
    return description;
  });
}

ITable* CXBaseDriver::CreateTable(const FileDesc* file, IConnection* connection,
                                  uint32_t options) {
  return Guard<ITable*>(nullptr, [&]() -> ITable* {
    auto* table = new access::CXBaseTable(
        file, access::InfoOfConnection(connection), options);
    // Until its Open names another, a new table reports into the driver's
    // context: creating its files needs no Open.
    table->SetErrors(errors());
    return table;
  });
}

ICursor* CXBaseDriver::CreateQuery(const Query* query) {
  return Locked<ICursor*>(nullptr, [&]() -> ICursor* {
    access::CXBaseTableHandle* table_handle = nullptr;
    ITableHandle* found = query == nullptr
                              ? nullptr
                              : FindTableHandle(HostText(query->table_name));
    if (found != nullptr) {
      table_handle = dynamic_cast<access::CXBaseTableHandle*>(found);
    }
    auto* cursor = new access::CXBaseCursor(query, table_handle, errors());
    if (found != nullptr) found->Release();
    return cursor;
  });
}

ITableHandle* CXBaseDriver::CreateTableHandle(const char16_t* name,
                                              const FileDesc* file,
                                              IConnection* connection) {
  return Guard<ITableHandle*>(nullptr, [&]() -> ITableHandle* {
    return new access::CXBaseTableHandle(HostText(name), file,
                                         access::InfoOfConnection(connection));
  });
}

ITableHandle* CXBaseDriver::GetTable(const ConnectionDesc* cnx,
                                     const FileDesc* file) {
  ITableHandle* handle = CNativeDriver::GetTable(cnx, file);
  if (handle != nullptr) {
    Guard(0, [&] {
      access::PrepareCompoundKeys(file);
      return 1;
    });
  }
  return handle;
}

// The xBase driver has no description made from a file alone.
IDescription* CXBaseDriver::OpenFileDescription(const char16_t* /*path*/) {
  return nullptr;
}

// ---------------------------------------------------------------------------
// File operations

int32_t CXBaseDriver::GetConnectionValue(HostValue* value,
                                         IConnection* connection,
                                         uint32_t options) {
  return Locked(0, [&]() -> int32_t {
    if (value == nullptr || connection == nullptr) return 0;
    std::u16string list;
    const int32_t result =
        access::ListConnectionTables(connection, options, errors(), &list);
    // The list goes to the host as a UTF-16 text made by its conversion
    // service, empty when the directory does not exist.
    if (!framework::SetUnicodeTextValue(value, list)) return 0;
    return result;
  });
}

int32_t CXBaseDriver::CheckTableFile(IConnection* connection,
                                     const char16_t* path) {
  return Guard(0, [&]() -> int32_t {
    if (connection == nullptr) return 0;
    return access::CheckTableFile(connection, HostText(path), xerrors());
  });
}

int32_t CXBaseDriver::PrepareTableHook(IConnection* /*connection*/,
                                       const FileDesc* /*file*/) {
  return 1;
}

IDescription* CXBaseDriver::OpenDescription(const char16_t* path,
                                            const char16_t* logical_name,
                                            IConnection* connection) {
  return Guard<IDescription*>(nullptr, [&]() -> IDescription* {
    if (connection == nullptr) return nullptr;
    if (connection->IsOpen() == 0 && connection->Open(errors()) != 1) {
      return nullptr;
    }
    // A bare name or a relative path lies in the connection's directory.
    const std::u16string data_source(HostText(connection->GetDataSource()));
    std::u16string full_path;
    if (!access::ResolveTablePath(data_source, HostText(path), u"", xerrors(),
                                  &full_path)) {
      return nullptr;
    }
    auto* description = new access::CXBaseDescription(data_source);
    description->AddRef();
    if (!description->Fill(HostText(logical_name), full_path, xerrors())) {
      description->Release();
      return nullptr;
    }
    return description;
  });
}

IDescription* CXBaseDriver::OpenTableByPath(const char16_t* path,
                                            const ConnectionDesc* cnx) {
  return Locked<IDescription*>(nullptr, [&]() -> IDescription* {
    Reset(u"OpenTableByPath");
    IConnection* connection = ResolveConnection(cnx);
    if (connection == nullptr) return nullptr;
    IDescription* description = nullptr;
    std::u16string full_path;
    if (access::ResolveTablePath(HostText(connection->GetDataSource()),
                                 HostText(path), u"", xerrors(), &full_path)) {
      if (!access::TableFileExists(full_path)) {
        ErrorReport report;
        report.id = kErrorNoFile;
        report.args = {MessageArg::Text(full_path)};
        report.table = HostText(path);
        report.unit = kUnitConnection;
        report.site = kSiteOpenByPath;
        access::ReportError(xerrors(), report);
      } else {
        description = OpenDescription(full_path.c_str(), path, connection);
        if (auto* xbase =
                dynamic_cast<access::CXBaseDescription*>(description)) {
          access::AssociateIndexesBeside(xbase);
        }
      }
    }
    ReleaseConnection(connection);
    return description;
  });
}

// ---------------------------------------------------------------------------
// Direct-open services

IDescription* CXBaseDriver::OpenTableDirect(const char16_t* path,
                                            const char16_t* logical_name,
                                            const ConnectionDesc* cnx,
                                            uint32_t flags,
                                            const void* host_connection) {
  return Locked<IDescription*>(nullptr, [&]() -> IDescription* {
    Reset(u"OpenTableDirect");
    IConnection* connection = AcquireOpenConnection(cnx);
    if (connection == nullptr) {
      ErrorReport report;
      report.id = kErrorConnectionOpen;
      report.args = {
          MessageArg::Text(cnx == nullptr ? u"" : HostText(cnx->name))};
      report.unit = kUnitConnection;
      report.site = kSiteDirectOpen;
      access::ReportError(xerrors(), report);
      return nullptr;
    }
    IDescription* description = OpenDescription(path, logical_name, connection);
    if (description != nullptr) {
      direct_opens_.Record(description, host_connection, flags);
    }
    ReleaseConnection(connection);
    return description;
  });
}

IDescription* CXBaseDriver::AttachIndex(const char16_t* index_file,
                                        const char16_t* key_name,
                                        const ConnectionDesc* cnx,
                                        const FileDesc* file,
                                        const void* host_connection) {
  return Locked<IDescription*>(nullptr, [&]() -> IDescription* {
    Reset(u"AttachIndex");
    IConnection* connection = AcquireOpenConnection(cnx);
    if (connection == nullptr) {
      ErrorReport report;
      report.id = kErrorConnectionOpen;
      report.args = {
          MessageArg::Text(cnx == nullptr ? u"" : HostText(cnx->name))};
      access::ReportError(xerrors(), report);
      return nullptr;
    }
    const std::u16string_view table =
        file == nullptr ? std::u16string_view() : HostText(file->name);
    IDescription* description = nullptr;
    if (const DirectOpenList::Entry* entry =
            direct_opens_.Find(table, host_connection)) {
      description = entry->description;
    } else if (ITableHandle* handle = FindTableHandle(table)) {
      description = handle->GetDescription();
      handle->Release();
    }
    ErrorReport report;
    report.table = table;
    report.item = HostText(key_name);
    report.args = {MessageArg::Text(HostText(index_file))};
    if (description == nullptr) {
      report.id = kErrorNoPriorOpen;
      access::ReportError(xerrors(), report);
    } else if (HostText(key_name).empty() &&
               IsMultiKeyIndex(HostText(index_file))) {
      report.id = kErrorKeyNameNeeded;
      access::ReportError(xerrors(), report);
      description = nullptr;
    } else if (auto* xbase =
                   dynamic_cast<access::CXBaseDescription*>(description)) {
      const std::u16string index_path =
          access::IndexPathOf(xbase->path(), HostText(index_file));
      std::vector<access::CXBaseItem*> added;
      if (access::AssociateIndexFile(xbase, xbase->path(), index_path,
                                     HostText(key_name), false, &added,
                                     xerrors()) == 1) {
        // An open table sees the new keys at once.
        if (ITableHandle* handle = GetTable(cnx, file)) {
          std::vector<IItem*> items(added.begin(), added.end());
          handle->AddKeyItems(items.data(), static_cast<uint32_t>(items.size()),
                              index_path.c_str());
          handle->Release();
        }
        description->AddRef();
      } else {
        description = nullptr;
      }
    } else {
      description = nullptr;
    }
    ReleaseConnection(connection);
    return description;
  });
}

}  // namespace qx::component
