#include "xml/reader.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reading.hpp"
#include "sport.hpp"
#include "tcx/tcx.hpp"
#include "text.hpp"
#include "tramlix/time.hpp"
#include "xml/track.hpp"

namespace tramlix::tcx {
namespace {

constexpr Format kFormat = Format::Tcx;

using xml::PointField;

// The activity text the current element is collected for.
enum class Target : std::uint8_t { None, Id, Notes };

class Reader final : public xml::Handler {
 public:
  explicit Reader(xml::TextBuffer& text) : text_(text) {}

  void start_element(std::string_view name, xml::Attributes attributes) override {
    ++depth_;
    PointField field = PointField::None;
    Target target = Target::None;
    // One comparison per element on the hot path: dispatch on the length first.
    switch (name.size()) {
      case 2:
        if (name == "Id") target = Target::Id;
        break;
      case 4:
        if (name == "Time") field = PointField::Time;
        break;
      case 5:
        if (name == "Value") {
          // Lap averages and maxima hold a Value too, in elements of other names.
          if (in_heart_rate_) field = PointField::HeartRate;
        } else if (name == "Speed") {
          field = PointField::Speed;
        } else if (name == "Watts" || name == "Power") {
          field = PointField::Power;
        } else if (name == "Notes") {
          target = Target::Notes;
        } else if (name == "Track") {
          track_.start_segment();
        }
        break;
      case 7:
        if (name == "Cadence") field = PointField::Cadence;
        break;
      case 8:
        if (name == "Activity") start_activity(attributes);
        break;
      case 10:
        if (name == "Trackpoint") {
          track_.start_point();
        } else if (name == "RunCadence") {
          field = PointField::Cadence;
        }
        break;
      case 11:
        if (name == "Temperature") field = PointField::Temperature;
        break;
      case 12:
        if (name == "HeartRateBpm") in_heart_rate_ = true;
        break;
      case 14:
        if (name == "DistanceMeters") {
          field = PointField::Distance;
        } else if (name == "AltitudeMeters") {
          field = PointField::Elevation;
        }
        break;
      case 15:
        if (name == "LatitudeDegrees") field = PointField::Latitude;
        break;
      case 16:
        if (name == "LongitudeDegrees") field = PointField::Longitude;
        break;
    }
    track_.select(field);
    // Laps carry Notes of their own; only the activity's names it.
    if (target != Target::None && (!activity_ || track_.point_open() ||
                                   (target == Target::Notes && depth_ != activity_depth_ + 1))) {
      target = Target::None;
    }
    target_ = target;
    if (track_.selected() || target_ != Target::None) {
      text_.begin();
    } else {
      text_.stop();
    }
  }

  // A self-closing Trackpoint is a point with every field absent and a self-closing Track a
  // segment without points, as when written with an end tag. A self-closing Activity (it has no
  // Id, which the schema requires) is no activity, and other self-closing elements carry no text.
  void empty_element(std::string_view name, xml::Attributes) override {
    if (name == "Trackpoint") {
      track_.start_point();
      track_.end_point();
    } else if (name == "Track") {
      track_.start_segment();
      track_.end_segment(activity_);
    }
  }

  void end_element(std::string_view name) override {
    --depth_;
    if (!track_.store(text_.view()) && target_ != Target::None) store(text_.view());
    target_ = Target::None;
    text_.stop();
    switch (name.size()) {
      case 5:
        if (name == "Track") track_.end_segment(activity_);
        break;
      case 8:
        if (name == "Activity") end_activity();
        break;
      case 10:
        if (name == "Trackpoint") track_.end_point();
        break;
      case 12:
        if (name == "HeartRateBpm") in_heart_rate_ = false;
        break;
    }
  }

  // Closes what a damaged document left open.
  void break_off() {
    if (track_.break_off(activity_)) end_activity();
  }

  std::expected<ActivityFile, Error> finish() && {
    if (finished_.empty()) {
      return std::unexpected(Error::invalid_data(kFormat.label(), "no activities found"));
    }
    return read_result(std::move(finished_));
  }

 private:
  void start_activity(xml::Attributes attributes) {
    activity_.emplace();
    activity_depth_ = depth_;
    id_text_.reset();
    for (const auto attribute : attributes) {
      if (xml::local_name(attribute.name) == "Sport") {
        activity_->sport = sport::from_tcx(attributes.value(attribute));
      }
    }
  }

  void end_activity() {
    if (!activity_) return;
    settle_start_time(*activity_);
    // Notes name the activity wherever they stand; the Id only stands in for missing Notes.
    if (!activity_->name && id_text_) activity_->name = std::move(id_text_);
    finished_.push_back(std::move(*activity_));
    activity_.reset();
  }

  void store(std::string_view text) {
    if (!activity_ || track_.point_open()) return;
    switch (target_) {
      case Target::None:
        break;
      case Target::Id:
        activity_->start_time = parse_document_time(trim_xml_whitespace(text));
        if (!id_text_) id_text_.emplace(text);
        break;
      case Target::Notes:
        if (!activity_->name) activity_->name.emplace(text);
        break;
    }
  }

  xml::TextBuffer& text_;
  std::vector<Activity> finished_;
  std::optional<Activity> activity_;    // the Activity element being read
  std::optional<std::string> id_text_;  // its first Id, raw: the name when it has no Notes
  std::size_t depth_ = 0;               // open elements
  std::size_t activity_depth_ = 0;      // of the open Activity
  xml::OpenTrack track_;
  bool in_heart_rate_ = false;
  Target target_ = Target::None;
};

}  // namespace

std::expected<ActivityFile, Error> read(std::string_view document,
                                        std::vector<std::string>* problems) {
  return xml::read_document<Reader>(document, kFormat, problems);
}

}  // namespace tramlix::tcx
