#include "tests/fuzz/fuzz_index.h"

#include "qx/engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace qx::fuzz {
namespace {

void WalkOneWay(const KeyStep& start, const KeyStep& step, uint64_t max_steps) {
  unsigned char key[kKeyRoom + 8] = {};
  uint32_t recno = 0;
  kbdseterror(0);
  if (start(key, &recno) != kKbdOk) return;
  for (uint64_t i = 0; i < max_steps; ++i) {
    kbdseterror(0);
    if (step(key, &recno) != kKbdOk) return;
  }
  Require(false, "a walk ends within the entries the file can hold");
}

}  // namespace

void WalkBothWays(const KeyStep& first, const KeyStep& next,
                  const KeyStep& last, const KeyStep& previous,
                  uint64_t max_steps) {
  WalkOneWay(first, next, max_steps);
  WalkOneWay(last, previous, max_steps);
}

}  // namespace qx::fuzz
