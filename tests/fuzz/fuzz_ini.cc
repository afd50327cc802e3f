// The profile (INI) reader: the input is the file, read for the keys the
// product reads (by path, and by name in the system directory, where the
// name is matched without regard to case) and for missing ones.
#include <string>

#include "platform/platform.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace qx::fuzz;

void WriteSeeds(const std::string& dir) {
  WriteSeedText(dir, "options",
                "[OPTION]\r\nDELETEINDEX=1\r\nDUPLICATESON = 0x10\r\n"
                "SYNCWRITES='-3'\r\n");
  WriteSeedText(dir, "sort",
                "\xEF\xBB\xBF; collation\n[ sort ]\nasciisort=0b101\n"
                "[sort]\nasciisort=7\n");
  WriteSeedText(dir, "odd",
                "DELETEINDEX=4\n[OPTION\nkey\n[option]\n"
                "deleteindex=\"12\"x\n=5\n[]\n");
}

void ReadKeys(const std::string& file) {
  const char* const sections[][2] = {{"OPTION", "DELETEINDEX"},
                                     {"option", "duplicateson"},
                                     {"OPTION", "SYNCWRITES"},
                                     {"sort", "asciisort"},
                                     {"", ""},
                                     {"missing", "key"}};
  for (const auto& entry : sections)
    qx::platform::ProfileInt(entry[0], entry[1], 77, file);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  static const bool directory_set = [] {
    qx::platform::SetSystemDirectory(WorkDir());
    return true;
  }();
  (void)directory_set;
  ReadKeys(WriteInput("qxdbins.ini", data, size));
  ReadKeys("QXDBINS.INI");
  return 0;
}
