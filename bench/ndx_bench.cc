// Speed of the NDX index module, printed as one JSON object.
//
// The table is the data-file benchmark's (bench_rows.h): NAME C(20),
// CITY C(15), AGE N(3), SALARY N(10,2), BIRTH D, 1M records. Measured:
//   - kbdnindex of a 20-byte character key (NAME), a numeric key (SALARY)
//     and a date key (BIRTH), keys per second of the whole call (create,
//     sort through the work file, page writing, close);
//   - 100k random exact seeks, kbdnkfind then kbddread of the record
//     found, on the NAME and on the SALARY index;
//   - a full scan in key order of the NAME index: kbdnkfirst / kbdnknext
//     and kbddread of each record;
//   - 100k appends keeping two indexes (NAME, SALARY) in step: kbddput of
//     every field and kbddwrite, then kbdnkmake and kbdnkadd for each
//     index, after kbdsetsync(0), on copies of the 1M table and its
//     indexes.
// The limit of an index build that sorts through a work file is measured
// in the same run with the build's own machinery: every record served by
// the data-file block reader, its key field's bytes as they stand (no
// conversion) and the big-endian record number appended to the external
// sort (65,000-byte runs written to "stacks.tmp"), the runs merged and
// every item taken. The build does all of that and also converts
// numbers and dates and writes the tree; build / limit says what the rest
// costs. Each build run alternates with a limit run of the same field, as
// the machine is shared; the best run counts, median and worst are the
// spread. Timed loops exclude creating the table and copying files.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_rows.h"
#include "bench/bench_stats.h"
#include "engine/btree/external_sort.h"
#include "engine/core/coding.h"
#include "engine/dbf/dbf_block_reader.h"
#include "engine/ndx/ndx_check.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace {

using qx::bench::Clock;
using qx::bench::kPoolSize;
using qx::bench::MedianPairRatio;
using qx::bench::Rate;
using qx::bench::Row;
using qx::bench::Runs;
using qx::bench::Seconds;
namespace fs = std::filesystem;


constexpr uint32_t kRecords = 1'000'000;
constexpr uint32_t kSeeks = 100'000;
constexpr uint32_t kAppends = 100'000;
constexpr uint16_t kNameLength = 20;
constexpr uint32_t kNumericKeyLength = 8;

// Record layout: deletion flag, then the fields in order.
constexpr uint32_t kNameOffset = 1;
constexpr uint32_t kSalaryOffset = 1 + 20 + 15 + 3;
constexpr uint32_t kSalaryLength = 10;
constexpr uint32_t kBirthOffset = 1 + 20 + 15 + 3 + 10;
constexpr uint32_t kBirthLength = 8;

// Best-of-N repetitions per figure.
constexpr int kRunsBuild = 5;
constexpr int kRunsSeek = 7;
constexpr int kRunsScan = 5;
constexpr int kRunsAppend = 3;

// The sort parameters of the build (its buffer and work file).
constexpr uint32_t kSortBufferBytes = 65000;
constexpr const char* kWorkFile = "stacks.tmp";

// Reference figures of the peer library on the same 1M table, per
// second, the best that qx_bench_peer_xbase64_ndx measured here (it
// measures them afresh): FindKey by name and by salary with the record
// read, its scan of the NAME index in key order, and appends with the
// NAME and SALARY indexes open. The peer keeps its tree pages in memory
// from one call to the next; we read them again in every call, as a
// shared index requires.
constexpr double kPeerSeeksName = 254000.0;
constexpr double kPeerSeeksSalary = 245000.0;
constexpr double kPeerScan = 1040000.0;
constexpr double kPeerAppendTwoIndexes = 4400.0;

[[noreturn]] void Die(const char* what, int status) {
  qx::bench::Die("qx_bench_ndx", what, status);
}

void Check(const char* what, int16_t status) {
  if (status < 0) Die(what, status);
}

int16_t OpenTable(const std::string& path) {
  int16_t handle = kKbdNoHandle;
  Check("kbddopenx", kbddopenx(&handle, path.c_str(), kKbdDbase3));
  return handle;
}

int16_t OpenIndex(const std::string& path) {
  int16_t handle = kKbdNoHandle;
  Check("kbdnopenx", kbdnopenx(&handle, path.c_str(), kKbdDbase3));
  return handle;
}

