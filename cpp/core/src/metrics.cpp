// Figures derived from an activity. A total recorded in the summary always wins; only a missing
// total is computed from the points.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "geo.hpp"
#include "tramlix/model.hpp"

namespace tramlix {
namespace {

std::optional<UtcInstant> first_point_time(const Activity& activity) {
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (point.time) return point.time;
    }
  }
  return std::nullopt;
}

std::optional<UtcInstant> last_point_time(const Activity& activity) {
  for (auto segment = activity.segments.rbegin(); segment != activity.segments.rend(); ++segment) {
    for (auto point = segment->points.rbegin(); point != segment->points.rend(); ++point) {
      if (point->time) return point->time;
    }
  }
  return std::nullopt;
}

// Recorded distances count up from wherever the recording started and may restart at 0 (TCX
// laps do). Each run of values that never decreases adds its rise; what came before the first
// value is not counted, just as no distance is counted before the first position. NaN values
// take no part; if every recorded value is NaN, the distance is NaN.
std::optional<double> recorded_distance(const Activity& activity) {
  bool any = false;
  double total = 0.0;
  double run_first = 0.0;
  double previous = 0.0;
  bool in_run = false;
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (!point.distance_m) continue;
      any = true;
      const double value = *point.distance_m;
      if (std::isnan(value)) continue;
      if (!in_run) {
        run_first = value;
        in_run = true;
      } else if (value < previous) {
        total += previous - run_first;
        run_first = value;
      }
      previous = value;
    }
  }
  if (!any) return std::nullopt;
  if (!in_run) return std::numeric_limits<double>::quiet_NaN();
  return total + (previous - run_first);
}

// 2^63: the first double that no longer fits in int64.
constexpr double kInt64Limit = 9223372036854775808.0;

}  // namespace

std::optional<UtcInstant> Activity::effective_start_time() const {
  if (start_time) return start_time;
  return first_point_time(*this);
}

std::optional<UtcInstant> Activity::end_time() const {
  const std::optional<UtcInstant> start = effective_start_time();
  const std::optional<double> elapsed = summary.total_elapsed_seconds;
  if (start && elapsed && std::isfinite(*elapsed) && *elapsed >= 0.0) {
    const double milliseconds = std::round(*elapsed * 1000.0);
    // Totals far beyond any real activity land outside the instant's range: no end time.
    if (!(milliseconds < kInt64Limit)) return std::nullopt;
    return add_milliseconds(*start, static_cast<std::int64_t>(milliseconds));
  }
  return last_point_time(*this);
}

std::optional<double> Activity::duration_seconds() const {
  if (summary.total_elapsed_seconds) return summary.total_elapsed_seconds;
  const std::optional<UtcInstant> end = last_point_time(*this);
  if (!end) return std::nullopt;
  const std::optional<UtcInstant> start = effective_start_time();
  if (!start) return std::nullopt;
  return static_cast<double>(milliseconds_between(*start, *end)) / 1000.0;
}

double Activity::distance_meters() const {
  if (summary.total_distance_meters) return *summary.total_distance_meters;

  if (const std::optional<double> recorded = recorded_distance(*this)) return *recorded;

  // -0.0 tells "nothing to measure" apart from a measured 0.0.
  double total = -0.0;
  for (const Segment& segment : segments) {
    double segment_sum = -0.0;
    const std::vector<TrackPoint>& points = segment.points;
    for (std::size_t i = 1; i < points.size(); ++i) {
      if (geo::has_position(points[i - 1]) && geo::has_position(points[i])) {
        segment_sum += geo::haversine_m(points[i - 1], points[i]);
      }
    }
    total += segment_sum;
  }
  return total;
}

std::optional<double> Activity::average_heart_rate() const {
  if (summary.average_heart_rate_bpm) return summary.average_heart_rate_bpm;
  std::uint64_t sum = 0;
  std::uint64_t count = 0;
  for (const Segment& segment : segments) {
    for (const TrackPoint& point : segment.points) {
      if (!point.heart_rate_bpm) continue;
      sum += *point.heart_rate_bpm;
      ++count;
    }
  }
  if (count == 0) return std::nullopt;
  return static_cast<double>(sum) / static_cast<double>(count);
}

ElevationGain Activity::elevation_gain() const {
  if (summary.total_ascent_meters) {
    return {*summary.total_ascent_meters, summary.total_descent_meters.value_or(0.0)};
  }
  if (summary.total_descent_meters) return {0.0, *summary.total_descent_meters};

  ElevationGain gain;
  for (const Segment& segment : segments) {
    double uphill = 0.0;
    double downhill = 0.0;
    const std::vector<TrackPoint>& points = segment.points;
    for (std::size_t i = 1; i < points.size(); ++i) {
      if (!points[i - 1].elevation_m || !points[i].elevation_m) continue;
      const double change = *points[i].elevation_m - *points[i - 1].elevation_m;
      if (change > 0.0) {
        uphill += change;
      } else {
        downhill -= change;
      }
    }
    gain.uphill_meters += uphill;
    gain.downhill_meters += downhill;
  }
  return gain;
}

std::optional<Bounds> Activity::bounds() const {
  std::optional<Bounds> bounds;
  for (const Segment& segment : segments) {
    for (const TrackPoint& point : segment.points) {
      if (!geo::has_position(point)) continue;
      const double latitude = *point.latitude;
      const double longitude = *point.longitude;
      if (!bounds) {
        bounds = Bounds{latitude, latitude, longitude, longitude};
        continue;
      }
      bounds->min_latitude = geo::min_ignoring_nan(bounds->min_latitude, latitude);
      bounds->max_latitude = geo::max_ignoring_nan(bounds->max_latitude, latitude);
      bounds->min_longitude = geo::min_ignoring_nan(bounds->min_longitude, longitude);
      bounds->max_longitude = geo::max_ignoring_nan(bounds->max_longitude, longitude);
    }
  }
  return bounds;
}

}  // namespace tramlix
