// The analyses in C++ alone, without the Python binding: stats() and mean_max() of power over 1,
// 5, 20 and 60 minutes on the first activity of each file, and on its first `--points` points
// (a small activity whose points stay in cache). Prints one JSON object per measurement.
//
//   tramlix-analysis-bench FILE... [--points N]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "timing.hpp"
#include "tramlix/analysis.hpp"
#include "tramlix/io.hpp"

namespace {

// The activity cut to its first `limit` points.
tramlix::Activity first_points(const tramlix::Activity& activity, std::size_t limit) {
  tramlix::Activity cut = activity;
  cut.segments.clear();
  for (const tramlix::Segment& segment : activity.segments) {
    if (limit == 0) break;
    tramlix::Segment part;
    const std::size_t take = std::min(limit, segment.points.size());
    part.points.assign(segment.points.begin(), segment.points.begin() + take);
    limit -= take;
    cut.segments.push_back(std::move(part));
  }
  return cut;
}

void run(const char* file, const tramlix::Activity& activity) {
  const std::int64_t durations[] = {60, 300, 1200, 3600};
  volatile double sink = 0;
  const double stats_s = bench::median_seconds([&] {
    sink = sink + *tramlix::stats(activity, tramlix::kDefaultGapLimitSeconds).power.average;
  });
  const double mean_max_s = bench::median_seconds([&] {
    const auto best = tramlix::mean_max(activity, tramlix::Channel::Power, durations,
                                        tramlix::kDefaultGapLimitSeconds);
    sink = sink + best[0].value_or(0.0);
  });
  std::printf(
      "{\"file\": \"%s\", \"points\": %zu, \"stats_ms\": %.4f, \"mean_max_ms\": %.4f, "
      "\"stats_ns_per_point\": %.2f, \"mean_max_ns_per_point\": %.2f}\n",
      file, activity.point_count(), stats_s * 1e3, mean_max_s * 1e3,
      stats_s * 1e9 / activity.point_count(), mean_max_s * 1e9 / activity.point_count());
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t small = 1800;
  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--points") == 0 && i + 1 < argc) {
      small = std::strtoul(argv[++i], nullptr, 10);
    } else {
      files.push_back(argv[i]);
    }
  }
  for (const char* file : files) {
    auto loaded = tramlix::load(file);
    if (!loaded || loaded->activities.empty()) {
      std::fprintf(stderr, "%s: cannot load\n", file);
      return 1;
    }
    const tramlix::Activity& activity = loaded->activities.front();
    run(file, activity);
    run(file, first_points(activity, small));
  }
  return 0;
}
