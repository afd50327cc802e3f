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
  // Appends through the driver keeping the NAME and SALARY indexes of the
  // family, per chunk (kFamilyAppendChunk records).
  Runs driver_append;
  // Harbour's best rates (items per second), 0 when not measured.
  double harbour_walk_per_s = 0;
  double harbour_seek_per_s = 0;
  double harbour_append_per_s = 0;
};

inline constexpr uint32_t kFamilyAppendChunk = 10'000;

inline constexpr uint32_t kKeySeeks = 100'000;

// Builds the NAME index of the family beside the table at path (records
// records), then times the walks and the seeks: the driver through the
// session, the engine with its key calls, kbddread and kbddget of every
// field. Dies on any wrong record.
KeyFigures RunKeyBench(const std::string& family, const std::string& path,
                       uint32_t records, const std::vector<Row>& rows,
                       host::Session* session, int rounds);

// Builds an index of the family on the table at path: a new NTX file, or
// a new CDX file holding one tag named after the field; the key is the
// field (type 'C' or 'N', length and decimals as an NTX key needs them;
// a CDX number key is an 8-byte double).
void BuildFamilyIndex(const std::string& family, const std::string& path,
                      const std::string& index, const char* field, char type,
                      uint16_t length, uint16_t decimals);

// Harbour's hbbench (its binary named by QX_BENCH_HBBENCH) run shared on
// records records of its own table in directory dir, for DBFNTX or DBFCDX:
// its best key-order scan, name seeks and appends keeping NAME and SALARY
// per second (all 0 when the binary is not named or fails).
void RunHarbourBench(const std::string& dir, const std::string& rdd,
                     uint32_t records, KeyFigures* figures);

// The JSON of a family's figures and ratios (one object, no newline).
std::string KeyFiguresJson(const KeyFigures& figures, uint32_t records);

}  // namespace qx::bench

#endif  // QX_BENCH_DRIVER_KEY_BENCH_H_
