// The bookkeeping every benchmark program shares: the times of one
// figure's repeated runs, their best, median and worst, the median ratio
// over alternating runs, and the JSON text of one figure.
//
// The machine a benchmark runs on is shared, so a figure is taken several
// times and its best run counts; median and worst are printed beside it as
// the spread.
#ifndef QX_BENCH_BENCH_STATS_H_
#define QX_BENCH_BENCH_STATS_H_

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qx::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The runs of a figure: default_runs, or QX_BENCH_RUNS when it is set to
// a positive number (the side-by-side comparison with Harbour runs each
// program once per round, alternating with the peer).
inline int BenchRuns(int default_runs) {
  const char* value = std::getenv("QX_BENCH_RUNS");
  const int runs = value != nullptr ? std::atoi(value) : 0;
  return runs > 0 ? runs : default_runs;
}

// The times of one figure's runs, in seconds. REQUIRES at least one run
// before Best, Worst or Median.
struct Runs {
  std::vector<double> seconds;
  void Add(double s) { seconds.push_back(s); }
  double Best() const {
    return *std::min_element(seconds.begin(), seconds.end());
  }
  double Worst() const {
    return *std::max_element(seconds.begin(), seconds.end());
  }
  double Median() const {
    std::vector<double> sorted = seconds;
    std::sort(sorted.begin(), sorted.end());
    return sorted[sorted.size() / 2];
  }
};

// Items per second of the best run.
inline double Rate(uint64_t items, const Runs& runs) {
  return static_cast<double>(items) / runs.Best();
}

// The median over alternating runs of limit_seconds[i] / seconds[i]: each
// engine run against the limit run next to it, which saw the same machine.
// REQUIRES as many limit runs as engine runs.
inline double MedianPairRatio(const Runs& engine, const Runs& limit) {
  std::vector<double> ratios;
  for (size_t i = 0; i < engine.seconds.size(); ++i)
    ratios.push_back(limit.seconds[i] / engine.seconds[i]);
  std::sort(ratios.begin(), ratios.end());
  return ratios[ratios.size() / 2];
}

// JSON of one figure: units ("records", "keys", "seeks") per second of the
// best, median and worst runs of `items` each.
inline std::string Figure(uint64_t items, const Runs& runs, const char* unit,
                          const char* covers) {
  char text[1024];
  std::snprintf(text, sizeof text,
                "{\"%s\": %llu, \"runs\": %zu, \"best_%s_per_s\": "
                "%.0f, \"median_%s_per_s\": %.0f, "
                "\"worst_%s_per_s\": %.0f, \"best_seconds\": %.4f, "
                "\"covers\": \"%s\"}",
                unit, static_cast<unsigned long long>(items),
                runs.seconds.size(), unit,
                static_cast<double>(items) / runs.Best(), unit,
                static_cast<double>(items) / runs.Median(), unit,
                static_cast<double>(items) / runs.Worst(), runs.Best(), covers);
  return text;
}

}  // namespace qx::bench

#endif  // QX_BENCH_BENCH_STATS_H_
