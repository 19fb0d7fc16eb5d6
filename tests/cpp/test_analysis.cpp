#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tracks.hpp"
#include "tramlix/analysis.hpp"
#include "tramlix/model.hpp"

namespace tramlix {
namespace {

using testing::track;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::int64_t kStart = 1'714'550'400;  // 2024-05-01T08:00:00Z

using Points = std::vector<TrackPoint>;

// A point at `seconds` (and nanoseconds) after the start, or without a time.
TrackPoint at(std::optional<double> seconds) {
  TrackPoint point;
  if (seconds) {
    const double whole = std::floor(*seconds);
    point.time = UtcInstant{kStart + static_cast<std::int64_t>(whole),
                            static_cast<std::uint32_t>(std::lround((*seconds - whole) * 1e9))};
  }
  return point;
}

TrackPoint power(std::optional<double> seconds, std::uint16_t watts) {
  TrackPoint point = at(seconds);
  point.power_watts = watts;
  return point;
}

TrackPoint heart(std::optional<double> seconds, std::uint16_t bpm) {
  TrackPoint point = at(seconds);
  point.heart_rate_bpm = bpm;
  return point;
}

TrackPoint elevation(double metres) {
  TrackPoint point;
  point.elevation_m = metres;
  return point;
}

TrackPoint distance(double seconds, double metres) {
  TrackPoint point = at(seconds);
  point.distance_m = metres;
  return point;
}

// A 1 Hz recording from `from` seconds on, one point per value.
Points every_second(const std::vector<std::uint16_t>& watts, double from = 0.0) {
  Points points;
  for (std::size_t i = 0; i < watts.size(); ++i) {
    points.push_back(power(from + static_cast<double>(i), watts[i]));
  }
  return points;
}

std::vector<std::uint16_t> repeated(std::uint16_t value, std::size_t count) {
  return std::vector<std::uint16_t>(count, value);
}

std::vector<std::uint16_t> joined(std::vector<std::vector<std::uint16_t>> parts) {
  std::vector<std::uint16_t> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// ---- stats ----

TEST(Stats, AveragesWeighEachValueByTheTimeItHolds) {
  // Weights 1 s, 3 s (a 100 s silence counts 10 s at most), 0 s for the segment's last point;
  // the next segment starts afresh.
  const Activity activity =
      track({{heart(0, 100), heart(1, 200), heart(4, 150), heart(104, 90), heart(105, 60)},
             {heart(200, 120), heart(202, 180)}});
  const ChannelStats stats = tramlix::stats(activity, 10.0).heart_rate;
  EXPECT_EQ(stats.count, 7u);
  EXPECT_EQ(stats.min, 60.0);
  EXPECT_EQ(stats.max, 200.0);
  EXPECT_TRUE(stats.time_weighted);
  EXPECT_DOUBLE_EQ(*stats.average, (100 * 1 + 200 * 3 + 150 * 10 + 90 * 1 + 120 * 2) / 17.0);
  EXPECT_FALSE(stats.average_without_zeros);  // heart rate has no "without zeros"
  // A larger gap limit lets the value before the silence hold longer.
  EXPECT_DOUBLE_EQ(*tramlix::stats(activity, 1000.0).heart_rate.average,
                   (100 * 1 + 200 * 3 + 150 * 100 + 90 * 1 + 120 * 2) / 107.0);
}

TEST(Stats, UntimedPointsGivePlainAverages) {
  // No point has time to weigh by, so each value counts once.
  Points points = {heart({}, 100), heart({}, 110), heart(0, 120)};
  points[0].speed_mps = kNaN;  // not a value: not counted
  points[1].speed_mps = 2.5;
  const ActivityStats stats = tramlix::stats(track({points}), 10.0);
  EXPECT_FALSE(stats.heart_rate.time_weighted);
  EXPECT_EQ(stats.heart_rate.average, 110.0);
  EXPECT_EQ(stats.speed.count, 1u);
  EXPECT_EQ(stats.speed.average, 2.5);
  // A channel without values has a count of 0 and nothing else.
  EXPECT_EQ(stats.power, ChannelStats{});
  EXPECT_EQ(tramlix::stats(Activity{}, 10.0), ActivityStats{});
}

TEST(Stats, CadenceAndPowerAverageWithoutZerosToo) {
  // Coasting (0 W) for 2 of 6 seconds.
  const Activity activity =
      track({every_second({200, 0, 0, 300, 250, 250, 999})});  // the last point weighs nothing
  const ChannelStats stats = tramlix::stats(activity, 10.0).power;
  EXPECT_DOUBLE_EQ(*stats.average, 1000.0 / 6.0);
  EXPECT_DOUBLE_EQ(*stats.average_without_zeros, 250.0);
  EXPECT_EQ(stats.max, 999.0);
  // No time spent at a value other than 0: no average without zeros, though one was recorded.
  const ChannelStats idle = tramlix::stats(track({every_second({0, 0, 400})}), 10.0).power;
  EXPECT_EQ(idle.average, 0.0);
  EXPECT_FALSE(idle.average_without_zeros);
}

// Point by point, as the figures are defined: each value weighs its point's time weight, and
// every sum runs in track order, so the figures must come out exactly equal.
ActivityStats straightforward_stats(const Activity& activity, double gap) {
  ActivityStats result;
  ChannelStats* figures[] = {&result.heart_rate, &result.cadence,     &result.power,
                             &result.speed,      &result.temperature, &result.elevation};
  for (Channel channel : kChannels) {
    ChannelStats& stats = *figures[static_cast<std::size_t>(channel)];
    const bool without_zeros = channel == Channel::Cadence || channel == Channel::Power;
    double sum = 0, weight = 0, weighted = 0, nonzero_sum = 0, nonzero_weight = 0;
    double nonzero_weighted = 0;
    std::size_t nonzero_count = 0;
    for (const Segment& segment : activity.segments) {
      const Points& points = segment.points;
      for (std::size_t i = 0; i < points.size(); ++i) {
        const std::optional<double> value = channel_value(points[i], channel);
        if (!value) continue;
        double w = 0;
        if (i + 1 < points.size() && points[i].time && points[i + 1].time && gap > 0) {
          const double seconds =
              static_cast<double>(nanoseconds_between(*points[i].time, *points[i + 1].time)) / 1e9;
          if (seconds > 0) w = std::min(seconds, gap);
        }
        ++stats.count;
        stats.min = std::min(stats.min.value_or(*value), *value);
        stats.max = std::max(stats.max.value_or(*value), *value);
        sum += *value;
        weight += w;
        weighted += *value * w;
        if (*value != 0) {
          ++nonzero_count;
          nonzero_sum += *value;
          nonzero_weight += w;
          nonzero_weighted += *value * w;
        }
      }
    }
    if (stats.count == 0) continue;
    stats.time_weighted = weight > 0;
    if (stats.time_weighted) {
      stats.average = weighted / weight;
      if (without_zeros && nonzero_weight > 0) {
        stats.average_without_zeros = nonzero_weighted / nonzero_weight;
      }
    } else {
      stats.average = sum / static_cast<double>(stats.count);
      if (without_zeros && nonzero_count > 0) {
        stats.average_without_zeros = nonzero_sum / static_cast<double>(nonzero_count);
      }
    }
  }
  return result;
}

TEST(Stats, EqualsThePointByPointFiguresExactly) {
  // Channels at every point, at some, or at none; zeros, NaN and infinities; untimed points,
  // times that go back, steps off the whole second and gaps beyond the limit.
  std::mt19937 random(7);
  const auto chance = [&](unsigned percent) { return random() % 100 < percent; };
  for (int trial = 0; trial < 300; ++trial) {
    unsigned present[6];
    for (unsigned& percent : present) percent = std::array{0u, 100u, 100u, 70u}[random() % 4];
    Activity activity;
    for (int s = 0, segments = static_cast<int>(random() % 4); s < segments; ++s) {
      Segment& segment = activity.segments.emplace_back();
      double t = 100.0 * s;
      for (int i = 0, n = static_cast<int>(random() % 50); i < n; ++i) {
        t += chance(10) ? -3.0 : static_cast<double>(random() % 14) + (chance(30) ? 0.144 : 0.0);
        TrackPoint point = at(chance(90) ? std::optional<double>(t) : std::nullopt);
        const auto whole = [&](unsigned range) {
          return static_cast<std::uint16_t>(chance(25) ? 0 : random() % range);
        };
        const auto real = [&] {
          return chance(5) ? std::array{kNaN, std::numeric_limits<double>::infinity()}[random() % 2]
                           : (static_cast<double>(random() % 20001) - 10000.0) / 7.0;
        };
        if (chance(present[0])) point.heart_rate_bpm = whole(220);
        if (chance(present[1])) point.cadence_rpm = whole(130);
        if (chance(present[2])) point.power_watts = whole(2000);
        if (chance(present[3])) point.speed_mps = real();
        if (chance(present[4])) point.temperature_c = static_cast<std::int16_t>(whole(80) - 40);
        if (chance(present[5])) point.elevation_m = real();
        segment.points.push_back(point);
      }
    }
    for (double gap : {10.0, 0.5, 0.0}) {
      ASSERT_EQ(tramlix::stats(activity, gap), straightforward_stats(activity, gap))
          << "trial " << trial << ", gap " << gap;
    }
  }
}

TEST(TimeInZones, ValuesOnABoundaryBelongToTheZoneAbove) {
  const double bounds[] = {120, 140, 160, 175};
  // Each value holds 1 s but the 175 holds 2 s and the segment's last point none.
  const Activity activity = track({{heart(0, 119), heart(1, 120), heart(2, 139), heart(3, 140),
                                    heart(4, 159), heart(5, 175), heart(7, 200)}});
  EXPECT_EQ(time_in_zones(activity, Channel::HeartRate, bounds, 10.0),
            (std::vector<double>{1, 2, 2, 0, 2}));
  // Gaps are capped as stats() caps them; no bounds is one zone.
  const Activity sparse = track({{heart(0, 150), heart(60, 150), heart(61, 90)}});
  EXPECT_EQ(time_in_zones(sparse, Channel::HeartRate, {}, 10.0), (std::vector<double>{11}));
  EXPECT_EQ(time_in_zones(sparse, Channel::Power, bounds, 10.0), (std::vector<double>(5, 0.0)));
}

// ---- mean_max ----

std::optional<double> best(const Activity& activity, std::int64_t seconds,
                           double gap_limit = 10.0) {
  const std::int64_t durations[] = {seconds};
  return mean_max(activity, Channel::Power, durations, gap_limit)[0];
}

TEST(MeanMax, FindsTheBestBlockOfARide) {
  // 20 minutes at 200 W with 5 minutes at 350 W from minute 7 and a 1-second spike before them.
  std::vector<std::uint16_t> watts =
      joined({repeated(200, 420), repeated(350, 300), repeated(200, 480)});
  watts[100] = 900;
  const Activity ride = track({every_second(watts)});
  EXPECT_EQ(best(ride, 1), 900.0);
  EXPECT_EQ(best(ride, 300), 350.0);
  EXPECT_DOUBLE_EQ(*best(ride, 600), (300 * 350 + 300 * 200) / 600.0);
  EXPECT_DOUBLE_EQ(*best(ride, 1200), (1200 * 200.0 + 300 * 150 + 700) / 1200.0);
  EXPECT_FALSE(best(ride, 1201));
  EXPECT_FALSE(best(ride, 0));
  const std::int64_t durations[] = {300, -5, 1};
  EXPECT_EQ(mean_max(ride, Channel::Power, durations, 10.0),
            (std::vector<std::optional<double>>{350.0, std::nullopt, 900.0}));
}

TEST(MeanMax, NoWindowBridgesAGapLongerThanTheLimit) {
  // Two 200-second efforts at 400 W, 60 s of silence between them.
  Points points = every_second(repeated(400, 200));
  const Points after = every_second(repeated(400, 200), 259);
  points.insert(points.end(), after.begin(), after.end());
  const Activity split = track({points});
  EXPECT_EQ(best(split, 200), 400.0);
  EXPECT_FALSE(best(split, 201));
  // With a limit the gap fits in, the last value before it holds across it.
  EXPECT_EQ(best(split, 400, 60.0), 400.0);
  EXPECT_FALSE(best(split, 400, 59.999));
  // Segments never join, and neither do points whose time goes back.
  EXPECT_FALSE(
      best(track({every_second(repeated(400, 200)), every_second(repeated(400, 200), 200)}), 201));
  Points back = every_second(repeated(400, 200), 100);
  const Points earlier = every_second(repeated(400, 200), 0);
  back.insert(back.end(), earlier.begin(), earlier.end());
  EXPECT_FALSE(best(track({back}), 201));
}

TEST(MeanMax, SparseRecordingsHoldEachValueToTheNextPoint) {
  // One point every 5 s: second k takes the last value at or before it; the last point holds for
  // its own second only.
  const Activity activity = track({{power(0, 100), power(5, 200), power(10, 300)}});
  EXPECT_EQ(best(activity, 1), 300.0);
  EXPECT_EQ(best(activity, 5), 220.0);  // seconds 6 to 10
  EXPECT_DOUBLE_EQ(*best(activity, 11), (500 + 1000 + 300) / 11.0);
  // Off the whole second: the grid runs from the first point, a value holding for less than a
  const Activity fractional =
      track({{power(0.25, 100), power(0.75, 900), power(1.25, 200), power(2.5, 300)}});
  // second, so 0.25 s, 1.25 s and 2.25 s read 100, 200 (the 900 is gone) and 200 again; the
  // point at 2.5 s reaches no whole second.
  EXPECT_EQ(best(fractional, 1), 200.0);
  EXPECT_EQ(best(fractional, 2), 200.0);
  EXPECT_DOUBLE_EQ(*best(fractional, 3), 500.0 / 3.0);
  EXPECT_FALSE(best(fractional, 4));
}

// Second by second, as the definition reads: the runs laid out in full.
std::optional<double> brute_force(const Activity& activity, std::int64_t window, double gap) {
  std::optional<double> best_mean;
  for (const Segment& segment : activity.segments) {
    std::vector<std::pair<double, double>> values;  // seconds since the start, watts
    for (const TrackPoint& point : segment.points) {
      if (!point.time || !point.power_watts) continue;
      values.emplace_back(
          static_cast<double>(point.time->seconds - kStart) + point.time->nanoseconds / 1e9,
          *point.power_watts);
    }
    std::size_t first = 0;
    while (first < values.size()) {
      std::size_t last = first;
      while (last + 1 < values.size() && values[last + 1].first >= values[last].first &&
             values[last + 1].first - values[last].first <= gap) {
        ++last;
      }
      std::vector<double> seconds;
      const double origin = values[first].first;
      std::size_t at = first;
      for (double t = origin; t <= values[last].first + 1e-9; t += 1.0) {
        while (at < last && values[at + 1].first <= t + 1e-9) ++at;
        seconds.push_back(values[at].second);
      }
      for (std::size_t i = 0; i + window <= seconds.size(); ++i) {
        double sum = 0;
        for (std::int64_t k = 0; k < window; ++k) sum += seconds[i + k];
        if (!best_mean || sum / window > *best_mean) best_mean = sum / window;
      }
      first = last + 1;
    }
  }
  return best_mean;
}

TEST(MeanMax, AgreesWithTheSecondBySecondDefinition) {
  std::mt19937 random(13);
  for (int trial = 0; trial < 200; ++trial) {
    Activity activity;
    for (int s = 0, segments = 1 + static_cast<int>(random() % 2); s < segments; ++s) {
      Segment& segment = activity.segments.emplace_back();
      double t = 1000.0 * s;
      // Every other trial a 1 Hz recording with a few gaps, else steps from 0 to 15 s, some
      // off the whole second; now and then a missing value.
      const bool one_hertz = trial % 2 == 0;
      for (int i = 0, n = static_cast<int>(random() % (one_hertz ? 120 : 40)); i < n; ++i) {
        t += one_hertz ? (random() % 30 == 0 ? 12.0 : 1.0)
                       : static_cast<double>(random() % 16) + (random() % 4 == 0 ? 0.5 : 0.0);
        TrackPoint point = at(t);
        if (random() % 8 != 0) point.power_watts = static_cast<std::uint16_t>(random() % 500);
        segment.points.push_back(point);
      }
    }
    for (std::int64_t window : {1, 2, 5, 17, 60}) {
      const std::optional<double> expected = brute_force(activity, window, 10.0);
      const std::optional<double> found = best(activity, window);
      ASSERT_EQ(found.has_value(), expected.has_value()) << trial << " " << window;
      if (expected) {
        EXPECT_NEAR(*found, *expected, 1e-9) << trial << " " << window;
      }
    }
  }
}

// ---- best_efforts ----

std::vector<std::optional<double>> efforts(const Activity& activity, std::vector<double> metres) {
  return best_efforts(activity, metres);
}

TEST(BestEfforts, FindsTheFastestStretchOfRecordedDistances) {
  // 1 Hz: 600 s at 3 m/s, 200 s at 5 m/s, 300 s at 3 m/s.
  Points points;
  double metres = 0;
  for (int second = 0; second <= 1100; ++second) {
    points.push_back(distance(second, metres));
    metres += second >= 600 && second < 800 ? 5.0 : 3.0;
  }
  const auto found = efforts(track({points}), {1000, 400, 1200, 3700, 3701, 0, kNaN});
  EXPECT_NEAR(*found[0], 200.0, 1e-9);
  EXPECT_NEAR(*found[1], 80.0, 1e-9);
  EXPECT_NEAR(*found[2], 200.0 + 200.0 / 3.0, 1e-9);
  EXPECT_NEAR(*found[3], 1100.0, 1e-9);
  for (std::size_t i = 4; i < found.size(); ++i) EXPECT_FALSE(found[i]) << i;
}

TEST(BestEfforts, PlacesStartAndEndBetweenPoints) {
  // One point every 10 s at 3 m/s: 100 m takes 33.3 s, wherever it lies between the points.
  Points points;
  for (int i = 0; i <= 10; ++i) points.push_back(distance(10.0 * i, 30.0 * i));
  EXPECT_NEAR(*efforts(track({points}), {100})[0], 100.0 / 3.0, 1e-9);
  // A faster stretch between two points is found at either end of the effort.
  // From 40 s to 50 s at 5 m/s: 50 m there take 10 s, 80 m take those and 10 s at 3 m/s.
  for (std::size_t i = 5; i < points.size(); ++i) *points[i].distance_m += 20.0;
  EXPECT_NEAR(*efforts(track({points}), {50})[0], 10.0, 1e-9);
  EXPECT_NEAR(*efforts(track({points}), {80})[0], 20.0, 1e-9);
}

TEST(BestEfforts, CountsPausesRestartsAndPositions) {
  // Two segments of 500 m at 5 m/s with a 60 s pause: the pause counts toward the time.
  const Activity paused =
      track({{distance(0, 0), distance(100, 500)}, {distance(160, 500), distance(260, 1000)}});
  EXPECT_NEAR(*efforts(paused, {1000})[0], 260.0, 1e-9);
  // A lap that restarts its count at 0 continues the distance.
  const Activity laps =
      track({{distance(0, 0), distance(100, 500), distance(101, 0), distance(201, 500)}});
  EXPECT_NEAR(*efforts(laps, {1000})[0], 201.0, 1e-9);
  // Time going back starts over: no effort spans it.
  const Activity back =
      track({{distance(100, 0), distance(200, 500), distance(0, 600), distance(50, 900)}});
  EXPECT_FALSE(efforts(back, {600})[0]);

  // Without recorded distances, along the positions: 0.01 degrees of latitude each minute.
  Points points;
  for (int i = 0; i <= 10; ++i) {
    TrackPoint point = at(60.0 * i);
    point.latitude = 0.01 * i;
    point.longitude = 0.0;
    points.push_back(point);
  }
  const double metres_per_step = 1111.950797;  // 0.01 degrees of a great circle
  EXPECT_NEAR(*efforts(track({points}), {metres_per_step * 2})[0], 120.0, 1e-3);
  // A recorded distance anywhere wins over the positions.
  points[10].distance_m = 50.0;
  points[0].distance_m = 0.0;
  EXPECT_FALSE(efforts(track({points}), {51})[0]);
  EXPECT_NEAR(*efforts(track({points}), {50})[0], 600.0, 1e-9);
}

// ---- filtered_elevation_gain ----

Activity profile(std::vector<std::vector<double>> segments) {
  Activity activity;
  for (const auto& metres : segments) {
    Segment& segment = activity.segments.emplace_back();
    for (double value : metres) segment.points.push_back(elevation(value));
  }
  return activity;
}

TEST(FilteredElevationGain, CountsSwingsOfAtLeastTheThresholdWhole) {
  // Stairs: up 3 m, back 2 m, twenty times, then down 3 m and up 2 m twenty times. Every step is
  // noise to a 5 m filter, but the climb from 100 m to the top at 122 m and the descent to 98 m
  // are not; the last 2 m back up to 100 m are noise again.
  std::vector<double> stairs{100};
  for (int i = 0; i < 20; ++i) {
    stairs.push_back(stairs.back() + 3);
    stairs.push_back(stairs.back() - 2);
  }
  for (int i = 0; i < 20; ++i) {
    stairs.push_back(stairs.back() - 3);
    stairs.push_back(stairs.back() + 2);
  }
  const Activity steps = profile({stairs});
  EXPECT_EQ(steps.elevation_gain(), (ElevationGain{100, 100}));
  EXPECT_EQ(filtered_elevation_gain(steps, 5.0), (ElevationGain{22, 24}));
  EXPECT_EQ(filtered_elevation_gain(steps, 0.0), (ElevationGain{100, 100}));

  using Case = std::pair<std::vector<double>, ElevationGain>;
  const Case cases[] = {
      {{100, 110, 107, 109, 95, 96, 120}, {35, 15}},  // turning points at 110 and 95
      {{100, 104, 96, 100}, {0, 8}},                  // the first leg starts at the high so far
      {{100, 102, 98, 101, 99}, {0, 0}},              // all within the threshold
      {{100, 105}, {5, 0}},                           // exactly the threshold counts
      {{100, 120, 117}, {20, 0}},                     // a last leg short of it does not
      {{100, kNaN, 90}, {0, 10}},                     // NaN is passed over
  };
  for (const auto& [metres, expected] : cases) {
    EXPECT_EQ(filtered_elevation_gain(profile({metres}), 5.0), expected) << metres[1];
  }
  // Segments are filtered apart: 4 m in each is noise, though 8 m in all.
  EXPECT_EQ(filtered_elevation_gain(profile({{100, 104}, {104, 108}}), 5.0), ElevationGain{});
}

TEST(FilteredElevationGain, ReadsThePointsNotTheSummary) {
  Activity activity = profile({{0, 50}});
  activity.summary.total_ascent_meters = 7.0;
  EXPECT_EQ(filtered_elevation_gain(activity, 5.0), (ElevationGain{50, 0}));
  activity.segments[0].points.push_back(TrackPoint{});  // without an elevation: passed over
  activity.segments[0].points.push_back(elevation(30));
  EXPECT_EQ(filtered_elevation_gain(activity, 5.0), (ElevationGain{50, 20}));
}

TEST(FilteredElevationGain, ThresholdZeroIsTheSumOfEveryChange) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> step(-3.0, 3.0);
  for (int trial = 0; trial < 100; ++trial) {
    std::vector<double> metres{200};
    for (int i = 0; i < 50; ++i)
      metres.push_back(random() % 5 == 0 ? metres.back() : metres.back() + step(random));
    const Activity activity = profile({metres});
    const ElevationGain raw = activity.elevation_gain();
    const ElevationGain filtered = filtered_elevation_gain(activity, 0.0);
    EXPECT_NEAR(filtered.uphill_meters, raw.uphill_meters, 1e-9);
    EXPECT_NEAR(filtered.downhill_meters, raw.downhill_meters, 1e-9);
    // A filter never finds more than every change adds up to.
    const ElevationGain five = filtered_elevation_gain(activity, 5.0);
    EXPECT_LE(five.uphill_meters, raw.uphill_meters + 1e-9);
    EXPECT_LE(five.downhill_meters, raw.downhill_meters + 1e-9);
  }
}

// ---- GeoJSON ----

TrackPoint located(double latitude, double longitude, std::optional<double> metres = {}) {
  TrackPoint point;
  point.latitude = latitude;
  point.longitude = longitude;
  point.elevation_m = metres;
  return point;
}

TEST(GeoJson, OneMultiLineStringOfLongitudeLatitudeElevationPerActivity) {
  Activity activity = track(
      {{located(46.5, 14.25, 300), located(46.75, 14.5, 301.5)},
       {located(46, 14, 310), located(91, 14, 1), located(kNaN, 14, 1), located(46.125, 180, 311)},
       {located(1, 2, 3)}});  // a lone fix: no line
  activity.name = "Morning \"Run\"";
  activity.start_time = UtcInstant{kStart, 0};
  activity.summary.total_elapsed_seconds = 60.0;
  activity.summary.total_distance_meters = 1234.5;
  EXPECT_EQ(to_geojson(activity),
            "{\"type\":\"Feature\",\"geometry\":{\"type\":\"MultiLineString\",\"coordinates\":"
            "[[[14.25,46.5,300.0],[14.5,46.75,301.5]],[[14.0,46.0,310.0],[180.0,46.125,311.0]]]},"
            "\"properties\":{\"name\":\"Morning \\\"Run\\\"\",\"sport\":null,"
            "\"start_time\":\"2024-05-01T08:00:00Z\",\"end_time\":\"2024-05-01T08:01:00Z\","
            "\"distance_meters\":1234.5}}");

  // One position without an elevation makes the whole feature two-dimensional; a file is a
  // FeatureCollection, and an activity without a line has no geometry.
  activity.segments[0].points[1].elevation_m.reset();
  activity.summary = {};
  ActivityFile file;
  file.activities = {activity, Activity{}};
  EXPECT_EQ(to_geojson(file),
            "{\"type\":\"FeatureCollection\",\"features\":[{\"type\":\"Feature\",\"geometry\":"
            "{\"type\":\"MultiLineString\",\"coordinates\":[[[14.25,46.5],[14.5,46.75]],"
            "[[14.0,46.0],[180.0,46.125]]]},\"properties\":{\"name\":\"Morning \\\"Run\\\"\","
            "\"sport\":null,\"start_time\":\"2024-05-01T08:00:00Z\",\"end_time\":null,"
            "\"distance_meters\":null}},{\"type\":\"Feature\",\"geometry\":null,\"properties\":"
            "{\"name\":null,\"sport\":null,\"start_time\":null,\"end_time\":null,"
            "\"distance_meters\":0.0}}]}");
}

// ---- the series of a plot ----

TEST(TrackProfile, DistanceAlongTheTrackAndSpeedWhereNoneIsRecorded) {
  TrackPoint first = located(0, 0, 100);
  first.time = UtcInstant{kStart, 0};
  TrackPoint second = located(0.01, 0, 90);
  second.time = UtcInstant{kStart + 100, 0};
  second.heart_rate_bpm = 150;
  TrackPoint unplaced = at(150);
  const TrackProfile profile = track_profile(track({{first, second, unplaced}, {second}}));
  EXPECT_EQ(profile.segment, (std::vector<std::uint32_t>{0, 0, 0, 1}));
  EXPECT_NEAR(profile.distance_m[1], 1111.95, 0.01);
  EXPECT_TRUE(std::isnan(profile.distance_m[2]));
  EXPECT_EQ(profile.distance_m[3], profile.distance_m[1]);  // no distance between segments
  EXPECT_NEAR(profile.speed_mps[1], 11.1195, 1e-4);
  for (double missing : {profile.speed_mps[0], profile.speed_mps[2], profile.speed_mps[3],
                         profile.heart_rate_bpm[0], profile.latitude[2], profile.elevation_m[2]}) {
    EXPECT_TRUE(std::isnan(missing));
  }
  EXPECT_EQ(profile.heart_rate_bpm[1], 150.0);
  // A recorded speed anywhere: the recorded ones, and nothing computed.
  first.speed_mps = 3.5;
  const TrackProfile recorded = track_profile(track({{first, second}}));
  EXPECT_EQ(recorded.speed_mps[0], 3.5);
  EXPECT_TRUE(std::isnan(recorded.speed_mps[1]));
}

}  // namespace
}  // namespace tramlix
