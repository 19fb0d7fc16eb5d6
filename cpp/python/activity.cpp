// Activity and ActivityFile: the analytics getters and the file's encoders.
#include <string>

#include "classes.hpp"
#include "time.hpp"
#include "tramlix/io.hpp"
#include "tramlix/omissions.hpp"

namespace tramlix::python {
namespace {

constexpr int kVarargs = METH_VARARGS | METH_KEYWORDS;

// ---- Activity ----

PyObject* activity_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"name",    "sport",    "sub_sport", "start_time",
                                  "summary", "segments", nullptr};
    Arg name = nullptr, sport = nullptr, sub_sport = nullptr, start_time = nullptr,
        summary = nullptr, segments = nullptr;
    parse_arguments(args, kwargs, "|$OOOOOO:Activity", names, &name, &sport, &sub_sport,
                    &start_time, &summary, &segments);
    Activity activity;
    activity.name = to_text(name, "name");
    activity.sport = to_text(sport, "sport");
    activity.sub_sport = to_text(sub_sport, "sub_sport");
    activity.summary =
        to_optional_record<ActivitySummary>(summary, "summary").value_or(ActivitySummary{});
    activity.segments = to_list<Segment>(segments, "segments");
    activity.start_time = parse_python_time(start_time);
    return box(std::move(activity));
  });
}

PyObject* activity_moving_data(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"stopped_speed_kph", nullptr};
    Arg threshold = nullptr;
    parse_arguments(args, kwargs, "|O:moving_data", names, &threshold);
    const double kph = to_float_or(threshold, "stopped_speed_kph", 1.0);
    return to_python(unbox<Activity>(self).moving_data(kph));
  });
}

// Activity and ActivityFile simplify alike: the same argument, default and result shape.
template <class Model>
PyObject* simplified(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"max_distance_m", nullptr};
    Arg tolerance = nullptr;
    parse_arguments(args, kwargs, "|O:simplified", names, &tolerance);
    const double metres = to_float_or(tolerance, "max_distance_m", 10.0);
    return box(unbox<Model>(self).simplified(metres));
  });
}

Py_ssize_t activity_length(PyObject* self) {
  return static_cast<Py_ssize_t>(unbox<Activity>(self).point_count());
}

PyGetSetDef activity_properties[] = {
    property<Activity, &Activity::name>("name"),
    property<Activity, &Activity::sport>("sport"),
    property<Activity, &Activity::sub_sport>("sub_sport"),
    property<Activity, &Activity::effective_start_time>("start_time"),
    property<Activity, &Activity::end_time>("end_time"),
    property<Activity, &Activity::summary>("summary"),
    property<Activity, &Activity::segments>("segments"),
    property<Activity, &Activity::point_count>("point_count"),
    property<Activity, &Activity::distance_meters>("distance_meters"),
    property<Activity, &Activity::duration_seconds>("duration_seconds"),
    property<Activity, &Activity::average_heart_rate>("average_heart_rate_bpm"),
    property<Activity, &Activity::elevation_gain>("elevation_gain"),
    property<Activity, &Activity::bounds>("bounds"),
    {},
};

PyMethodDef activity_methods[] = {
    {"moving_data", method(activity_moving_data), kVarargs,
     "moving_data($self, stopped_speed_kph=1.0)\n--\n\n"},
    {"simplified", method(simplified<Activity>), kVarargs,
     "simplified($self, max_distance_m=10.0)\n--\n\n"},
    {},
};

PyType_Slot activity_slots[] = {
    {Py_tp_doc, const_cast<char*>("Activity(*, name=None, sport=None, sub_sport=None, "
                                  "start_time=None, summary=None, segments=...)\n--\n\n")},
    {Py_tp_new, slot(activity_new)},
    {Py_tp_dealloc, slot(dealloc_box<Activity>)},
    {Py_tp_getset, activity_properties},
    {Py_tp_methods, activity_methods},
    {Py_sq_length, slot(activity_length)},
    {0, nullptr},
};

// ---- ActivityFile ----

PyObject* activity_file_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"activities", "creator", "device_info", nullptr};
    Arg activities = nullptr, creator = nullptr, device_info = nullptr;
    parse_arguments(args, kwargs, "|O$OO:ActivityFile", names, &activities, &creator, &device_info);
    ActivityFile file;
    file.activities = to_list<Activity>(activities, "activities");
    file.creator = to_text(creator, "creator");
    file.device_info = to_optional_record<DeviceInfo>(device_info, "device_info");
    return box(std::move(file));
  });
}

// The value of an ActivityFile object never changes, so the encoders can read it while other
// threads run.
nb::object encode(PyObject* self, Format format) {
  const ActivityFile& file = unbox<ActivityFile>(self);
  std::string bytes = value_or_raise(without_gil([&] { return dumps(file, format); }));
  return checked(PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size())));
}

PyObject* activity_file_to_bytes(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"format", nullptr};
    Arg format = nullptr;
    parse_arguments(args, kwargs, "O:to_bytes", names, &format);
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
    static const char* names[] = {"device_info", nullptr};
    Arg device_info = nullptr;
    parse_arguments(args, kwargs, "O:with_device_info", names, &device_info);
    const DeviceInfo info = to_record<DeviceInfo>(device_info, "device_info");
    return box(unbox<ActivityFile>(self).with_device_info(info));
  });
}

PyObject* activity_file_save(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"path", nullptr};
    Arg path_arg = nullptr;
    parse_arguments(args, kwargs, "O:save", names, &path_arg);
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
    static const char* names[] = {"format", nullptr};
    Arg format_arg = nullptr;
    parse_arguments(args, kwargs, "O:omissions", names, &format_arg);
    const Format format = to_format(format_arg, "format");
    const ActivityFile& file = unbox<ActivityFile>(self);
    return omission_counts(value_or_raise(without_gil([&] { return omissions(file, format); })));
  });
}

// save(), and what the format left out: one write, counted as it goes.
PyObject* activity_file_save_with_omissions(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"path", nullptr};
    Arg path_arg = nullptr;
    parse_arguments(args, kwargs, "O:save_with_omissions", names, &path_arg);
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

PyGetSetDef activity_file_properties[] = {
    property<ActivityFile, &ActivityFile::activities>("activities"),
    property<ActivityFile, &ActivityFile::creator>("creator"),
    property<ActivityFile, &ActivityFile::device_info>("device_info"),
    property<ActivityFile, &ActivityFile::point_count>("point_count"),
    {},
};

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
    {},
};

PyType_Slot activity_file_slots[] = {
    {Py_tp_doc,
     const_cast<char*>("ActivityFile(activities=..., *, creator=None, device_info=None)\n--\n\n")},
    {Py_tp_new, slot(activity_file_new)},
    {Py_tp_dealloc, slot(dealloc_box<ActivityFile>)},
    {Py_tp_getset, activity_file_properties},
    {Py_tp_methods, activity_file_methods},
    {Py_sq_length, slot(activity_file_length)},
    {0, nullptr},
};

}  // namespace

PyTypeObject* activity_type() {
  return create_class<Activity>("tramlix.Activity", "Activity", activity_slots);
}
PyTypeObject* activity_file_type() {
  return create_class<ActivityFile>("tramlix.ActivityFile", "ActivityFile", activity_file_slots);
}

}  // namespace tramlix::python
