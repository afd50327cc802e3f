// The shape of a number under Clipper rules: how many characters and
// decimals STR gives it when the expression names no length (STR(AGE) of
// an N(3) field is 3 characters; STR(SALARY) of an N(10,2) field is
// " 819938.92"). The rules are those the Clipper family's programs follow,
// as observed on a Clipper-compatible runtime.
//
// Every number carries a length (characters, sign and point included) and
// decimals; its whole part is the length less the decimals and the point.
//
//   source                          length                      decimals
//   N or F field (len, dec)         len                         dec
//   I field                         10                          0
//   B field (dec)                   20                          dec
//   Y field                         25                          4
//   number literal, i digits before max(10, i + 1) + (d ? d + 1 : 0)   d
//     the point and d after it
//   YEAR()                          5                           0
//   MONTH(), DAY()                  3                           0
//   VAL(text of n characters)       n, or computed beyond 10    see below
//   INT(a)                          a's whole part              0
//   +a, IIF, fields passed on       unchanged
//   every other number              computed                    below
//
// A computed shape has a whole part of 10 characters (20 for numbers of
// 10^10 and more, or -10^9 and less) and these decimals: a + b and a - b
// the larger of the two; a * b their sum; a / b, a % b, a ^ b and
// DESCEND(a) 2; -a and ABS(a) a's own (a whole number that is not negative
// keeps its shape under ABS); ROUND(a, n) n (0 when n < 0); date - date,
// DESCEND(date), RECNO() and LEN() 0.
//
// VAL of a text of n characters holding a '.' with d characters after it
// has d decimals and n characters (at least d + 2); without a '.' (or
// with nothing after it) it has no decimals and n characters when n is 10
// or less, else a computed length.
#ifndef QX_ENGINE_EXPR_NUMBER_SHAPE_H_
#define QX_ENGINE_EXPR_NUMBER_SHAPE_H_

#include <cstdint>
#include <string_view>

#include "engine/expr/expression.h"

namespace qx::engine {

// The decimals of quotients, remainders, powers and DESCEND of a number:
// the Clipper programs' default count of decimals for computed numbers.
constexpr int kComputedDecimals = 2;

// The shape of a number field's value (N, F, I, B, Y); other types keep
// the value's shape.
void SetFieldShape(const FieldInfo& field, ExprValue* value);
// A number literal's shape from its text (digits with at most one '.').
void SetLiteralShape(std::string_view literal, ExprValue* value);
// The computed shape of value->number with decimals.
void SetComputedShape(int decimals, ExprValue* value);
// VAL's shape for the text it read.
void SetValShape(std::string_view text, ExprValue* value);
// INT's shape: the whole part of the argument's shape, no decimals.
void SetWholePartShape(ExprValue* value);

// STR's length and decimals for a number when the expression names no
// length: 10 and 0 under dBASE rules; the number's shape under Clipper
// rules (computed when it came without one).
void DefaultStrLayout(const ExprValue& value, ExprRules rules, int32_t* length,
                      int32_t* decimals);

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_NUMBER_SHAPE_H_
