// tramlix.Table: a columnar table handed to pyarrow, polars, duckdb and pandas through the
// Arrow PyCapsule interface, with no copy of the data.
//
// The table's columns never change, so each __arrow_c_stream__ call exports a fresh stream of
// the same buffers: one table can be read by any number of consumers, one after the other or
// at once, and its memory lives until the table and the last consumer let go.
#include "table.hpp"

#include <memory>
#include <string>

#include "classes.hpp"

namespace tramlix::python {
namespace {

constexpr const char* kStreamCapsule = "arrow_array_stream";
constexpr const char* kSchemaCapsule = "arrow_schema";

// A capsule that a consumer never opened still owns a live export: its destructor releases
// it. A consumer that took the struct over has marked it released.
template <class Struct>
void release_capsule(PyObject* capsule, const char* name) {
  auto* exported = static_cast<Struct*>(PyCapsule_GetPointer(capsule, name));
  if (exported == nullptr) {
    PyErr_Clear();  // renamed by its consumer: no longer ours
    return;
  }
  if (exported->release != nullptr) exported->release(exported);
  delete exported;
}

void release_stream_capsule(PyObject* capsule) {
  release_capsule<ArrowArrayStream>(capsule, kStreamCapsule);
}

void release_schema_capsule(PyObject* capsule) {
  release_capsule<ArrowSchema>(capsule, kSchemaCapsule);
}

template <class Struct, class Export>
nb::object capsule_of(const char* name, PyCapsule_Destructor destructor, Export&& fill) {
  auto exported = std::make_unique<Struct>();
  fill(exported.get());
  PyObject* capsule = PyCapsule_New(exported.get(), name, destructor);
  if (capsule == nullptr) {
    exported->release(exported.get());
    throw_error_already_set();
  }
  exported.release();
  return nb::steal(capsule);
}

const arrow::Table& table_of(PyObject* self) {
  return unbox<arrow::Table>(self);
}

// The table's own schema is exported whatever a consumer requests: the PyCapsule protocol
// leaves casting to the consumer when the producer does not.
PyObject* table_arrow_c_stream(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    one_argument(args, kwargs, "|O:__arrow_c_stream__", "requested_schema");
    return capsule_of<ArrowArrayStream>(
        kStreamCapsule, release_stream_capsule,
        [&](ArrowArrayStream* out) { arrow::export_stream(table_of(self), out); });
  });
}

PyObject* table_arrow_c_schema(PyObject* self, PyObject*) {
  return boundary([&] {
    return capsule_of<ArrowSchema>(kSchemaCapsule, release_schema_capsule, [&](ArrowSchema* out) {
      arrow::export_schema(table_of(self).schema(), out);
    });
  });
}

// Imports a library that a conversion needs; when it is missing, an ImportError that names
// the extra to install, caused by the original one.
nb::object import_for(const char* module, const char* method, const char* needs,
                      const char* extra) {
  if (PyObject* imported = PyImport_ImportModule(module)) return nb::steal(imported);
  if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw_error_already_set();
  PyObject* cause = PyErr_GetRaisedException();
  PyErr_Format(PyExc_ImportError, "Table.%s() needs %s: pip install 'tramlix[%s]'", method, needs,
               extra);
  PyObject* error = PyErr_GetRaisedException();
  PyException_SetCause(error, cause);
  PyErr_SetRaisedException(error);
  throw_error_already_set();
}

nb::object pyarrow_table(PyObject* self, nb::handle pyarrow) {
  return checked(PyObject_CallMethod(pyarrow.ptr(), "table", "O", self));
}

PyObject* table_to_pyarrow(PyObject* self, PyObject*) {
  return boundary([&] {
    nb::object pyarrow = import_for("pyarrow", "to_pyarrow", "pyarrow", "pandas");
    return pyarrow_table(self, pyarrow);
  });
}

