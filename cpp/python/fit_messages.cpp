// tramlix.fit: every message of a FIT file as tables, or one message at a time.
#include "fit_messages.hpp"

#include <string>
#include <vector>

#include "classes.hpp"
#include "table.hpp"
#include "tramlix/fit_messages.hpp"

namespace tramlix::python {
namespace {

// A source argument: bytes are read without the interpreter lock (they are immutable and the
// argument holds them), anything else is a path.
template <class FromBytes, class FromPath>
auto with_source(PyObject* source, const char* name, FromBytes from_bytes, FromPath from_path) {
  if (PyBytes_Check(source)) {
    const std::span<const std::uint8_t> data = to_bytes_view(source, name);
    return without_gil([&] { return from_bytes(data); });
  }
  const std::string path = to_path(source, name);
  return without_gil([&] { return from_path(path); });
}

std::vector<std::string> message_names(PyObject* names) {
  std::vector<std::string> wanted;
  if (is_absent(names)) return wanted;
  if (PyUnicode_Check(names)) {
    wanted.emplace_back(to_required_text(names, "names"));
  } else {
    nb::object iterator = checked(PyObject_GetIter(names));
    while (PyObject* item = PyIter_Next(iterator.ptr())) {
      nb::object held = nb::steal(item);
      wanted.emplace_back(to_required_text(item, "names"));
    }
    if (PyErr_Occurred()) throw_error_already_set();
  }
  for (const std::string& name : wanted) {
    if (!fit_messages::is_message_name(name)) {
      PyErr_Format(PyExc_ValueError, "no FIT message is called %R",
                   to_python(std::string_view(name)).ptr());
      throw_error_already_set();
    }
  }
  // None of them: an empty result, not every table.
  if (wanted.empty()) wanted.emplace_back();
  return wanted;
}

PyObject* fit_messages_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* keywords[] = {"source", "names", nullptr};
    Arg source = nullptr, names_arg = nullptr;
    parse_arguments(args, kwargs, "O|$O:messages", keywords, &source, &names_arg);
    const std::vector<std::string> names = message_names(names_arg);
    auto tables = value_or_raise(with_source(
        source, "source", [&](auto data) { return fit_messages::tables(data, names); },
        [&](const std::string& path) { return fit_messages::tables_of_file(path, names); }));
    nb::object result = checked(PyDict_New());
    for (fit_messages::NamedTable& table : tables) {
      nb::object boxed = box(std::move(table.table));
      if (PyDict_SetItemString(result.ptr(), table.name.c_str(), boxed.ptr()) != 0) {
        throw_error_already_set();
      }
    }
    return result;
  });
}

// ---- One message at a time ----

struct Epochs {
  nb::object utc;    // datetime(1970, 1, 1, tzinfo=timezone.utc)
  nb::object local;  // datetime(1970, 1, 1)
  nb::object timedelta;
};

const Epochs& epochs() {
  static Epochs* made = [] {
    nb::object datetime = checked(PyImport_ImportModule("datetime"));
    nb::object type = checked(PyObject_GetAttrString(datetime.ptr(), "datetime"));
    nb::object zone = checked(PyObject_GetAttrString(datetime.ptr(), "timezone"));
    nb::object utc = checked(PyObject_GetAttrString(zone.ptr(), "utc"));
    auto* epochs = new Epochs;  // kept for the process's lifetime, like the classes
    epochs->local = checked(PyObject_CallFunction(type.ptr(), "iii", 1970, 1, 1));
    nb::object args = checked(Py_BuildValue("(iii)", 1970, 1, 1));
    nb::object kwargs = checked(Py_BuildValue("{s:O}", "tzinfo", utc.ptr()));
    epochs->utc = checked(PyObject_Call(type.ptr(), args.ptr(), kwargs.ptr()));
    epochs->timedelta = checked(PyObject_GetAttrString(datetime.ptr(), "timedelta"));
    return epochs;
  }();
  return *made;
}

