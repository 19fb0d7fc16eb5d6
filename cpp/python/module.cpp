#include <nanobind/nanobind.h>

namespace nb = nanobind;

NB_MODULE(_tramlix, m) { m.attr("__version__") = "0.1.0"; }
