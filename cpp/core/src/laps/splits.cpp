// Distance splits from the points of an activity.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "geo.hpp"
#include "tramlix/laps.hpp"

namespace tramlix {
namespace {

// A point at its distance along the activity.
struct Sample {
  double distance;
  const TrackPoint* point;
};

bool finite(const std::optional<double>& value) {
  return value && std::isfinite(*value);
}

// Recorded distances count up and may restart at 0 (TCX laps): each run of values that never
// decreases adds its rise, as the activity's distance does.
std::vector<Sample> recorded_samples(const Activity& activity) {
  std::vector<Sample> samples;
  double before_run = 0.0;
  double run_first = 0.0;
  double previous = 0.0;
  bool in_run = false;
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (!finite(point.distance_m)) continue;
      const double value = *point.distance_m;
      if (!in_run) {
        run_first = value;
        in_run = true;
      } else if (value < previous) {
        before_run += previous - run_first;
        run_first = value;
      }
      previous = value;
      samples.push_back({before_run + (value - run_first), &point});
    }
  }
  return samples;
}

// Great-circle distance between positions within each segment; the gap between segments (a
// pause) adds nothing.
std::vector<Sample> position_samples(const Activity& activity) {
  std::vector<Sample> samples;
  double total = 0.0;
  for (const Segment& segment : activity.segments) {
    const TrackPoint* previous = nullptr;
    for (const TrackPoint& point : segment.points) {
      if (!geo::has_position(point) || !std::isfinite(*point.latitude) ||
          !std::isfinite(*point.longitude)) {
        continue;
      }
      if (previous != nullptr) total += geo::haversine_m(*previous, point);
      samples.push_back({total, &point});
      previous = &point;
    }
  }
  return samples;
}

// Seconds from `from` to `to`, with their fractions.
double seconds_between(UtcInstant from, UtcInstant to) {
  return static_cast<double>(to.seconds - from.seconds) +
         (static_cast<double>(to.nanoseconds) - static_cast<double>(from.nanoseconds)) / 1e9;
}

std::optional<UtcInstant> plus_seconds(UtcInstant instant, double seconds) {
  if (!std::isfinite(seconds) || std::fabs(seconds) > 1e15) return std::nullopt;
  const double whole = std::floor(seconds);
  std::int64_t nanos = instant.nanoseconds + std::llround((seconds - whole) * 1e9);
  std::int64_t secs = instant.seconds + static_cast<std::int64_t>(whole);
  secs += nanos / 1'000'000'000;
  nanos %= 1'000'000'000;
  return UtcInstant{secs, static_cast<std::uint32_t>(nanos)};
}

// What the track holds at a distance: the point there, or between the two points either side.
struct At {
  std::optional<UtcInstant> time;
  std::optional<double> elevation;
};

At at(const Sample& before, const Sample& after, double distance) {
  const TrackPoint& a = *before.point;
  const TrackPoint& b = *after.point;
  const double span = after.distance - before.distance;
  const double f = span > 0 ? (distance - before.distance) / span : 1.0;
  At result;
  if (a.time && b.time) {
    result.time = f >= 1.0 ? b.time : plus_seconds(*a.time, seconds_between(*a.time, *b.time) * f);
  } else if (f >= 1.0) {
    result.time = b.time;
  }
  if (finite(a.elevation_m) && finite(b.elevation_m)) {
    result.elevation = *a.elevation_m + (*b.elevation_m - *a.elevation_m) * f;
  } else if (f >= 1.0) {
    result.elevation = b.elevation_m;
  }
  return result;
}

}  // namespace

std::expected<std::vector<Split>, std::string> splits(const Activity& activity, double every_m) {
  std::vector<Split> result;
  if (!(every_m > 0) || !std::isfinite(every_m)) return result;
  bool recorded = false;
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) recorded = recorded || finite(point.distance_m);
  }
  const std::vector<Sample> samples =
      recorded ? recorded_samples(activity) : position_samples(activity);
  if (samples.empty()) return result;
  if ((samples.back().distance - samples.front().distance) / every_m >
      static_cast<double>(kMaxSplits)) {
    char length[32];
    std::snprintf(length, sizeof length, "%g", every_m);
    return std::unexpected(std::string("splits of ") + length + " m make more than " +
                           std::to_string(kMaxSplits) + " splits of this activity");
  }

  At start{samples[0].point->time,
           finite(samples[0].point->elevation_m) ? samples[0].point->elevation_m : std::nullopt};
  double start_distance = samples[0].distance;
  std::uint64_t hr_sum = 0;
  std::uint32_t hr_count = 0;
  if (samples[0].point->heart_rate_bpm) {
    hr_sum = *samples[0].point->heart_rate_bpm;
    hr_count = 1;
  }
  for (std::size_t i = 1; i < samples.size(); ++i) {
    const Sample& before = samples[i - 1];
    const Sample& after = samples[i];
    // Every split boundary this step crosses ends a split.
    while (start_distance + every_m <= after.distance) {
      const double end_distance = start_distance + every_m;
      const At end = at(before, after, end_distance);
      Split split;
      split.split = static_cast<std::uint32_t>(result.size());
      split.start_distance_m = start_distance;
      split.end_distance_m = end_distance;
      split.start_time = start.time;
      split.end_time = end.time;
      if (start.time && end.time) {
        split.elapsed_seconds = seconds_between(*start.time, *end.time);
        split.pace_seconds_per_km = *split.elapsed_seconds / (every_m / 1000.0);
      }
      // The point at the boundary itself counts into the split it ends.
      const bool boundary_point = end_distance >= after.distance;
      std::uint64_t sum = hr_sum;
      std::uint32_t count = hr_count;
      if (boundary_point && after.point->heart_rate_bpm) {
        sum += *after.point->heart_rate_bpm;
        ++count;
      }
      if (count > 0) split.average_heart_rate_bpm = static_cast<double>(sum) / count;
      if (start.elevation && end.elevation) {
        split.elevation_change_m = *end.elevation - *start.elevation;
      }
      result.push_back(split);
      start = end;
      start_distance = end_distance;
      hr_sum = 0;
      hr_count = 0;
      if (boundary_point) break;
    }
    if (start_distance < after.distance && after.point->heart_rate_bpm) {
      hr_sum += *after.point->heart_rate_bpm;
      ++hr_count;
    }
  }
  return result;
}

}  // namespace tramlix
