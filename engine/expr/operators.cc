// The operators of the expression language (see operators.h).
#include "engine/expr/operators.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "engine/expr/date_values.h"
#include "engine/expr/number_shape.h"
#include "qx/engine.h"

namespace qx::engine {
namespace {

void SetLogical(bool holds, ExprValue* result) {
  *result = ExprValue();
  result->type = 'L';
  result->logical = holds ? 1 : 0;
}

int16_t Arithmetic(Operator op, const ExprValue& left, const ExprValue& right,
                   ExprValue* result) {
  const double a = left.number;
  const double b = right.number;
  double value = 0.0;
  int decimals = kComputedDecimals;
  switch (op) {
    case Operator::kAdd:
      value = a + b;
      decimals = std::max(left.str_decimals, right.str_decimals);
      break;
    case Operator::kSubtract:
      value = a - b;
      decimals = std::max(left.str_decimals, right.str_decimals);
      break;
    case Operator::kMultiply:
      value = a * b;
      decimals = left.str_decimals + right.str_decimals;
      break;
    case Operator::kDivide:
      if (b == 0.0) return kKbdErrKeyExpression;
      value = a / b;
      break;
    case Operator::kModulo:
      if (b == 0.0) return kKbdErrKeyExpression;
      value = std::fmod(a, b);
      break;
    case Operator::kPower:
      value = std::pow(a, b);
      break;
    default:
      return kKbdErrKeyExpression;
  }
  *result = ExprValue();
  result->type = left.type;  // 'F' stays 'F'
  result->number = value;
  SetComputedShape(decimals, result);
  return kKbdOk;
}

// A date moved by a number of days (whole days, the fraction dropped); the
// empty date stays empty.
int16_t MoveDate(const ExprValue& date, double days, bool backwards,
                 uint16_t date_format, ExprValue* result) {
  int32_t day = 0;
  if (int16_t status = DateValueDay(date, date_format, &day); status < 0)
    return status;
  if (day == 0 || !std::isfinite(days)) {
    SetDateValue(0, date_format, result);
    return kKbdOk;
  }
  double moved = static_cast<double>(day) +
                 (backwards ? -std::trunc(days) : std::trunc(days));
  moved = std::clamp(moved, 0.0, double{std::numeric_limits<int32_t>::max()});
  SetDateValue(static_cast<int32_t>(moved), date_format, result);
  return kKbdOk;
}

int16_t Concatenate(const ExprValue& left, const ExprValue& right,
                    bool move_blanks, ExprValue* result) {
  if (left.text.size() + right.text.size() > kMaxTextLength)
    return kKbdErrKeyExpression;
  *result = ExprValue();
  result->type = 'C';
  if (!move_blanks) {
    result->text = left.text + right.text;
    return kKbdOk;
  }
  // "AB  " - "CD" is "ABCD  ": the left text's trailing blanks go last.
  size_t end = left.text.find_last_not_of(' ');
  end = end == std::string::npos ? 0 : end + 1;
  result->text.reserve(left.text.size() + right.text.size());
  result->text.append(left.text, 0, end);
  result->text.append(right.text);
  result->text.append(left.text.size() - end, ' ');
  return kKbdOk;
}

int16_t Add(const ExprValue& left, const ExprValue& right, uint16_t date_format,
            ExprValue* result) {
  if (left.type == 'C' && right.type == 'C')
    return Concatenate(left, right, false, result);
  if (IsNumber(left) && IsNumber(right))
    return Arithmetic(Operator::kAdd, left, right, result);
  if (left.type == 'D' && IsNumber(right))
    return MoveDate(left, right.number, false, date_format, result);
  if (IsNumber(left) && right.type == 'D')
    return MoveDate(right, left.number, false, date_format, result);
  return kKbdErrKeyExpression;
}

int16_t Subtract(const ExprValue& left, const ExprValue& right,
                 uint16_t date_format, ExprValue* result) {
  if (left.type == 'C' && right.type == 'C')
    return Concatenate(left, right, true, result);
  if (IsNumber(left) && IsNumber(right))
    return Arithmetic(Operator::kSubtract, left, right, result);
  if (left.type == 'D' && IsNumber(right))
    return MoveDate(left, right.number, true, date_format, result);
  if (left.type == 'D' && right.type == 'D') {
    int32_t a = 0, b = 0;
    if (int16_t status = DateValueDay(left, date_format, &a); status < 0)
      return status;
    if (int16_t status = DateValueDay(right, date_format, &b); status < 0)
      return status;
    *result = ExprValue();
    result->type = 'N';
    result->number = static_cast<double>(a) - static_cast<double>(b);
    SetComputedShape(0, result);
    return kKbdOk;
  }
  return kKbdErrKeyExpression;
}

int16_t Compare(Operator op, const ExprValue& left, const ExprValue& right,
                uint16_t date_format, ExprValue* result) {
  if (op == Operator::kContains) {
    if (left.type != 'C' || right.type != 'C') return kKbdErrKeyExpression;
    SetLogical(
        !left.text.empty() && right.text.find(left.text) != std::string::npos,
        result);
    return kKbdOk;
  }
  int order = 0;
  if (left.type == 'C' && right.type == 'C') {
    order = CompareTexts(left.text, right.text, op == Operator::kExactEqual);
  } else if (IsNumber(left) && IsNumber(right)) {
    order = (left.number > right.number) - (left.number < right.number);
  } else if (left.type == 'D' && right.type == 'D') {
    int32_t a = 0, b = 0;
    if (int16_t status = DateValueDay(left, date_format, &a); status < 0)
      return status;
    if (int16_t status = DateValueDay(right, date_format, &b); status < 0)
      return status;
    order = (a > b) - (a < b);
  } else if (left.type == 'L' && right.type == 'L') {
    order = static_cast<int>(IsTrue(left)) - static_cast<int>(IsTrue(right));
  } else {
    return kKbdErrKeyExpression;
  }
  bool holds = false;
  switch (op) {
    case Operator::kEqual:
    case Operator::kExactEqual:
      holds = order == 0;
      break;
    case Operator::kNotEqual:
      holds = order != 0;
      break;
    case Operator::kLess:
      holds = order < 0;
      break;
    case Operator::kLessEqual:
      holds = order <= 0;
      break;
    case Operator::kGreater:
      holds = order > 0;
      break;
    case Operator::kGreaterEqual:
      holds = order >= 0;
      break;
    default:
      return kKbdErrKeyExpression;
  }
  SetLogical(holds, result);
  return kKbdOk;
}

}  // namespace

int CompareTexts(std::string_view left, std::string_view right, bool exact) {
  size_t common = std::min(left.size(), right.size());
  if (int order =
          common == 0 ? 0 : std::memcmp(left.data(), right.data(), common);
      order != 0) {
    return order;
  }
  if (left.size() == right.size()) return 0;
  if (left.size() < right.size()) return -1;
  return exact ? 1 : 0;
}

int16_t ApplyOperator(Operator op, const ExprValue& left,
                      const ExprValue& right, uint16_t date_format,
                      ExprValue* result) {
  switch (op) {
    case Operator::kAdd:
      return Add(left, right, date_format, result);
    case Operator::kSubtract:
      return Subtract(left, right, date_format, result);
    case Operator::kMultiply:
    case Operator::kDivide:
    case Operator::kModulo:
    case Operator::kPower:
      if (!IsNumber(left) || !IsNumber(right)) return kKbdErrKeyExpression;
      return Arithmetic(op, left, right, result);
    default:
      return Compare(op, left, right, date_format, result);
  }
}

int16_t Negate(const ExprValue& operand, ExprValue* result) {
  if (!IsNumber(operand)) return kKbdErrKeyExpression;
  *result = operand;
  result->number = -operand.number;
  SetComputedShape(operand.str_decimals, result);
  return kKbdOk;
}

int16_t Identity(const ExprValue& operand, ExprValue* result) {
  if (!IsNumber(operand)) return kKbdErrKeyExpression;
  *result = operand;
  return kKbdOk;
}

}  // namespace qx::engine
