// CXBaseConnection: a connection of the xBase driver, a directory.
//
// Opening the first connection starts the xBase engine (kbdinit with 32767
// and 4, then the SYNCWRITES option through kbdsetsync); the engine then
// runs for every connection until TermLibrary, so "is open" answers
// whether it runs and close does nothing. The connection keeps, beyond the
// framework's connection, the limit value 10 (for the framework) and the
// OEM conversion flag from the extended-information option OEMTOANSI.
#ifndef QX_ACCESS_CONNECTION_XBASE_CONNECTION_H_
#define QX_ACCESS_CONNECTION_XBASE_CONNECTION_H_

#include <cstdint>
#include <string_view>

#include "framework/native_connection.h"

namespace qx::access {

class CXBaseConnection final : public framework::CNativeConnection {
 public:
  CXBaseConnection(std::u16string_view name, const ConnectionDesc* desc);

  int32_t Open(IErrorContext* errors) override;
  int32_t IsOpen() override;
  int32_t Close(IErrorContext* errors) override;
  void Destroy() override { delete this; }

  // 1 when the extended information holds OEMTOANSI=WINDOWS (without
  // regard to case): texts convert with the platform's whole OEM table.
  uint32_t oem_conversion() const { return oem_conversion_; }
  uint32_t limit() const { return limit_; }

 private:
  ~CXBaseConnection() override = default;

  uint32_t limit_ = 10;
  uint32_t oem_conversion_ = 0;
};

}  // namespace qx::access

#endif  // QX_ACCESS_CONNECTION_XBASE_CONNECTION_H_
