#include <gtest/gtest.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tramlix/model.hpp"

namespace tramlix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kLatitudeMetres = 110574.0;  // metres per degree of latitude on the local plane

TrackPoint at(double latitude, double longitude) {
  TrackPoint point;
  point.latitude = latitude;
  point.longitude = longitude;
  return point;
}

// Each point tagged with its input index in `cadence_rpm`, so kept points can be named.
Segment indexed(std::vector<TrackPoint> points) {
  for (std::size_t i = 0; i < points.size(); ++i) {
    points[i].cadence_rpm = static_cast<std::uint16_t>(i);
  }
  return Segment{std::move(points)};
}

std::vector<int> kept(const Segment& segment) {
  std::vector<int> indices;
  for (const TrackPoint& point : segment.points) indices.push_back(*point.cadence_rpm);
  return indices;
}

std::vector<int> simplify(std::vector<TrackPoint> points, double tolerance) {
  Activity activity;
  activity.segments.push_back(indexed(std::move(points)));
  const Activity result = activity.simplified(tolerance);
  EXPECT_EQ(result.segments.size(), 1u);
  return kept(result.segments.at(0));
}

TEST(Simplify, ShortSegmentsComeBackUnchanged) {
  Activity activity;
  activity.segments = {Segment{}, indexed({at(0, 0)}), indexed({at(0, 0), at(5, 1)}),
                       indexed({TrackPoint{}, TrackPoint{}})};
  EXPECT_EQ(activity.simplified(10.0), activity);
  EXPECT_EQ(Activity{}.simplified(10.0), Activity{});
}

TEST(Simplify, CollinearMiddlePointDependsOnTolerance) {
  const std::vector<TrackPoint> line = {at(0, 0), at(0.001, 0), at(0.002, 0)};
  EXPECT_EQ(simplify(line, 10.0), (std::vector<int>{0, 2}));
  // A distance of 0 is not below a tolerance of 0; NaN and negative tolerances act as 0.
  for (double tolerance : {0.0, -0.0, -3.0, kNaN}) {
    EXPECT_EQ(simplify(line, tolerance), (std::vector<int>{0, 1, 2})) << tolerance;
  }
}

