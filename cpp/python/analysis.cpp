// The analyses of an activity: arguments checked and converted, the core's figures turned into
// Python objects.
#include "analysis.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "classes.hpp"
#include "tramlix/analysis.hpp"

namespace tramlix::python {
namespace {

constexpr int kVarargs = METH_VARARGS | METH_KEYWORDS;

[[noreturn]] void raise_value_error(const std::string& message) {
  PyErr_SetString(PyExc_ValueError, message.c_str());
  throw_error_already_set();
}

Channel to_channel(PyObject* object) {
  const std::string_view name = to_required_text(object, "channel");
  if (const std::optional<Channel> channel = channel_from_name(name)) return *channel;
  std::string message = "unknown channel '" + std::string(name) + "': one of ";
  for (Channel channel : kChannels) {
    if (channel != kChannels.front()) message += ", ";
    message += channel_name(channel);
  }
  raise_value_error(message);
}

double to_gap_limit(PyObject* object) {
  const double seconds = to_float_or(object, "gap_limit_seconds", kDefaultGapLimitSeconds);
  if (!(seconds > 0.0)) raise_value_error("gap_limit_seconds must be greater than 0");
  return seconds;
}

// The items of a sequence (not a str), each converted by `convert(item)`.
template <class T, class Convert>
std::vector<T> to_items(PyObject* object, const char* name, Convert&& convert) {
  if (PyUnicode_Check(object) || !PySequence_Check(object)) {
    raise_type_error(name, "Sequence", object);
  }
  const Py_ssize_t size = PySequence_Size(object);
  if (size < 0) throw_error_already_set();
  std::vector<T> items;
  items.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    nb::object item = checked(PySequence_GetItem(object, i));
    items.push_back(convert(item.ptr()));
  }
  return items;
}

std::vector<double> to_floats(PyObject* object, const char* name) {
  return to_items<double>(object, name,
                          [&](PyObject* item) { return to_float_or(item, name, 0.0); });
}

nb::object to_python_list(const std::vector<double>& values) {
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(i), to_python(values[i]).release().ptr());
  }
  return list;
}

nb::object to_python_list(const std::vector<std::optional<double>>& values) {
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(i), to_python(values[i]).release().ptr());
  }
  return list;
}

// ---- Activity ----

PyObject* activity_stats(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg gap = one_argument(args, kwargs, "|O:stats", "gap_limit_seconds");
    return box(stats(unbox<Activity>(self), to_gap_limit(gap)));
  });
}

PyObject* activity_time_in_zones(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"channel", "bounds", "gap_limit_seconds", nullptr};
    Arg channel_arg = nullptr, bounds_arg = nullptr, gap_arg = nullptr;
    parse_arguments(args, kwargs, "OO|O:time_in_zones", names, &channel_arg, &bounds_arg, &gap_arg);
    const Channel channel = to_channel(channel_arg);
    const std::vector<double> bounds = to_floats(bounds_arg, "bounds");
    for (std::size_t i = 0; i < bounds.size(); ++i) {
      if (std::isnan(bounds[i]) || (i > 0 && !(bounds[i - 1] < bounds[i]))) {
        raise_value_error("bounds must be numbers in ascending order");
      }
    }
    const double gap = to_gap_limit(gap_arg);
    return to_python_list(time_in_zones(unbox<Activity>(self), channel, bounds, gap));
  });
}

PyObject* activity_mean_max(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"channel", "durations", "gap_limit_seconds", nullptr};
    Arg channel_arg = nullptr, durations_arg = nullptr, gap_arg = nullptr;
    parse_arguments(args, kwargs, "OO|O:mean_max", names, &channel_arg, &durations_arg, &gap_arg);
    const Channel channel = to_channel(channel_arg);
    const auto durations = to_items<std::int64_t>(durations_arg, "durations", [](PyObject* item) {
      const long seconds = to_integer_in(item, "durations", std::numeric_limits<long>::min(),
                                         std::numeric_limits<long>::max());
      if (seconds <= 0) raise_value_error("durations must be whole seconds greater than 0");
      return static_cast<std::int64_t>(seconds);
    });
    const double gap = to_gap_limit(gap_arg);
    return to_python_list(mean_max(unbox<Activity>(self), channel, durations, gap));
  });
}

