// IDX index files in both layouts (standard and compact): open
// (read-only, beside the fixed table), the key type its expression gives
// on the fixed table, a full walk both ways, the check, the key and the
// FOR condition of the fixed table's first record. The input is the
// index file.
#include "engine/idx/idx_check.h"
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
    const char* condition;
    int records;
  } seeds[] = {
      {"upper", 'C', "UPPER(NAME)", 12, nullptr, 300},
      {"upper-compact", 'C' | kKbdKeyCompact, "UPPER(NAME)", 12, nullptr, 300},
      {"concat-compact", 'C' | kKbdKeyCompact | kKbdKeyUnique, "CITY+NAME", 22,
       nullptr, 40},
      {"amount", 'N', "AMOUNT", 8, nullptr, 300},
      {"amount-compact", 'N' | kKbdKeyCompact | kKbdKeyDescending, "AMOUNT", 8,
       nullptr, 300},
      {"birth-compact", 'D' | kKbdKeyCompact, "BIRTH", 8, "ACTIVE", 60},
      {"active", 'L', "ACTIVE", 1, nullptr, 20},
      {"empty-compact", 'C' | kKbdKeyCompact, "NAME", 12, nullptr, 0}};
  for (const auto& seed : seeds) {
    int16_t dbf = MakeSeedTable(kKbdFoxpro2, seed.records);
    const std::string path = PathOf(std::string(seed.name) + ".idx");
    kbdseterror(0);
    if (kbdibuildx(dbf, path.c_str(), seed.type, seed.expression,
                   seed.key_length, seed.condition) == kKbdOk)
      WriteSeed(dir, seed.name, ReadWhole(path));
    kbdseterror(0);
    kbddclose(dbf);
  }
}

const IndexCalls<int16_t> kCalls = {kbdifirst,
                                    kbdinext,
                                    kbdilast,
                                    kbdiprev,
                                    [](int16_t h) {
                                      qx::engine::btree::CheckReport report;
                                      qx::engine::CheckIdx(h, &report);
                                    },
                                    kbdikeyrec,
                                    kbdiseek,
                                    kKbdSeekKey};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  MaybeWriteSeeds(WriteSeeds);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  StartEngine();
  const int16_t dbf = FixedTableHandle(kKbdFoxpro2);
  const std::string path = WriteInput("input.idx", data, size);
  int16_t idx = kKbdNoHandle;
  kbdseterror(0);
  if (!Opened(kbdiopenx(&idx, path.c_str(),
                        kKbdFoxpro2 | uint16_t{kKbdModeReadOnly}),
              idx))
    return 0;
  KbdIdxInfo info{};
  char expression[kKeyRoom];
  kbdiinfo(idx, &info);
  kbdseterror(0);
  kbdiexpr(idx, expression);
  kbdseterror(0);
  kbdiforexpr(idx, expression);
  kbdseterror(0);
  char type = 0;
  uint16_t form = 0;
  if (kbdikeyform(dbf, idx, &type, &form) >= 0) {
    kbdseterror(0);
    kbdikeytype(idx, static_cast<uint8_t>(type));
  }
  ExerciseIndex(kCalls, idx, dbf, size);
  kbdiforrec(dbf, idx);
  kbdseterror(0);
  kbdiclose(idx);
  return 0;
}
