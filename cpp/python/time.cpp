#include "time.hpp"

#include <string>
#include <string_view>

#include "tramlix/text.hpp"

namespace tramlix::python {
namespace {

[[noreturn]] void raise_unusable_time() {
  PyErr_SetString(PyExc_ValueError, "time must be an RFC 3339 string or datetime");
  throw_error_already_set();
}

}  // namespace

std::optional<UtcInstant> parse_python_time(PyObject* value) {
  if (value == nullptr || value == Py_None) return std::nullopt;
  nb::object text;
  if (PyUnicode_Check(value)) {
    text = nb::borrow(value);
  } else {
    // Whatever isoformat() raised is replaced: the caller only needs to know the value is
    // not a time.
    PyObject* iso = PyObject_CallMethod(value, "isoformat", nullptr);
    if (iso == nullptr) {
      PyErr_Clear();
      raise_unusable_time();
    }
    text = nb::steal(iso);
    if (!PyUnicode_Check(iso)) raise_unusable_time();
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
  if (data == nullptr) throw_error_already_set();
  const std::string_view view(data, static_cast<std::size_t>(size));

  if (auto instant = parse_rfc3339(view)) return instant;
  auto naive = parse_naive_utc(view);
  if (naive) return *naive;
  const std::string message = "invalid RFC 3339 time " + quoted(view) + ": " + naive.error();
  PyErr_SetString(PyExc_ValueError, message.c_str());
  throw_error_already_set();
}

}  // namespace tramlix::python
