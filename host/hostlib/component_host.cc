// Loading the component as the host platform does.
#include "host/hostlib/component_host.h"

#include <vector>

namespace qx::host {
namespace {

template <typename Fn>
bool Find(platform::Module* module, const char* name, Fn* out) {
  *out = reinterpret_cast<Fn>(platform::ModuleSymbol(module, name));
  return *out != nullptr;
}

}  // namespace

bool ComponentHost::LoadVm(const std::string& vm_path, std::string* error) {
  vm_ = platform::LoadModule(vm_path.c_str());
  if (vm_ == nullptr) *error = "cannot load the VM module " + vm_path;
  return vm_ != nullptr;
}

bool ComponentHost::Load(const std::string& component_path,
                         std::string* error) {
  component_ = platform::LoadModule(component_path.c_str());
  if (component_ == nullptr) {
    *error = "cannot load the component " + component_path;
    return false;
  }
  ComponentExports& e = exports_;
  const bool all = Find(component_, kExportNames[0], &e.init_library) &&
                   Find(component_, kExportNames[1], &e.term_library) &&
                   Find(component_, kExportNames[2], &e.dll_compatible) &&
                   Find(component_, kExportNames[3], &e.query_interface) &&
                   Find(component_, kExportNames[4], &e.query_proxy) &&
                   Find(component_, kExportNames[5], &e.declare_proxy) &&
                   Find(component_, kExportNames[6], &e.command) &&
                   Find(component_, kExportNames[7], &e.execution) &&
                   Find(component_, kExportNames[8], &e.init_conversions) &&
                   Find(component_, kExportNames[9], &e.init_calculations);
  if (!all) *error = "the component lacks one of its ten exports";
  return all;
}

bool ComponentHost::Start(const std::string& component_path,
                          const std::string& vm_path, std::string* error) {
  if (!LoadVm(vm_path, error) || !Load(component_path, error)) return false;
  uint32_t version = 0;
  if (exports_.dll_compatible(kCompatibilityId7, kHostVersion, &version) != 1 ||
      exports_.dll_compatible(kCompatibilityId28, kHostVersion, &version) !=
          1) {
    *error = "the component refused the handshake";
    return false;
  }
  if (exports_.init_conversions(vm_, kBindingMinFirstVersion,
                                kBindingMaxSecondVersion) != 1 ||
      exports_.init_calculations(vm_, kBindingMinFirstVersion,
                                 kBindingMaxSecondVersion) != 1) {
    *error = "the component could not bind the VM's services";
    return false;
  }
  ExecutionStart start;
  // The reference host leaves host value 7 to its Execution entry: the
  // record ends before the override.
  start.size = kExecutionStartBaseSize;
  start.vm_module = vm_;
  start.first = kStartFirst;
  start.second = kStartSecond;
  if (exports_.execution(kEventStart, &start, 0, 0) != 1) {
    *error = "the component refused Execution 3985";
    return false;
  }
  started_ = true;
  driver_ = exports_.query_interface();
  if (driver_ == nullptr) {
    *error = "the component gave no driver object";
    return false;
  }
  return true;
}

void ComponentHost::Stop() {
  StopComponent();
  if (vm_ != nullptr) {
    platform::UnloadModule(vm_);
    vm_ = nullptr;
  }
}

void ComponentHost::StopComponent() {
  if (driver_ != nullptr) {
    driver_->Release();
    driver_ = nullptr;
  }
  if (started_) {
    exports_.execution(kEventStop, nullptr, 0, 0);
    started_ = false;
  }
  if (component_ != nullptr) {
    platform::UnloadModule(component_);
    component_ = nullptr;
  }
  exports_ = ComponentExports();
}

uintptr_t ComponentHost::VmExecution(uint32_t event, uintptr_t argument) const {
  if (vm_ == nullptr) return 0;
  auto entry = reinterpret_cast<HostExecutionFn>(
      platform::ModuleSymbol(vm_, "Execution"));
  return entry == nullptr ? 0 : entry(event, argument);
}

std::u16string ComponentHost::MessageText(uint32_t id,
                                          uint32_t capacity) const {
  if (exports_.command == nullptr || capacity == 0) return u"";
  std::vector<char16_t> buffer(capacity, u'\0');
  MessageRequest request;
  request.id = id;
  request.buffer = buffer.data();
  request.capacity = capacity;
  const intptr_t count = exports_.command(kCommandMessageText,
                                          reinterpret_cast<intptr_t>(&request));
  if (count <= 0) return u"";
  return std::u16string(buffer.data(), static_cast<size_t>(count));
}

}  // namespace qx::host
