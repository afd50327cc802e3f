// Speed of the IDX index module in its compact layout, printed as one
// JSON object: the shared index benchmark (index_bench.h) over compact
// IDX files, one per key.
//
// All figures use the 1M-record table. Builds: kbdibuild with type |
// 0x400 of NAME (C 20), SALARY (N) and BIRTH (D); numeric and date keys
// are 8-byte sortable doubles. Seeks: kbdiseek (mode 1, exact) of NAME
// and of SALARY's image from kbdinumkey; scan: kbdifirst / kbdinext over
// NAME; appends: 100k onto copies of the table and its NAME and SALARY
// indexes (record numbers past what the built leaves were sized for),
// kbdikeyrec + kbdiadd for each.
#include <cstdint>

#include "bench/index_bench.h"
#include "engine/idx/idx_check.h"
#include "qx/engine.h"

namespace {

using qx::bench::KeyField;
using qx::bench::NoIndex;
using qx::bench::OnIndex;

// The type word's bit of the compact layout.
constexpr uint16_t kCompact = kKbdKeyCompact;

constexpr KeyField kName = qx::bench::NameKey("NAME.IDX");
constexpr KeyField kSalary = qx::bench::SalaryKey(8, 0, "SALARY.IDX");
constexpr KeyField kBirth = qx::bench::BirthKey(8, "BIRTH.IDX");

const qx::bench::IndexFormat kIdx = {
    .label = "idx",
    .program = "qx_bench_idx",
    .dialect = kKbdFoxpro2,
    .build_keys = {&kName, &kSalary, &kBirth},
    .lookup_keys = {&kName, &kSalary},
    .build = qx::bench::BuildWith<kbdibuild, kCompact>::Call,
    .open_file = kbdiopenx,
    .close_file = kbdiclose,
    .set_key_type = OnIndex<kbdikeytype>::Call,
    .numeric_key = NoIndex<kbdinumkey>::Call,
    .seek = OnIndex<kbdiseek>::Call,
    .seek_mode = kKbdSeekKey,
    .first = OnIndex<kbdifirst>::Call,
    .next = OnIndex<kbdinext>::Call,
    .record_key = qx::bench::OnRecordKey<kbdikeyrec>::Call,
    .add = OnIndex<kbdiadd>::Call,
    .check = OnIndex<qx::engine::CheckIdx>::Call,
    .build_call = "kbdibuild (compact, type | kKbdKeyCompact)",
    .table_note = "; every figure on this table; compact IDX files",
    .seek_covers = {"kbdiseek (mode 1) of a random record's NAME (exact, "
                    "padded to 20) + kbddread of the record found",
                    "kbdiseek (mode 1) of a random record's SALARY (8-byte "
                    "sortable double from kbdinumkey, key type N) + kbddread "
                    "of the record found"},
    .scan_covers =
        "kbdifirst / kbdinext over the NAME index + kbddread of "
        "every record",
    .append_covers =
        "kbddput x5 + kbddwrite, then kbdikeyrec + kbdiadd + "
        "kbdfree for the NAME and SALARY compact indexes of the "
        "1M table, kbdsetsync(0); trees checked after the last "
        "run",
};

}  // namespace

int main() { return qx::bench::RunIndexBenchmark(kIdx); }
