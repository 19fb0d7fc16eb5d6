#include "fit_tables/columns.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <stdexcept>
#include <utility>

#include "fit/base_type.hpp"
#include "text.hpp"

namespace tramlix::fit_tables {
namespace {

namespace base_type = fit::base_type;
using arrow::TypeId;

// Profile types whose few named values are markers on a number (a message index's "selected"
// bit, a weight still "calculating", the recording device's index "creator"): their columns
// are numbers. Every other named type of an enum, uint8 or uint16 base is an enumeration.
constexpr std::string_view kNumbersWithNames[] = {
    "message_index",     "device_index",       "weight",
    "user_local_id",     "left_right_balance", "left_right_balance_100",
    "backlight_timeout", "attitude_validity",  "workout_hr",
    "workout_power",
};

bool is_enumeration(const fit::profile::TypeInfo& type) {
  if (type.values.empty()) return false;
  if (type.base_type != base_type::kEnum && type.base_type != base_type::kUint8 &&
      type.base_type != base_type::kUint16) {
    return false;  // bit sets (uint8z, uint32z, ...) and 32-bit identifiers
  }
  return std::ranges::find(kNumbersWithNames, type.name) == std::end(kNumbersWithNames);
}

bool scales(std::optional<double> scale, std::optional<double> offset) {
  return (scale && *scale != 1.0) || (offset && *offset != 0.0);
}

// The column a profile type gives, its scale and offset applied.
void type_shape(ColumnShape& shape, std::string_view type_name, std::optional<double> scale,
                std::optional<double> offset, std::string_view array) {
  shape.profile = true;
  shape.scaled = scales(scale, offset);
  if (type_name == "date_time" || type_name == "local_date_time") {
    shape.kind = type_name == "date_time" ? Kind::Time : Kind::LocalTime;
    return;
  }
  const fit::profile::TypeInfo* type = fit::profile::type_info(type_name);
  shape.type = type;
  std::uint8_t code = type ? type->base_type : fit::profile::base_type_for_type_name(type_name);
  if (type && is_enumeration(*type) && !shape.scaled) {
    shape.kind = Kind::Name;
  } else if (type_name == "bool") {
    shape.kind = Kind::Bool;
  } else if (code == base_type::kString) {
    shape.kind = Kind::Text;
  } else if (code == base_type::kByte) {
    shape.kind = Kind::Bytes;
  } else if (shape.scaled || base_type::is_float(code)) {
    shape.kind = Kind::Float;
  } else if (base_type::is_integer(code)) {
    static constexpr TypeId kWidth[] = {
        TypeId::UInt8,  TypeId::Int8,   TypeId::UInt8,  TypeId::Int16, TypeId::UInt16,
        TypeId::Int32,  TypeId::UInt32, TypeId::Int64,  TypeId::Int64, TypeId::Int64,
        TypeId::UInt8,  TypeId::UInt16, TypeId::UInt32, TypeId::UInt8, TypeId::Int64,
        TypeId::UInt64, TypeId::UInt64,
    };
    shape.kind = base_type::is_signed_integer(code) ? Kind::Int : Kind::UInt;
    shape.width = kWidth[code];
  }
  shape.list = !array.empty() && shape.kind != Kind::Text && shape.kind != Kind::Bytes;
}

std::string lowered(std::string_view text) {
  return ascii_lowered(text);
}

}  // namespace

std::optional<std::uint64_t> number_of_name(const ColumnShape& shape, std::string_view name) {
  if (shape.type == nullptr || shape.scaled) return std::nullopt;
  return shape.type->value_of(name);
}

// ---- Namer ----

std::span<const std::uint32_t> Namer::columns_of(const fit::Message& message) {
  const std::size_t count = message.fields.size();
  if (message.layout != 0 && message.layout == last_layout_ && last_ids_.size() == count) {
    return last_ids_;
  }
  last_layout_ = message.layout;
  // Developer fields always look their column up: a description may change mid-file.
  bool same = last_keys_.size() == count;
  for (std::size_t i = 0; same && i < count; ++i) {
    const fit::Field& field = message.fields[i];
    same = !field.developer && field.name.data() == last_keys_[i].name &&
           field.number == last_keys_[i].number;
  }
  if (same) return last_ids_;
  last_ids_.resize(count);
  last_keys_.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    const fit::Field& field = message.fields[i];
    last_ids_[i] = column_of(field);
    last_keys_[i] = {field.developer ? nullptr : field.name.data(), field.number};
  }
  return last_ids_;
}

