// Speed of the data-file module, printed as one JSON object.
//
// The table is NAME C(20), CITY C(15), AGE N(3), SALARY N(10,2), BIRTH D
// in dialect 1 (57-byte records), filled with deterministic rows. Measured:
//   - append through kbddput (every field) + kbddwrite: with the default
//     flush after every write (one fdatasync per append, so 20k records
//     only, in rounds of 2k) and with kbdsetsync(0), over 100k and 1M;
//   - a full scan through kbddread + kbddget of every field, 100k and 1M;
//   - kbddpack of 1M records of which every tenth is deleted.
// Two limits the system sets are measured in the same run, through the
// platform layer the engine itself uses:
//   - the positioned-read loop: one ReadFileAt per record, in record order,
//     over the same file. The engine keeps no file-level cache, so a scan
//     in record order cannot beat one read per record;
//   - the flushed-write loop: one WriteFileAt of a record and one
//     FlushFile per record, the cost of a durable append.
// Every figure is taken several times, each engine run alternating with
// the run of its limit, because the machine is shared: CPU and disk speed
// change from second to second. The best run counts (ratios are of best
// runs); median and worst are printed beside it as the spread, and each
// ratio also as the median over neighbouring pairs of runs. The scan ratio
// is taken a third way, steadier than whole runs seconds apart: chunk by
// chunk, each chunk of records read by the loop and scanned by the engine
// in turn, the quartiles over the chunk pairs' ratios. Timed loops exclude
// creating, opening and closing files; each figure states what it covers.
#include <algorithm>
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
#include "platform/platform.h"
#include "qx/engine.h"