// Puts row r into the record buffer and appends it; answers its recno.
uint32_t AppendRow(int16_t h, const Row& r) {
  Check("kbddput", kbddput(h, 0, r.name));
  Check("kbddput", kbddput(h, 1, r.city));
  Check("kbddput", kbddput(h, 2, &r.age));
  Check("kbddput", kbddput(h, 3, &r.salary));
  Check("kbddput", kbddput(h, 4, r.birth));
  uint32_t recno = 0;
  Check("kbddwrite", kbddwrite(h, &recno, kKbdWriteAppend));
  return recno;
}

void MakeTable(const std::string& path, const std::vector<Row>& rows) {
  fs::remove(path);
  int16_t previous = kbdsetsync(0);
  int16_t h = qx::bench::CreateAndOpenBenchTable(path.c_str(), "qx_bench_ndx");
  for (uint32_t i = 0; i < kRecords; ++i)
    AppendRow(h, rows[i & (kPoolSize - 1)]);
  Check("kbddclose", kbddclose(h));
  kbdsetsync(previous);
}

// The key field of one index: its name, kbdnindex type and length, and
// where its bytes lie in the record (for the limit loop).
struct KeyField {
  const char* label;
  const char* expression;
  char type;
  uint16_t key_length;
  uint32_t offset;
  uint32_t length;
};

constexpr KeyField kKeyFields[] = {
    {"char_name", "NAME", 'C', kNameLength, kNameOffset, kNameLength},
    {"numeric_salary", "SALARY", 'N', kNumericKeyLength, kSalaryOffset,
     kSalaryLength},
    {"date_birth", "BIRTH", 'D', kNumericKeyLength, kBirthOffset, kBirthLength},
};

// One kbdnindex of the whole table; answers its seconds.
double BuildIndex(int16_t dbf, const std::string& index, const KeyField& key) {
  fs::remove(index);
  auto start = Clock::now();
  Check("kbdnindex", kbdnindex(dbf, index.c_str(), key.type, key.expression,
                               key.key_length));
  return Seconds(start);
}

// The limit loop: every record through the block reader, the field's
// bytes and the big-endian recno into the external sort, the merge read
// to the end. Answers its seconds; *checksum proves the items came out.
double SortLimit(int16_t dbf, const KeyField& key, uint64_t* checksum) {
  namespace e = qx::engine;
  auto start = Clock::now();
  e::btree::ExternalSort sorter;
  e::btree::SortOptions options;
  options.item_size = key.length + 4;
  options.work_file = kWorkFile;
  options.buffer_bytes = kSortBufferBytes;
  Check("ExternalSort::Start", sorter.Start(options));
  Check("PrepareBlockReader", e::PrepareBlockReader(dbf));
  for (uint32_t recno = 1; recno <= kRecords; ++recno) {
    const uint8_t* record = nullptr;
    Check("PeekRecordThroughBlock",
          e::PeekRecordThroughBlock(dbf, recno, &record));
    uint8_t* item = nullptr;
    Check("ExternalSort::Append", sorter.Append(&item));
    std::memcpy(item, record + key.offset, key.length);
    e::PutBe32(item + key.length, recno);
  }
  e::ReleaseBlockReader(dbf);
  Check("ExternalSort::Finish", sorter.Finish());
  uint64_t sum = 0, items = 0;
  for (;;) {
    const uint8_t* item = nullptr;
    Check("ExternalSort::Next", sorter.Next(&item));
    if (item == nullptr) break;
    sum += e::GetBe32(item + key.length);
    ++items;
  }
  sorter.Close();
  double seconds = Seconds(start);
  if (items != kRecords) Die("limit item count", static_cast<int>(items));
  *checksum = sum;
  return seconds;
}

// A character key: the text padded with blanks to the key length, NUL
// after it (the exact search of kbdnkfind).
void PadName(const char* name, char* key) {
  size_t n = std::strlen(name);
  std::memcpy(key, name, n);
  std::memset(key + n, ' ', kNameLength - n);
  key[kNameLength] = '\0';
}

// A numeric key: the double's 8 bytes, least significant first.
void NumericKey(double value, uint8_t* key) {
  qx::engine::PutLe64(key, std::bit_cast<uint64_t>(value));
  key[kNumericKeyLength] = 0;
}

