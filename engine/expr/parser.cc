// The key-expression parser and evaluator (see parser.h).
//
// Divisions: the expression loop and the combination rules; terms (the
// lookup order extension, built-in function, token); the built-in
// functions; tokens; integers and delimiters; extension calls.
#include "engine/expr/parser.h"

#include <charconv>
#include <limits>
#include <optional>
#include <string_view>
#include <utility>

#include "engine/core/last_error.h"
#include "engine/dates/date_format.h"
#include "engine/expr/extensions.h"
#include "engine/expr/functions.h"

namespace qx::engine {
namespace {

// The built-in function words, in the order the text is tested against
// them. None is a prefix of another, so the order decides nothing; it is
// kept as the language defines it.
struct BuiltinName {
  std::string_view word;  // with its '('
  Parser::Builtin function;
};
constexpr BuiltinName kBuiltins[] = {
    {"SUBSTR(", Parser::Builtin::kSubstr}, {"RIGHT(", Parser::Builtin::kRight},
    {"LEFT(", Parser::Builtin::kLeft},     {"STR(", Parser::Builtin::kStr},
    {"DTOC(", Parser::Builtin::kDtoc},     {"UPPER(", Parser::Builtin::kUpper},
    {"LOWER(", Parser::Builtin::kLower},   {"DTOS(", Parser::Builtin::kDtos},
};

// Longest text value: kbddeval reports the length in 16 bits.
constexpr size_t kMaxTextLength = 0xFFFF;

bool IsNumberToken(std::string_view token) {
  return token.find_first_not_of("0123456789.") == std::string_view::npos;
}

// Counts the functions open around the parse position for one scope.
class DepthGuard {
 public:
  explicit DepthGuard(int* depth) : depth_(depth) { ++*depth_; }
  ~DepthGuard() { --*depth_; }
  DepthGuard(const DepthGuard&) = delete;
  DepthGuard& operator=(const DepthGuard&) = delete;

