// Plumbing shared by the binding: owned references, object boxes and the C++/Python boundary.
//
// The binding talks to the interpreter through the stable ABI directly (heap types from
// PyType_Spec, PyMethodDef tables with text signatures) so that every class, signature and
// message is exactly ours; nanobind supplies the stable-ABI build and its RAII helpers.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <nanobind/nanobind.h>

#include <exception>
#include <new>
#include <utility>

namespace tramlix::python {

namespace nb = nanobind;

// Thrown after a Python exception has been set; the boundary turns it into a NULL return.
struct ErrorAlreadySet {};

[[noreturn]] inline void throw_error_already_set() {
  throw ErrorAlreadySet{};
}

// A new reference, or the pending Python error as ErrorAlreadySet.
inline nb::object checked(PyObject* result) {
  if (!result) throw_error_already_set();
  return nb::steal(result);
}

// Runs `body` at the edge between Python and C++: no C++ exception may cross into the
// interpreter, so internal faults surface as ordinary Python exceptions.
template <class Result, class Body>
Result boundary(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const ErrorAlreadySet&) {
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& fault) {
    PyErr_Format(PyExc_RuntimeError, "tramlix internal error: %s", fault.what());
  } catch (...) {
    PyErr_SetString(PyExc_RuntimeError, "tramlix internal error");
  }
  return failure;
}

template <class Body>
PyObject* boundary(Body&& body) noexcept {
  return boundary<PyObject*>(nullptr, [&]() -> PyObject* { return body().release().ptr(); });
}

// Runs `work` with the interpreter lock released; it must touch no Python object.
template <class Work>
auto without_gil(Work&& work) {
  nb::gil_scoped_release release;
  return work();
}

// A Python object holding one C++ value inline. Each boxed type maps to one Python class.
template <class T>
struct Box {
  PyObject ob_base;
  T value;
};

template <class T>
inline PyTypeObject* python_type = nullptr;

// The class name used in argument errors ("TrackPoint").
template <class T>
inline const char* python_name = nullptr;

template <class T>
T& unbox(PyObject* self) {
  return reinterpret_cast<Box<T>*>(self)->value;
}

template <class T>
nb::object box(T value) {
  PyObject* self = PyType_GenericAlloc(python_type<T>, 0);
  if (!self) throw_error_already_set();
  new (&unbox<T>(self)) T(std::move(value));
  return nb::steal(self);
}

template <class T>
void dealloc_box(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  unbox<T>(self).~T();
  auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
}

}  // namespace tramlix::python
