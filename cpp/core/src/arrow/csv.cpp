#include "tramlix/csv.hpp"

#include <charconv>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "text.hpp"
#include "tramlix/time.hpp"

namespace tramlix::arrow {
namespace {

void append_text(std::string& out, std::string_view text) {
  if (!text.empty() && text.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

template <class T>
T value_at(const ArrayData& column, std::int64_t row) {
  T value;
  std::memcpy(&value, column.buffers[1].data() + row * static_cast<std::int64_t>(sizeof(T)),
              sizeof(T));
  return value;
}

template <class T>
void append_integer(std::string& out, T value) {
  char digits[24];
  const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  out.append(digits, end);
}

std::string_view text_at(const ArrayData& column, std::int64_t row) {
  const auto* offsets = column.buffers[1].as<std::int32_t>();
  const auto* bytes = reinterpret_cast<const char*>(column.buffers[2].data());
  return {bytes + offsets[row], static_cast<std::size_t>(offsets[row + 1] - offsets[row])};
}

void append_time(std::string& out, std::int64_t count, TimeUnit unit) {
  static constexpr std::int64_t kPerSecond[] = {1, 1'000, 1'000'000, 1'000'000'000};
  const std::int64_t per_second = kPerSecond[static_cast<int>(unit)];
  std::int64_t seconds = count / per_second;
  std::int64_t rest = count % per_second;
  if (rest < 0) {
    rest += per_second;
    --seconds;
  }
  const auto nanoseconds = static_cast<std::uint32_t>(rest * (1'000'000'000 / per_second));
  append_json_time(out, UtcInstant{seconds, nanoseconds});
}

void append_value(std::string& out, const Field& field, const ArrayData& column, std::int64_t row) {
  if (!column.is_valid(row)) return;
  switch (column.type.id) {
    case TypeId::Bool: {
      const auto byte = std::to_integer<unsigned>(column.buffers[1].data()[row / 8]);
      out += (byte >> (row % 8)) & 1 ? "true" : "false";
      return;
    }
    case TypeId::Int8:
      return append_integer(out, value_at<std::int8_t>(column, row));
    case TypeId::Int16:
      return append_integer(out, value_at<std::int16_t>(column, row));
    case TypeId::Int32:
      return append_integer(out, value_at<std::int32_t>(column, row));
    case TypeId::Int64:
      return append_integer(out, value_at<std::int64_t>(column, row));
    case TypeId::UInt8:
      return append_integer(out, value_at<std::uint8_t>(column, row));
    case TypeId::UInt16:
      return append_integer(out, value_at<std::uint16_t>(column, row));
    case TypeId::UInt32:
      return append_integer(out, value_at<std::uint32_t>(column, row));
    case TypeId::UInt64:
      return append_integer(out, value_at<std::uint64_t>(column, row));
    case TypeId::Float32:
      return append_number(out, value_at<float>(column, row));
    case TypeId::Float64:
      return append_number(out, value_at<double>(column, row));
    case TypeId::Utf8:
      return append_text(out, text_at(column, row));
    case TypeId::Timestamp:
      return append_time(out, value_at<std::int64_t>(column, row), column.type.unit);
    case TypeId::Dictionary:
      return append_text(out, text_at(*column.dictionary, value_at<std::int32_t>(column, row)));
    case TypeId::Binary:
    case TypeId::List:
      break;
  }
  throw std::invalid_argument("CSV cannot hold the column " + field.name);
}

}  // namespace

void append_csv_header(std::string& out, const Schema& schema) {
  const char* separator = "";
  for (const Field& field : schema.fields) {
    out += separator;
    append_text(out, field.name);
    separator = ",";
  }
  out += '\n';
}

void append_csv_rows(std::string& out, const Schema& schema, const RecordBatch& batch,
                     std::int64_t begin, std::int64_t end) {
  for (std::int64_t row = begin; row < end; ++row) {
    for (std::size_t i = 0; i < batch.columns.size(); ++i) {
      if (i > 0) out += ',';
      append_value(out, schema.fields[i], *batch.columns[i], row);
    }
    out += '\n';
  }
}

}  // namespace tramlix::arrow
