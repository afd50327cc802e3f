// Compiling and running Harbour programs for the tests (see
// harbour_support_ntx.h).
#include "tests/interop/harbour_support_ntx.h"

#include "tests/support/test_support.h"

namespace qx::testing {
namespace {

constexpr char kHbmk2[] = "/opt/harbour/bin/hbmk2";

}  // namespace

bool HarbourInstalled() {
  std::string out;
  return RunCommand(std::string("test -x ") + kHbmk2, &out) == 0;
}

int RunHarbour(const std::string& dir, const std::string& name,
               const std::string& source, std::string* output) {
  WriteWholeFile(dir + "/" + name + ".prg", source);
  const std::string in_dir = "cd '" + dir + "' && ";
  if (RunCommand(in_dir + kHbmk2 + " -q -gtcgi " + name + ".prg -o" + name +
                     " 2>&1",
                 output) != 0)
    return -1;
  return RunCommand(in_dir + "./" + name + " 2>&1", output);
}

}  // namespace qx::testing
