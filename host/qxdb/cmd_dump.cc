// qxdb dump TABLE.dbf: the records as JSON Lines, in record order or, with
// --index, in the order of an index (value forms: record_printer.h). Every
// record that can be read is printed; a record or value that cannot be is
// reported on stderr, and the exit status is then 1 at the end.
#include <iostream>
#include <memory>
#include <string>

#include "host/qxdb/commands.h"
#include "host/qxdb/index_file.h"
#include "host/qxdb/record_printer.h"
#include "host/qxdb/table.h"
#include "qx/engine.h"

namespace qx::qxdb {

int CmdDump(Invocation& inv) {
  if (!inv.Parse({"codepage", "index", "tag"}, {"deleted"})) return kExitUsage;
  if (inv.positionals().size() != 1)
    return inv.Usage(
        "usage: qxdb dump TABLE.dbf [--deleted] [--codepage CP] "
        "[--index INDEXFILE [--tag NAME]]");
  std::optional<int> code_page = ParseCodePage(inv.Option("codepage"));
  if (!code_page)
    return inv.Usage("unknown code page " + *inv.Option("codepage"));
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  Table table;
  int16_t status = table.Open(path, false);
  if (status < 0) return inv.EngineFailure(path, status);
  if (status > 0) inv.EngineWarning(path, status);
  kbdseterror(0);
  kbdsetdatefmt(4);  // dates as YYYYMMDD
  bool with_deleted = inv.Flag("deleted");
  RecordPrinter printer(inv, table, *code_page);
  if (std::optional<std::string> index_path = inv.Option("index")) {
    std::unique_ptr<IndexFile> index;
    if (int rc = OpenIndexFor(inv, *index_path, inv.Option("tag"), false,
                              &table, &index))
      return rc;
    std::string key;
    uint32_t recno = 0;
    int rc = kExitOk;
    for (status = index->First(&key, &recno); status == kKbdOk;
         status = index->Next(&key, &recno)) {
      if (PrintRecord(inv, table, printer, recno, with_deleted) != kExitOk)
        rc = kExitFailure;
    }
    if (status < 0) return inv.EngineFailure(*index_path, status);
    return rc;
  }
  int rc = kExitOk;
  uint32_t count = table.info().record_count;
  for (uint32_t recno = 1; recno <= count; ++recno)
    if (PrintRecord(inv, table, printer, recno, with_deleted) != kExitOk)
      rc = kExitFailure;
  return rc;
}

}  // namespace qx::qxdb
