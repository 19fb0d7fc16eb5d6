#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "tramlix/model.hpp"

namespace tramlix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDegree = 111195.08;  // metres along a great circle

TrackPoint fix(std::int64_t seconds, double latitude, double longitude,
               std::optional<double> elevation = std::nullopt, std::uint32_t nanoseconds = 0) {
  TrackPoint point;
  point.time = UtcInstant{seconds, nanoseconds};
  point.latitude = latitude;
  point.longitude = longitude;
  point.elevation_m = elevation;
  return point;
}

Activity track(std::vector<std::vector<TrackPoint>> segments) {
  Activity activity;
  for (auto& points : segments) activity.segments.push_back(Segment{std::move(points)});
  return activity;
}

void expect_zeros(const MovingData& data) { EXPECT_EQ(data, MovingData{}); }

TEST(MovingData, StationaryFixesAreStopped) {
  const MovingData data = track({{fix(0, 45, 7), fix(10, 45, 7)}}).moving_data(1.0);
  EXPECT_EQ(data, (MovingData{0.0, 10.0, 0.0, 0.0, 0.0}));
}

TEST(MovingData, SpeedAtTheThresholdIsStopped) {
  // 10 m of climb in 10 s at one spot: exactly 1 m/s, and 3.6 km/h is exactly 1 m/s.
  const Activity activity = track({{fix(0, 45, 7, 0.0), fix(10, 45, 7, 10.0)}});
  EXPECT_EQ(activity.moving_data(3.6), (MovingData{0.0, 10.0, 0.0, 10.0, 1.0}));
  EXPECT_EQ(activity.moving_data(3.5999), (MovingData{10.0, 0.0, 10.0, 0.0, 1.0}));
}

TEST(MovingData, NegativeOrNaNThresholdCountsAsZero) {
  const Activity activity = track({{fix(0, 0, 0), fix(10, 0, 0), fix(20, 0, 0.000001)}});
  for (double threshold : {-5.0, kNaN, 0.0, -0.0}) {
    const MovingData data = activity.moving_data(threshold);
    EXPECT_EQ(data.stopped_time_seconds, 10.0) << threshold;
    EXPECT_EQ(data.moving_time_seconds, 10.0) << threshold;
    EXPECT_GT(data.moving_distance_meters, 0.0) << threshold;
  }
}

TEST(MovingData, ElevationCountsOnlyWhenBothPointsHaveIt) {
  EXPECT_EQ(track({{fix(0, 45, 7, 100.0), fix(5, 45, 7, 105.0)}}).moving_data(1.0),
            (MovingData{5.0, 0.0, 5.0, 0.0, 1.0}));
  EXPECT_EQ(track({{fix(0, 45, 7, 100.0), fix(5, 45, 7)}}).moving_data(1.0),
            (MovingData{0.0, 5.0, 0.0, 0.0, 0.0}));
  // The climb and the ground distance combine as a hypotenuse.
  const MovingData climb = track({{fix(0, 0, 0, 0.0), fix(1000, 1, 0, 1000.0)}}).moving_data(1.0);
  EXPECT_NEAR(climb.moving_distance_meters, std::hypot(kDegree, 1000.0), 0.01);
}

