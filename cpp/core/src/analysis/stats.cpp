// The figures of each channel, and time in zones.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <tuple>
#include <utility>
#include <vector>

#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

// The sums of one channel, gathered branch-free in one pass over the points: a point without a
// value adds 0 to every sum, which leaves it as it was, so the loop takes the same path whatever
// the points hold. Zeros add nothing to a sum either, so the average without zeros needs only its
// own weight and count. The weight a channel's values hold in all is the weight of every point
// when the channel has a value at every point, which is what recordings mostly give; a channel
// with gaps, or without any time to weigh by, takes a second pass of its own (weight_and_sum()).

// A channel of whole numbers: count and extremes in integers.
template <bool kWithoutZeros>
struct WholeSums {
  std::size_t count = 0;
  std::int32_t min = std::numeric_limits<std::int32_t>::max();
  std::int32_t max = std::numeric_limits<std::int32_t>::min();
  double weighted_sum = 0.0;
  std::size_t nonzero_count = 0;
  double nonzero_weight = 0.0;

  template <class T>
  void add(const std::optional<T>& field, double weight_seconds) {
    const bool present = field.has_value();
    const std::int32_t value = field.value_or(0);
    count += present;
    min = std::min(min, present ? value : std::numeric_limits<std::int32_t>::max());
    max = std::max(max, present ? value : std::numeric_limits<std::int32_t>::min());
    weighted_sum += static_cast<double>(value) * weight_seconds;
    if constexpr (kWithoutZeros) {
      nonzero_count += value != 0;
      nonzero_weight += value != 0 ? weight_seconds : 0.0;
    }
  }
};

// A channel of real numbers; NaN and infinities are no values.
struct RealSums {
  std::size_t count = 0;
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();
  double weighted_sum = 0.0;

  void add(const std::optional<double>& field, double weight_seconds) {
    const double raw = field.value_or(0.0);
    const bool present = field.has_value() && std::isfinite(raw);
    const double value = present ? raw : 0.0;
    count += present;
    min = std::min(min, present ? value : std::numeric_limits<double>::infinity());
    max = std::max(max, present ? value : -std::numeric_limits<double>::infinity());
    weighted_sum += value * weight_seconds;
  }
};

// Calls `visit(point, weight)` for every point in track order with its time weight, as
// analysis::time_weight() gives it. The steps between points mostly repeat (every second, every
// quarter second): the weight of the step before is taken again without dividing.
template <class Visit>
void weigh_points(const Activity& activity, double gap_limit_seconds, Visit&& visit) {
  const bool weighs = gap_limit_seconds > 0.0;
  std::int64_t last_step = 0;  // a step of 0 weighs 0
  double last_weight = 0.0;
  for (const Segment& segment : activity.segments) {
    const TrackPoint* points = segment.points.data();
    const std::size_t count = segment.points.size();
    if (count == 0) continue;
    for (std::size_t i = 0; i + 1 < count; ++i) {
      double weight = 0.0;
      if (weighs && points[i].time && points[i + 1].time) {
        std::int64_t step = 0;
        if (analysis::short_step(*points[i].time, *points[i + 1].time, step)) {
          if (step != last_step) {
            last_step = step;
            last_weight =
                step > 0 ? std::min(static_cast<double>(step) / 1e9, gap_limit_seconds) : 0.0;
          }
          weight = last_weight;
        } else {
          const double seconds = analysis::seconds_between(*points[i].time, *points[i + 1].time);
          if (seconds > 0.0) weight = std::min(seconds, gap_limit_seconds);
        }
      }
      visit(points[i], weight);
    }
    visit(points[count - 1], 0.0);
  }
}

// The weight of the points that have a value of channel C, and the plain sum of those values.
template <Channel C>
std::pair<double, double> weight_and_sum(const Activity& activity, double gap_limit_seconds) {
  double weight = 0.0;
  double sum = 0.0;
  weigh_points(activity, gap_limit_seconds, [&](const TrackPoint& point, double point_weight) {
    if (const std::optional<double> value = analysis::value_of<C>(point)) {
      weight += point_weight;
      sum += *value;
    }
  });
  return {weight, sum};
}

