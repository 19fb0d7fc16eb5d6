// The best average of a channel over given durations, on the track resampled at 1 Hz.
//
// The resampled track is never laid out second by second: a point's value holds from its first
// whole second to the next point's, so each run of seconds is a list of blocks of one value.
// The sum over a window of seconds is then piecewise linear in where the window starts, with its
// corners where either end of the window meets a block boundary; the best window starts or ends
// at one. Two passes over the blocks, each with a second pointer that only moves forward, find
// it in time linear in the number of points, and in memory that does not grow with long gaps.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// However large the gap limit, a run ends after this long (126 years), so that its offsets in
// nanoseconds stay within 64 bits.
constexpr std::int64_t kLongestRunSeconds = 4'000'000'000;

// The runs of one channel resampled at 1 Hz, each as blocks of seconds of one value, all runs'
// blocks one after the other in the same arrays. Block j of a run holds seconds
// [start[j], start[j + 1]) at value[j]; `before[j]` is the sum of the seconds before block j; the
// entries past a run's last block close it (its length, its whole sum).
struct Blocks {
  std::vector<std::int64_t> start;
  std::vector<double> value;
  std::vector<double> before;
};

// One run: its blocks and the closing entry after them.
struct Run {
  const std::int64_t* start;
  const double* value;
  const double* before;
  std::size_t blocks;

  std::int64_t seconds() const { return start[blocks]; }

  // The sum of the seconds before `second`, which lies in block `at` (or is the run's end, with
  // `at` the number of blocks).
  double sum_before(std::size_t at, std::int64_t second) const {
    return before[at] + static_cast<double>(second - start[at]) * value[at];
  }

  // The largest sum over `window` consecutive seconds; absent when the run is shorter.
  std::optional<double> best_sum(std::int64_t window) const {
    if (window > seconds()) return std::nullopt;
    const std::size_t count = blocks;
    const std::int64_t last_start = seconds() - window;
    // Every block one second long, as a 1 Hz recording gives: the window from second j sums to
    // before[j + window] - before[j].
    if (static_cast<std::int64_t>(count) == seconds()) {
      return best_difference(before, static_cast<std::size_t>(window),
                             static_cast<std::size_t>(last_start) + 1);
    }
    double best = -std::numeric_limits<double>::infinity();
    // Windows starting where a block starts.
    std::size_t at = 0;
    for (std::size_t j = 0; j < count && start[j] <= last_start; ++j) {
      const std::int64_t end = start[j] + window;
      while (at < count && start[at + 1] <= end) ++at;
      const double sum = sum_before(at, end) - before[j];
      if (sum > best) best = sum;
    }
    // Windows ending where a block ends.
    at = 0;
    for (std::size_t j = 1; j <= count; ++j) {
      const std::int64_t begin = start[j] - window;
      if (begin < 0) continue;
      while (start[at + 1] <= begin) ++at;
      const double sum = before[j] - sum_before(at, begin);
      if (sum > best) best = sum;
    }
    return best;
  }

  // The largest of sums[j + offset] - sums[j] for j below `count`. A NaN difference is passed
  // over, as `if (difference > best)` passes over it; differences of these sums are never -0, so
  // which of two equal ones is kept makes no difference.
  static double best_difference(const double* sums, std::size_t offset, std::size_t count) {
    double best = -std::numeric_limits<double>::infinity();
    std::size_t j = 0;
#if defined(__SSE2__)
    // Two pairs of differences at a time, each pair into its own maximum.
    __m128d best_a = _mm_set1_pd(best);
    __m128d best_b = best_a;
    for (; j + 4 <= count; j += 4) {
      const __m128d a = _mm_sub_pd(_mm_loadu_pd(sums + j + offset), _mm_loadu_pd(sums + j));
      const __m128d b = _mm_sub_pd(_mm_loadu_pd(sums + j + 2 + offset), _mm_loadu_pd(sums + j + 2));
      best_a = _mm_max_pd(a, best_a);  // a > best ? a : best
      best_b = _mm_max_pd(b, best_b);
    }
    double lanes[4];
    _mm_storeu_pd(lanes, best_a);
    _mm_storeu_pd(lanes + 2, best_b);
    for (double lane : lanes) {
      if (lane > best) best = lane;
    }
#endif
    for (; j < count; ++j) {
      const double difference = sums[j + offset] - sums[j];
      if (difference > best) best = difference;
    }
    return best;
  }
};