std::uint32_t Namer::add(ColumnShape shape) {
  const auto id = static_cast<std::uint32_t>(specs_.size());
  taken_.emplace(lowered(shape.name), id);
  specs_.push_back(std::move(shape));
  return id;
}

bool Namer::profile_has(std::string_view name) const {
  if (info_ == nullptr) return false;
  for (const fit::profile::FieldInfo& field : info_->fields) {
    if (lowered(field.name) == name) return true;
    for (const fit::profile::Subfield& subfield : field.subfields) {
      if (lowered(subfield.name) == name) return true;
    }
  }
  return false;
}

std::string Namer::developer_name(const fit::Field& field) {
  const std::string name(field.name);
  const std::string lower = lowered(name);
  if (!profile_has(lower) && !taken_.contains(lower)) return name;
  std::string suffixed = name + "_dev" + std::to_string(field.developer_data_index);
  if (taken_.contains(lowered(suffixed))) suffixed += "_" + std::to_string(field.number);
  return suffixed;
}

std::uint32_t Namer::column_of(const fit::Field& field) {
  if (field.developer) {
    const std::uint32_t key = std::uint32_t{field.developer_data_index} << 8 | field.number;
    const bool described = field.name != "developer_field" || field.owner != nullptr;
    std::vector<Developer>& known = developers_[key];
    for (const Developer& developer : known) {
      if (developer.source_name == field.name) return developer.id;
    }
    ColumnShape shape;
    shape.name = described ? developer_name(field)
                           : "developer_" + std::to_string(field.developer_data_index) + "_" +
                                 std::to_string(field.number);
    if (field.has_units) shape.unit = field.units;
    shape.order = (1u << 24) + developer_count_++;
    const std::uint32_t id = add(std::move(shape));
    known.push_back({std::string(field.name), id});
    return id;
  }
  if (field.name == "unknown") {
    const auto found = unknown_by_number_.find(field.number);
    if (found != unknown_by_number_.end()) return found->second;
    ColumnShape shape;
    shape.name = "field_" + std::to_string(field.number);
    shape.order = std::uint32_t{field.number} << 8;
    const std::uint32_t id = add(std::move(shape));
    unknown_by_number_.emplace(field.number, id);
    return id;
  }
  if (const auto found = by_pointer_.find(field.name.data()); found != by_pointer_.end()) {
    return found->second;
  }
  std::string name(field.name);
  if (const auto found = by_profile_name_.find(name); found != by_profile_name_.end()) {
    by_pointer_.emplace(field.name.data(), found->second);
    return found->second;
  }
  ColumnShape shape;
  shape.name = name;
  shape.order = std::uint32_t{field.number} << 8 | 0xFF;
  const fit::profile::FieldInfo* info = info_ ? info_->field(field.name) : nullptr;
  if (info != nullptr) {
    type_shape(shape, info->type_name, info->scale, info->offset, info->array);
    shape.unit = info->units;
    shape.number = info->number;
    shape.order = std::uint32_t{info->number} << 8;
  } else if (info_ != nullptr) {
    // A subfield sits right after the field it resolves.
    for (const fit::profile::FieldInfo& parent : info_->fields) {
      for (std::size_t i = 0; i < parent.subfields.size(); ++i) {
        const fit::profile::Subfield& subfield = parent.subfields[i];
        if (subfield.name != field.name) continue;
        type_shape(shape, subfield.type_name, subfield.scale, subfield.offset, parent.array);
        shape.unit = subfield.units;
        shape.number = parent.number;
        shape.order = std::uint32_t{parent.number} << 8 | static_cast<std::uint32_t>(i + 1);
        info = &parent;
        break;
      }
      if (info != nullptr) break;
    }
  }
  // A profile unit list such as "m/s,m" belongs to the components; the column has the first.
  if (const auto comma = shape.unit.find(','); comma != std::string::npos) shape.unit.resize(comma);
  // A developer field may have taken the name first: the profile keeps it (the two are
  // different columns, and developer names yield).
  const std::uint32_t id = static_cast<std::uint32_t>(specs_.size());
  specs_.push_back(std::move(shape));
  taken_.insert_or_assign(lowered(name), id);
  by_profile_name_.emplace(std::move(name), id);
  by_pointer_.emplace(field.name.data(), id);
  return id;
}

