// Many files at once: load_many's iterator, the summary and point tables of many files, and CSV.
//
// The files are loaded by a pool of C++ threads that never touch a Python object; the calling
// thread waits for each result in input order with the interpreter lock released, and holds it
// again only to hand the result to Python (or to report progress).
#include "many.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "classes.hpp"
#include "table.hpp"
#include "tramlix/csv.hpp"
#include "tramlix/many.hpp"
#include "tramlix/tables.hpp"

namespace tramlix::python {
namespace {

using namespace std::chrono_literals;

// How often a wait for the next file looks for Ctrl-C.
constexpr auto kSignalCheck = 100ms;
// CSV goes to the writer in pieces of about this size.
constexpr std::size_t kCsvChunk = std::size_t{1} << 20;

// What a worker hands back for one source: the value, the core's error, or an internal fault.
template <class T>
using Outcome = std::variant<T, Error, std::exception_ptr>;

template <class T, class Make>
Outcome<T> outcome_of(const Source& source, Make&& make) {
  try {
    auto file = load(source);
    if (!file) return std::move(file.error());
    return make(std::move(*file));
  } catch (...) {
    return std::current_exception();
  }
}

// ---- Arguments ----

// What the sources argument names, and the bytes objects the requests point into: they stay
// referenced until the work on them is done.
struct Requests {
  std::vector<RequestedSource> requests;
  std::vector<nb::object> held;
};

bool is_path(PyObject* object) {
  return PyUnicode_Check(object) || PyObject_HasAttrString(object, "__fspath__");
}

[[noreturn]] void raise_bad_source(PyObject* item) {
  nb::object got = checked(PyType_GetName(Py_TYPE(item)));
  PyErr_Format(PyExc_TypeError,
               "sources: expected a path (str or os.PathLike) or a (name, bytes) pair, not %U",
               got.ptr());
  throw_error_already_set();
}

void add_request(Requests& requests, PyObject* item) {
  if (is_path(item)) {
    requests.requests.push_back(RequestedSource{to_path(item, "sources"), std::nullopt});
    return;
  }
  if (PyTuple_Check(item) && PyTuple_Size(item) == 2 && is_path(PyTuple_GetItem(item, 0)) &&
      PyBytes_Check(PyTuple_GetItem(item, 1))) {
    PyObject* data = PyTuple_GetItem(item, 1);
    requests.requests.push_back(RequestedSource{to_path(PyTuple_GetItem(item, 0), "sources"),
                                                to_bytes_view(data, "sources")});
    requests.held.push_back(nb::borrow(data));
    return;
  }
  raise_bad_source(item);
}

// One path, or an iterable of paths and (name, bytes) pairs.
Requests to_requests(PyObject* sources) {
  Requests requests;
  if (is_path(sources)) {
    add_request(requests, sources);
    return requests;
  }
  if (PyBytes_Check(sources)) raise_bad_source(sources);
  nb::object iterator = nb::steal(PyObject_GetIter(sources));
  if (!iterator.is_valid()) {
    PyErr_Clear();
    raise_bad_source(sources);
  }
  while (PyObject* item = PyIter_Next(iterator.ptr())) {
    nb::object owned = nb::steal(item);
    add_request(requests, item);
  }
  if (PyErr_Occurred()) throw_error_already_set();
  return requests;
}

unsigned to_workers(PyObject* object) {
  if (is_absent(object)) return default_workers();
  const long workers = to_integer_in(object, "workers", LONG_MIN, LONG_MAX);
  if (workers < 1) {
    PyErr_Format(PyExc_ValueError, "workers must be at least 1, not %ld", workers);
    throw_error_already_set();
  }
  return static_cast<unsigned>(std::min<long>(workers, 1024));
}

Listing list_without_gil(const Requests& requests) {
  return without_gil([&] { return list_sources(requests.requests); });
}

// ---- Results ----

// A name as the file system spells it, back as the str it came from.
nb::object name_of(const std::string& name) {
  return checked(
      PyUnicode_DecodeFSDefaultAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
}

// The exception load() would raise for the same failure, as an object.
nb::object exception_of(const Error& error) {
  try {
    raise_error(error);
  } catch (const ErrorAlreadySet&) {
  }
  return nb::steal(PyErr_GetRaisedException());
}

nb::object exception_of(const std::exception_ptr& fault) {
  boundary<bool>(false, [&]() -> bool { std::rethrow_exception(fault); });
  return nb::steal(PyErr_GetRaisedException());
}

template <class T>
nb::object exception_of(const Outcome<T>& outcome) {
  if (const auto* error = std::get_if<Error>(&outcome)) return exception_of(*error);
  return exception_of(std::get<std::exception_ptr>(outcome));
}

// The text a failed file's row shows: what str() of its exception gives.
template <class T>
std::string failure_text(const Outcome<T>& outcome) {
  if (const auto* error = std::get_if<Error>(&outcome)) return error->display();
  try {
    std::rethrow_exception(std::get<std::exception_ptr>(outcome));
  } catch (const std::bad_alloc&) {
    return "out of memory";
  } catch (const std::exception& fault) {
    return std::string("tramlix internal error: ") + fault.what();
  } catch (...) {
    return "tramlix internal error";
  }
}

// The next outcome in order, waited for without the interpreter lock; Ctrl-C (or any signal
// handler that raises) stops the wait.
template <class T>
Outcome<T> next_outcome(OrderedPool<Outcome<T>>& pool) {
  while (!without_gil([&] { return pool.ready(kSignalCheck); })) {
    if (PyErr_CheckSignals() != 0) throw_error_already_set();
  }
  return pool.take();
}

nb::object names_of(const Requests& requests, const std::vector<std::size_t>& indices) {
  nb::object names = checked(PyList_New(0));
  for (const std::size_t i : indices) {
    if (PyList_Append(names.ptr(), name_of(requests.requests[i].path).ptr()) != 0) {
      throw_error_already_set();
    }
  }
  return names;
}

// Calls progress(done, total) unless it is None.
void report_progress(PyObject* progress, std::size_t done, std::size_t total) {
  if (is_absent(progress)) return;
  checked(PyObject_CallFunction(progress, "nn", static_cast<Py_ssize_t>(done),
                                static_cast<Py_ssize_t>(total)));
}

// ---- load_many's iterator ----

struct ManyLoader {
  Requests requests;
  Listing listing;
  std::unique_ptr<OrderedPool<Outcome<ActivityFile>>> pool;  // after what it reads
  bool busy = false;
};

ManyLoader& loader_of(PyObject* self) {
  return *unbox<std::unique_ptr<ManyLoader>>(self);
}

PyObject* loader_next(PyObject* self) {
  return boundary([&]() -> nb::object {
    ManyLoader& loader = loader_of(self);
    if (loader.busy) {
      PyErr_SetString(PyExc_ValueError, "load_many's iterator is already running");
      throw_error_already_set();
    }
    if (loader.pool->finished()) return nb::object();  // NULL without an error: the end
    loader.busy = true;
    struct Idle {
      bool& busy;
      ~Idle() { busy = false; }
    } idle{loader.busy};
    const std::size_t index = loader.pool->taken();
    Outcome<ActivityFile> outcome = next_outcome(*loader.pool);
    nb::object name = name_of(loader.listing.sources[index].name);
    nb::object value = std::holds_alternative<ActivityFile>(outcome)
                           ? box(std::move(std::get<ActivityFile>(outcome)))
                           : exception_of(outcome);
    return checked(PyTuple_Pack(2, name.ptr(), value.ptr()));
  });
}

PyObject* loader_iter(PyObject* self) {
  return Py_NewRef(self);
}

PyObject* loader_total(PyObject* self, void*) {
  return boundary([&] { return to_python(loader_of(self).pool->size()); });
}

PyObject* loader_done(PyObject* self, void*) {
  return boundary([&] { return to_python(loader_of(self).pool->taken()); });
}

PyObject* loader_empty_sources(PyObject* self, void*) {
  return boundary([&] {
    const ManyLoader& loader = loader_of(self);
    return names_of(loader.requests, loader.listing.empty);
  });
}

// The threads finish the files they are on (they need no interpreter lock), then stop.
void loader_dealloc(PyObject* self) {
  dealloc_box<std::unique_ptr<ManyLoader>>(self);
}

PyGetSetDef loader_properties[] = {
    {"total", loader_total, nullptr, nullptr, nullptr},
    {"done", loader_done, nullptr, nullptr, nullptr},
    {"empty_sources", loader_empty_sources, nullptr, nullptr, nullptr},
    {},
};

PyType_Slot loader_slots[] = {
    {Py_tp_dealloc, slot(loader_dealloc)},
    {Py_tp_new, slot(no_constructor<std::unique_ptr<ManyLoader>>)},
    {Py_tp_iter, slot(loader_iter)},
    {Py_tp_iternext, slot(loader_next)},
    {Py_tp_getset, loader_properties},
    {0, nullptr},
};

PyTypeObject* loader_type() {
  return create_class<std::unique_ptr<ManyLoader>>("tramlix._ManyLoader", "_ManyLoader",
                                                   loader_slots);
}

// ---- Tables of many files ----

struct TableRun {
  // Lists the sources without the interpreter lock, then reports that none is done yet.
  TableRun(PyObject* sources_arg, PyObject* progress)
      : requests(to_requests(sources_arg)), listing(list_without_gil(requests)) {
    report_progress(progress, 0, listing.sources.size());
  }

  Requests requests;
  Listing listing;
  nb::object failures = checked(PyList_New(0));

  void add_failure(std::size_t index, nb::object exception) {
    nb::object name = name_of(listing.sources[index].name);
    nb::object pair = checked(PyTuple_Pack(2, name.ptr(), exception.ptr()));
    if (PyList_Append(failures.ptr(), pair.ptr()) != 0) throw_error_already_set();
  }

  // (table, [(name, exception), ...], [names of sources that named no file])
  nb::object result(arrow::Table table) {
    nb::object boxed = box(std::move(table));
    nb::object empty = names_of(requests, listing.empty);
    return checked(PyTuple_Pack(3, boxed.ptr(), failures.ptr(), empty.ptr()));
  }
};

}  // namespace

PyObject* list_sources_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    const Requests requests = to_requests(one_argument(args, kwargs, "O:_list_sources", "sources"));
    const Listing listing = list_without_gil(requests);
    nb::object names = checked(PyList_New(0));
    for (const Source& source : listing.sources) {
      if (PyList_Append(names.ptr(), name_of(source.name).ptr()) != 0) throw_error_already_set();
    }
    return names;
  });
}

