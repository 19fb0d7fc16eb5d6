// The format-neutral activity model and the figures derived from it.
//
// Model types are plain values: every field but the containers is optional, an absent value is
// distinct from zero, copies are deep, and nothing derived is cached. The declared field order
// is the order of JSON export and of the Python constructors' keywords.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tramlix/time.hpp"

namespace tramlix {

struct TrackPoint {
  std::optional<UtcInstant> time;
  std::optional<double> latitude;   // degrees, WGS-84, north positive
  std::optional<double> longitude;  // degrees, WGS-84, east positive
  std::optional<double> elevation_m;
  std::optional<double> distance_m;  // cumulative from the start of the activity, as recorded
  std::optional<std::uint16_t> heart_rate_bpm;
  std::optional<std::uint16_t> cadence_rpm;
  std::optional<double> speed_mps;
  std::optional<std::uint16_t> power_watts;
  std::optional<std::int16_t> temperature_c;

  bool operator==(const TrackPoint&) const = default;
};

struct Segment {
  std::vector<TrackPoint> points;

  bool operator==(const Segment&) const = default;
};

// Totals as the source file recorded them.
struct ActivitySummary {
  std::optional<double> total_elapsed_seconds;
  std::optional<double> total_timer_seconds;
  std::optional<double> total_moving_seconds;
  std::optional<double> total_distance_meters;
  std::optional<double> average_speed_mps;
  std::optional<double> average_heart_rate_bpm;
  std::optional<double> total_ascent_meters;
  std::optional<double> total_descent_meters;

  bool operator==(const ActivitySummary&) const = default;
};

struct ElevationGain {
  double uphill_meters = 0.0;
  double downhill_meters = 0.0;  // a positive number

  bool operator==(const ElevationGain&) const = default;
};

struct Bounds {
  double min_latitude = 0.0;
  double max_latitude = 0.0;
  double min_longitude = 0.0;
  double max_longitude = 0.0;

  bool operator==(const Bounds&) const = default;
};

struct MovingData {
  double moving_time_seconds = 0.0;
  double stopped_time_seconds = 0.0;
  double moving_distance_meters = 0.0;
  double stopped_distance_meters = 0.0;
  double max_speed_mps = 0.0;

  bool operator==(const MovingData&) const = default;
};

struct Activity {
  std::optional<std::string> name;
  std::optional<std::string> sport;
  std::optional<std::string> sub_sport;
  std::optional<UtcInstant> start_time;
  ActivitySummary summary;
  std::vector<Segment> segments;

  bool operator==(const Activity&) const = default;

  // Points in all segments.
  std::size_t point_count() const;

  // Track metrics. A total recorded in `summary` wins over one derived from the points.
  // `start_time`, or else the time of the first timed point.
  std::optional<UtcInstant> effective_start_time() const;
  std::optional<UtcInstant> end_time() const;
  std::optional<double> duration_seconds() const;
  double distance_meters() const;
  std::optional<double> average_heart_rate() const;
  ElevationGain elevation_gain() const;
  std::optional<Bounds> bounds() const;

  // Moving and stopped time and distance; the threshold is in km/h.
  MovingData moving_data(double stopped_speed_kph) const;

  // A copy whose segments are thinned with Ramer-Douglas-Peucker to `max_distance_m` metres.
  Activity simplified(double max_distance_m) const;
};

struct DeviceInfo {
  std::optional<std::string> manufacturer;
  std::optional<std::uint16_t> manufacturer_id;
  std::optional<std::string> product;
  std::optional<std::uint16_t> product_id;
  std::optional<std::string> product_name;
  std::optional<std::uint32_t> serial_number;
  std::optional<double> software_version;
  std::optional<std::uint8_t> device_index;
  std::optional<std::string> source_type;

  bool operator==(const DeviceInfo&) const = default;
};

// One activity file: the unit that is read, converted and written.
struct ActivityFile {
  std::vector<Activity> activities;
  std::optional<std::string> creator;
  std::optional<DeviceInfo> device_info;

  bool operator==(const ActivityFile&) const = default;

  std::size_t point_count() const;

  // A copy whose device information is exactly `device_info` (replaced, never merged).
  ActivityFile with_device_info(const DeviceInfo& device_info) const;

  ActivityFile simplified(double max_distance_m) const;
};

// The compact JSON text of a file (keys in declared order, absent values as null).
std::string to_json(const ActivityFile& file);

}  // namespace tramlix
