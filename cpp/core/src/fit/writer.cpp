// The activity model as FIT messages, handed to the encoder. Values stay in the model's units
// (the encoder applies the profile's scales and offsets); only positions become semicircles.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fit/encoder.hpp"
#include "fit/fit.hpp"
#include "geo.hpp"
#include "tramlix/text.hpp"
#include "tramlix/time.hpp"

namespace tramlix::fit {
namespace {

constexpr std::string_view kLabel = "FIT";
constexpr std::uint8_t kProtocolVersion = 0x20;  // 2.0
constexpr std::uint16_t kProfileVersion = 21200;

using ::fit::EnumName;
using ::fit::Field;
using ::fit::Message;
using ::fit::Value;

// Built in place: a large file has millions of fields.
void add(std::vector<Field>& fields, std::string_view name, std::uint8_t number, Value value,
         std::string_view units = {}) {
  Field& built = fields.emplace_back();
  built.name = name;
  built.units = units;
  built.has_units = !units.empty();
  built.value = std::move(value);
  built.number = number;
}

Value timestamp(UtcInstant instant) {
  return Value(::fit::Timestamp{instant.seconds, instant.nanoseconds});
}

Value unsigned_value(std::uint64_t n) {
  return Value(n);
}

// Both coordinates share the longitude range: a latitude past 90 is kept as the model has it.
// The top of the range stops one short of 0x7FFFFFFF, the sint32 invalid marker (180 degrees
// would be 2^31, which does not fit at all): the last 2 cm before the antimeridian move west
// rather than lose the coordinate. NaN has no position and writes none.
std::optional<std::int64_t> semicircles(double degrees) {
  if (std::isnan(degrees)) return std::nullopt;
  constexpr double kLargest = 2147483646.0;
  return static_cast<std::int64_t>(
      std::min(std::round(std::clamp(degrees, -180.0, 180.0) * kSemicirclesPerDegree), kLargest));
}

void add_position(std::vector<Field>& fields, std::string_view name, std::uint8_t number,
                  const std::optional<double>& degrees) {
  if (!degrees) return;
  if (const auto value = semicircles(*degrees)) {
    add(fields, name, number, Value(*value), "semicircles");
  }
}

// The manufacturer by its code when the model has one, else by its name.
void append_manufacturer(std::vector<Field>& fields, std::uint8_t number,
                         const DeviceInfo& device) {
  if (device.manufacturer_id) {
    add(fields, "manufacturer", number, unsigned_value(*device.manufacturer_id));
  } else if (device.manufacturer) {
    add(fields, "manufacturer", number, Value(EnumName::owned(*device.manufacturer)));
  }
}

Message file_id(const std::optional<UtcInstant>& created, const std::optional<DeviceInfo>& device) {
  Message message;
  message.name = "file_id";
  message.global_number = 0;
  std::vector<Field>& fields = message.fields;
  fields.reserve(6);
  add(fields, "type", 0, Value(EnumName::borrowed("activity")));
  if (created) add(fields, "time_created", 4, timestamp(*created), "s");
  if (device) {
    append_manufacturer(fields, 1, *device);
    if (device->product_id) add(fields, "product", 2, unsigned_value(*device->product_id));
    if (device->serial_number) {
      add(fields, "serial_number", 3, unsigned_value(*device->serial_number));
    }
    if (device->product_name) add(fields, "product_name", 8, Value(*device->product_name));
  }
  return message;
}

Message device_info(const std::optional<UtcInstant>& created, const DeviceInfo& device) {
  Message message;
  message.name = "device_info";
  message.global_number = 23;
  std::vector<Field>& fields = message.fields;
  fields.reserve(8);
  if (created) add(fields, "timestamp", 253, timestamp(*created), "s");
  // This message describes the device that file_id names as the file's creator, and readers
  // take a device_info with another index for a sensor of that device: an index other than 0
  // ("creator") is left out rather than have the recorder's version and source disowned.
  if (device.device_index == 0) add(fields, "device_index", 0, unsigned_value(0));
  append_manufacturer(fields, 2, device);
  if (device.serial_number) add(fields, "serial_number", 3, unsigned_value(*device.serial_number));
  if (device.product_id) add(fields, "product", 4, unsigned_value(*device.product_id));
  if (device.software_version) add(fields, "software_version", 5, Value(*device.software_version));
  if (device.source_type) {
    add(fields, "source_type", 25, Value(EnumName::owned(*device.source_type)));
  }
  if (device.product_name) add(fields, "product_name", 27, Value(*device.product_name));
  return message;
}

Message record(const TrackPoint& point) {
  Message message;
  message.name = "record";
  message.global_number = 20;
  std::vector<Field>& fields = message.fields;
  // Exactly the fields present: a record list is most of the memory a large file takes.
  fields.reserve(point.time.has_value() + point.latitude.has_value() + point.longitude.has_value() +
                 point.elevation_m.has_value() + point.heart_rate_bpm.has_value() +
                 point.cadence_rpm.has_value() + point.distance_m.has_value() +
                 point.speed_mps.has_value() + point.power_watts.has_value() +
                 point.temperature_c.has_value());
  if (point.time) add(fields, "timestamp", 253, timestamp(*point.time), "s");
  add_position(fields, "position_lat", 0, point.latitude);
  add_position(fields, "position_long", 1, point.longitude);
  if (point.elevation_m) add(fields, "altitude", 2, Value(*point.elevation_m), "m");
  if (point.heart_rate_bpm) {
    add(fields, "heart_rate", 3, unsigned_value(*point.heart_rate_bpm), "bpm");
  }
  if (point.cadence_rpm) add(fields, "cadence", 4, unsigned_value(*point.cadence_rpm), "rpm");
  if (point.distance_m) add(fields, "distance", 5, Value(*point.distance_m), "m");
  if (point.speed_mps) add(fields, "speed", 6, Value(*point.speed_mps), "m/s");
  if (point.power_watts) add(fields, "power", 7, unsigned_value(*point.power_watts), "watts");
  if (point.temperature_c) {
    add(fields, "temperature", 13, Value(static_cast<std::int64_t>(*point.temperature_c)), "C");
  }
  return message;
}

// Start (and, for a lap, end) position from the first and last points that have one.
void append_positions(std::vector<Field>& fields, const TrackPoint* first, const TrackPoint* last,
                      bool session) {
  if (first) {
    add_position(fields, "start_position_lat", 3, first->latitude);
    add_position(fields, "start_position_long", 4, first->longitude);
  }
  if (session || !last) return;
  add_position(fields, "end_position_lat", 5, last->latitude);
  add_position(fields, "end_position_long", 6, last->longitude);
}

// The FIT sport for the model's free text; most texts name none.
std::optional<std::string_view> fit_sport(const std::optional<std::string>& sport) {
  if (!sport) return std::nullopt;
  const std::string_view trimmed = trim_unicode_whitespace(*sport);
  constexpr std::size_t kLongest = 10;  // "multisport"
  if (trimmed.empty() || trimmed.size() > kLongest) return std::nullopt;
  char lower[kLongest];
  for (std::size_t i = 0; i < trimmed.size(); ++i) {
    const char c = trimmed[i];
    lower[i] = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  const std::string_view text(lower, trimmed.size());
  if (text == "run" || text == "running") return "running";
  if (text == "bike" || text == "biking" || text == "cycling") return "cycling";
  if (text == "walk" || text == "walking") return "walking";
  if (text == "hike" || text == "hiking") return "hiking";
  if (text == "swim" || text == "swimming") return "swimming";
  if (text == "other" || text == "generic") return "generic";
  if (text == "rowing") return "rowing";
  if (text == "multisport") return "multisport";
  return std::nullopt;
}

struct Totals {
  UtcInstant start;
  UtcInstant end;
  double elapsed;
  double timer;
  double distance;
  const TrackPoint* first_positioned = nullptr;
  const TrackPoint* last_positioned = nullptr;
};

std::optional<Totals> totals(const Activity& activity) {
  const std::optional<UtcInstant> start = activity.effective_start_time();
  const std::optional<UtcInstant> end = activity.end_time();
  if (!start || !end) return std::nullopt;
  Totals totals{*start, *end, 0.0, 0.0, activity.distance_meters()};
  const ActivitySummary& summary = activity.summary;
  totals.elapsed = summary.total_elapsed_seconds
                       ? *summary.total_elapsed_seconds
                       : static_cast<double>(milliseconds_between(*start, *end)) / 1000.0;
  totals.timer = summary.total_timer_seconds.value_or(totals.elapsed);
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (!geo::has_position(point)) continue;
      if (!totals.first_positioned) totals.first_positioned = &point;
      totals.last_positioned = &point;
    }
  }
  return totals;
}

Message lap(const Totals& totals) {
  Message message;
  message.name = "lap";
  message.global_number = 19;
  std::vector<Field>& fields = message.fields;
  fields.reserve(9);
  add(fields, "timestamp", 253, timestamp(totals.end), "s");
  add(fields, "start_time", 2, timestamp(totals.start), "s");
  add(fields, "total_elapsed_time", 7, Value(totals.elapsed), "s");
  // A lap's timer is its elapsed time: the model keeps no pauses per lap.
  add(fields, "total_timer_time", 8, Value(totals.elapsed), "s");
  add(fields, "total_distance", 9, Value(totals.distance), "m");
  append_positions(fields, totals.first_positioned, totals.last_positioned, false);
  return message;
}

// Rounds half away from zero and clamps to 0..max; none for NaN, which has no integer. The
// callers' maxima stop one short of the field's invalid marker (0xFF, 0xFFFF), which would
// make a clamped value disappear.
std::optional<std::uint64_t> rounded(double value, double max) {
  if (std::isnan(value)) return std::nullopt;
  return static_cast<std::uint64_t>(std::clamp(std::round(value), 0.0, max));
}

Message session(const Activity& activity, const Totals& totals) {
  const ActivitySummary& summary = activity.summary;
  Message message;
  message.name = "session";
  message.global_number = 18;
  std::vector<Field>& fields = message.fields;
  fields.reserve(15);
  add(fields, "timestamp", 253, timestamp(totals.end), "s");
  add(fields, "start_time", 2, timestamp(totals.start), "s");
  add(fields, "total_elapsed_time", 7, Value(totals.elapsed), "s");
  add(fields, "total_timer_time", 8, Value(totals.timer), "s");
  add(fields, "total_distance", 9, Value(totals.distance), "m");
  if (const auto sport = fit_sport(activity.sport)) {
    add(fields, "sport", 5, Value(EnumName::borrowed(*sport)));
  }
  if (activity.sub_sport) add(fields, "sub_sport", 6, Value(EnumName::owned(*activity.sub_sport)));
  if (activity.name) add(fields, "sport_profile_name", 110, Value(*activity.name));
  if (summary.total_moving_seconds) {
    add(fields, "total_moving_time", 59, Value(*summary.total_moving_seconds), "s");
  }
  std::optional<double> speed = summary.average_speed_mps;
  if (!speed && totals.timer > 0.0) speed = totals.distance / totals.timer;
  if (speed) add(fields, "enhanced_avg_speed", 124, Value(*speed), "m/s");
  if (const auto heart_rate = activity.average_heart_rate()) {
    if (const auto bpm = rounded(*heart_rate, 254.0)) {
      add(fields, "avg_heart_rate", 16, unsigned_value(*bpm), "bpm");
    }
  }
  // Summary totals win over the points; a summary descent alone computes no ascent.
  const ElevationGain gain = activity.elevation_gain();
  if (gain.uphill_meters > 0.0) {
    add(fields, "total_ascent", 22, unsigned_value(*rounded(gain.uphill_meters, 65534.0)), "m");
  }
  if (gain.downhill_meters > 0.0) {
    add(fields, "total_descent", 23, unsigned_value(*rounded(gain.downhill_meters, 65534.0)), "m");
  }
  append_positions(fields, totals.first_positioned, totals.last_positioned, true);
  return message;
}

// One session per activity message, even when the file holds several activities.
Message activity_message(const Totals& totals) {
  Message message;
  message.name = "activity";
  message.global_number = 34;
  message.fields.reserve(3);
  add(message.fields, "timestamp", 253, timestamp(totals.end), "s");
  add(message.fields, "total_timer_time", 0, Value(totals.timer), "s");
  add(message.fields, "num_sessions", 1, unsigned_value(1));
  return message;
}

}  // namespace

