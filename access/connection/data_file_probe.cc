// The table listing's data file probe.
#include "access/connection/data_file_probe.h"

#include <string>

#include "qx/engine.h"

namespace qx::access {
namespace {

// Open-mode bits of the probe: shared (0x400) with the option bit (0x200),
// read-write, ORed with each family's code.
constexpr uint16_t kProbeModeBits = kKbdModeShared | kKbdModeOption;

}  // namespace

int32_t ProbeListedDataFile(std::string_view ansi_path) {
  const std::string path(ansi_path);
  int16_t count = 0;
  const KbdDialectName* rows = kbddialects(&count);
  for (int16_t row = 0; rows != nullptr && row < count; ++row) {
    kbdseterror(kKbdOk);  // the last error is sticky
    int16_t handle = kKbdNoHandle;
    const uint16_t mode =
        static_cast<uint16_t>(kProbeModeBits | rows[row].dialect);
    if (kbddopenx(&handle, path.c_str(), mode) < 0) continue;
    kbdseterror(kKbdOk);
    kbddclose(handle);
    break;
  }
  kbdseterror(kKbdOk);
  return 1;
}

}  // namespace qx::access
