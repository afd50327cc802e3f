// Running Harbour (the Clipper-compatible peer) from tests: a program's
// source is written into a directory, compiled with hbmk2 and run there.
#ifndef QX_TESTS_INTEROP_HARBOUR_SUPPORT_NTX_H_
#define QX_TESTS_INTEROP_HARBOUR_SUPPORT_NTX_H_

#include <string>

namespace qx::testing {

// True when the Harbour build (/opt/harbour/bin/hbmk2) is there.
bool HarbourInstalled();

// Writes source as dir/name.prg, compiles it into dir/name (plain
// standard output: -gtcgi) and runs it with dir as the working directory.
// Its standard output goes to *output. Answers the program's exit status,
// or -1 when it did not compile (*output then holds the compiler's
// messages).
int RunHarbour(const std::string& dir, const std::string& name,
               const std::string& source, std::string* output);

}  // namespace qx::testing

#endif  // QX_TESTS_INTEROP_HARBOUR_SUPPORT_NTX_H_
