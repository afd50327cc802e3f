// NDX index files: open (read-only, beside the fixed table), a full walk
// both ways, the check, and the key of the fixed table's first record
// under the index's own expression. The input is the index file.
#include "engine/ndx/ndx_check.h"
#include "qx/engine.h"
#include "tests/fuzz/fuzz_index.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace qx::fuzz;

void WriteSeeds(const std::string& dir) {
  const struct {
    const char* name;
    uint16_t type;
    const char* expression;
    uint16_t key_length;
    int records;
  } seeds[] = {{"upper", 'C', "UPPER(NAME)", 12, 300},
               {"concat", 'C' | kKbdKeyUnique, "CITY+NAME", 22, 40},
               {"amount", 'N', "AMOUNT", 8, 300},
               {"birth", 'D', "BIRTH", 8, 60},
               {"empty", 'C', "NAME", 12, 0}};
  for (const auto& seed : seeds) {
    int16_t dbf = MakeSeedTable(kKbdDbase3, seed.records);
    const std::string path = PathOf(std::string(seed.name) + ".ndx");
    kbdseterror(0);
    if (kbdnindex(dbf, path.c_str(), seed.type, seed.expression,
                  seed.key_length) == kKbdOk)
      WriteSeed(dir, seed.name, ReadWhole(path));
    kbdseterror(0);
    kbddclose(dbf);
  }
}

const IndexCalls<int16_t> kCalls = {kbdnkfirst,
                                    kbdnknext,
                                    kbdnklast,
                                    kbdnkprev,
                                    [](int16_t h) {
                                      qx::engine::btree::CheckReport report;
                                      qx::engine::CheckNdx(h, &report);
                                    },
                                    kbdnkmake,
                                    kbdnkfind,
                                    kKbdFindFirstEqual};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  const int16_t dbf = FixedTableHandle(kKbdDbase3);
  const std::string path = WriteInput("input.ndx", data, size);
  int16_t ndx = kKbdNoHandle;
  kbdseterror(0);
  if (!Opened(kbdnopenx(&ndx, path.c_str(),
                        kKbdDbase3 | uint16_t{kKbdModeReadOnly}),
              ndx))
    return 0;
  KbdNdxInfo info{};
  char expression[kKeyRoom];
  kbdninfo(ndx, &info);
  kbdseterror(0);
  kbdnexpr(ndx, expression);
  ExerciseIndex(kCalls, ndx, dbf, size);
  kbdnclose(ndx);
  return 0;
}
