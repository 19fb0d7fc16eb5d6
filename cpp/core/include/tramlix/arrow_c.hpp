// The Arrow C data interface and C stream interface: the structs through which columnar data
// passes between libraries in one process (pyarrow, polars, duckdb, ...) without a copy.
//
// These are the published, stable ABI, written out here so that no Arrow library is needed.
// The guards are the ones every implementation uses, so another header that defines the same
// structs may come first.
#pragma once

#include <cstdint>

extern "C" {

#ifndef ARROW_C_DATA_INTERFACE
#define ARROW_C_DATA_INTERFACE

#define ARROW_FLAG_DICTIONARY_ORDERED 1
#define ARROW_FLAG_NULLABLE 2
#define ARROW_FLAG_MAP_KEYS_SORTED 4

struct ArrowSchema {
  const char* format;
  const char* name;
  const char* metadata;
  int64_t flags;
  int64_t n_children;
  struct ArrowSchema** children;
  struct ArrowSchema* dictionary;
  // Frees everything the producer allocated and sets `release` to null.
  void (*release)(struct ArrowSchema*);
  void* private_data;
};

struct ArrowArray {
  int64_t length;
  int64_t null_count;
  int64_t offset;
  int64_t n_buffers;
  int64_t n_children;
  const void** buffers;
  struct ArrowArray** children;
  struct ArrowArray* dictionary;
  void (*release)(struct ArrowArray*);
  void* private_data;
};

#endif  // ARROW_C_DATA_INTERFACE

#ifndef ARROW_C_STREAM_INTERFACE
#define ARROW_C_STREAM_INTERFACE

struct ArrowArrayStream {
  // 0 or an errno value; `out` then belongs to the caller.
  int (*get_schema)(struct ArrowArrayStream*, struct ArrowSchema* out);
  // 0 with `out` released (its `release` null) at the end of the stream.
  int (*get_next)(struct ArrowArrayStream*, struct ArrowArray* out);
  // The text of the last error, valid until the next call; null when there was none.
  const char* (*get_last_error)(struct ArrowArrayStream*);
  void (*release)(struct ArrowArrayStream*);
  void* private_data;
};

#endif  // ARROW_C_STREAM_INTERFACE
}
