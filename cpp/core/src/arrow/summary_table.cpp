// The summary table: one row per activity of many files, and one per file that failed.
#include <cstdint>
#include <limits>
#include <utility>

#include "nanoseconds.hpp"
#include "tramlix/tables.hpp"

namespace tramlix {
namespace {

// The threshold of `tramlix info` and of moving_data()'s default: at most 1 km/h is stopped.
constexpr double kStoppedSpeedKph = 1.0;

arrow::Field field(std::string name, arrow::DataType type, std::string_view unit = {}) {
  arrow::Field made{std::move(name), std::move(type), true, {}};
  if (!unit.empty()) made.metadata.emplace_back("unit", std::string(unit));
  return made;
}

arrow::Schema make_schema() {
  using arrow::TypeId;
  const arrow::DataType time = arrow::timestamp(arrow::TimeUnit::Nano, "UTC");
  arrow::Schema schema;
  schema.fields = {
      {"source", TypeId::Utf8, false, {}},
      field("activity", TypeId::UInt32),
      field("sport", TypeId::Utf8),
      field("sub_sport", TypeId::Utf8),
      field("name", TypeId::Utf8),
      field("start_time", time),
      field("end_time", time),
      field("duration_seconds", TypeId::Float64, "s"),
      field("distance_meters", TypeId::Float64, "m"),
      field("moving_time_seconds", TypeId::Float64, "s"),
      field("stopped_time_seconds", TypeId::Float64, "s"),
      field("elevation_gain_meters", TypeId::Float64, "m"),
      field("elevation_loss_meters", TypeId::Float64, "m"),
      field("average_heart_rate_bpm", TypeId::Float64, "bpm"),
      field("max_speed_mps", TypeId::Float64, "m/s"),
      field("points", TypeId::UInt32),
      field("min_latitude", TypeId::Float64, "deg"),
      field("min_longitude", TypeId::Float64, "deg"),
      field("max_latitude", TypeId::Float64, "deg"),
      field("max_longitude", TypeId::Float64, "deg"),
      field("device_manufacturer", TypeId::Utf8),
      field("device_product", TypeId::Utf8),
      field("error", TypeId::Utf8),
  };
  return schema;
}

std::uint32_t clamped_count(std::size_t count) {
  return static_cast<std::uint32_t>(
      std::min<std::size_t>(count, std::numeric_limits<std::uint32_t>::max()));
}

}  // namespace

FileFigures figures_of(const ActivityFile& file) {
  FileFigures figures;
  if (file.device_info) {
    figures.device_manufacturer = file.device_info->manufacturer;
    figures.device_product =
        file.device_info->product_name ? file.device_info->product_name : file.device_info->product;
  }
  figures.activities.reserve(file.activities.size());
  for (const Activity& activity : file.activities) {
    figures.activities.push_back(ActivityFigures{
        .sport = activity.sport,
        .sub_sport = activity.sub_sport,
        .name = activity.name,
        .start_time = activity.effective_start_time(),
        .end_time = activity.end_time(),
        .duration_seconds = activity.duration_seconds(),
        .distance_meters = activity.distance_meters(),
        .moving = activity.moving_data(kStoppedSpeedKph),
        .elevation = activity.elevation_gain(),
        .average_heart_rate_bpm = activity.average_heart_rate(),
        .points = activity.point_count(),
        .bounds = activity.bounds(),
    });
  }
  return figures;
}

const arrow::Schema& summary_schema() {
  static const arrow::Schema schema = make_schema();
  return schema;
}

struct SummaryTableBuilder::Columns {
  arrow::StringBuilder source;
  arrow::UInt32Builder activity;
  arrow::StringBuilder sport;
  arrow::StringBuilder sub_sport;
  arrow::StringBuilder name;
  arrow::TimestampBuilder start_time{arrow::TimeUnit::Nano, "UTC"};
  arrow::TimestampBuilder end_time{arrow::TimeUnit::Nano, "UTC"};
  arrow::Float64Builder duration_seconds;
  arrow::Float64Builder distance_meters;
  arrow::Float64Builder moving_time_seconds;
  arrow::Float64Builder stopped_time_seconds;
  arrow::Float64Builder elevation_gain_meters;
  arrow::Float64Builder elevation_loss_meters;
  arrow::Float64Builder average_heart_rate_bpm;
  arrow::Float64Builder max_speed_mps;
  arrow::UInt32Builder points;
  arrow::Float64Builder min_latitude;
  arrow::Float64Builder min_longitude;
  arrow::Float64Builder max_latitude;
  arrow::Float64Builder max_longitude;
  arrow::StringBuilder device_manufacturer;
  arrow::StringBuilder device_product;
  arrow::StringBuilder error;