// ---- Column ----

bool Column::numeric() const {
  return kind_ != Kind::Name && kind_ != Kind::Text && kind_ != Kind::Bytes;
}

void Column::open_rows(std::uint32_t row) {
  if (starts_.size() > row) return;  // the row is open already
  while (starts_.size() <= row) starts_.push_back(static_cast<std::uint32_t>(valid_.size()));
}

void Column::truncate_to(std::size_t elements) {
  valid_.resize(elements);
  if (numeric()) {
    numbers_.resize(std::min(numbers_.size(), elements));
  } else {
    ends_.resize(elements);
    arena_.resize(elements == 0 ? 0 : ends_.back());
  }
}

void Column::add(std::uint32_t row, const fit::Field& field) {
  const fit::Value& value = field.value;
  if (value.is_invalid()) return;
  // A value expanded from another field's components, not the field's own.
  const bool expanded = own_number_ >= 0 && field.number != own_number_;
  const auto* array = value.get<fit::ValueArray>();
  if (starts_.size() == row) [[likely]] {
    // The row's first value.
    starts_.push_back(static_cast<std::uint32_t>(valid_.size()));
  } else {
    open_rows(row);
    if (valid_.size() > starts_[row] && !shape_->list && !multi_ && array == nullptr) {
      // A second scalar for one row: the field's own value wins over a component's.
      if (!expanded_ && expanded) return;
      truncate_to(starts_[row]);
    }
  }
  expanded_ = expanded;
  if (array != nullptr) return add_array(*array);
  // The values most fields hold, already of their column's kind.
  switch (value.index()) {
    case 1:
      if (kind_ == Kind::UInt || kind_ == Kind::Int) {
        const std::int64_t n = *value.get<std::int64_t>();
        if (n >= 0) return push_number(static_cast<std::uint64_t>(n));
        if (!big_) {
          negative_ = true;
          return push_number(static_cast<std::uint64_t>(n));
        }
      }
      break;
    case 2:
      if (const auto n = *value.get<std::uint64_t>();
          (kind_ == Kind::UInt || kind_ == Kind::Int) && n <= std::uint64_t{INT64_MAX}) {
        return push_number(n);
      }
      break;
    case 3:
      if (kind_ == Kind::Float)
        return push_number(std::bit_cast<std::uint64_t>(*value.get<double>()));
      break;
    case 8:
      if (kind_ == Kind::Time || kind_ == Kind::LocalTime) {
        return push_number(static_cast<std::uint64_t>(value.get<fit::Timestamp>()->unix_seconds));
      }
      break;
    default:
      break;
  }
  add_element(value);
}

void Column::add_array(const fit::ValueArray& array) {
  multi_ = true;
  if (kind_ == Kind::Unset) {
    const auto first = std::ranges::find_if(array, [](const fit::Value& v) {
      return !v.is_invalid() && v.get<fit::ValueArray>() == nullptr;
    });
    if (first == array.end()) return;
    add_element(*first);
    truncate_to(valid_.size() - 1);  // the kind is set; the elements follow in order
  }
  for (const fit::Value& element : array) {
    if (element.get<fit::ValueArray>() != nullptr) {
      push_null();
    } else {
      add_element(element);
    }
  }
}

void Column::push_text(std::string_view text) {
  arena_.append(text);
  if (arena_.size() > std::numeric_limits<std::uint32_t>::max()) {
    throw std::length_error("a FIT message table column holds more than 4 GiB of text");
  }
  ends_.push_back(static_cast<std::uint32_t>(arena_.size()));
  valid_.push_back(1);
}

