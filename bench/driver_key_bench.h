// Key-order browses and seeks of the benchmark table through the driver,
// beside the same work on the engine path in the same run, for an NTX
// index and a CDX tag on NAME (and, when the environment names a compiled
// hbbench, Harbour's figures of the same work on its own copy of the
// table, opened shared).
#ifndef QX_BENCH_DRIVER_KEY_BENCH_H_
#define QX_BENCH_DRIVER_KEY_BENCH_H_

#include <string>
#include <vector>

#include "bench/bench_rows.h"
#include "bench/bench_stats.h"
#include "host/hostlib/session.h"

namespace qx::bench {

// The figures of one index family.
struct KeyFigures {
  std::string family;  // "ntx" or "cdx"
  Runs driver_walk, engine_walk, driver_seek, engine_seek;
  // Harbour's best rates (items per second), 0 when not measured.
  double harbour_walk_per_s = 0;
  double harbour_seek_per_s = 0;
};

inline constexpr uint32_t kKeySeeks = 100'000;

// Builds the NAME index of the family beside the table at path (records
// records), then times the walks and the seeks: the driver through the
// session, the engine with its key calls, kbddread and kbddget of every
// field. Dies on any wrong record.
KeyFigures RunKeyBench(const std::string& family, const std::string& path,
                       uint32_t records, const std::vector<Row>& rows,
                       host::Session* session, int rounds);

// Harbour's hbbench (its binary named by QX_BENCH_HBBENCH) run shared on
// records records of its own table in directory dir, for DBFNTX or DBFCDX:
// its best key-order scan and name seeks per second (both 0 when the
// binary is not named or fails).
void RunHarbourBench(const std::string& dir, const std::string& rdd,
                     uint32_t records, double* walk_per_s, double* seek_per_s);

// The JSON of a family's figures and ratios (one object, no newline).
std::string KeyFiguresJson(const KeyFigures& figures, uint32_t records);

}  // namespace qx::bench

#endif  // QX_BENCH_DRIVER_KEY_BENCH_H_
