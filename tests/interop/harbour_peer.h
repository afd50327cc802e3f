// The Harbour peer for interop tests: compiles a test program with hbmk2
// (once per program text, cached under the system temporary directory)
// and runs it in a directory of the test's. Test support, so it may use
// the operating system directly.
//
// Harbour is found in $HARBOUR_PREFIX, else /opt/harbour (where `make
// test` builds it). Tests skip when it is absent, unless QX_REQUIRE_HARBOUR
// is set (CI sets it), in which case they fail.
#ifndef QX_TESTS_INTEROP_HARBOUR_PEER_H_
#define QX_TESTS_INTEROP_HARBOUR_PEER_H_

#include <string>
#include <vector>

namespace qx::testing {

class HarbourPeer {
 public:
  // Empty when Harbour can be used, else why not.
  static std::string Missing();
  // Whether a missing Harbour must fail the test rather than skip it.
  static bool Required();

  // Compiles the program at prg_path (a file of the checkout). False with
  // the compiler's output in *error.
  bool Compile(const std::string& prg_path, std::string* error);
  // Compiles a program given as text; name names the binary.
  bool CompileSource(const std::string& name, const std::string& source,
                     std::string* error);
  // Runs the compiled program in directory cwd with args; *output gets
  // its standard output and error. Answers the exit status (-1 when it
  // could not run).
  int Run(const std::string& cwd, const std::vector<std::string>& args,
          std::string* output) const;

 private:
  std::string binary_;
};

}  // namespace qx::testing

#endif  // QX_TESTS_INTEROP_HARBOUR_PEER_H_
