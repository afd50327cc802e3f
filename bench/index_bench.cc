// The shared index benchmark (index_bench.h): the table, the timed loops
// of builds, limit, seeks, scan and appends, and the JSON object, over
// the operations of one IndexFormat.
#include "bench/index_bench.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_rows.h"
#include "bench/bench_stats.h"
#include "engine/btree/external_sort.h"
#include "engine/core/coding.h"
#include "engine/dbf/dbf_block_reader.h"
#include "platform/platform.h"
#include "qx/engine.h"

namespace qx::bench {
namespace {

namespace fs = std::filesystem;

// Best-of-N repetitions per figure (QX_BENCH_RUNS sets them all).
const int kRunsBuild = BenchRuns(5);
const int kRunsSeek = BenchRuns(7);
const int kRunsScan = BenchRuns(5);
const int kRunsAppend = BenchRuns(3);

// The targets: build speed and its share of the limit; seeks, scan and
// appends over the peer reference.
constexpr double kBuildTargetKeysPerSecond = 1'500'000.0;
constexpr double kBuildOverLimitTarget = 0.40;
constexpr double kSeekTargetOverPeer = 2.0;
constexpr double kScanTargetOverPeer = 2.0;
constexpr double kAppendTargetOverPeer = 3.0;

// The sort parameters of the builds (their buffer and work file).
constexpr uint32_t kSortBufferBytes = 65000;
constexpr const char* kWorkFile = "stacks.tmp";

constexpr const char* kTableFile = "PEOPLE.DBF";

// The lookup keys' JSON names: the character key, then the numeric one.
constexpr const char* kLookupNames[2] = {"seek_name", "seek_salary"};

// Row r of a table (1-based record number) is pool row (r - 1) mod pool.
const Row& RowOf(const std::vector<Row>& rows, uint32_t recno) {
  return rows[(recno - 1) & (kPoolSize - 1)];
}

// What one run of the whole benchmark measured.
struct Measured {
  Runs build[3], limit[3];
  Runs seek[2], scan, append;
};

class IndexBench {
 public:
  explicit IndexBench(const IndexFormat& format)
      : format_(format), rows_(MakeRows()) {}

  int Run();

 private:
  [[noreturn]] void Die(const char* what, int status) const {
    qx::bench::Die(format_.program, what, status);
  }
  void Check(const char* what, int16_t status) const {
    if (status < 0) Die(what, status);
  }

  int16_t OpenTable(const std::string& path) const;
  void MakeTable(const std::string& path, uint32_t records) const;
  double BuildIndex(int16_t dbf, const std::string& dir,
                    const KeyField& key) const;
  double SortLimit(int16_t dbf, const KeyField& key) const;
  void BuildLookupIndexes(int16_t dbf, const std::string& dir) const;
  void OpenIndexes(const std::string& dir, IndexId* ids) const;
  void CloseIndexes(const IndexId* ids) const;
  std::vector<uint8_t> KeyImages(IndexId index, const KeyField& key) const;
  std::vector<uint32_t> SeekTargets() const;
  double Seek(int16_t dbf, IndexId index, const KeyField& key,
              const std::vector<uint32_t>& targets) const;
  double Scan(int16_t dbf, IndexId index, const KeyField& key) const;
  double Append(const std::string& lookup_dir, const std::string& dir,
                bool check) const;
  void CheckAfterAppends(const IndexId* ids) const;
  void Print(const Measured& m) const;
  bool PrintTargets(const Measured& m) const;

