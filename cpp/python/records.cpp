// TrackPoint, Segment, ActivitySummary, DeviceInfo and the three result records.
#include <string>

#include "classes.hpp"
#include "time.hpp"
#include "tramlix/text.hpp"

namespace tramlix::python {
namespace {

// ---- TrackPoint ----

PyObject* track_point_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"time",        "latitude",       "longitude",   "elevation_m",
                                  "distance_m",  "heart_rate_bpm", "cadence_rpm", "speed_mps",
                                  "power_watts", "temperature_c",  nullptr};
    Arg time = nullptr, latitude = nullptr, longitude = nullptr, elevation_m = nullptr,
        distance_m = nullptr, heart_rate_bpm = nullptr, cadence_rpm = nullptr, speed_mps = nullptr,
        power_watts = nullptr, temperature_c = nullptr;
    parse_arguments(args, kwargs, "|$OOOOOOOOOO:TrackPoint", names, &time, &latitude, &longitude,
                    &elevation_m, &distance_m, &heart_rate_bpm, &cadence_rpm, &speed_mps,
                    &power_watts, &temperature_c);
    TrackPoint point;
    point.latitude = to_float(latitude, "latitude");
    point.longitude = to_float(longitude, "longitude");
    point.elevation_m = to_float(elevation_m, "elevation_m");
    point.distance_m = to_float(distance_m, "distance_m");
    point.heart_rate_bpm = to_u16(heart_rate_bpm, "heart_rate_bpm");
    point.cadence_rpm = to_u16(cadence_rpm, "cadence_rpm");
    point.speed_mps = to_float(speed_mps, "speed_mps");
    point.power_watts = to_u16(power_watts, "power_watts");
    point.temperature_c = to_i16(temperature_c, "temperature_c");
    point.time = parse_python_time(time);
    return box(std::move(point));
  });
}

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

PyGetSetDef track_point_properties[] = {
    property<TrackPoint, &TrackPoint::time>("time"),
    property<TrackPoint, &TrackPoint::latitude>("latitude"),
    property<TrackPoint, &TrackPoint::longitude>("longitude"),
    property<TrackPoint, &TrackPoint::elevation_m>("elevation_m"),
    property<TrackPoint, &TrackPoint::distance_m>("distance_m"),
    property<TrackPoint, &TrackPoint::heart_rate_bpm>("heart_rate_bpm"),
    property<TrackPoint, &TrackPoint::cadence_rpm>("cadence_rpm"),
    property<TrackPoint, &TrackPoint::speed_mps>("speed_mps"),
    property<TrackPoint, &TrackPoint::power_watts>("power_watts"),
    property<TrackPoint, &TrackPoint::temperature_c>("temperature_c"),
    {},
};

PyType_Slot track_point_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("TrackPoint(*, time=None, latitude=None, longitude=None, elevation_m=None, "
                       "distance_m=None, heart_rate_bpm=None, cadence_rpm=None, speed_mps=None, "
                       "power_watts=None, temperature_c=None)\n--\n\n")},
    {Py_tp_new, slot(track_point_new)},
    {Py_tp_dealloc, slot(dealloc_box<TrackPoint>)},
    {Py_tp_repr, slot(track_point_repr)},
    {Py_tp_getset, track_point_properties},
    {0, nullptr},
};

// ---- Segment ----

PyObject* segment_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"points", nullptr};
    Arg points = nullptr;
    parse_arguments(args, kwargs, "|O:Segment", names, &points);
    return box(Segment{to_list<TrackPoint>(points, "points")});
  });
}

Py_ssize_t segment_length(PyObject* self) {
  return static_cast<Py_ssize_t>(unbox<Segment>(self).points.size());
}

PyGetSetDef segment_properties[] = {
    property<Segment, &Segment::points>("points"),
    {},
};

PyType_Slot segment_slots[] = {
    {Py_tp_doc, const_cast<char*>("Segment(points=...)\n--\n\n")},
    {Py_tp_new, slot(segment_new)},
    {Py_tp_dealloc, slot(dealloc_box<Segment>)},
    {Py_tp_getset, segment_properties},
    {Py_sq_length, slot(segment_length)},
    {0, nullptr},
};

