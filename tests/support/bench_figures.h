#pragma once
// The benchmarks' clock and figures.

#include <time.h>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace testing_support {

inline long long monotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// The value below which `share` (0 to 1) of the values lie; values not empty.
inline double percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  return values[static_cast<size_t>(share * static_cast<double>(values.size() - 1))];
}

}  // namespace testing_support
