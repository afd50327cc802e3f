// NTX index files: open (read-only, beside the fixed table), a full walk
// both ways, the check, the key and the FOR condition of the fixed
// table's first record. The input is the index file.
#include "engine/ntx/ntx_check.h"
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
    uint16_t key_length, decimals;
    const char* condition;
    int records;
  } seeds[] = {
      {"upper", 'C', "UPPER(NAME)", 12, 0, nullptr, 300},
      {"concat", 'C' | kKbdKeyUnique, "CITY+NAME", 22, 0, nullptr, 40},
      {"amount", 'N' | kKbdKeyDescending, "AMOUNT", 10, 2, nullptr, 300},
      {"birth", 'D', "BIRTH", 8, 0, "ACTIVE", 60},
      {"empty", 'C', "NAME", 12, 0, nullptr, 0}};
  for (const auto& seed : seeds) {
    int16_t dbf = MakeSeedTable(kKbdClipper, seed.records);
    const std::string path = PathOf(std::string(seed.name) + ".ntx");
    kbdseterror(0);
    if (kbdxbuildx(dbf, path.c_str(), seed.type, seed.expression,
                   seed.key_length, seed.decimals, seed.condition) == kKbdOk)
      WriteSeed(dir, seed.name, ReadWhole(path));
    kbdseterror(0);
    kbddclose(dbf);
  }
}

const IndexCalls<int16_t> kCalls = {kbdxfirst,
                                    kbdxnext,
                                    kbdxlast,
                                    kbdxprev,
                                    [](int16_t h) {
                                      qx::engine::btree::CheckReport report;
                                      qx::engine::CheckNtx(h, &report);
                                    },
                                    kbdxkeyrec,
                                    kbdxseek,
                                    kKbdSeekKey};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  const int16_t dbf = FixedTableHandle(kKbdClipper);
  const std::string path = WriteInput("input.ntx", data, size);
  int16_t ntx = kKbdNoHandle;
  kbdseterror(0);
  if (!Opened(kbdxopenx(&ntx, path.c_str(),
                        kKbdClipper | uint16_t{kKbdModeReadOnly}),
              ntx))
    return 0;
  KbdNtxInfo info{};
  char expression[kKeyRoom];
  kbdxinfo(ntx, &info);
  kbdseterror(0);
  kbdxexpr(ntx, expression);
  kbdseterror(0);
  kbdxforexpr(ntx, expression);
  ExerciseIndex(kCalls, ntx, dbf, size);
  kbdxforrec(dbf, ntx);
  kbdseterror(0);
  kbdxclose(ntx);
  return 0;
}
