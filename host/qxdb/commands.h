// The subcommands of qxdb, one function each. Every one takes the parsed
// invocation (arguments after the command) and answers an exit status.
#ifndef QX_HOST_QXDB_COMMANDS_H_
#define QX_HOST_QXDB_COMMANDS_H_

#include "host/qxdb/cli.h"

namespace qx::qxdb {

int CmdInfo(Invocation& inv);
int CmdDump(Invocation& inv);
int CmdCreate(Invocation& inv);
int CmdImport(Invocation& inv);
int CmdDelete(Invocation& inv);
int CmdRecall(Invocation& inv);
int CmdPack(Invocation& inv);
int CmdIndex(Invocation& inv);
int CmdKeys(Invocation& inv);
int CmdSeek(Invocation& inv);
int CmdCheck(Invocation& inv);
// Through the component (cmd_component.cc).
int CmdTables(Invocation& inv);
int CmdDescribe(Invocation& inv);
int CmdRead(Invocation& inv);
// Browsing and seeking through the component (cmd_browse.cc).
int CmdBrowse(Invocation& inv);
int CmdFind(Invocation& inv);
// Writing through the component (cmd_write.cc).
int CmdAdd(Invocation& inv);
int CmdModify(Invocation& inv);
int CmdRemove(Invocation& inv);
// A lock held through the component until stdin ends (cmd_lock.cc).
int CmdLock(Invocation& inv);
// Creation and maintenance through the component (cmd_maintenance.cc).
int CmdNew(Invocation& inv);
int CmdReindex(Invocation& inv);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_COMMANDS_H_
