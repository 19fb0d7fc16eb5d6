// The nine value classes: each holds one model value and exposes it through read-only
// properties and methods.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

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

// What a property reads of a field: the member itself, except that Activity.start_time is the
// effective start time (the stored one, or else the first timed point's).
template <auto Member>
inline constexpr auto kGetter = Member;
template <>
inline constexpr auto kGetter<&Activity::start_time> = &Activity::effective_start_time;

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
  PyType_Spec type_definition{qualified_name, static_cast<int>(sizeof(Box<T>)), 0,
                              Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  PyObject* type = PyType_FromSpec(&type_definition);
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
template <class... Out>
void parse_arguments(PyObject* args, PyObject* kwargs, const char* format, const char* const* names,
                     Out... out) {
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, format, const_cast<char**>(names), out...)) {
    throw_error_already_set();
  }
}

// The only argument of a function that takes one, under `keyword`; NULL when it is optional
// ("|O:name") and omitted.
inline Arg one_argument(PyObject* args, PyObject* kwargs, const char* format, const char* keyword) {
  const char* keywords[] = {keyword, nullptr};
  Arg argument = nullptr;
  parse_arguments(args, kwargs, format, keywords, &argument);
  return argument;
}

// What a record's class is made of, built once per process and kept for its lifetime.
template <Described T>
struct RecordClass {
  std::string qualified_name;
  std::string doc;     // the text signature
  std::string format;  // for PyArg_ParseTupleAndKeywords
  std::array<const char*, kFieldCount<T> + 1> keywords{};
  std::vector<PyGetSetDef> properties;
  std::vector<PyType_Slot> slots;
};

template <Described T>
inline RecordClass<T>* record_class = nullptr;

template <Described T, std::size_t... I>
std::vector<PyGetSetDef> field_properties(std::index_sequence<I...>) {
  return {property<T, kGetter<std::get<I>(Fields<T>::list).member>>(
      std::get<I>(Fields<T>::list).name.data())...};
}

// Converts the argument of field I when it is a time and `Times` is set, or neither. An omitted
// argument leaves the field as a new record has it.
template <Described T, std::size_t I, bool Times>
void convert_field(T& record, const std::array<Arg, kFieldCount<T>>& values) {
  constexpr auto field = std::get<I>(Fields<T>::list);
  using Value = std::remove_reference_t<decltype(record.*field.member)>;
  if constexpr (std::same_as<Value, std::optional<UtcInstant>> == Times) {
    if (values[I] != nullptr) from_python(values[I], field.name.data(), record.*field.member);
  }
}

// The record the constructor's arguments describe: every field by keyword, the first
// `positional` also by position, converted in declared order but times last, so that a
// TypeError for another argument wins over a ValueError for a time.
template <Described T, std::size_t... I>
T record_from(PyObject* args, PyObject* kwargs, std::index_sequence<I...>) {
  const RecordClass<T>& parts = *record_class<T>;
  std::array<Arg, kFieldCount<T>> values{};
  parse_arguments(args, kwargs, parts.format.c_str(), parts.keywords.data(), &values[I]...);
  T record;
  (convert_field<T, I, false>(record, values), ...);
  (convert_field<T, I, true>(record, values), ...);
  return record;
}

template <Described T>
PyObject* record_new(PyTypeObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    return box(record_from<T>(args, kwargs, std::make_index_sequence<kFieldCount<T>>{}));
  });
}

template <class T>
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
  PyErr_Format(PyExc_TypeError, "No constructor defined for %s", python_name<T>);
  return nullptr;
}

// How a record's class differs from the plain one, which takes every field by keyword and
// shows each as a property.
struct ClassOptions {
  std::size_t positional = 0;                          // leading fields also taken by position
  std::initializer_list<PyGetSetDef> properties = {};  // shown after the fields
  std::initializer_list<PyType_Slot> slots = {};
};

// The class "tramlix.Name" of a record; one that is not `Constructible` is made only by the
// library.
template <Described T, bool Constructible = true>
PyTypeObject* create_record_class(const char* name, const ClassOptions& options = {}) {
  if (python_type<T> != nullptr) return python_type<T>;
  auto* parts = record_class<T> != nullptr ? record_class<T> : new RecordClass<T>;
  record_class<T> = parts;
  parts->qualified_name = std::string("tramlix.") + name;
  parts->format = "|";
  parts->doc = std::string(name) + "(";
  std::size_t i = 0;
  for_each_field<T>([&](const auto& field) {
    using Value = std::remove_reference_t<decltype(std::declval<T&>().*field.member)>;
    if (i == options.positional) {
      parts->format += '$';
      parts->doc += "*, ";
    }
    parts->format += 'O';
    parts->doc += field.name;
    parts->doc += kIsList<Value> ? "=..." : "=None";  // a list is never None
    if (i + 1 < kFieldCount<T>) parts->doc += ", ";
    parts->keywords[i++] = field.name.data();
  });
  parts->format += std::string(":") + name;
  parts->doc += ")\n--\n\n";
  parts->properties = field_properties<T>(std::make_index_sequence<kFieldCount<T>>{});
  parts->properties.insert(parts->properties.end(), options.properties);
  parts->properties.push_back({});
  parts->slots = {{Py_tp_dealloc, slot(dealloc_box<T>)}, {Py_tp_getset, parts->properties.data()}};
  if constexpr (Constructible) {
    parts->slots.push_back({Py_tp_new, slot(record_new<T>)});
    parts->slots.push_back({Py_tp_doc, parts->doc.data()});
  } else {
    parts->slots.push_back({Py_tp_new, slot(no_constructor<T>)});
  }
  parts->slots.insert(parts->slots.end(), options.slots);
  parts->slots.push_back({0, nullptr});
  return create_class<T>(parts->qualified_name.c_str(), name, parts->slots.data());
}

}  // namespace tramlix::python
