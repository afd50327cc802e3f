// Speed of the NDX index module, printed as one JSON object: the shared
// index benchmark (index_bench.h) over NDX files, one per key.
//
// All figures use the 1M-record table. Builds: kbdnindex of NAME (C 20),
// SALARY (N) and BIRTH (D); numeric and date keys are 8-byte doubles.
// Seeks: kbdnkfind (exact) of NAME and SALARY; scan: kbdnkfirst /
// kbdnknext over NAME; appends: 100k onto copies of the table and its
// NAME and SALARY indexes, kbdnkmake + kbdnkadd for each.
#include <bit>
#include <cstdint>

#include "bench/index_bench.h"
#include "engine/core/coding.h"
#include "engine/ndx/ndx_check.h"
#include "qx/engine.h"

namespace {

using qx::bench::IndexId;
using qx::bench::KeyField;
using qx::bench::OnIndex;

constexpr KeyField kName = qx::bench::NameKey("NAME.NDX");
constexpr KeyField kSalary = qx::bench::SalaryKey(8, 0, "SALARY.NDX");
constexpr KeyField kBirth = qx::bench::BirthKey(8, "BIRTH.NDX");

// The double's 8 bytes, least significant first.
int16_t LeDoubleKey(IndexId, void* key, double value) {
  qx::engine::PutLe64(static_cast<uint8_t*>(key),
                      std::bit_cast<uint64_t>(value));
  return kKbdOk;
}

const qx::bench::IndexFormat kNdx = {
    .label = "ndx",
    .program = "qx_bench_ndx",
    .dialect = kKbdDbase3,
    .build_keys = {&kName, &kSalary, &kBirth},
    .lookup_keys = {&kName, &kSalary},
    .build = qx::bench::BuildWith<kbdnindex>::Call,
    .open_file = kbdnopenx,
    .close_file = kbdnclose,
    .numeric_key = LeDoubleKey,
    .seek = OnIndex<kbdnkfind>::Call,
    .seek_mode = 0,  // the first equal key
    .first = OnIndex<kbdnkfirst>::Call,
    .next = OnIndex<kbdnknext>::Call,
    .record_key = qx::bench::OnRecordKey<kbdnkmake>::Call,
    .add = OnIndex<kbdnkadd>::Call,
    .check = OnIndex<qx::engine::CheckNdx>::Call,
    .build_call = "kbdnindex",
    .table_note = "",
    .seek_covers = {"kbdnkfind of a random record's NAME (exact, padded to "
                    "20) + kbddread of the record found",
                    "kbdnkfind of a random record's SALARY (8-byte double) + "
                    "kbddread of the record found"},
    .scan_covers =
        "kbdnkfirst / kbdnknext over the NAME index + kbddread of "
        "every record",
    .append_covers =
        "kbddput x5 + kbddwrite, then kbdnkmake + kbdnkadd + "
        "kbdfree for the NAME and SALARY indexes of the 1M "
        "table, kbdsetsync(0); trees checked after the last run",
    // The NDX object keeps the shape it had before the targets object.
    .report_targets = false,
};

}  // namespace

int main() { return qx::bench::RunIndexBenchmark(kNdx); }
