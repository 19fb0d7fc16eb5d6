#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "fit/fit.hpp"
#include "fit/framing.hpp"
#include "fit/typed_decoder.hpp"
#include "tramlix/text.hpp"
#include "tramlix/time.hpp"

namespace tramlix::fit {
namespace {

constexpr std::string_view kLabel = "FIT";

using ::fit::Value;

std::optional<double> numeric(const Value& value) {
  if (const auto* n = value.get<std::int64_t>()) return static_cast<double>(*n);
  if (const auto* n = value.get<std::uint64_t>()) return static_cast<double>(*n);
  if (const auto* n = value.get<double>()) return *n;
  return std::nullopt;
}

std::optional<std::uint64_t> non_negative_integer(const Value& value) {
  if (const auto* n = value.get<std::uint64_t>()) return *n;
  const auto* n = value.get<std::int64_t>();
  if (n && *n >= 0) return static_cast<std::uint64_t>(*n);
  return std::nullopt;
}

template <class T>
std::optional<T> unsigned_up_to(const Value& value, std::uint64_t max) {
  const auto n = non_negative_integer(value);
  if (!n || *n > max) return std::nullopt;
  return static_cast<T>(*n);
}

std::optional<std::uint16_t> unsigned16(const Value& value) {
  return unsigned_up_to<std::uint16_t>(value, std::numeric_limits<std::uint16_t>::max());
}

std::optional<std::int16_t> signed16(const Value& value) {
  constexpr std::int64_t kMin = std::numeric_limits<std::int16_t>::min();
  constexpr std::int64_t kMax = std::numeric_limits<std::int16_t>::max();
  if (const auto* n = value.get<std::int64_t>(); n && *n >= kMin && *n <= kMax) {
    return static_cast<std::int16_t>(*n);
  }
  if (const auto* n = value.get<std::uint64_t>(); n && *n <= static_cast<std::uint64_t>(kMax)) {
    return static_cast<std::int16_t>(*n);
  }
  return std::nullopt;
}

std::optional<std::string_view> text_view(const Value& value) {
  if (const auto* s = value.get<std::string>()) return *s;
  if (const auto* e = value.get<::fit::EnumName>()) return e->view();
  return std::nullopt;
}

// Decoded strings are valid UTF-8 already; a message built by a caller may hold anything.
std::optional<std::string> text(const Value& value) {
  const auto view = text_view(value);
  if (!view) return std::nullopt;
  return is_valid_utf8(*view) ? std::string(*view) : utf8_lossy(*view);
}

std::optional<UtcInstant> timestamp(const Value& value) {
  const auto* t = value.get<::fit::Timestamp>();
  if (!t) return std::nullopt;
  constexpr std::uint32_t kNanosPerSecond = 1'000'000'000;
  const std::int64_t carry = t->nanoseconds / kNanosPerSecond;
  if (t->unix_seconds > std::numeric_limits<std::int64_t>::max() - carry) return std::nullopt;
  return UtcInstant{t->unix_seconds + carry, t->nanoseconds % kNanosPerSecond};
}

std::optional<double> degrees(const Value& value) {
  const auto semicircles = numeric(value);
  if (!semicircles) return std::nullopt;
  return *semicircles / kSemicirclesPerDegree;
}

std::optional<UtcInstant> first_time(const Activity& activity) {
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (point.time) return point.time;
    }
  }
  return std::nullopt;
}

// Fields worth a look: a developer field has a name of its author's choosing, which may
// collide with a profile name, and an invalid marker means the field was not recorded.
bool carried(const ::fit::Field& field) {
  return !field.developer && !field.value.is_invalid();
}

}  // namespace

void ActivityMapper::add(const ::fit::Message& message) {
  const std::string_view name = message.name;
  switch (name.size()) {
    case 6:
      if (name == "record") add_record(message);
      break;
    case 7:
      if (name == "session") {
        add_session(message);
      } else if (name == "file_id") {
        add_device(message);
      }
      break;
    case 11:
      if (name == "device_info") add_device(message);
      break;
  }
}

