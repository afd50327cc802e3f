// Key expressions: the xBase expression language in which every index
// states its key and its FOR condition, and its evaluator.
//
// Grammar, loosest binding first (the text after normalisation, below):
//
//   expression = and { ".OR." and }
//   and        = not { ".AND." not }
//   not        = { ".NOT." | "!" } comparison
//   comparison = sum { ( "=" | "==" | "!=" | "<>" | "#" | "<" | "<=" | ">"
//                        | ">=" | "$" ) sum }
//   sum        = product { ( "+" | "-" ) product }
//   product    = power { ( "*" | "/" | "%" ) power }
//   power      = unary { ( "^" | "**" ) unary }
//   unary      = { "-" | "+" } primary
//   primary    = "(" expression ")" | extension | function | text | logical
//              | number | field | word
//   function   = name "(" [ expression { "," expression } ] ")"
//   text       = '"' ... '"' | "'" ... "'" | "[" ... "]"
//   logical    = ".T." | ".F." | ".Y." | ".N."
//
// Operators work as xBase programs have them: '+' concatenates texts,
// adds numbers and adds days to a date; '-' subtracts, and on texts moves
// the left text's trailing blanks to the end of the result; date - date is
// a number of days. Comparisons take two values of one type (text, number,
// date or logical; .F. < .T., an empty date before every date) and give a
// logical. On texts '=' (and '!=', '<>', '#', '<', '<=', '>', '>=')
// compares over the right text's length: "ABC" = "AB" holds, "AB" = "ABC"
// does not, "ABC" = "" holds; '==' compares whole texts. '$' tells whether
// the left text occurs in the right one (an empty left text never does).
// .AND. and .OR. evaluate their right side only when it decides; IIF only
// the branch it gives. The functions are listed in builtins.h.
//
// Tokens. A number is digits with at most one '.' (a '.' before a letter
// belongs to the next token: "1.AND.X"). A word is a run of bytes that are
// none of the grammar's signs (letters, digits, '_', code-page letters...);
// a word naming a field of the data file gives the field's value, any
// other word is the text constant of its own characters. A word longer
// than 10 characters (a field name's length) is an error, except that one
// ending the text is cut to 10 characters. An alias before a field name
// (ALIAS->FIELD, as index files of other programs store it) names the one
// table every expression is evaluated on and is passed over.
//
// At the top level (outside parentheses and argument lists) a term may
// also follow the one before it with no operator ("LEFT(NAME,4)CITY"): a
// text is appended, any other value dropped.
//
// Normalisation: every blank outside text literals is removed and a..z
// outside them become A..Z. Other bytes are kept as they are: field texts
// and words may hold code-page letters, and folding those would tie the
// evaluator to one code page.
//
// Errors. Every syntax error, and every operation on values of the wrong
// type (or a division by zero), is kKbdErrKeyExpression; in a branch that
// is not taken (the other side of IIF, the undeciding side of .AND. and
// .OR.) value errors are passed over, as the programs never evaluate it.
//
// The field values come from a FieldSource, so that the grammar can run on
// any record: record_source.h adapts an open data file.
//
// REQUIRES for everything here: the engine is started and the caller runs
// inside an engine operation (statuses are set as the last error at the
// point of failure). One evaluation at a time.
#ifndef QX_ENGINE_EXPR_EXPRESSION_H_
#define QX_ENGINE_EXPR_EXPRESSION_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qx::engine {

// Longest key expression an NDX, MDX, IDX or CDX file stores, in
// characters after blank removal; a longer one is kKbdErrKeyExpression.
// The header fields that hold it are 220 bytes plus a NUL (NDX and MDX)
// or 220 bytes (IDX), so the limit is fixed by those formats.
constexpr size_t kMaxKeyExpressionLength = 220;

// A word (field name or text constant) holds at most this many characters:
// the length of a field name.
constexpr size_t kMaxTokenLength = 10;

// Parentheses and function calls nest at most this deep; deeper is
// kKbdErrKeyExpression. It bounds the evaluator's recursion (runs of signs
// and negations do not recurse); real keys nest a handful of levels.
constexpr int kMaxNestingDepth = 64;

