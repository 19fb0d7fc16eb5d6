// The figures of each channel, and time in zones.
#include <algorithm>
#include <cstddef>
#include <limits>
#include <optional>
#include <span>
#include <tuple>
#include <vector>

#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

// Running sums of one channel: all values, and for cadence and power those that are not 0.
template <bool kWithoutZeros>
struct Sums {
  std::size_t count = 0;
  double min = std::numeric_limits<double>::infinity();
  double max = -std::numeric_limits<double>::infinity();
  double sum = 0.0;
  double weight = 0.0;
  double weighted_sum = 0.0;
  std::size_t nonzero_count = 0;
  double nonzero_sum = 0.0;
  double nonzero_weight = 0.0;
  double nonzero_weighted_sum = 0.0;

  void add(double value, double weight_seconds) {
    min = std::min(min, value);
    max = std::max(max, value);
    ++count;
    sum += value;
    weight += weight_seconds;
    weighted_sum += value * weight_seconds;
    if constexpr (kWithoutZeros) {
      if (value == 0.0) return;
      ++nonzero_count;
      nonzero_sum += value;
      nonzero_weight += weight_seconds;
      nonzero_weighted_sum += value * weight_seconds;
    }
  }

  ChannelStats result() const {
    ChannelStats stats;
    stats.count = count;
    if (count == 0) return stats;
    stats.min = min;
    stats.max = max;
    stats.time_weighted = weight > 0.0;
    if (stats.time_weighted) {
      stats.average = weighted_sum / weight;
      // No time spent at a value other than 0: nothing to average.
      if (kWithoutZeros && nonzero_weight > 0.0) {
        stats.average_without_zeros = nonzero_weighted_sum / nonzero_weight;
      }
    } else {
      stats.average = sum / static_cast<double>(count);
      if (kWithoutZeros && nonzero_count > 0) {
        stats.average_without_zeros = nonzero_sum / static_cast<double>(nonzero_count);
      }
    }
    return stats;
  }
};

}  // namespace

ActivityStats stats(const Activity& activity, double gap_limit_seconds) {
  // In the order of the channels; zeros mean coasting or standing for cadence and power only.
  std::tuple<Sums<false>, Sums<true>, Sums<true>, Sums<false>, Sums<false>, Sums<false>> sums;
  const auto add = [&]<Channel C>(const TrackPoint& point, double weight) {
    if (const std::optional<double> value = analysis::value_of<C>(point)) {
      std::get<static_cast<std::size_t>(C)>(sums).add(*value, weight);
    }
  };
  for (const Segment& segment : activity.segments) {
    const std::vector<TrackPoint>& points = segment.points;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const TrackPoint& point = points[i];
      const double weight = analysis::time_weight(points, i, gap_limit_seconds);
      add.operator()<Channel::HeartRate>(point, weight);
      add.operator()<Channel::Cadence>(point, weight);
      add.operator()<Channel::Power>(point, weight);
      add.operator()<Channel::Speed>(point, weight);
      add.operator()<Channel::Temperature>(point, weight);
      add.operator()<Channel::Elevation>(point, weight);
    }
  }
  return {std::get<0>(sums).result(), std::get<1>(sums).result(), std::get<2>(sums).result(),
          std::get<3>(sums).result(), std::get<4>(sums).result(), std::get<5>(sums).result()};
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
