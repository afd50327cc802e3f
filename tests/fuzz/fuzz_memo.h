// The memo targets' common walk: open a memo file of one kind in a
// family, read its header words, then read the value at every block
// number the file can hold (up to a bound).
#ifndef QX_TESTS_FUZZ_FUZZ_MEMO_H_
#define QX_TESTS_FUZZ_FUZZ_MEMO_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx::fuzz {

// kind: kKbdKindDbt or kKbdKindFpt.
void ReadEveryMemo(const std::string& path, uint8_t kind, uint16_t dialect,
                   size_t file_size);
// Writes three seeds of the kind made with the engine: an empty file,
// and files of a few values at two block sizes.
void WriteMemoSeeds(const std::string& dir, uint8_t kind, uint16_t dialect);

}  // namespace qx::fuzz

#endif  // QX_TESTS_FUZZ_FUZZ_MEMO_H_
