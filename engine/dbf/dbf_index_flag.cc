// The production index flag (kbddsetindexflag): bit 0x01 of header byte
// 28 tells dBASE IV that the table's production MDX file (same base name)
// is to be opened with it, and FoxPro and Visual FoxPro the same of the
// structural CDX file. The other bits of the byte (Visual FoxPro's memo
// and database flags) are kept. Written at once, in memory and on disk.
#include "engine/core/last_error.h"
#include "engine/dbf/dbf_internal.h"

namespace qx::engine {
namespace {

constexpr uint8_t kProductionIndex = 0x01;

bool HasProductionIndex(int dialect) {
  return dialect == kKbdDbase4 || dialect == kKbdFoxpro1 ||
         dialect == kKbdFoxpro2 || dialect == kKbdVisualFoxpro;
}

int16_t SetIndexFlag(DbfFile* file, bool on) {
  if (!HasProductionIndex(file->dialect)) return Fail(kKbdErrCommand);
  if (file->read_only()) return Fail(kKbdErrReadOnly);
  uint8_t flag = file->header.mdx_flag;
  flag = on ? static_cast<uint8_t>(flag | kProductionIndex)
            : static_cast<uint8_t>(flag & ~kProductionIndex);
  if (flag == file->header.mdx_flag) return kKbdOk;
  if (int16_t e = FileWriteAt(file->slot, kDbfMdxFlagOffset, &flag, 1))
    return e;
  file->header.mdx_flag = flag;
  return kKbdOk;
}

}  // namespace
}  // namespace qx::engine

extern "C" int16_t kbddsetindexflag(int16_t handle, int16_t on) {
  return qx::engine::RunOperation([&]() -> int16_t {
    qx::engine::DbfFile* file = qx::engine::CheckDbf(handle);
    if (file == nullptr) return kKbdErrHandle;
    return qx::engine::SetIndexFlag(file, on != 0);
  });
}
