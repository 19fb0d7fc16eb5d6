#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "tracks.hpp"
#include "tramlix/model.hpp"

namespace tramlix {
namespace {

using testing::track;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr UtcInstant kTen{36'000, 0};  // 1970-01-01T10:00:00Z

TrackPoint at(std::optional<double> latitude, std::optional<double> longitude) {
  TrackPoint point;
  point.latitude = latitude;
  point.longitude = longitude;
  return point;
}

// Points that carry nothing but `field`, one inner list per segment.
template <class T>
Activity with(std::optional<T> TrackPoint::*field,
              std::vector<std::vector<std::optional<T>>> segments) {
  Activity activity;
  for (const auto& values : segments) {
    Segment& segment = activity.segments.emplace_back();
    for (auto value : values) segment.points.emplace_back().*field = value;
  }
  return activity;
}

TEST(Metrics, EndTimeAndDuration) {
  using Instant = std::optional<UtcInstant>;
  const UtcInstant last{39'000, 0};  // the last timed point in track order, not the latest
  const std::tuple<Instant, std::optional<double>, Instant> cases[] = {
      {kTen, 1.0005, UtcInstant{36'001, 1'000'000}},  // 1000.5 ms rounds half away from zero
      {kTen, 1.0004, UtcInstant{36'001, 0}},
      {kTen, -0.0, kTen},
      {std::nullopt, 1.0, UtcInstant{40'001, 0}},  // from the first timed point
      {kTen, 9.0e15, UtcInstant{9'000'000'000'036'000, 0}},
      {kTen, 9.3e15, std::nullopt},  // milliseconds past int64
      // A total that cannot be used falls back to the points.
      {kTen, -1e-9, last},
      {kTen, kNaN, last},
      {kTen, kInf, last},
      {kTen, std::nullopt, last}};
  for (const auto& [start, elapsed, expected] : cases) {
    Activity activity = with(&TrackPoint::time, {{}, {UtcInstant{40'000, 0}, {}}, {last, {}}});
    activity.start_time = start;
    activity.summary.total_elapsed_seconds = elapsed;
    EXPECT_EQ(activity.end_time(), expected) << elapsed.value_or(-1);
  }

  // Duration: whole milliseconds from the start to the last timed point, truncated toward zero.
  Activity activity =
      with(&TrackPoint::time, {{}, {std::nullopt, kTen}, {UtcInstant{36'001, 999'900'000}}});
  EXPECT_EQ(activity.duration_seconds(), 1.999);
  activity.start_time = UtcInstant{36'003, 999'000'000};
  EXPECT_EQ(activity.duration_seconds(), -1.999);
  // A recorded total is returned as is, even when it makes no sense.
  activity.summary.total_elapsed_seconds = -5.0;
  EXPECT_EQ(activity.duration_seconds(), -5.0);
  activity.summary.total_elapsed_seconds = kNaN;
  EXPECT_TRUE(std::isnan(activity.duration_seconds().value_or(0)));
  EXPECT_FALSE(track({{at(1, 2)}}).duration_seconds());
}

TEST(Metrics, DistanceFromSummaryRecordedDistancesOrPositions) {
  // Recorded distances: the rise of each run that never decreases, across segments, counted
  // from the first recorded value.
  constexpr auto kDistance = &TrackPoint::distance_m;
  using Distances = std::vector<std::vector<std::optional<double>>>;
  const std::pair<Distances, double> recorded[] = {
      {{{10.0, {}, 30.0}, {20.0}}, 20.0},
      {{{0.0, 2000.0, 4000.0}, {0.0, 3000.0}, {0.0, 3200.0}}, 10200.0},  // laps restarting at 0
      {{{42000.0, 42100.0}, {}, {42100.0, 42700.0}}, 700.0},  // cut from a longer recording
      {{{0.0, 5000.0, 100.0, 3000.0}}, 7900.0},               // a reset need not reach 0
      {{{5.0, 5.0, 8.0}}, 3.0},                               // equal values are no reset
      {{{kNaN, 5.0, kNaN, 7.0, kNaN}}, 2.0},                  // NaN neither starts nor splits
      {{{kNaN, 5.0, kNaN, 4.0}}, 0.0},
      {{{}, {12.5}}, 0.0},
  };
  for (const auto& [values, expected] : recorded) {
    EXPECT_EQ(with(kDistance, values).distance_meters(), expected) << expected;
  }
  EXPECT_TRUE(std::isnan(with(kDistance, {{kNaN, {}, kNaN}}).distance_meters()));
  // A recorded total beats recorded distances, which beat positions.
  Activity activity = track({{at(0, 0), at(1, 0)}});
  activity.segments[0].points[0].distance_m = 5.0;
  activity.segments[0].points[1].distance_m = 20.0;
  EXPECT_EQ(activity.distance_meters(), 15.0);
  activity.summary.total_distance_meters = 1234.5;
  EXPECT_EQ(activity.distance_meters(), 1234.5);

  // A degree of a great circle is 111195.08 m.
  EXPECT_NEAR(track({{at(0, 0), at(0, 1)}}).distance_meters(), 111195.08, 0.01);
  EXPECT_NEAR(track({{at(0, 0), at(1, 0), at(2, 0)}, {at(50, 50), at(51, 50)}}).distance_meters(),
              3 * 111195.08, 0.01);
  // `a` rounds a hair above 1 for this antipodal pair; still half the circumference.
  EXPECT_NEAR(track({{at(11.620689719854511, -5.1993062212691257),
                      at(-11.620689719854511, 174.80069377873087)}})
                  .distance_meters(),
              20015114.44, 0.01);
  // -0.0 means nothing was measured: no pairs, pairs across segments, or pairs with a gap.
  for (const auto& segments : std::vector<std::vector<std::vector<TrackPoint>>>{
           {}, {{at(0, 0)}, {at(1, 0)}}, {{at(0, 0), at(0.5, {}), at(1, 0)}}}) {
    const double distance = track(segments).distance_meters();
    EXPECT_TRUE(distance == 0.0 && std::signbit(distance));
  }
  EXPECT_FALSE(std::signbit(track({{at(3, 3), at(3, 3)}}).distance_meters()));
}

TEST(Metrics, AverageHeartRateAndElevationGain) {
  constexpr auto kRate = &TrackPoint::heart_rate_bpm;
  EXPECT_EQ(with(kRate, {{100, {}, 101}}).average_heart_rate(), 100.5);
  EXPECT_EQ(with(kRate, {{65535, 65535, 65535}}).average_heart_rate(), 65535.0);  // no overflow
  EXPECT_FALSE(with(kRate, {{{}}}).average_heart_rate());

  constexpr auto kElevation = &TrackPoint::elevation_m;
  EXPECT_EQ(with(kElevation, {{100, 110, 105, 105, 120}}).elevation_gain(), (ElevationGain{25, 5}));
  EXPECT_EQ(with(kElevation, {{100, {}, 200, 150}}).elevation_gain(), (ElevationGain{0, 50}));
  EXPECT_EQ(with(kElevation, {{100, 101}, {50, 49.5}}).elevation_gain(), (ElevationGain{1, 0.5}));

  // Recorded totals win; of ascent and descent, a missing one counts as 0.
  Activity activity = with(kElevation, {{0.0, 500.0}});
  activity.segments[0].points[0].heart_rate_bpm = 150;
  activity.summary.average_heart_rate_bpm = 0.0;
  EXPECT_EQ(activity.average_heart_rate(), 0.0);
  activity.summary.total_ascent_meters = 50.0;
  EXPECT_EQ(activity.elevation_gain(), (ElevationGain{50, 0}));
  activity.summary.total_ascent_meters.reset();
  activity.summary.total_descent_meters = 20.0;
  EXPECT_EQ(activity.elevation_gain(), (ElevationGain{0, 20}));
}

TEST(Metrics, BoundsSpanPositionedPointsIgnoringNaN) {
  EXPECT_FALSE(track({{at(1.0, {}), at({}, 2.0)}}).bounds());
  EXPECT_EQ(track({{at(3, 4), at(9, {})}, {at(-1, 7), at(2, -5)}}).bounds(), Bounds(-1, 3, -5, 7));
  // A NaN never wins a comparison, and a NaN first point is replaced by a number.
  EXPECT_EQ(track({{at(kNaN, kNaN), at(3, 4), at(kNaN, 9), at(1, kNaN)}}).bounds(),
            (Bounds{1, 3, 4, 9}));
}

}  // namespace
}  // namespace tramlix
