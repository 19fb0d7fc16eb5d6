// The activity model as FIT messages, handed to the encoder. Values stay in the model's units
// (the encoder applies the profile's scales and offsets); only positions become semicircles.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fit/encoder.hpp"
#include "fit/profile.hpp"
#include "fit_activity/fit_activity.hpp"
#include "geo.hpp"
#include "sport.hpp"
#include "text.hpp"
#include "tramlix/format.hpp"
#include "tramlix/omissions.hpp"
#include "tramlix/time.hpp"

namespace tramlix::fit_activity {
namespace {

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

// A NaN coordinate of a record is counted as left out; lap and session positions repeat a
// record's and are not counted again.
void add_position(std::vector<Field>& fields, std::string_view name, std::uint8_t number,
                  const std::optional<double>& degrees, Omissions* omitted = nullptr) {
  if (!degrees) return;
  if (const auto value = semicircles(*degrees)) {
    add(fields, name, number, Value(*value), "semicircles");
  } else if (omitted) {
    omitted->add(Omission::NotFinite);
  }
}

// A FIT string field holds at most 254 bytes before its terminating zero. A longer text is cut
// after its last whole UTF-8 character that fits, rather than failing the whole file.
constexpr std::size_t kLongestText = 254;

std::string_view fitting_text(std::string_view text) {
  if (text.size() <= kLongestText) return text;
  std::size_t end = kLongestText;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// The device's texts as they are written, and what writing them leaves out.
struct DeviceTexts {
  std::optional<std::string_view> product_name;
  // The subfield of "product" that names the product text, when the model has a text and no
  // number: "garmin_product" for Garmin, Dynastream and Tacx devices, "favero_product" for
  // Favero's, as the profile's subfield references say. Other makers' products have no names.
  std::optional<std::string_view> product_subfield;
};

std::optional<std::string_view> product_subfield(const DeviceInfo& device) {
  std::optional<std::string_view> maker;
  if (device.manufacturer_id) {
    maker = ::fit::profile::enum_str_by_value("manufacturer", *device.manufacturer_id);
  } else if (device.manufacturer) {
    maker = *device.manufacturer;
  }
  const ::fit::profile::MessageInfo* message = ::fit::profile::mesg_info_by_num(0);
  const ::fit::profile::FieldInfo* product = message ? message->field(std::uint8_t{2}) : nullptr;
  if (!maker || !product) return std::nullopt;
  for (const ::fit::profile::Subfield& subfield : product->subfields) {
    for (const ::fit::profile::SubfieldReference& reference : subfield.references) {
      if (reference.field == "manufacturer" && reference.value == *maker) return subfield.name;
    }
  }
  return std::nullopt;
}

DeviceTexts device_texts(const DeviceInfo& device, Omissions& omitted) {
  DeviceTexts texts;
  if (device.product_name) {
    texts.product_name = fitting_text(*device.product_name);
    if (texts.product_name->size() != device.product_name->size()) {
      omitted.add(Omission::Shortened);
    }
  }
  if (!device.product_id && device.product) {
    texts.product_subfield = product_subfield(device);
    if (!texts.product_subfield) omitted.add(Omission::UnknownName);
  }
  // device_info is written as the creator's (index 0): another index cannot be kept.
  if (device.device_index.value_or(0) != 0) omitted.add(Omission::OutOfRange);
  return texts;
}

// The product by its number when the model has one, else by its name where the profile names
// the maker's products (which is how a FIT file's named product comes back).
void append_product(std::vector<Field>& fields, std::uint8_t number, const DeviceInfo& device,
                    const DeviceTexts& texts) {
  if (device.product_id) {
    add(fields, "product", number, unsigned_value(*device.product_id));
  } else if (texts.product_subfield) {
    add(fields, *texts.product_subfield, number, Value(EnumName::owned(*device.product)));
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

Message file_id(const std::optional<UtcInstant>& created, const std::optional<DeviceInfo>& device,
                const DeviceTexts& texts) {
  Message message;
  message.name = "file_id";
  message.global_number = 0;
  std::vector<Field>& fields = message.fields;
  fields.reserve(6);
  add(fields, "type", 0, Value(EnumName::borrowed("activity")));
  if (created) add(fields, "time_created", 4, timestamp(*created), "s");
  if (device) {
    append_manufacturer(fields, 1, *device);
    append_product(fields, 2, *device, texts);
    if (device->serial_number) {
      add(fields, "serial_number", 3, unsigned_value(*device->serial_number));
    }
    if (texts.product_name) add(fields, "product_name", 8, Value(std::string(*texts.product_name)));
  }
  return message;
}

Message device_info(const std::optional<UtcInstant>& created, const DeviceInfo& device,
                    const DeviceTexts& texts) {
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
  append_product(fields, 4, device, texts);
  if (device.software_version) add(fields, "software_version", 5, Value(*device.software_version));
  if (device.source_type) {
    add(fields, "source_type", 25, Value(EnumName::owned(*device.source_type)));
  }
  if (texts.product_name) add(fields, "product_name", 27, Value(std::string(*texts.product_name)));
  return message;
}

Message record(const TrackPoint& point, Omissions& omitted) {
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
  add_position(fields, "position_lat", 0, point.latitude, &omitted);
  add_position(fields, "position_long", 1, point.longitude, &omitted);
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

// A recorded ascent or descent that no field holds: NaN, or below zero.
void count_unwritten_total(const std::optional<double>& recorded, Omissions& omitted) {
  if (!recorded || *recorded >= 0.0) return;
  omitted.add(std::isnan(*recorded) ? Omission::NotFinite : Omission::OutOfRange);
}

Message session(const Activity& activity, const Totals& totals, Omissions& omitted) {
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
  if (const auto sport = sport::to_fit(activity.sport)) {
    add(fields, "sport", 5, Value(EnumName::borrowed(*sport)));
  } else if (activity.sport) {
    omitted.add(Omission::UnknownName);
  }
  if (activity.sub_sport) add(fields, "sub_sport", 6, Value(EnumName::owned(*activity.sub_sport)));
  if (activity.name) {
    const std::string_view name = fitting_text(*activity.name);
    if (name.size() != activity.name->size()) omitted.add(Omission::Shortened);
    add(fields, "sport_profile_name", 110, Value(std::string(name)));
  }
  if (summary.total_moving_seconds) {
    add(fields, "total_moving_time", 59, Value(*summary.total_moving_seconds), "s");
  }
  std::optional<double> speed = summary.average_speed_mps;
  if (!speed && totals.timer > 0.0) speed = totals.distance / totals.timer;
  if (speed) add(fields, "enhanced_avg_speed", 124, Value(*speed), "m/s");
  if (const auto heart_rate = activity.average_heart_rate()) {
    if (const auto bpm = rounded(*heart_rate, 254.0)) {
      add(fields, "avg_heart_rate", 16, unsigned_value(*bpm), "bpm");
    } else {
      omitted.add(Omission::NotFinite);
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
  count_unwritten_total(summary.total_ascent_meters, omitted);
  count_unwritten_total(summary.total_descent_meters, omitted);
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

// What a FIT file cannot say of an activity without a start and an end: it gets records but
// no session, so its name, sport and totals are left out.
void count_untimed(const Activity& activity, Omissions& omitted) {
  const ActivitySummary& summary = activity.summary;
  const std::size_t values =
      activity.name.has_value() + activity.sport.has_value() + activity.sub_sport.has_value() +
      activity.start_time.has_value() + summary.total_elapsed_seconds.has_value() +
      summary.total_timer_seconds.has_value() + summary.total_moving_seconds.has_value() +
      summary.total_distance_meters.has_value() + summary.average_speed_mps.has_value() +
      summary.average_heart_rate_bpm.has_value() + summary.total_ascent_meters.has_value() +
      summary.total_descent_meters.has_value();
  omitted.add(Omission::UntimedActivity, values);
}

Omission omission_for(::fit::Loss loss) {
  switch (loss) {
    case ::fit::Loss::NotFinite:
      return Omission::NotFinite;
    case ::fit::Loss::OutOfRange:
      return Omission::OutOfRange;
    case ::fit::Loss::UnknownName:
      return Omission::UnknownName;
  }
  return Omission::OutOfRange;
}

// Whether a session field the encoder could not write holds a value of the model, rather than a
// figure derived from values counted where they stand (times and totals from the points).
bool from_model(const Activity& activity, std::uint8_t number) {
  const ActivitySummary& summary = activity.summary;
  switch (number) {
    case 2:
      return activity.start_time.has_value();
    case 6:
      return true;  // sub_sport
    case 7:
      return summary.total_elapsed_seconds.has_value();
    case 8:
      return summary.total_timer_seconds.has_value();
    case 9:
      return summary.total_distance_meters.has_value();
    case 59:
      return true;  // total_moving_time
    case 124:
      return summary.average_speed_mps.has_value();
    default:
      return false;
  }
}

// Values the encoder wrote as invalid, each model value once: device_info repeats file_id's
// manufacturer, serial number, product and product name, the lap and activity messages repeat
// the session's figures, and the file's creation time is the first activity's start.
void count_lost(const ActivityFile& file, std::span<const Message> messages,
                std::span<const ::fit::LostValue> lost, Omissions& omitted) {
  // Sessions stand in the order of the activities that have a start and an end; the losses in
  // the order of their messages.
  std::size_t scanned = 0;
  auto next = file.activities.begin();
  const Activity* current = nullptr;
  const auto session_activity = [&](std::size_t message) {
    for (; scanned <= message; ++scanned) {
      if (messages[scanned].global_number != 18) continue;
      while (!totals(*next)) ++next;
      current = &*next++;
    }
    return current;
  };
  for (const ::fit::LostValue& value : lost) {
    const Message& message = messages[value.message];
    const std::uint8_t number = message.fields[value.field].number;
    switch (message.global_number) {
      case 19:  // lap
      case 34:  // activity
        continue;
      case 0:  // file_id
        if (number == 4) continue;
        break;
      case 23:  // device_info
        if (number == 253 || number == 2 || number == 3 || number == 4 || number == 27) continue;
        break;
      case 18:  // session
        if (!from_model(*session_activity(value.message), number)) continue;
        break;
    }
    omitted.add(omission_for(value.reason));
  }
}

}  // namespace

std::vector<Message> activity_messages(const ActivityFile& file, Omissions* omissions) {
  Omissions unused;
  Omissions& omitted = omissions ? *omissions : unused;
  std::vector<Message> messages;
  // One record per point, three summaries per activity, file_id and device_info.
  messages.reserve(file.point_count() + 3 * file.activities.size() + 2);

  std::optional<UtcInstant> created;
  for (const Activity& activity : file.activities) {
    created = activity.effective_start_time();
    if (created) break;
  }
  DeviceTexts texts;
  if (file.device_info) texts = device_texts(*file.device_info, omitted);
  messages.push_back(file_id(created, file.device_info, texts));
  if (file.device_info) messages.push_back(device_info(created, *file.device_info, texts));

  for (const Activity& activity : file.activities) {
    for (const Segment& segment : activity.segments) {
      for (const TrackPoint& point : segment.points) messages.push_back(record(point, omitted));
    }
    const std::optional<Totals> summary = totals(activity);
    if (!summary) {
      count_untimed(activity, omitted);
      continue;
    }
    messages.push_back(lap(*summary));
    messages.push_back(session(activity, *summary, omitted));
    messages.push_back(activity_message(*summary));
  }
  return messages;
}

std::expected<std::string, Error> write(const ActivityFile& file, Omissions* omitted) {
  const std::vector<Message> messages = activity_messages(file, omitted);
  const ::fit::Encoder encoder(kProtocolVersion, kProfileVersion);
  std::vector<::fit::LostValue> lost;
  auto bytes = encoder.encode(messages, omitted ? &lost : nullptr);
  if (!bytes) {
    return std::unexpected(Error::encode(Format(Format::Fit).label(), bytes.error().display()));
  }
  if (omitted) count_lost(file, messages, lost, *omitted);
  return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

}  // namespace tramlix::fit_activity
