// The nine value classes: each holds one model value and exposes it through read-only
// properties and methods.
#pragma once

#include <functional>

#include "common.hpp"
#include "conversions.hpp"

namespace tramlix::python {

// Each creates its class on first call and returns the same (borrowed) type afterwards.
PyTypeObject* track_point_type();
PyTypeObject* segment_type();
PyTypeObject* activity_summary_type();
PyTypeObject* device_info_type();
PyTypeObject* elevation_gain_type();
PyTypeObject* moving_data_type();
PyTypeObject* bounds_type();
PyTypeObject* activity_type();
PyTypeObject* activity_file_type();

// Class machinery shared by the class definitions.

// A read-only property computed from the boxed value: a data member or a const member
// function without arguments.
template <class T, auto Member>
PyObject* get_property(PyObject* self, void*) {
  return boundary([&] { return to_python(std::invoke(Member, unbox<T>(self))); });
}

template <class T, auto Member>
constexpr PyGetSetDef property(const char* name) {
  return {name, &get_property<T, Member>, nullptr, nullptr, nullptr};
}

// Creates the class once per process: it cannot be subclassed or changed, and its instances
// have no __dict__. "tramlix.Name" makes __module__ "tramlix".
template <class T>
PyTypeObject* create_class(const char* qualified_name, const char* name, PyType_Slot* slots) {
  if (python_type<T> != nullptr) return python_type<T>;
  PyType_Spec type_spec{qualified_name, static_cast<int>(sizeof(Box<T>)), 0,
                        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  PyObject* type = PyType_FromSpec(&type_spec);
  if (type == nullptr) return nullptr;
  python_name<T> = name;
  python_type<T> = reinterpret_cast<PyTypeObject*>(type);  // kept for the process's lifetime
  return python_type<T>;
}

// Type slots and method tables hold functions as untyped pointers.
template <class F>
void* slot(F* function) {
  return reinterpret_cast<void*>(function);
}

template <class F>
PyCFunction method(F* function) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Arguments from PyArg_ParseTupleAndKeywords's "O" units: NULL when omitted.
using Arg = PyObject*;

// PyArg_ParseTupleAndKeywords with its failure thrown as ErrorAlreadySet. `names` ends with
// nullptr; the cast is for Python 3.12, which takes `char**`.
template <std::size_t N, class... Out>
void parse_arguments(PyObject* args, PyObject* kwargs, const char* format, const char* (&names)[N],
                     Out... out) {
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), out...)) {
    throw_error_already_set();
  }
}

}  // namespace tramlix::python