// ---- ActivitySummary ----

PyObject* activity_summary_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {
        "total_elapsed_seconds", "total_timer_seconds",  "total_moving_seconds",
        "total_distance_meters", "average_speed_mps",    "average_heart_rate_bpm",
        "total_ascent_meters",   "total_descent_meters", nullptr};
    Arg values[8] = {};
    parse_arguments(args, kwargs, "|$OOOOOOOO:ActivitySummary", names, &values[0], &values[1],
                    &values[2], &values[3], &values[4], &values[5], &values[6], &values[7]);
    ActivitySummary summary;
    std::optional<double>* fields[] = {
        &summary.total_elapsed_seconds, &summary.total_timer_seconds,
        &summary.total_moving_seconds,  &summary.total_distance_meters,
        &summary.average_speed_mps,     &summary.average_heart_rate_bpm,
        &summary.total_ascent_meters,   &summary.total_descent_meters,
    };
    for (int i = 0; i < 8; ++i) *fields[i] = to_float(values[i], names[i]);
    return box(std::move(summary));
  });
}

PyGetSetDef activity_summary_properties[] = {
    property<ActivitySummary, &ActivitySummary::total_elapsed_seconds>("total_elapsed_seconds"),
    property<ActivitySummary, &ActivitySummary::total_timer_seconds>("total_timer_seconds"),
    property<ActivitySummary, &ActivitySummary::total_moving_seconds>("total_moving_seconds"),
    property<ActivitySummary, &ActivitySummary::total_distance_meters>("total_distance_meters"),
    property<ActivitySummary, &ActivitySummary::average_speed_mps>("average_speed_mps"),
    property<ActivitySummary, &ActivitySummary::average_heart_rate_bpm>("average_heart_rate_bpm"),
    property<ActivitySummary, &ActivitySummary::total_ascent_meters>("total_ascent_meters"),
    property<ActivitySummary, &ActivitySummary::total_descent_meters>("total_descent_meters"),
    {},
};

PyType_Slot activity_summary_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("ActivitySummary(*, total_elapsed_seconds=None, total_timer_seconds=None, "
                       "total_moving_seconds=None, total_distance_meters=None, "
                       "average_speed_mps=None, average_heart_rate_bpm=None, "
                       "total_ascent_meters=None, total_descent_meters=None)\n--\n\n")},
    {Py_tp_new, slot(activity_summary_new)},
    {Py_tp_dealloc, slot(dealloc_box<ActivitySummary>)},
    {Py_tp_getset, activity_summary_properties},
    {0, nullptr},
};

// ---- DeviceInfo ----

PyObject* device_info_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {
        "manufacturer",  "manufacturer_id",  "product",      "product_id",  "product_name",
        "serial_number", "software_version", "device_index", "source_type", nullptr};
    Arg manufacturer = nullptr, manufacturer_id = nullptr, product = nullptr, product_id = nullptr,
        product_name = nullptr, serial_number = nullptr, software_version = nullptr,
        device_index = nullptr, source_type = nullptr;
    parse_arguments(args, kwargs, "|$OOOOOOOOO:DeviceInfo", names, &manufacturer, &manufacturer_id,
                    &product, &product_id, &product_name, &serial_number, &software_version,
                    &device_index, &source_type);
    DeviceInfo info;
    info.manufacturer = to_text(manufacturer, "manufacturer");
    info.manufacturer_id = to_u16(manufacturer_id, "manufacturer_id");
    info.product = to_text(product, "product");
    info.product_id = to_u16(product_id, "product_id");
    info.product_name = to_text(product_name, "product_name");
    info.serial_number = to_u32(serial_number, "serial_number");
    info.software_version = to_float(software_version, "software_version");
    info.device_index = to_u8(device_index, "device_index");
    info.source_type = to_text(source_type, "source_type");
    return box(std::move(info));
  });
}

