#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "fit/decoder.hpp"
#include "fit/field_reader.hpp"
#include "fit/framing.hpp"
#include "fit/profile_numbers.hpp"
#include "fit/typed_decoder.hpp"
#include "fit_activity/fit_activity.hpp"
#include "reading.hpp"
#include "text.hpp"
#include "tramlix/format.hpp"
#include "tramlix/time.hpp"

namespace tramlix::fit_activity {
namespace {

constexpr Format kFormat = Format::Fit;

using fit::Value;

// The conversions below take a Value of a decoded message or a Number read straight from the
// bytes (which answers get<T>() alike), so that both ways to a point follow one set of rules.

template <class V>
[[gnu::always_inline]] inline std::optional<double> numeric(const V& value) {
  if (const auto* n = value.template get<std::int64_t>()) return static_cast<double>(*n);
  if (const auto* n = value.template get<std::uint64_t>()) return static_cast<double>(*n);
  if (const auto* n = value.template get<double>()) return *n;
  return std::nullopt;
}

template <class V>
[[gnu::always_inline]] inline std::optional<std::uint64_t> non_negative_integer(const V& value) {
  if (const auto* n = value.template get<std::uint64_t>()) return *n;
  const auto* n = value.template get<std::int64_t>();
  if (n && *n >= 0) return static_cast<std::uint64_t>(*n);
  return std::nullopt;
}

template <class T, class V>
std::optional<T> unsigned_up_to(const V& value, std::uint64_t max) {
  const auto n = non_negative_integer(value);
  if (!n || *n > max) return std::nullopt;
  return static_cast<T>(*n);
}

template <class V>
std::optional<std::uint16_t> unsigned16(const V& value) {
  return unsigned_up_to<std::uint16_t>(value, std::numeric_limits<std::uint16_t>::max());
}

template <class V>
[[gnu::always_inline]] inline std::optional<std::int16_t> signed16(const V& value) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int16_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int16_t>::max();
  if (const auto* n = value.template get<std::int64_t>(); n && *n >= kMin && *n <= kMax) {
    return static_cast<std::int16_t>(*n);
  }
  if (const auto* n = value.template get<std::uint64_t>();
      n && *n <= static_cast<std::uint64_t>(kMax)) {
    return static_cast<std::int16_t>(*n);
  }
  return std::nullopt;
}

std::optional<std::string_view> text_view(const Value& value) {
  if (const auto* s = value.get<std::string>()) return *s;
  if (const auto* e = value.get<fit::EnumName>()) return e->view();
  return std::nullopt;
}

// Decoded strings are valid UTF-8 already; a message built by a caller may hold anything.
std::optional<std::string> text(const Value& value) {
  const auto view = text_view(value);
  if (!view) return std::nullopt;
  return is_valid_utf8(*view) ? std::string(*view) : utf8_lossy(*view);
}

template <class V>
[[gnu::always_inline]] inline std::optional<UtcInstant> timestamp(const V& value) {
  const auto* t = value.template get<fit::Timestamp>();
  if (!t) return std::nullopt;
  constexpr std::uint32_t kNanosPerSecond = 1'000'000'000;
  const std::int64_t carry = t->nanoseconds / kNanosPerSecond;
  if (t->unix_seconds > std::numeric_limits<std::int64_t>::max() - carry) return std::nullopt;
  return UtcInstant{t->unix_seconds + carry, t->nanoseconds % kNanosPerSecond};
}

template <class V>
std::optional<double> degrees(const V& value) {
  const auto semicircles = numeric(value);
  if (!semicircles) return std::nullopt;
  return *semicircles / kSemicirclesPerDegree;
}

// The record fields a point is made of, by their profile names (in the order of PointField).
enum class PointField : std::uint8_t {
  Timestamp,
  PositionLat,
  PositionLong,
  Altitude,
  EnhancedAltitude,
  Distance,
  Speed,
  EnhancedSpeed,
  HeartRate,
  Cadence,
  Power,
  Temperature,
};
constexpr std::string_view kPointFields[] = {
    "timestamp",         "position_lat", "position_long", "altitude",
    "enhanced_altitude", "distance",     "speed",         "enhanced_speed",
    "heart_rate",        "cadence",      "power",         "temperature",
};

// Runs for every field of every record decoded in full: dispatch on the name's length, then
// compare.
std::optional<PointField> point_field(std::string_view name) {
  const auto is = [&](PointField field) {
    return name == kPointFields[static_cast<std::size_t>(field)] ? std::optional(field)
                                                                 : std::nullopt;
  };
  switch (name.size()) {
    case 5:
      return name[0] == 's' ? is(PointField::Speed) : is(PointField::Power);
    case 7:
      return is(PointField::Cadence);
    case 8:
      return name[0] == 'a' ? is(PointField::Altitude) : is(PointField::Distance);
    case 9:
      return is(PointField::Timestamp);
    case 10:
      return is(PointField::HeartRate);
    case 11:
      return is(PointField::Temperature);
    case 12:
      return is(PointField::PositionLat);
    case 13:
      return is(PointField::PositionLong);
    case 14:
      return is(PointField::EnhancedSpeed);
    case 17:
      return is(PointField::EnhancedAltitude);
  }
  return std::nullopt;
}

// A record field onto its point: a value of the wrong kind clears the target, and the plain
// speed and altitude win over their enhanced_ counterparts whenever they hold a number (the
// enhanced value only fills a gap).
template <class V>
[[gnu::always_inline]] inline void set_point_field(TrackPoint& point, PointField field,
                                                   const V& value) {
  switch (field) {
    case PointField::Timestamp:
      point.time = timestamp(value);
      break;
    case PointField::PositionLat:
      point.latitude = degrees(value);
      break;
    case PointField::PositionLong:
      point.longitude = degrees(value);
      break;
    case PointField::Altitude:
      point.elevation_m = numeric(value);
      break;
    case PointField::EnhancedAltitude:
      if (!point.elevation_m) point.elevation_m = numeric(value);
      break;
    case PointField::Distance:
      point.distance_m = numeric(value);
      break;
    case PointField::Speed:
      point.speed_mps = numeric(value);
      break;
    case PointField::EnhancedSpeed:
      if (!point.speed_mps) point.speed_mps = numeric(value);
      break;
    case PointField::HeartRate:
      point.heart_rate_bpm = unsigned16(value);
      break;
    case PointField::Cadence:
      point.cadence_rpm = unsigned16(value);
      break;
    case PointField::Power:
      point.power_watts = unsigned16(value);
      break;
    case PointField::Temperature:
      point.temperature_c = signed16(value);
      break;
  }
}

// Fields worth a look: a developer field has a name of its author's choosing, which may
// collide with a profile name, and an invalid marker means the field was not recorded.
bool carried(const fit::Field& field) {
  return !field.developer && !field.value.is_invalid();
}

// Which of an activity's fields a session carries: one bit each, the totals' after these.
enum SessionTarget : std::uint16_t {
  kSport = 1 << 0,
  kSubSport = 1 << 1,
  kName = 1 << 2,
  kStartTime = 1 << 3,
};

// The session totals of the model by their FIT field; both average speeds fill one total.
struct SessionTotal {
  std::string_view field;
  std::optional<double> ActivitySummary::*total;
};
constexpr SessionTotal kSessionTotals[] = {
    {"total_elapsed_time", &ActivitySummary::total_elapsed_seconds},
    {"total_timer_time", &ActivitySummary::total_timer_seconds},
    {"total_moving_time", &ActivitySummary::total_moving_seconds},
    {"total_distance", &ActivitySummary::total_distance_meters},
    {"avg_speed", &ActivitySummary::average_speed_mps},
    {"enhanced_avg_speed", &ActivitySummary::average_speed_mps},
    {"avg_heart_rate", &ActivitySummary::average_heart_rate_bpm},
    {"total_ascent", &ActivitySummary::total_ascent_meters},
    {"total_descent", &ActivitySummary::total_descent_meters},
};
constexpr std::uint16_t total_bit(std::size_t index) {
  return static_cast<std::uint16_t>(1u << (4 + index));
}

std::optional<std::uint8_t> device_index(const Value& value) {
  if (const auto view = text_view(value)) {
    return *view == "creator" ? std::optional<std::uint8_t>(0) : std::nullopt;
  }
  return unsigned_up_to<std::uint8_t>(value, 255);
}

// A device_info message speaks of the recording device when its device index is 0 ("creator")
// or it has none; heart-rate straps, power meters and other sensors have indexes of their own.
bool describes_creator(const fit::Message& message) {
  for (const fit::Field& field : message.fields) {
    if (carried(field) && field.name == "device_index") return device_index(field.value) == 0;
  }
  return true;
}

// Overwrites `device` with the recognised fields of a file_id or device_info message; whether
// there was any.
bool apply_device_fields(const fit::Message& message, DeviceInfo& device) {
  bool recognised = false;
  for (const fit::Field& field : message.fields) {
    if (!carried(field)) continue;
    const std::string_view name = field.name;
    const Value& value = field.value;
    if (name == "manufacturer") {
      device.manufacturer = text(value);
      if (non_negative_integer(value)) {
        device.manufacturer_id = unsigned16(value);
      } else if (device.manufacturer == "garmin") {
        device.manufacturer_id = 1;
      } else {
        device.manufacturer_id.reset();
      }
    } else if (name == "product" || name == "garmin_product" || name == "favero_product") {
      device.product = text(value);
      device.product_id = unsigned16(value);
    } else if (name == "product_name") {
      device.product_name = text(value);
    } else if (name == "serial_number") {
      device.serial_number =
          unsigned_up_to<std::uint32_t>(value, std::numeric_limits<std::uint32_t>::max());
    } else if (name == "software_version") {
      device.software_version = numeric(value);
    } else if (name == "device_index") {
      device.device_index = device_index(value);
    } else if (name == "source_type") {
      device.source_type = text(value);
    } else {
      continue;
    }
    recognised = true;
  }
  return recognised;
}

}  // namespace

