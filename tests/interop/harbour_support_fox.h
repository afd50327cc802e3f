// The Harbour peer for interop tests: compiling a Harbour program and
// running it in a test's directory. Tests that need it skip themselves
// with a message when the peer is not built (tools/install-peers.sh
// builds it into /opt/harbour).
#ifndef QX_TESTS_INTEROP_HARBOUR_SUPPORT_FOX_H_
#define QX_TESTS_INTEROP_HARBOUR_SUPPORT_FOX_H_

#include <string>
#include <vector>

namespace qx::testing {

// The Harbour build the tests use, and whether it is there.
inline constexpr const char kHarbourMake[] = "/opt/harbour/bin/hbmk2";
bool HarbourAvailable();

// A compiled Harbour program living in a directory.
class HarbourProgram {
 public:
  // Writes source to dir/name.prg and compiles it into dir/name; false
  // (with the compiler's output in *log) when that fails.
  bool Compile(const std::string& dir, const std::string& name,
               const std::string& source, std::string* log);
  // Runs the program in its directory with the arguments (each passed as
  // one word); *out gets its standard output and error. Answers the exit
  // status.
  int Run(const std::vector<std::string>& args, std::string* out) const;

 private:
  std::string dir_;
  std::string binary_;
};

// The lines of a program's output.
std::vector<std::string> OutputLines(const std::string& out);

}  // namespace qx::testing

#endif  // QX_TESTS_INTEROP_HARBOUR_SUPPORT_FOX_H_
