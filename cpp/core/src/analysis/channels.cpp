// Channel names and values, and the distance along the track.
#include <cmath>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "../geo.hpp"
#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

constexpr std::string_view kChannelNames[] = {"heart_rate", "cadence",     "power",
                                              "speed",      "temperature", "elevation"};

}  // namespace

std::string_view channel_name(Channel channel) {
  return kChannelNames[static_cast<std::size_t>(channel)];
}

std::optional<Channel> channel_from_name(std::string_view name) {
  for (Channel channel : kChannels) {
    if (channel_name(channel) == name) return channel;
  }
  return std::nullopt;
}

std::optional<double> channel_value(const TrackPoint& point, Channel channel) {
  return analysis::with_channel(channel, [&]<Channel C>() { return analysis::value_of<C>(point); });
}

namespace analysis {
namespace {

bool has_recorded_distance(const Activity& activity) {
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (point.distance_m && std::isfinite(*point.distance_m)) return true;
    }
  }
  return false;
}

bool has_finite_position(const TrackPoint& point) {
  return geo::has_position(point) && std::isfinite(*point.latitude) &&
         std::isfinite(*point.longitude);
}

}  // namespace

std::vector<std::optional<double>> along_track(const Activity& activity) {
  std::vector<std::optional<double>> distances;
  distances.reserve(activity.point_count());
  double total = 0.0;
  if (has_recorded_distance(activity)) {
    // A value below the one before is a restart (a new lap counting from 0): it adds nothing.
    std::optional<double> previous;
    for (const Segment& segment : activity.segments) {
      for (const TrackPoint& point : segment.points) {
        if (!point.distance_m || !std::isfinite(*point.distance_m)) {
          distances.emplace_back();
          continue;
        }
        const double value = *point.distance_m;
        if (previous && value > *previous) total += value - *previous;
        previous = value;
        distances.emplace_back(total);
      }
    }
    return distances;
  }
  for (const Segment& segment : activity.segments) {
    const TrackPoint* previous = nullptr;  // the point before, when it has a position
    for (const TrackPoint& point : segment.points) {
      if (!has_finite_position(point)) {
        previous = nullptr;
        distances.emplace_back();
        continue;
      }
      if (previous != nullptr) total += geo::haversine_m(*previous, point);
      previous = &point;
      distances.emplace_back(total);
    }
  }
  return distances;
}

}  // namespace analysis
}  // namespace tramlix
