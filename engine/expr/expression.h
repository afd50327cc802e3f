// Key expressions: the small expression language in which every index
// states its key, and its evaluator.
//
// An expression is a concatenation of texts, a sum of numbers, or one value
// of another type, built from terms:
//
//   expression = term { '+' term }
//   term       = function | field | number | word
//   function   = "SUBSTR(" term "," int [ "," int ] ")"
//              | "LEFT(" term "," int ")" | "RIGHT(" term "," int ")"
//              | "STR(" term [ "," int [ "," int ] ] ")"
//              | "DTOC(" term ")" | "DTOS(" term ")"
//              | "UPPER(" term ")" | "LOWER(" term ")" | extension
//
// The text is normalised first: every blank (the space character) is
// removed and a..z become A..Z. Other bytes are kept as they are: field
// texts and words may hold code-page letters, and folding those would tie
// the evaluator to one code page.
//
// A field, number or word is a token running up to the next ',', ')' or
// '+' (or the end of the text). A token longer than 10 characters fails
// when a delimiter follows it and is cut to 10 characters when it ends the
// text. A token naming a field of the data file gives the field's value;
// otherwise a token of digits and '.' only is a number, read as a double;
// any other token is a word, the text constant of its own characters.
//
// Each term is combined with the value so far: the first gives its type;
// a 'C' term is appended (the value must be 'C'); an 'N' or 'F' term after
// '+' is added (the value must be 'N' or 'F'); any other term after '+'
// fails; 'N', 'F', 'D', 'L' and 'M' terms not after '+' (after a function's
// ')') are dropped. Every syntax and type error is kKbdErrKeyExpression.
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

// A token (field name, number or word) holds at most this many characters:
// the length of a field name.
constexpr size_t kMaxTokenLength = 10;

// Functions nest at most this deep (an argument term of a function inside
// a function ... counts one level each); deeper is kKbdErrKeyExpression. A
// stored expression of 220 characters cannot nest deeper than 44 levels.
constexpr int kMaxNestingDepth = 64;

// One value of the language.
struct ExprValue {
  char type = ' ';      // ' ' none yet; 'C', 'D', 'N', 'F', 'L' or 'M'
  std::string text;     // 'C': the text; 'D': the date in the task's format
  double number = 0.0;  // 'N' and 'F'
  uint8_t logical = 0;  // 'L': 1, 0 or '?' as the data file gives it
  uint32_t block = 0;   // 'M': the memo block number

  // Bytes of the value as the C interface hands it out: the text's length
  // for 'C' and 'D', 8 for 'N' and 'F', 1 for 'L', 4 for 'M', 0 for none.
  size_t Size() const;
  // The first of those bytes (text, double, byte or block number).
  const void* Data() const;
};

// A field of the record the expression is evaluated on.
struct FieldInfo {
  int16_t number = -1;  // 0-based position in the record
  char type = ' ';      // the data file's type character
  uint16_t length = 0;  // bytes in the record
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
};

// The text with every blank removed and a..z turned to A..Z.
std::string NormaliseExpressionText(std::string_view text);

// The form in which index files store an expression: normalised, and
// checked for length. Returns kKbdOk; kKbdErrNullPointer for a null text;
// kKbdErrKeyExpression when nothing or more than max_length characters
// remain. *normalised is written only on success.
int16_t NormaliseKeyExpression(const char* text, std::string* normalised,
                               size_t max_length = kMaxKeyExpressionLength);

// Evaluates text (normalised here) on the source's record. term_limit
// stops after that many terms of the expression (arguments of functions do
// not count); a negative limit reads every term. An expression that yields
// no term at all (empty text, limit 0) is kKbdErrKeyExpression.
// date_format is the task's date format (1..15): DTOS reads 'D' values in
// it. Returns kKbdOk or the last warning an extension function gave, with
// *value set; a negative status leaves *value empty (type ' ').
int16_t EvaluateExpression(FieldSource* source, std::string_view text,
                           int term_limit, uint16_t date_format,
                           ExprValue* value);

}  // namespace qx::engine

#endif  // QX_ENGINE_EXPR_EXPRESSION_H_
