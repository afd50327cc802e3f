// DBT memo files in both layouts: dBASE III (open in dialect 1) and
// dBASE IV (dialect 2); the input is the memo file.
#include "qx/engine.h"
#include "tests/fuzz/fuzz_memo.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

void WriteSeeds(const std::string& dir) {
  qx::fuzz::WriteMemoSeeds(dir + "iii-", kKbdKindDbt, kKbdDbase3);
  qx::fuzz::WriteMemoSeeds(dir + "iv-", kKbdKindDbt, kKbdDbase4);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  qx::fuzz::MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace qx::fuzz;
  StartEngine();
  const std::string path = WriteInput("input.dbt", data, size);
  ReadEveryMemo(path, kKbdKindDbt, kKbdDbase3, size);
  ReadEveryMemo(path, kKbdKindDbt, kKbdDbase4, size);
  return 0;
}
