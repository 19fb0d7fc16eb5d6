// What the analyses share: channel values, time weights, the distance along the track.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>
#include <vector>

#include "tramlix/analysis.hpp"
#include "tramlix/model.hpp"
#include "tramlix/time.hpp"

namespace tramlix::analysis {

template <class T>
std::optional<double> finite(const std::optional<T>& value) {
  if (!value) return std::nullopt;
  const auto number = static_cast<double>(*value);
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(number)) return std::nullopt;
  }
  return number;
}

// channel_value() for a channel known at compile time: the walks over every point use it.
template <Channel C>
std::optional<double> value_of(const TrackPoint& point) {
  if constexpr (C == Channel::HeartRate) return finite(point.heart_rate_bpm);
  if constexpr (C == Channel::Cadence) return finite(point.cadence_rpm);
  if constexpr (C == Channel::Power) return finite(point.power_watts);
  if constexpr (C == Channel::Speed) return finite(point.speed_mps);
  if constexpr (C == Channel::Temperature) return finite(point.temperature_c);
  if constexpr (C == Channel::Elevation) return finite(point.elevation_m);
}

// Calls `body.template operator()<C>()` with the channel as a compile-time constant.
template <class Body>
decltype(auto) with_channel(Channel channel, Body&& body) {
  switch (channel) {
    case Channel::HeartRate:
      return body.template operator()<Channel::HeartRate>();
    case Channel::Cadence:
      return body.template operator()<Channel::Cadence>();
    case Channel::Power:
      return body.template operator()<Channel::Power>();
    case Channel::Speed:
      return body.template operator()<Channel::Speed>();
    case Channel::Temperature:
      return body.template operator()<Channel::Temperature>();
    case Channel::Elevation:
      break;
  }
  return body.template operator()<Channel::Elevation>();
}

// Nanoseconds from `from` to `to` (negative when `to` is earlier) into `nanoseconds`, when the
// two lie less than 4e9 seconds apart; false otherwise. Points lie seconds apart: 64-bit
// arithmetic is exact there and much cheaper than the 128 bits instants may need.
inline bool short_step(UtcInstant from, UtcInstant to, std::int64_t& nanoseconds) {
  std::int64_t seconds = 0;
  if (__builtin_sub_overflow(to.seconds, from.seconds, &seconds) || seconds <= -4'000'000'000 ||
      seconds >= 4'000'000'000) {
    return false;
  }
  nanoseconds =
      seconds * 1'000'000'000 + (std::int64_t{to.nanoseconds} - std::int64_t{from.nanoseconds});
  return true;
}

// Seconds from `from` to `to`, negative when `to` is earlier.
inline double seconds_between(UtcInstant from, UtcInstant to) {
  std::int64_t nanoseconds = 0;
  if (short_step(from, to, nanoseconds)) return static_cast<double>(nanoseconds) / 1e9;
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