void Column::push_null() {
  if (numeric()) {
    numbers_.push_back(0);
  } else {
    ends_.push_back(static_cast<std::uint32_t>(arena_.size()));
  }
  valid_.push_back(0);
}

void Column::become_float() {
  for (std::size_t i = 0; i < numbers_.size(); ++i) {
    const std::uint64_t bits = numbers_[i];
    const double value = big_ && !negative_ ? static_cast<double>(bits)
                                            : static_cast<double>(static_cast<std::int64_t>(bits));
    numbers_[i] = std::bit_cast<std::uint64_t>(value);
  }
  kind_ = Kind::Float;
}

namespace {

std::string decimal(std::uint64_t value, bool negative) {
  char digits[24];
  const auto end =
      negative ? std::to_chars(digits, digits + sizeof digits, static_cast<std::int64_t>(value)).ptr
               : std::to_chars(digits, digits + sizeof digits, value).ptr;
  return std::string(digits, end);
}

Kind kind_of(const fit::Value& value) {
  switch (value.index()) {
    case 1:
      return Kind::Int;
    case 2:
      return Kind::UInt;
    case 3:
      return Kind::Float;
    case 4:
      return Kind::Text;
    case 5:
      return Kind::Bytes;
    case 6:
      return Kind::Bool;
    case 7:
      return Kind::Name;
    case 8:
      return Kind::Time;
    default:
      return Kind::Unset;
  }
}

}  // namespace

void Column::add_integer(std::uint64_t bits, bool negative) {
  switch (kind_) {
    case Kind::Int:
    case Kind::UInt: {
      const bool big = !negative && bits > static_cast<std::uint64_t>(INT64_MAX);
      if ((negative_ || negative) && (big_ || big)) {
        // No 64-bit integer type holds both: the column becomes float64 while the values
        // staged so far can still be read the one way they all share.
        become_float();
        return add_integer(bits, negative);
      }
      negative_ |= negative;
      big_ |= big;
      push_number(bits);
      break;
    }
    case Kind::Float: {
      const double number = negative ? static_cast<double>(static_cast<std::int64_t>(bits))
                                     : static_cast<double>(bits);
      push_number(std::bit_cast<std::uint64_t>(number));
      break;
    }
    case Kind::Bool:
      push_number(bits != 0);
      break;
    case Kind::Name:
    case Kind::Text:
      push_text(decimal(bits, negative));
      break;
    default:
      push_null();
  }
}

void Column::add_element(const fit::Value& value) {
  if (kind_ == Kind::Unset) [[unlikely]] {
    kind_ = kind_of(value);
    if (kind_ == Kind::Unset) return;
  }
  switch (value.index()) {
    case 0:  // invalid
      return push_null();
    case 1: {
      const auto n = *value.get<std::int64_t>();
      return add_integer(static_cast<std::uint64_t>(n), n < 0);
    }
    case 2:
      return add_integer(*value.get<std::uint64_t>(), false);
    case 3: {
      const double d = *value.get<double>();
      if (kind_ == Kind::Float) [[likely]]
        return push_number(std::bit_cast<std::uint64_t>(d));
      if (kind_ == Kind::Int || kind_ == Kind::UInt) {
        become_float();
        return push_number(std::bit_cast<std::uint64_t>(d));
      }
      if (kind_ == Kind::Name || kind_ == Kind::Text) {
        std::string text;
        append_number(text, d);
        return push_text(text);
      }
      return push_null();
    }
    case 4: {
      const std::string& text = *value.get<std::string>();
      if (kind_ == Kind::Name || kind_ == Kind::Text || kind_ == Kind::Bytes)
        return push_text(text);
      return push_null();
    }
    case 5: {
      const auto& bytes = *value.get<std::vector<std::uint8_t>>();
      const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
      if (kind_ == Kind::Bytes) return push_text(view);
      if (kind_ == Kind::Text || kind_ == Kind::Name) {
        return push_text(is_valid_utf8(view) ? std::string(view) : utf8_lossy(view));
      }
      return push_null();
    }
    case 6:
      return add_integer(*value.get<bool>(), false);
    case 7: {
      const std::string_view name = value.get<fit::EnumName>()->view();
      if (kind_ == Kind::Name || kind_ == Kind::Text) return push_text(name);
      if (kind_ == Kind::Int || kind_ == Kind::UInt || kind_ == Kind::Float) {
        if (const auto number = number_of_name(*shape_, name)) return add_integer(*number, false);
      }
      return push_null();
    }
    case 8:
      if (kind_ == Kind::Time || kind_ == Kind::LocalTime) {
        return push_number(static_cast<std::uint64_t>(value.get<fit::Timestamp>()->unix_seconds));
      }
      return push_null();
    default:
      return push_null();
  }
}

