// Types, buffers, column builders and tables in the Arrow columnar layout.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>

#include "live.hpp"
#include "tramlix/arrow.hpp"

namespace tramlix::arrow {

// ---- Types ----

// Spelled out: clang 16 crashes defaulting it, the children's Field comparison being defaulted
// in terms of this one.
bool DataType::operator==(const DataType& other) const {
  return id == other.id && unit == other.unit && timezone == other.timezone &&
         children == other.children;
}

DataType timestamp(TimeUnit unit, std::string timezone) {
  DataType type = TypeId::Timestamp;
  type.unit = unit;
  type.timezone = std::move(timezone);
  return type;
}

DataType list(DataType item, bool item_nullable) {
  DataType type = TypeId::List;
  type.children.push_back(Field{"item", std::move(item), item_nullable, {}});
  return type;
}

std::string format_string(const DataType& type) {
  // The types without parameters, in TypeId order up to Binary.
  static constexpr const char* kPlain[] = {"b", "c", "s", "i", "l", "C", "S",
                                           "I", "L", "f", "g", "u", "z"};
  switch (type.id) {
    case TypeId::Timestamp: {
      static constexpr char kUnits[] = {'s', 'm', 'u', 'n'};
      std::string format = "ts";
      format += kUnits[static_cast<int>(type.unit)];
      return format + ':' + type.timezone;
    }
    case TypeId::List:
      return "+l";
    case TypeId::Dictionary:
      return "i";  // the indices; the values have a schema of their own
    default:
      return kPlain[static_cast<int>(type.id)];
  }
}

// ---- Memory ----

namespace {

std::atomic<std::int64_t> live_count{0};

constexpr std::size_t kAlignment = 64;

}  // namespace

std::int64_t live_allocations() {
  return live_count.load();
}

Live::Live() noexcept {
  live_count.fetch_add(1, std::memory_order_relaxed);
}
Live::~Live() {
  live_count.fetch_sub(1, std::memory_order_relaxed);
}

Buffer::Buffer(Buffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

Buffer& Buffer::operator=(Buffer&& other) noexcept {
  if (this != &other) {
    Buffer gone(std::move(*this));
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

Buffer::~Buffer() {
  if (data_ == nullptr) return;
  std::free(data_);
  live_count.fetch_sub(1, std::memory_order_relaxed);
}

void Buffer::grow(std::size_t at_least) {
  std::size_t capacity = std::max({at_least, capacity_ * 2, kAlignment});
  capacity = (capacity + kAlignment - 1) / kAlignment * kAlignment;
  auto* grown = static_cast<std::byte*>(std::aligned_alloc(kAlignment, capacity));
  if (grown == nullptr) throw std::bad_alloc();
  if (data_ != nullptr) {
    std::memcpy(grown, data_, size_);
    std::free(data_);
  } else {
    live_count.fetch_add(1, std::memory_order_relaxed);
  }
  std::memset(grown + size_, 0, capacity - size_);
  data_ = grown;
  capacity_ = capacity;
}

void Buffer::append(const void* bytes, std::size_t count) {
  if (count == 0) return;
  if (size_ + count > capacity_) grow(size_ + count);
  std::memcpy(data_ + size_, bytes, count);
  size_ += count;
}

namespace {

std::size_t bitmap_bytes(std::int64_t bits) {
  return static_cast<std::size_t>((bits + 7) / 8);
}

// Sets bit `index` (least significant bit first), growing the bitmap to cover it.
void set_bit(Buffer& bitmap, std::int64_t index, bool value) {
  const std::size_t needed = bitmap_bytes(index + 1);
  if (bitmap.size() < needed) bitmap.resize(needed);
  if (value) bitmap.data()[index / 8] |= std::byte{1} << (index % 8);
}

bool get_bit(const Buffer& bitmap, std::int64_t index) {
  return (std::to_integer<unsigned>(bitmap.data()[index / 8]) >> (index % 8)) & 1u;
}

}  // namespace

bool ArrayData::is_valid(std::int64_t row) const {
  return null_count == 0 || buffers.empty() || buffers[0].size() == 0 || get_bit(buffers[0], row);
}

// ---- Builders ----

void ArrayBuilder::append_validity_slow(bool valid) {
  if (null_count_ == 0) {
    // The first null: every row before it was valid.
    validity_.resize(bitmap_bytes(length_ + 1));
    std::memset(validity_.data(), 0xff, static_cast<std::size_t>(length_ / 8));
    for (std::int64_t i = length_ / 8 * 8; i < length_; ++i) set_bit(validity_, i, true);
  }
  set_bit(validity_, length_, valid);
  if (!valid) ++null_count_;
  ++length_;
}

std::shared_ptr<ArrayData> ArrayBuilder::start_finish() {
  auto data = std::make_shared<ArrayData>();
  data->type = type_;
  data->length = std::exchange(length_, 0);
  data->null_count = std::exchange(null_count_, 0);
  data->buffers.push_back(std::move(validity_));
  validity_ = Buffer();
  return data;
}

template <Number T>
std::shared_ptr<const ArrayData> NumberBuilder<T>::finish() {
  auto data = start_finish();
  data->buffers.push_back(std::move(values_));
  values_ = Buffer();
  return data;
}

template class NumberBuilder<std::int8_t>;
template class NumberBuilder<std::int16_t>;
template class NumberBuilder<std::int32_t>;
template class NumberBuilder<std::int64_t>;
template class NumberBuilder<std::uint8_t>;
template class NumberBuilder<std::uint16_t>;
template class NumberBuilder<std::uint32_t>;
template class NumberBuilder<std::uint64_t>;
template class NumberBuilder<float>;
template class NumberBuilder<double>;

void BoolBuilder::append(bool value) {
  set_bit(bits_, length(), value);
  append_validity(true);
}

void BoolBuilder::append_null() {
  set_bit(bits_, length(), false);
  append_validity(false);
}

void BoolBuilder::reserve(std::int64_t rows) {
  bits_.reserve(bitmap_bytes(rows));
}

std::shared_ptr<const ArrayData> BoolBuilder::finish() {
  auto data = start_finish();
  data->buffers.push_back(std::move(bits_));
  bits_ = Buffer();
  return data;
}

namespace {

// 32-bit offsets reach 2 GiB of values; the caller cuts larger data into batches.
std::int32_t checked_offset(std::size_t offset) {
  if (offset > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::length_error("an Arrow column holds more than 2 GiB of values in one batch");
  }
  return static_cast<std::int32_t>(offset);
}

}  // namespace

BinaryBuilder::BinaryBuilder(DataType type) : ArrayBuilder(std::move(type)) {
  offsets_.append(std::int32_t{0});
}

void BinaryBuilder::append(std::string_view value) {
  const std::int32_t end = checked_offset(values_.size() + value.size());
  values_.append(value.data(), value.size());
  offsets_.append(end);
  append_validity(true);
}

void BinaryBuilder::append_null() {
  offsets_.append(static_cast<std::int32_t>(values_.size()));
  append_validity(false);
}

void BinaryBuilder::reserve(std::int64_t rows) {
  offsets_.reserve(static_cast<std::size_t>(rows + 1) * sizeof(std::int32_t));
}

std::shared_ptr<const ArrayData> BinaryBuilder::finish() {
  auto data = start_finish();
  data->buffers.push_back(std::move(offsets_));
  data->buffers.push_back(std::move(values_));
  offsets_ = Buffer();
  values_ = Buffer();
  offsets_.append(std::int32_t{0});
  return data;
}

void DictionaryBuilder::append(std::string_view value) {
  append(value, 1);
}

void DictionaryBuilder::append(std::string_view value, std::int64_t count) {
  if (count <= 0) return;
  auto found = index_of_.find(value);
  if (found == index_of_.end()) {
    const auto index = static_cast<std::int32_t>(index_of_.size());
    values_.append(value);
    found = index_of_.emplace(std::string(value), index).first;
  }
  const std::int32_t index = found->second;
  indices_.reserve(indices_.size() + static_cast<std::size_t>(count) * sizeof index);
  for (std::int64_t i = 0; i < count; ++i) {
    indices_.append(index);
    append_validity(true);
  }
}

void DictionaryBuilder::append_null() {
  indices_.append(std::int32_t{0});
  append_validity(false);
}

void DictionaryBuilder::reserve(std::int64_t rows) {
  indices_.reserve(static_cast<std::size_t>(rows) * sizeof(std::int32_t));
}

std::shared_ptr<const ArrayData> DictionaryBuilder::finish() {
  auto data = start_finish();
  data->buffers.push_back(std::move(indices_));
  indices_ = Buffer();
  data->dictionary = values_.finish();
  index_of_.clear();
  return data;
}

ListBuilder::ListBuilder(std::unique_ptr<ArrayBuilder> values, bool item_nullable)
    : ArrayBuilder(list(values->type(), item_nullable)), values_(std::move(values)) {
  offsets_.append(std::int32_t{0});
}

void ListBuilder::append_list() {
  offsets_.append(checked_offset(static_cast<std::size_t>(values_->length())));
  append_validity(true);
}

void ListBuilder::append_null() {
  offsets_.append(checked_offset(static_cast<std::size_t>(values_->length())));
  append_validity(false);
}

void ListBuilder::reserve(std::int64_t rows) {
  offsets_.reserve(static_cast<std::size_t>(rows + 1) * sizeof(std::int32_t));
}

std::shared_ptr<const ArrayData> ListBuilder::finish() {
  // Items appended after the last append_list() belong to no row: the offsets stop short of
  // them, which the format allows.
  auto items = values_->finish();
  auto data = start_finish();
  data->buffers.push_back(std::move(offsets_));
  offsets_ = Buffer();
  offsets_.append(std::int32_t{0});
  data->children.push_back(std::move(items));
  return data;
}

std::unique_ptr<ArrayBuilder> make_builder(const DataType& type) {
  switch (type.id) {
    case TypeId::Bool:
      return std::make_unique<BoolBuilder>();
    case TypeId::Int8:
      return std::make_unique<Int8Builder>();
    case TypeId::Int16:
      return std::make_unique<Int16Builder>();
    case TypeId::Int32:
      return std::make_unique<Int32Builder>();
    case TypeId::Int64:
      return std::make_unique<Int64Builder>();
    case TypeId::UInt8:
      return std::make_unique<UInt8Builder>();
    case TypeId::UInt16:
      return std::make_unique<UInt16Builder>();
    case TypeId::UInt32:
      return std::make_unique<UInt32Builder>();
    case TypeId::UInt64:
      return std::make_unique<UInt64Builder>();
    case TypeId::Float32:
      return std::make_unique<Float32Builder>();
    case TypeId::Float64:
      return std::make_unique<Float64Builder>();
    case TypeId::Utf8:
      return std::make_unique<StringBuilder>();
    case TypeId::Binary:
      return std::make_unique<BinaryBuilder>();
    case TypeId::Dictionary:
      return std::make_unique<DictionaryBuilder>();
    case TypeId::Timestamp:
      return std::make_unique<TimestampBuilder>(type.unit, type.timezone);
    case TypeId::List: {
      const Field& item = type.children.at(0);
      return std::make_unique<ListBuilder>(make_builder(item.type), item.nullable);
    }
  }
  throw std::logic_error("unknown Arrow type");
}

// ---- Tables ----

Table::Table(Schema schema, std::vector<RecordBatch> batches)
    : schema_(std::move(schema)), batches_(std::move(batches)) {
  for (const RecordBatch& batch : batches_) {
    if (batch.columns.size() != schema_.fields.size()) {
      throw std::invalid_argument("a record batch has a different number of columns");
    }
    for (std::size_t i = 0; i < batch.columns.size(); ++i) {
      const Field& field = schema_.fields[i];
      const ArrayData* column = batch.columns[i].get();
      if (column == nullptr || column->type != field.type || column->length != batch.num_rows ||
          (!field.nullable && column->null_count != 0)) {
        throw std::invalid_argument("column " + field.name + " does not match its field");
      }
    }
    num_rows_ += batch.num_rows;
  }
}

}  // namespace tramlix::arrow
