// The operators of the expression language on values (the rules are in
// expression.h; number shapes in number_shape.h).
//
// Each returns kKbdOk with *result set, kKbdErrKeyExpression for operand
// types the operator does not take, a division by zero or a text longer
// than kMaxTextLength, or kKbdErrDate for a date text that does not read;
// nothing is set as the last error (the parser decides whether a value
// error fails the evaluation).
#ifndef QX_ENGINE_EXPR_OPERATORS_H_
#define QX_ENGINE_EXPR_OPERATORS_H_

#include <cstdint>
#include <string_view>

#include "engine/expr/expression.h"

namespace qx::engine {

enum class Operator : uint8_t {
  kAdd,           // +
  kSubtract,      // -
  kMultiply,      // *
  kDivide,        // /
  kModulo,        // %
  kPower,         // ^ or **
  kEqual,         // =  (texts over the right text's length)
  kExactEqual,    // ==
  kNotEqual,      // != <> #
  kLess,          // <
  kLessEqual,     // <=
  kGreater,       // >
  kGreaterEqual,  // >=
  kContains,      // $
};

int16_t ApplyOperator(Operator op, const ExprValue& left,
                      const ExprValue& right, uint16_t date_format,
                      ExprValue* result);

// Unary minus and plus: numbers only.
int16_t Negate(const ExprValue& operand, ExprValue* result);
int16_t Identity(const ExprValue& operand, ExprValue* result);

// True for a number value ('N' or 'F').
inline bool IsNumber(const ExprValue& value) {
  return value.type == 'N' || value.type == 'F';
}
// A logical value's truth: 1 is true; 0 and '?' (a blank field) false.
inline bool IsTrue(const ExprValue& value) {
  return value.type == 'L' && value.logical == 1;
}

// Texts as the programs compare them: bytes unsigned; exact compares the
// whole texts (the shorter of two texts that agree is the smaller); else
// only over the right text's length when the left one is at least as long
// ("ABC" against "AB" is equal, "AB" against "ABC" smaller). Negative,
// zero or positive.
int CompareTexts(std::string_view left, std::string_view right, bool exact);

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_OPERATORS_H_
