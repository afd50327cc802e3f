// KeyFormulaParser: turns a compound key formula into a checked tree.
//
// Grammar, purely textual (no operator precedence, no quoting):
//   formula := term | term '+' formula     (right-nested concatenations)
//   term    := FUNCTION '(' args ')' | number | field name
//   args    := the text up to the matching ')', split at every ','
// A '+' splits the formula wherever it stands, inside parentheses too,
// and a ',' splits the arguments wherever it stands: "UPPER(A+B)" is the
// terms "UPPER(A" and "B)", and nested functions of two arguments do not
// parse. Function names (SUBSTR, RIGHT, LEFT, STR, UPPER, LOWER, DTOC,
// DTOS) are recognised without regard to case when the term begins with
// one, followed by a character that cannot continue a name; any other
// term is a number when it begins with a digit, else a field name.
//
// Checking gives each node its result type and length (key_formula_node.h)
// and resolves field names through the owner's field resolver, the one
// virtual operation of the class: the table-bound parser
// (table_key_formula_parser.h) looks them up in a table's fields. The
// first failure ends the check. Failures are not errors: each adds its
// French message to messages(), which the caller puts into error 1069
// (table_key_formula_parser.h reports it). In strict mode the first
// failure ends the parse, an unknown field included, and no tree is kept.
// In the other mode the whole formula is parsed (every term's parse
// failure reported), the tree is kept, it is checked only when it parsed
// without failure, and an unknown field is reported without counting as a
// failure.
#ifndef QX_ACCESS_FORMULA_KEY_FORMULA_PARSER_H_
#define QX_ACCESS_FORMULA_KEY_FORMULA_PARSER_H_

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "access/formula/key_formula_node.h"
#include "platform/platform.h"

namespace qx::access {

// The default separators of a term: blank . ; : , ' " tab CR LF ( ) [ ] { }
// < > ! ? / + * # (24 characters).
inline constexpr std::u16string_view kTermSeparators =
    u" .;:,'\"\t\r\n()[]{}<>!?/+*#";

// The next term of text from *pos: separators are skipped, then the term
// is the longest run of characters that are not separators. *pos ends on
// the separator after the term (or the end). Empty when only separators
// are left.
std::u16string_view NextTerm(std::u16string_view text, size_t* pos,
                             std::u16string_view separators = kTermSeparators);

// Resource ids of the parser's messages. Never renumber.
enum KeyFormulaMessage : uint32_t {
  kFormulaUnknownTerm = 28948,       // "L'expression ou la fonction <%1> est
                                     // inconnue." (no term reaches it: any
                                     // unknown term is a field name)
  kFormulaNoRightParen = 28949,      // <term>
  kFormulaNoArgument = 28950,        // <function>
  kFormulaNoSecondArgument = 28951,  // <function>
  kFormulaSyntax = 28952,            // "+"
  kFormulaMixedTypes = 28953,        // no insert
  kFormulaUnknownField = 28954,      // <field>
  kFormulaNoLeftParen = 28955,       // <term>
};

class KeyFieldSource;

class KeyFormulaParser {
 public:
  KeyFormulaParser() = default;
  virtual ~KeyFormulaParser() = default;
  KeyFormulaParser(const KeyFormulaParser&) = delete;
  KeyFormulaParser& operator=(const KeyFormulaParser&) = delete;

  // Parses and checks formula for an index of dialect, resolving fields
  // in fields (kept for the resolver as the context). Drops the previous
  // tree, messages and fields first. 1 when a tree was built and no
  // failure was met, else 0; an empty or blank formula gives 0 without
  // messages. The option word is kept, not used.
  int32_t Parse(uint32_t options, int32_t dialect, const KeyFieldSource* fields,
                std::u16string_view formula, bool strict = false);
  // The strict entry: option word 1.
  int32_t ParseStrict(int32_t dialect, const KeyFieldSource* fields,
                      std::u16string_view formula) {
    return Parse(1, dialect, fields, formula, true);
  }

  // Drops the tree, messages and fields; the dialect becomes the given
  // one (dBASE III when none is given).
  void Reset(int32_t dialect = 1);

  // The messages of the last parse, each followed by CR LF.
  const std::u16string& messages() const { return messages_; }
  // The fields the check resolved, in the order met (as the source names
  // them).
  const std::vector<std::u16string>& fields() const { return fields_; }
  // The tree; it stays valid after the parser parses again or goes.
  std::shared_ptr<const KeyFormulaNode> root() const { return root_; }
  // The operands of the formula's concatenation chain, left to right: the
  // leaves of the tree of concatenations (a formula without '+' has one,
  // its root); missing operands are left out.
  std::vector<const KeyFormulaNode*> Operands() const;

  int32_t dialect() const { return dialect_; }
  uint32_t options() const { return options_; }
  bool strict() const { return strict_; }
  const KeyFieldSource* field_source() const { return source_; }

 protected:
  // The field resolver: sets node->type and node->length for the field
  // named node->text (through field_source()) and answers the name to
  // record in fields(), or false when the table has no such field usable
  // in a key.
  virtual bool ResolveField(KeyFormulaNode* node, std::u16string* name) = 0;

 private:
  // Parsing: null for a blank text, and in strict mode after a failure.
  std::unique_ptr<KeyFormulaNode> ParseFormula(std::u16string_view text);
  std::unique_ptr<KeyFormulaNode> ParseTerm(std::u16string_view term);
  bool ParseArguments(std::u16string_view term, KeyFormulaNode* node);
  // Checking: false at the first failure.
  bool Check(KeyFormulaNode* node);
  bool CheckFunction(KeyFormulaNode* node);
  bool CheckConcatenation(KeyFormulaNode* node);
  void SetHostSizes(KeyFormulaNode* node) const;
  // Adds a message to messages().
  void AddMessage(uint32_t message_id,
                  std::initializer_list<platform::MessageArg> args);
  // Adds a message and marks the parse failed; answers false.
  bool Fail(uint32_t message_id,
            std::initializer_list<platform::MessageArg> args = {});

  std::shared_ptr<const KeyFormulaNode> root_;
  const KeyFieldSource* source_ = nullptr;  // the resolver's context
  int32_t dialect_ = 11;                    // unknown family until a parse
  uint32_t options_ = 0;
  bool strict_ = false;
  bool failed_ = false;  // a failure was met in this parse
  uint32_t depth_ = 0;   // levels of ParseFormula running
  std::vector<std::u16string> fields_;
  std::u16string messages_;
};

}  // namespace qx::access

#endif  // QX_ACCESS_FORMULA_KEY_FORMULA_PARSER_H_
