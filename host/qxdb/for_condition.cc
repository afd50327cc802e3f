// FOR conditions of index tags (see for_condition.h).
#include "host/qxdb/for_condition.h"

#include <cctype>
#include <cstring>

#include "qx/engine.h"

namespace qx::qxdb {
namespace {

// One operand's value.
struct Operand {
  char type = ' ';  // 'C' (and 'D' as text), 'N', 'L'
  std::string text;
  double number = 0;
  bool logical = false;
};

class ConditionParser {
 public:
  ConditionParser(int16_t dbf_handle, bool deleted, std::string_view text)
      : dbf_(dbf_handle), deleted_(deleted), text_(Normalise(text)) {}

  int16_t Run(bool* holds) {
    if (int16_t s = Condition(holds); s < 0) return s;
    return pos_ == text_.size() ? kKbdOk : kKbdErrKeyExpression;
  }

 private:
  // Upper case outside quotes, blanks outside quotes dropped.
  static std::string Normalise(std::string_view text) {
    std::string out;
    char quote = 0;
    for (char c : text) {
      if (quote) {
        out += c;
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
        out += c;
      } else if (c != ' ') {
        out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      }
    }
    return out;
  }

  bool Take(std::string_view word) {
    if (text_.compare(pos_, word.size(), word) != 0) return false;
    pos_ += word.size();
    return true;
  }

  int16_t Condition(bool* holds) {
    if (int16_t s = Conjunct(holds); s < 0) return s;
    while (Take(".OR.")) {
      bool other = false;
      if (int16_t s = Conjunct(&other); s < 0) return s;
      *holds = *holds || other;
    }
    return kKbdOk;
  }

  int16_t Conjunct(bool* holds) {
    if (int16_t s = Negation(holds); s < 0) return s;
    while (Take(".AND.")) {
      bool other = false;
      if (int16_t s = Negation(&other); s < 0) return s;
      *holds = *holds && other;
    }
    return kKbdOk;
  }

  int16_t Negation(bool* holds) {
    if (Take(".NOT.") || (text_.compare(pos_, 2, "!=") != 0 && Take("!"))) {
      if (int16_t s = Negation(holds); s < 0) return s;
      *holds = !*holds;
      return kKbdOk;
    }
    return Primary(holds);
  }

  int16_t Primary(bool* holds) {
    if (Take("(")) {
      if (int16_t s = Condition(holds); s < 0) return s;
      return Take(")") ? kKbdOk : kKbdErrKeyExpression;
    }
    if (Take("DELETED()")) {
      *holds = deleted_;
      return kKbdOk;
    }
    if (Take(".T.") || Take(".F.")) {
      *holds = text_[pos_ - 2] == 'T';
      return kKbdOk;
    }
    Operand left;
    if (int16_t s = Term(&left); s < 0) return s;
    static const char* const kOperators[] = {"==", "!=", "<>", "<=", ">=",
                                             "=",  "#",  "<",  ">"};
    for (const char* op : kOperators) {
      if (!Take(op)) continue;
      Operand right;
      if (int16_t s = Term(&right); s < 0) return s;
      return Compare(left, right, op, holds);
    }
    if (left.type != 'L') return kKbdErrKeyExpression;
    *holds = left.logical;
    return kKbdOk;
  }

  // A quoted text, or the longest stretch up to an operator or logic word
  // at parenthesis depth 0, evaluated by the engine.
  int16_t Term(Operand* value) {
    if (pos_ < text_.size() && (text_[pos_] == '"' || text_[pos_] == '\'')) {
      std::size_t end = text_.find(text_[pos_], pos_ + 1);
      if (end == std::string::npos) return kKbdErrKeyExpression;
      value->type = 'C';
      value->text = text_.substr(pos_ + 1, end - pos_ - 1);
      pos_ = end + 1;
      return kKbdOk;
    }
    std::size_t end = pos_;
    int depth = 0;
    char quote = 0;
    for (; end < text_.size(); ++end) {
      char c = text_[end];
      if (quote) {
        if (c == quote) quote = 0;
        continue;
      }
      if (c == '"' || c == '\'') quote = c;
      else if (c == '(') ++depth;
      else if (c == ')' && depth-- == 0) break;
      else if (depth == 0 && (std::strchr("=#<>!", c) != nullptr ||
                              text_.compare(end, 5, ".AND.") == 0 ||
                              text_.compare(end, 4, ".OR.") == 0))
        break;
    }
    if (end == pos_) return kKbdErrKeyExpression;
    std::string expression = text_.substr(pos_, end - pos_);
    pos_ = end;
    void* raw = nullptr;
    uint16_t length = 0;
    kbdseterror(0);
    int16_t status =
        kbddeval(dbf_, expression.c_str(), -1, &raw, &value->type, &length);
    if (status >= 0) {
      switch (value->type) {
        case 'C':
        case 'D':
          value->type = 'C';
          value->text.assign(static_cast<const char*>(raw), length);
          break;
        case 'N':
        case 'F':
          value->type = 'N';
          std::memcpy(&value->number, raw, sizeof value->number);
          break;
        case 'L':
          value->logical = *static_cast<const char*>(raw) == 'T' ||
                           *static_cast<const char*>(raw) == 't' ||
                           *static_cast<const char*>(raw) == 'Y' ||
                           *static_cast<const char*>(raw) == 'y';
          break;
        default:
          status = kKbdErrKeyExpression;
      }
    }
    kbdfree(raw);
    kbdseterror(0);
    if (status < 0) return status;
    return kKbdOk;
  }

  static int16_t Compare(const Operand& a, const Operand& b,
                         std::string_view op, bool* holds) {
    if (a.type != b.type) return kKbdErrKeyExpression;
    int order = 0;
    bool prefix_equal = false;
    if (a.type == 'C') {
      std::string x = a.text, y = b.text;
      while (!x.empty() && x.back() == ' ') x.pop_back();
      while (!y.empty() && y.back() == ' ') y.pop_back();
      order = x.compare(y);
      prefix_equal = x.compare(0, y.size(), y) == 0;
    } else if (a.type == 'N') {
      order = a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
      prefix_equal = order == 0;
    } else {
      order = static_cast<int>(a.logical) - static_cast<int>(b.logical);
      prefix_equal = order == 0;
    }
    if (op == "==") *holds = order == 0;
    else if (op == "=") *holds = prefix_equal;
    else if (op == "!=" || op == "#" || op == "<>") *holds = !prefix_equal;
    else if (op == "<") *holds = order < 0;
    else if (op == "<=") *holds = order <= 0;
    else if (op == ">") *holds = order > 0;
    else *holds = order >= 0;
    return kKbdOk;
  }

  int16_t dbf_;
  bool deleted_;
  std::string text_;
  std::size_t pos_ = 0;
};

}  // namespace

int16_t EvaluateForCondition(int16_t dbf_handle, bool deleted,
                             std::string_view condition, bool* holds) {
  *holds = false;
  ConditionParser parser(dbf_handle, deleted, condition);
  return parser.Run(holds);
}

}  // namespace qx::qxdb
