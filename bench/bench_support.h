// What the benchmarks share: ending on a set-up failure, and quantiles of
// samples.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// Says what failed on standard error and ends the benchmark with status 1.
[[noreturn]] inline void Die(const std::string& what) {
  std::fprintf(stderr, "%s\n", what.c_str());
  std::exit(1);
}

// The sample at quantile q (0.5: the median) of the sorted samples; 0 for none.
inline double Quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[std::min(samples.size() - 1, static_cast<size_t>(q * static_cast<double>(samples.size())))];
}
