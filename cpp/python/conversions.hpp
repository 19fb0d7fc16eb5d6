// Conversions between Python arguments and results and the core's model values and errors.
//
// Argument converters take the object as PyArg_ParseTupleAndKeywords left it: NULL when the
// argument was omitted. They set a Python error and throw ErrorAlreadySet when it does not
// convert; a TypeError names the argument.
#pragma once

#include <concepts>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "common.hpp"
#include "time.hpp"
#include "tramlix/error.hpp"
#include "tramlix/fields.hpp"
#include "tramlix/format.hpp"
#include "tramlix/model.hpp"

namespace tramlix::python {

// True when the argument stands for an absent value: omitted or None.
inline bool is_absent(PyObject* object) {
  return object == nullptr || object == Py_None;
}

// Replaces a pending TypeError by one whose message starts "argument 'name': ". Other errors
// (OverflowError, ValueError) keep their exact text.
[[noreturn]] void raise_argument_error(const char* name);

[[noreturn]] void raise_type_error(const char* name, std::string_view expected, PyObject* got);

// Like to_float for a parameter with a numeric default: omitted gives `fallback`, None fails.
double to_float_or(PyObject* object, const char* name, double fallback);

inline std::optional<double> to_float(PyObject* object, const char* name) {
  if (is_absent(object)) return std::nullopt;
  return to_float_or(object, name, 0.0);
}

// An int, or an object with __index__ (70.5 is a TypeError), from `min` to `max`; outside that
// range an OverflowError.
long to_integer_in(PyObject* object, const char* name, long min, long max);

template <std::integral Int>
std::optional<Int> to_integer(PyObject* object, const char* name) {
  if (is_absent(object)) return std::nullopt;
  return static_cast<Int>(to_integer_in(object, name, std::numeric_limits<Int>::min(),
                                        std::numeric_limits<Int>::max()));
}

std::optional<std::string> to_text(PyObject* object, const char* name);
// A str argument that must be present (None is rejected).
std::string_view to_required_text(PyObject* object, const char* name);

// A str or os.PathLike giving str, encoded with the file-system encoding.
std::string to_path(PyObject* object, const char* name);

std::span<const std::uint8_t> to_bytes_view(PyObject* object, const char* name);

// A format name, or the core error it fails with raised as TramlixError.
Format to_format(PyObject* object, const char* name);

// An instance of K's class, copied.
template <class K>
K to_record(PyObject* object, const char* name) {
  if (object == nullptr || !PyObject_TypeCheck(object, python_type<K>)) {
    raise_type_error(name, python_name<K>, object);
  }
  return unbox<K>(object);
}

template <class K>
std::optional<K> to_optional_record(PyObject* object, const char* name) {
  if (is_absent(object)) return std::nullopt;
  return to_record<K>(object, name);
}

// Any sequence but str whose items are all instances of K's class; omitted gives [].
template <class K>
std::vector<K> to_list(PyObject* object, const char* name) {
  std::vector<K> items;
  if (object == nullptr) return items;
  if (PyUnicode_Check(object)) {
    PyErr_Format(PyExc_TypeError, "argument '%s': Can't extract `str` to `Vec`", name);
    throw_error_already_set();
  }
  if (!PySequence_Check(object)) raise_type_error(name, "Sequence", object);
  const Py_ssize_t size = PySequence_Size(object);
  if (size < 0) throw_error_already_set();
  items.reserve(static_cast<std::size_t>(size));
  for (Py_ssize_t i = 0; i < size; ++i) {
    nb::object item = checked(PySequence_GetItem(object, i));
    items.push_back(to_record<K>(item.ptr(), name));
  }
  return items;
}

template <class T>
inline constexpr bool kIsList = false;
template <class T>
inline constexpr bool kIsList<std::vector<T>> = true;

// Sets a model field of type T from its argument. A record field (an activity's summary) takes
// None for the empty record.
template <class T>
void from_python(PyObject* object, const char* name, T& out) {
  if constexpr (kIsList<T>) {
    out = to_list<typename T::value_type>(object, name);
  } else if constexpr (Described<T>) {
    out = to_optional_record<T>(object, name).value_or(T{});
  } else if constexpr (std::same_as<T, std::optional<double>>) {
    out = to_float(object, name);
  } else if constexpr (std::same_as<T, std::optional<std::string>>) {
    out = to_text(object, name);
  } else if constexpr (std::same_as<T, std::optional<UtcInstant>>) {
    out = parse_python_time(object);
  } else if constexpr (Described<typename T::value_type>) {
    out = to_optional_record<typename T::value_type>(object, name);
  } else {
    out = to_integer<typename T::value_type>(object, name);
  }
}

// Results. Texts are decoded leniently: model texts from a reader are valid UTF-8 already.
nb::object to_python(double value);
nb::object to_python(std::string_view text);
nb::object to_python(const std::string& text);
nb::object to_python(UtcInstant instant);
inline nb::object to_python(bool value) {
  return nb::borrow(value ? Py_True : Py_False);
}
template <std::integral Int>
nb::object to_python(Int value) {
  if constexpr (std::is_signed_v<Int>) {
    return checked(PyLong_FromLongLong(value));
  } else {
    return checked(PyLong_FromUnsignedLongLong(value));
  }
}
// The records a getter hands out as objects of their own class.
template <Described T>
nb::object to_python(const T& value) {
  return box(value);
}
template <class T>
nb::object to_python(const std::optional<T>& value) {
  if (!value) return nb::none();
  return to_python(*value);
}
template <class K>
nb::object to_python(const std::vector<K>& items) {
  nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(items.size())));
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(i), box(items[i]).release().ptr());
  }
  return list;
}

// The exception class for every core error but Io; created once, by the module's
// initialisation.
PyObject* tramlix_error();

// Raises a core error: Io as the OSError subclass of its errno (FileNotFoundError, ...) with
// errno, strerror and filename set, everything else as TramlixError; the display text is the
// only argument and the exception's text.
[[noreturn]] void raise_error(const Error& error);

template <class T>
T value_or_raise(std::expected<T, Error>&& result) {
  if (!result) raise_error(result.error());
  return std::move(*result);
}

}  // namespace tramlix::python
