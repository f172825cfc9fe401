// What the benchmarks report of a run: the spread of the timings, and the
// CPU time the process has used.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <vector>

struct BenchStats {
  double median, p90, p99, max;
};

// The figures of a set of samples (not empty).
inline BenchStats Summarise(std::vector<double> ASamples) {
  std::sort(ASamples.begin(), ASamples.end());
  auto at = [&](double p) {
    return ASamples[std::min(ASamples.size() - 1, static_cast<size_t>(p * ASamples.size()))];
  };
  return {at(0.5), at(0.9), at(0.99), ASamples.back()};
}

// User and system CPU time of the whole process so far, in milliseconds.
inline double ProcessCpuMs() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1e3 + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e3;
}
