// What qxdb's verbs through the component share: their index options, the
// opening of their table, and the JSON line of a record the component read.
#ifndef QX_HOST_QXDB_COMPONENT_RECORD_H_
#define QX_HOST_QXDB_COMPONENT_RECORD_H_

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/hostlib/session.h"
#include "host/qxdb/cli.h"
#include "host/qxdb/component_session.h"

namespace qx::qxdb {

// --index FILE[:KEY] options: the key after the last ':' (a drive
// letter's colon stays with the file).
std::vector<host::AttachedIndex> ParseIndexOptions(
    const std::vector<std::string>& options);

// Starts the component on the table's directory and opens the table at
// path with the --index files of inv, for reading or for writing:
// kExitOk, or the exit status after printing why.
int OpenComponentTable(Invocation& inv, const std::string& path, bool writable,
                       ComponentSession* component,
                       std::unique_ptr<host::SessionTable>* table);

// Prints the record as one JSON line ({"_recno", "_deleted", then each
// item}); read_memo(i) fills memo item i. False when a memo could not be
// read (named on stderr; its value printed null).
bool WriteComponentRecord(Invocation& inv, const std::string& path,
                          host::Session& session,
                          const host::HostRecord& record,
                          const std::function<bool(size_t)>& read_memo);
// The record the table read last, its memos read through the table.
bool PrintComponentRecord(Invocation& inv, const std::string& path,
                          host::Session& session, host::SessionTable& table);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_COMPONENT_RECORD_H_
