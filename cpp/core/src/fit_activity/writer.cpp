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
#include "fit/profile_numbers.hpp"
#include "fit_activity/fit_activity.hpp"
#include "geo.hpp"
#include "sport.hpp"
#include "text.hpp"
#include "tramlix/fields.hpp"
#include "tramlix/format.hpp"
#include "tramlix/omissions.hpp"
#include "tramlix/time.hpp"

namespace tramlix::fit_activity {
namespace {

constexpr std::uint8_t kProtocolVersion = 0x20;  // 2.0

using fit::EnumName;
using fit::Field;
using fit::Message;
using fit::Value;
using fit::profile::FieldId;
using fit::profile::MessageId;
namespace mesg = fit::profile::mesg;
namespace field = fit::profile::field;

Message new_message(MessageId id) {
  Message message;
  message.name = id.name;
  message.global_number = id.number;
  return message;
}

// Built in place: a large file has millions of fields.
void add(std::vector<Field>& fields, FieldId id, Value value, std::string_view units = {}) {
  Field& built = fields.emplace_back();
  built.name = id.name;
  built.units = units;
  built.has_units = !units.empty();
  built.value = std::move(value);
  built.number = id.number;
}

Value timestamp(UtcInstant instant) {
  return Value(fit::Timestamp{instant.seconds, instant.nanoseconds});
}

Value unsigned_value(std::uint64_t n) {
  return Value(n);
}

// Both coordinates share the longitude range: a latitude past 90 is kept as the model has it.
// The top of the range stops one short of 0x7FFFFFFF, the sint32 invalid marker (180 degrees
// would be 2^31, which does not fit at all): the last 2 cm before the antimeridian move west
// rather than lose the coordinate. NaN has no position and writes none (false).
bool semicircles(double degrees, std::int64_t& value) {
  if (degrees >= -180.0 && degrees <= 180.0) {
    value =
        std::min<std::int64_t>(fit::round_half_away(degrees * kSemicirclesPerDegree), 2147483646);
    return true;
  }
  if (std::isnan(degrees)) return false;
  constexpr double kLargest = 2147483646.0;
  value = static_cast<std::int64_t>(
      std::min(std::round(std::clamp(degrees, -180.0, 180.0) * kSemicirclesPerDegree), kLargest));
  return true;
}

// A NaN coordinate of a record is counted as left out; lap and session positions repeat a
// record's and are not counted again.
void add_position(std::vector<Field>& fields, FieldId id, const std::optional<double>& degrees,
                  Omissions* omitted = nullptr) {
  if (!degrees) return;
  if (std::int64_t value = 0; semicircles(*degrees, value)) {
    add(fields, id, Value(value), "semicircles");
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
    maker = fit::profile::enum_str_by_value("manufacturer", *device.manufacturer_id);
  } else if (device.manufacturer) {
    maker = *device.manufacturer;
  }
  const fit::profile::MessageInfo* message = fit::profile::mesg_info_by_num(mesg::kFileId.number);
  const fit::profile::FieldInfo* product =
      message ? message->field(field::file_id::kProduct.number) : nullptr;
  if (!maker || !product) return std::nullopt;
  for (const fit::profile::Subfield& subfield : product->subfields) {
    for (const fit::profile::SubfieldReference& reference : subfield.references) {
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
void append_product(std::vector<Field>& fields, FieldId product, const DeviceInfo& device,
                    const DeviceTexts& texts) {
  if (device.product_id) {
    add(fields, product, unsigned_value(*device.product_id));
  } else if (texts.product_subfield) {
    // The subfield by its own name, in its field's place.
    const FieldId subfield{*texts.product_subfield, product.number};
    add(fields, subfield, Value(EnumName::owned(*device.product)));
  }
}

// The manufacturer by its code when the model has one, else by its name.
void append_manufacturer(std::vector<Field>& fields, FieldId manufacturer,
                         const DeviceInfo& device) {
  if (device.manufacturer_id) {
    add(fields, manufacturer, unsigned_value(*device.manufacturer_id));
  } else if (device.manufacturer) {
    add(fields, manufacturer, Value(EnumName::owned(*device.manufacturer)));
  }
}

Message file_id(const std::optional<UtcInstant>& created, const std::optional<DeviceInfo>& device,
                const DeviceTexts& texts) {
  namespace f = field::file_id;
  Message message = new_message(mesg::kFileId);
  std::vector<Field>& fields = message.fields;
  fields.reserve(6);
  add(fields, f::kType, Value(EnumName::borrowed("activity")));
  if (created) add(fields, f::kTimeCreated, timestamp(*created), "s");
  if (device) {
    append_manufacturer(fields, f::kManufacturer, *device);
    append_product(fields, f::kProduct, *device, texts);
    if (device->serial_number) {
      add(fields, f::kSerialNumber, unsigned_value(*device->serial_number));
    }
    if (texts.product_name) add(fields, f::kProductName, Value(std::string(*texts.product_name)));
  }
  return message;
}

Message device_info(const std::optional<UtcInstant>& created, const DeviceInfo& device,
                    const DeviceTexts& texts) {
  namespace f = field::device_info;
  Message message = new_message(mesg::kDeviceInfo);
  std::vector<Field>& fields = message.fields;
  fields.reserve(8);
  if (created) add(fields, f::kTimestamp, timestamp(*created), "s");
  // This message describes the device that file_id names as the file's creator, and readers
  // take a device_info with another index for a sensor of that device: an index other than 0
  // ("creator") is left out rather than have the recorder's version and source disowned.
  if (device.device_index == 0) add(fields, f::kDeviceIndex, unsigned_value(0));
  append_manufacturer(fields, f::kManufacturer, device);
  if (device.serial_number) add(fields, f::kSerialNumber, unsigned_value(*device.serial_number));
  append_product(fields, f::kProduct, device, texts);
  if (device.software_version) add(fields, f::kSoftwareVersion, Value(*device.software_version));
  if (device.source_type) add(fields, f::kSourceType, Value(EnumName::owned(*device.source_type)));
  if (texts.product_name) add(fields, f::kProductName, Value(std::string(*texts.product_name)));
  return message;
}

Message record(const TrackPoint& point, Omissions& omitted) {
  namespace f = field::record;
  Message message = new_message(mesg::kRecord);
  std::vector<Field>& fields = message.fields;
  // Exactly the fields present: a record list is most of the memory a large file takes.
  std::size_t present = 0;
  for_each_field<TrackPoint>([&](const auto& d) { present += (point.*d.member).has_value(); });
  fields.reserve(present);
  if (point.time) add(fields, f::kTimestamp, timestamp(*point.time), "s");
  add_position(fields, f::kPositionLat, point.latitude, &omitted);
  add_position(fields, f::kPositionLong, point.longitude, &omitted);
  if (point.elevation_m) add(fields, f::kAltitude, Value(*point.elevation_m), "m");
  if (point.heart_rate_bpm) {
    add(fields, f::kHeartRate, unsigned_value(*point.heart_rate_bpm), "bpm");
  }
  if (point.cadence_rpm) add(fields, f::kCadence, unsigned_value(*point.cadence_rpm), "rpm");
  if (point.distance_m) add(fields, f::kDistance, Value(*point.distance_m), "m");
  if (point.speed_mps) add(fields, f::kSpeed, Value(*point.speed_mps), "m/s");
  if (point.power_watts) add(fields, f::kPower, unsigned_value(*point.power_watts), "watts");
  if (point.temperature_c) {
    add(fields, f::kTemperature, Value(static_cast<std::int64_t>(*point.temperature_c)), "C");
  }
  return message;
}

// The position of `point`, when there is one: a start or end position of a lap or session.
void add_position(std::vector<Field>& fields, FieldId latitude, FieldId longitude,
                  const TrackPoint* point) {
  if (!point) return;
  add_position(fields, latitude, point->latitude);
  add_position(fields, longitude, point->longitude);
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

// A lap's start and end positions are those of the first and last points that have one.
Message lap(const Totals& totals) {
  namespace f = field::lap;
  Message message = new_message(mesg::kLap);
  std::vector<Field>& fields = message.fields;
  fields.reserve(9);
  add(fields, f::kTimestamp, timestamp(totals.end), "s");
  add(fields, f::kStartTime, timestamp(totals.start), "s");
  add(fields, f::kTotalElapsedTime, Value(totals.elapsed), "s");
  // A lap's timer is its elapsed time: the model keeps no pauses per lap.
  add(fields, f::kTotalTimerTime, Value(totals.elapsed), "s");
  add(fields, f::kTotalDistance, Value(totals.distance), "m");
  add_position(fields, f::kStartPositionLat, f::kStartPositionLong, totals.first_positioned);
  add_position(fields, f::kEndPositionLat, f::kEndPositionLong, totals.last_positioned);
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

// A session's start position is that of the first point that has one.
Message session(const Activity& activity, const Totals& totals, Omissions& omitted) {
  namespace f = field::session;
  const ActivitySummary& summary = activity.summary;
  Message message = new_message(mesg::kSession);
  std::vector<Field>& fields = message.fields;
  fields.reserve(15);
  add(fields, f::kTimestamp, timestamp(totals.end), "s");
  add(fields, f::kStartTime, timestamp(totals.start), "s");
  add(fields, f::kTotalElapsedTime, Value(totals.elapsed), "s");
  add(fields, f::kTotalTimerTime, Value(totals.timer), "s");
  add(fields, f::kTotalDistance, Value(totals.distance), "m");
  if (const auto sport = sport::to_fit(activity.sport)) {
    add(fields, f::kSport, Value(EnumName::borrowed(*sport)));
  } else if (activity.sport) {
    omitted.add(Omission::UnknownName);
  }
  if (activity.sub_sport) add(fields, f::kSubSport, Value(EnumName::owned(*activity.sub_sport)));
  if (activity.name) {
    const std::string_view name = fitting_text(*activity.name);
    if (name.size() != activity.name->size()) omitted.add(Omission::Shortened);
    add(fields, f::kSportProfileName, Value(std::string(name)));
  }
  if (summary.total_moving_seconds) {
    add(fields, f::kTotalMovingTime, Value(*summary.total_moving_seconds), "s");
  }
  std::optional<double> speed = summary.average_speed_mps;
  if (!speed && totals.timer > 0.0) speed = totals.distance / totals.timer;
  if (speed) add(fields, f::kEnhancedAvgSpeed, Value(*speed), "m/s");
  if (const auto heart_rate = activity.average_heart_rate()) {
    if (const auto bpm = rounded(*heart_rate, 254.0)) {
      add(fields, f::kAvgHeartRate, unsigned_value(*bpm), "bpm");
    } else {
      omitted.add(Omission::NotFinite);
    }
  }
  // Summary totals win over the points; a summary descent alone computes no ascent.
  const ElevationGain gain = activity.elevation_gain();
  if (gain.uphill_meters > 0.0) {
    add(fields, f::kTotalAscent, unsigned_value(*rounded(gain.uphill_meters, 65534.0)), "m");
  }
  if (gain.downhill_meters > 0.0) {
    add(fields, f::kTotalDescent, unsigned_value(*rounded(gain.downhill_meters, 65534.0)), "m");
  }
  count_unwritten_total(summary.total_ascent_meters, omitted);
  count_unwritten_total(summary.total_descent_meters, omitted);
  add_position(fields, f::kStartPositionLat, f::kStartPositionLong, totals.first_positioned);
  return message;
}

// One session per activity message, even when the file holds several activities.
Message activity_message(const Totals& totals) {
  namespace f = field::activity;
  Message message = new_message(mesg::kActivity);
  message.fields.reserve(3);
  add(message.fields, f::kTimestamp, timestamp(totals.end), "s");
  add(message.fields, f::kTotalTimerTime, Value(totals.timer), "s");
  add(message.fields, f::kNumSessions, unsigned_value(1));
  return message;
}

// What a FIT file cannot say of an activity without a start and an end: it gets records but
// no session, so its name, sport and totals are left out.
void count_untimed(const Activity& activity, Omissions& omitted) {
  std::size_t values = activity.name.has_value() + activity.sport.has_value() +
                       activity.sub_sport.has_value() + activity.start_time.has_value();
  for_each_field<ActivitySummary>(
      [&](const auto& total) { values += (activity.summary.*total.member).has_value(); });
  omitted.add(Omission::UntimedActivity, values);
}

Omission omission_for(fit::Loss loss) {
  switch (loss) {
    case fit::Loss::NotFinite:
      return Omission::NotFinite;
    case fit::Loss::OutOfRange:
      return Omission::OutOfRange;
    case fit::Loss::UnknownName:
      return Omission::UnknownName;
  }
  return Omission::OutOfRange;
}

// Whether a session field the encoder could not write holds a value of the model, rather than a
// figure derived from values counted where they stand (times and totals from the points).
bool from_model(const Activity& activity, std::uint8_t number) {
  namespace f = field::session;
  const ActivitySummary& summary = activity.summary;
  switch (number) {
    case f::kStartTime.number:
      return activity.start_time.has_value();
    case f::kSubSport.number:
      return true;
    case f::kTotalElapsedTime.number:
      return summary.total_elapsed_seconds.has_value();
    case f::kTotalTimerTime.number:
      return summary.total_timer_seconds.has_value();
    case f::kTotalDistance.number:
      return summary.total_distance_meters.has_value();
    case f::kTotalMovingTime.number:
      return true;
    case f::kEnhancedAvgSpeed.number:
      return summary.average_speed_mps.has_value();
    default:
      return false;
  }
}

// Values the encoder wrote as invalid, each model value once: device_info repeats file_id's
// manufacturer, serial number, product and product name, the lap and activity messages repeat
// the session's figures, and the file's creation time is the first activity's start.
void count_lost(const ActivityFile& file, std::span<const Message> messages,
                std::span<const fit::LostValue> lost, Omissions& omitted) {
  // Sessions stand in the order of the activities that have a start and an end; the losses in
  // the order of their messages.
  std::size_t scanned = 0;
  auto next = file.activities.begin();
  const Activity* current = nullptr;
  const auto session_activity = [&](std::size_t message) {
    for (; scanned <= message; ++scanned) {
      if (messages[scanned].global_number != mesg::kSession.number) continue;
      while (!totals(*next)) ++next;
      current = &*next++;
    }
    return current;
  };
  for (const fit::LostValue& value : lost) {
    const Message& message = messages[value.message];
    const std::uint8_t number = message.fields[value.field].number;
    switch (message.global_number) {
      case mesg::kLap.number:
      case mesg::kActivity.number:
        continue;
      case mesg::kFileId.number:
        if (number == field::file_id::kTimeCreated.number) continue;
        break;
      case mesg::kDeviceInfo.number: {
        namespace f = field::device_info;
        if (number == f::kTimestamp.number || number == f::kManufacturer.number ||
            number == f::kSerialNumber.number || number == f::kProduct.number ||
            number == f::kProductName.number) {
          continue;
        }
        break;
      }
      case mesg::kSession.number:
        if (!from_model(*session_activity(value.message), number)) continue;
        break;
    }
    omitted.add(omission_for(value.reason));
  }
}

// The record fields of a point, in the order written.
enum RecordField {
  kTime,
  kLatitude,
  kLongitude,
  kAltitude,
  kHeartRate,
  kCadence,
  kDistance,
  kSpeed,
  kPower,
  kTemperature,
  kRecordFieldCount
};

// How the encoder writes each record field, as the profile describes it (its base type, scale
// and offset): fixed here so that every conversion compiles to a few instructions. Writing the
// same points through the encoder's messages gives the same bytes.
struct RecordEncoding {
  std::uint8_t number;
  std::uint8_t code;
  double scale = 1.0;
  double offset = 0.0;
  bool scaled = false;
};
constexpr RecordEncoding kRecordEncodings[kRecordFieldCount] = {
    {field::record::kTimestamp.number, fit::base_type::kUint32},
    {field::record::kPositionLat.number, fit::base_type::kSint32},
    {field::record::kPositionLong.number, fit::base_type::kSint32},
    {field::record::kAltitude.number, fit::base_type::kUint16, 5.0, 500.0, true},
    {field::record::kHeartRate.number, fit::base_type::kUint8},
    {field::record::kCadence.number, fit::base_type::kUint8},
    {field::record::kDistance.number, fit::base_type::kUint32, 100.0, 0.0, true},
    {field::record::kSpeed.number, fit::base_type::kUint16, 1000.0, 0.0, true},
    {field::record::kPower.number, fit::base_type::kUint16},
    {field::record::kTemperature.number, fit::base_type::kSint8},
};
constexpr std::uint8_t size_of(RecordField field) {
  return fit::base_type::kElementSize[kRecordEncodings[field].code];
}

// Records written straight from the points, field by field as the encoder writes record(point):
// one layout per combination of fields present.
class RecordWriter {
 public:
  RecordWriter(fit::FileEncoder& encoder, Omissions& omitted)
      : encoder_(encoder), omitted_(omitted) {
    layouts_.fill(kNoLayout);
  }

  void write(const TrackPoint& point) {
    // The fields present, in the order of record(), as bits from the lowest.
    std::int64_t latitude = 0;
    std::int64_t longitude = 0;
    const bool has_latitude = position(point.latitude, latitude);
    const bool has_longitude = position(point.longitude, longitude);
    const unsigned present = unsigned{point.time.has_value()} |
                             unsigned{has_latitude} << kLatitude |
                             unsigned{has_longitude} << kLongitude |
                             unsigned{point.elevation_m.has_value()} << kAltitude |
                             unsigned{point.heart_rate_bpm.has_value()} << kHeartRate |
                             unsigned{point.cadence_rpm.has_value()} << kCadence |
                             unsigned{point.distance_m.has_value()} << kDistance |
                             unsigned{point.speed_mps.has_value()} << kSpeed |
                             unsigned{point.power_watts.has_value()} << kPower |
                             unsigned{point.temperature_c.has_value()} << kTemperature;
    std::uint8_t* to = encoder_.write_record(layout(present));
    if (point.time) {
      integer<kTime>(to, std::int64_t{point.time->seconds} - fit::kFitEpochUnixSeconds);
    }
    if (has_latitude) integer<kLatitude>(to, latitude);
    if (has_longitude) integer<kLongitude>(to, longitude);
    if (point.elevation_m) number<kAltitude>(to, *point.elevation_m);
    if (point.heart_rate_bpm) integer<kHeartRate>(to, *point.heart_rate_bpm);
    if (point.cadence_rpm) integer<kCadence>(to, *point.cadence_rpm);
    if (point.distance_m) number<kDistance>(to, *point.distance_m);
    if (point.speed_mps) number<kSpeed>(to, *point.speed_mps);
    if (point.power_watts) integer<kPower>(to, *point.power_watts);
    if (point.temperature_c) integer<kTemperature>(to, *point.temperature_c);
  }

  // The most a point's record takes, header included.
  static constexpr std::size_t largest_record() {
    std::size_t size = 1;
    for (std::size_t i = 0; i < kRecordFieldCount; ++i) {
      size += size_of(static_cast<RecordField>(i));
    }
    return size;
  }

 private:
  static constexpr std::size_t kNoLayout = ~std::size_t{0};

  std::size_t layout(unsigned present) {
    std::size_t& id = layouts_[present];
    if (id == kNoLayout) {
      std::vector<fit::LayoutField> fields;
      for (std::size_t i = 0; i < kRecordFieldCount; ++i) {
        if (present & (1u << i)) {
          fields.push_back({kRecordEncodings[i].number, size_of(static_cast<RecordField>(i)),
                            kRecordEncodings[i].code});
        }
      }
      id = encoder_.define_layout(mesg::kRecord.number, fields);
    }
    return id;
  }

  // A NaN coordinate is left out, and counted.
  bool position(const std::optional<double>& degrees, std::int64_t& value) {
    if (!degrees) return false;
    if (semicircles(*degrees, value)) return true;
    omitted_.add(Omission::NotFinite);
    return false;
  }

  template <RecordField field>
  void integer(std::uint8_t*& to, std::int64_t value) {
    if (const auto loss = fit::store_integer(to, value, kRecordEncodings[field].code)) {
      omitted_.add(omission_for(*loss));
    }
    to += size_of(field);
  }

  template <RecordField field>
  void number(std::uint8_t*& to, double value) {
    constexpr RecordEncoding encoding = kRecordEncodings[field];
    if (const auto loss = fit::store_number(to, value, encoding.code, encoding.scaled,
                                            encoding.scale, encoding.offset)) {
      omitted_.add(omission_for(*loss));
    }
    to += size_of(field);
  }

  fit::FileEncoder& encoder_;
  Omissions& omitted_;
  std::array<std::size_t, 1u << kRecordFieldCount> layouts_;
};

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

std::expected<std::string, Error> write(const ActivityFile& file, Omissions* omissions) {
  Omissions unused;
  Omissions& omitted = omissions ? *omissions : unused;
  const auto failed = [](const fit::FitError& error) {
    return std::unexpected(Error::encode(Format(Format::Fit).label(), error.display()));
  };

  // Reserved once: every point's record at its largest, with room for the definitions and the
  // other messages (pages of a reservation that are never written cost nothing). Only points
  // that change their fields often make the buffer grow.
  fit::OutputStream out;
  out.reserve(file.point_count() * RecordWriter::largest_record() + 65536 +
              4096 * file.activities.size());
  std::vector<fit::LostValue> lost;
  fit::FileEncoder encoder(out, kProtocolVersion, fit::profile::kProfileVersion, &lost);
  // The messages other than records, in the order written: what lost values point into.
  std::vector<Message> messages;
  const auto write_message = [&](Message message) -> std::optional<fit::FitError> {
    messages.push_back(std::move(message));
    if (auto written = encoder.write(messages.back()); !written) return written.error();
    return std::nullopt;
  };

  std::optional<UtcInstant> created;
  for (const Activity& activity : file.activities) {
    created = activity.effective_start_time();
    if (created) break;
  }
  DeviceTexts texts;
  if (file.device_info) texts = device_texts(*file.device_info, omitted);
  if (auto error = write_message(file_id(created, file.device_info, texts))) return failed(*error);
  if (file.device_info) {
    if (auto error = write_message(device_info(created, *file.device_info, texts))) {
      return failed(*error);
    }
  }

  RecordWriter records(encoder, omitted);
  for (const Activity& activity : file.activities) {
    for (const Segment& segment : activity.segments) {
      for (const TrackPoint& point : segment.points) records.write(point);
    }
    const std::optional<Totals> summary = totals(activity);
    if (!summary) {
      count_untimed(activity, omitted);
      continue;
    }
    if (auto error = write_message(lap(*summary))) return failed(*error);
    if (auto error = write_message(session(activity, *summary, omitted))) return failed(*error);
    if (auto error = write_message(activity_message(*summary))) return failed(*error);
  }
  if (auto finished = encoder.finish(); !finished) return failed(finished.error());
  if (omissions) count_lost(file, messages, lost, omitted);
  return out.take_string();
}

}  // namespace tramlix::fit_activity

namespace tramlix::fit_activity {

std::expected<std::string, Error> write_messages(const ActivityFile& file, Omissions* omitted) {
  const std::vector<Message> messages = activity_messages(file, omitted);
  const fit::Encoder encoder(kProtocolVersion, fit::profile::kProfileVersion);
  std::vector<fit::LostValue> lost;
  auto bytes = encoder.encode(messages, omitted ? &lost : nullptr);
  if (!bytes) {
    return std::unexpected(Error::encode(Format(Format::Fit).label(), bytes.error().display()));
  }
  if (omitted) count_lost(file, messages, lost, *omitted);
  return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

}  // namespace tramlix::fit_activity