bool ActivityMapper::reads(std::uint16_t global_number) {
  namespace mesg = fit::profile::mesg;
  return global_number == mesg::kRecord.number || global_number == mesg::kSession.number ||
         global_number == mesg::kFileId.number || global_number == mesg::kDeviceInfo.number;
}

std::span<const std::string_view> ActivityMapper::record_fields() {
  return kPointFields;
}

void ActivityMapper::add(const fit::Message& message) {
  const std::string_view name = message.name;
  switch (name.size()) {
    case 6:
      if (name == "record") add_record(message);
      break;
    case 7:
      if (name == "session") {
        add_session(message);
      } else if (name == "file_id") {
        add_device(message, true);
      }
      break;
    case 11:
      if (name == "device_info") add_device(message, describes_creator(message));
      break;
  }
}

TrackPoint& ActivityMapper::new_point() {
  if (!sessions_.empty()) close_sessions();
  return points_.emplace_back();
}

void ActivityMapper::add_record(const fit::Message& message) {
  TrackPoint& point = new_point();
  for (const fit::Field& field : message.fields) {
    if (!carried(field)) continue;
    if (const auto target = point_field(field.name)) set_point_field(point, *target, field.value);
  }
}

[[gnu::flatten]] void ActivityMapper::add_record(fit::FieldReader& records,
                                                 const fit::RawRecord& record,
                                                 fit::TypedDecoder& decoder) {
  TrackPoint& point = new_point();
  // Compiled into each kind of field the reader reads, so that its kind of number is known.
  records.read(record, decoder,
               [&] [[gnu::always_inline]] (std::uint8_t field, const fit::Number& value) {
                 set_point_field(point, static_cast<PointField>(field), value);
               });
}