  const IndexFormat& format_;
  const std::vector<Row> rows_;
};

int16_t IndexBench::OpenTable(const std::string& path) const {
  int16_t handle = kKbdNoHandle;
  Check("kbddopenx",
        kbddopenx(&handle, path.c_str(), kKbdDbase3 | BenchShareMode()));
  return handle;
}

void IndexBench::MakeTable(const std::string& path, uint32_t records) const {
  fs::remove(path);
  int16_t previous = kbdsetsync(0);
  int16_t dbf = CreateAndOpenBenchTable(path.c_str(), format_.program);
  for (uint32_t recno = 1; recno <= records; ++recno)
    AppendBenchRow(dbf, RowOf(rows_, recno), format_.program);
  Check("kbddclose", kbddclose(dbf));
  kbdsetsync(previous);
}

// One build of key's index over the whole table; answers its seconds.
double IndexBench::BuildIndex(int16_t dbf, const std::string& dir,
                              const KeyField& key) const {
  const std::string path = dir + "/" + key.file;
  fs::remove(path);
  auto start = Clock::now();
  Check(format_.build_call, format_.build(dbf, path.c_str(), key));
  return Seconds(start);
}

// The limit loop: every record through the block reader, the field's
// bytes and the big-endian recno into the external sort, the merge read
// to the end. Answers its seconds; the record numbers' sum proves that
// every item came out.
double IndexBench::SortLimit(int16_t dbf, const KeyField& key) const {
  namespace e = qx::engine;
  auto start = Clock::now();
  e::btree::ExternalSort sorter;
  e::btree::SortOptions options;
  options.item_size = key.length + 4;
  options.work_file = kWorkFile;
  options.buffer_bytes = kSortBufferBytes;
  Check("ExternalSort::Start", sorter.Start(options));
  Check("PrepareBlockReader", e::PrepareBlockReader(dbf));
  for (uint32_t recno = 1; recno <= kIndexRecords; ++recno) {
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
  if (items != kIndexRecords) Die("limit item count", static_cast<int>(items));
  if (sum != uint64_t{kIndexRecords} * (kIndexRecords + 1) / 2)
    Die("limit checksum", 0);
  return seconds;
}

// The lookup keys' indexes over the lookup table in dir (not timed).
void IndexBench::BuildLookupIndexes(int16_t dbf, const std::string& dir) const {
  for (const KeyField* key : format_.lookup_keys)
    fs::remove(dir + "/" + key->file);
  for (const KeyField* key : format_.lookup_keys)
    Check(format_.build_call,
          format_.build(dbf, (dir + "/" + key->file).c_str(), *key));
}

// Opens the lookup keys' indexes in dir: each file once, then the tags of
// a compound file; ids[i] is lookup key i's.
void IndexBench::OpenIndexes(const std::string& dir, IndexId* ids) const {
  int16_t files[2] = {kKbdNoHandle, kKbdNoHandle};
  for (int i = 0; i < 2; ++i) {
    const KeyField& key = *format_.lookup_keys[i];
    if (i == 1 && std::strcmp(key.file, format_.lookup_keys[0]->file) == 0) {
      files[1] = files[0];
    } else {
      Check("open index file",
            format_.open_file(&files[i], (dir + "/" + key.file).c_str(),
                              format_.dialect | BenchShareMode()));
    }
    ids[i] = files[i];
    if (format_.open_tag != nullptr)
      Check("open tag", format_.open_tag(&ids[i], files[i], key.tag));
    if (format_.set_key_type != nullptr)
      Check("set key type",
            format_.set_key_type(ids[i], static_cast<uint16_t>(key.type)));
  }
}

// Closes what OpenIndexes opened: tags first, then each file once. A tag
// identifier keeps its file's handle in its low 16 bits.
void IndexBench::CloseIndexes(const IndexId* ids) const {
  std::set<int16_t> files;
  for (int i = 0; i < 2; ++i) {
    if (format_.close_tag != nullptr)
      Check("close tag", format_.close_tag(ids[i]));
    files.insert(static_cast<int16_t>(ids[i] & 0xFFFF));
  }
  for (int16_t file : files)
    Check("close index file", format_.close_file(file));
}

// The key of every pool row for key, key_length bytes each: NAME blank-
// padded or cut for a character key, the format's image of SALARY for a
// numeric one.
std::vector<uint8_t> IndexBench::KeyImages(IndexId index,
                                           const KeyField& key) const {
  const size_t length = key.key_length;
  std::vector<uint8_t> images(rows_.size() * length);
  std::vector<uint8_t> image(length + 1);
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (key.type == 'C') {
      size_t n = std::min(std::strlen(rows_[r].name), length);
      std::memset(image.data(), ' ', length);
      std::memcpy(image.data(), rows_[r].name, n);
    } else {
      Check("numeric key",
            format_.numeric_key(index, image.data(), rows_[r].salary));
    }
    std::memcpy(&images[r * length], image.data(), length);
  }
  return images;
}

// The records sought: kIndexSeeks drawn from the lookup table.
std::vector<uint32_t> IndexBench::SeekTargets() const {
  Lcg rng(77);
  std::vector<uint32_t> targets(kIndexSeeks);
  for (uint32_t& t : targets) t = 1 + rng.Next(format_.lookup_records);
  return targets;
}

// kIndexSeeks exact seeks of the targets' keys, each reading the record
// found; answers the seconds. Every record found must hold the key
// sought (not necessarily the target: keys repeat).
double IndexBench::Seek(int16_t dbf, IndexId index, const KeyField& key,
                        const std::vector<uint32_t>& targets) const {
  const size_t length = key.key_length;
  const std::vector<uint8_t> images = KeyImages(index, key);
  std::vector<uint8_t> sought(targets.size() * (length + 1), 0);
  for (size_t i = 0; i < targets.size(); ++i)
    std::memcpy(&sought[i * (length + 1)],
                &images[((targets[i] - 1) & (kPoolSize - 1)) * length], length);
  std::vector<uint8_t> buffer(length + 1);
  auto start = Clock::now();
  for (size_t i = 0; i < targets.size(); ++i) {
    const uint8_t* wanted = &sought[i * (length + 1)];
    std::memcpy(buffer.data(), wanted, length + 1);
    uint32_t recno = 0;
    int16_t status =
        format_.seek(index, buffer.data(), &recno, format_.seek_mode);
    if (status != kKbdOk) Die("seek", status);
    Check("kbddread", kbddread(dbf, recno));
    if (std::memcmp(&images[((recno - 1) & (kPoolSize - 1)) * length], wanted,
                    length) != 0)
      Die("seek result", static_cast<int>(recno));
  }
  return Seconds(start);
}

// The whole index in key order, each record read; answers the seconds.
// Keys must never decrease and every record come once.
double IndexBench::Scan(int16_t dbf, IndexId index, const KeyField& key) const {
  const size_t length = key.key_length;
  std::vector<uint8_t> current(length + 1), previous(length + 1, 0);
  uint32_t recno = 0, visited = 0;
  auto start = Clock::now();
  int16_t status = format_.first(index, current.data(), &recno);
  while (status == kKbdOk) {
    Check("kbddread", kbddread(dbf, recno));
    if (std::memcmp(previous.data(), current.data(), length) > 0)
      Die("scan order", 0);
    std::memcpy(previous.data(), current.data(), length + 1);
    ++visited;
    status = format_.next(index, current.data(), &recno);
  }
  double seconds = Seconds(start);
  if (status != format_.scan_end_status) Die("scan next", status);
  if (visited != format_.lookup_records)
    Die("scan count", static_cast<int>(visited));
  return seconds;
}

// Appends format_.appends rows keeping both lookup indexes in step, in a
// folder of its own: on copies of the lookup table and indexes, or on an
// empty table with empty indexes. Answers the seconds of the loop.
// check: verify both trees afterwards (not timed).
double IndexBench::Append(const std::string& lookup_dir, const std::string& dir,
                          bool check) const {
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string table = dir + "/" + kTableFile;
  int16_t previous = kbdsetsync(0);
  int16_t dbf = kKbdNoHandle;
  uint32_t first_recno = 1;
  if (format_.appends_from_empty) {
    dbf = CreateAndOpenBenchTable(table.c_str(), format_.program);
    for (const KeyField* key : format_.lookup_keys)
      Check("create empty index",
            format_.create_empty((dir + "/" + key->file).c_str(), *key));
  } else {
    fs::copy_file(lookup_dir + "/" + kTableFile, table);
    for (const KeyField* key : format_.lookup_keys)
      fs::copy_file(lookup_dir + "/" + key->file, dir + "/" + key->file,
                    fs::copy_options::skip_existing);
    dbf = OpenTable(table);
    first_recno = format_.lookup_records + 1;
  }
  IndexId ids[2];
  OpenIndexes(dir, ids);
  auto start = Clock::now();
  for (uint32_t i = 0; i < format_.appends; ++i) {
    uint32_t recno =
        AppendBenchRow(dbf, RowOf(rows_, first_recno + i), format_.program);
    for (IndexId index : ids) {
      void* key = nullptr;
      Check("record key", format_.record_key(dbf, index, &key));
      int16_t status = format_.add(index, key, recno);
      kbdfree(key);
      Check("add", status);
    }
  }
  double seconds = Seconds(start);
  if (check) CheckAfterAppends(ids);
  CloseIndexes(ids);
  Check("kbddclose", kbddclose(dbf));
  kbdsetsync(previous);
  fs::remove_all(dir);
  return seconds;
}

void IndexBench::CheckAfterAppends(const IndexId* ids) const {
  const uint64_t expected =
      uint64_t{format_.appends_from_empty ? 0 : format_.lookup_records} +
      format_.appends;
  for (int i = 0; i < 2; ++i) {
    engine::btree::CheckReport report;
    Check("index check", format_.check(ids[i], &report, {}));
    if (report.problem_count != 0 || report.keys != expected) {
      std::fprintf(
          stderr, "%s\n",
          report.problems.empty() ? "key count" : report.problems[0].c_str());
      Die("index check after appends", static_cast<int>(report.keys));
    }
  }
}

int IndexBench::Run() {
  if (kbdinit(32767, 4) != kKbdOk) Die("kbdinit", -1);
  const fs::path root = fs::temp_directory_path() /
                        ("qx_bench_" + std::string(format_.label) + "_" +
                         std::to_string(qx::platform::CurrentProcessId()));
  fs::create_directories(root);
  // The builds' work file lies in the current directory.
  fs::current_path(root);
  const std::string dir = root.string();
  MakeTable(dir + "/" + kTableFile, kIndexRecords);

  // Builds, each run against its limit run. When the lookups share the
  // table, the last build of each lookup key serves them.
  // QX_BENCH_ONLY=seek, scan or append runs that figure alone, prints
  // nothing, and builds only the indexes it needs: for profiling one
  // figure (perf, strace, callgrind).
  const char* only_env = std::getenv("QX_BENCH_ONLY");
  const std::string only = only_env != nullptr ? only_env : "";
  auto wanted = [&only](const char* figure) {
    return only.empty() || only == figure;
  };
  Measured m;
  int16_t dbf = OpenTable(dir + "/" + kTableFile);
  if (!only.empty() && format_.lookup_records == kIndexRecords)
    BuildLookupIndexes(dbf, dir);
  for (int run = 0; only.empty() && run < kRunsBuild; ++run) {
    for (int k = 0; k < 3; ++k) {
      const KeyField& key = *format_.build_keys[k];
      m.limit[k].Add(SortLimit(dbf, key));
      m.build[k].Add(BuildIndex(dbf, dir, key));
    }
  }
  std::string lookup_dir = dir;
  if (format_.lookup_records != kIndexRecords) {
    Check("kbddclose", kbddclose(dbf));
    lookup_dir = dir + "/lookup";
    fs::create_directories(lookup_dir);
    MakeTable(lookup_dir + "/" + kTableFile, format_.lookup_records);
    dbf = OpenTable(lookup_dir + "/" + kTableFile);
    BuildLookupIndexes(dbf, lookup_dir);
  }

  // Seeks and the scan.
  const std::vector<uint32_t> targets = SeekTargets();
  IndexId ids[2];
  OpenIndexes(lookup_dir, ids);
  for (int run = 0; wanted("seek") && run < kRunsSeek; ++run)
    for (int k = 0; k < 2; ++k)
      m.seek[k].Add(Seek(dbf, ids[k], *format_.lookup_keys[k], targets));
  for (int run = 0; wanted("scan") && run < kRunsScan; ++run)
    m.scan.Add(Scan(dbf, ids[0], *format_.lookup_keys[0]));
  CloseIndexes(ids);
  Check("kbddclose", kbddclose(dbf));

  for (int run = 0; wanted("append") && run < kRunsAppend; ++run)
    m.append.Add(Append(lookup_dir, dir + "/append", run == kRunsAppend - 1));

  kbdterm();
  fs::current_path(fs::temp_directory_path());
  fs::remove_all(root);
  if (only.empty()) Print(m);
  return 0;
}

// One "targets" entry, of the best runs: a rate against a rate it must
// reach (reference_name null), or the ratio of a rate to a reference rate
// (the limit, the peer's) against the ratio it must reach.
bool PrintTarget(const char* name, double per_s, const char* reference_name,
                 double reference_per_s, double target) {
  if (reference_name == nullptr) {
    bool met = per_s >= target;
    std::printf(
        "    \"%s\": {\"per_s\": %.0f, \"target_per_s\": %.0f, "
        "\"met\": %s},\n",
        name, per_s, target, met ? "true" : "false");
    return met;
  }
  double ratio = per_s / reference_per_s;
  bool met = ratio >= target;
  std::printf(
      "    \"%s\": {\"per_s\": %.0f, \"%s_per_s\": %.0f, \"ratio\": "
      "%.3f, \"target_ratio\": %.2f, \"met\": %s},\n",
      name, per_s, reference_name, reference_per_s, ratio, target,
      met ? "true" : "false");
  return met;
}

// The "targets" object; answers whether every target was met.
bool IndexBench::PrintTargets(const Measured& m) const {
  bool all = true;
  char name[96];
  for (int k = 0; k < 3; ++k) {
    const char* label = format_.build_keys[k]->label;
    const double build = Rate(kIndexRecords, m.build[k]);
    std::snprintf(name, sizeof name, "build_%s", label);
    all &= PrintTarget(name, build, nullptr, 0, kBuildTargetKeysPerSecond);
    std::snprintf(name, sizeof name, "build_%s_over_limit", label);
    all &= PrintTarget(name, build, "limit", Rate(kIndexRecords, m.limit[k]),
                       kBuildOverLimitTarget);
  }
  for (int k = 0; k < 2; ++k) {
    std::snprintf(name, sizeof name, "%s_over_stated_peer", kLookupNames[k]);
    all &= PrintTarget(name, Rate(kIndexSeeks, m.seek[k]), "stated_peer",
                       kStatedPeerSeeks, kSeekTargetOverPeer);
  }
  all &=
      PrintTarget("scan_over_stated_peer", Rate(format_.lookup_records, m.scan),
                  "stated_peer", kStatedPeerScan, kScanTargetOverPeer);
  all &= PrintTarget("append_two_indexes_over_stated_peer",
                     Rate(format_.appends, m.append), "stated_peer",
                     kStatedPeerAppendTwoIndexes, kAppendTargetOverPeer);
  return all;
}

void IndexBench::Print(const Measured& m) const {
  std::printf("{\n");
  std::printf("  \"benchmark\": \"%s\",\n", format_.label);
  std::printf("  \"shared\": %s,\n", BenchShareMode() != 0 ? "true" : "false");
  std::printf(
      "  \"table\": \"NAME C(20), CITY C(15), AGE N(3), SALARY N(10,2), "
      "BIRTH D; dialect dbase3; %u records cycling through %u distinct "
      "deterministic rows%s\",\n",
      kIndexRecords, kPoolSize, format_.table_note);
  std::printf(
      "  \"method\": \"std::chrono, best of N runs; each build alternates "
      "with its limit run; ratios of best runs, and the median over "
      "neighbouring pairs; timed loops exclude creating the table and "
      "copying files\",\n");
  char covers[512];
  for (int k = 0; k < 3; ++k) {
    const KeyField& key = *format_.build_keys[k];
    std::snprintf(covers, sizeof covers,
                  "%s of %s (%c, key length %u) over the table%s",
                  format_.build_call, key.expression, key.type, key.key_length,
                  format_.build_note);
    std::printf("  \"build_%s\": %s,\n", key.label,
                Figure(kIndexRecords, m.build[k], "keys", covers).c_str());
    std::snprintf(covers, sizeof covers,
                  "limit: block-reader scan, the field's %u bytes + recno "
                  "into the external sort (65,000-byte runs through "
                  "stacks.tmp), merge read to the end",
                  key.length);
    std::printf("  \"limit_sort_%s\": %s,\n", key.label,
                Figure(kIndexRecords, m.limit[k], "keys", covers).c_str());
  }
  for (int k = 0; k < 2; ++k)
    std::printf("  \"%s\": %s,\n", kLookupNames[k],
                Figure(kIndexSeeks, m.seek[k], "seeks", format_.seek_covers[k])
                    .c_str());
  std::printf(
      "  \"scan_key_order\": %s,\n",
      Figure(format_.lookup_records, m.scan, "records", format_.scan_covers)
          .c_str());
  std::printf(
      "  \"append_two_indexes\": %s,\n",
      Figure(format_.appends, m.append, "records", format_.append_covers)
          .c_str());
  std::printf("  \"ratios\": {\n");
  for (int k = 0; k < 3; ++k) {
    const char* label = format_.build_keys[k]->label;
    std::printf(
        "    \"build_over_limit_%s\": %.3f,\n", label,
        Rate(kIndexRecords, m.build[k]) / Rate(kIndexRecords, m.limit[k]));
    std::printf("    \"build_over_limit_%s_median_of_pairs\": %.3f,\n", label,
                MedianPairRatio(m.build[k], m.limit[k]));
  }
  std::printf("    \"build_over_limit_target\": %.2f,\n",
              kBuildOverLimitTarget);
  std::printf("    \"build_target_keys_per_s\": %.0f,\n",
              kBuildTargetKeysPerSecond);
  std::printf("    \"seek_name_over_peer_reference\": %.2f,\n",
              Rate(kIndexSeeks, m.seek[0]) / kPeerSeeksName);
  std::printf("    \"seek_salary_over_peer_reference\": %.2f,\n",
              Rate(kIndexSeeks, m.seek[1]) / kPeerSeeksSalary);
  std::printf("    \"seek_target_over_peer\": %.1f,\n", kSeekTargetOverPeer);
  std::printf("    \"scan_over_peer_reference\": %.2f,\n",
              Rate(format_.lookup_records, m.scan) / kPeerScan);
  std::printf("    \"scan_target_over_peer\": %.1f,\n", kScanTargetOverPeer);
  std::printf("    \"append_two_indexes_over_peer_reference\": %.2f,\n",
              Rate(format_.appends, m.append) / kPeerAppendTwoIndexes);
  std::printf("    \"append_two_indexes_target_over_peer\": %.1f,\n",
              kAppendTargetOverPeer);
  std::printf(
      "    \"peer_reference_per_s\": {\"seek_name\": %.0f, "
      "\"seek_salary\": %.0f, \"scan\": %.0f, "
      "\"append_two_indexes\": %.0f},\n",
      kPeerSeeksName, kPeerSeeksSalary, kPeerScan, kPeerAppendTwoIndexes);
  std::printf(
      "    \"peer_reference_note\": \"Xbase64 3.1.2 on the same 1M "
      "table, measured earlier by qx_bench_peer_xbase64_ndx, which "
      "measures it again in the same run of tools/bench.sh\"\n");
  if (!format_.report_targets) {
    std::printf("  }\n}\n");
    return;
  }
  std::printf("  },\n  \"targets\": {\n");
  bool all = PrintTargets(m);
  std::printf("    \"all_met\": %s\n  }\n}\n", all ? "true" : "false");
}

}  // namespace

int RunIndexBenchmark(const IndexFormat& format) {
  return IndexBench(format).Run();
}

}  // namespace qx::bench
