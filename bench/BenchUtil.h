// Small timing helpers shared by the benchmarks.
#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace tovi::bench {

// Median wall time of `rounds` runs of `body`, in microseconds per run.
inline double MedianMicros(int rounds, const std::function<void()> &body) {
  std::vector<double> t;
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    body();
    t.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

inline long PeakRssKiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

} // namespace tovi::bench
