// The peer library's record-order scan for the driver benchmark: Xbase64
// 3.1.2 as packaged (with its shims), every record read, every field got.
#include <xbase64/xbase64.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_stats.h"
#include "bench/xbase64_shims.h"

namespace qx::bench {

double PeerScan(const std::string& path, uint32_t count, double* checksum) {
  xbXBase base;
  xbDbf dbf(&base);
  if (xbShort rc = dbf.OpenDatabase(path.c_str())) {
    std::fprintf(stderr, "qx_bench_driver: peer OpenDatabase failed: %d\n", rc);
    std::exit(1);
  }
  char name[21], city[16], birth[9];
  double sum = 0;
  const auto start = Clock::now();
  for (uint32_t recno = 1; recno <= count; ++recno) {
    if (dbf.GetRecord(recno) != 0) {
      std::fprintf(stderr, "qx_bench_driver: peer GetRecord %u failed\n",
                   recno);
      std::exit(1);
    }
    dbf.GetField(xbShort{0}, name);
    dbf.GetField(xbShort{1}, city);
    const double age = dbf.GetDoubleField(xbShort{2});
    const double salary = dbf.GetDoubleField(xbShort{3});
    dbf.GetField(xbShort{4}, birth);
    sum += age + salary + name[0] + city[0] + birth[7];
  }
  const double seconds = Seconds(start);
  dbf.CloseDatabase();
  *checksum = sum;
  return seconds;
}

}  // namespace qx::bench