TEST(MovingData, UnusablePairsContributeNothing) {
  TrackPoint untimed = fix(0, 1, 0);
  untimed.time.reset();
  TrackPoint no_longitude = fix(100, 1, 0);
  no_longitude.longitude.reset();
  TrackPoint no_latitude = fix(100, 1, 0);
  no_latitude.latitude.reset();
  const std::vector<std::vector<TrackPoint>> pairs = {
      {untimed, fix(100, 0, 0)},
      {fix(100, 0, 0), untimed},
      {fix(100, 0, 0), fix(100, 1, 0)},                      // no time passes
      {fix(100, 0, 0), fix(50, 1, 0)},                       // time runs backwards
      {fix(100, 0, 0, {}, 0), fix(100, 1, 0, {}, 900'000)},  // 0.9 ms truncates to 0
      {fix(0, 0, 0), no_longitude},
      {no_latitude, fix(200, 0, 0)},
  };
  for (const auto& pair : pairs) expect_zeros(track({pair}).moving_data(1.0));
}

TEST(MovingData, NothingToMeasureGivesZeros) {
  expect_zeros(Activity{}.moving_data(1.0));
  expect_zeros(track({{fix(0, 0, 0)}}).moving_data(1.0));
  // Intervals never span a segment boundary.
  expect_zeros(track({{fix(0, 0, 0)}, {fix(10, 1, 0)}}).moving_data(1.0));
}

TEST(MovingData, SumsSegmentsAndKeepsTheFastestInterval) {
  const Activity activity = track({
      {fix(0, 0, 0), fix(1000, 1, 0), fix(1010, 1, 0)},
      {fix(5000, 10, 0), fix(6000, 10, 0), fix(6500, 11, 0)},
  });
  const MovingData data = activity.moving_data(1.0);
  EXPECT_EQ(data.moving_time_seconds, 1500.0);
  EXPECT_EQ(data.stopped_time_seconds, 1010.0);
  EXPECT_NEAR(data.moving_distance_meters, 2 * kDegree, 0.01);
  EXPECT_EQ(data.stopped_distance_meters, 0.0);
  EXPECT_NEAR(data.max_speed_mps, kDegree / 500.0, 1e-6);
}

TEST(MovingData, IntervalsUseWholeMilliseconds) {
  // 1.0009 s truncates to 1.000 s, so 2 m over it is exactly 2 m/s.
  const MovingData data =
      track({{fix(0, 45, 7, 0.0), fix(1, 45, 7, 2.0, 900'000)}}).moving_data(1.0);
  EXPECT_EQ(data, (MovingData{1.0, 0.0, 2.0, 0.0, 2.0}));
}

TEST(MovingDataFromSummary, StoppedTimeIsNeverNegative) {
  struct Case {
    std::optional<double> elapsed;
    double expected_stopped;
  };
  const std::vector<Case> cases = {{700.0, 100.0}, {500.0, 0.0}, {std::nullopt, 0.0},
                                   {kNaN, 0.0}};
  for (const Case& c : cases) {
    Activity activity;
    activity.summary.total_moving_seconds = 600.0;
    activity.summary.total_elapsed_seconds = c.elapsed;
    const MovingData data = activity.moving_data(1.0);
    EXPECT_EQ(data.moving_time_seconds, 600.0);
    EXPECT_EQ(data.stopped_time_seconds, c.expected_stopped);
  }
}

TEST(MovingDataFromSummary, DurationMayComeFromPoints) {
  Activity activity = track({{fix(100, 0, 0), fix(1000, 1, 0)}});
  activity.summary.total_moving_seconds = 600.0;
  const MovingData data = activity.moving_data(1.0);
  EXPECT_EQ(data.stopped_time_seconds, 300.0);
  EXPECT_NEAR(data.moving_distance_meters, kDegree, 0.01);
  EXPECT_EQ(data.stopped_distance_meters, 0.0);
  // Positions would give a speed, but only recorded speeds count on this path.
  EXPECT_EQ(data.max_speed_mps, 0.0);
}

TEST(MovingDataFromSummary, UsesRecordedTotalsAndSpeeds) {
  Activity activity = track({{fix(0, 0, 0), fix(10, 0, 0)}, {fix(20, 0, 0), fix(30, 0, 0)}});
  activity.segments[0].points[0].speed_mps = kNaN;
  activity.segments[0].points[1].speed_mps = 3.5;
  activity.segments[1].points[0].speed_mps = 7.25;
  activity.segments[1].points[1].speed_mps = kNaN;
  activity.summary.total_moving_seconds = 25.0;
  activity.summary.total_distance_meters = 180.0;
  // The threshold plays no part when the moving time is recorded.
  for (double threshold : {1.0, 1e9}) {
    EXPECT_EQ(activity.moving_data(threshold), (MovingData{25.0, 5.0, 180.0, 0.0, 7.25}));
  }
}

}  // namespace
}  // namespace tramlix
