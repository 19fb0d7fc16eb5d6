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

#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
// However large the gap limit, a run ends after this long (126 years), so that its offsets in
// nanoseconds stay within 64 bits.
constexpr std::int64_t kLongestRunSeconds = 4'000'000'000;

// The runs of one channel resampled at 1 Hz, each as blocks of seconds of one value: block j
// holds seconds [start[j], start[j + 1]) at value[j]. `before[j]` is the sum of the seconds
// before block j; the entries past the last block close the run (its length, its whole sum).
struct Run {
  std::vector<std::int64_t> start;
  std::vector<double> value;
  std::vector<double> before;

  std::size_t blocks() const { return value.size() - 1; }
  std::int64_t seconds() const { return start.back(); }

  // The sum of the seconds before `second`, which lies in block `at` (or is the run's end, with
  // `at` the number of blocks).
  double sum_before(std::size_t at, std::int64_t second) const {
    return before[at] + static_cast<double>(second - start[at]) * value[at];
  }

  // The largest sum over `window` consecutive seconds; absent when the run is shorter.
  [[gnu::noinline]] std::optional<double> best_sum(std::int64_t window) const {
    if (window > seconds()) return std::nullopt;
    const std::size_t count = blocks();
    const std::int64_t last_start = seconds() - window;
    double best = -std::numeric_limits<double>::infinity();
    // Windows starting where a block starts.
    std::size_t at = 0;
    for (std::size_t j = 0; j < count && start[j] <= last_start; ++j) {
      const std::int64_t end = start[j] + window;
      while (at < count && start[at + 1] <= end) ++at;
      const double sum = sum_before(at, end) - before[j];
      if (sum > best) best = sum;
    }
    // Windows ending where a block ends; when every block is one second long, the starts above
    // were every second already.
    if (static_cast<std::int64_t>(count) == seconds()) return best;
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
};

// Cuts one segment's values into runs. Second k of a run takes the value of the last point at or
// before the run's start plus k seconds; the last point holds only for its own second, when it
// falls on a whole second of the run. A point whose value does not last to a whole second (the
// next one follows within the same second) is replaced by the next.
class Resampler {
 public:
  Resampler(double gap_limit_seconds, std::vector<Run>& runs)
      : gap_limit_nanoseconds_(gap_limit_seconds * 1e9), runs_(runs) {}

  void add(UtcInstant time, double value) {
    std::int64_t offset = 0;
    if (open_ && !(offset_of(time, offset) && fits(offset - last_offset_))) close();
    if (!open_) {
      open_ = true;
      run_start_ = time;
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
    if (run_.value.empty()) return;
    sum_ += static_cast<double>(end - run_.start.back()) * run_.value.back();
    run_.start.push_back(end);
    run_.value.push_back(0.0);
    run_.before.push_back(sum_);
    runs_.push_back(std::move(run_));
    run_ = Run{};
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
    if (!run_.start.empty())
      sum_ += static_cast<double>(from - run_.start.back()) * run_.value.back();
    run_.start.push_back(from);
    run_.value.push_back(value);
    run_.before.push_back(sum_);
  }

  double gap_limit_nanoseconds_;
  std::vector<Run>& runs_;
  bool open_ = false;
  UtcInstant run_start_;
  std::int64_t last_offset_ = 0;
  std::int64_t last_second_ = 0;
  double value_ = 0.0;
  Run run_;
  double sum_ = 0.0;
};

}  // namespace

std::vector<std::optional<double>> mean_max(const Activity& activity, Channel channel,
                                            std::span<const std::int64_t> durations,
                                            double gap_limit_seconds) {
  std::vector<Run> runs;
  analysis::with_channel(channel, [&]<Channel C>() {
    for (const Segment& segment : activity.segments) {
      Resampler resampler(gap_limit_seconds, runs);
      for (const TrackPoint& point : segment.points) {
        if (!point.time) continue;
        if (const std::optional<double> value = analysis::value_of<C>(point)) {
          resampler.add(*point.time, *value);
        }
      }
      resampler.close();
    }
  });
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
