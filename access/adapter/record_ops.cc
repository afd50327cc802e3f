// Records of an open data file through the engine (see record_ops.h).
#include "access/adapter/record_ops.h"

#include "access/adapter/engine_call.h"
#include "qx/engine.h"

namespace qx::access {
namespace {

using adapter_internal::Call;

int16_t Handle16(uint16_t handle) { return static_cast<int16_t>(handle); }
int16_t Field16(int32_t field) { return static_cast<int16_t>(field); }

}  // namespace

int32_t ReadRecord(uint16_t handle, uint32_t recno) {
  return Call(kbddread, Handle16(handle), recno);
}

int32_t RecordCount(uint16_t handle, uint32_t* count) {
  return Call(kbddreccount, Handle16(handle), count);
}

int32_t IsDeletedRecord(uint16_t handle) {
  return Call(kbddisdeleted, Handle16(handle));
}

int32_t GetField(uint16_t handle, int32_t field, void* value) {
  return Call(kbddget, Handle16(handle), Field16(field), value);
}

int32_t PutField(uint16_t handle, int32_t field, const void* value) {
  return Call(kbddput, Handle16(handle), Field16(field), value);
}

int32_t FieldBlankState(uint16_t handle, int32_t field) {
  return Call(kbddisblank, Handle16(handle), Field16(field));
}

int32_t GetMemoBlock(uint16_t handle, int32_t field, uint32_t* block) {
  return Call(kbddmemoblock, Handle16(handle), Field16(field), block);
}

int32_t SetMemoBlock(uint16_t handle, int32_t field, uint32_t block) {
  return Call(kbddsetmemoblock, Handle16(handle), Field16(field), block);
}

int32_t DataFileVersion(uint16_t handle, uint8_t* version) {
  KbdDbfInfo info{};
  const int32_t status = Call(kbddinfo, Handle16(handle), &info);
  if (status >= 0) *version = info.version;
  return status;
}

int32_t WriteRecord(uint16_t handle, uint32_t* recno, uint16_t mode) {
  return Call(kbddwrite, Handle16(handle), recno, mode);
}

}  // namespace qx::access
