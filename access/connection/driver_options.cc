// The driver's options and the engine-started flag.
#include "access/connection/driver_options.h"

#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

// Plain data with a constant initialiser: nothing to construct or destroy.
constinit DriverOptions g_options;

int32_t ReadOption(std::string_view key, int32_t default_value) {
  return static_cast<int32_t>(
      platform::ProfileInt(kOptionsSection, key, default_value, kOptionsFile));
}

}  // namespace

DriverOptions& Options() { return g_options; }

void ResetDriverOptionsForTesting() { g_options = DriverOptions(); }

void ReadDriverOptions() {
  g_options.delete_index = ReadOption("DELETEINDEX", 0);
  g_options.duplicates_on = ReadOption("DUPLICATESON", 0);
  g_options.sync_writes = ReadOption("SYNCWRITES", 1);
}

void StopEngineIfStarted() {
  if (!g_options.engine_started) return;
  kbdterm();
  g_options.engine_started = false;
}

}  // namespace qx::access
