// The recursive-descent evaluator of key expressions: reads a normalised
// expression text term by term, computes each term's value and combines
// them (the grammar and the rules are in expression.h).
//
// The parser computes while it parses; there is no tree. Its pieces (one
// term, an integer, a delimiter) are also what extension functions get
// through their context (extensions.h), so that an extension parses its
// arguments exactly as the built-in functions do.
#ifndef QX_ENGINE_EXPR_PARSER_H_
#define QX_ENGINE_EXPR_PARSER_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "engine/expr/expression.h"
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
  // The built-in functions, in the order the text is tested against them.
  enum class Builtin { kSubstr, kRight, kLeft, kStr, kDtoc, kUpper, kLower,
                       kDtos };

  // text: normalised (no blanks, upper case). source outlives the parser.
  Parser(FieldSource* source, std::string text, uint16_t date_format);
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  // Reads up to term_limit terms (all when negative) and combines them.
  // Returns kKbdOk or the last extension warning; negative on failure.
  int16_t Run(int term_limit, ExprValue* value);

  // One term at the parse position. kKbdOk or a negative status.
  int16_t ParseTerm(ExprValue* value);
  // An integer argument: the characters up to the next ',' or ')' (or the
  // end), an optional sign then digits; no digits read as 0, values past
  // the 32-bit range saturate. Nothing there is kKbdErrKeyExpression.
  int16_t ReadInt(int32_t* value);
  // Consumes delimiter, or fails with kKbdErrKeyExpression.
  int16_t Expect(char delimiter);
  // The byte at the parse position, '\0' at the end.
  char Peek() const;

  // The context of the extension call running now (the innermost), null
  // when none runs.
  KbdExprContext* active_context() const { return active_context_; }

 private:
  int16_t ParseBuiltin(Builtin function, ExprValue* value);
  int16_t ParseToken(ExprValue* value);
  int16_t CallExtension(KbdExtFunctionProc function, ExprValue* value);
  // Consumes ',' and reads an integer when a ',' is next; otherwise
  // leaves *value alone.
  int16_t ReadOptionalInt(int32_t* value);
  int16_t Combine(bool after_plus, bool first, ExprValue term,
                  ExprValue* value);

  FieldSource* const source_;
  const std::string text_;
  const uint16_t date_format_;
  size_t position_ = 0;   // byte offset into text_, 0-based
  int depth_ = 0;         // functions open around the parse position
  int16_t warning_ = 0;   // last warning of an extension function
  KbdExprContext* active_context_ = nullptr;
};

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_PARSER_H_
