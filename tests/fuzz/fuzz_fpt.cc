// FPT memo files (one layout), opened in dialect 0 as the driver opens
// them; the input is the memo file.
#include "qx/engine.h"
#include "tests/fuzz/fuzz_memo.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void WriteSeeds(const std::string& dir) {
  qx::fuzz::WriteMemoSeeds(dir, kKbdKindFpt, 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qx::fuzz::MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qx::fuzz;
  StartEngine();
  const std::string path = WriteInput("input.fpt", data, size);
  ReadEveryMemo(path, kKbdKindFpt, 0, size);
  return 0;
}
