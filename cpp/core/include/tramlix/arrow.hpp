// Tables in the Arrow columnar format, built in memory and handed to other libraries through the
// Arrow C data and stream interfaces (arrow_c.hpp) without a copy.
//
// A Table is a Schema (named, typed, nullable fields with key/value metadata) and record
// batches of finished columns. Columns are built by the builders below, one value at a time,
// each with its validity bitmap; finishing a builder moves its buffers into an immutable
// ArrayData that tables and exports share. Exporting hands the consumer structs that own a
// reference to those buffers, so a table can be exported any number of times, and its memory
// is freed when the table and the last export are released.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tramlix/arrow_c.hpp"

namespace tramlix::arrow {

// ---- Types ----

enum class TypeId : std::uint8_t {
  Bool,
  Int8,
  Int16,
  Int32,
  Int64,
  UInt8,
  UInt16,
  UInt32,
  UInt64,
  Float32,
  Float64,
  Utf8,
  Binary,
  Timestamp,   // 64-bit count of `unit` since 1970-01-01T00:00:00 (UTC when `timezone` is set)
  List,        // `children[0]` is the item field
  Dictionary,  // utf8 values, int32 indices
};

enum class TimeUnit : std::uint8_t { Second, Milli, Micro, Nano };

using Metadata = std::vector<std::pair<std::string, std::string>>;

struct Field;

struct DataType {
  // Implicit: a TypeId names a plain type. Defined below Field: constructing the list of
  // children needs Field complete (libc++ insists).
  DataType(TypeId id = TypeId::Int64);

  TypeId id;
  TimeUnit unit = TimeUnit::Second;  // Timestamp only
  std::string timezone;              // Timestamp only: "UTC", or empty for local time
  std::vector<Field> children;       // List only: one item field

  bool operator==(const DataType&) const;
};

struct Field {
  std::string name;
  DataType type;
  bool nullable = true;
  Metadata metadata;  // e.g. {"unit", "m"}

  bool operator==(const Field&) const = default;
};

inline DataType::DataType(TypeId id) : id(id) {}

// `timezone` empty: a date-time without zone (local time).
DataType timestamp(TimeUnit unit, std::string timezone = {});
DataType list(DataType item, bool item_nullable = true);

// The C data interface's format string ("g", "tsn:UTC", "+l", ...); a dictionary gives its
// index type's.
std::string format_string(const DataType& type);

// ---- Memory ----

// A block of bytes for one Arrow buffer: 64-byte aligned, grown by doubling, and zero past its
// size (so bitmaps can be set bit by bit). Move-only.
class Buffer {
 public:
  Buffer() noexcept = default;
  Buffer(Buffer&& other) noexcept;
  Buffer& operator=(Buffer&& other) noexcept;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  ~Buffer();

  const std::byte* data() const { return data_; }
  std::byte* data() { return data_; }
  std::size_t size() const { return size_; }

  void reserve(std::size_t bytes) {
    if (bytes > capacity_) grow(bytes);
  }
  // Grows to `bytes`; new bytes are zero.
  void resize(std::size_t bytes) {
    reserve(bytes);
    size_ = bytes;
  }
  template <class T>
  void append(T value) {
    static_assert(std::is_trivially_copyable_v<T>);
    if (size_ + sizeof(T) > capacity_) grow(size_ + sizeof(T));
    std::memcpy(data_ + size_, &value, sizeof(T));
    size_ += sizeof(T);
  }
  void append(const void* bytes, std::size_t count);

  template <class T>
  const T* as() const {
    return reinterpret_cast<const T*>(data_);
  }

 private:
  void grow(std::size_t at_least);

  std::byte* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

// Heap blocks of buffers plus export structures alive in the process: tests use it to show that
// releasing an export frees everything it held.
std::int64_t live_allocations();

// ---- Finished columns ----

// One column (or a column's child) in the Arrow layout, immutable once finished.
struct ArrayData {
  DataType type;
  std::int64_t length = 0;
  std::int64_t null_count = 0;
  // In the C data interface's order; the validity bitmap first, empty when nothing is null.
  std::vector<Buffer> buffers;
  std::vector<std::shared_ptr<const ArrayData>> children;  // List: the items
  std::shared_ptr<const ArrayData> dictionary;             // Dictionary: the values

