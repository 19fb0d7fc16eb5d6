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

// 64-bit nanoseconds cover 1677-09-21 to 2262-04-11; a leap second counts into the next
// second, as POSIX time does.
std::optional<std::int64_t> unix_nanoseconds(UtcInstant instant) {
  constexpr std::int64_t kBillion = 1'000'000'000;
  const __int128 nanoseconds =
      static_cast<__int128>(instant.seconds) * kBillion + instant.nanoseconds;
  if (nanoseconds < std::numeric_limits<std::int64_t>::min() ||
      nanoseconds > std::numeric_limits<std::int64_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(nanoseconds);
}

template <class Builder, class Value>
void append_value(Builder& builder, const std::optional<Value>& value) {
  if constexpr (std::is_same_v<Value, UtcInstant>) {
    builder.append(value ? unix_nanoseconds(*value) : std::nullopt);
  } else {
    builder.append(value);
  }
}

class PointTableBuilder {
 public:
  explicit PointTableBuilder(std::size_t points) {
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

  arrow::Table finish() {
    arrow::RecordBatch batch;
    batch.num_rows = activity_.length();
    batch.columns.push_back(activity_.finish());
    batch.columns.push_back(segment_.finish());
    std::apply([&](auto&... builder) { (batch.columns.push_back(builder->finish()), ...); },
               columns_);
    std::vector<arrow::RecordBatch> batches;
    batches.push_back(std::move(batch));
    return arrow::Table(point_schema(), std::move(batches));
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

}  // namespace

const arrow::Schema& point_schema() {
  static const arrow::Schema schema = make_schema();
  return schema;
}

arrow::Table point_table(const ActivityFile& file) {
  PointTableBuilder builder(file.point_count());
  for (std::size_t i = 0; i < file.activities.size(); ++i) {
    builder.add(static_cast<std::uint32_t>(i), file.activities[i]);
  }
  return builder.finish();
}

arrow::Table point_table(const Activity& activity) {
  PointTableBuilder builder(activity.point_count());
  builder.add(0, activity);
  return builder.finish();
}

}  // namespace tramlix
