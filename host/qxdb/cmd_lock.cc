// qxdb lock TABLE.dbf (--record N | --table) [--index FILE[:KEY]]...
// Holds a lock through the component, as a host program holds one while
// its user edits: the record lock (kind 2) of record N, or the table's
// exclusive lock (kind 4). Prints "locked record N" (or "locked table")
// once the lock is held, keeps it until standard input ends, then
// releases it and prints "unlocked". Another process's writer meanwhile
// meets a lock conflict (category 2). A lock that cannot be taken exits 3
// with the driver's error.
#include <cstdlib>
#include <istream>
#include <ostream>
#include <string>

#include "host/qxdb/commands.h"
#include "host/qxdb/component_record.h"

namespace qx::qxdb {

int CmdLock(Invocation& inv) {
  constexpr const char* kUsage =
      "usage: qxdb lock TABLE.dbf (--record N | --table) "
      "[--index FILE[:KEY]]...";
  if (!inv.Parse({"index", "record"}, {"table"})) return kExitUsage;
  if (inv.positionals().size() != 1) return inv.Usage(kUsage);
  const std::optional<std::string> record = inv.Option("record");
  const bool whole_table = inv.Flag("table");
  if (record.has_value() == whole_table) return inv.Usage(kUsage);
  uint32_t recno = 0;
  if (record) {
    char* end = nullptr;
    const unsigned long n = std::strtoul(record->c_str(), &end, 10);
    if (record->empty() || *end != '\0' || n == 0 || n > UINT32_MAX)
      return inv.Usage(kUsage);
    recno = static_cast<uint32_t>(n);
  }
  const std::string& path = inv.positionals()[0];
  ComponentSession component;
  std::unique_ptr<host::SessionTable> table;
  if (int rc = OpenComponentTable(inv, path, true, &component, &table))
    return rc;
  const bool locked =
      whole_table ? table->LockTable(4) : table->LockRecord(recno, 2);
  if (!locked) return component.Failure(inv, path);
  if (whole_table) {
    inv.out() << "locked table" << std::endl;
  } else {
    inv.out() << "locked record " << recno << std::endl;
  }
  // Held until the caller closes our standard input.
  std::string line;
  while (std::getline(inv.in(), line)) {
  }
  const bool released =
      whole_table ? table->UnlockTable() : table->UnlockRecord(recno);
  if (!released) return component.Failure(inv, path);
  inv.out() << "unlocked" << std::endl;
  return kExitOk;
}

}  // namespace qx::qxdb
