// kbdikeyform: what the keys of an open IDX index hold (fox_key_image.h).
#include "engine/core/last_error.h"
#include "engine/fox/fox_key_image.h"
#include "engine/idx/idx_file.h"

using namespace qx::engine;

extern "C" int16_t kbdikeyform(int16_t dbf_handle, int16_t handle, char* type,
                               uint16_t* form) {
  return RunOperation([&]() -> int16_t {
    IdxFile* file = CheckIdx(handle);
    if (file == nullptr) return kKbdErrHandle;
    return fox::FoxRecordKeyForm(dbf_handle, file->expression,
                                 static_cast<uint16_t>(file->key_length()),
                                 type, form);
  });
}
