#include "xml/writer.hpp"

#include <cmath>
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "sport.hpp"
#include "tcx/tcx.hpp"
#include "text.hpp"
#include "tramlix/omissions.hpp"
#include "tramlix/time.hpp"

namespace tramlix::tcx {
namespace {

using xml::append_element;
using xml::append_finite;
using xml::append_integer;

// A Position needs both coordinates in range. When it cannot be written, each coordinate the
// point has is counted, by what keeps the pair out.
void append_position(std::string& out, const TrackPoint& point, Omissions& omitted) {
  if (!point.latitude && !point.longitude) return;
  if (const std::optional<xml::Position> position = xml::position(point)) {
    out.append("<Position><LatitudeDegrees>");
    append_number(out, position->latitude);
    out.append("</LatitudeDegrees><LongitudeDegrees>");
    append_number(out, position->longitude);
    out.append("</LongitudeDegrees></Position>");
    return;
  }
  if (!point.latitude || !point.longitude) {
    omitted.add(Omission::IncompletePosition);
  } else if (std::isfinite(*point.latitude) && std::isfinite(*point.longitude)) {
    omitted.add(Omission::OutOfRange, 2);
  } else {
    omitted.add(Omission::NotFinite, 2);
  }
}

// The point has a time xsd:dateTime carries (a Trackpoint requires one). Heart rate is a
// positiveByte (1 to 255) and cadence at most 254: other values are left out.
void append_point(std::string& out, const TrackPoint& point, Omissions& omitted) {
  out.append("<Trackpoint>");
  append_element<"Time">(out, *point.time, append_time_text);
  append_position(out, point, omitted);
  append_finite<"AltitudeMeters">(out, point.elevation_m, append_number, omitted);
  append_finite<"DistanceMeters">(out, point.distance_m, append_number, omitted);
  if (const auto bpm = point.heart_rate_bpm) {
    if (*bpm >= 1 && *bpm <= 255) {
      out.append("<HeartRateBpm>");
      append_element<"Value">(out, *bpm, append_integer);
      out.append("</HeartRateBpm>");
    } else {
      omitted.add(Omission::OutOfRange);
    }
  }
  if (const auto rpm = point.cadence_rpm) {
    if (*rpm <= 254) {
      append_element<"Cadence">(out, *rpm, append_integer);
    } else {
      omitted.add(Omission::OutOfRange);
    }
  }
  if (point.speed_mps || point.power_watts || point.temperature_c) {
    const std::size_t block = out.size();
    out.append("<Extensions><ns3:TPX>");
    const std::size_t values = out.size();
    append_finite<"ns3:Speed">(out, point.speed_mps, append_number, omitted);
    append_element<"ns3:Watts">(out, point.power_watts, append_integer);
    append_element<"ns3:Temperature">(out, point.temperature_c, append_integer);
    if (out.size() == values) {
      out.resize(block);  // only a non-finite speed, left out: no empty block
    } else {
      out.append("</ns3:TPX></Extensions>");
    }
  }
  out.append("</Trackpoint>");
}

bool has_time(const TrackPoint& point) {
  return point.time && xml::carries_time(*point.time);
}

// The time Id and Lap StartTime stand for: the start time, else the first time of a point, that
// xsd:dateTime carries; the epoch for an activity without any.
UtcInstant reference_time(const Activity& activity) {
  if (activity.start_time && xml::carries_time(*activity.start_time)) return *activity.start_time;
  for (const Segment& segment : activity.segments) {
    for (const TrackPoint& point : segment.points) {
      if (has_time(point)) return *point.time;
    }
  }
  return UtcInstant{};
}

// Activity Ids are the document's key. A reference time that an earlier activity's Id already
// holds moves forward a second at a time until it is free (back from the end of year 9999 when
// there is no room ahead). Remembering where each clash left off keeps many activities with one
// time (untimed ones all get the epoch) from walking the same seconds again.
class ActivityIds {
 public:
  UtcInstant take(UtcInstant wanted) {
    UtcInstant id = wanted;
    if (used_.contains(id)) {
      const auto resume = resume_.find(wanted);
      id = resume != resume_.end() ? resume->second : wanted;
      while (used_.contains(id) && xml::carries_time(id)) ++id.seconds;
      if (!xml::carries_time(id)) {
        id = wanted;
        while (used_.contains(id)) --id.seconds;
      }
      resume_[wanted] = id;
    }
    used_.insert(id);
    return id;
  }

 private:
  std::set<UtcInstant> used_;
  std::map<UtcInstant, UtcInstant> resume_;
};

// A lap total has to be a number: one that is not finite is written as 0.
double finite_or_zero(double value) {
  return std::isfinite(value) ? value : 0.0;
}

void append_activity(std::string& out, const Activity& activity, ActivityIds& ids,
                     Omissions& omitted) {
  out.append("<Activity Sport=\"");
  out.append(sport::to_tcx(activity.sport));
  out.append("\">");
  // Id and StartTime are required; an activity without any time gets the epoch.
  const UtcInstant reference = reference_time(activity);
  append_element<"Id">(out, ids.take(reference), append_time_text);
  out.append("<Lap StartTime=\"");
  append_time_text(out, reference);
  out.append("\"><TotalTimeSeconds>");
  append_number(out, finite_or_zero(activity.duration_seconds().value_or(0.0)));
  out.append("</TotalTimeSeconds><DistanceMeters>");
  append_number(out, finite_or_zero(activity.distance_meters()));
  // The schema wants TriggerMethod before the tracks.
  out.append(
      "</DistanceMeters><Calories>0</Calories><Intensity>Active</Intensity>"
      "<TriggerMethod>Manual</TriggerMethod>");
  // Every Trackpoint needs a Time and every Track a Trackpoint: points without a time are left
  // out, and a segment left with none writes no Track.
  for (const Segment& segment : activity.segments) {
    bool open = false;
    for (const TrackPoint& point : segment.points) {
      if (!has_time(point)) {
        omitted.add(Omission::PointWithoutTime);
        continue;
      }
      if (!open) out.append("<Track>");
      open = true;
      append_point(out, point, omitted);
    }
    if (open) out.append("</Track>");
  }
  out.append("</Lap>");
  append_element<"Notes">(out, activity.name, append_xml_escaped);
  out.append("</Activity>");
}

}  // namespace

std::string write(const ActivityFile& file, Omissions* omissions) {
  Omissions unused;
  Omissions& omitted = omissions ? *omissions : unused;
  ActivityIds ids;
  std::string out = xml::start_document(file, /*bytes_per_point=*/640);
  out.append(
      "<TrainingCenterDatabase"
      " xmlns=\"http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2\""
      " xmlns:ns3=\"http://www.garmin.com/xmlschemas/ActivityExtension/v2\">"
      "<Activities>");
  for (const Activity& activity : file.activities) append_activity(out, activity, ids, omitted);
  out.append("</Activities></TrainingCenterDatabase>");
  return out;
}

}  // namespace tramlix::tcx
