// The proxy of interface 191.
#include "component/proxy.h"

#include "component/driver.h"
#include "qx/engine.h"

namespace qx::component {

CXBaseProxy::CXBaseProxy(CXBaseDriver* driver) : driver_(driver) {
  if (driver_ != nullptr) driver_->BindProxy(this);
}

void CXBaseProxy::Destroy() {
  if (driver_ != nullptr) driver_->UnbindProxy(this);
  delete this;
}

IErrorContext* CXBaseProxy::GetErrorContext() {
  return driver_ == nullptr ? nullptr : driver_->GetErrorContext();
}

IDescription* CXBaseProxy::OpenTableDirect(const char16_t* path,
                                           const char16_t* logical_name,
                                           const ConnectionDesc* cnx,
                                           uint32_t flags,
                                           const void* host_connection) {
  if (driver_ == nullptr) return nullptr;
  return driver_->OpenTableDirect(path, logical_name, cnx, flags,
                                  host_connection);
}

IDescription* CXBaseProxy::AttachIndex(const char16_t* index_file,
                                       const char16_t* key_name,
                                       const ConnectionDesc* cnx,
                                       const FileDesc* file,
                                       const void* host_connection) {
  if (driver_ == nullptr) return nullptr;
  return driver_->AttachIndex(index_file, key_name, cnx, file, host_connection);
}

int32_t CXBaseProxy::ForgetTable(const ConnectionDesc* cnx,
                                 const char16_t* table) {
  if (driver_ == nullptr) return 0;
  return driver_->ForgetTableHandle(cnx, table);
}

// The engine's collation switch: 1 byte (ASCII) order, 0 the collation
// table; -1 only reads it. Works whether or not the engine runs.
int32_t CXBaseProxy::SetAsciiSort(int32_t value) {
  const int16_t set = value == -1 ? 0 : 1;
  const int16_t ascii = value == 1 ? 1 : 0;
  return kbdsetsort(ascii, set) == 1 ? 1 : 0;
}

}  // namespace qx::component
