// qxdb delete|recall TABLE.dbf RECNO and qxdb pack TABLE.dbf.
#include <charconv>
#include <string>

#include "access/adapter/memo_ops.h"
#include "host/qxdb/commands.h"
#include "host/qxdb/table.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

int MarkRecord(Invocation& inv, bool deleted) {
  if (!inv.Parse({}, {})) return kExitUsage;
  const char* usage = deleted ? "usage: qxdb delete TABLE.dbf RECNO"
                              : "usage: qxdb recall TABLE.dbf RECNO";
  if (inv.positionals().size() != 2) return inv.Usage(usage);
  const std::string& path = inv.positionals()[0];
  const std::string& text = inv.positionals()[1];
  uint32_t recno = 0;
  auto r = std::from_chars(text.data(), text.data() + text.size(), recno);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size())
    return inv.Usage(usage);
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  Table table;
  int16_t status = table.Open(path, true);
  if (status < 0) return inv.EngineFailure(path, status);
  if (recno < 1 || recno > table.info().record_count)
    return inv.Fail(kExitNotFound, path, "no record " + text);
  kbdseterror(0);
  status = deleted ? kbdddelete(table.handle(), recno)
                   : kbddrecall(table.handle(), recno);
  if (status < 0) return inv.EngineFailure(path, status);
  kbdseterror(0);
  status = kbddclose(table.handle());
  *table.mutable_handle() = kKbdNoHandle;
  if (status < 0) return inv.EngineFailure(path, status);
  return kExitOk;
}

}  // namespace

int CmdDelete(Invocation& inv) { return MarkRecord(inv, true); }
int CmdRecall(Invocation& inv) { return MarkRecord(inv, false); }

int CmdPack(Invocation& inv) {
  if (!inv.Parse({}, {"no-sync"})) return kExitUsage;
  if (inv.positionals().size() != 1) return inv.Usage("usage: qxdb pack TABLE.dbf");
  if (inv.Flag("no-sync")) kbdsetsync(0);
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  Table table;
  int16_t status = table.Open(path, true);
  if (status < 0) return inv.EngineFailure(path, status);
  // The memo file first: it renumbers the memo fields of live records,
  // which the data file's pack then carries over.
  if (table.memo_open()) {
    uint16_t memo = static_cast<uint16_t>(table.memo_handle());
    status = static_cast<int16_t>(
        access::PackMemo(table.memo_kind() == MemoKind::kFpt, &memo,
                         static_cast<uint16_t>(table.handle())));
    *table.mutable_memo_handle() = static_cast<int16_t>(memo);
    if (status < 0) return inv.EngineFailure(table.memo_path(), status);
  }
  kbdseterror(0);
  status = kbddpack(table.mutable_handle());
  if (status < 0) return inv.EngineFailure(path, status);
  return kExitOk;
}

}  // namespace qx::qxdb
