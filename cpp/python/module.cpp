// The _tramlix module: its functions and its one-time initialisation.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "analysis.hpp"
#include "classes.hpp"
#include "fit_messages.hpp"
#include "laps.hpp"
#include "many.hpp"
#include "table.hpp"
#include "tramlix/io.hpp"

namespace tramlix::python {
namespace {

PyObject* load_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Arg path_arg = one_argument(args, kwargs, "O:load", "path");
    const std::string path = to_path(path_arg, "path");
    return box(value_or_raise(without_gil([&] { return load(path); })));
  });
}

PyObject* loads_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"data", "format", nullptr};
    Arg data_arg = nullptr, format_arg = nullptr;
    parse_arguments(args, kwargs, "O|O:loads", names, &data_arg, &format_arg);
    // bytes are immutable and the argument holds a reference for the whole call, so the core
    // may read them without the interpreter lock.
    const std::span<const std::uint8_t> data = to_bytes_view(data_arg, "data");
    std::optional<Format> format;
    if (!is_absent(format_arg)) format = to_format(format_arg, "format");
    return box(value_or_raise(without_gil([&] { return loads(data, format); })));
  });
}

PyObject* convert_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"input", "output", nullptr};
    Arg input_arg = nullptr, output_arg = nullptr;
    parse_arguments(args, kwargs, "OO:convert", names, &input_arg, &output_arg);
    const std::string input = to_path(input_arg, "input");
    const std::string output = to_path(output_arg, "output");
    auto converted = without_gil([&]() -> std::expected<void, Error> {
      auto file = load(input);
      if (!file) return std::unexpected(std::move(file.error()));
      return save(*file, output);
    });
    if (!converted) raise_error(converted.error());
    return nb::none();
  });
}

// A path (str or os.PathLike) or bytes; damaged content is never an error, only what cannot be
// read from the file system is (OSError).
PyObject* recover_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"source", nullptr};
    Arg source_arg = nullptr;
    parse_arguments(args, kwargs, "O:recover", names, &source_arg);
    Recovery recovery;
    if (PyBytes_Check(source_arg)) {
      const std::span<const std::uint8_t> data = to_bytes_view(source_arg, "source");
      recovery = without_gil([&] { return recover(data); });
    } else {
      const std::string path = to_path(source_arg, "source");
      recovery = value_or_raise(without_gil([&] { return recover_file(path); }));
    }
    nb::object problems = checked(PyList_New(0));
    for (const std::string& problem : recovery.problems) {
      if (PyList_Append(problems.ptr(), to_python(problem).ptr()) != 0) throw_error_already_set();
    }
    nb::object file = box(std::move(recovery.file));
    return checked(PyTuple_Pack(2, file.ptr(), problems.ptr()));
  });
}

PyMethodDef module_functions[] = {
    {"load", method(load_function), METH_VARARGS | METH_KEYWORDS, "load(path)\n--\n\n"},
    {"loads", method(loads_function), METH_VARARGS | METH_KEYWORDS,
     "loads(data, format=None)\n--\n\n"},
    {"convert", method(convert_function), METH_VARARGS | METH_KEYWORDS,
     "convert(input, output)\n--\n\n"},
};

// Functions of the module that its fixed __all__ does not list; the package exports them.
PyMethodDef unlisted_functions[] = {
    {"recover", method(recover_function), METH_VARARGS | METH_KEYWORDS, "recover(source)\n--\n\n"},
    {"_arrow_allocations", method(arrow_allocations), METH_NOARGS, nullptr},
    {"_list_sources", method(list_sources_function), METH_VARARGS | METH_KEYWORDS,
     "_list_sources(sources)\n--\n\n"},
    {"_load_many", method(load_many_function), METH_VARARGS | METH_KEYWORDS,
     "_load_many(sources, workers=None)\n--\n\n"},
    {"_summaries", method(summaries_function), METH_VARARGS | METH_KEYWORDS,
     "_summaries(sources, workers=None, progress=None)\n--\n\n"},
    {"_points", method(points_function), METH_VARARGS | METH_KEYWORDS,
     "_points(sources, workers=None, progress=None, skip_failures=False)\n--\n\n"},
    {"_write_csv", method(write_csv_function), METH_VARARGS | METH_KEYWORDS,
     "_write_csv(table, write)\n--\n\n"},
};

// Each attribute's name goes into __all__ first, so __all__ lists them in the order added.
void add_attribute(PyObject* module, const char* name, PyObject* value) {
  if (value == nullptr) throw_error_already_set();
  PyObject* dict = PyModule_GetDict(module);
  PyObject* all = PyDict_GetItemString(dict, "__all__");
  if (all == nullptr) {
    nb::object created = checked(PyList_New(0));
    if (PyDict_SetItemString(dict, "__all__", created.ptr()) != 0) throw_error_already_set();
    all = created.ptr();
  }
  nb::object key = checked(PyUnicode_FromString(name));
  if (PyList_Append(all, key.ptr()) != 0) throw_error_already_set();
  if (PyModule_AddObjectRef(module, name, value) != 0) throw_error_already_set();
}

