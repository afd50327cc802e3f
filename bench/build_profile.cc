// A small driver for profiling the index builds (run it under callgrind
// or perf): "make DIR RECORDS" writes the benchmark table of that many
// records into DIR; "ntx|cdx DIR name|salary|birth" builds that key's
// index over it once, as qx_bench_ntx and qx_bench_cdx build theirs.
// Keeping the table out of the build run keeps the profile to the build.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/bench_rows.h"
#include "qx/engine.h"

namespace {

namespace fs = std::filesystem;
constexpr const char* kProgram = "qx_build_profile";

void Check(const char* what, int16_t status) {
  if (status < 0) qx::bench::Die(kProgram, what, status);
}

int MakeTable(const std::string& dir, uint32_t records) {
  fs::create_directories(dir);
  const std::string path = dir + "/TABLE.DBF";
  fs::remove(path);
  const std::vector<qx::bench::Row> rows = qx::bench::MakeRows();
  kbdsetsync(0);
  int16_t dbf = qx::bench::CreateAndOpenBenchTable(path.c_str(), kProgram);
  for (uint32_t recno = 1; recno <= records; ++recno)
    qx::bench::AppendBenchRow(
        dbf, rows[(recno - 1) & (qx::bench::kPoolSize - 1)], kProgram);
  Check("kbddclose", kbddclose(dbf));
  return 0;
}

int Build(const std::string& family, const std::string& dir,
          const std::string& key) {
  const char* expression = key == "name"     ? "NAME"
                           : key == "salary" ? "SALARY"
                                             : "BIRTH";
  const char type = key == "name" ? 'C' : key == "salary" ? 'N' : 'D';
  int16_t dbf = kKbdNoHandle;
  Check("kbddopenx", kbddopenx(&dbf, (dir + "/TABLE.DBF").c_str(), kKbdDbase3));
  if (family == "ntx") {
    const uint16_t length = key == "name" ? 20 : key == "salary" ? 10 : 8;
    const std::string path = dir + "/KEY.NTX";
    fs::remove(path);
    Check("kbdxbuild", kbdxbuild(dbf, path.c_str(), static_cast<uint16_t>(type),
                                 expression, length, key == "salary" ? 2 : 0));
  } else {
    const uint16_t length = key == "name" ? 20 : 8;
    const std::string path = dir + "/KEY.CDX";
    fs::remove(path);
    Check("kbdccreate", kbdccreate(path.c_str()));
    int16_t file = kKbdNoHandle;
    Check("kbdcopenx", kbdcopenx(&file, path.c_str(), kKbdFoxpro2));
    Check("kbdctagbuild",
          kbdctagbuild(dbf, file, "KEY", static_cast<uint16_t>(type),
                       expression, length));
    Check("kbdcclose", kbdcclose(file));
  }
  Check("kbddclose", kbddclose(dbf));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (kbdinit(32767, 4) != kKbdOk) qx::bench::Die(kProgram, "kbdinit", -1);
  if (argc == 4 && std::strcmp(argv[1], "make") == 0)
    return MakeTable(argv[2], static_cast<uint32_t>(std::atol(argv[3])));
  if (argc == 4 &&
      (std::strcmp(argv[1], "ntx") == 0 || std::strcmp(argv[1], "cdx") == 0)) {
    return Build(argv[1], argv[2], argv[3]);
  }
  std::fprintf(stderr,
               "usage: %s make DIR RECORDS | ntx|cdx DIR name|salary|birth\n",
               kProgram);
  return 2;
}
