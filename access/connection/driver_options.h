// The driver's process-wide options and the engine-started flag.
//
// The options come from the profile file "qxdbins.ini", section "OPTION",
// read once at the first bInitLibrary and kept for the life of the process:
//   DELETEINDEX   default 0: non-zero removes a deleted record's keys
//   DUPLICATESON  default 0: non-zero checks unique keys before writing
//   SYNCWRITES    default 1 (ours): 0 defers the engine's flush to close
//                 and unlock (kbdsetsync), applied when the engine starts
// The engine-started flag is set by the first connection that starts the
// xBase engine; TermLibrary stops the engine when it is set.
//
// Written by the component's start and stop and by the connection open,
// which run on the host's thread or under the driver registry lock; never
// destroyed; tests get a reset.
#ifndef QX_ACCESS_CONNECTION_DRIVER_OPTIONS_H_
#define QX_ACCESS_CONNECTION_DRIVER_OPTIONS_H_

#include <cstdint>
#include <string_view>

namespace qx::access {

inline constexpr std::string_view kOptionsFile = "qxdbins.ini";
inline constexpr std::string_view kOptionsSection = "OPTION";

struct DriverOptions {
  int32_t delete_index = 0;
  int32_t duplicates_on = 0;
  int32_t sync_writes = 1;
  bool engine_started = false;
};

DriverOptions& Options();
void ResetDriverOptionsForTesting();

// Reads DELETEINDEX, then DUPLICATESON, then SYNCWRITES from the options
// file (profile rules of the platform: the file is looked up in the system
// directory).
void ReadDriverOptions();

// Stops the engine when a connection started it, and clears the flag.
void StopEngineIfStarted();

}  // namespace qx::access

#endif  // QX_ACCESS_CONNECTION_DRIVER_OPTIONS_H_
