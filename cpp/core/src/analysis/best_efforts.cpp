// The fastest time over given distances.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

// A timed point of the track: seconds from the start of its series, metres along the track.
struct Sample {
  double seconds = 0.0;
  double metres = 0.0;
};

// The timed points with a distance along the track, split where time goes back: within a series
// both time and distance never decrease. Segments follow one another in one series, so an effort
// may span a pause, whose time it then counts.
std::vector<std::vector<Sample>> timed_series(const Activity& activity) {
  const std::vector<std::optional<double>> along = analysis::along_track(activity);
  std::vector<std::vector<Sample>> series;
  std::vector<Sample> current;
  UtcInstant origin;
  UtcInstant last;
  std::size_t index = 0;
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      const std::optional<double>& metres = along[index++];
      if (!metres || !point.time) continue;
      if (!current.empty() && analysis::seconds_between(last, *point.time) < 0.0) {
        series.push_back(std::move(current));
        current.clear();
      }
      if (current.empty()) origin = *point.time;
      current.push_back({analysis::seconds_between(origin, *point.time), *metres});
      last = *point.time;
    }
  }
  series.push_back(std::move(current));
  std::erase_if(series, [](const std::vector<Sample>& samples) { return samples.size() < 2; });
  return series;
}

// The time at which the track reaches `metres`, between samples a and b (a's distance below it,
// b's at or above it), at an even pace between them.
double time_at(const Sample& a, const Sample& b, double metres) {
  return a.seconds + (b.seconds - a.seconds) * (metres - a.metres) / (b.metres - a.metres);
}

// The fastest time over `distance` metres in one series, or infinity. The best effort starts
// or ends at a sample (between samples the time it takes changes linearly), so one pass tries
// every sample as the end and one as the start, each with a pointer that only moves forward.
double fastest(const std::vector<Sample>& samples, double distance) {
  double best = std::numeric_limits<double>::infinity();
  const double first = samples.front().metres;
  const double last = samples.back().metres;
  if (!(last - first >= distance)) return best;
  std::size_t at = 0;
  for (std::size_t end = 1; end < samples.size(); ++end) {
    const double start_metres = samples[end].metres - distance;
    if (start_metres < first) continue;
    // The last sample at or before the start; the one after it lies beyond.
    while (samples[at + 1].metres <= start_metres) ++at;
    best =
        std::min(best, samples[end].seconds - time_at(samples[at], samples[at + 1], start_metres));
  }
  at = 0;
  for (std::size_t start = 0; start < samples.size(); ++start) {
    const double end_metres = samples[start].metres + distance;
    if (end_metres > last) break;
    // The first sample at or beyond the end; the one before it lies short of it.
    at = std::max(at, start + 1);
    while (samples[at].metres < end_metres) ++at;
    best =
        std::min(best, time_at(samples[at - 1], samples[at], end_metres) - samples[start].seconds);
  }
  return best;
}

}  // namespace

std::vector<std::optional<double>> best_efforts(const Activity& activity,
                                                std::span<const double> distances_m) {
  const std::vector<std::vector<Sample>> series = timed_series(activity);
  std::vector<std::optional<double>> best(distances_m.size());
  for (std::size_t i = 0; i < distances_m.size(); ++i) {
    const double distance = distances_m[i];
    if (!(distance > 0.0) || !std::isfinite(distance)) continue;
    double seconds = std::numeric_limits<double>::infinity();
    for (const std::vector<Sample>& samples : series) {
      seconds = std::min(seconds, fastest(samples, distance));
    }
    if (std::isfinite(seconds)) best[i] = seconds;
  }
  return best;
}

}  // namespace tramlix
