// The build frame of the single-index formats (see index_build.h).
#include "engine/index/index_build.h"

#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"
#include "engine/fileio/file_layer.h"
#include "engine/index/record_keys.h"

namespace qx::engine::index {

bool IsDataFileHandle(int16_t dbf_handle) {
  return CheckDbf(dbf_handle) != nullptr;
}

int16_t BuildIndexFile(int16_t dbf_handle, const char* name,
                       const char* expression, const IndexBuildSteps& steps) {
  if (name == nullptr || expression == nullptr) return Fail(kKbdErrNullPointer);
  if (CheckDbf(dbf_handle) == nullptr) return kKbdErrHandle;
  if (int16_t e = FileCheckUnused(name)) return e;
  if (int16_t e = steps.create()) return e;

  int16_t index_handle = kKbdNoHandle;
  btree::ExternalSort sorter;
  LockedRecords records;
  int16_t status = records.Begin(dbf_handle);
  const bool empty = status == kKbdOk && records.record_count() == 0;
  if (status == kKbdOk && !(empty && steps.when_empty == EmptySource::kNoOpen))
    status = steps.open(&index_handle);
  if (status == kKbdOk && (!empty || steps.when_empty == EmptySource::kFill))
    status = steps.fill(index_handle, records.record_count(), &sorter);
  if (status > 0) status = kKbdOk;  // warnings of the steps are not the build's

  sorter.Close();
  records.End();
  if (index_handle != kKbdNoHandle) {
    int16_t closed = RunDespiteError([&] { return steps.close(index_handle); });
    if (status == kKbdOk && closed < 0) status = Fail(closed);
  }
  if (status < 0) {
    RunDespiteError([&] { return FileDelete(name); });
    return status;
  }
  return StickyError();
}

}  // namespace qx::engine::index
