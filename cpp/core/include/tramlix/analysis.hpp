// What coaches ask of an activity: the figures of each recorded channel, time in zones, the
// best average over a duration, the fastest time over a distance, climbing with the noise taken
// out; and the track as GeoJSON and as the series a plot draws.
//
// Every function reads the points in track order (segments in order, points in order within
// each) and accepts any activity: values that are absent, NaN or infinite take no part, and so
// do points without the time or position a figure needs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tramlix/fields.hpp"
#include "tramlix/model.hpp"

namespace tramlix {

// The recorded channels, by the names the Python methods take.
enum class Channel { HeartRate, Cadence, Power, Speed, Temperature, Elevation };

inline constexpr std::array kChannels{Channel::HeartRate, Channel::Cadence,     Channel::Power,
                                      Channel::Speed,     Channel::Temperature, Channel::Elevation};

// "heart_rate", "cadence", "power", "speed", "temperature", "elevation".
std::string_view channel_name(Channel channel);
std::optional<Channel> channel_from_name(std::string_view name);

// A point's value of the channel in its unit (bpm, rpm, W, m/s, degrees Celsius, m); absent when
// the point has none or it is not a finite number.
std::optional<double> channel_value(const TrackPoint& point, Channel channel);

// How long a point's value holds: the time to the next point of its segment, but never more
// than this. A longer silence is a pause, not a stretch at the last value.
inline constexpr double kDefaultGapLimitSeconds = 10.0;

// Count, extremes and averages of one channel. The averages are time-weighted when the channel
// has any time to weigh by (`time_weighted`), plain means of the values otherwise.
struct ChannelStats {
  std::size_t count = 0;  // points with a value
  std::optional<double> min;
  std::optional<double> average;
  std::optional<double> max;
  // Cadence and power only: the average over the values that are not 0 (coasting, standing).
  std::optional<double> average_without_zeros;
  bool time_weighted = false;

  bool operator==(const ChannelStats&) const = default;
};

struct ActivityStats {
  ChannelStats heart_rate;
  ChannelStats cadence;
  ChannelStats power;
  ChannelStats speed;
  ChannelStats temperature;
  ChannelStats elevation;

  bool operator==(const ActivityStats&) const = default;
};

// A point's weight is the time in seconds to the next point of its segment when both are timed
// and the later is later, capped at `gap_limit_seconds`; otherwise 0 (the last point of every
// segment weighs 0). A channel is time-weighted when the points that carry it weigh more than 0
// in all.
ActivityStats stats(const Activity& activity, double gap_limit_seconds);

// Seconds spent in each zone, weighted as stats() weighs: with ascending `bounds` b1 < ... < bn,
// zone 0 holds values below b1, zone k values from bk up to but not including b(k+1), and zone
// n values from bn up. The result has bounds.size() + 1 entries.
std::vector<double> time_in_zones(const Activity& activity, Channel channel,
                                  std::span<const double> bounds, double gap_limit_seconds);

// The best average of the channel over each duration in whole seconds, on the track resampled
// at 1 Hz: second k of a run of samples takes the value of the last point at or before it. A
// run ends where the next value comes more than `gap_limit_seconds` later (or earlier), at a
// segment's end and at a point whose time goes back; no window spans two runs. Absent for a
// duration that no run is long enough for (or that is not positive).
std::vector<std::optional<double>> mean_max(const Activity& activity, Channel channel,
                                            std::span<const std::int64_t> durations,
                                            double gap_limit_seconds);

// The fastest time in seconds to cover each distance in metres: from the recorded distances
// when any point has one, else along the positions (as distance_meters() measures). Start and
// end are placed between points by linear interpolation; the time is wall-clock time, so a
// pause inside an effort counts. Absent for a distance the activity does not cover (or that is
// not positive).
std::vector<std::optional<double>> best_efforts(const Activity& activity,
                                                std::span<const double> distances_m);

// Climb and descent with changes below `threshold_m` treated as noise (hysteresis from the last
// turning point): a climb counts once the elevation has risen at least the threshold above the
// lowest point since the last turning point, and then counts whole, from that low to the
// highest point reached before a descent of at least the threshold; descents alike. The last
// leg counts when it reaches the threshold. Each segment separately; points without an
// elevation are passed over. Always from the points: a recorded total is not used. A threshold
// of 0 gives the sum of every change.
ElevationGain filtered_elevation_gain(const Activity& activity, double threshold_m);

// ---- Geometry ----

// An activity as a GeoJSON Feature: a MultiLineString of its segments with at least two
// positioned points (positions as [longitude, latitude, elevation]; the elevation only when
// every position of the feature has one), or a null geometry when there is no such segment.
// A point counts as positioned when both coordinates are finite and in range.
std::string to_geojson(const Activity& activity);
// A FeatureCollection of one such Feature per activity.
std::string to_geojson(const ActivityFile& file);

struct GeoPosition {
  double longitude = 0.0;
  double latitude = 0.0;
  double elevation_m = 0.0;  // meaningful when the feature has elevations
};

// What to_geojson() writes of one activity, for callers that build the objects themselves.
struct GeoFeature {
  std::optional<std::string> name;
  std::optional<std::string> sport;
  std::optional<UtcInstant> start_time;  // the effective start time
  std::optional<UtcInstant> end_time;
  std::optional<double> distance_meters;  // absent when not finite
  std::vector<std::vector<GeoPosition>> lines;
  bool with_elevation = false;
};

GeoFeature geo_feature(const Activity& activity);

// ---- Series for drawing ----

// One entry per point in track order; NaN where a point has no value.
struct TrackProfile {
  std::vector<std::uint32_t> segment;
  std::vector<double> latitude;
  std::vector<double> longitude;
  std::vector<double> elevation_m;
  std::vector<double> heart_rate_bpm;
  // The distance along the track from its first point: recorded distances when any point has
  // one, else measured along the positions.
  std::vector<double> distance_m;
  // Recorded speeds when any point has one, else the distance from the segment's previous point
  // over the time between them.
  std::vector<double> speed_mps;
};

TrackProfile track_profile(const Activity& activity);

// The result records, field by field, for the Python classes.
// clang-format off
template <>
struct Fields<ChannelStats> {
  static constexpr std::tuple list{
      Field{"count", &ChannelStats::count},
      Field{"min", &ChannelStats::min},
      Field{"average", &ChannelStats::average},
      Field{"max", &ChannelStats::max},
      Field{"average_without_zeros", &ChannelStats::average_without_zeros},
      Field{"time_weighted", &ChannelStats::time_weighted},
  };
};

template <>
struct Fields<ActivityStats> {
  static constexpr std::tuple list{
      Field{"heart_rate", &ActivityStats::heart_rate},
      Field{"cadence", &ActivityStats::cadence},
      Field{"power", &ActivityStats::power},
      Field{"speed", &ActivityStats::speed},
      Field{"temperature", &ActivityStats::temperature},
      Field{"elevation", &ActivityStats::elevation},
  };
};
// clang-format on

static_assert(kFieldCount<ChannelStats> == detail::member_count<ChannelStats>());
static_assert(kFieldCount<ActivityStats> == detail::member_count<ActivityStats>());

}  // namespace tramlix