// The records sought: kSeeks drawn from 1..kRecords.
std::vector<uint32_t> SeekTargets() {
  qx::bench::Lcg rng(77);
  std::vector<uint32_t> targets(kSeeks);
  for (uint32_t& t : targets) t = 1 + rng.Next(kRecords);
  return targets;
}

// kSeeks exact seeks by name, each reading the record found; answers the
// seconds. Every record found must hold the name sought.
double SeekNames(int16_t dbf, int16_t index, const std::vector<Row>& rows,
                 const std::vector<uint32_t>& targets) {
  std::vector<char> keys(targets.size() * (kNameLength + 1));
  for (size_t i = 0; i < targets.size(); ++i)
    PadName(rows[(targets[i] - 1) & (kPoolSize - 1)].name,
            &keys[i * (kNameLength + 1)]);
  char key[kNameLength + 1];
  auto start = Clock::now();
  for (size_t i = 0; i < targets.size(); ++i) {
    const char* sought = &keys[i * (kNameLength + 1)];
    std::memcpy(key, sought, sizeof key);
    uint32_t recno = 0;
    int16_t status = kbdnkfind(index, key, &recno, 0);
    if (status != kKbdOk) Die("kbdnkfind by name", status);
    Check("kbddread", kbddread(dbf, recno));
    char name[kNameLength + 1];
    PadName(rows[(recno - 1) & (kPoolSize - 1)].name, name);
    if (std::memcmp(name, sought, kNameLength) != 0)
      Die("name seek result", static_cast<int>(recno));
  }
  return Seconds(start);
}

// The same by salary on the numeric index.
double SeekSalaries(int16_t dbf, int16_t index, const std::vector<Row>& rows,
                    const std::vector<uint32_t>& targets) {
  uint8_t key[kNumericKeyLength + 1];
  auto start = Clock::now();
  for (uint32_t target : targets) {
    double sought = rows[(target - 1) & (kPoolSize - 1)].salary;
    NumericKey(sought, key);
    uint32_t recno = 0;
    int16_t status = kbdnkfind(index, key, &recno, 0);
    if (status != kKbdOk) Die("kbdnkfind by salary", status);
    Check("kbddread", kbddread(dbf, recno));
    if (rows[(recno - 1) & (kPoolSize - 1)].salary != sought)
      Die("salary seek result", static_cast<int>(recno));
  }
  return Seconds(start);
}

// The whole NAME index in key order, each record read; answers the
// seconds. Keys must never decrease and every record come once.
double ScanInKeyOrder(int16_t dbf, int16_t index) {
  char key[kNameLength + 1], previous[kNameLength + 1] = {};
  uint32_t recno = 0, visited = 0;
  auto start = Clock::now();
  int16_t status = kbdnkfirst(index, key, &recno);
  while (status == kKbdOk) {
    Check("kbddread", kbddread(dbf, recno));
    if (std::memcmp(previous, key, kNameLength) > 0) Die("scan order", 0);
    std::memcpy(previous, key, sizeof key);
    ++visited;
    status = kbdnknext(index, key, &recno);
  }
  double seconds = Seconds(start);
  if (status != kKbdNoMoreKeys) Die("kbdnknext", status);
  if (visited != kRecords) Die("scan count", static_cast<int>(visited));
  return seconds;
}

