// The component's ten exports and the host VM entries it binds.
//
// The host loads the component (libqx180db64.so, qx180db64.dll), finds
// these ten functions by their undecorated names and calls them in this
// order: bInitLibrary (also run by the library's entry point), the
// handshake bDLLCompatible, the bindings bInitZLConvFromVM and
// bInitZLCalcFromVM, Execution 3985, piQueryInterface for the driver
// object (driver.h), pQueryProxy 191; at the end Execution 4875 and
// TermLibrary (also run at unload). Booleans are 32-bit, 1 or 0. No export
// raises an error to the host: each reports by its result only.
//
// What the host's VM module offers to the component (the entries the
// component resolves by name) is declared in host_types.h, which the VM
// module includes without these declarations: it exports an Execution and
// a pQueryProxy of its own.
#ifndef QX_EXPORTS_H_
#define QX_EXPORTS_H_

#include <cstddef>
#include <cstdint>

#include "qx/driver.h"
#include "qx/export.h"
#include "qx/host_types.h"

namespace qx {

// The component's version, written by bDLLCompatible; a host below it is
// refused.
constexpr uint32_t kComponentVersion = 30;
// Compatibility ids the component answers.
constexpr int32_t kCompatibilityId7 = 7;
constexpr int32_t kCompatibilityId28 = 28;

// CommandeComposante commands.
enum ComponentCommand : intptr_t {
  kCommandSetMessageProvider = 2,  // parameter: MessageProviderFn
  kCommandMessageText = 3,         // parameter: MessageRequest*
  kCommandMessageCategory = 4,     // parameter: message id (low 32 bits)
};

// The host's message provider (command 2): fills buffer with the text of
// message id, at most capacity characters; answers the count, 0 or less
// when it has none.
using MessageProviderFn = int32_t (*)(uint32_t id, char16_t* buffer,
                                      uint32_t capacity);

// The request of command 3.
struct MessageRequest {
  uint32_t unused = 0;  // not read
  uint32_t id = 0;      // message id
  char16_t* buffer = nullptr;
  uint32_t capacity = 0;  // characters, the NUL included
  int32_t result = 0;     // written: characters copied
};

// Execution events.
enum ExecutionEvent : uint32_t {
  kEventStart = 3985,
  kEventStop = 4875,
  kEventStoreValue12 = 4878,
  kEventForward = 4879,
  kEventHostObjectQuery = 4963,
  kEventAccept = 5238,
};

// The event data of event 3985. `size` is the record's size in bytes; the
// override of host value 7 is read only when the size reaches past it.
struct ExecutionStart {
  uint32_t size = sizeof(ExecutionStart);
  uint32_t reserved = 0;
  void* vm_module = nullptr;  // the host VM module, may be null
  uint32_t first = 0;         // handed to the execution handler
  uint32_t second = 0;
  uintptr_t value7 = 0;  // override of host value 7
};

// The size of an ExecutionStart record without the override of host
// value 7 (a host that lets its Execution entry answer value 7).
constexpr uint32_t kExecutionStartBaseSize = offsetof(ExecutionStart, value7);

// The layout the host sees, the same on the Windows x64 and Linux x86-64
// builds (fixed-width integers and 8-byte pointers only): a change here is
// a change of the binary interface.
static_assert(sizeof(MessageRequest) == 24);
static_assert(offsetof(MessageRequest, buffer) == 8);
static_assert(offsetof(MessageRequest, capacity) == 16);
static_assert(offsetof(MessageRequest, result) == 20);
static_assert(sizeof(ExecutionStart) == 32);
static_assert(offsetof(ExecutionStart, vm_module) == 8);
static_assert(offsetof(ExecutionStart, first) == 16);
static_assert(offsetof(ExecutionStart, value7) == 24);

}  // namespace qx

extern "C" {

QX_EXPORT int32_t bInitLibrary(void* module);
QX_EXPORT int32_t TermLibrary(void);
QX_EXPORT int32_t bDLLCompatible(int32_t id, uint32_t host_version,
                                 uint32_t* component_version);
QX_EXPORT qx::IDriver* piQueryInterface(void);
QX_EXPORT qx::IProxy* pQueryProxy(int32_t interface_number);
QX_EXPORT void* DeclareProxy(void** first, uint16_t* first_count, void** second,
                             uint16_t* second_count);
QX_EXPORT intptr_t CommandeComposante(intptr_t command, intptr_t parameter);
QX_EXPORT uint32_t Execution(uint32_t event, void* data, uintptr_t first,
                             uintptr_t second);
QX_EXPORT int32_t bInitZLConvFromVM(void* vm_module, int32_t first_version,
                                    int32_t second_version);
QX_EXPORT int32_t bInitZLCalcFromVM(void* vm_module, int32_t first_version,
                                    int32_t second_version);

}  // extern "C"

#endif  // QX_EXPORTS_H_
