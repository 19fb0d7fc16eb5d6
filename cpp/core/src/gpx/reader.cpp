#include "xml/reader.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "gpx/gpx.hpp"
#include "tramlix/text.hpp"
#include "tramlix/time.hpp"

namespace tramlix::gpx {
namespace {

constexpr std::string_view kLabel = "GPX";

// The field the text of the current element is collected for.
enum class Target : std::uint8_t {
  None,
  Name,
  Type,
  Time,
  Elevation,
  HeartRate,
  Cadence,
  Speed,
  Power,
  Temperature,
  Distance,
};

// Track children; they count only outside points.
Target activity_target(std::string_view name) {
  if (name.size() != 4) return Target::None;
  if (name == "name") return Target::Name;
  if (name == "type") return Target::Type;
  return Target::None;
}

// Point children, including the TrackPointExtension values under any prefix.
Target point_target(std::string_view name) {
  switch (name.size()) {
    case 2:
      if (name == "hr") return Target::HeartRate;
      break;
    case 3:
      if (name == "ele") return Target::Elevation;
      if (name == "cad") return Target::Cadence;
      break;
    case 4:
      if (name == "time") return Target::Time;
      if (name == "temp") return Target::Temperature;
      break;
    case 5:
      if (name == "speed") return Target::Speed;
      if (name == "power" || name == "watts") return Target::Power;
      if (name == "atemp") return Target::Temperature;
      break;
    case 8:
      if (name == "distance") return Target::Distance;
      break;
  }
  return Target::None;
}

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
    switch (name.size()) {
      case 3:
        if (name == "trk") activity_.emplace();
        break;
      case 5:
        if (name == "trkpt") start_point(attributes);
        break;
      case 6:
        if (name == "trkseg") {
          points_.clear();
          segment_open_ = true;
        }
        break;
    }
    if (point_open_) {
      target_ = point_target(name);
    } else if (activity_) {
      target_ = activity_target(name);
    } else {
      target_ = Target::None;
    }
    if (target_ == Target::None) {
      text_.stop();
    } else {
      text_.begin();
    }
  }

  void empty_element(std::string_view name, xml::Attributes) override {
    if (name == "trkseg" && activity_) activity_->segments.emplace_back();
  }

  void end_element(std::string_view name) override {
    if (target_ != Target::None) store(text_.view());
    target_ = Target::None;
    text_.stop();
    switch (name.size()) {
      case 3:
        if (name == "trk") end_activity();
        break;
      case 5:
        if (name == "trkpt") {
          if (segment_open_ && point_open_) points_.push_back(point_);
          point_open_ = false;
        }
        break;
      case 6:
        if (name == "trkseg") {
          if (activity_ && segment_open_) {
            activity_->segments.push_back(Segment{std::move(points_)});
          }
          points_.clear();
          segment_open_ = false;
        }
        break;
    }
  }

  std::expected<ActivityFile, Error> finish() && {
    const bool any_segment = std::any_of(finished_.begin(), finished_.end(),
                                         [](const Activity& a) { return !a.segments.empty(); });
    if (!any_segment) {
      return std::unexpected(Error::invalid_data(kLabel, "no track segments found"));
    }
    ActivityFile file;
    file.activities = std::move(finished_);
    file.creator = "tramlix";
    return file;
  }

 private:
  void start_point(xml::Attributes attributes) {
    point_ = TrackPoint{};
    point_open_ = true;
    for (const auto [qualified, value] : attributes) {
      const std::string_view name = xml::local_name(qualified);
      if (name == "lat") {
        point_.latitude = parse_number<double>(value);
      } else if (name == "lon") {
        point_.longitude = parse_number<double>(value);
      }
    }
  }

  void end_activity() {
    if (!activity_) return;
    activity_->start_time = first_time(*activity_);
    finished_.push_back(std::move(*activity_));
    activity_.reset();
  }

  void store(std::string_view text) {
    switch (target_) {
      case Target::None:
        return;
      case Target::Name:
        if (activity_ && !activity_->name) activity_->name.emplace(text);
        return;
      case Target::Type:
        if (activity_) activity_->sport.emplace(trim_unicode_whitespace(text));
        return;
      default:
        break;
    }
    if (!point_open_) return;
    switch (target_) {
      case Target::Time:
        point_.time = parse_rfc3339(trim_xml_whitespace(text));
        break;
      case Target::Elevation:
        point_.elevation_m = parse_number<double>(text);
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
      case Target::Distance:
        point_.distance_m = parse_number<double>(text);
        break;
      default:
        break;
    }
  }

  xml::TextBuffer& text_;
  std::vector<Activity> finished_;
  std::optional<Activity> activity_;  // present exactly while inside a trk
  std::vector<TrackPoint> points_;    // of the open trkseg
  bool segment_open_ = false;
  TrackPoint point_;
  bool point_open_ = false;
  Target target_ = Target::None;
};

}  // namespace

std::expected<ActivityFile, Error> read(std::string_view document) {
  xml::TextBuffer text;
  Reader reader(text);
  if (auto parsed = xml::parse(document, reader, text); !parsed) {
    return std::unexpected(Error::invalid_data(kLabel, std::move(parsed.error())));
  }
  return std::move(reader).finish();
}

}  // namespace tramlix::gpx
