// The analyses of an activity (analysis.cpp): methods and properties of Activity and
// ActivityFile, their two result classes, and the series tramlix.plot draws.
#pragma once

#include <span>

#include "common.hpp"

namespace tramlix::python {

// The methods that Activity and ActivityFile add to their own, without a closing sentinel.
std::span<const PyMethodDef> activity_analysis_methods();
std::span<const PyMethodDef> activity_file_analysis_methods();

// __geo_interface__ of each.
PyGetSetDef activity_geo_interface();
PyGetSetDef activity_file_geo_interface();

// ChannelStats and ActivityStats, and the private _track_profile(activity), added to the module
// outside its fixed __all__.
void add_analysis(PyObject* module);

}  // namespace tramlix::python
