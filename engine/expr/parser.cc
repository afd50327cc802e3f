// The expression evaluator (see parser.h).
//
// Divisions: the run and the term limit; the logical levels; comparisons
// and arithmetic; primaries (parentheses, literals, words, numbers);
// functions; arguments and delimiters; extension calls.
#include "engine/expr/parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <utility>

#include "engine/core/last_error.h"
#include "engine/expr/extensions.h"
#include "engine/expr/number_shape.h"

namespace qx::engine {
namespace {

// Built-in functions take at most this many arguments.
constexpr size_t kMaxArguments = 3;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
// Bytes of words: all but the grammar's signs, the blank and NUL (letters,
// digits, '_', code-page letters...). A table, as every operand asks.
constexpr std::array<bool, 256> kWordBytes = [] {
  std::array<bool, 256> table{};
  table.fill(true);
  for (char c : std::string_view(" +-*/%^=<>!#$()[],.'\"\0", 22))
    table[static_cast<unsigned char>(c)] = false;
  return table;
}();
bool IsWordByte(char c) { return kWordBytes[static_cast<unsigned char>(c)]; }
// Every comparison sign begins with one of these bytes.
bool IsComparisonStart(char c) {
  return c == '=' || c == '!' || c == '<' || c == '>' || c == '#' || c == '$';
}

// Counts the parentheses and calls open around the parse position for one
// scope.
class DepthGuard {
 public:
  explicit DepthGuard(int* depth) : depth_(depth) { ++*depth_; }
  ~DepthGuard() { --*depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int* depth_;
};

// Marks a branch as not taken for one scope (when active).
class SkipGuard {
 public:
  SkipGuard(int* skipping, bool active)
      : skipping_(active ? skipping : nullptr) {
    if (skipping_ != nullptr) ++*skipping_;
  }
  ~SkipGuard() {
    if (skipping_ != nullptr) --*skipping_;
  }
  SkipGuard(const SkipGuard&) = delete;
  SkipGuard& operator=(const SkipGuard&) = delete;