// Appends kAppends rows to copies of the table and of the NAME and SALARY
// indexes, keeping both indexes in step; answers the seconds of the loop.
// check: verify both trees afterwards (not timed).
double AppendWithIndexes(const std::string& dir, const std::vector<Row>& rows,
                         bool check) {
  const std::string table = dir + "/APPEND.DBF";
  const std::string name_index = dir + "/APPNAME.NDX";
  const std::string salary_index = dir + "/APPSAL.NDX";
  for (const auto& [from, to] : {std::pair{dir + "/PEOPLE.DBF", table},
                                 std::pair{dir + "/NAME.NDX", name_index},
                                 std::pair{dir + "/SALARY.NDX", salary_index}})
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  int16_t previous = kbdsetsync(0);
  int16_t dbf = OpenTable(table);
  int16_t indexes[2] = {OpenIndex(name_index), OpenIndex(salary_index)};
  auto start = Clock::now();
  for (uint32_t i = 0; i < kAppends; ++i) {
    uint32_t recno = AppendRow(dbf, rows[(kRecords + i) & (kPoolSize - 1)]);
    for (int16_t index : indexes) {
      void* key = nullptr;
      Check("kbdnkmake", kbdnkmake(dbf, index, &key));
      int16_t status = kbdnkadd(index, key, recno);
      kbdfree(key);
      Check("kbdnkadd", status);
    }
  }
  double seconds = Seconds(start);
  if (check) {
    for (int16_t index : indexes) {
      qx::engine::btree::CheckReport report;
      Check("CheckNdx", qx::engine::CheckNdx(index, &report));
      if (report.problem_count != 0 || report.keys != kRecords + kAppends) {
        std::fprintf(
            stderr, "%s\n",
            report.problems.empty() ? "key count" : report.problems[0].c_str());
        Die("index check after appends", static_cast<int>(report.keys));
      }
    }
  }
  for (int16_t index : indexes) Check("kbdnclose", kbdnclose(index));
  Check("kbddclose", kbddclose(dbf));
  kbdsetsync(previous);
  for (const std::string& f : {table, name_index, salary_index}) fs::remove(f);
  return seconds;
}

}  // namespace