nb::object to_python(const fit_messages::Value& value) {
  using Kind = fit_messages::Value::Kind;
  switch (value.kind) {
    case Kind::Null:
      return nb::none();
    case Kind::Int:
      return python::to_python(value.integer);
    case Kind::UInt:
      return python::to_python(value.unsigned_integer);
    case Kind::Float:
      return python::to_python(value.number);
    case Kind::Text:
      return python::to_python(value.text);
    case Kind::Bytes:
      return checked(
          PyBytes_FromStringAndSize(value.text.data(), static_cast<Py_ssize_t>(value.text.size())));
    case Kind::Time:
    case Kind::LocalTime: {
      const Epochs& at = epochs();
      nb::object delta = checked(PyObject_CallFunction(at.timedelta.ptr(), "iL", 0,
                                                       static_cast<long long>(value.integer)));
      const nb::object& epoch = value.kind == Kind::Time ? at.utc : at.local;
      return checked(PyNumber_Add(epoch.ptr(), delta.ptr()));
    }
    case Kind::List: {
      nb::object list = checked(PyList_New(static_cast<Py_ssize_t>(value.items.size())));
      for (std::size_t i = 0; i < value.items.size(); ++i) {
        PyList_SetItem(list.ptr(), static_cast<Py_ssize_t>(i),
                       to_python(value.items[i]).release().ptr());
      }
      return list;
    }
  }
  return nb::none();
}

struct MessageIterator {
  fit_messages::Stream stream;
  fit_messages::Message message;
  bool done = false;
};

PyObject* iterator_self(PyObject* self) {
  return Py_NewRef(self);
}

PyObject* iterator_next(PyObject* self) {
  return boundary([&]() -> nb::object {
    MessageIterator& iterator = unbox<MessageIterator>(self);
    if (iterator.done) return nb::object();
    auto more = without_gil([&] { return iterator.stream.next(iterator.message); });
    if (!more || !*more) iterator.done = true;
    if (!more) raise_error(more.error());
    if (!*more) return nb::object();  // NULL without an error: the end
    nb::object fields = checked(PyDict_New());
    for (const fit_messages::Entry& entry : iterator.message.fields) {
      nb::object key = python::to_python(entry.name);
      nb::object value = to_python(entry.value);
      if (PyDict_SetItem(fields.ptr(), key.ptr(), value.ptr()) != 0) throw_error_already_set();
    }
    nb::object name = python::to_python(iterator.message.name);
    return checked(PyTuple_Pack(2, name.ptr(), fields.ptr()));
  });
}

PyType_Slot iterator_slots[] = {
    {Py_tp_dealloc, slot(dealloc_box<MessageIterator>)},
    {Py_tp_new, slot(no_constructor<MessageIterator>)},
    {Py_tp_iter, slot(iterator_self)},
    {Py_tp_iternext, slot(iterator_next)},
    {0, nullptr},
};

PyTypeObject* iterator_type() {
  return create_class<MessageIterator>("tramlix.fit.MessageIterator", "MessageIterator",
                                       iterator_slots);
}

PyObject* fit_iter_messages_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg source = one_argument(args, kwargs, "O:iter_messages", "source");
    if (iterator_type() == nullptr) throw_error_already_set();
    auto stream = value_or_raise(with_source(
        source, "source", [](auto data) { return fit_messages::Stream::open(data); },
        [](const std::string& path) { return fit_messages::Stream::open_file(path); }));
    return box(MessageIterator{std::move(stream), {}, false});
  });
}

}  // namespace

PyMethodDef fit_functions[] = {
    {"_fit_messages", method(fit_messages_function), METH_VARARGS | METH_KEYWORDS,
     "_fit_messages(source, *, names=None)\n--\n\n"},
    {"_fit_iter_messages", method(fit_iter_messages_function), METH_VARARGS | METH_KEYWORDS,
     "_fit_iter_messages(source)\n--\n\n"},
};
std::span<PyMethodDef> fit_message_functions() {
  return fit_functions;
}

}  // namespace tramlix::python
