// The reference host's loader of the component.
//
// ComponentHost loads the component the way the host platform does and
// holds it for the host's work:
//   start: load the VM module, load the component (its entry point runs
//   bInitLibrary), find the ten exports, the handshake for ids 7 and 28,
//   bInitZLConvFromVM and bInitZLCalcFromVM with the VM module, Execution
//   3985, piQueryInterface for the driver object;
//   stop: release the driver, Execution 4875, unload the component (its
//   entry point runs TermLibrary), unload the VM module.
// It is the host side for the tests and the reference host's tools;
// nothing here calls the component's internals.
#ifndef QX_HOST_HOSTLIB_COMPONENT_HOST_H_
#define QX_HOST_HOSTLIB_COMPONENT_HOST_H_

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "qx/exports.h"

namespace qx::host {

// The component's exports as the host finds them by name.
struct ComponentExports {
  decltype(&::bInitLibrary) init_library = nullptr;
  decltype(&::TermLibrary) term_library = nullptr;
  decltype(&::bDLLCompatible) dll_compatible = nullptr;
  decltype(&::piQueryInterface) query_interface = nullptr;
  decltype(&::pQueryProxy) query_proxy = nullptr;
  decltype(&::DeclareProxy) declare_proxy = nullptr;
  decltype(&::CommandeComposante) command = nullptr;
  decltype(&::Execution) execution = nullptr;
  decltype(&::bInitZLConvFromVM) init_conversions = nullptr;
  decltype(&::bInitZLCalcFromVM) init_calculations = nullptr;
};

// The names of the ten exports, in ComponentExports order.
inline constexpr const char* kExportNames[10] = {
    "bInitLibrary",       "TermLibrary", "bDLLCompatible",
    "piQueryInterface",   "pQueryProxy", "DeclareProxy",
    "CommandeComposante", "Execution",   "bInitZLConvFromVM",
    "bInitZLCalcFromVM"};

// The host version the reference host declares in the handshake.
constexpr uint32_t kHostVersion = 30;
// The two values the reference host hands over with event 3985.
constexpr uint32_t kStartFirst = 7;
constexpr uint32_t kStartSecond = 11;

class ComponentHost {
 public:
  ComponentHost() = default;
  ComponentHost(const ComponentHost&) = delete;
  ComponentHost& operator=(const ComponentHost&) = delete;
  ~ComponentHost() { Stop(); }

  // Runs the start sequence; false with *error naming the failed step
  // (what was loaded stays loaded until Stop).
  bool Start(const std::string& component_path, const std::string& vm_path,
             std::string* error);
  // Runs the stop sequence; harmless when nothing is loaded.
  void Stop();
  // The stop sequence without unloading the VM module, which stays
  // loaded for VmExecution.
  void StopComponent();

  // Loads the component only and finds its exports (no handshake, no
  // binding): for hosts that drive the sequence themselves.
  bool Load(const std::string& component_path, std::string* error);
  bool LoadVm(const std::string& vm_path, std::string* error);

  const ComponentExports& exports() const { return exports_; }
  IDriver* driver() const { return driver_; }
  platform::Module* component_module() const { return component_; }
  platform::Module* vm_module() const { return vm_; }

  // The VM module's own Execution entry (events of host/vm/vm.h).
  uintptr_t VmExecution(uint32_t event, uintptr_t argument) const;

  // The text of a message by CommandeComposante 3 (empty when absent).
  std::u16string MessageText(uint32_t id, uint32_t capacity = 1024) const;

 private:
  platform::Module* component_ = nullptr;
  platform::Module* vm_ = nullptr;
  ComponentExports exports_;
  IDriver* driver_ = nullptr;
  bool started_ = false;  // Execution 3985 was answered 1
};

}  // namespace qx::host

#endif  // QX_HOST_HOSTLIB_COMPONENT_HOST_H_
