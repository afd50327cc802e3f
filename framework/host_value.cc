// Host values through the host's bound services.
#include "framework/host_value.h"

#include "framework/framework_state.h"

namespace qx::framework {

void ReleaseHostValue(HostValue* value) {
  if (value == nullptr) return;
  if ((value->state & kValueStateOwned) != 0 &&
      Framework().end_conversion != nullptr) {
    Framework().end_conversion(value);
  }
  *value = HostValue();
}

void SetNullHostValue(HostValue* value) {
  if (value == nullptr) return;
  ReleaseHostValue(value);
  value->type = kValueNull;
  value->state = kValueStateNull;
}

bool ConvertHostValue(const HostValue& source, uint8_t target_type,
                      HostValue* target, uint32_t* result) {
  uint32_t code = kHostIncompatible;
  if (Framework().convert != nullptr && target != nullptr) {
    code = Framework().convert(&source, target, target_type, 0);
  }
  if (result != nullptr) *result = code;
  return !HostFailed(code);
}

bool SetUnicodeTextValue(HostValue* value, std::u16string_view text) {
  if (value == nullptr) return false;
  HostValue source;
  source.type = kValueUnicodeText;
  source.size = static_cast<uint32_t>(text.size() * sizeof(char16_t));
  source.data = text.data();
  HostValue copy;
  if (!ConvertHostValue(source, kValueUnicodeText, &copy, nullptr)) {
    return false;
  }
  ReleaseHostValue(value);
  *value = copy;
  return true;
}

namespace {

bool Predicate(CalculationEntry entry, const HostValue& a, const HostValue& b,
               bool* answer) {
  const CalcFn fn = CalculationEntryOf<CalcFn>(entry);
  if (fn == nullptr || answer == nullptr) return false;
  HostValue result;
  if (HostFailed(fn(&a, &b, &result))) return false;
  *answer = result.fixed.bytes[0] != 0;
  return true;
}

}  // namespace

bool HostValuesEqual(const HostValue& a, const HostValue& b, bool* equal) {
  return Predicate(kCalcEqual, a, b, equal);
}

bool HostValueStartsWith(const HostValue& a, const HostValue& prefix,
                         bool* starts) {
  return Predicate(kCalcStartsWith, a, prefix, starts);
}

bool HostValueGreater(const HostValue& a, const HostValue& b, bool* greater) {
  return Predicate(kCalcGreater, a, b, greater);
}

bool HostValueLess(const HostValue& a, const HostValue& b, bool* less) {
  return Predicate(kCalcLess, a, b, less);
}

}  // namespace qx::framework
