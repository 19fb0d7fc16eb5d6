// The columns of one FIT message type: what each decoded field is called, what type its column
// has, and the values staged for it until the table is built.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "fit/profile.hpp"
#include "fit/value.hpp"
#include "tramlix/arrow.hpp"

namespace tramlix::fit_tables {

// What a column holds, before it is an Arrow type.
enum class Kind : std::uint8_t {
  Unset,  // not known yet: fields the profile does not describe take the kind of their values
  Int,
  UInt,
  Float,
  Bool,
  Name,  // enumeration values: dictionary-encoded strings
  Text,
  Bytes,
  Time,       // seconds since 1970 in UTC
  LocalTime,  // seconds since 1970 in local time
};

struct ColumnShape {
  std::string name;
  std::string unit;  // empty: none
  Kind kind = Kind::Unset;
  arrow::TypeId width = arrow::TypeId::Int64;  // Int and UInt: the profile's width
  bool list = false;                           // an array in the profile
  bool scaled = false;
  // The named values of the field's profile type: a name in a numeric column is turned back
  // into its number.
  const fit::profile::TypeInfo* type = nullptr;
  bool profile = false;     // a field (or subfield) the profile describes
  std::uint8_t number = 0;  // its field number: a decoded field of another number is expanded
  std::uint32_t order = 0;  // columns are laid out by this
};

// Names the fields of one message type's messages and gives each name one column id, the same
// for the tables and for the message stream.
class Namer {
 public:
  explicit Namer(const fit::profile::MessageInfo* info) : info_(info) {}

  // The column of each field of `message`, in field order; valid until the next call.
  std::span<const std::uint32_t> columns_of(const fit::Message& message);

  const ColumnShape& shape(std::uint32_t id) const { return specs_[id]; }
  std::size_t size() const { return specs_.size(); }

 private:
  std::uint32_t column_of(const fit::Field& field);
  std::uint32_t add(ColumnShape shape);
  std::string developer_name(const fit::Field& field);
  bool profile_has(std::string_view lowered) const;

  const fit::profile::MessageInfo* info_;
  std::deque<ColumnShape> specs_;                              // references stay valid as it grows
  std::unordered_map<const char*, std::uint32_t> by_pointer_;  // profile names are static
  std::unordered_map<std::string, std::uint32_t> by_profile_name_;
  std::unordered_map<std::uint32_t, std::uint32_t> unknown_by_number_;
  // Developer fields by (index, number) and the name they had when their column was made.
  struct Developer {
    std::string source_name;
    std::uint32_t id;
  };
  std::unordered_map<std::uint32_t, std::vector<Developer>> developers_;
  std::unordered_map<std::string, std::uint32_t> taken_;  // column names, lower case
  std::uint32_t developer_count_ = 0;
  // The previous message's fields: most messages repeat them exactly.
  struct Key {
    const char* name;
    std::uint8_t number;
  };
  std::vector<Key> last_keys_;
  std::vector<std::uint32_t> last_ids_;
  std::uint64_t last_layout_ = 0;  // the previous message's layout, as the decoder gave it
};

// The values of one column, staged until the table is built: each row holds zero (null), one or
// (in a list) more elements.
class Column {
 public:
  explicit Column(const ColumnShape& shape)
      : shape_(&shape), kind_(shape.kind), own_number_(shape.profile ? shape.number : -1) {}

  // Room for `rows` rows of one value each.
  void reserve(std::uint32_t rows) {
    starts_.reserve(std::size_t{rows} + 1);
    valid_.reserve(rows);
    if (numeric()) {
      numbers_.reserve(rows);
    } else {
      ends_.reserve(rows);
    }
  }

  // Adds the value of `field` to row `row`, the table's current last row.
  void add(std::uint32_t row, const fit::Field& field);

  // The finished column of `rows` rows.
  std::shared_ptr<const arrow::ArrayData> finish(std::uint32_t rows);

 private:
  bool numeric() const;
  void open_row(std::uint32_t row) {
    if (starts_.size() == std::size_t{row} + 1) return;  // the row holds a value already
    if (starts_.size() == row) [[likely]] {
      starts_.push_back(static_cast<std::uint32_t>(valid_.size()));
      return;
    }
    open_rows(row);  // rows without a value before it
  }
  void open_rows(std::uint32_t row);
  void truncate_to(std::size_t elements);
  void add_array(const fit::ValueArray& array);
  void add_element(const fit::Value& value);
  void add_integer(std::uint64_t bits, bool negative);
  void push_number(std::uint64_t bits) {
    numbers_.push_back(bits);
    valid_.push_back(1);
  }
  void push_text(std::string_view text);
  void push_null();
  void become_float();
  std::string_view text_at(std::size_t element) const;
  // The rows of a scalar column as a column of T of `type`, each element as `value(i)` gives
  // it: the values and the validity bitmap are written straight into their buffers.
  template <class T, class Get>
  std::shared_ptr<const arrow::ArrayData> fill(arrow::DataType type, std::uint32_t rows,
                                               Get value) const {
    auto data = std::make_shared<arrow::ArrayData>();
    data->type = std::move(type);
    data->length = rows;
    arrow::Buffer values;
    values.resize(std::size_t{rows} * sizeof(T));  // zeroed: a null row holds 0
    arrow::Buffer validity;
    validity.resize((std::size_t{rows} + 7) / 8);
    auto* out = reinterpret_cast<T*>(values.data());
    auto* bits = reinterpret_cast<std::uint8_t*>(validity.data());
    std::int64_t nulls = 0;
    for (std::uint32_t row = 0; row < rows; ++row) {
      const std::uint32_t begin = starts_[row];
      if (begin == starts_[row + 1] || !valid_[begin]) {
        ++nulls;
        continue;
      }
      out[row] = value(begin);
      bits[row >> 3] |= static_cast<std::uint8_t>(1u << (row & 7));
    }
    data->null_count = nulls;
    data->buffers.push_back(nulls == 0 ? arrow::Buffer() : std::move(validity));
    data->buffers.push_back(std::move(values));
    return data;
  }
  arrow::DataType element_type() const;

  const ColumnShape* shape_;
  Kind kind_;
  std::int16_t own_number_;  // the profile field's number, or -1: values of others are expanded
  std::vector<std::uint32_t> starts_;  // the first element of each row opened so far
  std::vector<std::uint8_t> valid_;    // per element
  std::vector<std::uint64_t> numbers_;
  std::string arena_;
  std::vector<std::uint32_t> ends_;
  bool negative_ = false;  // an Int or UInt column holds a negative integer
  bool big_ = false;       // ... or one above 2^63 - 1
  bool multi_ = false;     // some value was an array
  bool expanded_ = false;  // the current row's value came from a component
};

// The decoded value of an integer field as the number its enumeration name stands for.
std::optional<std::uint64_t> number_of_name(const ColumnShape& shape, std::string_view name);

}  // namespace tramlix::fit_tables
