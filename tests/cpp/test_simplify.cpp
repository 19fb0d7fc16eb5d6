#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <tuple>
#include <vector>

#include "tramlix/model.hpp"

namespace tramlix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLatitudeMetres = 110574.0;  // metres per degree of latitude on the local plane

TrackPoint at(std::optional<double> latitude, std::optional<double> longitude) {
  TrackPoint point;
  point.latitude = latitude;
  point.longitude = longitude;
  return point;
}

TEST(Simplify, KeepsPointsAtOrBeyondTheTolerance) {
  const std::vector<TrackPoint> line = {at(0, 0), at(0.001, 0), at(0.002, 0)};
  // Coinciding ends: the distance is the plain length to the start.
  const std::vector<TrackPoint> loop = {at(0, 0), at(0.0001, 0), at(0, 0)};
  const double loop_metres = 0.0001 * kLatitudeMetres;
  // The middle point lies 30 m beyond the chord's end, on the same meridian.
  const std::vector<TrackPoint> overshoot = {at(0, 0), at(130 / kLatitudeMetres, 0),
                                             at(100 / kLatitudeMetres, 0)};
  // A degree of longitude shrinks with the chord's mean latitude: 96406 m at 30 N.
  const std::vector<TrackPoint> arc = {at(0, 0), at(30, 1), at(60, 0)};
  const TrackPoint nowhere;
  const std::tuple<std::vector<TrackPoint>, double, std::vector<int>> cases[] = {
      {std::vector<TrackPoint>{}, 10.0, {}},
      {{at(0, 0)}, 10.0, {0}},
      {line, 10.0, {0, 2}},
      // A distance of 0 is not below a tolerance of 0; NaN and negative tolerances act as 0.
      {line, 0.0, {0, 1, 2}},
      {line, -3.0, {0, 1, 2}},
      {line, kNaN, {0, 1, 2}},
      {loop, loop_metres, {0, 1, 2}},
      {loop, std::nextafter(loop_metres, 1e9), {0, 2}},
      {overshoot, 29.9, {0, 1, 2}},
      {overshoot, 30.1, {0, 2}},
      {arc, 96000.0, {0, 1, 2}},
      {arc, 97000.0, {0, 2}},
      // Unpositioned inside a chord: infinitely far. As a chord end it also keeps its neighbour.
      {{at(0, 0), at(0.001, 0), at(0.002, 0), at(0.0015, {}), at(0.004, 0), at(0.005, 0),
        at(0.006, 0)},
       10.0,
       {0, 1, 2, 3, 4, 6}},
      {{nowhere, at(0, 0), at(0.001, 0), at(0.002, 0), at(0.003, 0)}, 10.0, {0, 1, 4}},
      // A NaN distance never wins, before or after the far point.
      {{at(0, 0), at(kNaN, 0), at(0.001, 0.01), at(kNaN, 0), at(0.002, 0)}, 10.0, {0, 2, 4}},
      // Both interior points are equally far; taking point 1 first leaves point 2 about 37 m from
      // the chord 1-3, while taking point 2 first would leave point 1 about 56 m from 0-2.
      {{at(0, 0), at(0.5, 0.001), at(1.0, 0.001), at(2.0, 0)}, 45.0, {0, 1, 3}},
  };
  for (auto [points, tolerance, expected] : cases) {
    // Tag each point with its input index, so the kept ones can be named.
    for (std::size_t i = 0; i < points.size(); ++i) points[i].cadence_rpm = i;
    Activity activity;
    activity.segments.push_back(Segment{points});
    activity = activity.simplified(tolerance);
    std::vector<int> kept;
    for (const TrackPoint& point : activity.segments[0].points) kept.push_back(*point.cadence_rpm);
    EXPECT_EQ(kept, expected) << tolerance;
  }
}

TEST(Simplify, FileKeepsEverythingButThinnedPoints) {
  ActivityFile file;
  file.creator = "tramlix";
  file.device_info.emplace().serial_number = 42;
  Activity& activity = file.activities.emplace_back();
  activity.name = "ride";
  activity.summary.total_distance_meters = 12345.0;
  // All three kept, then a line whose middle goes: scratch space shared by the segments
  // must not carry the first one's choices over.
  activity.segments = {Segment{{at(0, 0), at(0.001, 0.001), at(0, 0.002)}},
                       Segment{{at(0, 0), at(0.0001, 0), at(0.0002, 0)}}};
  ActivityFile expected = file;
  expected.activities[0].segments[1] = Segment{{at(0, 0), at(0.0002, 0)}};
  EXPECT_EQ(file.simplified(30.0), expected);
  EXPECT_EQ(file.simplified(kNaN), file);
}

TEST(Simplify, LongChainOfSplitsDoesNotExhaustTheStack) {
  // An unpositioned last point splits every chord right after its start: the split depth
  // equals the number of points.
  ActivityFile file;
  Segment& segment = file.activities.emplace_back().segments.emplace_back();
  segment.points.assign(200'000, at(1, 1));
  segment.points.back().latitude.reset();
  EXPECT_EQ(file.simplified(10.0).point_count(), 200'000u);
}

}  // namespace
}  // namespace tramlix
