// The activity model as Arrow tables (see arrow.hpp), ready for data-frame libraries.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tramlix/arrow.hpp"
#include "tramlix/model.hpp"

namespace tramlix {

// One row per point, in file order: activity, segment (indices from 0), time, latitude,
// longitude, elevation_m, distance_m, heart_rate_bpm, cadence_rpm, power_watts, speed_mps,
// temperature_c. A value the model lacks is null; each measured column carries its unit in
// the field metadata under "unit". Times are nanoseconds since 1970 in UTC; one outside the
// years 1677 to 2262, which 64-bit nanoseconds cannot hold, is null.
const arrow::Schema& point_schema();
arrow::Table point_table(const ActivityFile& file);
// The points of one activity; its activity column is 0.
arrow::Table point_table(const Activity& activity);

// ---- Many files ----

// The point table of many files: a `source` column first (dictionary-encoded text: the name of
// the file each point comes from, stored once per file), then the columns of point_schema().
const arrow::Schema& sourced_point_schema();

class SourcedPointTableBuilder {
 public:
  // A record batch is closed after the file that takes it to `batch_rows` rows or more.
  explicit SourcedPointTableBuilder(std::int64_t batch_rows = std::int64_t{1} << 20);
  ~SourcedPointTableBuilder();
  SourcedPointTableBuilder(const SourcedPointTableBuilder&) = delete;
  SourcedPointTableBuilder& operator=(const SourcedPointTableBuilder&) = delete;

  // Appends every point of `file` under `source`.
  void add(std::string_view source, const ActivityFile& file);
  std::int64_t num_rows() const;
  // The table of everything added, in record batches of whole files.
  arrow::Table finish();

 private:
  struct Columns;
  std::unique_ptr<Columns> columns_;
  std::vector<arrow::RecordBatch> batches_;
  std::int64_t batch_rows_;
  std::int64_t finished_rows_ = 0;
};

// What the summary table shows of one activity, computed where the file was loaded so that the
// thread building the table only copies it.
struct ActivityFigures {
  std::optional<std::string> sport;
  std::optional<std::string> sub_sport;
  std::optional<std::string> name;
  std::optional<UtcInstant> start_time;  // the effective start time
  std::optional<UtcInstant> end_time;
  std::optional<double> duration_seconds;
  double distance_meters = 0.0;
  MovingData moving;  // at the default threshold, 1 km/h
  ElevationGain elevation;
  std::optional<double> average_heart_rate_bpm;
  std::size_t points = 0;
  std::optional<Bounds> bounds;
};

struct FileFigures {
  std::vector<ActivityFigures> activities;
  std::optional<std::string> device_manufacturer;
  std::optional<std::string> device_product;  // the product's own name, else its profile name
};

FileFigures figures_of(const ActivityFile& file);

// One row per activity of many files: source, activity, sport, sub_sport, name, start_time,
// end_time, duration_seconds, distance_meters, moving_time_seconds, stopped_time_seconds,
// elevation_gain_meters, elevation_loss_meters, average_heart_rate_bpm, max_speed_mps, points,
// min_latitude, min_longitude, max_latitude, max_longitude, device_manufacturer,
// device_product, error. A file that failed is one row with its error text and every other
// column but `source` null; a file without activities has no row.
const arrow::Schema& summary_schema();

class SummaryTableBuilder {
 public:
  // A record batch is closed once it has `batch_rows` rows or more.
  explicit SummaryTableBuilder(std::int64_t batch_rows = std::int64_t{1} << 16);
  ~SummaryTableBuilder();
  SummaryTableBuilder(const SummaryTableBuilder&) = delete;
  SummaryTableBuilder& operator=(const SummaryTableBuilder&) = delete;

  void add(std::string_view source, const FileFigures& file);
  void add_failure(std::string_view source, std::string_view error);
  std::int64_t num_rows() const;
  arrow::Table finish();

 private:
  void close_full_batch();

  struct Columns;
  std::unique_ptr<Columns> columns_;
  std::vector<arrow::RecordBatch> batches_;
  std::int64_t batch_rows_;
  std::int64_t finished_rows_ = 0;
};

}  // namespace tramlix
