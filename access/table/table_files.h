// The files of an open table: what record transfer and the table object
// share about the data file open for record work and its memo file.
//
// Owned by one table object (xbase_table.h), which opens and closes the
// files; record_transfer.h reads and writes records through them.
#ifndef QX_ACCESS_TABLE_TABLE_FILES_H_
#define QX_ACCESS_TABLE_TABLE_FILES_H_

#include <cstdint>
#include <string>

#include "access/adapter/data_file_ops.h"
#include "access/adapter/dialects.h"
#include "access/adapter/memo_ops.h"

namespace qx::access {

class CErrorContext;

struct TableFiles {
  std::u16string table;  // the logical name, named by every error
  std::u16string path;   // the data file
  uint16_t handle = kNoDataHandle;
  uint16_t mode_word = 0;   // the open-mode word of the data file
  uint32_t open_count = 0;  // OpenFiles calls not yet closed
  XbaseDialect dialect = kDialectOther;
  uint8_t version = 0;  // header byte 0
  FieldDescriptions fields;
  // Texts convert with the platform's whole OEM table (OEMTOANSI=WINDOWS)
  // rather than the French letters only.
  bool full_conversion = false;
  // The memo file, opened on first use (kNoMemoHandle until then, and
  // when it is missing or does not open).
  uint16_t memo_handle = kNoMemoHandle;
  bool memo_fpt = false;
  std::u16string memo_path;
  uint32_t current_recno = 0;       // the record in the engine's buffer; 0 none
  CErrorContext* errors = nullptr;  // the table's error context (not owned)

  bool is_open() const { return open_count > 0; }
  bool read_only() const { return (mode_word & kModeReadOnly) != 0; }
};

}  // namespace qx::access

#endif  // QX_ACCESS_TABLE_TABLE_FILES_H_