PyObject* load_many_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"sources", "workers", nullptr};
    Arg sources_arg = nullptr, workers_arg = nullptr;
    parse_arguments(args, kwargs, "O|O:_load_many", names, &sources_arg, &workers_arg);
    const unsigned workers = to_workers(workers_arg);
    auto loader = std::make_unique<ManyLoader>();
    loader->requests = to_requests(sources_arg);
    loader->listing = list_without_gil(loader->requests);
    const std::vector<Source>& sources = loader->listing.sources;
    loader->pool = std::make_unique<OrderedPool<Outcome<ActivityFile>>>(
        sources.size(), workers, [&sources](std::size_t i) {
          return outcome_of<ActivityFile>(sources[i], [](ActivityFile&& file) { return file; });
        });
    if (loader_type() == nullptr) throw_error_already_set();
    return box(std::move(loader));
  });
}

// Files whose figures may wait ahead of the table being built.
constexpr std::size_t kFiguresAhead = 256;

PyObject* summaries_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"sources", "workers", "progress", nullptr};
    Arg sources_arg = nullptr, workers_arg = nullptr, progress = nullptr;
    parse_arguments(args, kwargs, "O|OO:_summaries", names, &sources_arg, &workers_arg, &progress);
    const unsigned workers = to_workers(workers_arg);
    TableRun run(sources_arg, progress);
    const std::vector<Source>& sources = run.listing.sources;
    SummaryTableBuilder builder;
    // A file's figures are a few hundred bytes: a long window lets the workers run ahead of
    // this thread instead of waiting for it to wake after every small file.
    OrderedPool<Outcome<FileFigures>> pool(
        sources.size(), workers,
        [&](std::size_t i) {
          return outcome_of<FileFigures>(sources[i],
                                         [](ActivityFile&& file) { return figures_of(file); });
        },
        kFiguresAhead);
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const Outcome<FileFigures> outcome = next_outcome(pool);
      if (const auto* figures = std::get_if<FileFigures>(&outcome)) {
        builder.add(sources[i].name, *figures);
      } else {
        builder.add_failure(sources[i].name, failure_text(outcome));
        run.add_failure(i, exception_of(outcome));
      }
      report_progress(progress, i + 1, sources.size());
    }
    return run.result(builder.finish());
  });
}

