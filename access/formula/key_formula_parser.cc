// Compound key formulas: tokenising, parsing and checking.
#include "access/formula/key_formula_parser.h"

#include <algorithm>
#include <array>
#include <limits>

#include "access/errors/error_def.h"
#include "access/fields/type_mapping.h"
#include "qx/engine.h"
#include "qx/host_types.h"

namespace qx::access {
namespace {

using platform::MessageArg;

struct FunctionName {
  std::u16string_view name;  // upper case
  KeyFormulaKind kind;
};

// In the order the names are tried.
constexpr std::array<FunctionName, 8> kFunctions = {{
    {u"SUBSTR", KeyFormulaKind::kSubstr},
    {u"RIGHT", KeyFormulaKind::kRight},
    {u"LEFT", KeyFormulaKind::kLeft},
    {u"STR", KeyFormulaKind::kStr},
    {u"UPPER", KeyFormulaKind::kUpper},
    {u"LOWER", KeyFormulaKind::kLower},
    {u"DTOC", KeyFormulaKind::kDtoc},
    {u"DTOS", KeyFormulaKind::kDtos},
}};

// Length of STR without a width, as the key expression evaluator has it.
constexpr uint32_t kStrDefaultWidth = 10;
// Length of a date's text (DTOC, DTOS).
constexpr uint32_t kDateTextLength = 8;
// dBASE IV numeric keys: the key image's bytes.
constexpr uint32_t kDbase4NumericKeySize = 12;
// Levels of nested concatenations and function arguments a formula may
// have: far more than any key of at most 100 bytes needs.
constexpr uint32_t kMaxFormulaDepth = 256;
// Characters of the text quoted by the message of a formula too deep.
constexpr size_t kQuotedTextLimit = 40;

// One level of ParseFormula's recursion, counted while it runs.
class DepthLevel {
 public:
  explicit DepthLevel(uint32_t* depth) : depth_(depth) { ++*depth_; }
  ~DepthLevel() { --*depth_; }
  DepthLevel(const DepthLevel&) = delete;
  DepthLevel& operator=(const DepthLevel&) = delete;

 private:
  uint32_t* depth_;
};

bool IsWhiteSpace(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsWhiteSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsWhiteSpace(text.back())) text.remove_suffix(1);
  return text;
}

bool IsNameCharacter(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
         (c >= u'0' && c <= u'9') || c == u'_' || c >= 0x80;
}

char16_t Upper(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 0x20) : c;
}

// Whether term begins with the function name, as a whole word.
bool StartsWithName(std::u16string_view term, std::u16string_view name) {
  if (term.size() < name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (Upper(term[i]) != name[i]) return false;
  }
  return term.size() == name.size() || !IsNameCharacter(term[name.size()]);
}

uint32_t Saturate(uint64_t n) {
  return static_cast<uint32_t>(
      std::min<uint64_t>(n, std::numeric_limits<uint32_t>::max()));
}

// A count argument: a number's value (negative read as 0), or fallback
// when the argument is not a number (its value is known only per record).
uint32_t CountArgument(const KeyFormulaNode* node, uint32_t fallback) {
  if (node == nullptr || node->kind != KeyFormulaKind::kNumber) return fallback;
  return static_cast<uint32_t>(std::max(node->NumericValue(), 0));
}

bool IsUnresolvedField(const KeyFormulaNode& node) {
  return node.kind == KeyFormulaKind::kField && node.type == 0;
}

void CollectOperands(const KeyFormulaNode* node,
                     std::vector<const KeyFormulaNode*>* operands) {
  if (node == nullptr) return;
  if (node->kind != KeyFormulaKind::kConcatenation) {
    operands->push_back(node);
    return;
  }
  CollectOperands(node->child(0), operands);
  CollectOperands(node->child(1), operands);
}

}  // namespace

std::u16string_view NextTerm(std::u16string_view text, size_t* pos,
                             std::u16string_view separators) {
  size_t i = std::min(*pos, text.size());
  while (i < text.size() &&
         separators.find(text[i]) != std::u16string_view::npos) {
    ++i;
  }
  const size_t start = i;
  while (i < text.size() &&
         separators.find(text[i]) == std::u16string_view::npos) {
    ++i;
  }
  *pos = i;
  return text.substr(start, i - start);
}

void KeyFormulaParser::Reset(int32_t dialect) {
  root_.reset();
  source_ = nullptr;
  dialect_ = dialect;
  strict_ = false;
  failed_ = false;
  depth_ = 0;
  fields_.clear();
  messages_.clear();
}

