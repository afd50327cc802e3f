// The error sink and the access layer's reporting steps.
#include "access/errors/error_context.h"

#include "access/adapter/status_texts.h"
#include "framework/guard.h"
#include "framework/names.h"
#include "qx/engine.h"

namespace qx::access {

void CErrorContext::Reset(const char16_t* operation) {
  error_.reset();
  category_ = kCategoryGeneral;
  state_ = kErrorStateNone;
  // Hosts reset before every call: the name is copied only when it
  // changes.
  framework::GuardedVoid([&] {
    const std::u16string_view name = framework::HostText(operation);
    if (operation_ != name) operation_ = name;
  });
}

uint32_t CErrorContext::ErrorId() { return error_ ? error_->id() : 0; }

uint32_t CErrorContext::Level() { return error_ ? error_->level() : 0; }

uint32_t CErrorContext::SubErrorCount() {
  return error_ ? static_cast<uint32_t>(error_->sub_errors().size()) : 0;
}

uint32_t CErrorContext::CopyMessage(char16_t* buffer, uint32_t capacity) {
  return framework::CopyToBuffer(
      error_ ? std::u16string_view(error_->user_message()) : u"", buffer,
      capacity);
}

uint32_t CErrorContext::CopyDebugInfo(char16_t* buffer, uint32_t capacity) {
  return framework::CopyToBuffer(
      error_ ? std::u16string_view(error_->debug_info()) : u"", buffer,
      capacity);
}

// The dump is built for the call; without memory for it the host gets an
// empty text.
uint32_t CErrorContext::CopyDump(uint32_t flags, char16_t* buffer,
                                 uint32_t capacity) {
  return framework::Guarded(
      framework::CopyToBuffer(u"", buffer, capacity), [&] {
        return framework::CopyToBuffer(error_ ? error_->Dump(flags) : u"",
                                       buffer, capacity);
      });
}

void CErrorContext::Handle(int32_t category, const CXError& error,
                           ErrorContextObject* context) {
  if (!error_.has_value()) {
    error_ = error;
    category_ = category;
    if (state_ == kErrorStateNone) state_ = kErrorStateError;
    if (context != nullptr && allow_context_) {
      context->AddErrorInformation(&*error_);
    }
    return;
  }
  error_->AddSubError(error);
  if (error_->sub_errors().size() == 1) {
    error_->AppendMessageText(error.user_message());
  }
}

void CErrorContext::RaiseFramework(
    uint32_t id, std::initializer_list<platform::MessageArg> args,
    uint32_t level) {
  CXError error;
  error.Raise(DriverModule(), id, args);
  if (level != 0) error.set_level(level);
  Handle(kCategoryGeneral, error, nullptr);
}

void CErrorContext::MarkOutOfMemory() {
  RaiseFramework(framework::kErrorOutOfMemory, {}, 0);
  state_ = kErrorStateOutOfMemory;
}

void AddEngineStatusTexts(CXError* error, int32_t status) {
  EngineStatusTexts texts;
  if (error == nullptr || !FindEngineStatusTexts(status, &texts)) return;
  const ErrorModule& module = DriverModule();
  if (texts.short_id != 0) error->AppendMessage(module, texts.short_id, {});
  if (texts.detail_id == 0) return;
  switch (status) {
    case kKbdErrNoPageLoaded:
    case kKbdErrPageNotLoaded:
    case kKbdErrCommand:
    case kKbdErrHandle:
    case kKbdErrNullPointer:
    case kKbdErrGlobalLock:
    case kKbdErrNoTask:
      error->AppendDebug(module, texts.detail_id, {});
      break;
    default:
      error->AppendMessage(module, texts.detail_id, {});
      break;
  }
}

CXError ReportError(CErrorContext* sink, const ErrorReport& report) {
  CXError error;
  error.Raise(DriverModule(), report.id, report.args);
  error.SetItemText(kInfoLogicalTableName, report.table);
  if (!report.item.empty()) error.SetItemText(kInfoItemName, report.item);
  error.SetItemNumber(kInfoNativeCode, report.id);
  error.AppendDebugText(DebugLine(report.unit, report.site));
  if (report.engine_status.has_value()) {
    AddEngineStatusTexts(&error, *report.engine_status);
  }
  if (sink != nullptr) {
    sink->Handle(report.category.value_or(CategoryOfError(report.id)), error,
                 report.context);
  }
  return error;
}

void RaiseIntoSink(CErrorContext* sink, int32_t category, uint32_t unit,
                   uint32_t site, ErrorContextObject* context, uint32_t id,
                   std::initializer_list<platform::MessageArg> args) {
  CXError error;
  error.Raise(DriverModule(), id, args);
  error.AppendDebugText(DebugLine(unit, site));
  if (sink != nullptr) sink->Handle(category, error, context);
}

}  // namespace qx::access
