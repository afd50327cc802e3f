// The error definition table of the driver and the formatting of message
// resources.
//
// An error is raised by internal id. The definition table turns the id into
// a resource string id, a detail id and a level; the message is the
// resource text formatted with the raise's inserts. Rows are searched
// linearly and the first row with the id wins. Ids below 1000 are the rows
// shared with the platform's other drivers (framework/error_sink.h names
// them); ids 1000 and up are the xBase driver's, whose detail id equals
// their resource id.
//
// A module descriptor ties a table to the loader of its texts. The driver's
// loader asks the host's message provider first (when the host registered
// one) and then the message store compiled into the component.
#ifndef QX_ACCESS_ERRORS_ERROR_DEF_H_
#define QX_ACCESS_ERRORS_ERROR_DEF_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qx::access {

// Error levels. Never renumber.
enum ErrorLevel : uint32_t {
  kLevelNone = 1,      // EL_NONE: setting it clears the error
  kLevelOnReturn = 2,  // EL_ONRETURN: non-fatal, reported on return
  kLevelFatal = 3,     // EL_FATAL
};

// One row: 16 bytes, four unsigned 32-bit fields in this order.
struct ErrorDefinition {
  uint32_t id;
  uint32_t resource_id;
  uint32_t detail_id;
  uint32_t level;
};

// Loads the text of a resource id; false when it cannot be loaded.
using ResourceLoader = bool (*)(uint32_t resource_id, std::u16string* text);

struct ErrorModule {
  const ErrorDefinition* rows;
  uint32_t row_count;
  ResourceLoader loader;
  std::u16string_view name;     // module name shown in dumps
  std::u16string_view version;  // module version shown in dumps
};

// The driver's table (rows 12, 34, 40, 41 and every xBase row) and module.
extern const ErrorDefinition gstErrorDef[];
extern const uint32_t kErrorDefCount;
const ErrorModule& DriverModule();

// The driver's loader: the host's provider, then the message store.
bool LoadDriverResource(uint32_t resource_id, std::u16string* text);

// The first row of id, or null.
const ErrorDefinition* FindErrorDefinition(const ErrorModule& module,
                                           uint32_t id);

// The resource text of resource_id formatted with args. A resource that
// cannot be loaded gives "##(CXError)-Ressource <id> non chargée##"; an
// empty one "##(CXError)-Ressource <id> vide. LastError = <n>##" with the
// platform's last error.
std::u16string FormatResource(const ErrorModule& module, uint32_t resource_id,
                              std::span<const platform::MessageArg> args);

// The diagnostic text of an id without a definition.
std::u16string MissingDefinitionText(uint32_t id);

// The module code and component version of the debug lines.
inline constexpr std::u16string_view kModuleCode = u"QXDB";
inline constexpr std::u16string_view kComponentVersionText = u"18.0.6.1";

// "IEQXDB=<unit>.<site>\r\nModule=<QXDB>\r\nVersion=<18.0.6.1>"
std::u16string DebugLine(uint32_t unit, uint32_t site);

// The category an access-layer error is handed over with: 2 for the record
// lock error 1041, 3 for the duplicate error 1053, else 0.
int32_t CategoryOfError(uint32_t id);

}  // namespace qx::access

#endif  // QX_ACCESS_ERRORS_ERROR_DEF_H_