int32_t KeyFormulaParser::Parse(uint32_t options, int32_t dialect,
                                const KeyFieldSource* fields,
                                std::u16string_view formula, bool strict) {
  Reset(dialect);
  options_ = options;
  strict_ = strict;
  source_ = fields;
  std::unique_ptr<KeyFormulaNode> tree = ParseFormula(formula);
  if (tree == nullptr) return 0;
  // A tree with parse failures is not checked: its functions would only
  // report again the arguments that did not parse.
  if (!failed_ && !Check(tree.get())) failed_ = true;
  if (strict_ && failed_) return 0;
  root_ = std::move(tree);
  return failed_ ? 0 : 1;
}

std::vector<const KeyFormulaNode*> KeyFormulaParser::Operands() const {
  std::vector<const KeyFormulaNode*> operands;
  CollectOperands(root_.get(), &operands);
  return operands;
}

std::unique_ptr<KeyFormulaNode> KeyFormulaParser::ParseFormula(
    std::u16string_view text) {
  if (strict_ && failed_) return nullptr;
  // Parsing, checking and freeing recurse once per level: the depth limit
  // keeps a host's formula from exhausting the stack.
  if (depth_ == kMaxFormulaDepth) {
    Fail(kFormulaSyntax, {MessageArg::Text(text.substr(0, kQuotedTextLimit))});
    return nullptr;
  }
  const DepthLevel level(&depth_);
  size_t pos = 0;
  const std::u16string_view term = NextTerm(text, &pos, u"+");
  if (pos >= text.size()) return ParseTerm(term);
  // The term is followed by '+': a concatenation with the rest.
  auto node =
      std::make_unique<KeyFormulaNode>(KeyFormulaKind::kConcatenation, u"+");
  node->children.push_back(ParseTerm(term));
  if (strict_ && failed_) return nullptr;
  node->children.push_back(ParseFormula(text.substr(pos + 1)));
  if (strict_ && failed_) return nullptr;
  return node;
}

std::unique_ptr<KeyFormulaNode> KeyFormulaParser::ParseTerm(
    std::u16string_view term) {
  term = Trim(term);
  if (term.empty()) return nullptr;
  for (const FunctionName& function : kFunctions) {
    if (!StartsWithName(term, function.name)) continue;
    auto node =
        std::make_unique<KeyFormulaNode>(function.kind, std::u16string(term));
    if (!ParseArguments(term, node.get()) && strict_) return nullptr;
    return node;
  }
  const KeyFormulaKind kind = term.front() >= u'0' && term.front() <= u'9'
                                  ? KeyFormulaKind::kNumber
                                  : KeyFormulaKind::kField;
  return std::make_unique<KeyFormulaNode>(kind, std::u16string(term));
}

bool KeyFormulaParser::ParseArguments(std::u16string_view term,
                                      KeyFormulaNode* node) {
  const size_t open = term.find(u'(');
  if (open == std::u16string_view::npos) {
    return Fail(kFormulaNoLeftParen, {MessageArg::Text(term)});
  }
  size_t close = std::u16string_view::npos;
  int32_t depth = 0;
  for (size_t i = open; i < term.size() && close == std::u16string_view::npos;
       ++i) {
    if (term[i] == u'(') ++depth;
    if (term[i] == u')' && --depth == 0) close = i;
  }
  if (close == std::u16string_view::npos) {
    return Fail(kFormulaNoRightParen, {MessageArg::Text(term)});
  }
  // Whatever follows the matching ')' is not read.
  const std::u16string_view arguments = term.substr(open + 1, close - open - 1);
  size_t pos = 0;
  for (std::u16string_view piece = NextTerm(arguments, &pos, u",");
       !piece.empty(); piece = NextTerm(arguments, &pos, u",")) {
    std::unique_ptr<KeyFormulaNode> argument = ParseFormula(piece);
    if (strict_ && failed_) return false;
    if (argument != nullptr) node->children.push_back(std::move(argument));
  }
  return true;
}

bool KeyFormulaParser::Check(KeyFormulaNode* node) {
  switch (node->kind) {
    case KeyFormulaKind::kConcatenation:
      return CheckConcatenation(node);
    case KeyFormulaKind::kNumber:
      return true;
    case KeyFormulaKind::kField: {
      std::u16string name;
      if (ResolveField(node, &name)) {
        fields_.push_back(std::move(name));
      } else {
        AddMessage(kFormulaUnknownField, {MessageArg::Text(node->text)});
        if (strict_) return false;
      }
      SetHostSizes(node);
      return true;
    }
    default:
      return CheckFunction(node);
  }
}