void ActivityMapper::add_session(const fit::Message& message) {
  Session& session = sessions_.emplace_back();
  Activity& values = session.values;
  const auto set = [&](std::uint16_t target, auto& field, auto value) {
    field = std::move(value);
    session.carried |= target;
  };
  for (const fit::Field& field : message.fields) {
    if (!carried(field)) continue;
    const std::string_view name = field.name;
    const Value& value = field.value;
    if (name == "sport") {
      set(kSport, values.sport, text(value));
    } else if (name == "sub_sport") {
      set(kSubSport, values.sub_sport, text(value));
    } else if (name == "sport_profile_name") {
      set(kName, values.name, text(value));
    } else if (name == "start_time") {
      set(kStartTime, values.start_time, timestamp(value));
    } else {
      for (std::size_t i = 0; i < std::size(kSessionTotals); ++i) {
        if (name != kSessionTotals[i].field) continue;
        set(total_bit(i), values.summary.*kSessionTotals[i].total, numeric(value));
        break;
      }
    }
  }
  // With no points to share out, it can only hand its values on (a session before its records).
  if (points_.empty()) {
    apply(session);
    sessions_.pop_back();
  }
}

void ActivityMapper::apply(const Session& session) {
  const auto copy = [&](std::uint16_t target, auto member) {
    if (session.carried & target) current_.*member = session.values.*member;
  };
  copy(kSport, &Activity::sport);
  copy(kSubSport, &Activity::sub_sport);
  copy(kName, &Activity::name);
  copy(kStartTime, &Activity::start_time);
  for (std::size_t i = 0; i < std::size(kSessionTotals); ++i) {
    const auto total = kSessionTotals[i].total;
    if (session.carried & total_bit(i)) current_.summary.*total = session.values.summary.*total;
  }
}

