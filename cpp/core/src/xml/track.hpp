// What the GPX and TCX readers share between the XML events and the model: the track point
// fields that element text is read into, the segment and point being read, and the run of a
// whole document.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "text.hpp"
#include "tramlix/error.hpp"
#include "tramlix/format.hpp"
#include "tramlix/model.hpp"
#include "tramlix/time.hpp"
#include "xml/reader.hpp"

namespace tramlix::xml {

// The track point field the text of the current element is read into.
enum class PointField : std::uint8_t {
  None,
  Time,
  Latitude,
  Longitude,
  Elevation,
  Distance,
  HeartRate,
  Cadence,
  Speed,
  Power,
  Temperature,
};

// Converts an element's text into `field` of `point`. Times and numbers may be wrapped in
// white space; text that does not convert leaves the field absent, over any earlier value.
inline void store_point_field(TrackPoint& point, PointField field, std::string_view text) {
  switch (field) {
    case PointField::None:
      break;
    case PointField::Time:
      point.time = parse_document_time(trim_xml_whitespace(text));
      break;
    case PointField::Latitude:
      point.latitude = parse_number<double>(text);
      break;
    case PointField::Longitude:
      point.longitude = parse_number<double>(text);
      break;
    case PointField::Elevation:
      point.elevation_m = parse_number<double>(text);
      break;
    case PointField::Distance:
      point.distance_m = parse_number<double>(text);
      break;
    case PointField::HeartRate:
      point.heart_rate_bpm = parse_number<std::uint16_t>(text);
      break;
    case PointField::Cadence:
      point.cadence_rpm = parse_number<std::uint16_t>(text);
      break;
    case PointField::Speed:
      point.speed_mps = parse_number<double>(text);
      break;
    case PointField::Power:
      point.power_watts = parse_number<std::uint16_t>(text);
      break;
    case PointField::Temperature:
      point.temperature_c = parse_number<std::int16_t>(text);
      break;
  }
}

// The segment (GPX trkseg, TCX Track) and the point being read, and the field of that point
// the current element's text is for. A point is kept only when it ends inside an open segment,
// and a segment only when it ends inside an activity.
class OpenTrack {
 public:
  void start_segment() {
    points_.clear();
    segment_open_ = true;
  }

  void end_segment(std::optional<Activity>& activity) {
    if (activity && segment_open_) activity->segments.push_back(Segment{std::move(points_)});
    points_.clear();
    segment_open_ = false;
  }

  TrackPoint& start_point() {
    point_ = TrackPoint{};
    point_open_ = true;
    return point_;
  }

  void end_point() {
    if (segment_open_ && point_open_) points_.push_back(point_);
    point_open_ = false;
  }

  bool point_open() const { return point_open_; }

  // Where a document breaks off: the point being read is dropped, and the segment is kept
  // when it holds points completed before the break. The open activity is to be kept (the
  // result) when it holds such points; otherwise it is dropped, as if it had not begun.
  bool break_off(std::optional<Activity>& activity) {
    point_open_ = false;
    field_ = PointField::None;
    if (points_.empty()) segment_open_ = false;
    end_segment(activity);
    if (activity && activity->point_count() > 0) return true;
    activity.reset();
    return false;
  }

  // Chooses the field for the text of the element just started; none while no point is open.
  void select(PointField field) { field_ = point_open_ ? field : PointField::None; }
  bool selected() const { return field_ != PointField::None; }

  // At the end of an element: stores its text into the chosen field, if any, and chooses none.
  // Returns whether the text was taken.
  bool store(std::string_view text) {
    if (field_ == PointField::None) return false;
    if (point_open_) store_point_field(point_, field_, text);
    field_ = PointField::None;
    return true;
  }

 private:
  std::vector<TrackPoint> points_;  // of the open segment
  bool segment_open_ = false;
  TrackPoint point_;
  bool point_open_ = false;
  PointField field_ = PointField::None;
};

// Runs a `Reader` (a Handler built on the text buffer) over `document` and returns what its
// finish() makes of the events; an XML error becomes invalid data in `format`. With `problems`,
// a document that is cut short or goes wrong part-way keeps what came before the fault: the
// points completed before it, in their segments and activities, which the reader's break_off()
// closes where the fault left them open. The fault, and that the points before it were kept,
// is told in `problems`.
template <class Reader>
std::expected<ActivityFile, Error> read_document(std::string_view document, Format format,
                                                 std::vector<std::string>* problems) {
  TextBuffer text;
  Reader reader(text);
  auto parsed = parse(document, reader, text);
  if (parsed) return std::move(reader).finish();
  ParseError& error = parsed.error();
  if (!problems) {
    return std::unexpected(
        Error::invalid_data(format.label(), std::move(error.message)).at(error.position));
  }
  reader.break_off();
  auto file = std::move(reader).finish();
  problems->push_back(file ? error.message + ": kept the points completed before it"
                           : std::move(error.message));
  return file;
}

}  // namespace tramlix::xml
