// The built-in functions of the expression language, which every caller
// of the evaluator gets (a program's extension functions are tried first,
// extensions.h). Arguments are expressions, evaluated in order before the
// function runs; integer arguments are numbers, cut toward zero.
//
//   SUBSTR(c, start [, count])  LEFT(c, n)  RIGHT(c, n)    (functions.h)
//   STR(n [, length [, decimals]])   STRZERO(n [, length [, decimals]])
//   UPPER(c)  LOWER(c)  ALLTRIM(c)  LTRIM(c)  RTRIM(c)  TRIM(c)
//   PADL(x, n [, fill])  PADR(...)  PADC(...)  SPACE(n)  REPLICATE(c, n)
//   LEN(c)  EMPTY(x)  VAL(c)  INT(n)  ROUND(n, decimals)  ABS(n)
//   DTOC(d)  DTOS(d)  CTOD(c)  YEAR(d)  MONTH(d)  DAY(d)
//   IIF(l, a, b) (also IF)  DESCEND(x)  DELETED()  RECNO()
//
// Without a length STR gives the rules' default (number_shape.h); under
// dBASE rules a length outside 1..255 or negative decimals is an error,
// under Clipper rules a length below 1 is 10 and negative decimals count
// as 0. The PAD functions turn a number into its STR text under Clipper
// rules without leading blanks and a date into its text; a logical gives
// "" whatever the width; fill is the first byte of a text (a NUL for an
// empty one). DESCEND
// reverses the order of any key: a text byte by byte (DescendBytes), a
// number to its negative, a date to kDescendDayBase less its day number,
// a logical to its negation. CTOD reads its text in the task's date
// format; a text that is no date gives the empty date. YEAR, MONTH and DAY
// of the empty date are 0.
//
// A name of at least 4 characters that begins exactly one built-in name
// calls that function (SUBS for SUBSTR), as the dBASE and FoxPro programs
// accept.
#ifndef QX_ENGINE_EXPR_BUILTINS_H_
#define QX_ENGINE_EXPR_BUILTINS_H_

#include <cstdint>
#include <span>
#include <string_view>

#include "engine/expr/expression.h"

namespace qx::engine {

// What a built-in function may need besides its arguments.
struct BuiltinContext {
  FieldSource* source;
  uint16_t date_format;
  ExprRules rules;
};

// Computes a function's value from its evaluated arguments, which it may
// take apart (the caller drops them). kKbdOk, or a negative status: a
// value error (kKbdErrKeyExpression, kKbdErrDate) with nothing set as the
// last error, or a failure of the source already set.
using BuiltinFunction = int16_t (*)(const BuiltinContext& context,
                                    std::span<ExprValue> arguments,
                                    ExprValue* result);

struct Builtin {
  std::string_view name;  // upper case, without '('; the table is sorted
  uint8_t min_arguments;
  uint8_t max_arguments;
  // Null for IIF, which the parser runs itself: it evaluates only the
  // branch it gives.
  BuiltinFunction function;
};

// The built-in function a name calls (exact, or the abbreviation rule
// above), or null.
const Builtin* FindBuiltin(std::string_view name);

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_BUILTINS_H_
