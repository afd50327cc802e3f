// The rows every data-file benchmark writes, ours and the peer's alike:
// NAME C(20), CITY C(15), AGE N(3), SALARY N(10,2), BIRTH D, drawn from a
// fixed pseudo-random sequence so that every run and every program writes
// the same bytes.
#ifndef QX_BENCH_BENCH_ROWS_H_
#define QX_BENCH_BENCH_ROWS_H_

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "qx/engine.h"

namespace qx::bench {

// The open-mode bit every benchmark adds to its opens of the table and of
// the index files: 0x400 (shared) when the environment sets
// QX_BENCH_SHARED=1, so that the figures of files shared with other
// processes (each operation then takes and drops its operation lock) can
// be set beside those of files opened exclusively; else 0.
inline uint16_t BenchShareMode() {
  const char* value = std::getenv("QX_BENCH_SHARED");
  return value != nullptr && value[0] == '1' ? kKbdModeShared : 0;
}

// Rows are drawn from a pool of distinct rows; a power of two, so that
// row i of a table is pool[i & (kPoolSize - 1)].
inline constexpr uint32_t kPoolSize = 1u << 16;

struct Row {
  char name[21];  // at most 20 characters, NUL-terminated
  char city[16];  // at most 15 characters
  double age;     // 18..90
  double salary;  // cents / 100, below 100000
  char birth[9];  // YYYYMMDD, a valid date
};

// Deterministic pseudo-random numbers (64-bit LCG, high bits used).
class Lcg {
 public:
  explicit Lcg(uint64_t seed) : state_(seed) {}
  uint32_t Next(uint32_t bound) {
    state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>((state_ >> 33) % bound);
  }

 private:
  uint64_t state_;
};

inline uint32_t DaysInMonth(uint32_t year, uint32_t month) {
  constexpr uint32_t kDays[12] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

inline std::vector<Row> MakeRows() {
  static const char* const kFirst[] = {
      "ANNA",  "BERND",  "CLARA",  "DIETER", "EMMA",  "FRANZ",
      "GRETA", "HANS",   "INGRID", "JONAS",  "KARIN", "LUKAS",
      "MARIA", "NIKLAS", "OLGA",   "PETER",  "RUTH",  "STEFAN",
      "TANJA", "UWE",    "VERA",   "WALTER"};
  static const char* const kLast[] = {
      "MUELLER", "SCHMIDT", "SCHNEIDER", "FISCHER",  "WEBER",   "MEYER",
      "WAGNER",  "BECKER",  "SCHULZ",    "HOFFMANN", "KOCH",    "RICHTER",
      "KLEIN",   "WOLF",    "SCHROEDER", "NEUMANN",  "SCHWARZ", "ZIMMERMANN"};
  static const char* const kCity[] = {
      "BERLIN",    "HAMBURG",     "MUENCHEN", "KOELN",     "FRANKFURT",
      "STUTTGART", "DUESSELDORF", "LEIPZIG",  "DORTMUND",  "ESSEN",
      "BREMEN",    "DRESDEN",     "HANNOVER", "NUERNBERG", "DUISBURG",
      "BOCHUM",    "WUPPERTAL",   "BONN"};
  Lcg rng(20240611);
  std::vector<Row> rows(kPoolSize);
  for (Row& r : rows) {
    const char* first = kFirst[rng.Next(std::size(kFirst))];
    const char* last = kLast[rng.Next(std::size(kLast))];
    std::snprintf(r.name, sizeof r.name, "%.8s %.10s", first, last);
    std::snprintf(r.city, sizeof r.city, "%s",
                  kCity[rng.Next(std::size(kCity))]);
    r.age = 18 + rng.Next(73);
    // Cents as an exact integer divided once: the double that a field
    // with two decimals reads back exactly.
    r.salary = static_cast<double>(rng.Next(9'999'999)) / 100.0;
    uint32_t year = 1930 + rng.Next(80);
    uint32_t month = 1 + rng.Next(12);
    uint32_t day = 1 + rng.Next(DaysInMonth(year, month));
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u", year, month, day);
    std::memcpy(r.birth, text, sizeof r.birth);
  }
  return rows;
}

// The benchmark table's fields, in record order (dBASE III, 57-byte
// records: deletion flag + 20 + 15 + 3 + 10 + 8).
inline constexpr int16_t kBenchFieldCount = 5;

// Fills defs (kBenchFieldCount entries) with the benchmark table's fields.
inline void BenchFieldDefs(KbdFieldDef* defs) {
  struct Field {
    const char* name;
    char type;
    uint16_t length;
    uint16_t decimals;
  };
  constexpr Field kFields[kBenchFieldCount] = {{"NAME", 'C', 20, 0},
                                               {"CITY", 'C', 15, 0},
                                               {"AGE", 'N', 3, 0},
                                               {"SALARY", 'N', 10, 2},
                                               {"BIRTH", 'D', 8, 0}};
  for (int i = 0; i < kBenchFieldCount; ++i) {
    defs[i] = KbdFieldDef{};
    std::snprintf(defs[i].name, sizeof defs[i].name, "%s", kFields[i].name);
    defs[i].type = static_cast<uint16_t>(kFields[i].type);
    defs[i].length = kFields[i].length;
    defs[i].decimals = kFields[i].decimals;
  }
}

// Failure of a benchmark step: the program says which and exits 1 (a
// benchmark has no partial result worth printing).
[[noreturn]] inline void Die(const char* program, const char* what,
                             int status) {
  std::fprintf(stderr, "%s: %s failed: %d\n", program, what, status);
  std::exit(1);
}

// Creates the benchmark table and opens it (dBASE III, read-write).
inline int16_t CreateAndOpenBenchTable(const char* path, const char* program) {
  KbdFieldDef defs[kBenchFieldCount];
  BenchFieldDefs(defs);
  int16_t status = kbddcreate(path, kBenchFieldCount, defs, kKbdDbase3);
  if (status < 0) Die(program, "kbddcreate", status);
  int16_t handle = kKbdNoHandle;
  status = kbddopenx(&handle, path, kKbdDbase3 | BenchShareMode());
  if (status < 0) Die(program, "kbddopenx", status);
  return handle;
}

// Puts row into the record buffer of the open table (every field) and
// appends it; answers its record number.
inline uint32_t AppendBenchRow(int16_t dbf, const Row& row,
                               const char* program) {
  const void* values[kBenchFieldCount] = {row.name, row.city, &row.age,
                                          &row.salary, row.birth};
  for (int16_t field = 0; field < kBenchFieldCount; ++field) {
    int16_t status = kbddput(dbf, field, values[field]);
    if (status < 0) Die(program, "kbddput", status);
  }
  uint32_t recno = 0;
  int16_t status = kbddwrite(dbf, &recno, kKbdWriteAppend);
  if (status < 0) Die(program, "kbddwrite", status);
  return recno;
}

}  // namespace qx::bench

#endif  // QX_BENCH_BENCH_ROWS_H_