PyObject* points_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"sources", "workers", "progress", "skip_failures", nullptr};
    Arg sources_arg = nullptr, workers_arg = nullptr, progress = nullptr;
    int skip_failures = 0;
    parse_arguments(args, kwargs, "O|OOp:_points", names, &sources_arg, &workers_arg, &progress,
                    &skip_failures);
    const unsigned workers = to_workers(workers_arg);
    TableRun run(sources_arg, progress);
    const std::vector<Source>& sources = run.listing.sources;
    SourcedPointTableBuilder builder;
    OrderedPool<Outcome<ActivityFile>> pool(sources.size(), workers, [&](std::size_t i) {
      return outcome_of<ActivityFile>(sources[i], [](ActivityFile&& file) { return file; });
    });
    for (std::size_t i = 0; i < sources.size(); ++i) {
      const Outcome<ActivityFile> outcome = next_outcome(pool);
      if (const auto* file = std::get_if<ActivityFile>(&outcome)) {
        without_gil([&] { builder.add(sources[i].name, *file); });
      } else if (skip_failures) {
        run.add_failure(i, exception_of(outcome));
      } else {
        PyErr_SetRaisedException(exception_of(outcome).release().ptr());
        throw_error_already_set();
      }
      report_progress(progress, i + 1, sources.size());
    }
    return run.result(without_gil([&] { return builder.finish(); }));
  });
}