// A channel's figures from the sums of the first pass; `all_weight` is the weight of all
// `all_count` points.
template <Channel C, class Sums>
ChannelStats result(const Sums& sums, const Activity& activity, double gap_limit_seconds,
                    std::size_t all_count, double all_weight) {
  constexpr bool kWithoutZeros = C == Channel::Cadence || C == Channel::Power;
  ChannelStats stats;
  stats.count = sums.count;
  if (sums.count == 0) return stats;
  stats.min = static_cast<double>(sums.min);
  stats.max = static_cast<double>(sums.max);
  double weight = all_weight;
  double sum = 0.0;
  if (sums.count != all_count || !(all_weight > 0.0)) {
    std::tie(weight, sum) = weight_and_sum<C>(activity, gap_limit_seconds);
  }
  stats.time_weighted = weight > 0.0;
  if (stats.time_weighted) {
    stats.average = sums.weighted_sum / weight;
    if constexpr (kWithoutZeros) {
      // No time spent at a value other than 0: nothing to average.
      if (sums.nonzero_weight > 0.0) {
        stats.average_without_zeros = sums.weighted_sum / sums.nonzero_weight;
      }
    }
  } else {
    stats.average = sum / static_cast<double>(sums.count);
    if constexpr (kWithoutZeros) {
      if (sums.nonzero_count > 0) {
        stats.average_without_zeros = sum / static_cast<double>(sums.nonzero_count);
      }
    }
  }
  return stats;
}

}  // namespace

ActivityStats stats(const Activity& activity, double gap_limit_seconds) {
  // Zeros mean coasting or standing for cadence and power only.
  WholeSums<false> heart_rate;
  WholeSums<true> cadence;
  WholeSums<true> power;
  RealSums speed;
  WholeSums<false> temperature;
  RealSums elevation;
  std::size_t all_count = 0;
  double all_weight = 0.0;
  weigh_points(activity, gap_limit_seconds, [&](const TrackPoint& point, double weight) {
    ++all_count;
    all_weight += weight;
    heart_rate.add(point.heart_rate_bpm, weight);
    cadence.add(point.cadence_rpm, weight);
    power.add(point.power_watts, weight);
    speed.add(point.speed_mps, weight);
    temperature.add(point.temperature_c, weight);
    elevation.add(point.elevation_m, weight);
  });
  const auto figures = [&]<Channel C>(const auto& sums) {
    return result<C>(sums, activity, gap_limit_seconds, all_count, all_weight);
  };
  return {figures.operator()<Channel::HeartRate>(heart_rate),
          figures.operator()<Channel::Cadence>(cadence),
          figures.operator()<Channel::Power>(power),
          figures.operator()<Channel::Speed>(speed),
          figures.operator()<Channel::Temperature>(temperature),
          figures.operator()<Channel::Elevation>(elevation)};
}

std::vector<double> time_in_zones(const Activity& activity, Channel channel,
                                  std::span<const double> bounds, double gap_limit_seconds) {
  std::vector<double> seconds(bounds.size() + 1, 0.0);
  analysis::with_channel(channel, [&]<Channel C>() {
    for (const Segment& segment : activity.segments) {
      const std::vector<TrackPoint>& points = segment.points;
      for (std::size_t i = 0; i + 1 < points.size(); ++i) {
        const std::optional<double> value = analysis::value_of<C>(points[i]);
        if (!value) continue;
        const double weight = analysis::time_weight(points, i, gap_limit_seconds);
        if (weight == 0.0) continue;
        // A value on a boundary belongs to the zone above it.
        const auto zone = std::upper_bound(bounds.begin(), bounds.end(), *value) - bounds.begin();
        seconds[static_cast<std::size_t>(zone)] += weight;
      }
    }
  });
  return seconds;
}

}  // namespace tramlix
