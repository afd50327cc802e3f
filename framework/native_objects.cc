// The framework's small objects.
#include "framework/native_objects.h"

#include "framework/host_value.h"

namespace qx::framework {

bool CNativeItemValue::Supports(uint8_t item_type) {
  return (item_type >= 1 && item_type <= 7) ||
         (item_type >= 9 && item_type <= 31);
}

CNativeItemValue::~CNativeItemValue() { ReleaseHostValue(&value_); }

}  // namespace qx::framework