PyObject* activity_best_efforts(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg distances_arg = one_argument(args, kwargs, "O:best_efforts", "distances_m");
    const std::vector<double> distances = to_floats(distances_arg, "distances_m");
    for (double metres : distances) {
      if (!(metres > 0.0) || !std::isfinite(metres)) {
        raise_value_error("distances_m must be finite numbers of metres greater than 0");
      }
    }
    return to_python_list(best_efforts(unbox<Activity>(self), distances));
  });
}

PyObject* activity_filtered_elevation_gain(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg threshold_arg =
        one_argument(args, kwargs, "|O:filtered_elevation_gain", "threshold_m");
    const double threshold = to_float_or(threshold_arg, "threshold_m", 5.0);
    if (!(threshold >= 0.0)) raise_value_error("threshold_m must be 0 or more");
    return box(filtered_elevation_gain(unbox<Activity>(self), threshold));
  });
}

template <class Model>
PyObject* to_geojson_text(PyObject* self, PyObject*) {
  return boundary([&] { return to_python(to_geojson(unbox<Model>(self))); });
}

// Activity.plot(...) is tramlix.plot.plot_activity(activity, ...): matplotlib is optional and
// the picture is drawn in Python.
PyObject* activity_plot(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    nb::object module = checked(PyImport_ImportModule("tramlix.plot"));
    nb::object draw = checked(PyObject_GetAttrString(module.ptr(), "plot_activity"));
    nb::object prefix = checked(PyTuple_Pack(1, self));
    nb::object all_args = checked(PySequence_Concat(prefix.ptr(), args));
    return checked(PyObject_Call(draw.ptr(), all_args.ptr(), kwargs));
  });
}

// ---- GeoJSON objects ----

void set_item(const nb::object& dict, const char* key, const nb::object& value) {
  if (PyDict_SetItemString(dict.ptr(), key, value.ptr()) != 0) throw_error_already_set();
}

nb::object text_object(const char* text) {
  return checked(PyUnicode_FromString(text));
}

// Times as GeoJSON text has them: RFC 3339 ending in Z.
nb::object json_time(const std::optional<UtcInstant>& time) {
  if (!time) return nb::none();
  std::string text;
  append_json_time(text, *time);
  return to_python(text);
}

nb::object position_object(const GeoPosition& position, bool with_elevation) {
  nb::object list = checked(PyList_New(with_elevation ? 3 : 2));
  PyList_SetItem(list.ptr(), 0, to_python(position.longitude).release().ptr());
  PyList_SetItem(list.ptr(), 1, to_python(position.latitude).release().ptr());
  if (with_elevation) {
    PyList_SetItem(list.ptr(), 2, to_python(position.elevation_m).release().ptr());
  }
  return list;
}

nb::object geometry_object(const GeoFeature& feature) {
  if (feature.lines.empty()) return nb::none();
  nb::object lines = checked(PyList_New(static_cast<Py_ssize_t>(feature.lines.size())));
  for (std::size_t l = 0; l < feature.lines.size(); ++l) {
    const std::vector<GeoPosition>& positions = feature.lines[l];
    nb::object line = checked(PyList_New(static_cast<Py_ssize_t>(positions.size())));
    for (std::size_t p = 0; p < positions.size(); ++p) {
      PyList_SetItem(line.ptr(), static_cast<Py_ssize_t>(p),
                     position_object(positions[p], feature.with_elevation).release().ptr());
    }
    PyList_SetItem(lines.ptr(), static_cast<Py_ssize_t>(l), line.release().ptr());
  }
  nb::object geometry = checked(PyDict_New());
  set_item(geometry, "type", text_object("MultiLineString"));
  set_item(geometry, "coordinates", lines);
  return geometry;
}

nb::object feature_object(const Activity& activity) {
  const GeoFeature feature = geo_feature(activity);
  nb::object properties = checked(PyDict_New());
  set_item(properties, "name", to_python(feature.name));
  set_item(properties, "sport", to_python(feature.sport));
  set_item(properties, "start_time", json_time(feature.start_time));
  set_item(properties, "end_time", json_time(feature.end_time));
  set_item(properties, "distance_meters", to_python(feature.distance_meters));
  nb::object object = checked(PyDict_New());
  set_item(object, "type", text_object("Feature"));
  set_item(object, "geometry", geometry_object(feature));
  set_item(object, "properties", properties);
  return object;
}

PyObject* activity_geo(PyObject* self, void*) {
  return boundary([&] { return feature_object(unbox<Activity>(self)); });
}

