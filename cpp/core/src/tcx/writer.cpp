#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "tcx/tcx.hpp"
#include "tramlix/text.hpp"
#include "tramlix/time.hpp"
#include "xml/writer.hpp"

namespace tramlix::tcx {
namespace {

constexpr std::size_t kBytesPerPoint = 640;

using xml::append_element;
using xml::append_integer;

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
  append_element<"Time">(out, point.time, append_time_text);
  if (point.latitude || point.longitude) {
    out.append("<Position>");
    append_element<"LatitudeDegrees">(out, point.latitude, append_number);
    append_element<"LongitudeDegrees">(out, point.longitude, append_number);
    out.append("</Position>");
  }
  append_element<"AltitudeMeters">(out, point.elevation_m, append_number);
  append_element<"DistanceMeters">(out, point.distance_m, append_number);
  if (point.heart_rate_bpm) {
    out.append("<HeartRateBpm>");
    append_element<"Value">(out, *point.heart_rate_bpm, append_integer);
    out.append("</HeartRateBpm>");
  }
  append_element<"Cadence">(out, point.cadence_rpm, append_integer);
  if (point.speed_mps || point.power_watts || point.temperature_c) {
    out.append("<Extensions><ns3:TPX>");
    append_element<"ns3:Speed">(out, point.speed_mps, append_number);
    append_element<"ns3:Watts">(out, point.power_watts, append_integer);
    append_element<"ns3:Temperature">(out, point.temperature_c, append_integer);
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
  append_element<"Id">(out, reference, append_time_text);
  out.append("<Lap StartTime=\"");
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
  append_element<"Notes">(out, activity.name, append_xml_escaped);
  out.append("</Activity>");
}

}  // namespace

std::string write(const ActivityFile& file) {
  std::string out = xml::start_document(file, kBytesPerPoint);
  out.append(
      "<TrainingCenterDatabase"
      " xmlns=\"http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2\""
      " xmlns:ns3=\"http://www.garmin.com/xmlschemas/ActivityExtension/v2\">"
      "<Activities>");
  for (const Activity& activity : file.activities) append_activity(out, activity);
  out.append("</Activities></TrainingCenterDatabase>");
  return out;
}

}  // namespace tramlix::tcx
