// tramlix.laps and tramlix.splits, and Activity.splits.
#pragma once

#include <span>

#include "common.hpp"

namespace tramlix::python {

// laps(source) and splits(activity, every_m=1000.0): module functions outside the fixed __all__.
std::span<PyMethodDef> lap_and_split_functions();

// Activity.splits(every_m=1000.0).
PyObject* activity_splits(PyObject* self, PyObject* args, PyObject* kwargs);

}  // namespace tramlix::python
