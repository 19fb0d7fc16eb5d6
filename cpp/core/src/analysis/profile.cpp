// The series a plot of an activity draws, one entry per point.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

template <class T>
double or_nan(const std::optional<T>& value) {
  return value ? static_cast<double>(*value) : kNaN;
}

bool has_recorded_speed(const Activity& activity) {
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (analysis::value_of<Channel::Speed>(point)) return true;
    }
  }
  return false;
}

}  // namespace

TrackProfile track_profile(const Activity& activity) {
  TrackProfile profile;
  const std::size_t count = activity.point_count();
  for (std::vector<double>* column :
       {&profile.latitude, &profile.longitude, &profile.elevation_m, &profile.heart_rate_bpm,
        &profile.distance_m, &profile.speed_mps}) {
    column->reserve(count);
  }
  profile.segment.reserve(count);
  const std::vector<std::optional<double>> along = analysis::along_track(activity);
  const bool recorded_speed = has_recorded_speed(activity);
  std::size_t index = 0;
  for (std::size_t s = 0; s < activity.segments.size(); ++s) {
    const std::vector<TrackPoint>& points = activity.segments[s].points;
    for (std::size_t i = 0; i < points.size(); ++i, ++index) {
      const TrackPoint& point = points[i];
      profile.segment.push_back(static_cast<std::uint32_t>(s));
      profile.latitude.push_back(or_nan(point.latitude));
      profile.longitude.push_back(or_nan(point.longitude));
      profile.elevation_m.push_back(or_nan(analysis::value_of<Channel::Elevation>(point)));
      profile.heart_rate_bpm.push_back(or_nan(point.heart_rate_bpm));
      profile.distance_m.push_back(or_nan(along[index]));
      double speed = kNaN;
      if (recorded_speed) {
        speed = or_nan(analysis::value_of<Channel::Speed>(point));
      } else if (i > 0 && along[index] && along[index - 1] && point.time && points[i - 1].time) {
        const double seconds = analysis::seconds_between(*points[i - 1].time, *point.time);
        if (seconds > 0.0) speed = (*along[index] - *along[index - 1]) / seconds;
      }
      profile.speed_mps.push_back(speed);
    }
  }
  return profile;
}

}  // namespace tramlix
