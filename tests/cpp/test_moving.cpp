#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "tracks.hpp"
#include "tramlix/model.hpp"

namespace tramlix {
namespace {

using testing::track;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TrackPoint fix(std::optional<std::int64_t> seconds, std::optional<double> latitude,
               std::optional<double> longitude, std::optional<double> elevation = std::nullopt,
               std::uint32_t nanoseconds = 0) {
  TrackPoint point;
  if (seconds) point.time = UtcInstant{*seconds, nanoseconds};
  point.latitude = latitude;
  point.longitude = longitude;
  point.elevation_m = elevation;
  return point;
}

TEST(MovingData, ThresholdSplitsIntervals) {
  // 10 m of climb in 10 s at one spot is exactly 1 m/s, which is 3.6 km/h; then a standstill
  // where only one end has an elevation, so none is counted.
  const Activity activity = track({{fix(0, 45, 7, 0.0), fix(10, 45, 7, 10.0), fix(20, 45, 7)}});
  const MovingData climb_moving{10, 10, 10, 0, 1};
  // At the threshold is stopped; a negative or NaN threshold acts as 0.
  const std::pair<double, MovingData> cases[] = {
      {3.6, {0, 20, 0, 10, 1}}, {3.5999, climb_moving}, {-5.0, climb_moving}, {kNaN, climb_moving}};
  for (const auto& [kph, expected] : cases) EXPECT_EQ(activity.moving_data(kph), expected) << kph;
}

TEST(MovingData, UnusableIntervalsContributeNothing) {
  for (const auto& segments : std::vector<std::vector<std::vector<TrackPoint>>>{
           {{fix(0, 0, 0)}, {fix(10, 1, 0)}},  // never across a segment boundary
           {{fix({}, 1, 0), fix(100, 0, 0)}},
           {{fix(100, 0, 0), fix({}, 1, 0)}},
           // Time stands still or runs backwards.
           {{fix(100, 0, 0), fix(100, 1, 0)}},
           {{fix(100, 0, 0), fix(50, 1, 0)}},
           {{fix(100, 0, 0, {}, 0), fix(100, 1, 0, {}, 900'000)}},  // 0.9 ms truncates to 0
           {{fix(0, 0, 0), fix(100, 1, {})}},
           {{fix(0, {}, 0), fix(200, 0, 0)}}}) {
    EXPECT_EQ(track(segments).moving_data(1.0), MovingData{});
  }
}

TEST(MovingData, SumsSegmentsAndKeepsTheFastestInterval) {
  const MovingData data =
      track({
                // The first interval runs along the equator and the last one along 60 N, after an
                // interval
                // that is skipped: each needs its own latitudes' cosines.
                {fix(0, 0, 0), fix(500, 0, 1), fix(500, 60, 0), fix(1500, 60, 2)},
                {fix(2000, 10, 0, 0.0), fix(3000, 10, 0, 0.0), fix(4000, 11, 0, 1000.0)},
            })
          .moving_data(1.0);
  EXPECT_EQ(data.moving_time_seconds, 2500.0);
  EXPECT_EQ(data.stopped_time_seconds, 1000.0);
  // 1 degree, 2 degrees of longitude at 60 N, and 1 degree of latitude with a 1 km climb.
  EXPECT_NEAR(data.moving_distance_meters, 111195.08 + 111190.85 + 111199.58, 0.01);
  EXPECT_NEAR(data.max_speed_mps, 111195.08 / 500.0, 1e-6);
}

TEST(MovingData, RecordedMovingTimeWins) {
  for (const auto& [elapsed, stopped] :
       {std::pair(700.0, 100.0), std::pair(500.0, 0.0), std::pair(kNaN, 0.0)}) {
    Activity activity;
    activity.summary.total_moving_seconds = 600.0;
    activity.summary.total_elapsed_seconds = elapsed;
    EXPECT_EQ(activity.moving_data(1.0), (MovingData{600, stopped, 0, 0, 0})) << elapsed;
  }
  // Duration and distance may come from the points, ignoring the threshold; the top speed comes
  // only from recorded speeds.
  Activity activity = track({{fix(100, 0, 0), fix(1000, 1, 0), fix(1000, 1, 0), fix(1000, 1, 0)}});
  const double speeds[] = {kNaN, 3.5, 7.25, kNaN};
  for (int i = 0; i < 4; ++i) activity.segments[0].points[i].speed_mps = speeds[i];
  activity.segments[0].points[0].distance_m = 100.0;
  activity.segments[0].points[1].distance_m = 1000.0;
  activity.summary.total_moving_seconds = 600.0;
  EXPECT_EQ(activity.moving_data(1e9), (MovingData{600, 300, 900, 0, 7.25}));
}

}  // namespace
}  // namespace tramlix