// Runs for every field of every record: dispatch on the name's length, then compare.
void ActivityMapper::add_record(const ::fit::Message& message) {
  TrackPoint& point = points_.emplace_back();
  for (const ::fit::Field& field : message.fields) {
    if (!carried(field)) continue;
    const std::string_view name = field.name;
    const Value& value = field.value;
    switch (name.size()) {
      case 5:
        if (name == "speed") {
          point.speed_mps = numeric(value);
        } else if (name == "power") {
          point.power_watts = unsigned16(value);
        }
        break;
      case 7:
        if (name == "cadence") point.cadence_rpm = unsigned16(value);
        break;
      case 8:
        if (name == "altitude") {
          point.elevation_m = numeric(value);
        } else if (name == "distance") {
          point.distance_m = numeric(value);
        }
        break;
      case 9:
        if (name == "timestamp") point.time = timestamp(value);
        break;
      case 10:
        if (name == "heart_rate") point.heart_rate_bpm = unsigned16(value);
        break;
      case 11:
        if (name == "temperature") point.temperature_c = signed16(value);
        break;
      case 12:
        if (name == "position_lat") point.latitude = degrees(value);
        break;
      case 13:
        if (name == "position_long") point.longitude = degrees(value);
        break;
      case 14:
        // The plain field wins whenever it holds a number; enhanced only fills a gap.
        if (name == "enhanced_speed" && !point.speed_mps) point.speed_mps = numeric(value);
        break;
      case 17:
        if (name == "enhanced_altitude" && !point.elevation_m) point.elevation_m = numeric(value);
        break;
    }
  }
}

void ActivityMapper::add_session(const ::fit::Message& message) {
  ActivitySummary& summary = current_.summary;
  for (const ::fit::Field& field : message.fields) {
    if (!carried(field)) continue;
    const std::string_view name = field.name;
    const Value& value = field.value;
    if (name == "sport") {
      current_.sport = text(value);
    } else if (name == "sub_sport") {
      current_.sub_sport = text(value);
    } else if (name == "sport_profile_name") {
      current_.name = text(value);
    } else if (name == "start_time") {
      current_.start_time = timestamp(value);
    } else if (name == "total_elapsed_time") {
      summary.total_elapsed_seconds = numeric(value);
    } else if (name == "total_timer_time") {
      summary.total_timer_seconds = numeric(value);
    } else if (name == "total_moving_time") {
      summary.total_moving_seconds = numeric(value);
    } else if (name == "total_distance") {
      summary.total_distance_meters = numeric(value);
    } else if (name == "avg_speed" || name == "enhanced_avg_speed") {
      summary.average_speed_mps = numeric(value);
    } else if (name == "avg_heart_rate") {
      summary.average_heart_rate_bpm = numeric(value);
    } else if (name == "total_ascent") {
      summary.total_ascent_meters = numeric(value);
    } else if (name == "total_descent") {
      summary.total_descent_meters = numeric(value);
    }
  }
  finish_activity();
}

void ActivityMapper::add_device(const ::fit::Message& message) {
  DeviceInfo& device = device_;
  for (const ::fit::Field& field : message.fields) {
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
      const auto view = text_view(value);
      device.device_index =
          view ? (*view == "creator" ? std::optional<std::uint8_t>(0) : std::nullopt)
               : unsigned_up_to<std::uint8_t>(value, 255);
    } else if (name == "source_type") {
      device.source_type = text(value);
    } else {
      continue;
    }
    device_seen_ = true;
  }
}

void ActivityMapper::finish_activity() {
  if (points_.empty()) return;
  current_.segments.push_back(Segment{std::move(points_)});
  points_.clear();
  if (!current_.start_time) current_.start_time = first_time(current_);
  finished_.push_back(std::move(current_));
  current_ = Activity{};
}

std::expected<ActivityFile, Error> ActivityMapper::finish() && {
  finish_activity();
  if (finished_.empty()) {
    return std::unexpected(Error::invalid_data(kLabel, "no record messages found"));
  }
  ActivityFile file;
  file.activities = std::move(finished_);
  file.creator = "tramlix";
  if (device_seen_) file.device_info = std::move(device_);
  return file;
}

std::expected<ActivityFile, Error> read(std::span<const std::uint8_t> bytes) {
  if (auto intact = ::fit::check_integrity(bytes); !intact) {
    return std::unexpected(Error::invalid_data(kLabel, intact.error().display()));
  }
  auto decoder = ::fit::DecoderBuilder(bytes)
                     .apply_scale_and_offset(true)
                     .expand_components(true)
                     .select_subfields(true)
                     .name_enumeration_values(true)
                     .convert_date_times(true)
                     .build();
  // Real files spend some 20 to 60 bytes per record, other messages included: room for one
  // point per 32 bytes spares most of the growing, and pages never written cost nothing.
  ActivityMapper mapper(bytes.size() / 32);
  ::fit::Message message;  // one message's storage serves the whole file
  for (;;) {
    auto more = decoder.next(message);
    if (!more) return std::unexpected(Error::invalid_data(kLabel, more.error().display()));
    if (!*more) break;
    mapper.add(message);
  }
  return std::move(mapper).finish();
}

}  // namespace tramlix::fit
