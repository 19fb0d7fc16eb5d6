// tramlix.fit's functions, which the package's fit module wraps.
#pragma once

#include <span>

#include "common.hpp"

namespace tramlix::python {

// _fit_messages(source, *, names=None) and _fit_iter_messages(source): module functions outside
// the fixed __all__.
std::span<PyMethodDef> fit_message_functions();

}  // namespace tramlix::python