 private:
  int* skipping_;
};

void SetLogical(bool holds, ExprValue* value) {
  *value = ExprValue();
  value->type = 'L';
  value->logical = holds ? 1 : 0;
}

}  // namespace

Parser::Parser(FieldSource* source, std::string text, uint16_t date_format,
               ExprRules rules)
    : source_(source),
      text_(std::move(text)),
      date_format_(date_format),
      rules_(rules) {}

// ---- The run and the term limit.

int16_t Parser::Run(int term_limit, ExprValue* value) {
  *value = ExprValue();
  if (term_limit == 0) return Fail(kKbdErrKeyExpression);  // nothing to give
  terms_left_ = term_limit < 0 ? -1 : term_limit;
  int16_t status = ParseOr(value);
  if (status >= 0 && !stopped_ && position_ != text_.size())
    status = Fail(kKbdErrKeyExpression);
  if (status >= 0 && value->type == ' ') status = Fail(kKbdErrKeyExpression);
  if (status < 0) {
    *value = ExprValue();
    return status;
  }
  return warning_;
}

void Parser::CountTerm() {
  if (--terms_left_ == 0) stopped_ = true;
}

// ---- Logical levels.

int16_t Parser::ParseOr(ExprValue* value) {
  int16_t status = ParseAnd(value);
  while (status >= 0 && !stopped_ && Peek() == '.' && Take(".OR."))
    status = ParseLogicalRight(false, value);
  return status;
}

int16_t Parser::ParseAnd(ExprValue* value) {
  int16_t status = ParseNot(value);
  while (status >= 0 && !stopped_ && Peek() == '.' && Take(".AND."))
    status = ParseLogicalRight(true, value);
  return status;
}

int16_t Parser::ParseLogicalRight(bool is_and, ExprValue* value) {
  bool left_known = value->type != ' ';
  if (left_known && value->type != 'L') {
    int16_t status = ValueError(kKbdErrKeyExpression, value);
    if (status < 0) return status;
    left_known = false;
  }
  // .F. .AND. x and .T. .OR. x are decided: x is read, not evaluated.
  const bool left = IsTrue(*value);
  const bool decided = left_known && left != is_and;
  ExprValue right;
  {
    SkipGuard skip(&skipping_, decided);
    int16_t status = is_and ? ParseNot(&right) : ParseAnd(&right);
    if (status < 0) return status;
  }
  if (decided) {
    SetLogical(left, value);
    return kKbdOk;
  }
  if (!left_known || right.type == ' ') {
    *value = ExprValue();
    return kKbdOk;
  }
  if (right.type != 'L') return ValueError(kKbdErrKeyExpression, value);
  SetLogical(IsTrue(right), value);
  return kKbdOk;
}

int16_t Parser::ParseNot(ExprValue* value) {
  int negations = 0;
  for (;;) {
    if (Peek() == '.' && Take(".NOT.")) {
      ++negations;
    } else if (Peek() == '!' && text_.compare(position_, 2, "!=") != 0) {
      ++position_;
      ++negations;
    } else {
      break;
    }
  }
  int16_t status = ParseComparison(value);
  if (status < 0 || negations == 0 || stopped_ || value->type == ' ')
    return status;
  if (value->type != 'L') return ValueError(kKbdErrKeyExpression, value);
  SetLogical(IsTrue(*value) != (negations % 2 == 1), value);
  return kKbdOk;
}

// ---- Comparisons and arithmetic.

int16_t Parser::ParseComparison(ExprValue* value) {
  int16_t status = ParseSum(value);
  while (status >= 0 && !stopped_ && IsComparisonStart(Peek())) {
    Operator op;
    // Longer signs first: "==" before "=", "<=" and "<>" before "<".
    if (Take("=="))
      op = Operator::kExactEqual;
    else if (Take("!=") || Take("<>") || Take("#"))
      op = Operator::kNotEqual;
    else if (Take("<="))
      op = Operator::kLessEqual;
    else if (Take(">="))
      op = Operator::kGreaterEqual;
    else if (Take("<"))
      op = Operator::kLess;
    else if (Take(">"))
      op = Operator::kGreater;
    else if (Take("="))
      op = Operator::kEqual;
    else if (Take("$"))
      op = Operator::kContains;
    else
      break;
    ExprValue right;
    status = ParseSum(&right);
    if (status >= 0) status = Apply(op, right, value);
  }
  return status;
}

int16_t Parser::ParseSum(ExprValue* value) {
  // The term limit counts the terms of the leftmost sum at the top level.
  const bool counting = terms_left_ > 0 && depth_ == 0;
  int16_t status = ParseProduct(value);
  if (status < 0) return status;
  if (counting) {
    CountTerm();
    if (stopped_) return kKbdOk;
  }
  for (;;) {
    const char c = Peek();
    const bool joined = c == '+' || c == '-';
    // At the top level a term may follow the one before it unjoined.
    if (!joined && (depth_ != 0 || !AtPrimary())) break;
    if (joined) ++position_;
    ExprValue right;
    if ((status = ParseProduct(&right)) < 0) return status;
    if (joined) {
      status =
          Apply(c == '+' ? Operator::kAdd : Operator::kSubtract, right, value);
    } else if (right.type == 'C') {
      status = Apply(Operator::kAdd, right, value);  // appended
    }  // an unjoined value of any other type is dropped
    if (status < 0) return status;
    if (counting) {
      CountTerm();
      if (stopped_) return kKbdOk;
    }
  }
  if (counting) terms_left_ = -1;  // later sums are not counted
  return kKbdOk;
}

int16_t Parser::ParseProduct(ExprValue* value) {
  int16_t status = ParsePower(value);
  while (status >= 0) {
    Operator op;
    const char c = Peek();
    if (c == '*' && text_.compare(position_, 2, "**") != 0)
      op = Operator::kMultiply;
    else if (c == '/')
      op = Operator::kDivide;
    else if (c == '%')
      op = Operator::kModulo;
    else
      break;
    ++position_;
    ExprValue right;
    status = ParsePower(&right);
    if (status >= 0) status = Apply(op, right, value);
  }
  return status;
}

int16_t Parser::ParsePower(ExprValue* value) {
  int16_t status = ParseUnary(value);
  while (status >= 0 && (Peek() == '^' || Peek() == '*') &&
         (Take("**") || Take("^"))) {
    ExprValue right;
    status = ParseUnary(&right);
    if (status >= 0) status = Apply(Operator::kPower, right, value);
  }
  return status;
}

int16_t Parser::ParseUnary(ExprValue* value) {
  // Signs bind tighter than '^' (-2^2 is 4); the innermost applies first.
  std::string signs;
  while (Peek() == '-' || Peek() == '+') signs.push_back(text_[position_++]);
  int16_t status = ParsePrimary(value);
  if (status < 0) return status;
  for (auto sign = signs.rbegin(); sign != signs.rend(); ++sign) {
    if (value->type == ' ') break;
    ExprValue result;
    status = *sign == '-' ? Negate(*value, &result) : Identity(*value, &result);
    if (status < 0) return ValueError(status, value);
    *value = std::move(result);
  }
  return kKbdOk;
}

int16_t Parser::Apply(Operator op, const ExprValue& right, ExprValue* value) {
  if (value->type == ' ' || right.type == ' ') {
    *value = ExprValue();
    return kKbdOk;
  }
  ExprValue result;
  int16_t status = ApplyOperator(op, *value, right, date_format_, &result);
  if (status < 0) return ValueError(status, value);
  *value = std::move(result);
  return kKbdOk;
}

int16_t Parser::ValueError(int16_t status, ExprValue* value) {
  if (skipping_ > 0) {
    *value = ExprValue();
    return kKbdOk;
  }
  return Fail(status);
}

// ---- Primaries.

int16_t Parser::ParsePrimary(ExprValue* value) {
  if (value->type != ' ') *value = ExprValue();  // callers pass fresh ones
  std::string_view rest = std::string_view(text_).substr(position_);
  if (!Evaluator().extensions.empty()) {
    const ExtensionEntry* entry = FindExtension(rest);
    if (entry != nullptr) {
      position_ += entry->name.size();
      return CallExtension(entry->function, value);
    }
  }
  const char c = Peek();
  if (c == '(') {
    DepthGuard depth(&depth_);
    if (depth_ > kMaxNestingDepth) return Fail(kKbdErrKeyExpression);
    ++position_;
    int16_t status = ParseOr(value);
    if (status < 0) return status;
    return Expect(')');
  }
  if (c == '"' || c == '\'' || c == '[') return ParseText(value);
  if (c == '.') {
    if (Take(".T.") || Take(".Y.")) {
      SetLogical(true, value);
      return kKbdOk;
    }
    if (Take(".F.") || Take(".N.")) {
      SetLogical(false, value);
      return kKbdOk;
    }
    // .AND., .OR. or any other dotted word cannot begin a term.
    if (IsLetter(position_ + 1 < text_.size() ? text_[position_ + 1] : '\0'))
      return Fail(kKbdErrKeyExpression);
    return ParseNumber(value);
  }
  if (IsWordByte(c)) {
    return IsDigit(c) ? ParseNumber(value) : ParseWord(value);
  }
  return Fail(kKbdErrKeyExpression);
}

bool Parser::AtPrimary() const {
  const char c = Peek();
  if (c == '.') {
    return text_.compare(position_, 5, ".AND.") != 0 &&
           text_.compare(position_, 4, ".OR.") != 0 &&
           text_.compare(position_, 5, ".NOT.") != 0;
  }
  return IsWordByte(c) || c == '"' || c == '\'' || c == '[';
}

int16_t Parser::ParseText(ExprValue* value) {
  const char opening = text_[position_];
  const char closing = opening == '[' ? ']' : opening;
  size_t end = text_.find(closing, position_ + 1);
  if (end == std::string::npos || end - position_ - 1 > kMaxTextLength)
    return Fail(kKbdErrKeyExpression);
  value->type = 'C';
  value->text = text_.substr(position_ + 1, end - position_ - 1);
  position_ = end + 1;
  return kKbdOk;
}

int16_t Parser::ParseNumber(ExprValue* value) {
  const size_t start = position_;
  size_t end = start;
  while (end < text_.size() && IsDigit(text_[end])) ++end;
  // One '.', unless a letter follows it (".AND.", ".T.").
  if (end < text_.size() && text_[end] == '.' &&
      !(end + 1 < text_.size() && IsLetter(text_[end + 1]))) {
    for (++end; end < text_.size() && IsDigit(text_[end]);) ++end;
  }
  if (end < text_.size() && IsWordByte(text_[end])) {
    // Digits running into letters ("9ZONE", "1E3") make a word.
    while (end < text_.size() && IsWordByte(text_[end])) ++end;
    position_ = end;
    std::string_view word(text_.data() + start, end - start);
    if (word.size() > kMaxTokenLength) {
      if (position_ < text_.size()) return Fail(kKbdErrKeyExpression);
      word = word.substr(0, kMaxTokenLength);
    }
    value->type = 'C';
    value->text = word;
    return kKbdOk;
  }
  position_ = end;
  std::string_view literal(text_.data() + start, end - start);
  // A lone "." reads as 0.
  double number = 0.0;
  std::from_chars(literal.data(), literal.data() + literal.size(), number);
  value->type = 'N';
  value->number = number;
  SetLiteralShape(literal, value);
  return kKbdOk;
}

int16_t Parser::ParseWord(ExprValue* value) {
  size_t start = position_;
  size_t end = start;
  while (end < text_.size() && IsWordByte(text_[end])) ++end;
  if (end < text_.size() && text_[end] == '(') {
    const Builtin* builtin =
        FindBuiltin(std::string_view(text_).substr(start, end - start));
    if (builtin == nullptr) return Fail(kKbdErrKeyExpression);
    position_ = end + 1;
    return ParseFunction(*builtin, value);
  }
  // An alias before a field name (ALIAS->FIELD) is passed over.
  while (text_.compare(end, 2, "->") == 0) {
    start = end + 2;
    for (end = start; end < text_.size() && IsWordByte(text_[end]);) ++end;
  }
  position_ = end;
  std::string_view name = std::string_view(text_).substr(start, end - start);
  if (name.empty()) return Fail(kKbdErrKeyExpression);
  if (name.size() > kMaxTokenLength) {
    // Too long for a field name. Where the text ends, the excess is
    // forgiven (cut off); anywhere else it is an error.
    if (position_ < text_.size()) return Fail(kKbdErrKeyExpression);
    name = name.substr(0, kMaxTokenLength);
  }
  FieldInfo field;
  if (source_->FindField(name, &field)) {
    int16_t status = source_->GetValue(field, value);
    if (status < 0) return status;
    SetFieldShape(field, value);
    return kKbdOk;
  }
  value->type = 'C';
  value->text = name;
  return kKbdOk;
}

// ---- Functions.

int16_t Parser::ParseFunction(const Builtin& builtin, ExprValue* value) {
  DepthGuard depth(&depth_);
  if (depth_ > kMaxNestingDepth) return Fail(kKbdErrKeyExpression);
  if (builtin.function == nullptr) return ParseConditional(value);
  std::array<ExprValue, kMaxArguments> arguments;
  size_t count = 0;
  int16_t status = kKbdOk;
  if (Peek() != ')') {
    for (;;) {
      if (count == builtin.max_arguments) return Fail(kKbdErrKeyExpression);
      if ((status = ParseArgument(&arguments[count++])) < 0) return status;
      if (Peek() != ',') break;
      ++position_;
    }
  }
  if ((status = Expect(')')) < 0) return status;
  if (count < builtin.min_arguments) return Fail(kKbdErrKeyExpression);
  for (size_t i = 0; i < count; ++i) {
    if (arguments[i].type == ' ') {  // in a skipped branch
      *value = ExprValue();
      return kKbdOk;
    }
  }
  const BuiltinContext context{source_, date_format_, rules_};
  status = builtin.function(
      context, std::span<ExprValue>(arguments.data(), count), value);
  if (status < 0) return ValueError(status, value);
  return kKbdOk;
}

// IIF(condition, a, b): a when the condition holds, else b; the other
// branch is read without being evaluated.
int16_t Parser::ParseConditional(ExprValue* value) {
  ExprValue condition;
  int16_t status = ParseArgument(&condition);
  if (status < 0 || (status = Expect(',')) < 0) return status;
  bool known = condition.type != ' ';
  if (known && condition.type != 'L') {
    if ((status = ValueError(kKbdErrKeyExpression, &condition)) < 0)
      return status;
    known = false;
  }
  const bool holds = IsTrue(condition);
  ExprValue first, second;
  {
    SkipGuard skip(&skipping_, !known || !holds);
    if ((status = ParseArgument(&first)) < 0) return status;
  }
  if ((status = Expect(',')) < 0) return status;
  {
    SkipGuard skip(&skipping_, !known || holds);
    if ((status = ParseArgument(&second)) < 0) return status;
  }
  if ((status = Expect(')')) < 0) return status;
  if (!known)
    *value = ExprValue();
  else
    *value = std::move(holds ? first : second);
  return kKbdOk;
}

// ---- Arguments and delimiters.

int16_t Parser::ParseArgument(ExprValue* value) { return ParseOr(value); }

int16_t Parser::ReadInt(int32_t* value) {
  ExprValue argument;
  int16_t status = ParseArgument(&argument);
  if (status < 0) return status;
  if (!IsNumber(argument)) {
    *value = 0;
    return argument.type == ' ' ? int16_t{kKbdOk}
                                : ValueError(kKbdErrKeyExpression, &argument);
  }
  double n = std::trunc(argument.number);
  if (std::isnan(n)) n = 0;
  n = std::clamp(n, double{std::numeric_limits<int32_t>::min()},
                 double{std::numeric_limits<int32_t>::max()});
  *value = static_cast<int32_t>(n);
  return kKbdOk;
}

int16_t Parser::Expect(char delimiter) {
  if (Peek() != delimiter || delimiter == '\0')
    return Fail(kKbdErrKeyExpression);
  ++position_;
  return kKbdOk;
}

char Parser::Peek() const {
  return position_ < text_.size() ? text_[position_] : '\0';
}

bool Parser::Take(std::string_view word) {
  if (text_.compare(position_, word.size(), word) != 0) return false;
  position_ += word.size();
  return true;
}

// ---- Extension calls.

int16_t Parser::CallExtension(KbdExtFunctionProc function, ExprValue* value) {
  DepthGuard depth(&depth_);
  if (depth_ > kMaxNestingDepth) return Fail(kKbdErrKeyExpression);
  KbdExprContext context;
  context.parser = this;
  KbdExprContext* outer = active_context_;
  active_context_ = &context;
  int16_t status = function(&context);
  active_context_ = outer;

  // A failed context call means the text did not parse.
  if (context.error < 0) return Fail(context.error);
  if (status < 0) return ValueError(status, value);
  if (int16_t sticky = StickyError(); sticky < 0) return sticky;
  if (context.result.type == ' ')
    return ValueError(kKbdErrKeyExpression, value);
  if (status > 0) warning_ = SetLastError(status);
  *value = std::move(context.result);
  return kKbdOk;
}

}  // namespace qx::engine
