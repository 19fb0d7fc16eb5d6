#include "conversions.hpp"

#include <string>
#include <utility>
#include <vector>

#include "tramlix/time.hpp"

namespace tramlix::python {
namespace {

nb::object type_name(PyObject* object) {
  return checked(PyType_GetName(Py_TYPE(object)));
}

nb::object decode(std::string_view text) {
  return checked(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

}  // namespace

void raise_argument_error(const char* name) {
  PyObject* raised = PyErr_GetRaisedException();
  if (raised == nullptr || !PyErr_GivenExceptionMatches(raised, PyExc_TypeError)) {
    PyErr_SetRaisedException(raised);
    throw_error_already_set();
  }
  nb::object original = nb::steal(raised);
  nb::object message = checked(PyObject_Str(original.ptr()));
  PyErr_Format(PyExc_TypeError, "argument '%s': %U", name, message.ptr());
  throw_error_already_set();
}

void raise_type_error(const char* name, std::string_view expected, PyObject* got) {
  nb::object got_name = checked(got ? PyType_GetName(Py_TYPE(got)) : PyUnicode_FromString("?"));
  const std::string wanted(expected);
  PyErr_Format(PyExc_TypeError, "argument '%s': '%U' object cannot be converted to '%s'", name,
               got_name.ptr(), wanted.c_str());
  throw_error_already_set();
}

double to_float_or(PyObject* object, const char* name, double fallback) {
  if (object == nullptr) return fallback;
  const double value = PyFloat_AsDouble(object);
  if (value == -1.0 && PyErr_Occurred()) raise_argument_error(name);
  return value;
}

long to_integer_in(PyObject* object, const char* name, long min, long max) {
  // PyLong_AsLong takes int and __index__ objects only, so 70.5 is a TypeError.
  const long value = PyLong_AsLong(object);
  if (value == -1 && PyErr_Occurred()) raise_argument_error(name);
  if (value < min || value > max) {
    PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
    throw_error_already_set();
  }
  return value;
}

std::string_view to_required_text(PyObject* object, const char* name) {
  if (object == nullptr || !PyUnicode_Check(object)) raise_type_error(name, "str", object);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) throw_error_already_set();
  return {data, static_cast<std::size_t>(size)};
}

std::optional<std::string> to_text(PyObject* object, const char* name) {
  if (is_absent(object)) return std::nullopt;
  return std::string(to_required_text(object, name));
}

std::string to_path(PyObject* object, const char* name) {
  PyObject* fspath = PyOS_FSPath(object);
  if (fspath == nullptr) raise_argument_error(name);
  nb::object text = nb::steal(fspath);
  if (!PyUnicode_Check(fspath)) {
    nb::object got = type_name(fspath);
    PyErr_Format(PyExc_TypeError,
                 "argument '%s': expected str or os.PathLike returning str, not %U", name,
                 got.ptr());
    throw_error_already_set();
  }
  nb::object encoded = checked(PyUnicode_EncodeFSDefault(fspath));
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(encoded.ptr(), &data, &size) != 0) throw_error_already_set();
  std::string path(data, static_cast<std::size_t>(size));
  // The operating system would see the path cut short at the first NUL.
  if (path.find('\0') != std::string::npos) {
    PyErr_Format(PyExc_ValueError, "argument '%s': embedded null byte", name);
    throw_error_already_set();
  }
  return path;
}

std::span<const std::uint8_t> to_bytes_view(PyObject* object, const char* name) {
  if (object == nullptr || !PyBytes_Check(object)) raise_type_error(name, "bytes", object);
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(object, &data, &size) != 0) throw_error_already_set();
  return {reinterpret_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
}

Format to_format(PyObject* object, const char* name) {
  return value_or_raise(Format::from_str(to_required_text(object, name)));
}

nb::object to_python(double value) {
  return checked(PyFloat_FromDouble(value));
}
nb::object to_python(std::string_view text) {
  return decode(text);
}
nb::object to_python(const std::string& text) {
  return decode(text);
}
nb::object to_python(UtcInstant instant) {
  return decode(time_text(instant));
}
PyObject* tramlix_error() {
  // Created by the module's initialisation, which runs once and under the import lock.
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewException("_tramlix.TramlixError", PyExc_ValueError, nullptr);
  }
  return type;
}

namespace {

// The OSError subclass Python itself raises for an errno value (FileNotFoundError for ENOENT,
// PermissionError for EACCES, ...): what OSError(errno, text) turns into.
PyObject* builtin_os_error_type(int error_number) {
  nb::object probe = checked(PyObject_CallFunction(PyExc_OSError, "is", error_number, ""));
  return reinterpret_cast<PyObject*>(Py_TYPE(probe.ptr()));
}

// For each OSError class, a subclass of it whose text is the message it was made with, as for
// any other exception. OSError's own text turns into "[Errno 2] ...: 'path'" once a filename is
// set; ours stays the display text. Created on first need, under the interpreter lock.
PyObject* os_error_type(int error_number) {
  static std::vector<std::pair<PyObject*, PyObject*>> made;  // builtin class, our subclass
  PyObject* base = builtin_os_error_type(error_number);
  for (const auto& [builtin, ours] : made) {
    if (builtin == base) return ours;
  }
  nb::object name = checked(PyType_GetName(reinterpret_cast<PyTypeObject*>(base)));
  const char* text = PyUnicode_AsUTF8AndSize(name.ptr(), nullptr);
  if (text == nullptr) throw_error_already_set();
  const std::string qualified = std::string("_tramlix.") + text;
  nb::object str = checked(PyObject_GetAttrString(PyExc_BaseException, "__str__"));
  nb::object dict = checked(PyDict_New());
  if (PyDict_SetItemString(dict.ptr(), "__str__", str.ptr()) != 0) throw_error_already_set();
  PyObject* type = PyErr_NewException(qualified.c_str(), base, dict.ptr());
  if (type == nullptr) throw_error_already_set();
  // Another thread may have made it meanwhile, if making it let go of the lock.
  for (const auto& [builtin, ours] : made) {
    if (builtin == base) {
      Py_DECREF(type);
      return ours;
    }
  }
  made.emplace_back(base, type);  // kept for the life of the process, like TramlixError
  return type;
}

void set_attribute(PyObject* object, const char* name, nb::object value) {
  if (PyObject_SetAttrString(object, name, value.ptr()) != 0) throw_error_already_set();
}

// An Io error as the OSError subclass matching its errno, with errno, strerror and filename set
// and the display text as its only argument (and so as its text).
[[noreturn]] void raise_os_error(const Error& error) {
  PyObject* type = os_error_type(error.error_number());
  nb::object message = decode(error.display());
  nb::object exception = checked(PyObject_CallFunctionObjArgs(type, message.ptr(), nullptr));
  set_attribute(exception.ptr(), "errno", checked(PyLong_FromLong(error.error_number())));
  set_attribute(exception.ptr(), "strerror", decode(error.message()));
  const std::string& path = error.path();
  set_attribute(
      exception.ptr(), "filename",
      checked(PyUnicode_DecodeFSDefaultAndSize(path.data(), static_cast<Py_ssize_t>(path.size()))));
  PyErr_SetObject(type, exception.ptr());
  throw_error_already_set();
}

}  // namespace

void raise_error(const Error& error) {
  if (error.kind() == Error::Kind::Io) raise_os_error(error);
  nb::object message = decode(error.display());
  PyErr_SetObject(tramlix_error(), message.ptr());
  throw_error_already_set();
}

}  // namespace tramlix::python
