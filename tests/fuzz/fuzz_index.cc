#include "tests/fuzz/fuzz_index.h"

#include <unordered_set>

#include "qx/engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace qx::fuzz {
namespace {

// Bytes of the key buffer an entry's identity is taken from: every key
// of every family and its NUL (the rest of the buffer stays zero).
constexpr size_t kIdentityBytes = 256;

// FNV-1a over the key bytes, with the record number.
uint64_t EntryIdentity(const unsigned char* key, uint32_t recno) {
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < kIdentityBytes; ++i)
    hash = (hash ^ key[i]) * 1099511628211ull;
  return (hash ^ recno) * 1099511628211ull;
}

// A walk that meets an entry twice would go round for ever in a caller
// that walks to the end: the engine must answer an error instead.
void WalkOneWay(const KeyStep& start, const KeyStep& step,
                uint64_t max_steps) {
  unsigned char key[kKeyRoom + 8] = {};
  uint32_t recno = 0;
  std::unordered_set<uint64_t> seen;
  kbdseterror(0);
  if (start(key, &recno) != kKbdOk) return;
  seen.insert(EntryIdentity(key, recno));
  for (uint64_t i = 0; i < max_steps; ++i) {
    kbdseterror(0);
    if (step(key, &recno) != kKbdOk) return;
    Require(seen.insert(EntryIdentity(key, recno)).second,
            "a walk meets no entry twice");
  }
}

}  // namespace

void WalkBothWays(const KeyStep& first, const KeyStep& next,
                  const KeyStep& last, const KeyStep& previous,
                  uint64_t max_steps) {
  WalkOneWay(first, next, max_steps);
  WalkOneWay(last, previous, max_steps);
}

}  // namespace qx::fuzz
