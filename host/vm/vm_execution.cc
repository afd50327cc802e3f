// The VM's own Execution entry and its proxy of interface 102.
//
// The component asks the VM for host values (event 3053) when its
// execution handler starts and tells it 3052 when the library stops with
// a live handler. The VM answers values of its own choosing (vm.h) and
// counts what it was asked, so that a host can check the component's side
// of the protocol (events 9000-9004).
#include <vector>

#include "host/vm/vm.h"

namespace qx::vm {
namespace {

// Host value 9: answers what the host set with kVmEventSetObjectAnswer.
class HostObject final : public IHostObject {
 public:
  uint32_t Query(void* /*data*/, uintptr_t /*first*/,
                 uintptr_t /*second*/) override {
    return answer;
  }
  uint32_t answer = 2;
};

// The VM's proxy of interface 102: the component only keeps it.
struct VmProxy {
  int32_t kind = kVmProxyKind;
};

struct VmState {
  HostObject object;
  VmProxy proxy;
  uint32_t stopped_count = 0;
  std::vector<uint32_t> queried;  // value numbers asked by 3053, in order
};

VmState& State() {
  static VmState state;  // lives as long as the module is loaded
  return state;
}

}  // namespace

uintptr_t HandleExecution(uint32_t event, uintptr_t argument) {
  VmState& state = State();
  switch (event) {
    case kHostEventQueryValue: {
      const uint32_t k = static_cast<uint32_t>(argument);
      state.queried.push_back(k);
      if (k == 9) return reinterpret_cast<uintptr_t>(&state.object);
      if (k == 8) return kVmTextSetting;
      return kVmValueBase + k;
    }
    case kHostEventStopped:
      ++state.stopped_count;
      return 1;
    case kVmEventStoppedCount:
      return state.stopped_count;
    case kVmEventSetObjectAnswer:
      state.object.answer = static_cast<uint32_t>(argument);
      return 1;
    case kVmEventQueryAt:
      return argument < state.queried.size() ? state.queried[argument] : 0;
    case kVmEventQueryCount:
      return state.queried.size();
    case kVmEventReset:
      state.stopped_count = 0;
      state.queried.clear();
      state.object.answer = 2;
      return 1;
    default:
      return 0;
  }
}

void* QueryProxy(int32_t interface_number) {
  if (interface_number != kHostProxyInterface) return nullptr;
  return &State().proxy;
}

}  // namespace qx::vm
