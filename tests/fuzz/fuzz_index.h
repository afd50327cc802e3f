// The index targets' common steps: a full walk forwards and backwards
// through one index or tag, and the check report's bounds.
#ifndef QX_TESTS_FUZZ_FUZZ_INDEX_H_
#define QX_TESTS_FUZZ_FUZZ_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <functional>

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

}  // namespace qx::fuzz

#endif  // QX_TESTS_FUZZ_FUZZ_INDEX_H_
