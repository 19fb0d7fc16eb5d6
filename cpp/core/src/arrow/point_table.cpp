// The point table: one row per track point, built in one pass over the model.
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "nanoseconds.hpp"
#include "tramlix/tables.hpp"

namespace tramlix {
namespace {

// A column taken straight from a point field. The columns after activity and segment are
// declared here once; the schema, the builders and the row loop all follow this list.
template <class Value>
struct PointColumn {
  std::string_view name;
  std::optional<Value> TrackPoint::*member;
  std::string_view unit;  // empty: none
};

// clang-format off
constexpr std::tuple kPointColumns{
    PointColumn<UtcInstant>{"time", &TrackPoint::time, ""},
    PointColumn<double>{"latitude", &TrackPoint::latitude, "deg"},
    PointColumn<double>{"longitude", &TrackPoint::longitude, "deg"},
    PointColumn<double>{"elevation_m", &TrackPoint::elevation_m, "m"},
    PointColumn<double>{"distance_m", &TrackPoint::distance_m, "m"},
    PointColumn<std::uint16_t>{"heart_rate_bpm", &TrackPoint::heart_rate_bpm, "bpm"},
    PointColumn<std::uint16_t>{"cadence_rpm", &TrackPoint::cadence_rpm, "rpm"},
    PointColumn<std::uint16_t>{"power_watts", &TrackPoint::power_watts, "W"},
    PointColumn<double>{"speed_mps", &TrackPoint::speed_mps, "m/s"},
    PointColumn<std::int16_t>{"temperature_c", &TrackPoint::temperature_c, "degC"},
};
// clang-format on

constexpr std::size_t kColumnCount = std::tuple_size_v<decltype(kPointColumns)>;

template <class Value>
struct BuilderOf {
  using type = arrow::NumberBuilder<Value>;
};
template <>
struct BuilderOf<UtcInstant> {
  using type = arrow::TimestampBuilder;
};
template <class Value>
using BuilderFor = typename BuilderOf<Value>::type;

template <class Value>
std::unique_ptr<BuilderFor<Value>> builder_for() {
  if constexpr (std::is_same_v<Value, UtcInstant>) {
    return std::make_unique<arrow::TimestampBuilder>(arrow::TimeUnit::Nano, "UTC");
  } else {
    return std::make_unique<arrow::NumberBuilder<Value>>();
  }
}

template <class... Value>
auto builders_for(const std::tuple<PointColumn<Value>...>&) {
  return std::tuple{builder_for<Value>()...};
}

using ColumnBuilders = decltype(builders_for(kPointColumns));

template <class Value>
arrow::Field field_of(const PointColumn<Value>& column) {
  arrow::Field field{std::string(column.name), builder_for<Value>()->type(), true, {}};
  if (!column.unit.empty()) field.metadata.emplace_back("unit", std::string(column.unit));
  return field;
}

arrow::Schema make_schema() {
  arrow::Schema schema;
  schema.fields.push_back({"activity", arrow::TypeId::UInt32, false, {}});
  schema.fields.push_back({"segment", arrow::TypeId::UInt32, false, {}});
  std::apply([&](const auto&... column) { (schema.fields.push_back(field_of(column)), ...); },
             kPointColumns);
  return schema;
}

template <class Builder, class Value>
void append_value(Builder& builder, const std::optional<Value>& value) {
  if constexpr (std::is_same_v<Value, UtcInstant>) {
    builder.append(unix_nanoseconds(value));
  } else {
    builder.append(value);
  }
}

// The columns of a point table, filled activity by activity.
class PointColumns {
 public:
  void reserve(std::size_t points) {
    const auto rows = static_cast<std::int64_t>(points);
    activity_.reserve(rows);
    segment_.reserve(rows);
    std::apply([&](auto&... builder) { (builder->reserve(rows), ...); }, columns_);
  }

  void add(std::uint32_t activity_index, const Activity& activity) {
    std::uint32_t segment_index = 0;
    for (const Segment& segment : activity.segments) {
      for (const TrackPoint& point : segment.points) {
        activity_.append(activity_index);
        segment_.append(segment_index);
        append_point(point, std::make_index_sequence<kColumnCount>{});
      }
      ++segment_index;
    }
  }

