// qxdb's way into the component: the reference host's loader and session
// (host/hostlib), started for one command.
//
// The component and the VM module are the ones the build made, unless the
// environment names others (QXDB_COMPONENT, QXDB_VM).
#ifndef QX_HOST_QXDB_COMPONENT_SESSION_H_
#define QX_HOST_QXDB_COMPONENT_SESSION_H_

#include <memory>
#include <string>
#include <string_view>

#include "host/hostlib/component_host.h"
#include "host/hostlib/session.h"
#include "host/qxdb/cli.h"

namespace qx::qxdb {

class ComponentSession {
 public:
  ComponentSession() = default;
  ComponentSession(const ComponentSession&) = delete;
  ComponentSession& operator=(const ComponentSession&) = delete;

  // Loads the component and connects to directory (UTF-8) read-only (or
  // for writing); false after printing why on stderr.
  bool Start(Invocation& inv, std::string_view directory,
             bool read_only = true);

  host::Session& session() { return *session_; }
  // Prints "qxdb: FILE: error ID: MESSAGE" for the error the driver holds
  // and answers kExitFailure.
  int Failure(Invocation& inv, std::string_view file);

 private:
  host::ComponentHost host_;
  std::unique_ptr<host::Session> session_;
};

// The directory part of a UTF-8 path ("." when it has none).
std::string DirectoryOf(std::string_view path);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_COMPONENT_SESSION_H_
