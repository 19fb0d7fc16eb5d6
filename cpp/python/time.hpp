// Times coming in from Python: RFC 3339 text, or anything whose isoformat() gives text.
#pragma once

#include <optional>

#include "common.hpp"
#include "tramlix/time.hpp"

namespace tramlix::python {

// Omitted or None gives no time. Unusable values raise ValueError.
std::optional<UtcInstant> parse_python_time(PyObject* value);

}  // namespace tramlix::python
