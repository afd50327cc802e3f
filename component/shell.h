// The component shell's start and stop, for the library's entry point.
//
// The exports (exports.cc) and the entry point (library_entry.cc) call
// these rather than the exported symbols, so that no other module's symbol
// of the same name can stand in for them.
#ifndef QX_COMPONENT_SHELL_H_
#define QX_COMPONENT_SHELL_H_

#include <cstdint>

namespace qx::component {

// bInitLibrary's work: the first call keeps the module handle, clears the
// handshake versions, creates the driver registry lock and reads the
// options file; later calls do nothing. Always 1.
int32_t StartLibrary(void* module);

// TermLibrary's work: stops the engine a connection started, deletes the
// registry lock, ends a live execution handler, forgets the module handle.
// Harmless when repeated. Always 1.
int32_t StopLibrary();

}  // namespace qx::component

#endif  // QX_COMPONENT_SHELL_H_
