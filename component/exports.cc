// The component's ten exports.
//
// Each body runs inside the shared guard (framework/guard.h): an exception
// becomes the export's failure result. Divisions: start and stop; the
// handshake; objects; messages; events; host bindings.
#include "qx/exports.h"

#include <memory>
#include <new>

#include "access/connection/driver_options.h"
#include "component/component_state.h"
#include "component/driver.h"
#include "component/execution.h"
#include "component/proxy.h"
#include "component/shell.h"
#include "framework/framework_state.h"
#include "framework/guard.h"
#include "resources/message_store.h"

namespace qx::component {
namespace {

using framework::Framework;
using framework::Guarded;

platform::Module* AsModule(void* module) {
  return static_cast<platform::Module*>(module);
}

bool BindingVersionsAccepted(int32_t first, int32_t second) {
  return first >= kBindingMinFirstVersion && second <= kBindingMaxSecondVersion;
}

int32_t BindConversions(void* vm_module, int32_t first, int32_t second) {
  if (!BindingVersionsAccepted(first, second) || vm_module == nullptr) {
    return 0;
  }
  framework::FrameworkState& state = Framework();
  platform::Module* module = AsModule(vm_module);
  auto convert = reinterpret_cast<ConversionFn>(
      platform::ModuleSymbol(module, "nConversionDepassementExt"));
  if (convert == nullptr) return 0;
  state.convert = convert;
  auto end = reinterpret_cast<EndConversionFn>(
      platform::ModuleSymbol(module, "FinConversion"));
  if (end == nullptr) return 0;
  state.end_conversion = end;
  state.conversion_module = module;
  state.conversion_versions[0] = first;
  state.conversion_versions[1] = second;
  auto query_proxy = reinterpret_cast<HostQueryProxyFn>(
      platform::ModuleSymbol(module, "pQueryProxy"));
  if (query_proxy == nullptr) return 0;
  state.host_proxy = query_proxy(kHostProxyInterface);
  return 1;
}

int32_t BindCalculations(void* vm_module, int32_t first, int32_t second) {
  if (!BindingVersionsAccepted(first, second) || vm_module == nullptr) {
    return 0;
  }
  framework::FrameworkState& state = Framework();
  platform::Module* module = AsModule(vm_module);
  for (int i = 0; i < kCalculationEntryCount; ++i) {
    void* entry = platform::ModuleSymbol(module, kCalculationEntryNames[i]);
    if (entry == nullptr) return 0;
    state.calculations[i] = entry;
  }
  state.calculation_module = module;
  state.calculation_versions[0] = first;
  state.calculation_versions[1] = second;
  return 1;
}

intptr_t MessageText(MessageRequest* request) {
  if (request == nullptr) return 0;
  int32_t answer = 0;
  if (MessageProviderFn provider = Framework().message_provider) {
    answer = provider(request->id, request->buffer, request->capacity);
  }
  if (answer <= 0) {
    answer =
        resources::CopyMessage(request->id, request->buffer, request->capacity);
  }
  request->result = answer;
  return answer;
}

}  // namespace

int32_t StartLibrary(void* module) {
  ComponentState& state = Component();
  if (++state.start_count >= 2) return 1;
  return Guarded(1, [&] {
    state.module = module;
    Framework().handshake_version7 = 0;
    Framework().handshake_version28 = 0;
    Framework().registry_lock = std::make_unique<platform::CriticalSection>();
    access::ReadDriverOptions();
    return 1;
  });
}

int32_t StopLibrary() {
  return Guarded(1, [] {
    access::StopEngineIfStarted();
    Framework().registry_lock.reset();
    EndExecutionHandler();
    Component().module = nullptr;
    return 1;
  });
}

}  // namespace qx::component

using qx::component::Component;
using qx::framework::Framework;
using qx::framework::Guarded;

extern "C" {

int32_t bInitLibrary(void* module) {
  return qx::component::StartLibrary(module);
}

int32_t TermLibrary(void) { return qx::component::StopLibrary(); }

int32_t bDLLCompatible(int32_t id, uint32_t host_version,
                       uint32_t* component_version) {
  if (id == qx::kCompatibilityId7) {
    Framework().handshake_version7 = host_version;
  } else if (id == qx::kCompatibilityId28) {
    Framework().handshake_version28 = host_version;
  } else {
    return 0;
  }
  if (component_version != nullptr) {
    *component_version = qx::kComponentVersion;
  }
  return host_version >= qx::kComponentVersion ? 1 : 0;
}

qx::IDriver* piQueryInterface(void) {
  return Guarded<qx::IDriver*>(nullptr, []() -> qx::IDriver* {
    auto* driver = new (std::nothrow) qx::component::CXBaseDriver();
    Component().current_driver = driver;
    if (driver == nullptr) return nullptr;
    driver->AddRef();
    driver->RenewErrorContext();
    return driver;
  });
}

qx::IProxy* pQueryProxy(int32_t interface_number) {
  if (interface_number != qx::kProxyInterface) return nullptr;
  return Guarded<qx::IProxy*>(nullptr, []() -> qx::IProxy* {
    auto* proxy = new qx::component::CXBaseProxy(Component().current_driver);
    proxy->AddRef();
    return proxy;
  });
}

// The component declares no proxies to the host.
void* DeclareProxy(void** first, uint16_t* first_count, void** second,
                   uint16_t* second_count) {
  if (first != nullptr) *first = nullptr;
  if (first_count != nullptr) *first_count = 0;
  if (second != nullptr) *second = nullptr;
  if (second_count != nullptr) *second_count = 0;
  return nullptr;
}

intptr_t CommandeComposante(intptr_t command, intptr_t parameter) {
  return Guarded<intptr_t>(0, [&]() -> intptr_t {
    switch (command) {
      case qx::kCommandSetMessageProvider:
        Framework().message_provider =
            reinterpret_cast<qx::MessageProviderFn>(parameter);
        return 1;
      case qx::kCommandMessageText:
        return qx::component::MessageText(
            reinterpret_cast<qx::MessageRequest*>(parameter));
      case qx::kCommandMessageCategory:
        return qx::resources::MessageCategory(
            static_cast<uint32_t>(static_cast<uintptr_t>(parameter)));
      default:
        return 0;
    }
  });
}

uint32_t Execution(uint32_t event, void* data, uintptr_t first,
                   uintptr_t second) {
  return Guarded(0u, [&] {
    return qx::component::HandleExecution(event, data, first, second);
  });
}

int32_t bInitZLConvFromVM(void* vm_module, int32_t first_version,
                          int32_t second_version) {
  return Guarded(0, [&] {
    return qx::component::BindConversions(vm_module, first_version,
                                          second_version);
  });
}

int32_t bInitZLCalcFromVM(void* vm_module, int32_t first_version,
                          int32_t second_version) {
  return Guarded(0, [&] {
    return qx::component::BindCalculations(vm_module, first_version,
                                           second_version);
  });
}

}  // extern "C"
