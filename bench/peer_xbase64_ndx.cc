// The NDX speed of a peer library, Xbase64 3.1.2 as Debian packages it,
// as a reference for qx_bench_ndx: the same 1M-record table (bench_rows.h),
// written by the library itself, and the same operations through its NDX
// indexes. Prints one JSON object.
//
//   - build: ReIndex of NAME (character, 20 bytes) and SALARY (numeric)
//     over the 1M records; the library adds one key at a time. One run
//     each (the NAME build takes minutes), plus best of N over a table of
//     the first 100k records. The date key is left out: the library keys
//     dates as 8-character text where dBASE uses day-number doubles, so
//     its date build is not the same work.
//   - 100k random exact seeks on each index, FindKey with the record read
//     (the library reads it as part of the find);
//   - a scan of the NAME index in key order: GetFirstKey / GetNextKey,
//     each reading its record;
//   - appends keeping both indexes in step (AppendRecord updates every
//     open index), on copies of the 1M table and its indexes: 20k rows,
//     fewer than qx_bench_ndx's 100k because the library takes about a
//     quarter of a millisecond per row at this size; and the same on the
//     100k table, whose trees are smaller and less damaged.
//
// Speed only: beyond a few thousand keys the library's trees come out
// corrupt (lost and doubled entries, keys out of order), so finds may
// miss and the scan does not visit exactly 1M records; the counts it
// reached are printed beside the figures. The library needs the shims of
// xbase64_shims.h to work at all; it never syncs.
#include <xbase64/xbase64.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_rows.h"
#include "bench/bench_stats.h"
#include "bench/xbase64_shims.h"

namespace {

namespace fs = std::filesystem;
using qx::bench::Clock;
using qx::bench::kPoolSize;
using qx::bench::Row;
using qx::bench::Runs;
using qx::bench::Seconds;

constexpr uint32_t kRecords = 1'000'000;
constexpr uint32_t kSmallRecords = 100'000;
constexpr uint32_t kSeeks = 100'000;
constexpr uint32_t kAppends = 20'000;
constexpr int kNameLength = 20;

constexpr int kRunsSmallBuild = 3;
constexpr int kRunsSeek = 3;
constexpr int kRunsScan = 3;
constexpr int kRunsAppend = 2;

// Field numbers of the schema.
constexpr xbShort kNameField = 0;
constexpr xbShort kSalaryField = 3;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "qx_bench_peer_xbase64_ndx: %s\n", message.c_str());
  std::exit(1);
}

[[noreturn]] void Die(const std::string& what, long code) {
  Die(what + " failed: " + std::to_string(code));
}

void PutRow(xbDbf* dbf, const Row& r) {
  dbf->PutField(xbShort{0}, r.name);
  dbf->PutField(xbShort{1}, r.city);
  dbf->PutDoubleField(xbShort{2}, r.age);
  dbf->PutDoubleField(xbShort{3}, r.salary);
  dbf->PutField(xbShort{4}, r.birth);
}

// Writes the table of `count` rows through the library.
void MakeTable(const std::string& path, const std::vector<Row>& rows,
               uint32_t count) {
  std::string error;
  if (!qx::bench::CreateXbaseTable(path, qx::bench::kXbaseBenchSchema, &error))
    Die(error);
  xbXBase base;
  xbDbf dbf(&base);
  if (xbShort rc = dbf.OpenDatabase(path.c_str())) Die("OpenDatabase", rc);
  dbf.BlankRecord();
  for (uint32_t i = 0; i < count; ++i) {
    PutRow(&dbf, rows[i & (kPoolSize - 1)]);
    if (xbShort rc = dbf.AppendRecord()) Die("AppendRecord", rc);
  }
  if (dbf.NoOfRecords() != static_cast<xbLong>(count))
    Die("NoOfRecords", dbf.NoOfRecords());
  dbf.CloseDatabase();
}

// Creates the index of expression over the table and fills it; answers
// the seconds of create + ReIndex.
double BuildIndex(const std::string& table, const std::string& index,
                  const char* expression) {
  xbXBase base;
  xbDbf dbf(&base);
  if (xbShort rc = dbf.OpenDatabase(table.c_str())) Die("OpenDatabase", rc);
  xbNdx ndx(&dbf);
  auto start = Clock::now();
  if (xbShort rc =
          ndx.CreateIndex(index.c_str(), expression, XB_NOT_UNIQUE, XB_OVERLAY))
    Die("CreateIndex", rc);
  if (xbShort rc = ndx.ReIndex()) Die("ReIndex", rc);
  double seconds = Seconds(start);
  dbf.CloseDatabase();
  return seconds;
}

// The table with both indexes open.
struct OpenTable {
  xbXBase base;
  xbDbf dbf{&base};
  xbNdx name{&dbf};
  xbNdx salary{&dbf};