  // Every column in the order of the schema.
  template <class Visit>
  void each(Visit&& visit) {
    visit(source);
    each_figure(visit);
    visit(error);
  }

  // The columns between `source` and `error`: what a failed file leaves null.
  template <class Visit>
  void each_figure(Visit&& visit) {
    visit(activity), visit(sport), visit(sub_sport), visit(name), visit(start_time);
    visit(end_time), visit(duration_seconds), visit(distance_meters), visit(moving_time_seconds);
    visit(stopped_time_seconds), visit(elevation_gain_meters), visit(elevation_loss_meters);
    visit(average_heart_rate_bpm), visit(max_speed_mps), visit(points), visit(min_latitude);
    visit(min_longitude), visit(max_latitude), visit(max_longitude), visit(device_manufacturer);
    visit(device_product);
  }

  void finish_into(std::vector<arrow::RecordBatch>& batches) {
    arrow::RecordBatch batch;
    batch.num_rows = source.length();
    each([&](arrow::ArrayBuilder& column) { batch.columns.push_back(column.finish()); });
    batches.push_back(std::move(batch));
  }
};

// Batches of some ten thousand rows keep the texts far from the 2 GiB a column of one batch can
// hold.
SummaryTableBuilder::SummaryTableBuilder(std::int64_t batch_rows)
    : columns_(std::make_unique<Columns>()), batch_rows_(batch_rows) {}
SummaryTableBuilder::~SummaryTableBuilder() = default;

void SummaryTableBuilder::add(std::string_view source, const FileFigures& file) {
  Columns& c = *columns_;
  std::uint32_t index = 0;
  for (const ActivityFigures& activity : file.activities) {
    c.source.append(source);
    c.activity.append(index++);
    c.sport.append(activity.sport);
    c.sub_sport.append(activity.sub_sport);
    c.name.append(activity.name);
    c.start_time.append(unix_nanoseconds(activity.start_time));
    c.end_time.append(unix_nanoseconds(activity.end_time));
    c.duration_seconds.append(activity.duration_seconds);
    c.distance_meters.append(activity.distance_meters);
    c.moving_time_seconds.append(activity.moving.moving_time_seconds);
    c.stopped_time_seconds.append(activity.moving.stopped_time_seconds);
    c.elevation_gain_meters.append(activity.elevation.uphill_meters);
    c.elevation_loss_meters.append(activity.elevation.downhill_meters);
    c.average_heart_rate_bpm.append(activity.average_heart_rate_bpm);
    c.max_speed_mps.append(activity.moving.max_speed_mps);
    c.points.append(clamped_count(activity.points));
    if (activity.bounds) {
      c.min_latitude.append(activity.bounds->min_latitude);
      c.min_longitude.append(activity.bounds->min_longitude);
      c.max_latitude.append(activity.bounds->max_latitude);
      c.max_longitude.append(activity.bounds->max_longitude);
    } else {
      c.min_latitude.append_null();
      c.min_longitude.append_null();
      c.max_latitude.append_null();
      c.max_longitude.append_null();
    }
    c.device_manufacturer.append(file.device_manufacturer);
    c.device_product.append(file.device_product);
    c.error.append_null();
  }
  close_full_batch();
}

void SummaryTableBuilder::close_full_batch() {
  if (columns_->source.length() < batch_rows_) return;
  finished_rows_ += columns_->source.length();
  columns_->finish_into(batches_);
}

void SummaryTableBuilder::add_failure(std::string_view source, std::string_view error) {
  Columns& c = *columns_;
  c.source.append(source);
  c.each_figure([](arrow::ArrayBuilder& column) { column.append_null(); });
  c.error.append(error);
  close_full_batch();
}

std::int64_t SummaryTableBuilder::num_rows() const {
  return finished_rows_ + columns_->source.length();
}

arrow::Table SummaryTableBuilder::finish() {
  if (columns_->source.length() > 0 || batches_.empty()) columns_->finish_into(batches_);
  finished_rows_ = 0;
  return arrow::Table(summary_schema(), std::exchange(batches_, {}));
}

}  // namespace tramlix
