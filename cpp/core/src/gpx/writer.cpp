#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string_view>

#include "gpx/gpx.hpp"
#include "tramlix/text.hpp"
#include "tramlix/time.hpp"

namespace tramlix::gpx {
namespace {

constexpr std::size_t kBytesPerPoint = 512;

template <class Int>
void append_integer(std::string& out, Int value) {
  char digits[8];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

// <tag>escaped text</tag>
void append_text_element(std::string& out, std::string_view tag, std::string_view text) {
  out.append("<").append(tag).append(">");
  append_xml_escaped(out, text);
  out.append("</").append(tag).append(">");
}

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
  std::size_t points = 0;
  for (const Activity& activity : file.activities) {
    for (const Segment& segment : activity.segments) points += segment.points.size();
  }
  std::string out;
  if (points > 0) {
    if (points > std::numeric_limits<std::size_t>::max() / kBytesPerPoint) throw std::bad_alloc();
    out.reserve(points * kBytesPerPoint);
  }

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
