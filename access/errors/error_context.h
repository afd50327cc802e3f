// CErrorContext, the error sink of a driver, and how the access layer
// reports a failure into it.
//
// The context keeps the first error handed to it since its last reset as
// the main error; every later error becomes a sub-error of the main one
// (the first sub-error's message is also appended to the main message), so
// the first failure of a host operation stays the one the host shows. The
// host reads the held error through IErrorContext.
//
// Reporting a failure (ReportError) runs these steps: raise the id with its
// inserts; item 6 the table's logical name and, when given, item 7 the item
// or key name; item 16 the internal id; the debug line of (unit, site);
// after an engine failure the engine status's texts; then hand the error to
// the sink with the category of its id. The engine texts are added before
// the error is handed over so that they travel with it, as main error or as
// sub-error.
#ifndef QX_ACCESS_ERRORS_ERROR_CONTEXT_H_
#define QX_ACCESS_ERRORS_ERROR_CONTEXT_H_

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "access/errors/cx_error.h"
#include "framework/error_sink.h"
#include "framework/ref_counted.h"

namespace qx::access {

// An object that adds its own information to an error handed over while
// it works (a table or a cursor).
class ErrorContextObject {
 public:
  virtual void AddErrorInformation(CXError* error) = 0;

 protected:
  ~ErrorContextObject() = default;
};

class CErrorContext final
    : public framework::RefCounted<framework::CNativeErrorSink> {
 public:
  CErrorContext() = default;
  CErrorContext(const CErrorContext&) = delete;
  CErrorContext& operator=(const CErrorContext&) = delete;

  // IErrorContext.
  void Reset(const char16_t* operation) override;
  int32_t State() override { return state_; }
  void SetState(int32_t state) override { state_ = state; }
  int32_t HasError() override { return error_.has_value() ? 1 : 0; }
  uint32_t ErrorId() override;
  uint32_t Level() override;
  int32_t Category() override { return category_; }
  uint32_t SubErrorCount() override;
  uint32_t CopyMessage(char16_t* buffer, uint32_t capacity) override;
  uint32_t CopyDebugInfo(char16_t* buffer, uint32_t capacity) override;
  uint32_t CopyDump(uint32_t flags, char16_t* buffer,
                    uint32_t capacity) override;
  void Destroy() override { delete this; }

  // CNativeErrorSink.
  void RaiseFramework(uint32_t id,
                      std::initializer_list<platform::MessageArg> args,
                      uint32_t level) override;
  void MarkOutOfMemory() override;

  // Hands an error over (see the file comment). The context object, when
  // given and allowed, adds its information to a new main error.
  void Handle(int32_t category, const CXError& error,
              ErrorContextObject* context);

  // The held main error, or null.
  const CXError* error() const { return error_ ? &*error_ : nullptr; }
  const std::u16string& operation() const { return operation_; }
  void set_allow_context_information(bool allow) { allow_context_ = allow; }

 private:
  ~CErrorContext() = default;

  std::optional<CXError> error_;  // the main error since the last reset
  int32_t category_ = 0;
  int32_t state_ = kErrorStateNone;
  std::u16string operation_;  // named by the last reset
  bool allow_context_ = true;
};

// The access layer's view of an error context the driver handed over: null
// when it is not a CErrorContext.
inline CErrorContext* AsErrorContext(IErrorContext* errors) {
  return dynamic_cast<CErrorContext*>(errors);
}

// Appends the engine status's texts: the short text to the user message,
// the detail text to the user message, or to the debug information for the
// statuses that speak of the caller's own mistakes (-9, -10, -12, -13, -21)
// and of the engine's inner failures (-58, -59). Statuses without texts
// (system errors) add nothing.
void AddEngineStatusTexts(CXError* error, int32_t status);

// One failure of the access layer.
struct ErrorReport {
  uint32_t id = 0;
  std::vector<platform::MessageArg> args;
  std::u16string table;  // item 6, logical table name
  std::u16string item;   // item 7 when not empty
  uint32_t unit = 0;     // debug line: raising unit and site
  uint32_t site = 0;
  std::optional<int32_t> engine_status;  // set after an engine failure
  ErrorContextObject* context = nullptr;
  // The category handed over when it is not the id's own (a file lock
  // refused because another process holds the file: 2).
  std::optional<int32_t> category;
};

// Runs the reporting steps into sink; with no sink the error is built and
// discarded. Answers the error as built (for callers that keep it).
CXError ReportError(CErrorContext* sink, const ErrorReport& report);

// Raise into sink: raises id, adds the debug line of (unit, site) and
// hands the error over with `category`.
void RaiseIntoSink(CErrorContext* sink, int32_t category, uint32_t unit,
                   uint32_t site, ErrorContextObject* context, uint32_t id,
                   std::initializer_list<platform::MessageArg> args);

}  // namespace qx::access

#endif  // QX_ACCESS_ERRORS_ERROR_CONTEXT_H_