PyObject* activity_file_geo(PyObject* self, void*) {
  return boundary([&] {
    const ActivityFile& file = unbox<ActivityFile>(self);
    nb::object features = checked(PyList_New(static_cast<Py_ssize_t>(file.activities.size())));
    for (std::size_t i = 0; i < file.activities.size(); ++i) {
      PyList_SetItem(features.ptr(), static_cast<Py_ssize_t>(i),
                     feature_object(file.activities[i]).release().ptr());
    }
    nb::object collection = checked(PyDict_New());
    set_item(collection, "type", text_object("FeatureCollection"));
    set_item(collection, "features", features);
    return collection;
  });
}

// ---- _track_profile ----

template <class T>
nb::object number_list(const std::vector<T>& values) {
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(i), to_python(values[i]).release().ptr());
  }
  return list;
}

// The series tramlix.plot draws, as {name: list}, NaN where a point has no value.
PyObject* track_profile_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg activity_arg = one_argument(args, kwargs, "O:_track_profile", "activity");
    const TrackProfile profile = track_profile(to_record<Activity>(activity_arg, "activity"));
    nb::object series = checked(PyDict_New());
    set_item(series, "segment", number_list(profile.segment));
    set_item(series, "latitude", number_list(profile.latitude));
    set_item(series, "longitude", number_list(profile.longitude));
    set_item(series, "elevation_m", number_list(profile.elevation_m));
    set_item(series, "heart_rate_bpm", number_list(profile.heart_rate_bpm));
    set_item(series, "distance_m", number_list(profile.distance_m));
    set_item(series, "speed_mps", number_list(profile.speed_mps));
    return series;
  });
}

// ---- Tables and docstrings ----

const PyMethodDef activity_methods[] = {
    {"stats", method(activity_stats), kVarargs,
     "stats($self, gap_limit_seconds=10.0)\n--\n\n"
     "Count, minimum, average and maximum of each recorded channel: an ActivityStats with one\n"
     "ChannelStats for each of heart_rate (bpm), cadence (rpm), power (W), speed (m/s),\n"
     "temperature (degrees Celsius) and elevation (m). Cadence and power also average without\n"
     "zeros (coasting, standing).\n\n"
     "Averages are time-weighted where points are timed: a point's value weighs the seconds to\n"
     "the next point of its segment, at most gap_limit_seconds (a longer silence is a pause),\n"
     "and the last point of a segment weighs nothing. A channel whose points have no time to\n"
     "weigh by gets plain means of its values (its time_weighted is False). Absent, NaN and\n"
     "infinite values take no part. Always from the points: recorded totals are not used."},
    {"time_in_zones", method(activity_time_in_zones), kVarargs,
     "time_in_zones($self, channel, bounds, gap_limit_seconds=10.0)\n--\n\n"
     "Seconds spent in each zone of a channel (\"heart_rate\", \"power\", ...): a list with one\n"
     "entry more than bounds, which must ascend. With bounds [120, 140, 160, 175], zone 0 is\n"
     "below 120, zone 1 from 120 up to but not including 140, and zone 4 from 175 up: a value\n"
     "on a boundary belongs to the zone above. Each value counts for its point's time weight,\n"
     "as stats() weighs it, so an activity without times spends no time in any zone."},
    {"mean_max", method(activity_mean_max), kVarargs,
     "mean_max($self, channel, durations, gap_limit_seconds=10.0)\n--\n\n"
     "The best average of a channel (\"power\", \"heart_rate\", \"speed\", ...) over each\n"
     "duration in whole seconds: the power-duration curve. A list aligned with durations, None\n"
     "where no stretch of the activity lasts that long.\n\n"
     "The track is resampled at 1 Hz: each second of a stretch takes the value of the last point\n"
     "at or before it. A stretch ends where the next value comes more than gap_limit_seconds\n"
     "later, where time goes back and at the end of a segment; no window spans two stretches,\n"
     "so pauses are never bridged. The average is the plain mean of the window's seconds."},
    {"best_efforts", method(activity_best_efforts), kVarargs,
     "best_efforts($self, distances_m)\n--\n\n"
     "The fastest time in seconds over each distance in metres: a list aligned with\n"
     "distances_m, None where the activity is shorter. Distances come from the recorded\n"
     "distances when any point has one, else from the positions, as distance_meters measures\n"
     "them; an effort starts and ends between points at an even pace between them. Times are\n"
     "wall-clock time: a pause inside an effort counts."},
    {"filtered_elevation_gain", method(activity_filtered_elevation_gain), kVarargs,
     "filtered_elevation_gain($self, threshold_m=5.0)\n--\n\n"
     "Climb and descent in metres with changes smaller than threshold_m taken for noise\n"
     "(hysteresis from the last turning point), as an ElevationGain.\n\n"
     "A climb counts once the elevation has risen at least threshold_m above the lowest point\n"
     "since the last turning point, and then counts whole: from that low point to the highest\n"
     "point reached before a descent of at least threshold_m, which is the next turning point.\n"
     "Descents alike. The last climb or descent counts when it reaches the threshold; smaller\n"
     "wobbles before the first turning point and after the last count nothing. Each segment on\n"
     "its own; points without an elevation are passed over. Always from the points, unlike\n"
     "elevation_gain (which prefers recorded totals and counts every change); a threshold of 0\n"
     "counts every change."},
    {"to_geojson", method(to_geojson_text<Activity>), METH_NOARGS,
     "to_geojson($self)\n--\n\n"
     "The activity as GeoJSON text (RFC 7946): the Feature that __geo_interface__ gives."},
    {"plot", method(activity_plot), kVarargs,
     "plot($self, path=None, *, color_by=None)\n--\n\n"
     "A picture of the activity: the track (start and end marked, coloured by speed or heart\n"
     "rate) above elevation, heart rate and speed against distance. Returns the matplotlib\n"
     "Figure when path is None, else saves it (PNG, SVG or PDF by the extension) and returns\n"
     "None. Needs matplotlib: pip install 'tramlix[plot]'. See tramlix.plot.plot_activity."},
};

