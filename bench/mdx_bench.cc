// Speed of the MDX multiple index module, printed as one JSON object: the
// shared index benchmark (index_bench.h) over MDX files, one tag in each.
//
// All figures use the 1M-record table. Builds: kbdmindex of NAME (C 20),
// SALARY (N: the 12-byte packed decimal) and BIRTH (D: the 8-byte
// double), each into a new MDX file of its own (kbdmcreate, kbdmopenx, the
// build, kbdmclose, all timed). Seeks: kbdmkfind of NAME and of SALARY's
// key image from kbdmnkey; scan: kbdmkfirst / kbdmknext over NAME;
// appends: 100k onto copies of the table and its NAME and SALARY files,
// kbdmkmake + kbdmkadd for each.
#include <cstdint>

#include "bench/index_bench.h"
#include "engine/mdx/mdx_check.h"
#include "qx/engine.h"

namespace {

using qx::bench::KeyField;
using qx::bench::NoIndex;

constexpr KeyField kName = qx::bench::NameKey("NAME.MDX", "NAME");
constexpr KeyField kSalary =
    qx::bench::SalaryKey(12, 0, "SALARY.MDX", "SALARY");
constexpr KeyField kBirth = qx::bench::BirthKey(8, "BIRTH.MDX", "BIRTH");

// Creates the MDX file at path and builds key's tag in it over the open
// table; then closes the file. Answers the first failure.
int16_t BuildTag(int16_t dbf, const char* path, const KeyField& key) {
  int16_t status = kbdmcreate(path);
  if (status < 0) return status;
  int16_t file = kKbdNoHandle;
  status = kbdmopenx(&file, path, 0);
  if (status < 0) return status;
  status = kbdmindex(dbf, file, key.tag, static_cast<uint16_t>(key.type),
                     key.expression, key.key_length);
  int16_t closed = kbdmclose(file);
  return status < 0 ? status : closed;
}

const qx::bench::IndexFormat kMdx = {
    .label = "mdx",
    .program = "qx_bench_mdx",
    .dialect = 0,
    .build_keys = {&kName, &kSalary, &kBirth},
    .lookup_keys = {&kName, &kSalary},
    .build = BuildTag,
    .open_file = kbdmopenx,
    .close_file = kbdmclose,
    .open_tag = kbdmtagopen,
    .close_tag = kbdmtagclose,
    .numeric_key = NoIndex<kbdmnkey>::Call,
    .seek = kbdmkfind,
    .seek_mode = 0,  // the first equal key
    .first = kbdmkfirst,
    .next = kbdmknext,
    .record_key = kbdmkmake,
    .add = kbdmkadd,
    .check = qx::engine::CheckMdxTag,
    .build_call = "kbdmindex",
    .build_note =
        " into a new MDX file: kbdmcreate, kbdmopenx, define, sort "
        "through the work file, write, kbdmclose",
    .table_note = "",
    .seek_covers = {"kbdmkfind of a random record's NAME (exact, padded to "
                    "20) + kbddread of the record found",
                    "kbdmkfind of a random record's SALARY (12-byte packed "
                    "decimal from kbdmnkey) + kbddread of the record found"},
    .scan_covers =
        "kbdmkfirst / kbdmknext over the NAME tag + kbddread of "
        "every record",
    .append_covers =
        "kbddput x5 + kbddwrite, then kbdmkmake + kbdmkadd + "
        "kbdfree for the NAME and SALARY tags of the 1M table, "
        "kbdsetsync(0); trees checked after the last run",
    .report_targets = false,
};

}  // namespace

int main() { return qx::bench::RunIndexBenchmark(kMdx); }