PyGetSetDef device_info_properties[] = {
    property<DeviceInfo, &DeviceInfo::manufacturer>("manufacturer"),
    property<DeviceInfo, &DeviceInfo::manufacturer_id>("manufacturer_id"),
    property<DeviceInfo, &DeviceInfo::product>("product"),
    property<DeviceInfo, &DeviceInfo::product_id>("product_id"),
    property<DeviceInfo, &DeviceInfo::product_name>("product_name"),
    property<DeviceInfo, &DeviceInfo::serial_number>("serial_number"),
    property<DeviceInfo, &DeviceInfo::software_version>("software_version"),
    property<DeviceInfo, &DeviceInfo::device_index>("device_index"),
    property<DeviceInfo, &DeviceInfo::source_type>("source_type"),
    {},
};

PyType_Slot device_info_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("DeviceInfo(*, manufacturer=None, manufacturer_id=None, product=None, "
                       "product_id=None, product_name=None, serial_number=None, "
                       "software_version=None, device_index=None, source_type=None)\n--\n\n")},
    {Py_tp_new, slot(device_info_new)},
    {Py_tp_dealloc, slot(dealloc_box<DeviceInfo>)},
    {Py_tp_getset, device_info_properties},
    {0, nullptr},
};

// ---- Result records: made only by Activity, never by calling the class ----

template <class T>
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "No constructor defined for %s", python_name<T>);
  return nullptr;
}

template <class T>
PyTypeObject* create_result_class(const char* qualified_name, const char* name,
                                  PyGetSetDef* properties) {
  static PyType_Slot slots[] = {
      {Py_tp_new, slot(no_constructor<T>)},
      {Py_tp_dealloc, slot(dealloc_box<T>)},
      {Py_tp_getset, properties},
      {0, nullptr},
  };
  return create_class<T>(qualified_name, name, slots);
}

PyGetSetDef elevation_gain_properties[] = {
    property<ElevationGain, &ElevationGain::uphill_meters>("uphill_meters"),
    property<ElevationGain, &ElevationGain::downhill_meters>("downhill_meters"),
    {},
};

PyGetSetDef moving_data_properties[] = {
    property<MovingData, &MovingData::moving_time_seconds>("moving_time_seconds"),
    property<MovingData, &MovingData::stopped_time_seconds>("stopped_time_seconds"),
    property<MovingData, &MovingData::moving_distance_meters>("moving_distance_meters"),
    property<MovingData, &MovingData::stopped_distance_meters>("stopped_distance_meters"),
    property<MovingData, &MovingData::max_speed_mps>("max_speed_mps"),
    {},
};

PyGetSetDef bounds_properties[] = {
    property<Bounds, &Bounds::min_latitude>("min_latitude"),
    property<Bounds, &Bounds::max_latitude>("max_latitude"),
    property<Bounds, &Bounds::min_longitude>("min_longitude"),
    property<Bounds, &Bounds::max_longitude>("max_longitude"),
    {},
};

}  // namespace

PyTypeObject* track_point_type() {
  return create_class<TrackPoint>("tramlix.TrackPoint", "TrackPoint", track_point_slots);
}
PyTypeObject* segment_type() {
  return create_class<Segment>("tramlix.Segment", "Segment", segment_slots);
}
PyTypeObject* activity_summary_type() {
  return create_class<ActivitySummary>("tramlix.ActivitySummary", "ActivitySummary",
                                       activity_summary_slots);
}
PyTypeObject* device_info_type() {
  return create_class<DeviceInfo>("tramlix.DeviceInfo", "DeviceInfo", device_info_slots);
}
PyTypeObject* elevation_gain_type() {
  return create_result_class<ElevationGain>("tramlix.ElevationGain", "ElevationGain",
                                            elevation_gain_properties);
}
PyTypeObject* moving_data_type() {
  return create_result_class<MovingData>("tramlix.MovingData", "MovingData",
                                         moving_data_properties);
}
PyTypeObject* bounds_type() {
  return create_result_class<Bounds>("tramlix.Bounds", "Bounds", bounds_properties);
}

}  // namespace tramlix::python
