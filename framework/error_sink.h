// What the framework asks of an error context.
//
// The driver objects report every failure into the error context the
// driver holds (IErrorContext for the host). The framework raises only its
// own shared errors; the access layer's error context (CErrorContext)
// implements this class and the access layer raises its own errors there
// with their full detail.
#ifndef QX_FRAMEWORK_ERROR_SINK_H_
#define QX_FRAMEWORK_ERROR_SINK_H_

#include <cstdint>
#include <initializer_list>

#include "platform/platform.h"
#include "qx/driver.h"

namespace qx::framework {

// The framework's error ids: rows below 1000 of the driver's error
// definition table, shared with the platform's other drivers. 12 and 34
// are the platform's; 40 and 41 are ours, not the platform's. Never
// renumber.
enum FrameworkErrorId : uint32_t {
  kErrorOutOfMemory = 12,        // "Mémoire insuffisante pour réaliser..."
  kErrorReindexKey = 34,         // "Erreur lors de la réindexation..."
  kErrorUnsupported = 40,        // "Opération non supportée."
  kErrorInvalidConnection = 41,  // "La connexion <%1!s!> n'est pas une..."
};

// Level given to "Opération non supportée." by UnsupportedEx and
// UnsupportedOnConnection (a level outside the named ones).
constexpr uint32_t kUnsupportedExLevel = 7;

class CNativeErrorSink : public IErrorContext {
 public:
  // Raises a framework error with its text inserts and hands it over with
  // category 0. level 0 keeps the level of the error's definition.
  virtual void RaiseFramework(uint32_t id,
                              std::initializer_list<platform::MessageArg> args,
                              uint32_t level) = 0;
  // An allocation failed: state kErrorStateOutOfMemory and error 12.
  virtual void MarkOutOfMemory() = 0;

 protected:
  ~CNativeErrorSink() = default;
};

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_ERROR_SINK_H_
