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

constexpr __int128 kNanosecondsPerSecond = 1'000'000'000;
// However large the gap limit, a step longer than this ends a run, so that the seconds of a run
// stay countable in 64 bits.
constexpr double kLongestStepSeconds = 1e9;

// Seconds [start, start + length) of a run, all at `value`.
struct Block {
  std::int64_t start = 0;
  std::int64_t length = 0;
  double value = 0.0;
};

std::int64_t ceil_seconds(__int128 nanoseconds) {
  const __int128 whole = nanoseconds / kNanosecondsPerSecond;
  return static_cast<std::int64_t>(nanoseconds % kNanosecondsPerSecond > 0 ? whole + 1 : whole);
}

// The runs of one channel, each a list of blocks that starts at second 0 and leaves no second
// out. A point whose value does not last to a whole second (the next one follows within the
// same second) is replaced by the next.
class Resampler {
 public:
  explicit Resampler(double gap_limit_seconds) : gap_limit_seconds_(gap_limit_seconds) {}

  void add(UtcInstant time, double value) {
    if (open_) {
      const double step = analysis::seconds_between(last_time_, time);
      if (!(step >= 0.0 && step <= gap_limit_seconds_ && step <= kLongestStepSeconds)) close();
    }
    if (!open_) {
      open_ = true;
      run_start_ = time;
      last_offset_ = 0;
      last_second_ = 0;
    } else {
      const __int128 offset = nanoseconds_between(run_start_, time);
      const std::int64_t second = ceil_seconds(offset);
      if (second > last_second_) blocks_.push_back({last_second_, second - last_second_, value_});
      last_offset_ = offset;
      last_second_ = second;
    }
    last_time_ = time;
    value_ = value;
  }

  // The last point holds for the whole seconds from its own up to its time: one second when it
  // falls on a whole second of the run, none otherwise.
  void close() {
    if (!open_) return;
    open_ = false;
    const auto last_whole = static_cast<std::int64_t>(last_offset_ / kNanosecondsPerSecond);
    if (last_whole >= last_second_) {
      blocks_.push_back({last_second_, last_whole - last_second_ + 1, value_});
    }
    if (!blocks_.empty()) runs_.push_back(std::move(blocks_));
    blocks_.clear();
  }

  std::vector<std::vector<Block>> take() {
    close();
    return std::move(runs_);
  }

 private:
  double gap_limit_seconds_;
  bool open_ = false;
  UtcInstant run_start_;
  UtcInstant last_time_;
  __int128 last_offset_ = 0;
  std::int64_t last_second_ = 0;
  double value_ = 0.0;
  std::vector<Block> blocks_;
  std::vector<std::vector<Block>> runs_;
};

// One run with the sum of the values before each block.
class Run {
 public:
  explicit Run(std::vector<Block> blocks) : blocks_(std::move(blocks)) {
    before_.reserve(blocks_.size() + 1);
    double sum = 0.0;
    for (const Block& block : blocks_) {
      before_.push_back(sum);
      sum += static_cast<double>(block.length) * block.value;
    }
    before_.push_back(sum);
    seconds_ = blocks_.back().start + blocks_.back().length;
  }

  // The largest sum over `window` consecutive seconds; absent when the run is shorter.
  std::optional<double> best_sum(std::int64_t window) const {
    if (window > seconds_) return std::nullopt;
    const std::size_t count = blocks_.size();
    double best = -std::numeric_limits<double>::infinity();
    // Windows starting where a block starts.
    std::size_t at = 0;
    for (std::size_t j = 0; j < count && blocks_[j].start <= seconds_ - window; ++j) {
      const std::int64_t end = blocks_[j].start + window;
      while (at < count && end_of(at) <= end) ++at;
      best = std::max(best, sum_before(at, end) - before_[j]);
    }
    // Windows ending where a block ends.
    at = 0;
    for (std::size_t j = 0; j < count; ++j) {
      const std::int64_t start = end_of(j) - window;
      if (start < 0) continue;
      while (end_of(at) <= start) ++at;
      best = std::max(best, before_[j + 1] - sum_before(at, start));
    }
    return best;
  }

 private:
  std::int64_t end_of(std::size_t block) const {
    return blocks_[block].start + blocks_[block].length;
  }

  // The sum of the seconds before `second`, which lies in block `at` (or is the run's end).
  double sum_before(std::size_t at, std::int64_t second) const {
    if (at == blocks_.size()) return before_[at];
    const Block& block = blocks_[at];
    return before_[at] + static_cast<double>(second - block.start) * block.value;
  }

  std::vector<Block> blocks_;
  std::vector<double> before_;
  std::int64_t seconds_ = 0;
};

}  // namespace

std::vector<std::optional<double>> mean_max(const Activity& activity, Channel channel,
                                            std::span<const std::int64_t> durations,
                                            double gap_limit_seconds) {
  std::vector<Run> runs;
  for (const Segment& segment : activity.segments) {
    Resampler resampler(gap_limit_seconds);
    for (const TrackPoint& point : segment.points) {
      if (!point.time) continue;
      if (const std::optional<double> value = channel_value(point, channel)) {
        resampler.add(*point.time, *value);
      }
    }
    for (std::vector<Block>& blocks : resampler.take()) runs.emplace_back(std::move(blocks));
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
