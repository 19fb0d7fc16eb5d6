// TCX Lap elements: the StartTime attribute and the lap's own totals, which are its direct
// children (the heart rates hold a Value) and the ActivityExtension's LX block. Nothing inside
// the lap's Track counts.
#include "tcx/laps.hpp"

#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "text.hpp"
#include "tramlix/format.hpp"
#include "tramlix/time.hpp"
#include "xml/reader.hpp"

namespace tramlix::tcx {
namespace {

using Total = std::optional<double> Lap::*;

// Direct children of Lap holding a number.
struct LapNumber {
  std::string_view element;
  Total total;
};
constexpr LapNumber kLapNumbers[] = {
    {"TotalTimeSeconds", &Lap::total_timer_seconds}, {"DistanceMeters", &Lap::distance_meters},
    {"MaximumSpeed", &Lap::max_speed_mps},           {"Calories", &Lap::calories},
    {"Cadence", &Lap::average_cadence_rpm},
};
// Elements of the LX extension, anywhere in the lap's Extensions.
constexpr LapNumber kExtensionNumbers[] = {
    {"AvgSpeed", &Lap::average_speed_mps},
    {"AvgRunCadence", &Lap::average_cadence_rpm},
    {"AvgWatts", &Lap::average_power_watts},
};

// "Active" -> "active", "HeartRate" -> "heartrate"; FIT's lap values are lower case too.
std::optional<std::string> vocabulary(std::string_view text) {
  const std::string_view trimmed = trim_xml_whitespace(text);
  if (trimmed.empty()) return std::nullopt;
  std::string lowered = ascii_lowered(trimmed);
  if (lowered == "resting") lowered = "rest";
  return lowered;
}

class LapReader final : public xml::Handler {
 public:
  explicit LapReader(xml::TextBuffer& text) : text_(text) {}

  void start_element(std::string_view name, xml::Attributes attributes) override {
    ++depth_;
    target_ = Target::None;
    if (name == "Activity") {
      in_activity_ = true;
      laps_in_activity_ = 0;
    } else if (name == "Lap" && in_activity_ && !lap_) {
      start_lap(attributes);
    } else if (lap_ && name == "Track") {
      in_track_ = true;
    } else if (lap_ && !in_track_) {
      choose(name);
    }
    if (target_ != Target::None) {
      text_.begin();
    } else {
      text_.stop();
    }
  }

  // A self-closing Lap is a lap with nothing but its start (a self-closing Activity is no
  // activity to the reader, and has no laps).
  void empty_element(std::string_view name, xml::Attributes attributes) override {
    if (name != "Lap" || !in_activity_ || lap_) return;
    ++depth_;
    start_lap(attributes);
    finish_lap();
    --depth_;
  }

  void end_element(std::string_view name) override {
    if (target_ != Target::None && lap_) store(text_.view());
    target_ = Target::None;
    text_.stop();
    if (lap_ && name == "Track") {
      in_track_ = false;
    } else if (lap_ && name == "Lap" && depth_ == lap_depth_) {
      finish_lap();
    } else if (name == "Activity" && in_activity_) {
      in_activity_ = false;
      ++activities_;
    } else if (name == "AverageHeartRateBpm" || name == "MaximumHeartRateBpm") {
      heart_rate_ = nullptr;
    }
    --depth_;
  }

  std::vector<Lap> finish() && { return std::move(laps_); }

 private:
  enum class Target { None, Number, Trigger, Intensity };

  void start_lap(xml::Attributes attributes) {
    lap_.emplace();
    lap_depth_ = depth_;
    lap_->activity = activities_;
    lap_->lap = laps_in_activity_++;
    for (const auto [qualified, value] : attributes) {
      if (xml::local_name(qualified) == "StartTime") {
        lap_->start_time = parse_document_time(trim_xml_whitespace(value));
      }
    }
  }

  void choose(std::string_view name) {
    const bool child = depth_ == lap_depth_ + 1;
    if (child) {
      for (const LapNumber& number : kLapNumbers) {
        if (name == number.element) {
          total_ = number.total;
          target_ = Target::Number;
          return;
        }
      }
      if (name == "AverageHeartRateBpm") {
        heart_rate_ = &Lap::average_heart_rate_bpm;
      } else if (name == "MaximumHeartRateBpm") {
        heart_rate_ = &Lap::max_heart_rate_bpm;
      } else if (name == "TriggerMethod") {
        target_ = Target::Trigger;
      } else if (name == "Intensity") {
        target_ = Target::Intensity;
      }
      return;
    }
    if (name == "Value" && heart_rate_ != nullptr && depth_ == lap_depth_ + 2) {
      total_ = heart_rate_;
      target_ = Target::Number;
      return;
    }
    for (const LapNumber& number : kExtensionNumbers) {
      if (name == number.element) {
        total_ = number.total;
        target_ = Target::Number;
        return;
      }
    }
  }

  void store(std::string_view text) {
    switch (target_) {
      case Target::Number:
        (*lap_).*total_ = parse_number<double>(text);
        break;
      case Target::Trigger:
        lap_->trigger = vocabulary(text);
        break;
      case Target::Intensity:
        lap_->intensity = vocabulary(text);
        break;
      case Target::None:
        break;
    }
  }

  void finish_lap() {
    Lap& lap = *lap_;
    const std::optional<double> seconds = lap.total_timer_seconds;
    if (lap.start_time && seconds && std::isfinite(*seconds) && *seconds >= 0 && *seconds < 1e15) {
      lap.end_time =
          add_milliseconds(*lap.start_time, static_cast<std::int64_t>(std::round(*seconds * 1e3)));
    }
    laps_.push_back(std::move(lap));
    lap_.reset();
    in_track_ = false;
    heart_rate_ = nullptr;
  }

  xml::TextBuffer& text_;
  std::vector<Lap> laps_;
  std::optional<Lap> lap_;
  std::size_t depth_ = 0;
  std::size_t lap_depth_ = 0;
  std::uint32_t activities_ = 0;
  std::uint32_t laps_in_activity_ = 0;
  bool in_activity_ = false;
  bool in_track_ = false;
  Total heart_rate_ = nullptr;  // inside AverageHeartRateBpm or MaximumHeartRateBpm
  Total total_ = nullptr;
  Target target_ = Target::None;
};

}  // namespace

std::expected<std::vector<Lap>, Error> read_laps(std::string_view document) {
  xml::TextBuffer text;
  LapReader reader(text);
  if (auto parsed = xml::parse(document, reader, text); !parsed) {
    return std::unexpected(
        Error::invalid_data(Format(Format::Tcx).label(), std::move(parsed.error().message))
            .at(parsed.error().position));
  }
  return std::move(reader).finish();
}

}  // namespace tramlix::tcx
