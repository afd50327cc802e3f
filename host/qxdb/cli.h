// The command line of qxdb: argument parsing, exit statuses, and the
// reporting of engine failures.
//
// Exit statuses: 0 success, 1 not found (file, record, key), 2 usage
// error, 3 engine or file error (stderr names the file, the status code and
// its text).
#ifndef QX_HOST_QXDB_CLI_H_
#define QX_HOST_QXDB_CLI_H_

#include <cstdint>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qx::qxdb {

enum ExitStatus : int {
  kExitOk = 0,
  kExitNotFound = 1,
  kExitUsage = 2,
  kExitFailure = 3,
};

// One run's streams and parsed arguments.
class Invocation {
 public:
  Invocation(std::vector<std::string> args, std::ostream& out,
             std::ostream& err, std::istream& in)
      : args_(std::move(args)), out_(out), err_(err), in_(in) {}

  // Splits the arguments after the command into positionals, options with
  // a value (value_options, e.g. "--dialect") and flags (e.g.
  // "--deleted"). An option may repeat (--field ...). False with a usage
  // message on an unknown option or a missing value.
  bool Parse(const std::vector<std::string_view>& value_options,
             const std::vector<std::string_view>& flags);

  const std::vector<std::string>& positionals() const { return positionals_; }
  bool Flag(std::string_view name) const;
  std::optional<std::string> Option(std::string_view name) const;
  std::vector<std::string> Options(std::string_view name) const;

  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }
  std::istream& in() { return in_; }

  // Prints "qxdb: MESSAGE" and answers kExitUsage.
  int Usage(std::string_view message);
  // Prints "qxdb: FILE: MESSAGE" and answers status.
  int Fail(int status, std::string_view file, std::string_view message);
  // Prints "qxdb: FILE: status CODE: TEXT" for an engine status and
  // answers kExitFailure.
  int EngineFailure(std::string_view file, int16_t status);
  // The failure of a writer that needs what another process may hold: for
  // the lock status (-37) "qxdb: FILE: WHAT is locked by another process
  // (status -37: TEXT)", else as EngineFailure. Answers kExitFailure.
  int LockFailure(std::string_view file, std::string_view what, int16_t status);
  // Prints a warning status to stderr ("qxdb: FILE: warning CODE: TEXT").
  void EngineWarning(std::string_view file, int16_t status);

 private:
  std::vector<std::string> args_;
  std::ostream& out_;
  std::ostream& err_;
  std::istream& in_;
  std::vector<std::string> positionals_;
  std::multimap<std::string, std::string, std::less<>> options_;
};

// The short text of an engine status in UTF-8 ("" when it has none).
std::string StatusText(int16_t status);

// A UTF-8 path as the engine takes it (code page 1252).
std::string EnginePath(std::string_view utf8_path);

// Code page named by --codepage: cp1252 (default), cp850, cp437, utf8.
// Nullopt for another name.
std::optional<int> ParseCodePage(std::optional<std::string> name);

// Runs qxdb with argv[1..] (the command first). Never throws.
int RunQxdb(const std::vector<std::string>& args, std::ostream& out,
            std::ostream& err, std::istream& in);

}  // namespace qx::qxdb

#endif  // QX_HOST_QXDB_CLI_H_
