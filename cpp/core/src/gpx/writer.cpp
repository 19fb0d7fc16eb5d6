#include "xml/writer.hpp"

#include <cstddef>
#include <string_view>

#include "gpx/gpx.hpp"
#include "tramlix/text.hpp"
#include "tramlix/time.hpp"

namespace tramlix::gpx {
namespace {

constexpr std::size_t kBytesPerPoint = 512;

using xml::append_integer;
using xml::append_text_element;

void append_point(std::string& out, const TrackPoint& point) {
  out.append("<trkpt");
  if (point.latitude) {
    out.append(" lat=\"");
    append_plain_decimal(out, *point.latitude);
    out.append("\"");
  }
  if (point.longitude) {
    out.append(" lon=\"");
    append_plain_decimal(out, *point.longitude);
    out.append("\"");
  }
  out.append(">");
  if (point.elevation_m) {
    out.append("<ele>");
    append_plain_decimal(out, *point.elevation_m);
    out.append("</ele>");
  }
  if (point.time) {
    out.append("<time>");
    append_time_text(out, *point.time);
    out.append("</time>");
  }
  if (point.heart_rate_bpm || point.cadence_rpm || point.speed_mps || point.power_watts ||
      point.temperature_c || point.distance_m) {
    out.append("<extensions><gpxtpx:TrackPointExtension>");
    if (point.temperature_c) {
      out.append("<gpxtpx:atemp>");
      append_integer(out, *point.temperature_c);
      out.append("</gpxtpx:atemp>");
    }
    if (point.heart_rate_bpm) {
      out.append("<gpxtpx:hr>");
      append_integer(out, *point.heart_rate_bpm);
      out.append("</gpxtpx:hr>");
    }
    if (point.cadence_rpm) {
      out.append("<gpxtpx:cad>");
      append_integer(out, *point.cadence_rpm);
      out.append("</gpxtpx:cad>");
    }
    if (point.speed_mps) {
      out.append("<gpxtpx:speed>");
      append_number(out, *point.speed_mps);
      out.append("</gpxtpx:speed>");
    }
    if (point.power_watts) {
      out.append("<gpxtpx:power>");
      append_integer(out, *point.power_watts);
      out.append("</gpxtpx:power>");
    }
    if (point.distance_m) {
      out.append("<gpxtpx:distance>");
      append_number(out, *point.distance_m);
      out.append("</gpxtpx:distance>");
    }
    out.append("</gpxtpx:TrackPointExtension></extensions>");
  }
  out.append("</trkpt>");
}

}  // namespace

std::string write(const ActivityFile& file) {
  std::string out;
  xml::reserve_for_points(out, file, kBytesPerPoint);

  out.append(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
      "<gpx version=\"1.1\" creator=\"");
  append_xml_escaped(out, file.creator ? std::string_view(*file.creator) : "tramlix");
  out.append(
      "\" xmlns=\"http://www.topografix.com/GPX/1/1\""
      " xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\">");
  for (const Activity& activity : file.activities) {
    out.append("<trk>");
    if (activity.name) append_text_element(out, "name", *activity.name);
    if (activity.sport) append_text_element(out, "type", *activity.sport);
    for (const Segment& segment : activity.segments) {
      out.append("<trkseg>");
      for (const TrackPoint& point : segment.points) append_point(out, point);
      out.append("</trkseg>");
    }
    out.append("</trk>");
  }
  out.append("</gpx>");
  return out;
}

}  // namespace tramlix::gpx
