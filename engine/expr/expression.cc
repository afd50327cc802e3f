// Expression values, text normalisation and the evaluation entry point
// (see expression.h).
#include "engine/expr/expression.h"

#include <cstring>
#include <utility>

#include "engine/core/last_error.h"
#include "engine/expr/extensions.h"
#include "engine/expr/parser.h"

namespace qx::engine {

size_t ExprValue::Size() const {
  switch (type) {
    case 'C':
    case 'D':
      return text.size();
    case 'N':
    case 'F':
      return sizeof(number);
    case 'L':
      return sizeof(logical);
    case 'M':
      return sizeof(block);
    default:
      return 0;
  }
}

const void* ExprValue::Data() const {
  switch (type) {
    case 'N':
    case 'F':
      return &number;
    case 'L':
      return &logical;
    case 'M':
      return &block;
    default:
      return text.c_str();
  }
}

std::string NormaliseExpressionText(std::string_view text) {
  std::string normalised(text.size(), '\0');
  size_t size = 0;
  char closing = '\0';  // the byte that ends the literal we are in
  for (char c : text) {
    if (closing == '\0') {
      if (c == ' ') continue;
      if (c >= 'a' && c <= 'z')
        c = static_cast<char>(c - 'a' + 'A');
      else if (c == '"' || c == '\'')
        closing = c;
      else if (c == '[')
        closing = ']';
    } else if (c == closing) {
      closing = '\0';
    }
    normalised[size++] = c;
  }
  normalised.resize(size);
  return normalised;
}

int16_t NormaliseKeyExpression(const char* text, std::string* normalised,
                               size_t max_length) {
  if (text == nullptr || normalised == nullptr) return Fail(kKbdErrNullPointer);
  std::string result = NormaliseExpressionText(text);
  if (result.empty() || result.size() > max_length)
    return Fail(kKbdErrKeyExpression);
  *normalised = std::move(result);
  return kKbdOk;
}

int16_t EvaluateExpression(FieldSource* source, std::string_view text,
                           int term_limit, uint16_t date_format,
                           ExprValue* value, ExprRules rules) {
  *value = ExprValue();
  // One evaluation at a time: an extension function may not start another.
  if (Evaluator().running != nullptr) return Fail(kKbdErrCommand);
  Parser parser(source, NormaliseExpressionText(text), date_format, rules);
  RunningEvaluation running(&parser);
  return parser.Run(term_limit, value);
}

}  // namespace qx::engine