// Longest text value: kbddeval reports the length in 16 bits.
constexpr size_t kMaxTextLength = 0xFFFF;

// Where the xBase families evaluate alike but for a few rules, which index
// family the expression belongs to.
enum class ExprRules : uint8_t {
  // dBASE and FoxPro (NDX, MDX, IDX, CDX): STR without a length gives 10
  // characters and no decimals.
  kDbase,
  // Clipper (NTX): a number carries a width and decimals (a numeric
  // field its own), which STR, STRZERO and the PAD functions take when the
  // expression gives no length; STR rounds halves of the decimal value
  // away from zero; SUBSTR with a negative start counts from the end.
  kClipper,
};

// One value of the language.
struct ExprValue {
  char type = ' ';      // ' ' none yet; 'C', 'D', 'N', 'F', 'L' or 'M'
  std::string text;     // 'C': the text; 'D': the date in the task's format
  double number = 0.0;  // 'N' and 'F'
  uint8_t logical = 0;  // 'L': 1, 0 or '?' (blank, false) as a field gives it
  uint32_t block = 0;   // 'M': the memo block number
  // 'N' and 'F': the characters and decimals STR gives the number under
  // Clipper rules when the expression names no length (number_shape.h); a
  // length of 0 when the number came with none (extension results).
  uint16_t str_length = 0;
  uint16_t str_decimals = 0;

  // Bytes of the value as the C interface hands it out: the text's length
  // for 'C' and 'D', 8 for 'N' and 'F', 1 for 'L', 4 for 'M', 0 for none.
  size_t Size() const;
  // The first of those bytes (text, double, byte or block number).
  const void* Data() const;
};

// A field of the record the expression is evaluated on.
struct FieldInfo {
  int16_t number = -1;    // 0-based position in the record
  char type = ' ';        // the data file's type character
  uint16_t length = 0;    // bytes in the record
  uint16_t decimals = 0;  // N and F: digits after the point
};

// Where field terms take their values: a record and its field list.
class FieldSource {
 public:
  virtual ~FieldSource() = default;
  // Looks up a field by name (upper case, 1..10 characters, compared
  // without regard to case). False when the record has no such field.
  virtual bool FindField(std::string_view name, FieldInfo* field) = 0;
  // The field's value in the current record. Returns kKbdOk or a warning,
  // or a negative status already set as the last error.
  virtual int16_t GetValue(const FieldInfo& field, ExprValue* value) = 0;
  // DELETED(): whether the current record carries the deletion mark.
  // kKbdOk, or a negative status already set as the last error.
  virtual int16_t GetDeleted(bool* deleted) = 0;
  // RECNO(): the current record's number (1-based; 0 when the record
  // buffer holds no record of the file). As GetDeleted.
  virtual int16_t GetRecno(uint32_t* recno) = 0;
};

// The text with every blank outside text literals removed and a..z outside
// them turned to A..Z.
std::string NormaliseExpressionText(std::string_view text);

// The form in which index files store an expression: normalised, and
// checked for length. Returns kKbdOk; kKbdErrNullPointer for a null text;
// kKbdErrKeyExpression when nothing or more than max_length characters
// remain. *normalised is written only on success.
int16_t NormaliseKeyExpression(const char* text, std::string* normalised,
                               size_t max_length = kMaxKeyExpressionLength);

// Evaluates text (normalised here) on the source's record. term_limit
// stops after that many terms of the leftmost sum at the top level
// ("A+B+C" has three; the rest of the text is then not read); a negative
// limit reads the whole text, which must then form one expression. An
// expression that yields no term at all (empty text, limit 0) is
// kKbdErrKeyExpression. date_format is the task's date format (1..15):
// date values come and go in it. Returns kKbdOk or the last warning an
// extension function gave, with *value set; a negative status leaves
// *value empty (type ' ').
int16_t EvaluateExpression(FieldSource* source, std::string_view text,
                           int term_limit, uint16_t date_format,
                           ExprValue* value,
                           ExprRules rules = ExprRules::kDbase);

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_EXPRESSION_H_
