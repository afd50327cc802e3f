// Prints the current record of a table as one JSON object per line, in
// the value forms of `qxdb dump`:
//
// C and V text without trailing blanks and NULs; N a number (an integer
// when the stored text has no decimal point); F, B, Y numbers; I an
// integer; D "YYYYMMDD"; T "YYYYMMDDHHMMSS"; L true/false; M the memo text
// ("" when the field points to no memo, {"base64": ...} for a binary FPT
// value); G, P, W {"base64": ...} of the memo bytes; Q and the null-flag
// column {"base64": ...} of their bytes. Blank values, values whose null
// bit is set, and memo values whose memo file is missing are null.
#ifndef QX_HOST_QXDB_RECORD_PRINTER_H_
#define QX_HOST_QXDB_RECORD_PRINTER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/qxdb/cli.h"
#include "host/qxdb/json.h"
#include "host/qxdb/table.h"
#include "qx/engine.h"

namespace qx::qxdb {

class RecordPrinter {
 public:
  // REQUIRES: the task's date format is 4 (dates print as YYYYMMDD).
  RecordPrinter(Invocation& inv, Table& table, int code_page);

  // Prints the record in the table's buffer; false after an engine
  // failure (reported on stderr).
  bool Print(uint32_t recno, bool deleted);

 private:
  std::string Text(std::string_view bytes) const;
  bool Check(int16_t status);
  std::string Raw(int16_t field);
  bool Memo(int16_t field, const KbdFieldDef& f, JsonWriter* w);
  bool Value(int16_t field, const KbdFieldDef& f, JsonWriter* w);

  Invocation& inv_;
  Table& table_;
  int code_page_;
  std::vector<std::string> names_;
  std::vector<char> buffer_;
};

// Reads record recno and prints it unless it is deleted and deleted
// records are not wanted: an exit status.
int PrintRecord(Invocation& inv, Table& table, RecordPrinter& printer,
                uint32_t recno, bool with_deleted);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_RECORD_PRINTER_H_