  bool is_valid(std::int64_t row) const;
};

// ---- Builders ----

// Appends values to one column. Each concrete builder has a non-virtual append for its values;
// append_null and finish work through the base. finish() returns the column and leaves the
// builder empty, ready for the next batch.
class ArrayBuilder {
 public:
  explicit ArrayBuilder(DataType type) : type_(std::move(type)) {}
  virtual ~ArrayBuilder() = default;
  ArrayBuilder(const ArrayBuilder&) = delete;
  ArrayBuilder& operator=(const ArrayBuilder&) = delete;

  const DataType& type() const { return type_; }
  std::int64_t length() const { return length_; }
  std::int64_t null_count() const { return null_count_; }

  virtual void append_null() = 0;
  // Nulls for rows before a column's first value (a field that appears late).
  void append_nulls(std::int64_t count) {
    for (std::int64_t i = 0; i < count; ++i) append_null();
  }
  virtual void reserve(std::int64_t rows) = 0;
  virtual std::shared_ptr<const ArrayData> finish() = 0;

 protected:
  // Records one row as valid or null. The bitmap is made at the first null.
  void append_validity(bool valid) {
    if (null_count_ == 0 && valid) {
      ++length_;
      return;
    }
    append_validity_slow(valid);
  }
  // A new ArrayData holding the validity bitmap, counts and type; resets them here.
  std::shared_ptr<ArrayData> start_finish();

 private:
  void append_validity_slow(bool valid);

  DataType type_;
  Buffer validity_;
  std::int64_t length_ = 0;
  std::int64_t null_count_ = 0;
};

template <class T>
concept Number = std::is_arithmetic_v<T> && !std::is_same_v<T, bool>;

template <Number T>
constexpr TypeId number_type() {
  if constexpr (std::is_floating_point_v<T>) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    return sizeof(T) == 4 ? TypeId::Float32 : TypeId::Float64;
  } else {
    constexpr TypeId kSigned[] = {TypeId::Int8, TypeId::Int16, TypeId::Int32, TypeId::Int64};
    constexpr TypeId kUnsigned[] = {TypeId::UInt8, TypeId::UInt16, TypeId::UInt32, TypeId::UInt64};
    constexpr int kIndex = std::bit_width(sizeof(T)) - 1;  // 1, 2, 4, 8 bytes
    return std::is_signed_v<T> ? kSigned[kIndex] : kUnsigned[kIndex];
  }
}

// Fixed-width numbers; a Timestamp is an int64 column with its own type.
template <Number T>
class NumberBuilder : public ArrayBuilder {
 public:
  NumberBuilder() : ArrayBuilder(number_type<T>()) {}
  explicit NumberBuilder(DataType type) : ArrayBuilder(std::move(type)) {}

  void append(T value) {
    values_.append(value);
    append_validity(true);
  }
  void append(const std::optional<T>& value) {
    if (value) {
      append(*value);
    } else {
      append_null();
    }
  }
  void append_null() override {
    values_.append(T{});
    append_validity(false);
  }
  void reserve(std::int64_t rows) override {
    values_.reserve(static_cast<std::size_t>(rows) * sizeof(T));
  }
  std::shared_ptr<const ArrayData> finish() override;

 private:
  Buffer values_;
};

using Int8Builder = NumberBuilder<std::int8_t>;
using Int16Builder = NumberBuilder<std::int16_t>;
using Int32Builder = NumberBuilder<std::int32_t>;
using Int64Builder = NumberBuilder<std::int64_t>;
using UInt8Builder = NumberBuilder<std::uint8_t>;
using UInt16Builder = NumberBuilder<std::uint16_t>;
using UInt32Builder = NumberBuilder<std::uint32_t>;
using UInt64Builder = NumberBuilder<std::uint64_t>;
using Float32Builder = NumberBuilder<float>;
using Float64Builder = NumberBuilder<double>;

class TimestampBuilder : public NumberBuilder<std::int64_t> {
 public:
  explicit TimestampBuilder(TimeUnit unit, std::string timezone = {})
      : NumberBuilder(timestamp(unit, std::move(timezone))) {}
};

class BoolBuilder : public ArrayBuilder {
 public:
  BoolBuilder() : ArrayBuilder(TypeId::Bool) {}
  void append(bool value);
  void append(const std::optional<bool>& value) {
    if (value) {
      append(*value);
    } else {
      append_null();
    }
  }
  void append_null() override;
  void reserve(std::int64_t rows) override;
  std::shared_ptr<const ArrayData> finish() override;

