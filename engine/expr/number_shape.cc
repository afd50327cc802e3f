// Numbers' shapes under Clipper rules (see number_shape.h).
#include "engine/expr/number_shape.h"

#include <algorithm>

#include "engine/expr/functions.h"

namespace qx::engine {
namespace {

// The dBASE STR default, and the whole part of a computed shape.
constexpr int kDefaultLength = 10;
// The whole part of a computed shape for numbers too large for 10.
constexpr int kWideLength = 20;
// B fields show 20 characters, Y fields a whole part of 20 and 4 decimals,
// I fields 10.
constexpr int kDoubleFieldLength = 20;
constexpr int kCurrencyWholeLength = 20;
constexpr int kCurrencyDecimals = 4;
constexpr int kIntegerFieldLength = 10;

// Length of a shape with a whole part and decimals, kept within what STR
// can give.
uint16_t ShapeLength(int whole, int decimals) {
  int length = whole + (decimals > 0 ? decimals + 1 : 0);
  return static_cast<uint16_t>(std::clamp(length, 1, int{kStrMaxLength}));
}

void SetShape(int length, int decimals, ExprValue* value) {
  value->str_length =
      static_cast<uint16_t>(std::clamp(length, 1, int{kStrMaxLength}));
  value->str_decimals =
      static_cast<uint16_t>(std::clamp(decimals, 0, int{kStrMaxLength}));
}

int ComputedWhole(double number) {
  return number >= 1e10 || number <= -1e9 ? kWideLength : kDefaultLength;
}

}  // namespace

void SetFieldShape(const FieldInfo& field, ExprValue* value) {
  switch (field.type) {
    case 'N':
    case 'F':
      SetShape(field.length, field.decimals, value);
      break;
    case 'I':
      SetShape(kIntegerFieldLength, 0, value);
      break;
    case 'B':
      SetShape(kDoubleFieldLength, field.decimals, value);
      break;
    case 'Y':
      SetShape(ShapeLength(kCurrencyWholeLength, kCurrencyDecimals),
               kCurrencyDecimals, value);
      break;
    default:
      break;
  }
}

void SetLiteralShape(std::string_view literal, ExprValue* value) {
  size_t dot = literal.find('.');
  int before = static_cast<int>(std::min(dot, literal.size()));
  int after = dot == std::string_view::npos
                  ? 0
                  : static_cast<int>(literal.size() - dot - 1);
  value->str_length = ShapeLength(std::max(kDefaultLength, before + 1), after);
  value->str_decimals = static_cast<uint16_t>(std::min(after, kStrMaxLength));
}

void SetComputedShape(int decimals, ExprValue* value) {
  decimals = std::clamp(decimals, 0, int{kStrMaxLength});
  value->str_length = ShapeLength(ComputedWhole(value->number), decimals);
  value->str_decimals = static_cast<uint16_t>(decimals);
}

void SetValShape(std::string_view text, ExprValue* value) {
  const int length = static_cast<int>(text.size());
  size_t dot = text.find('.');
  int after = dot == std::string_view::npos
                  ? 0
                  : static_cast<int>(text.size() - dot - 1);
  if (after > 0) {
    SetShape(std::max(length, after + 2), after, value);
  } else if (length <= kDefaultLength) {
    SetShape(length, 0, value);
  } else {
    SetComputedShape(0, value);
  }
}

void SetWholePartShape(ExprValue* value) {
  int whole = value->str_length -
              (value->str_decimals > 0 ? value->str_decimals + 1 : 0);
  if (value->str_length == 0 || whole < 1) {
    SetComputedShape(0, value);
    return;
  }
  SetShape(whole, 0, value);
}

void DefaultStrLayout(const ExprValue& value, ExprRules rules, int32_t* length,
                      int32_t* decimals) {
  if (rules == ExprRules::kDbase) {
    *length = kStrDefaultLength;
    *decimals = kStrDefaultDecimals;
    return;
  }
  if (value.str_length == 0) {
    *length = ShapeLength(ComputedWhole(value.number), 0);
    *decimals = 0;
    return;
  }
  *length = value.str_length;
  *decimals = value.str_decimals;
}

}  // namespace qx::engine
