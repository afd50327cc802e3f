// kbdckeyform: what the keys of an open CDX tag hold (fox_key_image.h).
#include "engine/cdx/cdx_file.h"
#include "engine/core/last_error.h"
#include "engine/fox/fox_key_image.h"

using namespace qx::engine;

extern "C" int16_t kbdckeyform(int16_t dbf_handle, int32_t tag, char* type,
                               uint16_t* form) {
  return RunOperation([&]() -> int16_t {
    CdxTag* loaded = CheckCdxTagId(tag, false);
    if (loaded == nullptr) return LastError();
    return fox::FoxRecordKeyForm(dbf_handle, loaded->expression,
                                 static_cast<uint16_t>(loaded->key_length()),
                                 type, form);
  });
}