namespace {

using qx::bench::kBenchFieldCount;
using qx::bench::kPoolSize;
using qx::bench::MakeRows;
using qx::bench::MedianPairRatio;
using qx::bench::Rate;
using qx::bench::Row;
using qx::bench::Runs;
using qx::bench::Seconds;
namespace fs = std::filesystem;
using Clock = qx::bench::Clock;

constexpr int16_t kFieldCount = kBenchFieldCount;
constexpr uint16_t kRecordSize = 1 + 20 + 15 + 3 + 10 + 8;   // flag + fields
constexpr uint32_t kHeaderSize = 32 + 32 * kFieldCount + 1;  // + terminator

constexpr uint32_t kSmall = 100'000;
constexpr uint32_t kLarge = 1'000'000;
// One fdatasync per append costs 70..170 us on this kind of machine (far
// more while others write): 20k appends in rounds of 2k take seconds.
constexpr uint32_t kFlushedRound = 2'000;
constexpr int kFlushedRounds = 10;
// Pack input: records recno with recno % kDeleteEvery == 0 are deleted.
constexpr uint32_t kDeleteEvery = 10;

// Best-of-N repetitions per figure (QX_BENCH_RUNS sets them all).
const int kRunsAppendSmall = qx::bench::BenchRuns(7);
const int kRunsAppendLarge = qx::bench::BenchRuns(3);
const int kRunsScanSmall = qx::bench::BenchRuns(31);
const int kRunsScanLarge = qx::bench::BenchRuns(15);
const int kRunsPack = qx::bench::BenchRuns(3);
// The interleaved scan: chunks of kChunk records, the 1M table read
// kInterleavedPasses times by each side.
constexpr uint32_t kChunk = 10'000;
constexpr int kInterleavedPasses = 5;

[[noreturn]] void Die(const char* what, int status) {
  qx::bench::Die("qx_bench_dbf", what, status);
}

void Check(const char* what, int16_t status) {
  if (status < 0) Die(what, status);
}

int16_t OpenTable(const std::string& path) {
  int16_t handle = kKbdNoHandle;
  Check("kbddopenx", kbddopenx(&handle, path.c_str(),
                               kKbdDbase3 | qx::bench::BenchShareMode()));
  return handle;
}

uint32_t RecordCount(int16_t handle) {
  uint32_t count = 0;
  Check("kbddreccount", kbddreccount(handle, &count));
  return count;
}

// Creates the table and appends count rows; answers the seconds of the
// append loop (the close, which flushes once, is outside).
double AppendTable(const std::string& path, const std::vector<Row>& rows,
                   uint32_t count, bool sync) {
  fs::remove(path);
  int16_t previous = kbdsetsync(sync ? 1 : 0);
  int16_t h = qx::bench::CreateAndOpenBenchTable(path.c_str(), "qx_bench_dbf");
  auto start = Clock::now();
  for (uint32_t i = 0; i < count; ++i) {
    qx::bench::AppendBenchRow(h, rows[i & (kPoolSize - 1)], "qx_bench_dbf");
  }
  double seconds = Seconds(start);
  if (RecordCount(h) != count) Die("append count", -1);
  Check("kbddclose", kbddclose(h));
  kbdsetsync(previous);
  if (fs::file_size(path) != kHeaderSize + uint64_t{kRecordSize} * count + 1)
    Die("append file size", -1);
  return seconds;
}

// The flushed-write loop: count records written at their offsets, each
// followed by a flush; answers its seconds.
double FlushedWriteLoop(const std::string& path, uint32_t count) {
  fs::remove(path);
  namespace p = qx::platform;
  p::File* file = p::OpenFile(path.c_str(), p::kFileRead | p::kFileWrite);
  if (file == nullptr) Die("OpenFile", static_cast<int>(p::LastError()));
  uint8_t record[kRecordSize];
  std::memset(record, ' ', sizeof record);
  auto start = Clock::now();
  for (uint32_t i = 0; i < count; ++i) {
    record[1] = static_cast<uint8_t>('A' + i % 26);
    if (!p::WriteFileAt(file, kHeaderSize + i * kRecordSize, record,
                        kRecordSize) ||
        !p::FlushFile(file))
      Die("flushed write", static_cast<int>(p::LastError()));
  }
  double seconds = Seconds(start);
  p::CloseFile(file);
  fs::remove(path);
  return seconds;
}

qx::platform::File* OpenForReading(const std::string& path) {
  namespace p = qx::platform;
  p::File* file = p::OpenFile(
      path.c_str(), p::kFileRead | p::kFileShareBoth | p::kFileOpenExisting);
  if (file == nullptr) Die("OpenFile", static_cast<int>(p::LastError()));
  return file;
}

// The positioned-read loop over records [first, first + count) (0-based);
// answers its seconds.
double ReadRecords(qx::platform::File* file, uint32_t first, uint32_t count,
                   uint64_t* sum) {
  namespace p = qx::platform;
  uint8_t record[kRecordSize];
  uint64_t s = 0;
  auto start = Clock::now();
  for (uint32_t i = first; i < first + count; ++i) {
    if (!p::ReadFileAt(file, kHeaderSize + i * kRecordSize, record, kRecordSize,
                       nullptr))
      Die("ReadFileAt", static_cast<int>(p::LastError()));
    s += record[1];
  }
  double seconds = Seconds(start);
  *sum = s;
  return seconds;
}

double ReadLoop(const std::string& path, uint32_t count, uint64_t* sum) {
  qx::platform::File* file = OpenForReading(path);
  double seconds = ReadRecords(file, 0, count, sum);
  qx::platform::CloseFile(file);
  return seconds;
}

// The scan through the engine of records [first, first + count) (0-based)
// of an open table: every record read, every field got. The checksum over
// the values read proves they round-tripped.
double ScanRecords(int16_t h, uint32_t first, uint32_t count,
                   double* checksum) {
  char name[21], city[16], birth[11];
  double age = 0, salary = 0, sum = 0;
  auto start = Clock::now();
  for (uint32_t recno = first + 1; recno <= first + count; ++recno) {
    Check("kbddread", kbddread(h, recno));
    Check("kbddget", kbddget(h, 0, name));
    Check("kbddget", kbddget(h, 1, city));
    Check("kbddget", kbddget(h, 2, &age));
    Check("kbddget", kbddget(h, 3, &salary));
    Check("kbddget", kbddget(h, 4, birth));
    sum += age + salary + name[0] + city[0] + birth[7];
  }
  double seconds = Seconds(start);
  *checksum = sum;
  return seconds;
}

double ScanTable(const std::string& path, uint32_t count, double* checksum) {
  int16_t h = OpenTable(path);
  if (RecordCount(h) != count) Die("scan count", -1);
  double seconds = ScanRecords(h, 0, count, checksum);
  Check("kbddclose", kbddclose(h));
  return seconds;
}

double ExpectedChecksum(const std::vector<Row>& rows, uint32_t first,
                        uint32_t count) {
  double sum = 0;
  for (uint32_t i = first; i < first + count; ++i) {
    const Row& r = rows[i & (kPoolSize - 1)];
    sum += r.age + r.salary + r.name[0] + r.city[0] + r.birth[7];
  }
  return sum;
}

// The scan against the read loop chunk by chunk: kChunk records read by
// the loop, the same records scanned (which goes first alternates), over
// the whole table kInterleavedPasses times. Each pair of chunks sees the
// same machine, milliseconds apart, so the quartiles of the pairs' ratios
// hold still where whole runs, seconds apart, do not.
struct Quartiles {
  double lower = 0, median = 0, upper = 0;
  size_t pairs = 0;
};

Quartiles InterleavedScanRatio(const std::string& path, uint32_t count,
                               const std::vector<Row>& rows) {
  qx::platform::File* file = OpenForReading(path);
  int16_t h = OpenTable(path);
  std::vector<double> ratios;
  uint64_t read_sum = 0;
  double checksum = 0;
  for (int pass = 0; pass < kInterleavedPasses; ++pass) {
    for (uint32_t first = 0; first + kChunk <= count; first += kChunk) {
      double read = 0, scan = 0;
      if (ratios.size() % 2 == 0) {
        read = ReadRecords(file, first, kChunk, &read_sum);
        scan = ScanRecords(h, first, kChunk, &checksum);
      } else {
        scan = ScanRecords(h, first, kChunk, &checksum);
        read = ReadRecords(file, first, kChunk, &read_sum);
      }
      if (checksum != ExpectedChecksum(rows, first, kChunk))
        Die("scan checksum", -1);
      ratios.push_back(read / scan);
    }
  }
  Check("kbddclose", kbddclose(h));
  qx::platform::CloseFile(file);
  std::sort(ratios.begin(), ratios.end());
  Quartiles q;
  q.pairs = ratios.size();
  q.lower = ratios[q.pairs / 4];
  q.median = ratios[q.pairs / 2];
  q.upper = ratios[q.pairs * 3 / 4];
  return q;
}

// Marks every tenth record deleted (the pack's input), unflushed.
void DeleteEveryTenth(const std::string& path, uint32_t count) {
  int16_t previous = kbdsetsync(0);
  int16_t h = OpenTable(path);
  for (uint32_t recno = kDeleteEvery; recno <= count; recno += kDeleteEvery)
    Check("kbdddelete", kbdddelete(h, recno));
  Check("kbddclose", kbddclose(h));
  kbdsetsync(previous);
}

// Packs a fresh copy of source; answers the seconds of kbddpack alone.
double PackCopy(const std::string& source, const std::string& path,
                uint32_t live) {
  fs::remove(path);
  fs::copy_file(source, path);
  int16_t h = OpenTable(path);
  auto start = Clock::now();
  Check("kbddpack", kbddpack(&h));
  double seconds = Seconds(start);
  if (RecordCount(h) != live) Die("pack count", -1);
  Check("kbddclose", kbddclose(h));
  return seconds;
}

// JSON of one figure in records per second.
std::string Figure(uint32_t records, const Runs& runs, const char* covers) {
  return qx::bench::Figure(records, runs, "records", covers);
}

}  // namespace

