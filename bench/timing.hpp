// What the C++ benchmarks share: reading a whole file and timing a piece of work.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

namespace bench {

template <class Bytes>
Bytes read_file(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Median wall time of `work`, repeated for at least half a second and at least 7 times.
inline double median_seconds(const std::function<void()>& work) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> times;
  const auto begin = Clock::now();
  while (times.size() < 7 ||
         (Clock::now() - begin < std::chrono::milliseconds(500) && times.size() < 1000)) {
    const auto start = Clock::now();
    work();
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace bench
