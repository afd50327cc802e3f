// File and record locks of an open data file (see lock_ops.h).
#include "access/adapter/lock_ops.h"

#include "access/adapter/engine_call.h"
#include "qx/engine.h"

namespace qx::access {

using adapter_internal::Call;

int32_t LockDataFile(uint16_t handle, int16_t mode) {
  return Call(kbddlock, static_cast<int16_t>(handle), mode);
}

int32_t UnlockDataFile(uint16_t handle, int16_t mode) {
  return Call(kbddunlock, static_cast<int16_t>(handle), mode);
}

int32_t LockDataRecord(uint16_t handle, uint32_t recno, int16_t mode) {
  return Call(kbddlockrec, static_cast<int16_t>(handle), recno, mode);
}

}  // namespace qx::access
