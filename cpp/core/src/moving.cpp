// Moving and stopped time and distance.
#include <cmath>
#include <optional>
#include <vector>

#include "geo.hpp"
#include "tramlix/model.hpp"

namespace tramlix {
namespace {

// The device already decided what counted as moving; keep its figure and fill in the rest.
MovingData from_recorded_moving_time(const Activity& activity, double moving_seconds) {
  MovingData data;
  data.moving_time_seconds = moving_seconds;
  const double stopped = activity.duration_seconds().value_or(moving_seconds) - moving_seconds;
  data.stopped_time_seconds = stopped > 0.0 ? stopped : 0.0;
  data.moving_distance_meters = activity.distance_meters();
  std::optional<double> max_speed;
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (!point.speed_mps || std::isnan(*point.speed_mps)) continue;
      if (!max_speed || *point.speed_mps > *max_speed) max_speed = point.speed_mps;
    }
  }
  data.max_speed_mps = max_speed.value_or(0.0);
  return data;
}

}  // namespace

MovingData Activity::moving_data(double stopped_speed_kph) const {
  if (summary.total_moving_seconds) {
    return from_recorded_moving_time(*this, *summary.total_moving_seconds);
  }

  const double threshold_mps = (stopped_speed_kph > 0.0 ? stopped_speed_kph : 0.0) / 3.6;
  MovingData data;
  for (const Segment& segment : segments) {
    MovingData sums;
    const std::vector<TrackPoint>& points = segment.points;
    // The cosine of the last point whose distance was measured, reused by the next pair.
    std::size_t cached = 0;
    double cached_cos = 0.0;
    for (std::size_t i = 1; i < points.size(); ++i) {
      const TrackPoint& previous = points[i - 1];
      const TrackPoint& current = points[i];
      if (!previous.time || !current.time) continue;
      const double seconds =
          static_cast<double>(milliseconds_between(*previous.time, *current.time)) / 1000.0;
      if (!(seconds > 0.0)) continue;
      if (!geo::has_position(previous) || !geo::has_position(current)) continue;
      const double previous_cos =
          cached == i - 1 && i > 1 ? cached_cos : geo::cos_latitude(*previous.latitude);
      cached_cos = geo::cos_latitude(*current.latitude);
      cached = i;
      double meters = geo::haversine_m(*previous.latitude, *previous.longitude, previous_cos,
                                       *current.latitude, *current.longitude, cached_cos);
      if (previous.elevation_m && current.elevation_m) {
        meters = std::hypot(meters, *current.elevation_m - *previous.elevation_m);
      }
      const double speed = meters / seconds;
      if (speed > sums.max_speed_mps) sums.max_speed_mps = speed;
      if (speed <= threshold_mps) {
        sums.stopped_time_seconds += seconds;
        sums.stopped_distance_meters += meters;
      } else {
        sums.moving_time_seconds += seconds;
        sums.moving_distance_meters += meters;
      }
    }
    data.moving_time_seconds += sums.moving_time_seconds;
    data.stopped_time_seconds += sums.stopped_time_seconds;
    data.moving_distance_meters += sums.moving_distance_meters;
    data.stopped_distance_meters += sums.stopped_distance_meters;
    if (sums.max_speed_mps > data.max_speed_mps) data.max_speed_mps = sums.max_speed_mps;
  }
  return data;
}

}  // namespace tramlix