// Integer columns become pandas' nullable integer types, so a heart rate stays an integer
// and a missing one is <NA>, whether or not a file has gaps; keyword arguments go to
// pyarrow.Table.to_pandas (types_mapper=None gives pyarrow's own conversion).
PyObject* table_to_pandas(PyObject* self, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    if (!PyArg_ParseTuple(args, ":to_pandas")) throw_error_already_set();  // keywords only
    nb::object pyarrow = import_for("pyarrow", "to_pandas", "pandas and pyarrow", "pandas");
    nb::object pandas = import_for("pandas", "to_pandas", "pandas and pyarrow", "pandas");
    nb::object options = checked(kwargs ? PyDict_Copy(kwargs) : PyDict_New());
    if (!PyDict_GetItemString(options.ptr(), "types_mapper")) {
      nb::object mapping = checked(PyDict_New());
      static constexpr const char* kIntegers[][2] = {
          {"int8", "Int8Dtype"},     {"int16", "Int16Dtype"},   {"int32", "Int32Dtype"},
          {"int64", "Int64Dtype"},   {"uint8", "UInt8Dtype"},   {"uint16", "UInt16Dtype"},
          {"uint32", "UInt32Dtype"}, {"uint64", "UInt64Dtype"},
      };
      for (const auto& [arrow_type, pandas_type] : kIntegers) {
        nb::object key = checked(PyObject_CallMethod(pyarrow.ptr(), arrow_type, nullptr));
        nb::object value = checked(PyObject_CallMethod(pandas.ptr(), pandas_type, nullptr));
        if (PyDict_SetItem(mapping.ptr(), key.ptr(), value.ptr()) != 0) throw_error_already_set();
      }
      nb::object lookup = checked(PyObject_GetAttrString(mapping.ptr(), "get"));
      if (PyDict_SetItemString(options.ptr(), "types_mapper", lookup.ptr()) != 0) {
        throw_error_already_set();
      }
    }
    nb::object table = pyarrow_table(self, pyarrow);
    nb::object convert = checked(PyObject_GetAttrString(table.ptr(), "to_pandas"));
    nb::object no_args = checked(PyTuple_New(0));
    return checked(PyObject_Call(convert.ptr(), no_args.ptr(), options.ptr()));
  });
}

PyObject* table_to_polars(PyObject* self, PyObject*) {
  return boundary([&] {
    nb::object polars = import_for("polars", "to_polars", "polars", "polars");
    return checked(PyObject_CallMethod(polars.ptr(), "DataFrame", "O", self));
  });
}

PyObject* table_num_rows(PyObject* self, void*) {
  return boundary([&] { return to_python(table_of(self).num_rows()); });
}

PyObject* table_num_columns(PyObject* self, void*) {
  return boundary([&] { return to_python(table_of(self).num_columns()); });
}

PyObject* table_column_names(PyObject* self, void*) {
  return boundary([&] {
    const auto& fields = table_of(self).schema().fields;
    nb::object names = checked(PyList_New(static_cast<Py_ssize_t>(fields.size())));
    for (std::size_t i = 0; i < fields.size(); ++i) {
      PyList_SetItem(names.ptr(), static_cast<Py_ssize_t>(i),
                     to_python(fields[i].name).release().ptr());
    }
    return names;
  });
}

Py_ssize_t table_length(PyObject* self) {
  return static_cast<Py_ssize_t>(table_of(self).num_rows());
}

PyObject* table_repr(PyObject* self) {
  return boundary([&] {
    const arrow::Table& table = table_of(self);
    std::string text = "<tramlix.Table: " + std::to_string(table.num_rows()) + " rows; ";
    const char* separator = "";
    for (const arrow::Field& field : table.schema().fields) {
      text += separator;
      text += field.name;
      separator = ", ";
    }
    return to_python(text + ">");
  });
}

constexpr int kVarargs = METH_VARARGS | METH_KEYWORDS;

PyMethodDef table_methods[] = {
    {"__arrow_c_stream__", method(table_arrow_c_stream), kVarargs,
     "__arrow_c_stream__($self, requested_schema=None)\n--\n\n"},
    {"__arrow_c_schema__", method(table_arrow_c_schema), METH_NOARGS,
     "__arrow_c_schema__($self)\n--\n\n"},
    {"to_pyarrow", method(table_to_pyarrow), METH_NOARGS, "to_pyarrow($self)\n--\n\n"},
    {"to_pandas", method(table_to_pandas), kVarargs, "to_pandas($self, **kwargs)\n--\n\n"},
    {"to_polars", method(table_to_polars), METH_NOARGS, "to_polars($self)\n--\n\n"},
    {},
};

PyGetSetDef table_properties[] = {
    {"num_rows", table_num_rows, nullptr, nullptr, nullptr},
    {"num_columns", table_num_columns, nullptr, nullptr, nullptr},
    {"column_names", table_column_names, nullptr, nullptr, nullptr},
    {},
};

PyType_Slot table_slots[] = {
    {Py_tp_dealloc, slot(dealloc_box<arrow::Table>)},
    {Py_tp_new, slot(no_constructor<arrow::Table>)},
    {Py_tp_methods, table_methods},
    {Py_tp_getset, table_properties},
    {Py_tp_repr, slot(table_repr)},
    {Py_sq_length, slot(table_length)},
    {0, nullptr},
};

}  // namespace

PyTypeObject* table_type() {
  return create_class<arrow::Table>("tramlix.Table", "Table", table_slots);
}

PyObject* arrow_allocations(PyObject*, PyObject*) {
  return boundary([] { return to_python(arrow::live_allocations()); });
}

}  // namespace tramlix::python
