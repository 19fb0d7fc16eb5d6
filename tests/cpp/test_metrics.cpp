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
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr UtcInstant kTen{36'000, 0};  // 1970-01-01T10:00:00Z

TrackPoint at(double latitude, double longitude) {
  TrackPoint point;
  point.latitude = latitude;
  point.longitude = longitude;
  return point;
}

TrackPoint timed(UtcInstant time) {
  TrackPoint point;
  point.time = time;
  return point;
}

TrackPoint with_latitude(double latitude) {
  TrackPoint point;
  point.latitude = latitude;
  return point;
}

TrackPoint with_longitude(double longitude) {
  TrackPoint point;
  point.longitude = longitude;
  return point;
}

TrackPoint with_elevation(std::optional<double> elevation) {
  TrackPoint point;
  point.elevation_m = elevation;
  return point;
}

Activity with_segments(std::vector<std::vector<TrackPoint>> segments) {
  Activity activity;
  for (auto& points : segments) activity.segments.push_back(Segment{std::move(points)});
  return activity;
}

TEST(EffectiveStartTime, PrefersRecordedStartThenFirstTimedPoint) {
  Activity activity = with_segments({{}, {TrackPoint{}, timed({200, 5})}, {timed({100, 0})}});
  EXPECT_EQ(activity.effective_start_time(), (UtcInstant{200, 5}));
  activity.start_time = UtcInstant{300, 0};
  EXPECT_EQ(activity.effective_start_time(), (UtcInstant{300, 0}));
  EXPECT_FALSE(with_segments({{TrackPoint{}}}).effective_start_time());
}

TEST(EndTime, AddsElapsedTotalRoundedHalfAwayFromZero) {
  struct Case {
    double elapsed;
    UtcInstant expected;
  };
  const std::vector<Case> cases = {
      {1.0005, {36'001, 1'000'000}},  // 1000.5 ms rounds up
      {1.0004, {36'001, 0}},
      {3600.0, {39'600, 0}},
      {-0.0, kTen},  // negative zero is zero, not negative
      {9.0e15, {36'000 + 9'000'000'000'000'000, 0}},
  };
  for (const Case& c : cases) {
    Activity activity = with_segments({{timed({50'000, 0})}});
    activity.start_time = kTen;
    activity.summary.total_elapsed_seconds = c.elapsed;
    EXPECT_EQ(activity.end_time(), c.expected) << c.elapsed;
  }
}

TEST(EndTime, UnusableElapsedTotalFallsBackToLastTimedPoint) {
  for (double elapsed : {-1.0, -1e-9, kNaN, kInf, -kInf}) {
    Activity activity =
        with_segments({{timed({40'000, 0}), TrackPoint{}}, {timed({39'000, 0}), TrackPoint{}}});
    activity.start_time = kTen;
    activity.summary.total_elapsed_seconds = elapsed;
    // The last timed point in track order, not the latest time.
    EXPECT_EQ(activity.end_time(), (UtcInstant{39'000, 0})) << elapsed;
  }
}

TEST(EndTime, AbsentWhenTheSumLeavesTheInstantRange) {
  for (double elapsed : {1e300, 9.3e15, 9.3e18, std::numeric_limits<double>::max()}) {
    Activity activity;
    activity.start_time = kTen;
    activity.summary.total_elapsed_seconds = elapsed;
    EXPECT_FALSE(activity.end_time()) << elapsed;
  }
  Activity late;
  late.start_time = UtcInstant{std::numeric_limits<std::int64_t>::max() - 10, 0};
  late.summary.total_elapsed_seconds = 11.0;
  EXPECT_FALSE(late.end_time());
  late.summary.total_elapsed_seconds = 10.0;
  EXPECT_EQ(late.end_time(), (UtcInstant{std::numeric_limits<std::int64_t>::max(), 0}));
}

TEST(EndTime, NeedsAStartForTheElapsedTotal) {
  Activity activity;
  activity.summary.total_elapsed_seconds = 3600.0;
  EXPECT_FALSE(activity.end_time());
  activity.start_time = kTen;
  activity.summary.total_elapsed_seconds.reset();
  EXPECT_FALSE(activity.end_time());
}

TEST(DurationSeconds, ElapsedTotalIsReturnedUnchanged) {
  for (double elapsed : {3600.0, -5.0, 0.0}) {
    Activity activity;
    activity.summary.total_elapsed_seconds = elapsed;
    EXPECT_EQ(activity.duration_seconds(), elapsed);
  }
  Activity activity;
  activity.summary.total_elapsed_seconds = kNaN;
  ASSERT_TRUE(activity.duration_seconds());
  EXPECT_TRUE(std::isnan(*activity.duration_seconds()));
}

TEST(DurationSeconds, TruncatesToWholeMilliseconds) {
  struct Case {
    std::optional<UtcInstant> start_time;
    UtcInstant last;
    double expected;
  };
  const std::vector<Case> cases = {
      {kTen, {36'001, 999'900'000}, 1.999},
      {std::nullopt, {36'001, 999'900'000}, 1.999},      // from the first timed point
      {UtcInstant{36'001, 999'900'000}, kTen, -1.999},  // toward zero, not toward -inf
      {kTen, {36'000, 900'000}, 0.0},
  };
  for (const Case& c : cases) {
    Activity activity = with_segments({{timed(kTen), TrackPoint{}}, {timed(c.last)}});
    activity.start_time = c.start_time;
    EXPECT_EQ(activity.duration_seconds(), c.expected);
  }
}

TEST(DurationSeconds, AbsentWithoutElapsedTotalOrTimedPoints) {
  Activity activity = with_segments({{at(1, 2)}});
  activity.start_time = kTen;
  EXPECT_FALSE(activity.duration_seconds());
}

TEST(DistanceMeters, SummaryTotalWins) {
  Activity activity = with_segments({{at(0, 0), at(1, 0)}});
  activity.summary.total_distance_meters = 1234.5;
  EXPECT_EQ(activity.distance_meters(), 1234.5);
}

TEST(DistanceMeters, LargestRecordedDistanceIgnoringNaN) {
  auto recorded = [](std::vector<std::optional<double>> values) {
    std::vector<TrackPoint> points;
    for (auto value : values) {
      points.push_back(at(0, 0));
      points.back().distance_m = value;
    }
    return with_segments({points, {at(5, 5)}}).distance_meters();
  };
  EXPECT_EQ(recorded({10.0, std::nullopt, 30.0, 20.0}), 30.0);
  EXPECT_EQ(recorded({kNaN, 5.0, kNaN}), 5.0);
  EXPECT_EQ(recorded({5.0, kNaN, 4.0}), 5.0);
  EXPECT_TRUE(std::isnan(recorded({kNaN})));
}

TEST(DistanceMeters, HaversineBetweenPositionedNeighbours) {
  struct Case {
    std::vector<std::vector<TrackPoint>> segments;
    double expected;
  };
  const double degree = 111195.08;  // one degree of a great circle
  const std::vector<Case> cases = {
      {{{at(0, 0), at(1, 0)}}, degree},
      {{{at(0, 0), at(0, 1)}}, degree},
      {{{at(0, 0), at(1, 0), at(2, 0)}, {at(50, 50), at(51, 50)}}, 3 * degree},
      // Points stay as given: latitudes beyond the pole still measure along the great circle.
      {{{at(89.5, 0), at(90.5, 0)}}, degree},
      // `a` rounds a hair above 1 for this antipodal pair; still half the circumference.
      {{{at(11.620689719854511, -5.1993062212691257),
         at(-11.620689719854511, 174.80069377873087)}},
       20015114.44},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(with_segments(c.segments).distance_meters(), c.expected, 0.01);
  }
}

TEST(DistanceMeters, NothingToMeasureIsNegativeZero) {
  const std::vector<std::vector<std::vector<TrackPoint>>> cases = {
      {},
      {{at(0, 0)}, {at(1, 0)}},                     // no distance across a segment boundary
      {{at(0, 0), with_latitude(0.5), at(1, 0)}},  // gaps are not bridged
      {{at(0, 0), TrackPoint{}, at(1, 0)}},
  };
  for (const auto& segments : cases) {
    const double distance = with_segments(segments).distance_meters();
    EXPECT_EQ(distance, 0.0);
    EXPECT_TRUE(std::signbit(distance));
  }
  const double same_place = with_segments({{at(3, 3), at(3, 3)}}).distance_meters();
  EXPECT_EQ(same_place, 0.0);
  EXPECT_FALSE(std::signbit(same_place));
}

TEST(AverageHeartRate, SummaryThenMeanOfPoints) {
  auto rates = [](std::vector<std::optional<std::uint16_t>> values) {
    std::vector<TrackPoint> points;
    for (auto value : values) {
      points.emplace_back();
      points.back().heart_rate_bpm = value;
    }
    return with_segments({points});
  };
  EXPECT_EQ(rates({100, std::nullopt, 101}).average_heart_rate(), 100.5);
  EXPECT_FALSE(rates({std::nullopt}).average_heart_rate());
  EXPECT_FALSE(Activity{}.average_heart_rate());
  // The accumulator must be wider than the values.
  EXPECT_EQ(rates({65535, 65535, 65535}).average_heart_rate(), 65535.0);
  EXPECT_EQ(rates({0}).average_heart_rate(), 0.0);

  Activity recorded = rates({150});
  recorded.summary.average_heart_rate_bpm = 0.0;
  EXPECT_EQ(recorded.average_heart_rate(), 0.0);
}

TEST(ElevationGain, SummaryTotalsWin) {
  Activity activity = with_segments({{with_elevation(0.0), with_elevation(500.0)}});
  activity.summary.total_ascent_meters = 50.0;
  EXPECT_EQ(activity.elevation_gain(), (ElevationGain{50.0, 0.0}));
  activity.summary.total_descent_meters = 20.0;
  EXPECT_EQ(activity.elevation_gain(), (ElevationGain{50.0, 20.0}));
  activity.summary.total_ascent_meters.reset();
  EXPECT_EQ(activity.elevation_gain(), (ElevationGain{0.0, 20.0}));
}

TEST(ElevationGain, EveryChangeBetweenNeighboursCounts) {
  auto elevations = [](std::vector<std::vector<std::optional<double>>> segments) {
    Activity activity;
    for (const auto& values : segments) {
      Segment segment;
      for (auto value : values) segment.points.push_back(with_elevation(value));
      activity.segments.push_back(segment);
    }
    return activity.elevation_gain();
  };
  EXPECT_EQ(elevations({{100, 110, 105, 105, 120}}), (ElevationGain{25.0, 5.0}));
  EXPECT_EQ(elevations({{100, std::nullopt, 200, 150}}), (ElevationGain{0.0, 50.0}));
  EXPECT_EQ(elevations({{100}, {200}}), (ElevationGain{0.0, 0.0}));
  EXPECT_EQ(elevations({{100, 101}, {50, 49.5}}), (ElevationGain{1.0, 0.5}));
  EXPECT_EQ(elevations({}), (ElevationGain{0.0, 0.0}));
}

TEST(Bounds, SpansPositionedPointsIgnoringNaN) {
  EXPECT_FALSE(with_segments({{with_latitude(1.0), with_longitude(2.0)}}).bounds());
  EXPECT_EQ(with_segments({{at(3, 4)}}).bounds(), (Bounds{3, 3, 4, 4}));
  EXPECT_EQ(with_segments({{at(3, 4), with_latitude(99.0)}, {at(-1, 7), at(2, -5)}}).bounds(),
            (Bounds{-1, 3, -5, 7}));
  // A NaN coordinate never wins a comparison, and a NaN first point is replaced by a number.
  EXPECT_EQ(with_segments({{at(kNaN, kNaN), at(3, 4), at(kNaN, 9), at(1, kNaN)}}).bounds(),
            (Bounds{1, 3, 4, 9}));
}

}  // namespace
}  // namespace tramlix