int main() {
  if (kbdinit(32767, 4) != kKbdOk) Die("kbdinit", -1);
  fs::path dir =
      fs::temp_directory_path() /
      ("qx_bench_dbf_" + std::to_string(qx::platform::CurrentProcessId()));
  fs::create_directories(dir);
  const std::string table = (dir / "PEOPLE.DBF").string();
  const std::string bound = (dir / "BOUND.DAT").string();
  const std::string pack_source = (dir / "PACKSRC.DBF").string();
  const std::string pack_target = (dir / "PACKED.DBF").string();
  std::vector<Row> rows = MakeRows();

  // Flushed appends against the flushed-write loop, in alternating
  // rounds so that both see the same disk weather.
  Runs flushed_append, flushed_bound;
  for (int i = 0; i < kFlushedRounds; ++i) {
    flushed_bound.Add(FlushedWriteLoop(bound, kFlushedRound));
    flushed_append.Add(AppendTable(table, rows, kFlushedRound, true));
  }

  // Unflushed appends; the last 1M table stays for the scans and the pack.
  Runs append_small, append_large;
  for (int i = 0; i < kRunsAppendSmall; ++i)
    append_small.Add(AppendTable(table, rows, kSmall, false));
  for (int i = 0; i < kRunsAppendLarge; ++i)
    append_large.Add(AppendTable(table, rows, kLarge, false));

  // Scans against the read loop over the same file, alternating. A 100k
  // table of its own for the small figure (the record count matters).
  double expected_small = ExpectedChecksum(rows, 0, kSmall);
  double expected_large = ExpectedChecksum(rows, 0, kLarge);
  Runs scan_small, read_small, scan_large, read_large;
  uint64_t read_sum = 0;
  double checksum = 0;
  const std::string small_table = (dir / "SMALL.DBF").string();
  AppendTable(small_table, rows, kSmall, false);
  for (int i = 0; i < kRunsScanSmall; ++i) {
    read_small.Add(ReadLoop(small_table, kSmall, &read_sum));
    scan_small.Add(ScanTable(small_table, kSmall, &checksum));
    if (checksum != expected_small) Die("scan checksum", -1);
  }
  fs::remove(small_table);
  for (int i = 0; i < kRunsScanLarge; ++i) {
    read_large.Add(ReadLoop(table, kLarge, &read_sum));
    scan_large.Add(ScanTable(table, kLarge, &checksum));
    if (checksum != expected_large) Die("scan checksum", -1);
  }

  const Quartiles interleaved = InterleavedScanRatio(table, kLarge, rows);

  // Pack: 1M records, every tenth deleted.
  fs::rename(table, pack_source);
  DeleteEveryTenth(pack_source, kLarge);
  uint32_t live = kLarge - kLarge / kDeleteEvery;
  Runs pack;
  for (int i = 0; i < kRunsPack; ++i)
    pack.Add(PackCopy(pack_source, pack_target, live));

  kbdterm();
  fs::remove_all(dir);

  // Records/s of the peer library's unsynced append of 100k rows, from an
  // earlier measurement; qx_bench_peer_xbase64 measures it afresh.
  constexpr double kPeerReference = 61000.0;
  double scan_ratio_small = Rate(kSmall, scan_small) / Rate(kSmall, read_small);
  double scan_ratio_large = Rate(kLarge, scan_large) / Rate(kLarge, read_large);
  double flush_ratio =
      Rate(kFlushedRound, flushed_append) / Rate(kFlushedRound, flushed_bound);
  double peer_ratio = Rate(kSmall, append_small) / kPeerReference;

  std::printf("{\n");
  std::printf("  \"benchmark\": \"dbf\",\n");
  std::printf("  \"shared\": %s,\n",
              qx::bench::BenchShareMode() != 0 ? "true" : "false");
  std::printf(
      "  \"table\": \"NAME C(20), CITY C(15), AGE N(3), SALARY N(10,2), "
      "BIRTH D; dialect dbase3; %u-byte records; rows cycle through "
      "%u distinct deterministic rows\",\n",
      kRecordSize, kPoolSize);
  std::printf(
      "  \"method\": \"std::chrono, best of N runs, each engine run "
      "alternating with its limit; ratios of best runs and, steadier on "
      "a shared machine, medians over neighbouring pairs (of runs, and "
      "for the scan of 10k-record chunks); timed loops exclude create, "
      "open and close\",\n");
  std::printf(
      "  \"append_flushed\": %s,\n",
      Figure(kFlushedRound, flushed_append,
             "kbddput x5 + kbddwrite with the default sync: one "
             "fdatasync per append (~100-170 us each), so measured over "
             "20k records in 10 rounds of 2k")
          .c_str());
  std::printf("  \"limit_flushed_write\": %s,\n",
              Figure(kFlushedRound, flushed_bound,
                     "platform WriteFileAt of one record + FlushFile, per "
                     "record, rounds alternating with append_flushed")
                  .c_str());
  std::printf("  \"append_unflushed_100k\": %s,\n",
              Figure(kSmall, append_small,
                     "kbddput x5 + kbddwrite after kbdsetsync(0); the one "
                     "flush at close not timed")
                  .c_str());
  std::printf("  \"append_unflushed_1m\": %s,\n",
              Figure(kLarge, append_large,
                     "kbddput x5 + kbddwrite after kbdsetsync(0); the one "
                     "flush at close not timed")
                  .c_str());
  std::printf("  \"scan_100k\": %s,\n",
              Figure(kSmall, scan_small,
                     "kbddread + kbddget of all 5 fields per record")
                  .c_str());
  std::printf("  \"limit_read_loop_100k\": %s,\n",
              Figure(kSmall, read_small,
                     "platform ReadFileAt of one record per record, record "
                     "order, same file")
                  .c_str());
  std::printf("  \"scan_1m\": %s,\n",
              Figure(kLarge, scan_large,
                     "kbddread + kbddget of all 5 fields per record")
                  .c_str());
  std::printf("  \"limit_read_loop_1m\": %s,\n",
              Figure(kLarge, read_large,
                     "platform ReadFileAt of one record per record, record "
                     "order, same file")
                  .c_str());
  std::printf("  \"pack_1m\": %s,\n",
              Figure(kLarge, pack,
                     "kbddpack of 1M records, every tenth deleted (900k "
                     "kept); records/s counts records read")
                  .c_str());
  std::printf("  \"ratios\": {\n");
  std::printf("    \"scan_over_read_loop_100k\": %.3f,\n", scan_ratio_small);
  std::printf("    \"scan_over_read_loop_100k_median_of_pairs\": %.3f,\n",
              MedianPairRatio(scan_small, read_small));
  std::printf("    \"scan_over_read_loop_1m\": %.3f,\n", scan_ratio_large);
  std::printf("    \"scan_over_read_loop_1m_median_of_pairs\": %.3f,\n",
              MedianPairRatio(scan_large, read_large));
  std::printf(
      "    \"scan_over_read_loop_1m_interleaved\": {\"median\": %.3f, "
      "\"lower_quartile\": %.3f, \"upper_quartile\": %.3f, \"pairs\": "
      "%zu, \"covers\": \"read loop and scan alternating over chunks of "
      "%u records, the table passed %d times; ratio per chunk pair\"},\n",
      interleaved.median, interleaved.lower, interleaved.upper,
      interleaved.pairs, kChunk, kInterleavedPasses);
  std::printf("    \"scan_target\": 0.80,\n");
  std::printf("    \"append_flushed_over_flushed_write\": %.3f,\n",
              flush_ratio);
  std::printf(
      "    \"append_flushed_over_flushed_write_median_of_pairs\": "
      "%.3f,\n",
      MedianPairRatio(flushed_append, flushed_bound));
  std::printf("    \"append_flushed_target\": 0.80,\n");
  std::printf("    \"append_unflushed_100k_over_peer_reference\": %.2f,\n",
              peer_ratio);
  std::printf("    \"peer_reference_records_per_s\": %.0f,\n", kPeerReference);
  std::printf(
      "    \"peer_reference_note\": \"an earlier figure; "
      "qx_bench_peer_xbase64 measures the peer in the same run of "
      "tools/bench.sh\",\n");
  std::printf("    \"append_unflushed_target_over_peer\": 3.0\n");
  std::printf("  }\n");
  std::printf("}\n");
  return 0;
}
