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
  if (kbdnopenx(&ndx, path.c_str(), kKbdDbase3 | uint16_t{kKbdModeReadOnly}) <
      0) {
    Require(ndx == kKbdNoHandle, "failed open leaves no handle");
    return 0;
  }
  KbdNdxInfo info{};
  char expression[kKeyRoom];
  kbdninfo(ndx, &info);
  kbdseterror(0);
  kbdnexpr(ndx, expression);
  WalkBothWays([&](void* k, uint32_t* r) { return kbdnkfirst(ndx, k, r); },
               [&](void* k, uint32_t* r) { return kbdnknext(ndx, k, r); },
               [&](void* k, uint32_t* r) { return kbdnklast(ndx, k, r); },
               [&](void* k, uint32_t* r) { return kbdnkprev(ndx, k, r); },
               MaxKeys(size));
  kbdseterror(0);
  qx::engine::btree::CheckReport report;
  qx::engine::CheckNdx(ndx, &report);
  kbdseterror(0);
  void* key = nullptr;
  if (kbdnkmake(dbf, ndx, &key) >= 0 && key != nullptr) {
    uint32_t recno = 0;
    kbdseterror(0);
    kbdnkfind(ndx, key, &recno, kKbdFindFirstEqual);
  }
  kbdfree(key);
  kbdseterror(0);
  kbdnclose(ndx);
  return 0;
}
