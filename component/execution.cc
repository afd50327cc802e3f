// Execution events and the execution handler.
#include "component/execution.h"

#include <new>

#include "component/component_state.h"
#include "framework/framework_state.h"
#include "platform/platform.h"

namespace qx::component {
namespace {

// Host values read at the handler's start, in the order they are asked
// for; 7 is skipped when the event data overrides it.
constexpr uint32_t kFirstValues[] = {9, 10, 12, 13, 15};
constexpr uint32_t kLaterValues[] = {7, 1, 5, 2, 3, 4, 8, 14};
constexpr uint32_t kTextSettingValue = 8;
constexpr uint32_t kOverriddenValue = 7;
constexpr uint32_t kHostObjectValue = 9;
constexpr uint32_t kEventDataValue = 12;

bool HasValue7Override(const ExecutionStart* data) {
  return data->size >= kExecutionStartBaseSize + sizeof data->value7;
}

void DestroyHandler() {
  ComponentState& state = Component();
  delete state.handler;
  state.handler = nullptr;
  state.handler_use_count = 0;
}

uint32_t StartEvent(void* data, uintptr_t /*first*/, uintptr_t /*second*/) {
  ComponentState& state = Component();
  const auto* start = static_cast<const ExecutionStart*>(data);
  if (state.handler == nullptr) {
    auto* handler = new (std::nothrow) ExecutionHandler();
    if (handler == nullptr) return 0;
    if (!handler->Bind(start) || handler->Start() != 1) {
      delete handler;
      return 0;
    }
    state.handler = handler;
  }
  if (start != nullptr) state.handler->SetValues(start->first, start->second);
  ++state.handler_use_count;
  return 1;
}

uint32_t StopEvent(void* data, uintptr_t first, uintptr_t second) {
  ComponentState& state = Component();
  if (state.handler == nullptr) return 1;
  if (state.handler_use_count <= 1) {
    state.handler->Stop(data, first, second);
    DestroyHandler();
  } else {
    --state.handler_use_count;
  }
  return 1;
}

uint32_t HostObjectEvent(void* data, uintptr_t first, uintptr_t second) {
  auto* object = reinterpret_cast<IHostObject*>(
      framework::Framework().host_values[kHostObjectValue]);
  if (object == nullptr || object->Query(data, first, second) < 2) return 1;
  ExecutionHandler* handler = Component().handler;
  if (handler != nullptr && handler->Accept(data, first, second) == 1) {
    return 1;
  }
  return 2;
}

}  // namespace

bool ExecutionHandler::Bind(const ExecutionStart* data) {
  if (data == nullptr || data->vm_module == nullptr) return true;
  host_execution_ = reinterpret_cast<HostExecutionFn>(platform::ModuleSymbol(
      static_cast<platform::Module*>(data->vm_module), "Execution"));
  if (host_execution_ == nullptr) return false;
  framework::FrameworkState& framework = framework::Framework();
  for (uint32_t k : kFirstValues) {
    framework.host_values[k] = host_execution_(kHostEventQueryValue, k);
  }
  if (HasValue7Override(data)) {
    framework.host_values[kOverriddenValue] = data->value7;
  }
  for (uint32_t k : kLaterValues) {
    if (k == kOverriddenValue && HasValue7Override(data)) continue;
    const uintptr_t value = host_execution_(kHostEventQueryValue, k);
    if (k == kTextSettingValue) {
      if (value > framework.text_setting) {
        framework.text_setting = value;
        framework.host_values[k] = value;
      }
      continue;
    }
    framework.host_values[k] = value;
  }
  return true;
}

uint32_t HandleExecution(uint32_t event, void* data, uintptr_t first,
                         uintptr_t second) {
  ExecutionHandler* handler = Component().handler;
  switch (event) {
    case kEventStart:
      return StartEvent(data, first, second);
    case kEventStop:
      return StopEvent(data, first, second);
    case kEventStoreValue12:
      framework::Framework().host_values[kEventDataValue] =
          reinterpret_cast<uintptr_t>(data);
      return 1;
    case kEventForward:
      if (handler != nullptr) handler->Notify(data, first, second);
      return 1;
    case kEventHostObjectQuery:
      return HostObjectEvent(data, first, second);
    case kEventAccept:
      return handler != nullptr &&
                     handler->AcceptOther(data, first, second) == 1
                 ? 1
                 : 0;
    default:
      return 0;
  }
}

void EndExecutionHandler() {
  ExecutionHandler* handler = Component().handler;
  if (handler == nullptr) return;
  if (!handler->stopped() && handler->host_execution() != nullptr) {
    handler->host_execution()(kHostEventStopped, 0);
  }
  DestroyHandler();
}

}  // namespace qx::component