// Sessions written together, after the records they sum up, cannot each close the points before
// them: when all of them know their start, the points are shared out by time instead. Otherwise
// each session in turn closes what is pending, the first all of it.
[[gnu::noinline]] void ActivityMapper::close_sessions() {
  const bool by_time =
      sessions_.size() > 1 && std::ranges::all_of(sessions_, [](const Session& session) {
        return session.values.start_time.has_value();
      });
  if (by_time) {
    split_by_start_time();
  } else {
    for (const Session& session : sessions_) {
      apply(session);
      finish_activity();
    }
  }
  sessions_.clear();
}

// In order of start time, each session takes the points from its start up to the next one's
// start; the first also takes those before its start, the last all after. The next start, not
// the elapsed time, bounds a session: recorders let a session's elapsed time run past the
// next one's start. A point without a time stays with the point before it.
void ActivityMapper::split_by_start_time() {
  const auto start = [](const Session& s) { return *s.values.start_time; };
  std::ranges::stable_sort(sessions_, {}, start);
  const std::size_t count = sessions_.size();
  const auto session_of = [&](const TrackPoint& point, std::size_t previous) {
    if (!point.time) return previous;
    const UtcInstant time = *point.time;
    // Most points belong where the point before them does.
    if (start(sessions_[previous]) <= time &&
        (previous + 1 == count || time < start(sessions_[previous + 1]))) {
      return previous;
    }
    const auto later = std::ranges::upper_bound(sessions_, time, {}, start);
    const auto index = static_cast<std::size_t>(later - sessions_.begin());
    return index == 0 ? 0 : index - 1;
  };

  std::vector<std::size_t> sizes(count);
  bool in_order = true;  // the usual case: each session's points in one run
  for (std::size_t i = 0, session = 0; i < points_.size(); ++i) {
    const std::size_t next = session_of(points_[i], session);
    in_order = in_order && next >= session;
    session = next;
    ++sizes[session];
  }
  std::vector<std::vector<TrackPoint>> shares(count);
  if (in_order) {
    // The first session keeps the list it shares out; the rest take copies of their runs.
    for (std::size_t k = 1, begin = sizes[0]; k < count; begin += sizes[k++]) {
      const auto first = points_.begin() + static_cast<std::ptrdiff_t>(begin);
      shares[k].assign(first, first + static_cast<std::ptrdiff_t>(sizes[k]));
    }
    points_.resize(sizes[0]);
    shares[0] = std::move(points_);
  } else {
    for (std::size_t k = 0; k < count; ++k) shares[k].reserve(sizes[k]);
    for (std::size_t i = 0, session = 0; i < points_.size(); ++i) {
      session = session_of(points_[i], session);
      shares[session].push_back(points_[i]);
    }
  }
  for (std::size_t k = 0; k < count; ++k) {
    // A session without points of its own sums up no records: nothing of it is kept.
    if (shares[k].empty()) continue;
    points_ = std::move(shares[k]);
    apply(sessions_[k]);
    finish_activity();
  }
}

