// What the analyses share: time weights, the distance along the track, and the points of an
// activity walked in track order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <vector>

#include "tramlix/analysis.hpp"
#include "tramlix/model.hpp"
#include "tramlix/time.hpp"

namespace tramlix::analysis {

// Seconds from `from` to `to`, negative when `to` is earlier, to the nanosecond.
inline double seconds_between(UtcInstant from, UtcInstant to) {
  return static_cast<double>(nanoseconds_between(from, to)) / 1e9;
}

// How long points[i]'s value holds: the time to the next point when both are timed and the next
// is later, at most `gap_limit_seconds`; 0 otherwise, and for the last point.
inline double time_weight(const std::vector<TrackPoint>& points, std::size_t i,
                          double gap_limit_seconds) {
  if (i + 1 >= points.size() || !points[i].time || !points[i + 1].time) return 0.0;
  const double seconds = seconds_between(*points[i].time, *points[i + 1].time);
  if (!(seconds > 0.0) || !(gap_limit_seconds > 0.0)) return 0.0;
  return std::min(seconds, gap_limit_seconds);
}

// The distance in metres along the track of every point, in track order: from the recorded
// distances when any point has a finite one (the rise of each run of values that never
// decreases, as distance_meters() adds them up), else along the positions (the haversine
// distance of each pair of consecutive positioned points of a segment). Absent for a point
// without a recorded distance, or without a position.
std::vector<std::optional<double>> along_track(const Activity& activity);

}  // namespace tramlix::analysis
