// TrackPoint, Segment, ActivitySummary, DeviceInfo and the three result records.
#include <string>

#include "classes.hpp"
#include "tramlix/text.hpp"

namespace tramlix::python {
namespace {

void append_some_float(std::string& out, const std::optional<double>& value) {
  if (!value) {
    out += "None";
    return;
  }
  out += "Some(";
  append_debug_float(out, *value);
  out += ')';
}

PyObject* track_point_repr(PyObject* self) {
  return boundary([&] {
    const TrackPoint& point = unbox<TrackPoint>(self);
    std::string text = "TrackPoint(time=";
    if (point.time) {
      text += "Some(";
      text += quoted(time_text(*point.time));
      text += ')';
    } else {
      text += "None";
    }
    text += ", latitude=";
    append_some_float(text, point.latitude);
    text += ", longitude=";
    append_some_float(text, point.longitude);
    text += ')';
    return to_python(text);
  });
}

Py_ssize_t segment_length(PyObject* self) {
  return static_cast<Py_ssize_t>(unbox<Segment>(self).points.size());
}

}  // namespace

PyTypeObject* track_point_type() {
  return create_record_class<TrackPoint>("TrackPoint",
                                         {.slots = {{Py_tp_repr, slot(track_point_repr)}}});
}
PyTypeObject* segment_type() {
  return create_record_class<Segment>(
      "Segment", {.positional = 1, .slots = {{Py_sq_length, slot(segment_length)}}});
}
PyTypeObject* activity_summary_type() {
  return create_record_class<ActivitySummary>("ActivitySummary");
}
PyTypeObject* device_info_type() {
  return create_record_class<DeviceInfo>("DeviceInfo");
}
// The result records are made by Activity, never by calling the class.
PyTypeObject* elevation_gain_type() {
  return create_record_class<ElevationGain, false>("ElevationGain");
}
PyTypeObject* moving_data_type() {
  return create_record_class<MovingData, false>("MovingData");
}
PyTypeObject* bounds_type() {
  return create_record_class<Bounds, false>("Bounds");
}

}  // namespace tramlix::python
