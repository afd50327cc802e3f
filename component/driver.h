// CXBaseDriver: the xBase driver object that piQueryInterface hands out.
//
// It keeps the framework's base behaviour (framework/native_driver.h) and
// replaces the factories and the operations that touch files: connections
// are directories (access/connection), which list their tables and check
// a table file against the connection's directory; descriptions, tables,
// table handles and cursors are the access layer's (access/table); the
// proxy's direct opens are kept in the driver's direct-open list, and
// AttachIndex associates index files with the tables opened before.
#ifndef QX_COMPONENT_DRIVER_H_
#define QX_COMPONENT_DRIVER_H_

#include <cstdint>
#include <set>

#include "access/errors/error_context.h"
#include "component/direct_open_list.h"
#include "framework/native_driver.h"

namespace qx::component {

class CXBaseProxy;

class CXBaseDriver final : public framework::CNativeDriver {
 public:
  CXBaseDriver() = default;

  // The xBase operations of the driver table.
  ITableHandle* GetTable(const ConnectionDesc* cnx,
                         const FileDesc* file) override;
  IDescription* OpenTableByPath(const char16_t* path,
                                const ConnectionDesc* cnx) override;
  void Destroy() override;
  IDescription* CreateDescription(const FileDesc* file,
                                  IConnection* connection) override;
  ITable* CreateTable(const FileDesc* file, IConnection* connection,
                      uint32_t options) override;
  ICursor* CreateQuery(const Query* query) override;
  IItemValue* CreateItemValue(uint8_t item_type) override;
  IDescription* OpenFileDescription(const char16_t* path) override;
  IConnection* CreateConnection(const char16_t* name,
                                const ConnectionDesc* cnx) override;
  ITableHandle* CreateTableHandle(const char16_t* name, const FileDesc* file,
                                  IConnection* connection) override;
  int32_t GetConnectionValue(HostValue* value, IConnection* connection,
                             uint32_t options) override;
  int32_t CheckTableFile(IConnection* connection,
                         const char16_t* path) override;
  int32_t PrepareTableHook(IConnection* connection,
                           const FileDesc* file) override;
  IDescription* OpenDescription(const char16_t* path,
                                const char16_t* logical_name,
                                IConnection* connection) override;

  // The proxy's direct-open services.
  IDescription* OpenTableDirect(const char16_t* path,
                                const char16_t* logical_name,
                                const ConnectionDesc* cnx, uint32_t flags,
                                const void* host_connection);
  IDescription* AttachIndex(const char16_t* index_file,
                            const char16_t* key_name, const ConnectionDesc* cnx,
                            const FileDesc* file, const void* host_connection);

  DirectOpenList& direct_opens() { return direct_opens_; }
  access::CErrorContext* xerrors() const;

  // Proxies bound to this driver; a driver that goes unbinds them, so a
  // proxy never reaches a destroyed driver.
  void BindProxy(CXBaseProxy* proxy) { proxies_.insert(proxy); }
  void UnbindProxy(CXBaseProxy* proxy) { proxies_.erase(proxy); }

 protected:
  framework::CNativeErrorSink* NewErrorSink() override;

 private:
  ~CXBaseDriver() override = default;

  DirectOpenList direct_opens_;
  std::set<CXBaseProxy*> proxies_;
};

}  // namespace qx::component

#endif  // QX_COMPONENT_DRIVER_H_