std::string_view Column::text_at(std::size_t element) const {
  const std::uint32_t begin = element == 0 ? 0 : ends_[element - 1];
  return std::string_view(arena_).substr(begin, ends_[element] - begin);
}

namespace {

template <class T>
bool fits(std::int64_t min, std::int64_t max) {
  return min >= static_cast<std::int64_t>(std::numeric_limits<T>::min()) &&
         static_cast<std::uint64_t>(max) <=
             static_cast<std::uint64_t>(std::numeric_limits<T>::max());
}

bool fits_width(TypeId width, std::int64_t min, std::int64_t max) {
  switch (width) {
    case TypeId::Int8:
      return fits<std::int8_t>(min, max);
    case TypeId::Int16:
      return fits<std::int16_t>(min, max);
    case TypeId::Int32:
      return fits<std::int32_t>(min, max);
    case TypeId::Int64:
      return true;
    case TypeId::UInt8:
      return min >= 0 && fits<std::uint8_t>(min, max);
    case TypeId::UInt16:
      return min >= 0 && fits<std::uint16_t>(min, max);
    case TypeId::UInt32:
      return min >= 0 && fits<std::uint32_t>(min, max);
    default:
      return min >= 0;
  }
}

}  // namespace

arrow::DataType Column::element_type() const {
  Kind kind = kind_ == Kind::Unset ? shape_->kind : kind_;
  switch (kind) {
    case Kind::Unset:
      return TypeId::Int64;  // never a value, nor a type in the profile
    case Kind::Int:
    case Kind::UInt: {
      if (big_) return TypeId::UInt64;
      std::int64_t min = 0;
      std::int64_t max = 0;
      for (std::size_t i = 0; i < numbers_.size(); ++i) {
        if (!valid_[i]) continue;
        const auto n = static_cast<std::int64_t>(numbers_[i]);
        min = std::min(min, n);
        max = std::max(max, n);
      }
      const TypeId width = shape_->kind == Kind::Int || shape_->kind == Kind::UInt
                               ? shape_->width
                               : (kind == Kind::Int ? TypeId::Int64 : TypeId::UInt64);
      if (fits_width(width, min, max)) return width;
      return negative_ ? TypeId::Int64 : TypeId::UInt64;
    }
    case Kind::Float:
      return TypeId::Float64;
    case Kind::Bool:
      return TypeId::Bool;
    case Kind::Name:
      return TypeId::Dictionary;
    case Kind::Text:
      return TypeId::Utf8;
    case Kind::Bytes:
      return TypeId::Binary;
    case Kind::Time:
      return arrow::timestamp(arrow::TimeUnit::Second, "UTC");
    case Kind::LocalTime:
      return arrow::timestamp(arrow::TimeUnit::Second);
  }
  return TypeId::Int64;
}

namespace {

// Appends element `i` of a column's staged values to `builder` of type `type`.
struct ElementWriter {
  const std::vector<std::uint64_t>& numbers;
  bool as_unsigned;  // integers above 2^63 - 1 read as unsigned
  TypeId id;

  template <class T>
  static void put(arrow::ArrayBuilder& builder, T value) {
    static_cast<arrow::NumberBuilder<T>&>(builder).append(value);
  }

