// The append speed of a peer library, Xbase64 3.1.2 as Debian packages it,
// as a reference for our own: it creates the benchmark table (NAME C(20),
// CITY C(15), AGE N(3), SALARY N(10,2), BIRTH D, dBASE III) and appends
// 100k rows with its defaults (auto-locking on; it never syncs). Prints one
// JSON object.
//
// The packaged library needs the shims of xbase64_shims.h to work at all.
// Its answers are checked afterwards from the file bytes: record count and
// sizes in the header, file size, and sample records against the rows.
#include <xbase64/xbase64.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_rows.h"
#include "bench/xbase64_shims.h"
#include "engine/core/coding.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using qx::bench::kPoolSize;
using qx::bench::Row;

constexpr uint32_t kRecords = 100'000;
constexpr int kRuns = 5;
constexpr int kFieldCount = 5;
constexpr uint32_t kHeaderSize = 32 + 32 * kFieldCount + 1;
constexpr uint32_t kRecordSize = 1 + 20 + 15 + 3 + 10 + 8;

[[noreturn]] void Die(const char* what, long code) {
  std::fprintf(stderr, "qx_bench_peer_xbase64: %s failed: %ld\n", what, code);
  std::exit(1);
}

// Creates the table and appends kRecords rows; answers the seconds of the
// append loop (open and close outside).
double AppendTable(const std::string& path, const std::vector<Row>& rows) {
  fs::remove(path);
  std::string error;
  if (!qx::bench::CreateXbaseTable(path, qx::bench::kXbaseBenchSchema,
                                   &error)) {
    std::fprintf(stderr, "qx_bench_peer_xbase64: %s\n", error.c_str());
    std::exit(1);
  }
  xbXBase base;
  xbDbf dbf(&base);
  if (xbShort rc = dbf.OpenDatabase(path.c_str())) Die("OpenDatabase", rc);
  if (dbf.GetRecordLen() != static_cast<xbShort>(kRecordSize))
    Die("record length", dbf.GetRecordLen());
  dbf.BlankRecord();
  auto start = Clock::now();
  for (uint32_t i = 0; i < kRecords; ++i) {
    const Row& r = rows[i & (kPoolSize - 1)];
    dbf.PutField(xbShort{0}, r.name);
    dbf.PutField(xbShort{1}, r.city);
    dbf.PutDoubleField(xbShort{2}, r.age);
    dbf.PutDoubleField(xbShort{3}, r.salary);
    dbf.PutField(xbShort{4}, r.birth);
    if (xbShort rc = dbf.AppendRecord()) Die("AppendRecord", rc);
  }
  double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  if (dbf.NoOfRecords() != static_cast<xbLong>(kRecords))
    Die("NoOfRecords", dbf.NoOfRecords());
  dbf.CloseDatabase();
  return seconds;
}

const uint8_t* Bytes(const char* p) {
  return reinterpret_cast<const uint8_t*>(p);
}

// Checks the file the peer wrote, from its bytes.
void Verify(const std::string& path, const std::vector<Row>& rows) {
  uint64_t expected = kHeaderSize + uint64_t{kRecordSize} * kRecords;
  uint64_t size = fs::file_size(path);
  // The end-of-file marker after the last record is optional.
  if (size != expected && size != expected + 1)
    Die("file size", static_cast<long>(size));
  std::ifstream file(path, std::ios::binary);
  char header[32];
  file.read(header, sizeof header);
  using qx::engine::GetLe16;
  using qx::engine::GetLe32;
  if (GetLe32(Bytes(header + 4)) != kRecords)
    Die("header count", GetLe32(Bytes(header + 4)));
  if (GetLe16(Bytes(header + 8)) != kHeaderSize)
    Die("header size", GetLe16(Bytes(header + 8)));
  if (GetLe16(Bytes(header + 10)) != kRecordSize)
    Die("record size", GetLe16(Bytes(header + 10)));
  for (uint32_t recno : {1u, kRecords / 2, kRecords}) {
    const Row& r = rows[(recno - 1) & (kPoolSize - 1)];
    char record[kRecordSize];
    file.seekg(kHeaderSize +
               static_cast<std::streamoff>(recno - 1) * kRecordSize);
    file.read(record, sizeof record);
    char name[20];
    std::memset(name, ' ', sizeof name);
    std::memcpy(name, r.name, std::strlen(r.name));
    if (!file || record[0] != ' ' || std::memcmp(record + 1, name, 20) != 0 ||
        std::memcmp(record + 1 + 20 + 15 + 3 + 10, r.birth, 8) != 0)
      Die("record content", recno);
  }
}

}  // namespace

int main() {
  // A name of its own per run (the clock), so that runs never collide.
  fs::path dir = fs::temp_directory_path() /
                 ("qx_bench_peer_xbase64_" +
                  std::to_string(Clock::now().time_since_epoch().count()));
  fs::create_directories(dir);
  const std::string path = (dir / "PEOPLE.DBF").string();
  std::vector<Row> rows = qx::bench::MakeRows();
  std::vector<double> runs;
  for (int i = 0; i < kRuns; ++i) {
    runs.push_back(AppendTable(path, rows));
    Verify(path, rows);
  }
  fs::remove_all(dir);
  std::sort(runs.begin(), runs.end());
  double best = runs.front(), median = runs[runs.size() / 2];
  double worst = runs.back();
  std::printf("{\n");
  std::printf("  \"benchmark\": \"peer_xbase64\",\n");
  std::printf(
      "  \"library\": \"Xbase64 3.1.2 (Debian libxbase64-dev), with "
      "the GetLong/GetULong and descriptor-length shims\",\n");
  std::printf(
      "  \"append_unsynced_100k\": {\"records\": %u, \"runs\": %d, "
      "\"best_records_per_s\": %.0f, \"median_records_per_s\": %.0f, "
      "\"worst_records_per_s\": %.0f, \"best_seconds\": %.4f, "
      "\"covers\": \"PutField x3 + "
      "PutDoubleField x2 + AppendRecord, library defaults (auto-lock "
      "on), no sync; verified: header count, sizes, sample "
      "records\"}\n",
      kRecords, kRuns, kRecords / best, kRecords / median, kRecords / worst,
      best);
  std::printf("}\n");
  return 0;
}
