// The xBase connection: engine start on first open.
#include "access/connection/xbase_connection.h"

#include "access/connection/driver_options.h"
#include "access/errors/error_context.h"
#include "framework/names.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

// kbdinit's arguments; the engine accepts and ignores them.
constexpr int16_t kEngineMemory = 32767;
constexpr int16_t kEngineFiles = 4;

constexpr uint32_t kErrorEngineStart = 1000;
constexpr uint32_t kUnitConnectionOpen = 103;
constexpr uint32_t kSiteEngineStart = 1;

}  // namespace

CXBaseConnection::CXBaseConnection(std::u16string_view name,
                                   const ConnectionDesc* desc)
    : CNativeConnection(name, desc) {
  const std::u16string value =
      framework::ExtendedInfoValue(extended_info(), u"OEMTOANSI");
  oem_conversion_ = framework::SameName(value, u"WINDOWS") ? 1 : 0;
}

int32_t CXBaseConnection::Open(IErrorContext* errors) {
  DriverOptions& options = Options();
  if (options.engine_started) return 1;
  if (kbdinit(kEngineMemory, kEngineFiles) != kKbdOk) {
    ErrorReport report;
    report.id = kErrorEngineStart;
    report.unit = kUnitConnectionOpen;
    report.site = kSiteEngineStart;
    ReportError(AsErrorContext(errors), report);
    return 0;
  }
  kbdsetsync(options.sync_writes != 0 ? 1 : 0);
  options.engine_started = true;
  return 1;
}

int32_t CXBaseConnection::IsOpen() { return Options().engine_started ? 1 : 0; }

int32_t CXBaseConnection::Close(IErrorContext* /*errors*/) { return 1; }

}  // namespace qx::access
