// Laps as the file records them (FIT lap messages, TCX Lap elements), and distance splits
// computed from the points of any activity.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tramlix/arrow.hpp"
#include "tramlix/error.hpp"
#include "tramlix/model.hpp"

namespace tramlix {

// One lap with the totals its file gives; what the file leaves out is absent.
struct Lap {
  // The index of the activity in what load() reads (a FIT lap belongs to the activity whose
  // records it sits among, as the mapping assigns records); absent for a FIT lap of a session
  // that holds no records.
  std::optional<std::uint32_t> activity;
  std::uint32_t lap = 0;  // from 0 in each activity, in file order
  std::optional<UtcInstant> start_time;
  std::optional<UtcInstant> end_time;
  std::optional<double> total_elapsed_seconds;
  std::optional<double> total_timer_seconds;
  std::optional<double> distance_meters;
  std::optional<double> average_heart_rate_bpm;
  std::optional<double> max_heart_rate_bpm;
  std::optional<double> average_speed_mps;
  std::optional<double> max_speed_mps;
  std::optional<double> average_cadence_rpm;
  std::optional<double> average_power_watts;
  std::optional<double> calories;
  std::optional<double> total_ascent_meters;
  std::optional<double> total_descent_meters;
  std::optional<std::string> trigger;    // FIT lap_trigger, TCX TriggerMethod (lower case)
  std::optional<std::string> intensity;  // FIT intensity, TCX Intensity (lower case)

  bool operator==(const Lap&) const = default;
};

// The laps of a file of any format (gzip-compressed or not; GPX has none). Fails as load()
// does on data that is not an intact file of its format.
std::expected<std::vector<Lap>, Error> read_laps(std::span<const std::uint8_t> data);
std::expected<std::vector<Lap>, Error> read_laps_file(const std::string& path);

// One row per lap: the columns of Lap in order, times as timestamp[ns, tz=UTC], the totals as
// float64 with their units in the field metadata, trigger and intensity dictionary-encoded.
arrow::Table lap_table(const std::vector<Lap>& laps);

// One completed distance split of an activity.
struct Split {
  std::uint32_t split = 0;  // from 0
  double start_distance_m = 0.0;
  double end_distance_m = 0.0;
  std::optional<UtcInstant> start_time;
  std::optional<UtcInstant> end_time;
  std::optional<double> elapsed_seconds;
  std::optional<double> pace_seconds_per_km;
  std::optional<double> average_heart_rate_bpm;
  std::optional<double> elevation_change_m;

  bool operator==(const Split&) const = default;
};

// The activity cut every `every_m` metres along its track: one split per completed stretch (a
// last, shorter stretch is not one). Distance runs along the recorded distances when the points
// carry them, else along the positions (great-circle, within each segment). The times and
// elevations at a split's ends are interpolated by distance between the points either side;
// the heart rate is the mean of the points within the split (a point on a boundary counts
// into the split it ends). None for an `every_m` that is not positive and finite.
//
// More than kMaxSplits splits (a split length far too short for the activity) fails with a
// message saying so, rather than filling memory.
inline constexpr std::size_t kMaxSplits = 1'000'000;
std::expected<std::vector<Split>, std::string> splits(const Activity& activity, double every_m);

// One row per split: split (uint32), the distances, times as timestamp[ns, tz=UTC] and the
// figures as float64, units in the field metadata.
arrow::Table split_table(const std::vector<Split>& splits);

}  // namespace tramlix
