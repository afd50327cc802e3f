// KeyFormulaNode: one node of a compound key formula's tree.
//
// A compound key of the host is a formula in the xBase key expression
// style: terms joined by '+', each a field name, a number or one of eight
// string functions. The parser (key_formula_parser.h) builds the tree and
// checks it; checking gives every node but numbers its result type letter,
// its length in characters and the sizes of the host value that holds it.
#ifndef QX_ACCESS_FORMULA_KEY_FORMULA_NODE_H_
#define QX_ACCESS_FORMULA_KEY_FORMULA_NODE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx::access {

// Node kinds. Never renumber: the numbers are the ones the access layer's
// callers test.
enum class KeyFormulaKind : int32_t {
  kConcatenation = 1,  // children: left, right (either may be missing)
  kNumber = 2,         // a term starting with a digit
  kField = 3,          // any other term
  kSubstr = 4,         // SUBSTR(text, start[, count])
  kRight = 5,          // RIGHT(text, count)
  kLeft = 6,           // LEFT(text, count)
  kStr = 7,            // STR(number[, width])
  kUpper = 8,          // UPPER(text)
  kLower = 9,          // LOWER(text)
  kDtoc = 10,          // DTOC(date)
  kDtos = 11,          // DTOS(date)
};

// Whether a kind is one of the functions (4 to 11).
constexpr bool IsFunctionKind(KeyFormulaKind kind) {
  return kind >= KeyFormulaKind::kSubstr && kind <= KeyFormulaKind::kDtos;
}

struct KeyFormulaNode {
  KeyFormulaNode(KeyFormulaKind k, std::u16string t)
      : kind(k), text(std::move(t)) {}

  // The operand or argument n, null when n is past the children or the
  // operand is missing.
  const KeyFormulaNode* child(size_t n) const {
    return n < children.size() ? children[n].get() : nullptr;
  }
  size_t child_count() const { return children.size(); }

  // The text of a number read as a decimal integer: its leading digits
  // (0 when there are none), at most INT32_MAX.
  int32_t NumericValue() const;

  KeyFormulaKind kind;
  // A function's term as written (name and arguments), a field's name, a
  // number's digits; without the blanks around them.
  std::u16string text;
  // A concatenation's left and right operands (null when missing), or a
  // function's arguments in order.
  std::vector<std::unique_ptr<KeyFormulaNode>> children;

  // Set by the check (numbers keep 0). The host value is the key value
  // type of the result (KeyValueType of fields/type_mapping.h); its sizes
  // in bytes: 4 and 4 for an integer, 8 and 8 for a float, 12 and 12 for a
  // dBASE IV number; for a character the buffer's size twice; for a text
  // the buffer size, 2 × length + 2 for 'C' (UTF-16 with its terminator)
  // or length, and that less 1.
  char16_t type = 0;              // result type letter: 'C', 'N', 'D', ...
  uint32_t length = 0;            // result length in characters
  uint32_t host_buffer_size = 0;  // bytes
  uint32_t host_value_size = 0;   // bytes
  uint8_t host_value_type = 0;    // HostValueType
};

}  // namespace qx::access

#endif  // QX_ACCESS_FORMULA_KEY_FORMULA_NODE_H_
