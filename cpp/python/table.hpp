// tramlix.Table: the class through which Arrow tables reach Python.
#pragma once

#include "common.hpp"
#include "tramlix/arrow.hpp"

namespace tramlix::python {

// Created on first call, like the value classes; not in the module's __all__. box(table) makes
// an instance from an arrow::Table.
PyTypeObject* table_type();

// _arrow_allocations(): the core's live Arrow allocations, for tests that check that consumers
// release what they take.
PyObject* arrow_allocations(PyObject* module, PyObject* unused);

}  // namespace tramlix::python
