#include "xml/reader.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tcx/tcx.hpp"
#include "tramlix/text.hpp"
#include "tramlix/time.hpp"

namespace tramlix::tcx {
namespace {

constexpr std::string_view kLabel = "TCX";

// The field the text of the current element is collected for.
enum class Target : std::uint8_t {
  None,
  Id,
  Notes,
  Time,
  Latitude,
  Longitude,
  Elevation,
  Distance,
  HeartRate,
  Cadence,
  Speed,
  Power,
  Temperature,
};

std::optional<UtcInstant> first_time(const Activity& activity) {
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (point.time) return point.time;
    }
  }
  return std::nullopt;
}

class Reader final : public xml::Handler {
 public:
  explicit Reader(xml::TextBuffer& text) : text_(text) {}

  void start_element(std::string_view name, xml::Attributes attributes) override {
    ++depth_;
    Target target = Target::None;
    // One comparison per element on the hot path: dispatch on the length first.
    switch (name.size()) {
      case 2:
        if (name == "Id") target = Target::Id;
        break;
      case 4:
        if (name == "Time") target = Target::Time;
        break;
      case 5:
        if (name == "Value") {
          target = Target::HeartRate;
        } else if (name == "Speed") {
          target = Target::Speed;
        } else if (name == "Watts" || name == "Power") {
          target = Target::Power;
        } else if (name == "Notes") {
          target = Target::Notes;
        } else if (name == "Track") {
          points_.clear();
          track_open_ = true;
        }
        break;
      case 7:
        if (name == "Cadence") target = Target::Cadence;
        break;
      case 8:
        if (name == "Activity") start_activity(attributes);
        break;
      case 10:
        if (name == "Trackpoint") {
          point_ = TrackPoint{};
          point_open_ = true;
        } else if (name == "RunCadence") {
          target = Target::Cadence;
        }
        break;
      case 11:
        if (name == "Temperature") target = Target::Temperature;
        break;
      case 12:
        if (name == "HeartRateBpm") in_heart_rate_ = true;
        break;
      case 14:
        if (name == "DistanceMeters") {
          target = Target::Distance;
        } else if (name == "AltitudeMeters") {
          target = Target::Elevation;
        }
        break;
      case 15:
        if (name == "LatitudeDegrees") target = Target::Latitude;
        break;
      case 16:
        if (name == "LongitudeDegrees") target = Target::Longitude;
        break;
    }
    switch (target) {
      case Target::None:
        break;
      case Target::Id:
        if (!activity_ || point_open_) target = Target::None;
        break;
      case Target::Notes:
        // Laps carry Notes of their own; only the activity's names it.
        if (!activity_ || point_open_ || depth_ != activity_depth_ + 1) target = Target::None;
        break;
      case Target::HeartRate:
        // Lap averages and maxima hold a Value too, in elements of other names.
        if (!point_open_ || !in_heart_rate_) target = Target::None;
        break;
      default:
        if (!point_open_) target = Target::None;
        break;
    }
    target_ = target;
    if (target_ == Target::None) {
      text_.stop();
    } else {
      text_.begin();
    }
  }

  // Self-closing elements carry nothing: an empty Activity, Track or Trackpoint is no record.
  void empty_element(std::string_view, xml::Attributes) override {}

  void end_element(std::string_view name) override {
    --depth_;
    if (target_ != Target::None) store(text_.view());
    target_ = Target::None;
    text_.stop();
    switch (name.size()) {
      case 5:
        if (name == "Track") end_track();
        break;
      case 8:
        if (name == "Activity") end_activity();
        break;
      case 10:
        if (name == "Trackpoint") {
          if (track_open_ && point_open_) points_.push_back(point_);
          point_open_ = false;
        }
        break;
      case 12:
        if (name == "HeartRateBpm") in_heart_rate_ = false;
        break;
    }
  }

  std::expected<ActivityFile, Error> finish() && {
    if (finished_.empty()) {
      return std::unexpected(Error::invalid_data(kLabel, "no activities found"));
    }
    ActivityFile file;
    file.activities = std::move(finished_);
    file.creator = "tramlix";
    return file;
  }

 private:
  void start_activity(xml::Attributes attributes) {
    activity_.emplace();
    activity_depth_ = depth_;
    id_text_.reset();
    for (const auto [qualified, value] : attributes) {
      if (xml::local_name(qualified) == "Sport") activity_->sport = normalize_sport(value);
    }
  }

  void end_track() {
    if (activity_ && track_open_) activity_->segments.push_back(Segment{std::move(points_)});
    points_.clear();
    track_open_ = false;
  }

  void end_activity() {
    if (!activity_) return;
    if (!activity_->start_time) activity_->start_time = first_time(*activity_);
    // Notes name the activity wherever they stand; the Id only stands in for missing Notes.
    if (!activity_->name && id_text_) activity_->name = std::move(id_text_);
    finished_.push_back(std::move(*activity_));
    activity_.reset();
  }

  void store(std::string_view text) {
    switch (target_) {
      case Target::None:
        return;
      case Target::Id:
        if (!activity_ || point_open_) return;
        activity_->start_time = parse_rfc3339(trim_xml_whitespace(text));
        if (!id_text_) id_text_.emplace(text);
        return;
      case Target::Notes:
        if (activity_ && !point_open_ && !activity_->name) activity_->name.emplace(text);
        return;
      default:
        break;
    }
    if (!point_open_) return;
    switch (target_) {
      case Target::Time:
        point_.time = parse_rfc3339(trim_xml_whitespace(text));
        break;
      case Target::Latitude:
        point_.latitude = parse_number<double>(text);
        break;
      case Target::Longitude:
        point_.longitude = parse_number<double>(text);
        break;
      case Target::Elevation:
        point_.elevation_m = parse_number<double>(text);
        break;
      case Target::Distance:
        point_.distance_m = parse_number<double>(text);
        break;
      case Target::HeartRate:
        point_.heart_rate_bpm = parse_number<std::uint16_t>(text);
        break;
      case Target::Cadence:
        point_.cadence_rpm = parse_number<std::uint16_t>(text);
        break;
      case Target::Speed:
        point_.speed_mps = parse_number<double>(text);
        break;
      case Target::Power:
        point_.power_watts = parse_number<std::uint16_t>(text);
        break;
      case Target::Temperature:
        point_.temperature_c = parse_number<std::int16_t>(text);
        break;
      default:
        break;
    }
  }

  xml::TextBuffer& text_;
  std::vector<Activity> finished_;
  std::optional<Activity> activity_;    // the Activity element being read
  std::optional<std::string> id_text_;  // its first Id, raw: the name when it has no Notes
  std::size_t depth_ = 0;               // open elements
  std::size_t activity_depth_ = 0;      // of the open Activity
  std::vector<TrackPoint> points_;      // of the open Track
  bool track_open_ = false;
  TrackPoint point_;
  bool point_open_ = false;
  bool in_heart_rate_ = false;
  Target target_ = Target::None;
};

}  // namespace

std::string normalize_sport(std::string_view text) {
  std::string sport(trim_unicode_whitespace(text));
  for (char& c : sport) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (sport == "biking") sport = "cycling";
  return sport;
}

std::expected<ActivityFile, Error> read(std::string_view document) {
  xml::TextBuffer text;
  Reader reader(text);
  if (auto parsed = xml::parse(document, reader, text); !parsed) {
    return std::unexpected(Error::invalid_data(kLabel, std::move(parsed.error())));
  }
  return std::move(reader).finish();
}

}  // namespace tramlix::tcx