bool KeyFormulaParser::CheckFunction(KeyFormulaNode* node) {
  const KeyFormulaNode* first = node->child(0);
  if (first == nullptr) {
    return Fail(kFormulaNoArgument, {MessageArg::Text(node->text)});
  }
  if (!Check(node->children[0].get())) return false;
  const uint32_t text_length = first->length;
  node->type = u'C';
  switch (node->kind) {
    case KeyFormulaKind::kSubstr: {
      if (node->child(1) == nullptr) {
        return Fail(kFormulaNoSecondArgument, {MessageArg::Text(node->text)});
      }
      // The characters SUBSTR gives: from start (1-based, at least 1) to
      // the end of the text, or count of them when fewer.
      const uint32_t start = std::max(CountArgument(node->child(1), 1), 1u);
      const uint32_t available =
          start <= text_length ? text_length - start + 1 : 0;
      node->length =
          std::min(CountArgument(node->child(2), available), available);
      break;
    }
    case KeyFormulaKind::kRight:
    case KeyFormulaKind::kLeft:
      if (node->child(1) == nullptr) {
        return Fail(kFormulaNoSecondArgument, {MessageArg::Text(node->text)});
      }
      node->length =
          std::min(text_length, CountArgument(node->child(1), text_length));
      break;
    case KeyFormulaKind::kStr:
      node->length = CountArgument(node->child(1), kStrDefaultWidth);
      break;
    case KeyFormulaKind::kUpper:
    case KeyFormulaKind::kLower:
      node->length = text_length;
      break;
    default:  // DTOC, DTOS
      node->length = kDateTextLength;
      break;
  }
  SetHostSizes(node);
  return true;
}

bool KeyFormulaParser::CheckConcatenation(KeyFormulaNode* node) {
  KeyFormulaNode* left = node->children[0].get();
  KeyFormulaNode* right = node->children[1].get();
  if (left == nullptr || right == nullptr) {
    return Fail(kFormulaSyntax, {MessageArg::Text(u"+")});
  }
  if (!Check(left) || !Check(right)) return false;
  // A field left unresolved (reported already, not a failure in this
  // mode) has no type to compare: the other side's stands.
  if (IsUnresolvedField(*left)) {
    node->type = right->type;
  } else if (IsUnresolvedField(*right) || left->type == right->type) {
    node->type = left->type;
  } else {
    return Fail(kFormulaMixedTypes);
  }
  // Numbers add up: their key is as wide as the wider one.
  node->length = node->type == u'N' || node->type == u'F'
                     ? std::max(left->length, right->length)
                     : Saturate(uint64_t{left->length} + right->length);
  SetHostSizes(node);
  return true;
}

void KeyFormulaParser::SetHostSizes(KeyFormulaNode* node) const {
  const uint32_t buffer = node->type == u'C'
                              ? Saturate(uint64_t{node->length} * 2 + 2)
                              : node->length;
  node->host_buffer_size = buffer;
  if (dialect_ == kKbdDbase4 && (node->type == u'N' || node->type == u'F')) {
    node->host_value_type = kValueDouble;
    node->host_buffer_size = kDbase4NumericKeySize;
    node->host_value_size = kDbase4NumericKeySize;
    return;
  }
  node->host_value_type =
      KeyValueType(dialect_, KeyTypeOfField(node->type, dialect_));
  switch (node->host_value_type) {
    case kValueInt32:
      node->host_buffer_size = node->host_value_size = 4;
      break;
    case kValueDouble:
      node->host_buffer_size = node->host_value_size = 8;
      break;
    case kValueChar:
      node->host_value_size = buffer;
      break;
    default:  // text
      node->host_value_size = buffer > 0 ? buffer - 1 : 0;
      break;
  }
}

void KeyFormulaParser::AddMessage(uint32_t message_id,
                                  std::initializer_list<MessageArg> args) {
  messages_ +=
      FormatResource(DriverModule(), message_id,
                     std::span<const MessageArg>(args.begin(), args.size()));
  messages_ += u"\r\n";
}

bool KeyFormulaParser::Fail(uint32_t message_id,
                            std::initializer_list<MessageArg> args) {
  AddMessage(message_id, args);
  failed_ = true;
  return false;
}

}  // namespace qx::access
