// Export of schemas, columns and tables through the Arrow C data and stream interfaces.
//
// Every exported struct owns a private part that holds its strings, its children's structs
// and a reference to the finished columns it points into. A consumer may move a child out of
// its parent (copy the struct, null the original's `release`), so each child has a release of
// its own and a parent releases only the children still in place.
#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "live.hpp"
#include "tramlix/arrow.hpp"

namespace tramlix::arrow {
namespace {

// Where an empty buffer other than a validity bitmap points: some consumers read a pointer to
// a zero-length buffer before they look at its length.
alignas(64) const std::byte kNoBytes[64] = {};

void append_int32(std::string& out, std::size_t value) {
  const auto number = static_cast<std::int32_t>(value);
  out.append(reinterpret_cast<const char*>(&number), sizeof number);
}

// The binary metadata form: a pair count, then each key and value with its length before it,
// all as native-endian 32-bit integers.
std::string encode_metadata(const Metadata& metadata) {
  std::string out;
  if (metadata.empty()) return out;
  append_int32(out, metadata.size());
  for (const auto& [key, value] : metadata) {
    append_int32(out, key.size());
    out += key;
    append_int32(out, value.size());
    out += value;
  }
  return out;
}

struct SchemaParts : Live {
  std::string format;
  std::string name;
  std::string metadata;
  std::vector<ArrowSchema> children;
  std::vector<ArrowSchema*> child_pointers;
  std::unique_ptr<ArrowSchema> dictionary;

  ~SchemaParts() {
    for (ArrowSchema& child : children) {
      if (child.release != nullptr) child.release(&child);
    }
    if (dictionary && dictionary->release != nullptr) dictionary->release(dictionary.get());
  }
};

void release_schema(ArrowSchema* schema) {
  if (schema == nullptr || schema->release == nullptr) return;
  delete static_cast<SchemaParts*>(schema->private_data);
  schema->release = nullptr;
}

void fill_schema(ArrowSchema* out, const DataType& type, const std::string& name,
                 const Metadata& metadata, bool nullable, std::string format = {}) {
  auto parts = std::make_unique<SchemaParts>();
  parts->format = format.empty() ? format_string(type) : std::move(format);
  parts->name = name;
  parts->metadata = encode_metadata(metadata);
  parts->children.resize(type.children.size());  // value-initialised: nothing to release yet
  for (std::size_t i = 0; i < type.children.size(); ++i) {
    const Field& child = type.children[i];
    fill_schema(&parts->children[i], child.type, child.name, child.metadata, child.nullable);
    parts->child_pointers.push_back(&parts->children[i]);
  }
  if (type.id == TypeId::Dictionary) {
    parts->dictionary = std::make_unique<ArrowSchema>();
    fill_schema(parts->dictionary.get(), TypeId::Utf8, {}, {}, true);
  }
  *out = ArrowSchema{
      .format = parts->format.c_str(),
      .name = parts->name.c_str(),
      .metadata = parts->metadata.empty() ? nullptr : parts->metadata.data(),
      .flags = nullable ? ARROW_FLAG_NULLABLE : 0,
      .n_children = static_cast<std::int64_t>(parts->children.size()),
      .children = parts->child_pointers.empty() ? nullptr : parts->child_pointers.data(),
      .dictionary = parts->dictionary.get(),
      .release = release_schema,
      .private_data = parts.get(),
  };
  parts.release();
}

struct ArrayParts : Live {
  std::shared_ptr<const ArrayData> data;  // keeps the buffers alive
  std::vector<const void*> buffers;
  std::vector<ArrowArray> children;
  std::vector<ArrowArray*> child_pointers;
  std::unique_ptr<ArrowArray> dictionary;

