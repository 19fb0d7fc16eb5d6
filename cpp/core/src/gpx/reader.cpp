#include "xml/reader.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "gpx/gpx.hpp"
#include "reading.hpp"
#include "text.hpp"
#include "xml/track.hpp"

namespace tramlix::gpx {
namespace {

constexpr Format kFormat = Format::Gpx;

using xml::PointField;

// The track text the current element is collected for.
enum class Target : std::uint8_t { None, Name, Type };

// Track children; they count only outside points.
Target activity_target(std::string_view name) {
  if (name.size() != 4) return Target::None;
  if (name == "name") return Target::Name;
  if (name == "type") return Target::Type;
  return Target::None;
}

// Point children, including the TrackPointExtension values under any prefix.
PointField point_field(std::string_view name) {
  switch (name.size()) {
    case 2:
      if (name == "hr") return PointField::HeartRate;
      break;
    case 3:
      if (name == "ele") return PointField::Elevation;
      if (name == "cad") return PointField::Cadence;
      break;
    case 4:
      if (name == "time") return PointField::Time;
      if (name == "temp") return PointField::Temperature;
      break;
    case 5:
      if (name == "speed") return PointField::Speed;
      if (name == "power" || name == "watts") return PointField::Power;
      if (name == "atemp") return PointField::Temperature;
      break;
    case 8:
      if (name == "distance") return PointField::Distance;
      break;
  }
  return PointField::None;
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
        if (name == "trkseg") track_.start_segment();
        break;
    }
    const bool point_open = track_.point_open();
    track_.select(point_open ? point_field(name) : PointField::None);
    target_ = activity_ && !point_open ? activity_target(name) : Target::None;
    if (track_.selected() || target_ != Target::None) {
      text_.begin();
    } else {
      text_.stop();
    }
  }

  // A self-closing point or segment is the same as one with nothing inside. Other self-closing
  // elements carry no text: an empty <trk/> is no activity, an empty <hr/> clears nothing.
  void empty_element(std::string_view name, xml::Attributes attributes) override {
    if (name == "trkpt") {
      start_point(attributes);
      track_.end_point();
    } else if (name == "trkseg" && activity_) {
      activity_->segments.emplace_back();
    }
  }

  void end_element(std::string_view name) override {
    if (!track_.store(text_.view()) && target_ != Target::None) store(text_.view());
    target_ = Target::None;
    text_.stop();
    switch (name.size()) {
      case 3:
        if (name == "trk") end_activity();
        break;
      case 5:
        if (name == "trkpt") track_.end_point();
        break;
      case 6:
        if (name == "trkseg") track_.end_segment(activity_);
        break;
    }
  }

  // Closes what a damaged document left open.
  void break_off() {
    if (track_.break_off(activity_)) end_activity();
  }

  std::expected<ActivityFile, Error> finish() && {
    const bool any_segment = std::any_of(finished_.begin(), finished_.end(),
                                         [](const Activity& a) { return !a.segments.empty(); });
    if (!any_segment) {
      return std::unexpected(Error::invalid_data(kFormat.label(), "no track segments found"));
    }
    return read_result(std::move(finished_));
  }

 private:
  void start_point(xml::Attributes attributes) {
    TrackPoint& point = track_.start_point();
    for (const auto attribute : attributes) {
      const std::string_view name = xml::local_name(attribute.name);
      if (name == "lat") {
        point.latitude = parse_number<double>(attributes.value(attribute));
      } else if (name == "lon") {
        point.longitude = parse_number<double>(attributes.value(attribute));
      }
    }
  }

  void end_activity() {
    if (!activity_) return;
    settle_start_time(*activity_);
    finished_.push_back(std::move(*activity_));
    activity_.reset();
  }

  void store(std::string_view text) {
    switch (target_) {
      case Target::None:
        break;
      case Target::Name:
        if (activity_ && !activity_->name) activity_->name.emplace(text);
        break;
      case Target::Type:
        if (activity_) activity_->sport.emplace(trim_unicode_whitespace(text));
        break;
    }
  }

  xml::TextBuffer& text_;
  std::vector<Activity> finished_;
  std::optional<Activity> activity_;  // present exactly while inside a trk
  xml::OpenTrack track_;
  Target target_ = Target::None;
};

}  // namespace

std::expected<ActivityFile, Error> read(std::string_view document,
                                        std::vector<std::string>* problems) {
  return xml::read_document<Reader>(document, kFormat, problems);
}

}  // namespace tramlix::gpx
