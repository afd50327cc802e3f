// Compound key formula nodes.
#include "access/formula/key_formula_node.h"

#include <limits>

namespace qx::access {

int32_t KeyFormulaNode::NumericValue() const {
  int64_t value = 0;
  for (const char16_t c : text) {
    if (c < u'0' || c > u'9') break;
    value = value * 10 + (c - u'0');
    if (value > std::numeric_limits<int32_t>::max()) {
      return std::numeric_limits<int32_t>::max();
    }
  }
  return static_cast<int32_t>(value);
}

}  // namespace qx::access
