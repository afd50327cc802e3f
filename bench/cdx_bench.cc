// Speed of the CDX compound index module, printed as one JSON object: the
// shared index benchmark (index_bench.h) over compound files and their
// tags.
//
// Two tables of the same rows. A tag keeps the record-number width of
// its leaves: leaves a build writes take widths that fit the table's
// record count, but a tag created empty starts with the width of a new
// compact leaf, 16 bits for key lengths 8 to 15, so it holds record
// numbers up to 65535 only. Hence:
//   - builds (and their limit runs) over the 1M-record table: kbdctagbuild
//     of NAME (C 20), SALARY (N) and BIRTH (D), each into a new compound
//     file of its own (kbdccreate, kbdcopenx, the build, kbdcclose, all
//     timed);
//   - seeks and the scan over a 60,000-record table whose compound file
//     holds two tags of 8-byte keys built by kbdctagbuild: NAME8
//     (LEFT(NAME,8), C 8) and SALARY (N 8, a sortable double). Seeks:
//     kbdcfind (mode 1, exact); scan: kbdcfirst / kbdcnext over NAME8;
//   - appends: 60,000 records from an empty table into those two tags
//     created empty by kbdctagcreate in one compound file, kbdckeyrec +
//     kbdcadd for each.
#include <cstdint>
#include <filesystem>

#include "bench/index_bench.h"
#include "engine/cdx/cdx_check.h"
#include "qx/engine.h"

namespace {

using qx::bench::KeyField;
using qx::bench::NoIndex;

// The table of the seeks and the scan, and the appends' record count:
// within the 16-bit record numbers of a tag created empty.
constexpr uint32_t kLookupRecords = 60'000;

constexpr KeyField kName = qx::bench::NameKey("NAME.CDX", "NAME");
constexpr KeyField kSalary = qx::bench::SalaryKey(8, 0, "SALARY.CDX", "SALARY");
constexpr KeyField kBirth = qx::bench::BirthKey(8, "BIRTH.CDX", "BIRTH");
// The lookup tags, together in one compound file.
constexpr KeyField kName8 = {
    "char_name8", "LEFT(NAME,8)", 'C', 8, 0, qx::bench::kNameOffset, 8,
    "PEOPLE.CDX", "NAME8"};
constexpr KeyField kSalaryTag =
    qx::bench::SalaryKey(8, 0, "PEOPLE.CDX", "SALARY");

// Opens the compound file at path, created first when absent, and makes
// key's tag in it: built from the table (dbf) or empty (dbf -1); then
// closes the file. Answers the first failure.
int16_t MakeTag(int16_t dbf, const char* path, const KeyField& key) {
  if (!std::filesystem::exists(path)) {
    int16_t status = kbdccreate(path);
    if (status < 0) return status;
  }
  int16_t file = kKbdNoHandle;
  int16_t status = kbdcopenx(&file, path, kKbdFoxpro2);
  if (status < 0) return status;
  const uint16_t type = static_cast<uint16_t>(key.type);
  status = dbf == kKbdNoHandle ? kbdctagcreate(file, key.tag, type,
                                               key.expression, key.key_length)
                               : kbdctagbuild(dbf, file, key.tag, type,
                                              key.expression, key.key_length);
  int16_t closed = kbdcclose(file);
  return status < 0 ? status : closed;
}

int16_t CreateEmptyTag(const char* path, const KeyField& key) {
  return MakeTag(kKbdNoHandle, path, key);
}

const qx::bench::IndexFormat kCdx = {
    .label = "cdx",
    .program = "qx_bench_cdx",
    .dialect = kKbdFoxpro2,
    .build_keys = {&kName, &kSalary, &kBirth},
    .lookup_keys = {&kName8, &kSalaryTag},
    .lookup_records = kLookupRecords,
    .appends = kLookupRecords,
    .appends_from_empty = true,
    .build = MakeTag,
    .create_empty = CreateEmptyTag,
    .open_file = kbdcopenx,
    .close_file = kbdcclose,
    .open_tag = kbdctagopen,
    .close_tag = kbdctagclose,
    .set_key_type = kbdckeytype,
    .numeric_key = NoIndex<kbdcnumkey>::Call,
    .seek = kbdcfind,
    .seek_mode = kKbdCdxFirstNotBelow,
    .first = kbdcfirst,
    .next = kbdcnext,
    .record_key = kbdckeyrec,
    .add = kbdcadd,
    .check = qx::engine::CheckCdxTag,
    .build_call = "kbdctagbuild",
    .build_note =
        " (1M records) into a new compound file: kbdccreate, "
        "kbdcopenx, create, sort through the work file, write, "
        "kbdcclose",
    .table_note =
        "; builds over this table; seeks and the scan over a "
        "60000-record table of the same rows whose compound file "
        "holds the tags NAME8 (LEFT(NAME,8), C 8) and SALARY (N 8) "
        "built by kbdctagbuild; appends: 60000 from an empty table "
        "into those two tags created empty by kbdctagcreate (a "
        "tag created empty holds record numbers up to 65535 at "
        "key length 8)",
    .seek_covers = {"kbdcfind (mode 1) of a random record's LEFT(NAME,8) "
                    "(exact, 8 bytes) on the NAME8 tag of the 60000-record "
                    "table + kbddread of the record found",
                    "kbdcfind (mode 1) of a random record's SALARY (8-byte "
                    "sortable double from kbdcnumkey, key type N) on the "
                    "60000-record table + kbddread of the record found"},
    .scan_covers =
        "kbdcfirst / kbdcnext over the NAME8 tag (LEFT(NAME,8)) "
        "of the 60000-record table + kbddread of every record",
    .append_covers =
        "60000 appends from an empty table: kbddput x5 + "
        "kbddwrite, then kbdckeyrec + kbdcadd + kbdfree for the "
        "NAME8 and SALARY tags (created empty, one compound "
        "file), kbdsetsync(0); trees checked after the last run",
};

}  // namespace

int main() { return qx::bench::RunIndexBenchmark(kCdx); }