  OpenTable(const std::string& table, const std::string& name_index,
            const std::string& salary_index) {
    if (xbShort rc = dbf.OpenDatabase(table.c_str())) Die("OpenDatabase", rc);
    if (xbShort rc = name.OpenIndex(name_index.c_str())) Die("OpenIndex", rc);
    if (xbShort rc = salary.OpenIndex(salary_index.c_str()))
      Die("OpenIndex", rc);
  }
  ~OpenTable() { dbf.CloseDatabase(); }
};

std::vector<uint32_t> SeekTargets() {
  qx::bench::Lcg rng(77);  // the records qx_bench_ndx seeks
  std::vector<uint32_t> targets(kSeeks);
  for (uint32_t& t : targets) t = 1 + rng.Next(kRecords);
  return targets;
}

// Seeks by name; *found counts the finds whose record holds the name.
double SeekNames(OpenTable* t, const std::vector<Row>& rows,
                 const std::vector<uint32_t>& targets, uint32_t* found) {
  std::vector<std::string> keys;
  for (uint32_t target : targets) {
    char key[kNameLength + 1];
    std::snprintf(key, sizeof key, "%-20s",
                  rows[(target - 1) & (kPoolSize - 1)].name);
    keys.emplace_back(key);
  }
  uint32_t hits = 0;
  char name[kNameLength + 1];
  auto start = Clock::now();
  for (const std::string& key : keys) {
    if (t->name.FindKey(key.c_str()) == XB_FOUND) {
      t->dbf.GetField(kNameField, name);
      if (std::memcmp(name, key.data(), kNameLength) == 0) ++hits;
    }
  }
  double seconds = Seconds(start);
  *found = hits;
  return seconds;
}

double SeekSalaries(OpenTable* t, const std::vector<Row>& rows,
                    const std::vector<uint32_t>& targets, uint32_t* found) {
  uint32_t hits = 0;
  auto start = Clock::now();
  for (uint32_t target : targets) {
    double sought = rows[(target - 1) & (kPoolSize - 1)].salary;
    if (t->salary.FindKey(sought) == XB_FOUND &&
        t->dbf.GetDoubleField(kSalaryField) == sought)
      ++hits;
  }
  double seconds = Seconds(start);
  *found = hits;
  return seconds;
}

// The NAME index in key order, each record read (GetNextKey reads it);
// *visited counts the records, *out_of_order the keys below their
// predecessor.
double ScanInKeyOrder(OpenTable* t, uint32_t* visited, uint32_t* out_of_order) {
  char previous[kNameLength + 1] = {}, name[kNameLength + 1];
  uint32_t count = 0, disorder = 0;
  auto start = Clock::now();
  for (xbShort rc = t->name.GetFirstKey(); rc == XB_NO_ERROR;
       rc = t->name.GetNextKey()) {
    t->dbf.GetField(kNameField, name);
    if (std::strcmp(previous, name) > 0) ++disorder;
    std::memcpy(previous, name, sizeof name);
    ++count;
  }
  double seconds = Seconds(start);
  *visited = count;
  *out_of_order = disorder;
  return seconds;
}

// The files of a table with its NAME and SALARY indexes.
struct TableFiles {
  std::string table, name_index, salary_index;
  uint32_t records;
};

// Appends kAppends rows to copies of the table and its two indexes.
double AppendWithIndexes(const std::string& dir, const TableFiles& source,
                         const std::vector<Row>& rows) {
  const std::string table = dir + "/APPEND.DBF";
  const std::string name_index = dir + "/APPNAME.NDX";
  const std::string salary_index = dir + "/APPSAL.NDX";
  for (const auto& [from, to] : {std::pair{source.table, table},
                                 std::pair{source.name_index, name_index},
                                 std::pair{source.salary_index, salary_index}})
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  double seconds = 0;
  {
    OpenTable t(table, name_index, salary_index);
    t.dbf.BlankRecord();
    auto start = Clock::now();
    for (uint32_t i = 0; i < kAppends; ++i) {
      PutRow(&t.dbf, rows[(source.records + i) & (kPoolSize - 1)]);
      if (xbShort rc = t.dbf.AppendRecord()) Die("AppendRecord", rc);
    }
    seconds = Seconds(start);
    if (t.dbf.NoOfRecords() != static_cast<xbLong>(source.records + kAppends))
      Die("NoOfRecords after appends", t.dbf.NoOfRecords());
  }
  for (const std::string& f : {table, name_index, salary_index}) fs::remove(f);
  return seconds;
}

std::string Figure(uint64_t items, const Runs& runs, const char* unit,
                   const std::string& covers) {
  return qx::bench::Figure(items, runs, unit, covers.c_str());
}

}  // namespace

