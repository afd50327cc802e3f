// What the fuzz targets share: one working directory per process (under
// $QX_FUZZ_TMP, else on tmpfs when there is one) where each input is
// written as a file and opened through the engine's C interface, the
// engine started once, the fixed table the index and expression targets
// read, and the seed writer hook.
//
// Seeds. A target started with QX_FUZZ_WRITE_SEEDS=<dir> in its
// environment writes the seed files it makes with the engine into <dir>
// and exits before fuzzing (tools/fuzz.sh does this into
// build-fuzz/seeds/<target>/).
#ifndef QX_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define QX_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qx::fuzz {

// The process's working directory, made on first use, with a trailing
// slash.
const std::string& WorkDir();
// WorkDir() + name.
std::string PathOf(std::string_view name);
// Writes bytes as the file name in WorkDir() (replacing it); its path.
std::string WriteInput(std::string_view name, const uint8_t* data, size_t size);
std::vector<uint8_t> ReadWhole(const std::string& path);

// Starts the engine once (kbdinit) and clears the sticky last error; call
// at the top of every input.
void StartEngine();

// The fixed table: fixed.dbf in WorkDir(), dBASE III, four records of
// NAME C(12), CITY C(10), AMOUNT N(10,2), BIRTH D, ACTIVE L; made once.
// FixedTableHandle opens it read-only once per dialect and keeps it open,
// positioned on record 1.
constexpr const char* kFixedTableName = "fixed.dbf";
int16_t FixedTableHandle(uint16_t dialect);

// For seed writers: seedtable.dbf in WorkDir(), the fixed table's fields
// with `records` records of varied values, open for writing in the
// dialect; the caller closes it.
int16_t MakeSeedTable(uint16_t dialect, int records);

// Seed writing: when QX_FUZZ_WRITE_SEEDS is set, calls write(dir) with the
// directory (trailing slash) and exits; else returns. For
// LLVMFuzzerInitialize.
void MaybeWriteSeeds(void (*write)(const std::string& dir));
// Writes bytes to dir + name.
void WriteSeed(const std::string& dir, std::string_view name,
               const std::vector<uint8_t>& bytes);
void WriteSeedText(const std::string& dir, std::string_view name,
                   std::string_view text);

// Aborts the run (a finding) when condition is false: properties the
// targets check beyond "no crash".
void Require(bool condition, const char* what);

}  // namespace qx::fuzz

#endif  // QX_TESTS_FUZZ_FUZZ_SUPPORT_H_