TEST(Simplify, PointAtExactlyTheToleranceIsKept) {
  // Coinciding ends: the distance is the plain length to the start, here exactly `tolerance`.
  const double tolerance = 0.0001 * kLatitudeMetres;
  const std::vector<TrackPoint> loop = {at(0, 0), at(0.0001, 0), at(0, 0)};
  EXPECT_EQ(simplify(loop, tolerance), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(simplify(loop, std::nextafter(tolerance, 1e9)), (std::vector<int>{0, 2}));
}

TEST(Simplify, PointsPastTheChordEndAreMeasuredToThatEnd) {
  // s and e are 100 m apart on a meridian; the point lies 30 m beyond e, on the same line.
  const std::vector<TrackPoint> points = {at(0, 0), at(130 / kLatitudeMetres, 0),
                                          at(100 / kLatitudeMetres, 0)};
  EXPECT_EQ(simplify(points, 29.9), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(simplify(points, 30.1), (std::vector<int>{0, 2}));
}

TEST(Simplify, UnpositionedPointsAreAlwaysKept) {
  TrackPoint nowhere;
  nowhere.elevation_m = 5.0;
  TrackPoint half;
  half.latitude = 0.0015;
  struct Case {
    std::vector<TrackPoint> points;
    std::vector<int> expected;
  };
  const std::vector<Case> cases = {
      // Inside a chord it is infinitely far; as a chord end it also keeps its neighbour.
      {{at(0, 0), at(0.001, 0), at(0.002, 0), nowhere, at(0.004, 0), at(0.005, 0), at(0.006, 0)},
       {0, 1, 2, 3, 4, 6}},
      {{at(0, 0), at(0.001, 0), at(0.002, 0), half, at(0.004, 0), at(0.005, 0), at(0.006, 0)},
       {0, 1, 2, 3, 4, 6}},
      // An unpositioned end makes every point of its chord infinitely far.
      {{at(0, 0), at(0.001, 0), at(0.002, 0), at(0.003, 0), nowhere}, {0, 1, 2, 3, 4}},
      {{nowhere, at(0, 0), at(0.001, 0), at(0.002, 0), at(0.003, 0)}, {0, 1, 4}},
  };
  for (const Case& c : cases) EXPECT_EQ(simplify(c.points, 10.0), c.expected);
}

TEST(Simplify, NaNDistancesNeverWin) {
  // The NaN point comes first among the interior points but must not hide the far one.
  const std::vector<TrackPoint> points = {at(0, 0), at(kNaN, 0), at(0.001, 0.01), at(0.002, 0)};
  EXPECT_EQ(simplify(points, 10.0), (std::vector<int>{0, 2, 3}));
}

TEST(Simplify, TiesGoToTheLowerIndex) {
  // Both interior points lie the same distance from the chord. Taking point 1 first leaves
  // point 2 about 37 m from the chord 1-3; taking point 2 first would leave point 1 about
  // 56 m from the chord 0-2.
  const std::vector<TrackPoint> points = {at(0, 0), at(0.5, 0.001), at(1.0, 0.001), at(2.0, 0)};
  EXPECT_EQ(simplify(points, 45.0), (std::vector<int>{0, 1, 3}));
}

std::vector<TrackPoint> zigzag(std::size_t n) {
  std::vector<TrackPoint> points;
  for (std::size_t i = 0; i < n; ++i) {
    points.push_back(at(i % 2 == 0 ? 0.0005 : -0.0005, 0.0001 * static_cast<double>(i)));
  }
  return points;
}

// About 110 m of sway with a metre of jitter: some points matter at 30 m, most do not.
std::vector<TrackPoint> wave(std::size_t n) {
  std::vector<TrackPoint> points;
  for (std::size_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(i);
    points.push_back(at(0.001 * std::sin(x * 0.13) + 0.00001 * static_cast<double>(i % 3),
                        0.0001 * x));
  }
  return points;
}

TEST(Simplify, ZeroToleranceKeepsEveryPointOfAZigzag) {
  for (std::size_t n : {3u, 4u, 17u, 500u}) {
    const std::vector<int> result = simplify(zigzag(n), 0.0);
    ASSERT_EQ(result.size(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(result[i], static_cast<int>(i));
  }
}

TEST(Simplify, StraightLineCollapsesToItsEnds) {
  std::vector<TrackPoint> line;
  for (int i = 0; i < 2000; ++i) line.push_back(at(45.0 + 0.0001 * i, 7.0 + 0.0002 * i));
  EXPECT_EQ(simplify(line, 0.01), (std::vector<int>{0, 1999}));
}

TEST(Simplify, DependsOnlyOnTheInput) {
  ActivityFile file;
  file.creator = "tramlix";
  file.device_info.emplace();
  file.device_info->manufacturer = "garmin";
  file.device_info->serial_number = 42;
  for (int a = 0; a < 3; ++a) {
    Activity activity;
    activity.name = "ride " + std::to_string(a);
    activity.sport = "cycling";
    activity.start_time = UtcInstant{1'700'000'000, 5};
    activity.summary.total_distance_meters = 12345.0;
    activity.segments.push_back(indexed(wave(300 - 100 * a)));
    activity.segments.push_back(Segment{});
    activity.segments.push_back(indexed({at(0, 0), at(0.0001, 0), at(0.0002, 0.00001)}));
    file.activities.push_back(activity);
  }
  const ActivityFile before = file;

  const ActivityFile first = file.simplified(30.0);
  EXPECT_EQ(file, before);  // the input is untouched
  EXPECT_EQ(file.simplified(30.0), first);
  ASSERT_EQ(first.activities.size(), 3u);
  EXPECT_EQ(first.creator, file.creator);
  EXPECT_EQ(first.device_info, file.device_info);
  for (std::size_t a = 0; a < 3; ++a) {
    const Activity& activity = first.activities[a];
    // Scratch space shared across activities must not leak between them.
    EXPECT_EQ(activity, file.activities[a].simplified(30.0));
    EXPECT_EQ(activity.name, file.activities[a].name);
    EXPECT_EQ(activity.start_time, file.activities[a].start_time);
    EXPECT_EQ(activity.summary, file.activities[a].summary);
    ASSERT_EQ(activity.segments.size(), 3u);
    EXPECT_GT(activity.segments[0].points.size(), 2u);
    EXPECT_LT(activity.segments[0].points.size(), file.activities[a].segments[0].points.size());
    EXPECT_EQ(kept(activity.segments[2]), (std::vector<int>{0, 2}));
  }
}

TEST(Simplify, LongChainOfSplitsDoesNotExhaustTheStack) {
  // An unpositioned last point splits every chord right after its start: the split depth
  // equals the number of points.
  std::vector<TrackPoint> points(200'000, at(1, 1));
  points.back().latitude.reset();
  Activity activity;
  activity.segments.push_back(Segment{std::move(points)});
  EXPECT_EQ(activity.simplified(10.0).point_count(), 200'000u);
}

}  // namespace
}  // namespace tramlix