 private:
  int* depth_;
};

}  // namespace

Parser::Parser(FieldSource* source, std::string text, uint16_t date_format)
    : source_(source), text_(std::move(text)), date_format_(date_format) {}

// ---- The expression and the combination rules.

int16_t Parser::Run(int term_limit, ExprValue* value) {
  *value = ExprValue();
  int terms = 0;
  while (position_ < text_.size() && (term_limit < 0 || terms < term_limit)) {
    bool after_plus = text_[position_] == '+';
    if (after_plus) ++position_;
    ExprValue term;
    int16_t status = ParseTerm(&term);
    if (status >= 0) status = Combine(after_plus, terms == 0, std::move(term),
                                      value);
    if (status < 0) {
      *value = ExprValue();
      return status;
    }
    ++terms;
  }
  if (terms == 0) return Fail(kKbdErrKeyExpression);  // nothing to give
  return warning_;
}

int16_t Parser::Combine(bool after_plus, bool first, ExprValue term,
                        ExprValue* value) {
  if (first) {
    *value = std::move(term);
    return kKbdOk;
  }
  switch (term.type) {
    case 'C':
      if (value->type != 'C') return Fail(kKbdErrKeyExpression);
      if (value->text.size() + term.text.size() > kMaxTextLength)
        return Fail(kKbdErrKeyExpression);
      value->text += term.text;
      return kKbdOk;
    case 'N':
    case 'F':
      if (!after_plus) return kKbdOk;  // dropped
      if (value->type != 'N' && value->type != 'F')
        return Fail(kKbdErrKeyExpression);
      value->number += term.number;
      return kKbdOk;
    default:
      // Dates, logicals and memos neither add nor concatenate.
      if (after_plus) return Fail(kKbdErrKeyExpression);
      return kKbdOk;  // dropped
  }
}

// ---- Terms.

int16_t Parser::ParseTerm(ExprValue* value) {
  *value = ExprValue();
  std::string_view rest = std::string_view(text_).substr(position_);
  if (!Evaluator().extensions.empty()) {
    const ExtensionEntry* entry = FindExtension(rest);
    if (entry != nullptr) {
      position_ += entry->name.size();
      return CallExtension(entry->function, value);
    }
  }
  for (const BuiltinName& builtin : kBuiltins) {
    if (rest.starts_with(builtin.word)) {
      position_ += builtin.word.size();
      return ParseBuiltin(builtin.function, value);
    }
  }
  return ParseToken(value);
}

// ---- Built-in functions. Each reads its argument term, then its integers
// (each after a ','), then the ')'.

int16_t Parser::ParseBuiltin(Builtin function, ExprValue* value) {
  DepthGuard depth(&depth_);
  if (depth_ > kMaxNestingDepth) return Fail(kKbdErrKeyExpression);
  ExprValue argument;
  int16_t status = ParseTerm(&argument);
  if (status < 0) return status;

  char wanted = 'C';
  if (function == Builtin::kStr) wanted = 'N';
  if (function == Builtin::kDtoc || function == Builtin::kDtos) wanted = 'D';
  bool type_ok = argument.type == wanted ||
                 (wanted == 'N' && argument.type == 'F');
  if (!type_ok) return Fail(kKbdErrKeyExpression);

  value->type = 'C';
  switch (function) {
    case Builtin::kSubstr: {
      int32_t start = 0;
      std::optional<int32_t> count;
      if ((status = Expect(',')) < 0 || (status = ReadInt(&start)) < 0)
        return status;
      if (Peek() == ',') {
        int32_t n = 0;
        if ((status = ReadOptionalInt(&n)) < 0) return status;
        count = n;
      }
      if ((status = Expect(')')) < 0) return status;
      value->text = Substring(argument.text, start, count);
      return kKbdOk;
    }
    case Builtin::kLeft:
    case Builtin::kRight: {
      int32_t count = 0;
      if ((status = Expect(',')) < 0 || (status = ReadInt(&count)) < 0 ||
          (status = Expect(')')) < 0) {
        return status;
      }
      value->text = function == Builtin::kLeft
                        ? LeftPart(argument.text, count)
                        : RightPart(argument.text, count);
      return kKbdOk;
    }
    case Builtin::kStr: {
      int32_t length = kStrDefaultLength;
      int32_t decimals = kStrDefaultDecimals;
      // Decimals can follow only a length: without one no ',' is left.
      if ((status = ReadOptionalInt(&length)) < 0 ||
          (status = ReadOptionalInt(&decimals)) < 0) {
        return status;
      }
      if ((status = Expect(')')) < 0) return status;
      if (FormatNumber(argument.number, length, decimals, &value->text) < 0)
        return Fail(kKbdErrKeyExpression);
      return kKbdOk;
    }
    case Builtin::kDtoc:
    case Builtin::kUpper:
    case Builtin::kLower:
      if ((status = Expect(')')) < 0) return status;
      value->text = std::move(argument.text);
      if (function == Builtin::kUpper) UpperAscii(&value->text);
      if (function == Builtin::kLower) LowerAscii(&value->text);
      return kKbdOk;
    case Builtin::kDtos: {
      if ((status = Expect(')')) < 0) return status;
      // The date comes in the task's format; DTOS gives the stored
      // YYYYMMDD form (8 blanks for an empty date).
      char stored[kStoredDateLength + 1];
      status = ConvertDateToStorage(stored, argument.text, date_format_);
      if (status < 0) return Fail(status);
      value->text.assign(stored, kStoredDateLength);
      return kKbdOk;
    }
  }
  return Fail(kKbdErrKeyExpression);
}

// ---- Tokens: fields, numbers and words.

int16_t Parser::ParseToken(ExprValue* value) {
  size_t end = text_.find_first_of(",)+", position_);
  bool delimited = end != std::string::npos;
  if (!delimited) end = text_.size();
  std::string_view token =
      std::string_view(text_).substr(position_, end - position_);
  // An alias before a field name (ALIAS->FIELD, as index files written by
  // other programs store it) names the one table every expression is
  // evaluated on: it is passed over.
  if (size_t arrow = token.rfind("->"); arrow != std::string_view::npos)
    token.remove_prefix(arrow + 2);
  if (token.empty()) return Fail(kKbdErrKeyExpression);
  if (token.size() > kMaxTokenLength) {
    // Too long for a field name. Where the text ends, the excess is
    // forgiven (cut off); before a delimiter it is an error.
    if (delimited) return Fail(kKbdErrKeyExpression);
    token = token.substr(0, kMaxTokenLength);
  }
  position_ = end;

  FieldInfo field;
  if (source_->FindField(token, &field)) {
    int16_t status = source_->GetValue(field, value);
    if (status < 0) return status;
    return kKbdOk;
  }
  if (IsNumberToken(token)) {
    // Digits and points only: the longest prefix that reads as a decimal
    // number ("1.2.3" is 1.2); a lone "." reads as 0.
    double number = 0.0;
    std::from_chars(token.data(), token.data() + token.size(), number);
    value->type = 'N';
    value->number = number;
    return kKbdOk;
  }
  value->type = 'C';
  value->text = token;
  return kKbdOk;
}

// ---- Integers and delimiters.

int16_t Parser::ReadInt(int32_t* value) {
  size_t end = text_.find_first_of(",)", position_);
  if (end == std::string::npos) end = text_.size();
  if (end == position_) return Fail(kKbdErrKeyExpression);
  size_t i = position_;
  bool negative = false;
  if (text_[i] == '+' || text_[i] == '-') negative = text_[i++] == '-';
  int64_t magnitude = 0;
  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  for (; i < end && text_[i] >= '0' && text_[i] <= '9'; ++i) {
    magnitude = magnitude * 10 + (text_[i] - '0');
    if (magnitude > kLimit) magnitude = kLimit;  // saturate
  }
  int64_t result = negative ? -magnitude : magnitude;
  if (result > std::numeric_limits<int32_t>::max())
    result = std::numeric_limits<int32_t>::max();
  *value = static_cast<int32_t>(result);
  position_ = end;
  return kKbdOk;
}

int16_t Parser::ReadOptionalInt(int32_t* value) {
  if (Peek() != ',') return kKbdOk;
  ++position_;
  return ReadInt(value);
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

  if (status < 0) return Fail(status);
  if (context.error < 0) return Fail(context.error);
  if (int16_t sticky = StickyError(); sticky < 0) return sticky;
  if (context.result.type == ' ') return Fail(kKbdErrKeyExpression);
  if (status > 0) warning_ = SetLastError(status);
  *value = std::move(context.result);
  return kKbdOk;
}

}  // namespace qx::engine
