// Activity and ActivityFile: the analytics getters and the file's encoders.
#include <span>
#include <string>
#include <vector>

#include "analysis.hpp"
#include "classes.hpp"
#include "laps.hpp"
#include "table.hpp"
#include "tramlix/io.hpp"
#include "tramlix/omissions.hpp"
#include "tramlix/tables.hpp"

namespace tramlix::python {
namespace {

constexpr int kVarargs = METH_VARARGS | METH_KEYWORDS;

// ---- Activity ----

PyObject* activity_moving_data(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg threshold = one_argument(args, kwargs, "|O:moving_data", "stopped_speed_kph");
    const double kph = to_float_or(threshold, "stopped_speed_kph", 1.0);
    return to_python(unbox<Activity>(self).moving_data(kph));
  });
}

// Activity and ActivityFile simplify alike: the same argument, default and result shape.
template <class Model>
PyObject* simplified(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg tolerance = one_argument(args, kwargs, "|O:simplified", "max_distance_m");
    const double metres = to_float_or(tolerance, "max_distance_m", 10.0);
    return box(unbox<Model>(self).simplified(metres));
  });
}

Py_ssize_t activity_length(PyObject* self) {
  return static_cast<Py_ssize_t>(unbox<Activity>(self).point_count());
}

// The point table of an Activity or an ActivityFile, built while other threads run.
template <class Model>
PyObject* to_arrow(PyObject* self, PyObject*) {
  return boundary([&] {
    const Model& model = unbox<Model>(self);
    return box(without_gil([&] { return point_table(model); }));
  });
}

PyMethodDef activity_methods[] = {
    {"moving_data", method(activity_moving_data), kVarargs,
     "moving_data($self, stopped_speed_kph=1.0)\n--\n\n"},
    {"simplified", method(simplified<Activity>), kVarargs,
     "simplified($self, max_distance_m=10.0)\n--\n\n"},
    {"to_arrow", method(to_arrow<Activity>), METH_NOARGS, "to_arrow($self)\n--\n\n"},
    {"splits", method(activity_splits), kVarargs, "splits($self, every_m=1000.0)\n--\n\n"},
    {},
};

// ---- ActivityFile ----

// The value of an ActivityFile object never changes, so the encoders can read it while other
// threads run.
nb::object encode(PyObject* self, Format format) {
  const ActivityFile& file = unbox<ActivityFile>(self);
  std::string bytes = value_or_raise(without_gil([&] { return dumps(file, format); }));
  return checked(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}

PyObject* activity_file_to_bytes(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg format = one_argument(args, kwargs, "O:to_bytes", "format");
    return encode(self, to_format(format, "format"));
  });
}

PyObject* activity_file_to_gpx(PyObject* self, PyObject*) {
  return boundary([&] { return encode(self, Format::Gpx); });
}
PyObject* activity_file_to_tcx(PyObject* self, PyObject*) {
  return boundary([&] { return encode(self, Format::Tcx); });
}
PyObject* activity_file_to_fit(PyObject* self, PyObject*) {
  return boundary([&] { return encode(self, Format::Fit); });
}

PyObject* activity_file_with_device_info(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg device_info = one_argument(args, kwargs, "O:with_device_info", "device_info");
    const DeviceInfo info = to_record<DeviceInfo>(device_info, "device_info");
    return box(unbox<ActivityFile>(self).with_device_info(info));
  });
}

PyObject* activity_file_save(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg path_arg = one_argument(args, kwargs, "O:save", "path");
    const std::string path = to_path(path_arg, "path");
    const ActivityFile& file = unbox<ActivityFile>(self);
    auto saved = without_gil([&] { return save(file, path); });
    if (!saved) raise_error(saved.error());
    return nb::none();
  });
}

// Omissions as {reason: count} for the reasons with a count, in the order of the reasons.
nb::object omission_counts(const Omissions& omitted) {
  nb::object counts = checked(PyDict_New());
  for (std::size_t i = 0; i < kOmissionCount; ++i) {
    if (omitted.counts[i] == 0) continue;
    nb::object name = to_python(omission_name(static_cast<Omission>(i)));
    nb::object count = to_python(omitted.counts[i]);
    if (PyDict_SetItem(counts.ptr(), name.ptr(), count.ptr()) != 0) throw_error_already_set();
  }
  return counts;
}

