// CXBaseProxy: the proxy object of interface 191 (pQueryProxy).
//
// Direct-open services on the driver that was current when the proxy was
// made. The proxy holds no reference to that driver (the host keeps the
// driver alive); a driver destroyed first unbinds its proxies, whose
// operations then answer their failure results.
#ifndef QX_COMPONENT_PROXY_H_
#define QX_COMPONENT_PROXY_H_

#include <cstdint>

#include "framework/ref_counted.h"
#include "qx/driver.h"

namespace qx::component {

class CXBaseDriver;

class CXBaseProxy final : public framework::RefCounted<IProxy> {
 public:
  explicit CXBaseProxy(CXBaseDriver* driver);
  CXBaseProxy(const CXBaseProxy&) = delete;
  CXBaseProxy& operator=(const CXBaseProxy&) = delete;

  uint32_t GetProxyKind() override { return 2; }
  uint32_t GetProxyKind2() override { return 2; }
  uint32_t GetCapabilities() override { return 0xFFFFFFFF; }
  uint32_t GetCapabilitiesEx() override { return 0xFFFFFFFF; }
  void Idle() override {}
  IErrorContext* GetErrorContext() override;
  IDescription* OpenTableDirect(const char16_t* path,
                                const char16_t* logical_name,
                                const ConnectionDesc* cnx, uint32_t flags,
                                const void* host_connection) override;
  IDescription* AttachIndex(const char16_t* index_file,
                            const char16_t* key_name, const ConnectionDesc* cnx,
                            const FileDesc* file,
                            const void* host_connection) override;
  int32_t ForgetTable(const ConnectionDesc* cnx,
                      const char16_t* table) override;
  int32_t SetAsciiSort(int32_t value) override;
  void Reserved1() override {}
  void Reserved2() override {}
  void Reserved3() override {}
  void Reserved4() override {}
  void Reserved5() override {}
  void Reserved6() override {}
  void Reserved7() override {}
  void Reserved8() override {}
  void Reserved9() override {}
  void Reserved10() override {}
  void Reserved11() override {}
  void Destroy() override;

  CXBaseDriver* driver() const { return driver_; }
  // The driver goes: the proxy forgets it.
  void Unbind() { driver_ = nullptr; }

 private:
  ~CXBaseProxy() = default;

  CXBaseDriver* driver_;  // not counted; null once unbound
};

}  // namespace qx::component

#endif  // QX_COMPONENT_PROXY_H_
