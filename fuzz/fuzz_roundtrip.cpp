// libFuzzer target for conversion: whatever loads (in any format, sniffed) is written in every
// format and read back, and the points come back as each format keeps them.
//
// - GPX keeps the points that have a position, in order, with exactly the coordinates written
//   (longitude 180 as -180); the points it leaves out are those counted as without position.
// - TCX keeps the points that have a time, in order, with exactly that time; the points it
//   leaves out are those counted as without time. A position comes back exactly, or not at all.
// - FIT keeps every point. Its sessions may group them otherwise, so latitudes and longitudes
//   are compared as sorted lists: each within two semicircles (180 / 2^31 degrees) of the model's,
//   clamped to +-180 degrees, and present exactly where the model's is a number.
//
// A written file fails to read back only where its format needs what the model lacks: GPX a
// segment, TCX an activity, FIT a point.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "tramlix/io.hpp"
#include "tramlix/omissions.hpp"

namespace {

using tramlix::ActivityFile;
using tramlix::Format;
using tramlix::Omission;
using tramlix::Omissions;
using tramlix::TrackPoint;

void require(bool condition) {
  if (!condition) std::abort();
}

std::vector<const TrackPoint*> points_of(const ActivityFile& file) {
  std::vector<const TrackPoint*> points;
  for (const auto& activity : file.activities) {
    for (const auto& segment : activity.segments) {
      for (const TrackPoint& point : segment.points) points.push_back(&point);
    }
  }
  return points;
}

bool any_segment(const ActivityFile& file) {
  return std::ranges::any_of(file.activities, [](const auto& a) { return !a.segments.empty(); });
}

bool same_longitude(double written, double read) {
  return read == written || (written == 180.0 && read == -180.0);
}

bool same_position(const TrackPoint& model, const TrackPoint& read) {
  return model.latitude && model.longitude && read.latitude && read.longitude &&
         *read.latitude == *model.latitude && same_longitude(*model.longitude, *read.longitude);
}

// Walks the model's points and the points read back in step: each point read back must be the
// next model point that `matches` it; the model points passed over are the ones left out.
template <class Matches>
std::size_t left_out(const std::vector<const TrackPoint*>& model,
                     const std::vector<const TrackPoint*>& read, Matches matches) {
  std::size_t next = 0, skipped = 0;
  for (const TrackPoint* point : read) {
    while (next < model.size() && !matches(*model[next], *point)) {
      ++next;
      ++skipped;
    }
    require(next < model.size());
    ++next;
  }
  return skipped + (model.size() - next);
}

void check_gpx(const ActivityFile& model, const ActivityFile& read, const Omissions& omitted) {
  require(read.activities.size() == model.activities.size());
  const auto skipped = left_out(points_of(model), points_of(read), same_position);
  require(skipped == omitted[Omission::PointWithoutPosition]);
}

void check_tcx(const ActivityFile& model, const ActivityFile& read, const Omissions& omitted) {
  require(read.activities.size() == model.activities.size());
  const auto same_time = [](const TrackPoint& m, const TrackPoint& r) {
    if (!m.time || r.time != m.time) return false;
    // The position is written whole or not at all.
    require(!r.latitude == !r.longitude);
    require(!r.latitude || same_position(m, r));
    return true;
  };
  const auto skipped = left_out(points_of(model), points_of(read), same_time);
  require(skipped == omitted[Omission::PointWithoutTime]);
}

// A coordinate as FIT holds it: NaN has none; the rest is clamped to +-180 degrees.
std::vector<double> coordinates(const std::vector<const TrackPoint*>& points, bool latitude,
                                bool model) {
  std::vector<double> values;
  for (const TrackPoint* point : points) {
    const std::optional<double>& value = latitude ? point->latitude : point->longitude;
    if (!value || std::isnan(*value)) continue;
    values.push_back(model ? std::clamp(*value, -180.0, 180.0) : *value);
  }
  std::ranges::sort(values);
  return values;
}

void check_fit(const ActivityFile& model, const ActivityFile& read) {
  const auto model_points = points_of(model), read_points = points_of(read);
  require(read_points.size() == model_points.size());
  // 180 degrees is two semicircles short: 2^31 itself does not fit.
  constexpr double kTolerance = 2.5 * 180.0 / 2147483648.0;
  for (const bool latitude : {true, false}) {
    const auto expected = coordinates(model_points, latitude, true);
    const auto got = coordinates(read_points, latitude, false);
    require(got.size() == expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
      require(std::abs(got[i] - expected[i]) <= kTolerance);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto model = tramlix::loads(std::span(data, size));
  if (!model) return 0;
  for (const Format format : Format::all()) {
    Omissions omitted;
    const auto bytes = tramlix::dumps(*model, format, &omitted);
    require(bytes.has_value());  // every model has a document in every format
    const std::span written(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
    const auto read = tramlix::loads(written, format);
    if (!read) {
      switch (format) {
        case Format::Gpx:
          require(!any_segment(*model));
          break;
        case Format::Tcx:
          require(model->activities.empty());
          break;
        case Format::Fit:
          require(model->point_count() == 0);
          break;
      }
      continue;
    }
    switch (format) {
      case Format::Gpx:
        check_gpx(*model, *read, omitted);
        break;
      case Format::Tcx:
        check_tcx(*model, *read, omitted);
        break;
      case Format::Fit:
        check_fit(*model, *read);
        break;
    }
  }
  return 0;
}
