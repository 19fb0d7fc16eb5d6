// Many files at once: the module functions behind tramlix.load_many, summaries and points, and
// the CSV writer of tables. None is in the module's fixed __all__; the package wraps them.
#pragma once

#include "common.hpp"

namespace tramlix::python {

// _list_sources(sources): the names of the files that sources name, folders walked and
// archives opened, in the order they would load.
PyObject* list_sources_function(PyObject* module, PyObject* args, PyObject* kwargs);
// _load_many(sources, workers=None): an iterator of (name, ActivityFile or exception).
PyObject* load_many_function(PyObject* module, PyObject* args, PyObject* kwargs);
// _summaries(sources, workers=None, progress=None) and
// _points(sources, workers=None, progress=None, skip_failures=False):
// (table, [(name, exception) of each failed file], [sources that named no file]).
PyObject* summaries_function(PyObject* module, PyObject* args, PyObject* kwargs);
PyObject* points_function(PyObject* module, PyObject* args, PyObject* kwargs);
// _write_csv(table, write): the table as CSV, handed to write() in pieces of bytes.
PyObject* write_csv_function(PyObject* module, PyObject* args, PyObject* kwargs);

// The class of load_many's iterator.
PyTypeObject* many_loader_type();

}  // namespace tramlix::python