const PyMethodDef activity_file_methods[] = {
    {"to_geojson", method(to_geojson_text<ActivityFile>), METH_NOARGS,
     "to_geojson($self)\n--\n\n"
     "The file as GeoJSON text (RFC 7946): the FeatureCollection that __geo_interface__ gives,\n"
     "one Feature per activity."},
};

PyMethodDef module_functions[] = {
    {"_track_profile", method(track_profile_function), kVarargs, nullptr},
};

constexpr const char* kActivityGeoDoc =
    "GeoJSON of the activity as a dict, for shapely, geopandas, folium and the like: a Feature\n"
    "whose geometry is a MultiLineString with one line per segment and positions\n"
    "[longitude, latitude, elevation]. Elevations are given only when every position has one.\n"
    "Points without both coordinates finite and in range are left out, so is a segment with\n"
    "fewer than two positions left, and an activity without any line has geometry None.\n"
    "Properties: name, sport, start_time and end_time (RFC 3339 in UTC, ending in Z) and\n"
    "distance_meters.";

constexpr const char* kActivityFileGeoDoc =
    "GeoJSON of the file as a dict: a FeatureCollection of one Feature per activity, each as\n"
    "Activity.__geo_interface__ gives it.";

}  // namespace

std::span<const PyMethodDef> activity_analysis_methods() {
  return activity_methods;
}

std::span<const PyMethodDef> activity_file_analysis_methods() {
  return activity_file_methods;
}

PyGetSetDef activity_geo_interface() {
  return {"__geo_interface__", activity_geo, nullptr, kActivityGeoDoc, nullptr};
}

PyGetSetDef activity_file_geo_interface() {
  return {"__geo_interface__", activity_file_geo, nullptr, kActivityFileGeoDoc, nullptr};
}

void add_analysis(PyObject* module) {
  const std::pair<const char*, PyTypeObject*> classes[] = {
      {"ChannelStats", create_record_class<ChannelStats, false>("ChannelStats")},
      {"ActivityStats", create_record_class<ActivityStats, false>("ActivityStats")},
  };
  for (const auto& [name, type] : classes) {
    if (type == nullptr) throw_error_already_set();
    if (PyModule_AddObjectRef(module, name, reinterpret_cast<PyObject*>(type)) != 0) {
      throw_error_already_set();
    }
  }
  for (PyMethodDef& def : module_functions) {
    nb::object module_name = checked(PyModule_GetNameObject(module));
    nb::object function = checked(PyCFunction_NewEx(&def, module, module_name.ptr()));
    if (PyModule_AddObjectRef(module, def.ml_name, function.ptr()) != 0) {
      throw_error_already_set();
    }
  }
}

}  // namespace tramlix::python
