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
//
// A value that cannot be read (a memo block past the end of its file, a
// field the engine refuses) is printed as {"error": STATUS} and named on
// stderr, one line with record, field and status; the rest of the record
// is printed all the same.
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

  // Prints the record in the table's buffer; false when a value could not
  // be read (marked in the line and reported on stderr).
  bool Print(uint32_t recno, bool deleted);

 private:
  std::string Text(std::string_view bytes) const;
  // Writes the value of one field; a negative engine status when it cannot
  // be read (nothing written then). Memo failures name the memo file in
  // *failed_file.
  int16_t Memo(int16_t field, const KbdFieldDef& f, JsonWriter* w,
               std::string* failed_file);
  int16_t Value(int16_t field, const KbdFieldDef& f, JsonWriter* w,
                std::string* failed_file);
  int16_t Raw(int16_t field, std::string* raw);

  // The value steps, one per field type (what Value writes for a value that
  // is neither null nor a memo); each answers as Value does.
  int16_t NullFlags(int16_t field, JsonWriter* w);
  int16_t Varbinary(int16_t field, JsonWriter* w);
  int16_t Character(int16_t field, JsonWriter* w);
  int16_t DateOrTime(int16_t field, char type, JsonWriter* w);
  int16_t Logical(int16_t field, JsonWriter* w);
  int16_t Integer(int16_t field, JsonWriter* w);
  int16_t Numeric(int16_t field, JsonWriter* w);
  int16_t Double(int16_t field, JsonWriter* w);
  int16_t StoredText(int16_t field, JsonWriter* w);
  // {"base64": ...} of bytes; kKbdOk.
  static int16_t Base64Object(std::string_view bytes, JsonWriter* w);
  // Whether fields of type keep their values in the memo file.
  bool IsMemo(char type) const;

  Invocation& inv_;
  Table& table_;
  int code_page_;
  std::vector<std::string> names_;
  std::vector<char> buffer_;
};

// Reads record recno and prints it unless it is deleted and deleted
// records are not wanted: an exit status. A record that cannot be read is
// reported on stderr (record and status) and not printed.
int PrintRecord(Invocation& inv, Table& table, RecordPrinter& printer,
                uint32_t recno, bool with_deleted);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_RECORD_PRINTER_H_
