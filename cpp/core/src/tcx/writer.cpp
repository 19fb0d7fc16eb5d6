#include "xml/writer.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tcx/tcx.hpp"
#include "tramlix/text.hpp"
#include "tramlix/time.hpp"

namespace tramlix::tcx {
namespace {

constexpr std::size_t kBytesPerPoint = 640;

// The model's sport compared in any ASCII case, untrimmed; TCX has no name for most sports.
std::string_view sport_attribute(const std::optional<std::string>& sport) {
  if (!sport) return "Other";
  const std::string_view text = *sport;
  const auto is = [text](std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char c = text[i];
      if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != lower[i]) return false;
    }
    return true;
  };
  if (is("running")) return "Running";
  if (is("cycling") || is("biking")) return "Biking";
  if (is("multisport")) return "MultiSport";
  return "Other";
}

void append_point(std::string& out, const TrackPoint& point) {
  out.append("<Trackpoint>");
  if (point.time) {
    out.append("<Time>");
    append_time_text(out, *point.time);
    out.append("</Time>");
  }
  if (point.latitude || point.longitude) {
    out.append("<Position>");
    if (point.latitude) {
      out.append("<LatitudeDegrees>");
      append_number(out, *point.latitude);
      out.append("</LatitudeDegrees>");
    }
    if (point.longitude) {
      out.append("<LongitudeDegrees>");
      append_number(out, *point.longitude);
      out.append("</LongitudeDegrees>");
    }
    out.append("</Position>");
  }
  if (point.elevation_m) {
    out.append("<AltitudeMeters>");
    append_number(out, *point.elevation_m);
    out.append("</AltitudeMeters>");
  }
  if (point.distance_m) {
    out.append("<DistanceMeters>");
    append_number(out, *point.distance_m);
    out.append("</DistanceMeters>");
  }
  if (point.heart_rate_bpm) {
    out.append("<HeartRateBpm><Value>");
    xml::append_integer(out, *point.heart_rate_bpm);
    out.append("</Value></HeartRateBpm>");
  }
  if (point.cadence_rpm) {
    out.append("<Cadence>");
    xml::append_integer(out, *point.cadence_rpm);
    out.append("</Cadence>");
  }
  if (point.speed_mps || point.power_watts || point.temperature_c) {
    out.append("<Extensions><ns3:TPX>");
    if (point.speed_mps) {
      out.append("<ns3:Speed>");
      append_number(out, *point.speed_mps);
      out.append("</ns3:Speed>");
    }
    if (point.power_watts) {
      out.append("<ns3:Watts>");
      xml::append_integer(out, *point.power_watts);
      out.append("</ns3:Watts>");
    }
    if (point.temperature_c) {
      out.append("<ns3:Temperature>");
      xml::append_integer(out, *point.temperature_c);
      out.append("</ns3:Temperature>");
    }
    out.append("</ns3:TPX></Extensions>");
  }
  out.append("</Trackpoint>");
}

void append_activity(std::string& out, const Activity& activity) {
  out.append("<Activity Sport=\"");
  out.append(sport_attribute(activity.sport));
  out.append("\">");
  // Id and StartTime are required; an activity without any time gets the epoch.
  const UtcInstant reference = activity.effective_start_time().value_or(UtcInstant{});
  out.append("<Id>");
  append_time_text(out, reference);
  out.append("</Id><Lap StartTime=\"");
  append_time_text(out, reference);
  out.append("\"><TotalTimeSeconds>");
  append_number(out, activity.duration_seconds().value_or(0.0));
  out.append("</TotalTimeSeconds><DistanceMeters>");
  append_number(out, activity.distance_meters());
  // The schema wants TriggerMethod before the tracks.
  out.append(
      "</DistanceMeters><Calories>0</Calories><Intensity>Active</Intensity>"
      "<TriggerMethod>Manual</TriggerMethod>");
  for (const Segment& segment : activity.segments) {
    out.append("<Track>");
    for (const TrackPoint& point : segment.points) append_point(out, point);
    out.append("</Track>");
  }
  out.append("</Lap>");
  if (activity.name) xml::append_text_element(out, "Notes", *activity.name);
  out.append("</Activity>");
}

}  // namespace

std::string write(const ActivityFile& file) {
  std::string out;
  xml::reserve_for_points(out, file, kBytesPerPoint);
  out.append(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<TrainingCenterDatabase"
      " xmlns=\"http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2\""
      " xmlns:ns3=\"http://www.garmin.com/xmlschemas/ActivityExtension/v2\">"
      "<Activities>");
  for (const Activity& activity : file.activities) append_activity(out, activity);
  out.append("</Activities></TrainingCenterDatabase>");
  return out;
}

}  // namespace tramlix::tcx