nb::object function_of(PyObject* module, PyMethodDef& def) {
  nb::object module_name = checked(PyModule_GetNameObject(module));
  return checked(PyCFunction_NewEx(&def, module, module_name.ptr()));
}

void add_function(PyObject* module, PyMethodDef& def) {
  add_attribute(module, def.ml_name, function_of(module, def).ptr());
}

void register_attributes(PyObject* module) {
  nb::object version = checked(PyUnicode_FromString(TRAMLIX_VERSION));
  add_attribute(module, "__version__", version.ptr());
  add_attribute(module, "TramlixError", tramlix_error());
  auto add_class = [&](const char* name, PyTypeObject* type) {
    add_attribute(module, name, reinterpret_cast<PyObject*>(type));
  };
  add_class("TrackPoint", track_point_type());
  add_class("Segment", segment_type());
  add_class("ActivitySummary", activity_summary_type());
  add_class("DeviceInfo", device_info_type());
  add_class("ElevationGain", elevation_gain_type());
  add_class("MovingData", moving_data_type());
  add_class("Bounds", bounds_type());
  add_class("Activity", activity_type());
  add_class("ActivityFile", activity_file_type());
  for (PyMethodDef& def : module_functions) add_function(module, def);
  // Classes and functions outside the fixed __all__; the package exports them.
  if (PyModule_AddObjectRef(module, "Table", reinterpret_cast<PyObject*>(table_type())) != 0) {
    throw_error_already_set();
  }
  add_analysis(module);
  if (PyModule_AddObjectRef(module, "_ManyLoader",
                            reinterpret_cast<PyObject*>(many_loader_type())) != 0) {
    throw_error_already_set();
  }
  for (std::span<PyMethodDef> functions : {std::span<PyMethodDef>(unlisted_functions),
                                           fit_message_functions(), lap_and_split_functions()}) {
    for (PyMethodDef& def : functions) {
      if (PyModule_AddObjectRef(module, def.ml_name, function_of(module, def).ptr()) != 0) {
        throw_error_already_set();
      }
    }
  }
  // The names of the formats ("gpx", ...), for the command line's help texts.
  const std::span<const Format> formats = Format::all();
  nb::object names = checked(PyTuple_New(static_cast<Py_ssize_t>(formats.size())));
  for (std::size_t i = 0; i < formats.size(); ++i) {
    // PyTuple_SetItem takes the reference, whether it succeeds or not.
    const Py_ssize_t at = static_cast<Py_ssize_t>(i);
    if (PyTuple_SetItem(names.ptr(), at, to_python(formats[i].name()).release().ptr()) != 0) {
      throw_error_already_set();
    }
  }
  if (PyModule_AddObjectRef(module, "_formats", names.ptr()) != 0) throw_error_already_set();
}

// The module is built once per process. The classes are process-wide, so only the interpreter
// that built them may use them; a re-import there gets the same module object back.
PyObject* the_module = nullptr;
std::int64_t owner_interpreter = -1;

std::int64_t current_interpreter() {
  return PyInterpreterState_GetID(PyInterpreterState_Get());
}

PyObject* create_module(PyObject* module_info, PyModuleDef*) {
  if (owner_interpreter != -1 && current_interpreter() != owner_interpreter) {
    PyErr_SetString(PyExc_ImportError,
                    "tramlix._tramlix does not support sub-interpreters: it can be imported "
                    "only by the interpreter that first loaded it");
    return nullptr;
  }
  if (the_module != nullptr) return Py_NewRef(the_module);
  PyObject* name = PyObject_GetAttrString(module_info, "name");
  if (name == nullptr) return nullptr;
  PyObject* module = PyModule_NewObject(name);
  Py_DECREF(name);
  return module;
}

int exec_module(PyObject* module) {
  if (module == the_module) return 0;
  const bool ok = boundary<bool>(false, [&] {
    register_attributes(module);
    return true;
  });
  if (!ok) return -1;
  owner_interpreter = current_interpreter();
  the_module = Py_NewRef(module);
  return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, slot(create_module)},
    {Py_mod_exec, slot(exec_module)},
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_tramlix",
    nullptr,  // no docstring
    0,        // no per-module state: everything lives for the process
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace
}  // namespace tramlix::python

PyMODINIT_FUNC PyInit__tramlix() {
  return PyModuleDef_Init(&tramlix::python::module_def);
}