std::vector<Message> activity_messages(const ActivityFile& file) {
  std::vector<Message> messages;
  // One record per point, three summaries per activity, file_id and device_info.
  messages.reserve(file.point_count() + 3 * file.activities.size() + 2);

  std::optional<UtcInstant> created;
  for (const Activity& activity : file.activities) {
    created = activity.effective_start_time();
    if (created) break;
  }
  messages.push_back(file_id(created, file.device_info));
  if (file.device_info) messages.push_back(device_info(created, *file.device_info));

  for (const Activity& activity : file.activities) {
    for (const Segment& segment : activity.segments) {
      for (const TrackPoint& point : segment.points) messages.push_back(record(point));
    }
    const std::optional<Totals> summary = totals(activity);
    if (!summary) continue;
    messages.push_back(lap(*summary));
    messages.push_back(session(activity, *summary));
    messages.push_back(activity_message(*summary));
  }
  return messages;
}

std::expected<std::string, Error> write(const ActivityFile& file) {
  const std::vector<Message> messages = activity_messages(file);
  const ::fit::Encoder encoder(kProtocolVersion, kProfileVersion);
  auto bytes = encoder.encode(messages);
  if (!bytes) return std::unexpected(Error::encode(kLabel, bytes.error().display()));
  return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

}  // namespace tramlix::fit
