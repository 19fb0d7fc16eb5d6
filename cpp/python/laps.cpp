// tramlix.laps(source) and tramlix.splits(activity, every_m): laps as files record them, and
// distance splits computed from the points.
#include "laps.hpp"

#include <cmath>
#include <string>

#include "classes.hpp"
#include "table.hpp"
#include "tramlix/laps.hpp"

namespace tramlix::python {
namespace {

PyObject* laps_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg source = one_argument(args, kwargs, "O:laps", "source");
    std::expected<std::vector<Lap>, Error> laps;
    if (PyBytes_Check(source)) {
      const std::span<const std::uint8_t> data = to_bytes_view(source, "source");
      laps = without_gil([&] { return read_laps(data); });
    } else {
      const std::string path = to_path(source, "source");
      laps = without_gil([&] { return read_laps_file(path); });
    }
    const std::vector<Lap> rows = value_or_raise(std::move(laps));
    return box(lap_table(rows));
  });
}

double split_length(PyObject* every) {
  const double metres = to_float_or(every, "every_m", 1000.0);
  if (!(metres > 0) || !std::isfinite(metres)) {
    PyErr_SetString(PyExc_ValueError, "every_m must be a positive, finite number of metres");
    throw_error_already_set();
  }
  return metres;
}

nb::object split_table_of(const Activity& activity, double metres) {
  auto rows = splits(activity, metres);
  if (!rows) {
    PyErr_SetString(PyExc_ValueError, rows.error().c_str());
    throw_error_already_set();
  }
  return box(split_table(*rows));
}

PyObject* splits_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* keywords[] = {"activity", "every_m", nullptr};
    Arg activity_arg = nullptr, every = nullptr;
    parse_arguments(args, kwargs, "O|O:splits", keywords, &activity_arg, &every);
    const Activity activity = to_record<Activity>(activity_arg, "activity");
    return split_table_of(activity, split_length(every));
  });
}

}  // namespace

PyObject* activity_splits(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg every = one_argument(args, kwargs, "|O:splits", "every_m");
    return split_table_of(unbox<Activity>(self), split_length(every));
  });
}

PyMethodDef lap_functions[] = {
    {"laps", method(laps_function), METH_VARARGS | METH_KEYWORDS, "laps(source)\n--\n\n"},
    {"splits", method(splits_function), METH_VARARGS | METH_KEYWORDS,
     "splits(activity, every_m=1000.0)\n--\n\n"},
};

std::span<PyMethodDef> lap_and_split_functions() {
  return lap_functions;
}

}  // namespace tramlix::python
