// The framework's process-wide state, in one struct.
//
// What the component's exports learn from the host and what every driver
// object shares: the handshake versions, the host VM's conversion and
// calculation entries, the host values read when the execution handler
// starts, the host's message provider, and the driver registry lock.
//
// Writers: the component's exports only (bInitLibrary, TermLibrary, the
// handshake, the bindings, Execution, CommandeComposante 2), which the host
// calls before and after all database work or from its one calling thread;
// nothing here is guarded by a mutex. Readers: the driver objects, under
// the registry lock or on the host's thread. The struct lives for the
// process (never destroyed, so no static user outlives it); tests get a
// reset.
#ifndef QX_FRAMEWORK_FRAMEWORK_STATE_H_
#define QX_FRAMEWORK_FRAMEWORK_STATE_H_

#include <array>
#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "qx/exports.h"
#include "qx/host_types.h"

namespace qx::framework {

// Host values are numbered as the host numbers them in its answers to
// event 3053; numbers 1 to 15 are kept.
constexpr int kHostValueSlots = 16;
// The framework's text-size setting before host value 8 raises it.
constexpr uintptr_t kDefaultTextSetting = 18;

struct FrameworkState {
  // Versions the host declared in the handshake for ids 7 and 28; the
  // framework tests version 28 against 30 when a table handle opens.
  uint32_t handshake_version7 = 0;
  uint32_t handshake_version28 = 0;

  // Conversion binding (bInitZLConvFromVM).
  platform::Module* conversion_module = nullptr;
  int32_t conversion_versions[2] = {0, 0};
  ConversionFn convert = nullptr;            // nConversionDepassementExt
  EndConversionFn end_conversion = nullptr;  // FinConversion
  void* host_proxy = nullptr;                // the VM's proxy of interface 102

  // Calculation binding (bInitZLCalcFromVM): entries indexed by
  // CalculationEntry; an entry resolved before a missing one stays.
  platform::Module* calculation_module = nullptr;
  int32_t calculation_versions[2] = {0, 0};
  std::array<void*, kCalculationEntryCount> calculations = {};

  // Host values 1..15 as the host's Execution entry answered them.
  std::array<uintptr_t, kHostValueSlots> host_values = {};
  uintptr_t text_setting = kDefaultTextSetting;  // raised by host value 8

  // The host's message provider (CommandeComposante 2), asked before the
  // message store for every text.
  MessageProviderFn message_provider = nullptr;

  // The driver registry lock: created by the first bInitLibrary, deleted by
  // TermLibrary. Null outside that span: operations that need it fail.
  std::unique_ptr<platform::CriticalSection> registry_lock;
};

FrameworkState& Framework();
void ResetFrameworkStateForTesting();

// The registry lock, or null when the library is not started.
inline platform::CriticalSection* RegistryLock() {
  return Framework().registry_lock.get();
}

// Typed access to a bound calculation entry; null when not bound.
template <typename Fn>
Fn CalculationEntryOf(CalculationEntry entry) {
  return reinterpret_cast<Fn>(Framework().calculations[entry]);
}

}  // namespace qx::framework

#endif  // QX_FRAMEWORK_FRAMEWORK_STATE_H_
