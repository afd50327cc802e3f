// Clean-up steps that must run while an error is pending.
//
// Engine steps obey the sticky last error: once it is negative they return
// at once. Closing and deleting work files, unlocking and closing after a
// failed build must still happen, and must not replace the first error.
#ifndef QX_ENGINE_BTREE_CLEANUP_STEP_H_
#define QX_ENGINE_BTREE_CLEANUP_STEP_H_

#include <cstdint>

#include "engine/core/last_error.h"

namespace qx::engine::btree {

// Runs step() with the last error cleared, then restores the error that
// was pending. The step's own status is returned (and otherwise dropped).
template <typename Step>
int16_t RunDespiteError(Step&& step) {
  int16_t pending = LastError();
  if (pending < 0) SetLastError(kKbdOk);
  int16_t status = step();
  SetLastError(pending);
  return status;
}

}  // namespace qx::engine::btree

#endif  // QX_ENGINE_BTREE_CLEANUP_STEP_H_