// What writing the file as `format` leaves out, counted by the writer itself.
PyObject* activity_file_omissions(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg format_arg = one_argument(args, kwargs, "O:omissions", "format");
    const Format format = to_format(format_arg, "format");
    const ActivityFile& file = unbox<ActivityFile>(self);
    return omission_counts(value_or_raise(without_gil([&] { return omissions(file, format); })));
  });
}

// save(), and what the format left out: one write, counted as it goes.
PyObject* activity_file_save_with_omissions(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg path_arg = one_argument(args, kwargs, "O:save_with_omissions", "path");
    const std::string path = to_path(path_arg, "path");
    const ActivityFile& file = unbox<ActivityFile>(self);
    Omissions omitted;
    auto saved = without_gil([&] { return save(file, path, &omitted); });
    if (!saved) raise_error(saved.error());
    return omission_counts(omitted);
  });
}

PyObject* activity_file_to_json(PyObject* self, PyObject*) {
  return boundary([&] { return to_python(to_json(unbox<ActivityFile>(self))); });
}

Py_ssize_t activity_file_length(PyObject* self) {
  return static_cast<Py_ssize_t>(unbox<ActivityFile>(self).activities.size());
}

PyMethodDef activity_file_methods[] = {
    {"to_bytes", method(activity_file_to_bytes), kVarargs, "to_bytes($self, format)\n--\n\n"},
    {"to_gpx", method(activity_file_to_gpx), METH_NOARGS, "to_gpx($self)\n--\n\n"},
    {"to_tcx", method(activity_file_to_tcx), METH_NOARGS, "to_tcx($self)\n--\n\n"},
    {"to_fit", method(activity_file_to_fit), METH_NOARGS, "to_fit($self)\n--\n\n"},
    {"with_device_info", method(activity_file_with_device_info), kVarargs,
     "with_device_info($self, device_info)\n--\n\n"},
    {"save", method(activity_file_save), kVarargs, "save($self, path)\n--\n\n"},
    {"omissions", method(activity_file_omissions), kVarargs, "omissions($self, format)\n--\n\n"},
    {"save_with_omissions", method(activity_file_save_with_omissions), kVarargs,
     "save_with_omissions($self, path)\n--\n\n"},
    {"to_json", method(activity_file_to_json), METH_NOARGS, "to_json($self)\n--\n\n"},
    {"simplified", method(simplified<ActivityFile>), kVarargs,
     "simplified($self, max_distance_m=10.0)\n--\n\n"},
    {"to_arrow", method(to_arrow<ActivityFile>), METH_NOARGS, "to_arrow($self)\n--\n\n"},
    {},
};

// A class's own methods followed by those of its analyses, with the closing sentinel; built once
// and kept for the process's lifetime, as the class is.
std::vector<PyMethodDef>* joined_methods(std::span<const PyMethodDef> own,
                                         std::span<const PyMethodDef> more) {
  auto* methods = new std::vector<PyMethodDef>(own.begin(), own.end() - 1);
  methods->insert(methods->end(), more.begin(), more.end());
  methods->push_back({});
  return methods;
}

}  // namespace

PyTypeObject* activity_type() {
  static std::vector<PyMethodDef>* methods =
      joined_methods(activity_methods, activity_analysis_methods());
  return create_record_class<Activity>(
      "Activity",
      {.properties = {property<Activity, &Activity::end_time>("end_time"),
                      property<Activity, &Activity::point_count>("point_count"),
                      property<Activity, &Activity::distance_meters>("distance_meters"),
                      property<Activity, &Activity::duration_seconds>("duration_seconds"),
                      property<Activity, &Activity::average_heart_rate>("average_heart_rate_bpm"),
                      property<Activity, &Activity::elevation_gain>("elevation_gain"),
                      property<Activity, &Activity::bounds>("bounds"), activity_geo_interface()},
       .slots = {{Py_tp_methods, methods->data()}, {Py_sq_length, slot(activity_length)}}});
}
PyTypeObject* activity_file_type() {
  static std::vector<PyMethodDef>* methods =
      joined_methods(activity_file_methods, activity_file_analysis_methods());
  return create_record_class<ActivityFile>(
      "ActivityFile",
      {.positional = 1,
       .properties = {property<ActivityFile, &ActivityFile::point_count>("point_count"),
                      activity_file_geo_interface()},
       .slots = {{Py_tp_methods, methods->data()}, {Py_sq_length, slot(activity_file_length)}}});
}

}  // namespace tramlix::python
