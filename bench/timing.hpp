// What the C++ benchmarks share: reading a whole file and timing a piece of work.
#pragma once

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
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

// `work` done 2n times on one thread and n times on each of two at once: the throughput of two
// over that of one (medians of a few rounds), and, to tell a shared lock from a busy machine, the
// processor time each call takes and the threads' voluntary context switches in both cases. A
// lock that makes threads wait shows as switches; a shared cache line or allocator as time.
struct ThreadScaling {
  double ratio = 0;
  double cpu_one = 0;  // seconds per call
  double cpu_two = 0;
  long switches_one = 0;  // per round
  long switches_two = 0;
};

inline ThreadScaling two_thread_scaling(const std::function<void()>& work, int n) {
  struct Usage {
    double cpu = 0;
    long switches = 0;
  };
  const auto run = [&](int calls, Usage& usage) {
    timespec start{}, end{};
    rusage before{}, after{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    ::getrusage(RUSAGE_THREAD, &before);
    for (int i = 0; i < calls; ++i) work();
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    ::getrusage(RUSAGE_THREAD, &after);
    usage.cpu +=
        static_cast<double>(end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) * 1e-9;
    usage.switches += after.ru_nvcsw - before.ru_nvcsw;
  };
  constexpr int kRounds = 7;
  Usage one, two[2];
  std::vector<double> one_times, two_times;
  for (int round = 0; round < kRounds; ++round) {
    const auto begin = std::chrono::steady_clock::now();
    run(2 * n, one);
    const auto middle = std::chrono::steady_clock::now();
    std::thread other([&] { run(n, two[1]); });
    run(n, two[0]);
    other.join();
    const auto end = std::chrono::steady_clock::now();
    one_times.push_back(std::chrono::duration<double>(middle - begin).count());
    two_times.push_back(std::chrono::duration<double>(end - middle).count());
  }
  std::sort(one_times.begin(), one_times.end());
  std::sort(two_times.begin(), two_times.end());
  const double calls = 2.0 * n * kRounds;
  return {one_times[kRounds / 2] / two_times[kRounds / 2], one.cpu / calls,
          (two[0].cpu + two[1].cpu) / calls, one.switches / kRounds,
          (two[0].switches + two[1].switches) / kRounds};
}

inline void report_scaling(const char* file, const ThreadScaling& s) {
  std::printf(
      "{\"file\": \"%s\", \"what\": \"two_threads\", \"ratio\": %.3f, \"cpu_ms_one\": %.4f, "
      "\"cpu_ms_two\": %.4f, \"switches_one\": %ld, \"switches_two\": %ld}\n",
      file, s.ratio, s.cpu_one * 1e3, s.cpu_two * 1e3, s.switches_one, s.switches_two);
}

}  // namespace bench
