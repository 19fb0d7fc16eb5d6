// Laps of any format, and the lap and split tables.
#include "fit_activity/laps.hpp"

#include <limits>
#include <string_view>
#include <tuple>
#include <utility>

#include "source.hpp"
#include "tcx/laps.hpp"
#include "tramlix/io.hpp"
#include "tramlix/laps.hpp"

namespace tramlix {
namespace {

std::expected<std::vector<Lap>, Error> laps_of(std::span<const std::uint8_t> data) {
  auto source = source_bytes(data);
  if (!source) return std::unexpected(std::move(source.error()));
  const std::span<const std::uint8_t> bytes = source->bytes;
  auto format = Format::detect(bytes);
  if (!format) return std::unexpected(std::move(format.error()));
  switch (*format) {
    case Format::Fit:
      return fit_activity::read_laps(bytes);
    case Format::Tcx:
      return tcx::read_laps({reinterpret_cast<const char*>(bytes.data()), bytes.size()});
    case Format::Gpx:
      break;
  }
  // GPX has no laps; the document must still read.
  if (auto file = loads(bytes, *format); !file) return std::unexpected(std::move(file.error()));
  return std::vector<Lap>{};
}

// 64-bit nanoseconds since 1970, or null outside their range (the years 1677 to 2262).
std::optional<std::int64_t> nanoseconds(const std::optional<UtcInstant>& instant) {
  if (!instant) return std::nullopt;
  const __int128 ns =
      static_cast<__int128>(instant->seconds) * 1'000'000'000 + instant->nanoseconds;
  if (ns < std::numeric_limits<std::int64_t>::min() ||
      ns > std::numeric_limits<std::int64_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(ns);
}

arrow::Field column(std::string name, arrow::DataType type, std::string_view unit = {},
                    bool nullable = true) {
  arrow::Field field{std::move(name), std::move(type), nullable, {}};
  if (!unit.empty()) field.metadata.emplace_back("unit", std::string(unit));
  return field;
}

arrow::DataType utc_time() {
  return arrow::timestamp(arrow::TimeUnit::Nano, "UTC");
}

// Float64 columns taken from members of a row type, with their units.
template <class Row>
struct Figure {
  std::string_view name;
  std::optional<double> Row::*member;
  std::string_view unit;
};

// clang-format off
constexpr Figure<Lap> kLapFigures[] = {
    {"total_elapsed_seconds", &Lap::total_elapsed_seconds, "s"},
    {"total_timer_seconds", &Lap::total_timer_seconds, "s"},
    {"distance_meters", &Lap::distance_meters, "m"},
    {"average_heart_rate_bpm", &Lap::average_heart_rate_bpm, "bpm"},
    {"max_heart_rate_bpm", &Lap::max_heart_rate_bpm, "bpm"},
    {"average_speed_mps", &Lap::average_speed_mps, "m/s"},
    {"max_speed_mps", &Lap::max_speed_mps, "m/s"},
    {"average_cadence_rpm", &Lap::average_cadence_rpm, "rpm"},
    {"average_power_watts", &Lap::average_power_watts, "W"},
    {"calories", &Lap::calories, "kcal"},
    {"total_ascent_meters", &Lap::total_ascent_meters, "m"},
    {"total_descent_meters", &Lap::total_descent_meters, "m"},
};
constexpr Figure<Split> kSplitFigures[] = {
    {"elapsed_seconds", &Split::elapsed_seconds, "s"},
    {"pace_seconds_per_km", &Split::pace_seconds_per_km, "s/km"},
    {"average_heart_rate_bpm", &Split::average_heart_rate_bpm, "bpm"},
    {"elevation_change_m", &Split::elevation_change_m, "m"},
};
// clang-format on

arrow::Table one_batch(arrow::Schema schema, std::int64_t rows,
                       std::vector<std::shared_ptr<const arrow::ArrayData>> columns) {
  std::vector<arrow::RecordBatch> batches;
  batches.push_back({rows, std::move(columns)});
  return arrow::Table(std::move(schema), std::move(batches));
}

}  // namespace

std::expected<std::vector<Lap>, Error> read_laps(std::span<const std::uint8_t> data) {
  return laps_of(data);
}

std::expected<std::vector<Lap>, Error> read_laps_file(const std::string& path) {
  auto source = source_bytes_of_file(path);
  if (!source) return std::unexpected(std::move(source.error()));
  return laps_of(source->bytes);
}

arrow::Table lap_table(const std::vector<Lap>& laps) {
  const auto rows = static_cast<std::int64_t>(laps.size());
  arrow::UInt32Builder activity, lap;
  arrow::TimestampBuilder start(arrow::TimeUnit::Nano, "UTC"), end(arrow::TimeUnit::Nano, "UTC");
  std::vector<arrow::Float64Builder> figures(std::size(kLapFigures));
  arrow::DictionaryBuilder trigger, intensity;
  for (const Lap& row : laps) {
    activity.append(row.activity);
    lap.append(row.lap);
    start.append(nanoseconds(row.start_time));
    end.append(nanoseconds(row.end_time));
    for (std::size_t i = 0; i < figures.size(); ++i) figures[i].append(row.*kLapFigures[i].member);
    trigger.append(row.trigger);
    intensity.append(row.intensity);
  }
  arrow::Schema schema;
  std::vector<std::shared_ptr<const arrow::ArrayData>> columns;
  schema.fields.push_back(column("activity", arrow::TypeId::UInt32));
  columns.push_back(activity.finish());
  schema.fields.push_back(column("lap", arrow::TypeId::UInt32, {}, false));
  columns.push_back(lap.finish());
  schema.fields.push_back(column("start_time", utc_time()));
  columns.push_back(start.finish());
  schema.fields.push_back(column("end_time", utc_time()));
  columns.push_back(end.finish());
  for (std::size_t i = 0; i < figures.size(); ++i) {
    schema.fields.push_back(
        column(std::string(kLapFigures[i].name), arrow::TypeId::Float64, kLapFigures[i].unit));
    columns.push_back(figures[i].finish());
  }
  schema.fields.push_back(column("trigger", arrow::TypeId::Dictionary));
  columns.push_back(trigger.finish());
  schema.fields.push_back(column("intensity", arrow::TypeId::Dictionary));
  columns.push_back(intensity.finish());
  return one_batch(std::move(schema), rows, std::move(columns));
}

arrow::Table split_table(const std::vector<Split>& splits) {
  const auto rows = static_cast<std::int64_t>(splits.size());
  arrow::UInt32Builder split;
  arrow::Float64Builder start_distance, end_distance;
  arrow::TimestampBuilder start(arrow::TimeUnit::Nano, "UTC"), end(arrow::TimeUnit::Nano, "UTC");
  std::vector<arrow::Float64Builder> figures(std::size(kSplitFigures));
  for (const Split& row : splits) {
    split.append(row.split);
    start_distance.append(row.start_distance_m);
    end_distance.append(row.end_distance_m);
    start.append(nanoseconds(row.start_time));
    end.append(nanoseconds(row.end_time));
    for (std::size_t i = 0; i < figures.size(); ++i) {
      figures[i].append(row.*kSplitFigures[i].member);
    }
  }
  arrow::Schema schema;
  std::vector<std::shared_ptr<const arrow::ArrayData>> columns;
  schema.fields.push_back(column("split", arrow::TypeId::UInt32, {}, false));
  columns.push_back(split.finish());
  schema.fields.push_back(column("start_distance_m", arrow::TypeId::Float64, "m", false));
  columns.push_back(start_distance.finish());
  schema.fields.push_back(column("end_distance_m", arrow::TypeId::Float64, "m", false));
  columns.push_back(end_distance.finish());
  schema.fields.push_back(column("start_time", utc_time()));
  columns.push_back(start.finish());
  schema.fields.push_back(column("end_time", utc_time()));
  columns.push_back(end.finish());
  for (std::size_t i = 0; i < figures.size(); ++i) {
    schema.fields.push_back(
        column(std::string(kSplitFigures[i].name), arrow::TypeId::Float64, kSplitFigures[i].unit));
    columns.push_back(figures[i].finish());
  }
  return one_batch(std::move(schema), rows, std::move(columns));
}

}  // namespace tramlix
