// The recursive-descent evaluator of the expression language: reads a
// normalised expression text and computes its value (the grammar and the
// rules are in expression.h).
//
// The parser computes while it parses; there is no tree. Its pieces (one
// argument, an integer argument, a delimiter) are also what extension
// functions get through their context (extensions.h), so that an extension
// parses its arguments exactly as the built-in functions do.
//
// Branches not taken (the other side of IIF, the right side of .AND. and
// .OR. when the left one decides) are parsed in the same way with
// skipping_ raised: their value errors make a void value (type ' ') instead
// of failing, and every operation on a void value gives a void value. The
// branch's value is dropped, so a void value never leaves the parser.
#ifndef QX_ENGINE_EXPR_PARSER_H_
#define QX_ENGINE_EXPR_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "engine/expr/builtins.h"
#include "engine/expr/expression.h"
#include "engine/expr/operators.h"
#include "qx/engine.h"

namespace qx::engine {

class Parser;

}  // namespace qx::engine

// The context of one extension-function call (declared opaque in the C
// interface). It lives on the parser's stack for the length of the call.
struct KbdExprContext {
  qx::engine::Parser* parser = nullptr;
  // Values of the argument terms read so far. A deque, because kbdeterm
  // hands out pointers into it that must survive later arguments.
  std::deque<qx::engine::ExprValue> arguments;
  qx::engine::ExprValue result;  // type ' ' until kbderesult
  int16_t error = 0;             // first failed context call, else 0
};

namespace qx::engine {

class Parser {
 public:
  // text: normalised (no blanks outside literals, upper case). source
  // outlives the parser.
  Parser(FieldSource* source, std::string text, uint16_t date_format,
         ExprRules rules);
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Evaluates the text, or its first term_limit terms (all when negative;
  // expression.h). Returns kKbdOk or the last extension warning; negative
  // on failure.
  int16_t Run(int term_limit, ExprValue* value);

  // One argument of a function at the parse position: an expression,
  // which ends before the ',' or ')' that follows it. kKbdOk or a negative
  // status.
  int16_t ParseArgument(ExprValue* value);
  // An integer argument: an argument whose value is a number, cut toward
  // zero and saturated to the 32-bit range; any other value is
  // kKbdErrKeyExpression.
  int16_t ReadInt(int32_t* value);
  // Consumes delimiter, or fails with kKbdErrKeyExpression.
  int16_t Expect(char delimiter);
  // The byte at the parse position, '\0' at the end.
  char Peek() const;

  // The context of the extension call running now (the innermost), null
  // when none runs.
  KbdExprContext* active_context() const { return active_context_; }

 private:
  // The grammar's levels, loosest first. Each leaves the parse position
  // after what it read.
  int16_t ParseOr(ExprValue* value);
  int16_t ParseAnd(ExprValue* value);
  int16_t ParseNot(ExprValue* value);
  int16_t ParseComparison(ExprValue* value);
  int16_t ParseSum(ExprValue* value);
  int16_t ParseProduct(ExprValue* value);
  int16_t ParsePower(ExprValue* value);
  int16_t ParseUnary(ExprValue* value);
  int16_t ParsePrimary(ExprValue* value);

  // The right side of .AND. or .OR. (skipped when decided is true) joined
  // to *value.
  int16_t ParseLogicalRight(bool is_and, ExprValue* value);
  int16_t ParseFunction(const Builtin& builtin, ExprValue* value);
  int16_t ParseConditional(ExprValue* value);
  int16_t ParseWord(ExprValue* value);
  int16_t ParseNumber(ExprValue* value);
  int16_t ParseText(ExprValue* value);
  int16_t CallExtension(KbdExtFunctionProc function, ExprValue* value);

  // Applies a binary operator, minding void values and skipped branches.
  int16_t Apply(Operator op, const ExprValue& right, ExprValue* value);
  // A value error (wrong type, division by zero, unreadable date): fails
  // with status, or in a skipped branch makes *value void.
  int16_t ValueError(int16_t status, ExprValue* value);

  // Consumes word when the text at the parse position begins with it.
  bool Take(std::string_view word);
  // Whether a primary can begin at the parse position (a term that follows
  // another with no operator at the top level).
  bool AtPrimary() const;
  // Counts one term of the leftmost top-level sum against the limit.
  void CountTerm();

  FieldSource* const source_;
  const std::string text_;
  const uint16_t date_format_;
  const ExprRules rules_;
  size_t position_ = 0;   // byte offset into text_, 0-based
  int depth_ = 0;         // parentheses and calls open around the position
  int skipping_ = 0;      // skipped branches open around the position
  int terms_left_ = -1;   // terms the limit still allows; -1 no limit
  bool stopped_ = false;  // the term limit was reached: read no further
  int16_t warning_ = 0;   // last warning of an extension function
  KbdExprContext* active_context_ = nullptr;
};

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_PARSER_H_