  void number(arrow::ArrayBuilder& builder, std::size_t i) const {
    const std::uint64_t bits = numbers[i];
    const auto n = static_cast<std::int64_t>(bits);
    switch (id) {
      case TypeId::Int8:
        return put(builder, static_cast<std::int8_t>(n));
      case TypeId::Int16:
        return put(builder, static_cast<std::int16_t>(n));
      case TypeId::Int32:
        return put(builder, static_cast<std::int32_t>(n));
      case TypeId::Int64:
      case TypeId::Timestamp:
        return put(builder, n);
      case TypeId::UInt8:
        return put(builder, static_cast<std::uint8_t>(bits));
      case TypeId::UInt16:
        return put(builder, static_cast<std::uint16_t>(bits));
      case TypeId::UInt32:
        return put(builder, static_cast<std::uint32_t>(bits));
      case TypeId::UInt64:
        return put(builder, bits);
      case TypeId::Bool:
        return static_cast<arrow::BoolBuilder&>(builder).append(bits != 0);
      default:
        break;
    }
    return put(builder, as_unsigned ? static_cast<double>(bits) : static_cast<double>(n));
  }
};

}  // namespace

std::shared_ptr<const arrow::ArrayData> Column::finish(std::uint32_t rows) {
  open_row(rows);  // one start past the last row: its end
  arrow::DataType type = element_type();
  const TypeId id = type.id;
  // Integers staged as floats (a column that met a fraction) are already doubles.
  const bool staged_float = kind_ == Kind::Float;
  if (!shape_->list && !multi_) {
    // One element or none per row: numbers go straight into the column's buffers.
    const auto as = [&]<class T>(std::type_identity<T>) {
      return fill<T>(std::move(type), rows,
                     [&](std::size_t i) { return static_cast<T>(numbers_[i]); });
    };
    switch (id) {
      case TypeId::Int8:
        return as(std::type_identity<std::int8_t>{});
      case TypeId::Int16:
        return as(std::type_identity<std::int16_t>{});
      case TypeId::Int32:
        return as(std::type_identity<std::int32_t>{});
      case TypeId::Int64:
      case TypeId::Timestamp:
        return as(std::type_identity<std::int64_t>{});
      case TypeId::UInt8:
        return as(std::type_identity<std::uint8_t>{});
      case TypeId::UInt16:
        return as(std::type_identity<std::uint16_t>{});
      case TypeId::UInt32:
        return as(std::type_identity<std::uint32_t>{});
      case TypeId::UInt64:
        return as(std::type_identity<std::uint64_t>{});
      case TypeId::Float64:
        if (staged_float) {
          return fill<double>(std::move(type), rows,
                              [&](std::size_t i) { return std::bit_cast<double>(numbers_[i]); });
        }
        break;
      default:
        break;
    }
  }
  std::unique_ptr<arrow::ArrayBuilder> elements = arrow::make_builder(type);
  const ElementWriter writer{numbers_, big_ && !negative_, id};
  const auto put = [&](arrow::ArrayBuilder& builder, std::size_t i) {
    if (!valid_[i]) return builder.append_null();
    switch (id) {
      case TypeId::Dictionary:
        return static_cast<arrow::DictionaryBuilder&>(builder).append(text_at(i));
      case TypeId::Utf8:
      case TypeId::Binary:
        return static_cast<arrow::BinaryBuilder&>(builder).append(text_at(i));
      case TypeId::Float64:
        if (staged_float) {
          return static_cast<arrow::Float64Builder&>(builder).append(
              std::bit_cast<double>(numbers_[i]));
        }
        [[fallthrough]];
      default:
        return writer.number(builder, i);
    }
  };
  if (shape_->list || multi_) {
    arrow::ListBuilder list(std::move(elements));
    list.reserve(rows);
    for (std::uint32_t row = 0; row < rows; ++row) {
      const std::uint32_t begin = starts_[row];
      const std::uint32_t end = starts_[row + 1];
      if (begin == end) {
        list.append_null();
        continue;
      }
      for (std::uint32_t i = begin; i < end; ++i) put(list.values(), i);
      list.append_list();
    }
    return list.finish();
  }
  elements->reserve(rows);
  for (std::uint32_t row = 0; row < rows; ++row) {
    if (starts_[row] == starts_[row + 1]) {
      elements->append_null();
    } else {
      put(*elements, starts_[row]);
    }
  }
  return elements->finish();
}

}  // namespace tramlix::fit_tables