int main() {
  // A name of its own per run (the clock), so that runs never collide.
  fs::path dir = fs::temp_directory_path() /
                 ("qx_bench_peer_xbase64_ndx_" +
                  std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  const std::string d = dir.string();
  const std::string table = d + "/PEOPLE.DBF";
  const std::string small_table = d + "/SMALL.DBF";
  std::vector<Row> rows = qx::bench::MakeRows();

  // Builds over 100k records, best of N, and appends to that table.
  const TableFiles small{small_table, d + "/SNAME.NDX", d + "/SSALARY.NDX",
                         kSmallRecords};
  MakeTable(small_table, rows, kSmallRecords);
  Runs small_name, small_salary, small_append;
  for (int i = 0; i < kRunsSmallBuild; ++i) {
    small_name.Add(BuildIndex(small_table, small.name_index, "NAME"));
    small_salary.Add(BuildIndex(small_table, small.salary_index, "SALARY"));
  }
  for (int i = 0; i < kRunsAppend; ++i)
    small_append.Add(AppendWithIndexes(d, small, rows));
  for (const std::string& f :
       {small.table, small.name_index, small.salary_index})
    fs::remove(f);

  // The 1M table and its indexes, built once.
  MakeTable(table, rows, kRecords);
  Runs build_name, build_salary;
  build_name.Add(BuildIndex(table, d + "/NAME.NDX", "NAME"));
  build_salary.Add(BuildIndex(table, d + "/SALARY.NDX", "SALARY"));

  std::vector<uint32_t> targets = SeekTargets();
  Runs seek_name, seek_salary, scan;
  uint32_t name_found = 0, salary_found = 0, visited = 0, out_of_order = 0;
  {
    OpenTable t(table, d + "/NAME.NDX", d + "/SALARY.NDX");
    for (int i = 0; i < kRunsSeek; ++i) {
      seek_name.Add(SeekNames(&t, rows, targets, &name_found));
      seek_salary.Add(SeekSalaries(&t, rows, targets, &salary_found));
    }
    for (int i = 0; i < kRunsScan; ++i)
      scan.Add(ScanInKeyOrder(&t, &visited, &out_of_order));
  }
  const TableFiles large{table, d + "/NAME.NDX", d + "/SALARY.NDX", kRecords};
  Runs append;
  for (int i = 0; i < kRunsAppend; ++i)
    append.Add(AppendWithIndexes(d, large, rows));
  fs::remove_all(dir);

  std::printf("{\n");
  std::printf("  \"benchmark\": \"peer_xbase64_ndx\",\n");
  std::printf(
      "  \"library\": \"Xbase64 3.1.2 (Debian libxbase64-dev), with the "
      "GetLong/GetULong and descriptor-length shims; speed only: its "
      "trees are corrupt at this size\",\n");
  std::printf(
      "  \"table\": \"the qx_bench_ndx table (NAME C(20), CITY C(15), AGE "
      "N(3), SALARY N(10,2), BIRTH D), %u records written by the library; "
      "the date key left out (the library keys dates as text)\",\n",
      kRecords);
  std::printf("  \"build_char_name_1m\": %s,\n",
              Figure(kRecords, build_name, "keys",
                     "CreateIndex + ReIndex of NAME over 1M records, one "
                     "key at a time; one run")
                  .c_str());
  std::printf("  \"build_numeric_salary_1m\": %s,\n",
              Figure(kRecords, build_salary, "keys",
                     "CreateIndex + ReIndex of SALARY over 1M records; one "
                     "run")
                  .c_str());
  std::printf("  \"build_char_name_100k\": %s,\n",
              Figure(kSmallRecords, small_name, "keys",
                     "CreateIndex + ReIndex of NAME over the first 100k "
                     "records")
                  .c_str());
  std::printf("  \"build_numeric_salary_100k\": %s,\n",
              Figure(kSmallRecords, small_salary, "keys",
                     "CreateIndex + ReIndex of SALARY over the first 100k "
                     "records")
                  .c_str());
  std::printf("  \"seek_name\": %s,\n",
              Figure(kSeeks, seek_name, "seeks",
                     "FindKey of a random record's NAME (padded to 20), "
                     "record read; found with the right name: " +
                         std::to_string(name_found))
                  .c_str());
  std::printf("  \"seek_salary\": %s,\n",
              Figure(kSeeks, seek_salary, "seeks",
                     "FindKey of a random record's SALARY, record read; "
                     "found with the right salary: " +
                         std::to_string(salary_found))
                  .c_str());
  std::printf("  \"scan_key_order\": %s,\n",
              Figure(visited, scan, "records",
                     "GetFirstKey / GetNextKey over the NAME index, each "
                     "reading its record; keys out of order: " +
                         std::to_string(out_of_order))
                  .c_str());
  std::printf("  \"append_two_indexes\": %s,\n",
              Figure(kAppends, append, "records",
                     "PutField x3 + PutDoubleField x2 + AppendRecord with "
                     "the NAME and SALARY indexes open, on copies of the "
                     "1M table and indexes; 20k rows (the library is slow "
                     "at this size); no sync")
                  .c_str());
  std::printf("  \"append_two_indexes_100k\": %s\n",
              Figure(kAppends, small_append, "records",
                     "the same on copies of the 100k table and its "
                     "indexes: 20k rows")
                  .c_str());
  std::printf("}\n");
  return 0;
}