  ~ArrayParts() {
    for (ArrowArray& child : children) {
      if (child.release != nullptr) child.release(&child);
    }
    if (dictionary && dictionary->release != nullptr) dictionary->release(dictionary.get());
  }
};

void release_array(ArrowArray* array) {
  if (array == nullptr || array->release == nullptr) return;
  delete static_cast<ArrayParts*>(array->private_data);
  array->release = nullptr;
}

// Fills `out` from `parts` once its buffers and children are in place.
void publish(ArrowArray* out, std::unique_ptr<ArrayParts> parts, std::int64_t length,
             std::int64_t null_count) {
  *out = ArrowArray{
      .length = length,
      .null_count = null_count,
      .offset = 0,
      .n_buffers = static_cast<std::int64_t>(parts->buffers.size()),
      .n_children = static_cast<std::int64_t>(parts->children.size()),
      .buffers = parts->buffers.data(),
      .children = parts->child_pointers.empty() ? nullptr : parts->child_pointers.data(),
      .dictionary = parts->dictionary.get(),
      .release = release_array,
      .private_data = parts.get(),
  };
  parts.release();
}

void fill_children(ArrayParts& parts, const std::vector<std::shared_ptr<const ArrayData>>& of) {
  parts.children.resize(of.size());
  for (std::size_t i = 0; i < of.size(); ++i) {
    export_array(of[i], &parts.children[i]);
    parts.child_pointers.push_back(&parts.children[i]);
  }
}

struct StreamParts : Live {
  Table table;
  std::size_t next = 0;
  std::string last_error;
};

StreamParts& stream_parts(ArrowArrayStream* stream) {
  return *static_cast<StreamParts*>(stream->private_data);
}

// Runs one stream call: failures become an errno value and the text get_last_error gives.
template <class Work>
int guarded(ArrowArrayStream* stream, Work&& work) noexcept {
  StreamParts& parts = stream_parts(stream);
  try {
    work(parts);
    return 0;
  } catch (const std::bad_alloc&) {
    parts.last_error = "out of memory";  // fits the string's inline storage
    return ENOMEM;
  } catch (const std::exception& fault) {
    try {
      parts.last_error = fault.what();
    } catch (...) {
      parts.last_error.clear();
    }
    return EIO;
  }
}

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) {
  return guarded(stream, [&](StreamParts& parts) { export_schema(parts.table.schema(), out); });
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) {
  return guarded(stream, [&](StreamParts& parts) {
    const auto& batches = parts.table.batches();
    if (parts.next == batches.size()) {
      *out = ArrowArray{};  // the end: a released array
      return;
    }
    export_batch(batches[parts.next], out);
    ++parts.next;
  });
}

const char* stream_get_last_error(ArrowArrayStream* stream) {
  const std::string& error = stream_parts(stream).last_error;
  return error.empty() ? nullptr : error.c_str();
}

void release_stream(ArrowArrayStream* stream) {
  if (stream == nullptr || stream->release == nullptr) return;
  delete static_cast<StreamParts*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

void export_schema(const Schema& schema, ArrowSchema* out) {
  DataType row;  // a struct of the fields; only the export knows structs
  row.children = schema.fields;
  fill_schema(out, row, {}, schema.metadata, false, "+s");
}

void export_field(const Field& field, ArrowSchema* out) {
  fill_schema(out, field.type, field.name, field.metadata, field.nullable);
}

void export_array(const std::shared_ptr<const ArrayData>& data, ArrowArray* out) {
  auto parts = std::make_unique<ArrayParts>();
  parts->data = data;
  for (std::size_t i = 0; i < data->buffers.size(); ++i) {
    const Buffer& buffer = data->buffers[i];
    if (buffer.size() != 0) {
      parts->buffers.push_back(buffer.data());
    } else {
      parts->buffers.push_back(i == 0 ? nullptr : kNoBytes);  // no bitmap: nothing is null
    }
  }
  fill_children(*parts, data->children);
  if (data->dictionary) {
    parts->dictionary = std::make_unique<ArrowArray>();
    export_array(data->dictionary, parts->dictionary.get());
  }
  publish(out, std::move(parts), data->length, data->null_count);
}

void export_batch(const RecordBatch& batch, ArrowArray* out) {
  auto parts = std::make_unique<ArrayParts>();
  parts->buffers.push_back(nullptr);  // a struct's validity: every row is there
  fill_children(*parts, batch.columns);
  publish(out, std::move(parts), batch.num_rows, 0);
}

void export_stream(Table table, ArrowArrayStream* out) {
  auto parts = std::make_unique<StreamParts>();
  parts->table = std::move(table);
  *out = ArrowArrayStream{
      .get_schema = stream_get_schema,
      .get_next = stream_get_next,
      .get_last_error = stream_get_last_error,
      .release = release_stream,
      .private_data = parts.get(),
  };
  parts.release();
}

}  // namespace tramlix::arrow