 private:
  Buffer bits_;
};

// utf8 (the caller passes valid UTF-8) or binary values with 32-bit offsets: a column's values
// add up to at most 2 GiB, beyond which append throws std::length_error.
class BinaryBuilder : public ArrayBuilder {
 public:
  explicit BinaryBuilder(DataType type = TypeId::Binary);
  void append(std::string_view value);
  template <class Text>  // std::string or std::string_view
  void append(const std::optional<Text>& value) {
    if (value) {
      append(std::string_view(*value));
    } else {
      append_null();
    }
  }
  void append_null() override;
  void reserve(std::int64_t rows) override;
  std::shared_ptr<const ArrayData> finish() override;

 private:
  Buffer offsets_;
  Buffer values_;
};

class StringBuilder : public BinaryBuilder {
 public:
  StringBuilder() : BinaryBuilder(TypeId::Utf8) {}
};

// utf8 values stored once each: suits columns of few distinct texts (sports, enumeration
// names). The dictionary lists the texts in first-appearance order.
class DictionaryBuilder : public ArrayBuilder {
 public:
  DictionaryBuilder() : ArrayBuilder(TypeId::Dictionary) {}
  void append(std::string_view value);
  // `count` rows of the same text, looked up once.
  void append(std::string_view value, std::int64_t count);
  template <class Text>  // std::string or std::string_view
  void append(const std::optional<Text>& value) {
    if (value) {
      append(std::string_view(*value));
    } else {
      append_null();
    }
  }
  void append_null() override;
  void reserve(std::int64_t rows) override;
  std::shared_ptr<const ArrayData> finish() override;

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
      return std::hash<std::string_view>{}(text);
    }
  };
  Buffer indices_;
  StringBuilder values_;
  std::unordered_map<std::string, std::int32_t, Hash, std::equal_to<>> index_of_;
};

// list<T>: append the items of a row to values(), then close the row with append_list().
class ListBuilder : public ArrayBuilder {
 public:
  explicit ListBuilder(std::unique_ptr<ArrayBuilder> values, bool item_nullable = true);
  ArrayBuilder& values() { return *values_; }
  template <class B>
  B& values_as() {
    return dynamic_cast<B&>(*values_);
  }
  // Ends a row holding the items appended since the previous row ended.
  void append_list();
  void append_null() override;
  void reserve(std::int64_t rows) override;
  std::shared_ptr<const ArrayData> finish() override;

 private:
  std::unique_ptr<ArrayBuilder> values_;
  Buffer offsets_;
};

// A builder for any type: columns whose types are known only at run time.
std::unique_ptr<ArrayBuilder> make_builder(const DataType& type);

// ---- Tables ----

struct Schema {
  std::vector<Field> fields;
  Metadata metadata;

  bool operator==(const Schema&) const = default;
};

struct RecordBatch {
  std::int64_t num_rows = 0;
  std::vector<std::shared_ptr<const ArrayData>> columns;  // one per field, in order
};

// A schema and its record batches. Copies share the finished columns, which never change.
class Table {
 public:
  Table() = default;
  // Throws std::invalid_argument unless every batch has one column per field, of the field's
  // type and of the batch's length, with no nulls in a column that is not nullable.
  explicit Table(Schema schema, std::vector<RecordBatch> batches = {});

  const Schema& schema() const { return schema_; }
  const std::vector<RecordBatch>& batches() const { return batches_; }
  std::int64_t num_rows() const { return num_rows_; }
  std::size_t num_columns() const { return schema_.fields.size(); }

 private:
  Schema schema_;
  std::vector<RecordBatch> batches_;
  std::int64_t num_rows_ = 0;
};

// ---- Export through the C interfaces ----
//
// Each fills `out` with structs that the consumer owns: releasing them (their `release`
// callback) frees what they hold, children included, and marks them released. The columns'
// buffers are shared, not copied. On failure (std::bad_alloc) `out` is left untouched.

// The schema as a struct type ("+s") with one child per field.
void export_schema(const Schema& schema, ArrowSchema* out);
void export_field(const Field& field, ArrowSchema* out);
// The batch as a struct array with one child per column.
void export_batch(const RecordBatch& batch, ArrowArray* out);
void export_array(const std::shared_ptr<const ArrayData>& data, ArrowArray* out);
// A stream of the table's batches; it keeps the table's columns alive until released.
void export_stream(Table table, ArrowArrayStream* out);

}  // namespace tramlix::arrow
