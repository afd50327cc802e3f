// qxdb delete|recall TABLE.dbf RECNO and qxdb pack TABLE.dbf, written as
// any program sharing the table writes: a record is marked under its
// record lock, and pack runs only on a table no other process has open,
// under the file lock the engine's pack takes. What another process holds
// makes the command fail at once, saying so.
#include <charconv>
#include <string>

#include "access/adapter/memo_ops.h"
#include "host/qxdb/commands.h"
#include "host/qxdb/table.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::qxdb {
namespace {

// True when a handle of another process (or of this one) has the file
// open: an open that shares nothing is refused then.
bool OpenElsewhere(const std::string& path) {
  namespace p = platform;
  p::File* probe =
      p::OpenFile(EnginePath(path).c_str(),
                  p::kFileOpenExisting | p::kFileRead | p::kFileWrite);
  if (probe != nullptr) {
    p::CloseFile(probe);
    return false;
  }
  return p::LastError() == p::kErrorSharingViolation;
}

int InUse(Invocation& inv, const std::string& path) {
  return inv.Fail(kExitFailure, path,
                  "open in another process: pack needs the table alone");
}

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
  status = kbddlockrec(table.handle(), recno, kKbdLockRec);
  if (status < 0) return inv.LockFailure(path, "record " + text, status);
  kbdseterror(0);
  status = deleted ? kbdddelete(table.handle(), recno)
                   : kbddrecall(table.handle(), recno);
  if (status < 0) return inv.EngineFailure(path, status);
  kbdseterror(0);
  status = kbddlockrec(table.handle(), recno, kKbdLockRecUnlock);
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
  if (inv.positionals().size() != 1)
    return inv.Usage("usage: qxdb pack TABLE.dbf");
  if (inv.Flag("no-sync")) kbdsetsync(0);
  const std::string& path = inv.positionals()[0];
  if (!PathExists(path)) return inv.Fail(kExitNotFound, path, "no such file");
  // Pack replaces the files: a process that has one open would keep the
  // old one (and the replacing would fail part way). The memo file's name
  // comes from the table's dialect, known once the table is open.
  if (OpenElsewhere(path)) return InUse(inv, path);
  Table table;
  int16_t status = table.Open(path, false);
  if (status < 0) return inv.EngineFailure(path, status);
  const std::string memo = table.memo_open() ? table.memo_path() : "";
  table.Close();
  if (!memo.empty() && OpenElsewhere(memo)) return InUse(inv, memo);
  status = table.Open(path, true);
  if (status < 0) return inv.EngineFailure(path, status);
  // The memo file first: it renumbers the memo fields of live records,
  // which the data file's pack then carries over. Both packs hold the
  // table's file lock (mode 2) while they run.
  if (table.memo_open()) {
    uint16_t memo_handle = static_cast<uint16_t>(table.memo_handle());
    status = static_cast<int16_t>(
        access::PackMemo(table.memo_kind() == MemoKind::kFpt, &memo_handle,
                         static_cast<uint16_t>(table.handle())));
    *table.mutable_memo_handle() = static_cast<int16_t>(memo_handle);
    if (status == kKbdErrLockViolation)
      return inv.LockFailure(path, "the table", status);
    if (status < 0) return inv.EngineFailure(table.memo_path(), status);
  }
  kbdseterror(0);
  status = kbddpack(table.mutable_handle());
  if (status < 0) return inv.LockFailure(path, "the table", status);
  return kExitOk;
}

}  // namespace qx::qxdb
