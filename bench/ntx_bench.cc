// Speed of the NTX index module, printed as one JSON object: the shared
// index benchmark (index_bench.h) over NTX files, one per key.
//
// All figures use the 1M-record table. Builds: kbdxbuild of NAME (C 20),
// SALARY (N 10 with 2 decimals: the zero-padded key text) and BIRTH (D,
// the 8 digits). Seeks: kbdxseek (mode 1, exact) of NAME and of
// SALARY's key text from kbdxkeynum; scan: kbdxfirst / kbdxnext over
// NAME; appends: 100k onto copies of the table and its NAME and SALARY
// indexes, kbdxkeyrec + kbdxadd for each.
#include <cstdint>

#include "bench/index_bench.h"
#include "engine/ntx/ntx_check.h"
#include "qx/engine.h"

namespace {

using qx::bench::KeyField;
using qx::bench::OnIndex;

constexpr KeyField kName = qx::bench::NameKey("NAME.NTX");
constexpr KeyField kSalary = qx::bench::SalaryKey(10, 2, "SALARY.NTX");
constexpr KeyField kBirth = qx::bench::BirthKey(8, "BIRTH.NTX");

const qx::bench::IndexFormat kNtx = {
    .label = "ntx",
    .program = "qx_bench_ntx",
    .dialect = kKbdClipper,
    .build_keys = {&kName, &kSalary, &kBirth},
    .lookup_keys = {&kName, &kSalary},
    .build = qx::bench::BuildWith<kbdxbuild>::Call,
    .open_file = kbdxopenx,
    .close_file = kbdxclose,
    .numeric_key = OnIndex<kbdxkeynum>::Call,
    .seek = OnIndex<kbdxseek>::Call,
    .seek_mode = kKbdSeekKey,
    .first = OnIndex<kbdxfirst>::Call,
    .next = OnIndex<kbdxnext>::Call,
    .record_key = qx::bench::OnRecordKey<kbdxkeyrec>::Call,
    .add = OnIndex<kbdxadd>::Call,
    .check = OnIndex<qx::engine::CheckNtx>::Call,
    .build_call = "kbdxbuild",
    .seek_covers = {"kbdxseek (mode 1) of a random record's NAME (exact, "
                    "padded to 20) + kbddread of the record found",
                    "kbdxseek (mode 1) of a random record's SALARY (its "
                    "10-character key text from kbdxkeynum) + kbddread of "
                    "the record found"},
    .scan_covers =
        "kbdxfirst / kbdxnext over the NAME index + kbddread of "
        "every record",
    .append_covers =
        "kbddput x5 + kbddwrite, then kbdxkeyrec + kbdxadd + "
        "kbdfree for the NAME and SALARY indexes of the 1M "
        "table, kbdsetsync(0); trees checked after the last run",
};

}  // namespace

int main() { return qx::bench::RunIndexBenchmark(kNtx); }
