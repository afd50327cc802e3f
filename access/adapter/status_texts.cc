#include "access/adapter/status_texts.h"

#include "engine/core/status.h"
#include "qx/engine.h"
#include "resources/message_store.h"

namespace qx::access {

bool FindEngineStatusTexts(int32_t status, EngineStatusTexts* texts) {
  if (status < INT16_MIN || status > INT16_MAX) return false;
  const engine::StatusTexts* row =
      engine::FindStatusTexts(static_cast<int16_t>(status));
  if (row == nullptr) return false;
  texts->short_id = row->short_id;
  texts->detail_id = row->detail_id;
  return true;
}

std::u16string EngineStatusText(int16_t status) {
  EngineStatusTexts texts;
  if (FindEngineStatusTexts(status, &texts))
    return resources::MessageText(texts.short_id);
  if (!engine::IsSystemErrorStatus(status)) return u"";
  const std::string number =
      std::to_string(static_cast<uint16_t>(status) & kKbdSystemErrorMask);
  return u"system error " + std::u16string(number.begin(), number.end());
}

}  // namespace qx::access
