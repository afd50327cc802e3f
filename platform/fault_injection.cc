// The fault injection state of qx_platform_faults (see fault_injection.h):
// per-kind operation counts and one armed fault.
#include "platform/fault_injection.h"

#include <array>
#include <cstdlib>

#include "platform/platform_internal.h"

namespace qx::platform {

namespace {

struct FaultState {
  std::array<uint64_t, faults::kOpCount> counts{};
  bool armed = false;
  bool fired = false;
  bool counting = true;
  faults::Op op = faults::Op::kRead;
  uint64_t nth = 0;
  faults::Kind kind = faults::Kind::kFail;
};

FaultState& State() {
  static FaultState state;
  return state;
}

}  // namespace

namespace faults {

void Reset() {
  FaultState& s = State();
  s = FaultState{};
}

void Arm(Op op, uint64_t nth, Kind kind) {
  FaultState& s = State();
  s.counts = {};
  s.armed = nth != 0;
  s.fired = false;
  s.op = op;
  s.nth = nth;
  s.kind = kind;
}

void Disarm() { State().armed = false; }

uint64_t Count(Op op) { return State().counts[static_cast<int>(op)]; }

bool Fired() { return State().fired; }

void SetCounting(bool on) { State().counting = on; }

}  // namespace faults

namespace internal {

FaultAction NextFault(faults::Op op) {
  FaultState& s = State();
  if (!s.counting) return FaultAction::kNone;
  const uint64_t n = ++s.counts[static_cast<int>(op)];
  if (!s.armed || s.op != op || s.nth != n) return FaultAction::kNone;
  s.armed = false;
  s.fired = true;
  switch (s.kind) {
    case faults::Kind::kFail:
      break;
    case faults::Kind::kShort:
      return FaultAction::kShort;
    case faults::Kind::kRefuse:
      return FaultAction::kRefuse;
    case faults::Kind::kExit:
      std::_Exit(faults::kExitStatus);
  }
  return FaultAction::kFail;
}

}  // namespace internal

}  // namespace qx::platform