PyObject* write_csv_function(PyObject*, PyObject* args, PyObject* kwargs) {
  return boundary([&] {
    static const char* names[] = {"table", "write", nullptr};
    Arg table_arg = nullptr, write = nullptr;
    parse_arguments(args, kwargs, "OO:_write_csv", names, &table_arg, &write);
    if (table_type() == nullptr) throw_error_already_set();
    const arrow::Table table = to_record<arrow::Table>(table_arg, "table");
    std::string out;
    auto flush = [&] {
      nb::object bytes =
          checked(PyBytes_FromStringAndSize(out.data(), static_cast<Py_ssize_t>(out.size())));
      checked(PyObject_CallFunctionObjArgs(write, bytes.ptr(), nullptr));
      out.clear();
    };
    arrow::append_csv_header(out, table.schema());
    for (const arrow::RecordBatch& batch : table.batches()) {
      std::int64_t row = 0;
      while (row < batch.num_rows) {
        without_gil([&] {
          constexpr std::int64_t kRows = 256;
          while (row < batch.num_rows && out.size() < kCsvChunk) {
            const std::int64_t end = std::min(row + kRows, batch.num_rows);
            arrow::append_csv_rows(out, table.schema(), batch, row, end);
            row = end;
          }
        });
        if (out.size() >= kCsvChunk) flush();
      }
    }
    if (!out.empty()) flush();
    return nb::none();
  });
}

PyTypeObject* many_loader_type() {
  return loader_type();
}

}  // namespace tramlix::python
