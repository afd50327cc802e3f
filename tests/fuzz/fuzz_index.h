// The index targets' common steps: a full walk forwards and backwards
// through one index or tag, and the check report's bounds.
#ifndef QX_TESTS_FUZZ_FUZZ_INDEX_H_
#define QX_TESTS_FUZZ_FUZZ_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <functional>

#include "qx/engine.h"
#include "tests/fuzz/fuzz_support.h"

namespace qx::fuzz {

// One positioning call of an index family: (key buffer, recno).
using KeyStep = std::function<int16_t(void*, uint32_t*)>;

// first, then next until a status other than 0; last, then previous the
// same way. A walk must end within max_steps keys each way: one that goes
// on longer meets entries again, and a caller walking to the end would go
// round for ever (a finding).
void WalkBothWays(const KeyStep& first, const KeyStep& next,
                  const KeyStep& last, const KeyStep& previous,
                  uint64_t max_steps);

// Entries an index of file_size bytes can hold at most: no entry of any
// family takes less than a byte (a compact FoxPro leaf entry whose key
// bytes are all shared or trailing blanks takes a few).
inline uint64_t MaxKeys(size_t file_size) { return file_size + 64; }

// Room for any key of any family plus its NUL.
constexpr size_t kKeyRoom = 1024;

// An open's outcome: true when it gave a handle; a failed open must leave
// none (a finding otherwise).
inline bool Opened(int16_t status, int16_t handle) {
  if (status >= 0) return true;
  Require(handle == kKbdNoHandle, "failed open leaves no handle");
  return false;
}

// The entry points of one index family over its handle (an index handle,
// or a tag of MDX and CDX).
template <typename Handle>
struct IndexCalls {
  using Step = int16_t (*)(Handle, void*, uint32_t*);
  Step first, next, last, previous;
  void (*check)(Handle);  // the family's check, its report dropped
  // The key of the data file's current record, and a search for it.
  int16_t (*record_key)(int16_t dbf, Handle, void** key);
  int16_t (*find)(Handle, void* key, uint32_t* recno, uint16_t mode);
  uint16_t find_mode;
};

// What every index target does with an open index or tag: a full walk
// both ways, the check, and the key of the fixed table's current record
// made and searched for; the sticky last error cleared after each call.
template <typename Handle>
void ExerciseIndex(const IndexCalls<Handle>& calls, Handle h, int16_t dbf,
                   size_t file_size) {
  WalkBothWays([&](void* k, uint32_t* r) { return calls.first(h, k, r); },
               [&](void* k, uint32_t* r) { return calls.next(h, k, r); },
               [&](void* k, uint32_t* r) { return calls.last(h, k, r); },
               [&](void* k, uint32_t* r) { return calls.previous(h, k, r); },
               MaxKeys(file_size));
  kbdseterror(0);
  calls.check(h);
  kbdseterror(0);
  void* key = nullptr;
  if (calls.record_key(dbf, h, &key) >= 0 && key != nullptr) {
    uint32_t recno = 0;
    kbdseterror(0);
    calls.find(h, key, &recno, calls.find_mode);
  }
  kbdfree(key);
  kbdseterror(0);
}

}  // namespace qx::fuzz

#endif  // QX_TESTS_FUZZ_FUZZ_INDEX_H_