int main() {
  if (kbdinit(32767, 4) != kKbdOk) Die("kbdinit", -1);
  fs::path dir =
      fs::temp_directory_path() /
      ("qx_bench_ndx_" + std::to_string(qx::platform::CurrentProcessId()));
  fs::create_directories(dir);
  // The build's work file lies in the current directory.
  fs::current_path(dir);
  const std::string d = dir.string();
  const std::string table = d + "/PEOPLE.DBF";
  std::vector<Row> rows = qx::bench::MakeRows();
  MakeTable(table, rows);

  // Builds, each run against its limit run. The last build of each field
  // stays for the seeks, the scan and the appends.
  constexpr size_t kKeyCount = std::size(kKeyFields);
  Runs build[kKeyCount], limit[kKeyCount];
  int16_t dbf = OpenTable(table);
  uint64_t expected_sum = uint64_t{kRecords} * (kRecords + 1) / 2;
  for (int i = 0; i < kRunsBuild; ++i) {
    for (size_t k = 0; k < kKeyCount; ++k) {
      uint64_t checksum = 0;
      limit[k].Add(SortLimit(dbf, kKeyFields[k], &checksum));
      if (checksum != expected_sum) Die("limit checksum", 0);
      build[k].Add(BuildIndex(dbf, d + "/" + kKeyFields[k].expression + ".NDX",
                              kKeyFields[k]));
    }
  }

  // Seeks and the scan on the built indexes.
  std::vector<uint32_t> targets = SeekTargets();
  int16_t name_index = OpenIndex(d + "/NAME.NDX");
  int16_t salary_index = OpenIndex(d + "/SALARY.NDX");
  Runs seek_name, seek_salary, scan;
  for (int i = 0; i < kRunsSeek; ++i) {
    seek_name.Add(SeekNames(dbf, name_index, rows, targets));
    seek_salary.Add(SeekSalaries(dbf, salary_index, rows, targets));
  }
  for (int i = 0; i < kRunsScan; ++i) scan.Add(ScanInKeyOrder(dbf, name_index));
  Check("kbdnclose", kbdnclose(name_index));
  Check("kbdnclose", kbdnclose(salary_index));
  Check("kbddclose", kbddclose(dbf));

  Runs append;
  for (int i = 0; i < kRunsAppend; ++i)
    append.Add(AppendWithIndexes(d, rows, i == kRunsAppend - 1));

  kbdterm();
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(dir);

  std::printf("{\n");
  std::printf("  \"benchmark\": \"ndx\",\n");
  std::printf(
      "  \"table\": \"NAME C(20), CITY C(15), AGE N(3), SALARY N(10,2), "
      "BIRTH D; dialect dbase3; %u records cycling through %u distinct "
      "deterministic rows\",\n",
      kRecords, kPoolSize);
  std::printf(
      "  \"method\": \"std::chrono, best of N runs; each build alternates "
      "with its limit run; ratios of best runs, and the median over "
      "neighbouring pairs; timed loops exclude creating the table and "
      "copying files\",\n");
  for (size_t k = 0; k < kKeyCount; ++k) {
    const KeyField& key = kKeyFields[k];
    char covers[256];
    std::snprintf(covers, sizeof covers,
                  "kbdnindex of %s (%c, key length %u) over the table: "
                  "create, sort through the work file, write, close",
                  key.expression, key.type, key.key_length);
    std::printf("  \"build_%s\": %s,\n", key.label,
                qx::bench::Figure(kRecords, build[k], "keys", covers).c_str());
    std::snprintf(covers, sizeof covers,
                  "limit: block-reader scan, the field's %u bytes + recno "
                  "into the external sort (65,000-byte runs through "
                  "stacks.tmp), merge read to the end",
                  key.length);
    std::printf("  \"limit_sort_%s\": %s,\n", key.label,
                qx::bench::Figure(kRecords, limit[k], "keys", covers).c_str());
  }
  std::printf("  \"seek_name\": %s,\n",
              qx::bench::Figure(kSeeks, seek_name, "seeks",
                                "kbdnkfind of a random record's NAME (exact, "
                                "padded to 20) + kbddread of the record found")
                  .c_str());
  std::printf("  \"seek_salary\": %s,\n",
              qx::bench::Figure(kSeeks, seek_salary, "seeks",
                                "kbdnkfind of a random record's SALARY "
                                "(8-byte double) + kbddread of the record "
                                "found")
                  .c_str());
  std::printf("  \"scan_key_order\": %s,\n",
              qx::bench::Figure(kRecords, scan, "records",
                                "kbdnkfirst / kbdnknext over the NAME index "
                                "+ kbddread of every record")
                  .c_str());
  std::printf("  \"append_two_indexes\": %s,\n",
              qx::bench::Figure(kAppends, append, "records",
                                "kbddput x5 + kbddwrite, then kbdnkmake + "
                                "kbdnkadd + kbdfree for the NAME and SALARY "
                                "indexes of the 1M table, kbdsetsync(0); "
                                "trees checked after the last run")
                  .c_str());
  std::printf("  \"ratios\": {\n");
  for (size_t k = 0; k < kKeyCount; ++k) {
    const char* label = kKeyFields[k].label;
    std::printf("    \"build_over_limit_%s\": %.3f,\n", label,
                Rate(kRecords, build[k]) / Rate(kRecords, limit[k]));
    std::printf("    \"build_over_limit_%s_median_of_pairs\": %.3f,\n", label,
                MedianPairRatio(build[k], limit[k]));
  }
  std::printf("    \"build_over_limit_target\": 0.40,\n");
  std::printf("    \"build_target_keys_per_s\": 1500000,\n");
  std::printf("    \"seek_name_over_peer_reference\": %.2f,\n",
              Rate(kSeeks, seek_name) / kPeerSeeksName);
  std::printf("    \"seek_salary_over_peer_reference\": %.2f,\n",
              Rate(kSeeks, seek_salary) / kPeerSeeksSalary);
  std::printf("    \"seek_target_over_peer\": 2.0,\n");
  std::printf("    \"scan_over_peer_reference\": %.2f,\n",
              Rate(kRecords, scan) / kPeerScan);
  std::printf("    \"scan_target_over_peer\": 2.0,\n");
  std::printf("    \"append_two_indexes_over_peer_reference\": %.2f,\n",
              Rate(kAppends, append) / kPeerAppendTwoIndexes);
  std::printf("    \"append_two_indexes_target_over_peer\": 3.0,\n");
  std::printf(
      "    \"peer_reference_per_s\": {\"seek_name\": %.0f, "
      "\"seek_salary\": %.0f, \"scan\": %.0f, "
      "\"append_two_indexes\": %.0f},\n",
      kPeerSeeksName, kPeerSeeksSalary, kPeerScan, kPeerAppendTwoIndexes);
  std::printf(
      "    \"peer_reference_note\": \"Xbase64 3.1.2 on the same 1M "
      "table, measured earlier by qx_bench_peer_xbase64_ndx, which "
      "measures it again in the same run of tools/bench.sh\"\n");
  std::printf("  }\n");
  std::printf("}\n");
  return 0;
}
