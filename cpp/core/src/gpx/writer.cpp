#include "xml/writer.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "gpx/gpx.hpp"
#include "text.hpp"
#include "tramlix/omissions.hpp"
#include "tramlix/time.hpp"

namespace tramlix::gpx {
namespace {

using xml::append_element;
using xml::append_finite;
using xml::append_integer;

// GPX requires a position on every trkpt: a point without one is left out whole, and a segment
// whose points all go is an empty trkseg.
void append_point(std::string& out, const TrackPoint& point, Omissions& omitted) {
  const std::optional<xml::Position> position = xml::position(point);
  if (!position) {
    omitted.add(Omission::PointWithoutPosition);
    return;
  }
  out.append("<trkpt lat=\"");
  append_plain_decimal(out, position->latitude);
  out.append("\" lon=\"");
  append_plain_decimal(out, position->longitude);
  out.append("\">");
  append_finite<"ele">(out, point.elevation_m, append_plain_decimal, omitted);
  if (point.time) {
    if (xml::carries_time(*point.time)) {
      append_element<"time">(out, *point.time, append_time_text);
    } else {
      omitted.add(Omission::OutOfRange);
    }
  }
  if (point.heart_rate_bpm || point.cadence_rpm || point.speed_mps || point.power_watts ||
      point.temperature_c || point.distance_m) {
    const std::size_t block = out.size();
    out.append("<extensions><gpxtpx:TrackPointExtension>");
    const std::size_t values = out.size();
    append_element<"gpxtpx:atemp">(out, point.temperature_c, append_integer);
    append_element<"gpxtpx:hr">(out, point.heart_rate_bpm, append_integer);
    append_element<"gpxtpx:cad">(out, point.cadence_rpm, append_integer);
    append_finite<"gpxtpx:speed">(out, point.speed_mps, append_number, omitted);
    append_element<"gpxtpx:power">(out, point.power_watts, append_integer);
    append_finite<"gpxtpx:distance">(out, point.distance_m, append_number, omitted);
    if (out.size() == values) {
      out.resize(block);  // every value was left out: no empty block
    } else {
      out.append("</gpxtpx:TrackPointExtension></extensions>");
    }
  }
  out.append("</trkpt>");
}

}  // namespace

std::string write(const ActivityFile& file, Omissions* omissions) {
  Omissions unused;
  Omissions& omitted = omissions ? *omissions : unused;
  std::string out = xml::start_document(file, /*bytes_per_point=*/512);
  out.append("<gpx version=\"1.1\" creator=\"");
  append_xml_escaped(out, file.creator ? std::string_view(*file.creator) : "tramlix");
  out.append(
      "\" xmlns=\"http://www.topografix.com/GPX/1/1\""
      " xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\">");
  for (const Activity& activity : file.activities) {
    out.append("<trk>");
    append_element<"name">(out, activity.name, append_xml_escaped);
    append_element<"type">(out, activity.sport, append_xml_escaped);
    for (const Segment& segment : activity.segments) {
      out.append("<trkseg>");
      for (const TrackPoint& point : segment.points) append_point(out, point, omitted);
      out.append("</trkseg>");
    }
    out.append("</trk>");
  }
  out.append("</gpx>");
  return out;
}

}  // namespace tramlix::gpx