// Cuts one segment's values into runs. Second k of a run takes the value of the last point at or
// before the run's start plus k seconds; the last point holds only for its own second, when it
// falls on a whole second of the run. A point whose value does not last to a whole second (the
// next one follows within the same second) is replaced by the next. Each run is the range of
// entries from its first to its closing one, [first, last].
class Resampler {
 public:
  Resampler(double gap_limit_seconds, Blocks& blocks,
            std::vector<std::pair<std::size_t, std::size_t>>& runs)
      : gap_limit_nanoseconds_(gap_limit_seconds * 1e9), blocks_(blocks), runs_(runs) {}

  void add(UtcInstant time, double value) {
    std::int64_t offset = 0;
    if (open_ && !(offset_of(time, offset) && fits(offset - last_offset_))) close();
    if (!open_) {
      open_ = true;
      run_start_ = time;
      first_ = blocks_.value.size();
      last_offset_ = 0;
      last_second_ = 0;
      value_ = value;
      return;
    }
    // The first whole second of the run at or after the point.
    const std::int64_t second = (offset + kNanosecondsPerSecond - 1) / kNanosecondsPerSecond;
    if (second > last_second_) append(last_second_, value_);
    last_offset_ = offset;
    last_second_ = second;
    value_ = value;
  }

  void close() {
    if (!open_) return;
    open_ = false;
    std::int64_t end = last_second_;
    if (last_offset_ % kNanosecondsPerSecond == 0) {
      append(last_second_, value_);
      end = last_second_ + 1;
    }
    if (blocks_.value.size() == first_) return;
    sum_ += static_cast<double>(end - blocks_.start.back()) * blocks_.value.back();
    blocks_.start.push_back(end);
    blocks_.value.push_back(0.0);
    blocks_.before.push_back(sum_);
    runs_.emplace_back(first_, blocks_.value.size() - 1);
    sum_ = 0.0;
  }

 private:
  // Nanoseconds from the run's start; false when the time lies before it or too far after it.
  bool offset_of(UtcInstant time, std::int64_t& offset) const {
    std::int64_t seconds = 0;
    if (__builtin_sub_overflow(time.seconds, run_start_.seconds, &seconds) || seconds < 0 ||
        seconds > kLongestRunSeconds) {
      return false;
    }
    offset = seconds * kNanosecondsPerSecond +
             (std::int64_t{time.nanoseconds} - std::int64_t{run_start_.nanoseconds});
    return true;
  }

  // A step from one value to the next that keeps the run going: forward, and within the limit.
  bool fits(std::int64_t step) const {
    return step >= 0 && static_cast<double>(step) <= gap_limit_nanoseconds_;
  }

  // The previous value, from `from` up to the second now reached.
  void append(std::int64_t from, double value) {
    if (blocks_.value.size() != first_) {
      sum_ += static_cast<double>(from - blocks_.start.back()) * blocks_.value.back();
    }
    blocks_.start.push_back(from);
    blocks_.value.push_back(value);
    blocks_.before.push_back(sum_);
  }

  double gap_limit_nanoseconds_;
  Blocks& blocks_;
  std::vector<std::pair<std::size_t, std::size_t>>& runs_;
  bool open_ = false;
  UtcInstant run_start_;
  std::size_t first_ = 0;
  std::int64_t last_offset_ = 0;
  std::int64_t last_second_ = 0;
  double value_ = 0.0;
  double sum_ = 0.0;
};

}  // namespace

std::vector<std::optional<double>> mean_max(const Activity& activity, Channel channel,
                                            std::span<const std::int64_t> durations,
                                            double gap_limit_seconds) {
  Blocks blocks;
  std::vector<std::pair<std::size_t, std::size_t>> ranges;
  analysis::with_channel(channel, [&]<Channel C>() {
    for (const Segment& segment : activity.segments) {
      Resampler resampler(gap_limit_seconds, blocks, ranges);
      for (const TrackPoint& point : segment.points) {
        if (!point.time) continue;
        if (const std::optional<double> value = analysis::value_of<C>(point)) {
          resampler.add(*point.time, *value);
        }
      }
      resampler.close();
    }
  });
  std::vector<Run> runs;
  runs.reserve(ranges.size());
  for (const auto& [first, last] : ranges) {
    runs.push_back(Run{blocks.start.data() + first, blocks.value.data() + first,
                       blocks.before.data() + first, last - first});
  }
  std::vector<std::optional<double>> best(durations.size());
  for (std::size_t i = 0; i < durations.size(); ++i) {
    const std::int64_t window = durations[i];
    if (window <= 0) continue;
    for (const Run& run : runs) {
      const std::optional<double> sum = run.best_sum(window);
      if (sum && (!best[i] || *sum > *best[i])) best[i] = sum;
    }
    if (best[i]) *best[i] /= static_cast<double>(window);
  }
  return best;
}

}  // namespace tramlix