void ActivityMapper::add_device(const fit::Message& message, bool about_creator) {
  const bool recognised = apply_device_fields(message, any_device_.info);
  any_device_.seen |= recognised;
  if (about_creator && recognised) {
    apply_device_fields(message, creator_.info);
    creator_.seen = true;
  }
}

void ActivityMapper::finish_activity() {
  if (points_.empty()) return;
  current_.segments.push_back(Segment{std::move(points_)});
  points_.clear();
  settle_start_time(current_);
  finished_.push_back(std::move(current_));
  current_ = Activity{};
}

std::expected<ActivityFile, Error> ActivityMapper::finish() && {
  if (!sessions_.empty()) close_sessions();
  finish_activity();
  if (finished_.empty()) {
    return std::unexpected(Error::invalid_data(kFormat.label(), "no record messages found"));
  }
  ActivityFile file = read_result(std::move(finished_));
  // A file that says nothing of its recorder may still describe some device.
  if (creator_.seen) {
    file.device_info = std::move(creator_.info);
  } else if (any_device_.seen) {
    file.device_info = std::move(any_device_.info);
  }
  return file;
}

std::optional<DecodeStop> map_messages(std::span<const std::uint8_t> bytes, ActivityMapper& mapper,
                                       bool read_cut_files, Decoding decoding) {
  auto decoder = fit::DecoderBuilder(bytes)
                     .apply_scale_and_offset(true)
                     .expand_components(true)
                     .select_subfields(true)
                     .name_enumeration_values(true)
                     .convert_date_times(true)
                     .read_cut_files(read_cut_files)
                     .build();
  const bool direct = decoding == Decoding::Direct;
  fit::FieldReader records(fit::profile::mesg::kRecord.number, ActivityMapper::record_fields());
  fit::RawRecord record;
  fit::Message message;  // one message's storage serves the whole file
  for (;;) {
    auto more = decoder.next(record);
    if (!more) return DecodeStop{more.error(), decoder.record_offset()};
    if (!*more) return std::nullopt;
    if (direct) {
      // Records straight from their bytes; messages the mapping ignores are not decoded at all.
      if (records.reads(record)) {
        mapper.add_record(records, record, decoder);
        continue;
      }
      if (!ActivityMapper::reads(record.definition->global_number)) continue;
    }
    if (auto decoded = decoder.decode(record, message); !decoded) {
      return DecodeStop{decoded.error(), decoder.record_offset()};
    }
    mapper.add(message);
  }
}

std::expected<ActivityFile, Error> read(std::span<const std::uint8_t> bytes) {
  if (auto intact = fit::check_integrity(bytes); !intact) {
    return std::unexpected(Error::invalid_data(kFormat.label(), intact.error().display()));
  }
  // Real files spend some 20 to 60 bytes per record, other messages included, and files this
  // library writes about 26: room for one point per 16 bytes spares the growing, which copies
  // the points and briefly holds them twice, and pages never written cost nothing.
  ActivityMapper mapper(bytes.size() / 16);
  if (const auto stop = map_messages(bytes, mapper)) {
    return std::unexpected(
        Error::invalid_data(kFormat.label(), stop->error.display()).at(ByteOffset{stop->offset}));
  }
  return std::move(mapper).finish();
}

}  // namespace tramlix::fit_activity