  void add(const ActivityFile& file) {
    for (std::size_t i = 0; i < file.activities.size(); ++i) {
      add(static_cast<std::uint32_t>(i), file.activities[i]);
    }
  }

  std::int64_t num_rows() const { return activity_.length(); }

  // Moves the columns built so far to the end of `batch`, leaving the builders empty.
  void finish_into(arrow::RecordBatch& batch) {
    batch.num_rows = activity_.length();
    batch.columns.push_back(activity_.finish());
    batch.columns.push_back(segment_.finish());
    std::apply([&](auto&... builder) { (batch.columns.push_back(builder->finish()), ...); },
               columns_);
  }

 private:
  template <std::size_t... I>
  void append_point(const TrackPoint& point, std::index_sequence<I...>) {
    (append_value(*std::get<I>(columns_), point.*std::get<I>(kPointColumns).member), ...);
  }

  arrow::UInt32Builder activity_;
  arrow::UInt32Builder segment_;
  ColumnBuilders columns_ = builders_for(kPointColumns);
};

arrow::Table one_batch(const arrow::Schema& schema, arrow::RecordBatch batch) {
  std::vector<arrow::RecordBatch> batches;
  batches.push_back(std::move(batch));
  return arrow::Table(schema, std::move(batches));
}

arrow::Schema make_sourced_schema() {
  arrow::Schema schema = point_schema();
  schema.fields.insert(schema.fields.begin(),
                       arrow::Field{"source", arrow::TypeId::Dictionary, false, {}});
  return schema;
}

}  // namespace

const arrow::Schema& point_schema() {
  static const arrow::Schema schema = make_schema();
  return schema;
}

arrow::Table point_table(const ActivityFile& file) {
  PointColumns columns;
  columns.reserve(file.point_count());
  columns.add(file);
  arrow::RecordBatch batch;
  columns.finish_into(batch);
  return one_batch(point_schema(), std::move(batch));
}

arrow::Table point_table(const Activity& activity) {
  PointColumns columns;
  columns.reserve(activity.point_count());
  columns.add(0, activity);
  arrow::RecordBatch batch;
  columns.finish_into(batch);
  return one_batch(point_schema(), std::move(batch));
}

// ---- Many files ----

const arrow::Schema& sourced_point_schema() {
  static const arrow::Schema schema = make_sourced_schema();
  return schema;
}

struct SourcedPointTableBuilder::Columns {
  arrow::DictionaryBuilder source;
  PointColumns points;

  void finish_into(std::vector<arrow::RecordBatch>& batches) {
    arrow::RecordBatch batch;
    batch.columns.push_back(source.finish());
    points.finish_into(batch);
    batches.push_back(std::move(batch));
  }
};

// Batches of about a million rows keep the dictionary of names and any text far from the 2 GiB
// a column of one batch can hold.
SourcedPointTableBuilder::SourcedPointTableBuilder(std::int64_t batch_rows)
    : columns_(std::make_unique<Columns>()), batch_rows_(batch_rows) {}
SourcedPointTableBuilder::~SourcedPointTableBuilder() = default;

void SourcedPointTableBuilder::add(std::string_view source, const ActivityFile& file) {
  const std::size_t points = file.point_count();
  columns_->points.reserve(static_cast<std::size_t>(columns_->points.num_rows()) + points);
  columns_->source.append(source, static_cast<std::int64_t>(points));
  columns_->points.add(file);
  if (columns_->points.num_rows() >= batch_rows_) {
    finished_rows_ += columns_->points.num_rows();
    columns_->finish_into(batches_);
  }
}

std::int64_t SourcedPointTableBuilder::num_rows() const {
  return finished_rows_ + columns_->points.num_rows();
}

arrow::Table SourcedPointTableBuilder::finish() {
  // The last batch, or the one empty batch of a table without rows.
  if (columns_->points.num_rows() > 0 || batches_.empty()) columns_->finish_into(batches_);
  finished_rows_ = 0;
  return arrow::Table(sourced_point_schema(), std::exchange(batches_, {}));
}

}  // namespace tramlix
