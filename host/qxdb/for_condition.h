// The FOR conditions of index tags, as qxdb evaluates them on a record:
// which records a filtered tag holds.
//
// The engine evaluates key expressions (terms joined by '+'); a FOR
// condition adds comparisons and logic, which qxdb, as the host, reads
// itself:
//
//   condition := conjunct { ".OR." conjunct }
//   conjunct  := negation { ".AND." negation }
//   negation  := { ".NOT." | "!" } primary
//   primary   := "(" condition ")" | "DELETED()" | ".T." | ".F."
//              | term [ op term ]          op: == = != # <> < <= > >=
//   term      := a key expression (engine) or a quoted text
//
// Texts compare as bytes after their trailing blanks are dropped; "="
// is true when the right text is a prefix of the left (xBase's inexact
// comparison), "==" only for equal texts. Numbers and dates compare by
// value. A term alone must give a logical value.
#ifndef QX_HOST_QXDB_FOR_CONDITION_H_
#define QX_HOST_QXDB_FOR_CONDITION_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::qxdb {

// Evaluates condition on the data file's current record (deleted: its
// deletion mark). kKbdOk with *holds set, or a negative engine status
// (-7 for a condition outside the grammar above).
int16_t EvaluateForCondition(int16_t dbf_handle, bool deleted,
                             std::string_view condition, bool* holds);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_FOR_CONDITION_H_
