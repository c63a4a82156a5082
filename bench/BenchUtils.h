#ifndef QUORVANE_BENCH_BENCHUTILS_H
#define QUORVANE_BENCH_BENCHUTILS_H

// Timing helpers shared by the benchmark programs.

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace quorvane {
namespace bench {

inline double median(std::vector<double> values)
{
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/// The wall time of the work in milliseconds.
inline double elapsedMs(const std::function<void()>& work)
{
  auto start = std::chrono::steady_clock::now();
  work();
  auto end = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(end - start).count();
}

} // namespace bench
} // namespace quorvane

#endif
