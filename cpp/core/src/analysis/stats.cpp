// The figures of each channel, and time in zones.
#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "track.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix {
namespace {

// Running sums of one channel: all values, and those that are not 0.
struct Sums {
  std::size_t count = 0;
  double min = 0.0;
  double max = 0.0;
  double sum = 0.0;
  double weight = 0.0;
  double weighted_sum = 0.0;
  std::size_t nonzero_count = 0;
  double nonzero_sum = 0.0;
  double nonzero_weight = 0.0;
  double nonzero_weighted_sum = 0.0;

  void add(double value, double weight_seconds) {
    if (count == 0 || value < min) min = value;
    if (count == 0 || value > max) max = value;
    ++count;
    sum += value;
    weight += weight_seconds;
    weighted_sum += value * weight_seconds;
    if (value == 0.0) return;
    ++nonzero_count;
    nonzero_sum += value;
    nonzero_weight += weight_seconds;
    nonzero_weighted_sum += value * weight_seconds;
  }

  ChannelStats result(bool with_nonzero_average) const {
    ChannelStats stats;
    stats.count = count;
    if (count == 0) return stats;
    stats.min = min;
    stats.max = max;
    stats.time_weighted = weight > 0.0;
    if (stats.time_weighted) {
      stats.average = weighted_sum / weight;
      // No time spent at a value other than 0: nothing to average.
      if (with_nonzero_average && nonzero_weight > 0.0) {
        stats.average_without_zeros = nonzero_weighted_sum / nonzero_weight;
      }
    } else {
      stats.average = sum / static_cast<double>(count);
      if (with_nonzero_average && nonzero_count > 0) {
        stats.average_without_zeros = nonzero_sum / static_cast<double>(nonzero_count);
      }
    }
    return stats;
  }
};

ChannelStats& stats_of(ActivityStats& stats, Channel channel) {
  switch (channel) {
    case Channel::HeartRate:
      return stats.heart_rate;
    case Channel::Cadence:
      return stats.cadence;
    case Channel::Power:
      return stats.power;
    case Channel::Speed:
      return stats.speed;
    case Channel::Temperature:
      return stats.temperature;
    case Channel::Elevation:
      break;
  }
  return stats.elevation;
}

}  // namespace

ActivityStats stats(const Activity& activity, double gap_limit_seconds) {
  std::array<Sums, kChannels.size()> sums;
  for (const Segment& segment : activity.segments) {
    const std::vector<TrackPoint>& points = segment.points;
    for (std::size_t i = 0; i < points.size(); ++i) {
      const double weight = analysis::time_weight(points, i, gap_limit_seconds);
      for (Channel channel : kChannels) {
        if (const std::optional<double> value = channel_value(points[i], channel)) {
          sums[static_cast<std::size_t>(channel)].add(*value, weight);
        }
      }
    }
  }
  ActivityStats result;
  for (Channel channel : kChannels) {
    const bool zeros_mean_idle = channel == Channel::Cadence || channel == Channel::Power;
    stats_of(result, channel) = sums[static_cast<std::size_t>(channel)].result(zeros_mean_idle);
  }
  return result;
}

std::vector<double> time_in_zones(const Activity& activity, Channel channel,
                                  std::span<const double> bounds, double gap_limit_seconds) {
  std::vector<double> seconds(bounds.size() + 1, 0.0);
  for (const Segment& segment : activity.segments) {
    const std::vector<TrackPoint>& points = segment.points;
    for (std::size_t i = 0; i + 1 < points.size(); ++i) {
      const std::optional<double> value = channel_value(points[i], channel);
      if (!value) continue;
      const double weight = analysis::time_weight(points, i, gap_limit_seconds);
      if (weight == 0.0) continue;
      // A value on a boundary belongs to the zone above it.
      const auto zone = std::upper_bound(bounds.begin(), bounds.end(), *value) - bounds.begin();
      seconds[static_cast<std::size_t>(zone)] += weight;
    }
  }
  return seconds;
}

}  // namespace tramlix
