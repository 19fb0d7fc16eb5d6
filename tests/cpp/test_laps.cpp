// Laps: which activity a FIT lap belongs to, and what a TCX lap's own elements say.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fit_bytes.hpp"
#include "tramlix/io.hpp"
#include "tramlix/laps.hpp"

namespace tramlix {
namespace {

using fit::testing::Bytes;
using fit::testing::le32;
using fit::testing::Records;

constexpr std::uint32_t kT0 = 1'000'000'000;

// A FIT file from a script: 'r' a record, 'l' a lap, 's' a session, each followed by its time
// in seconds after kT0 (a record's timestamp, a lap's or session's start_time) or '?' for none.
Bytes script(const std::vector<std::pair<char, std::optional<std::uint32_t>>>& steps) {
  Records r;
  r.define(0, 20, {{253, 4, 0x86}});
  r.define(1, 19, {{2, 4, 0x86}});
  r.define(2, 18, {{2, 4, 0x86}});
  for (const auto& [kind, time] : steps) {
    const std::uint8_t local = kind == 'r' ? 0 : kind == 'l' ? 1 : 2;
    r.data(local, le32(time ? kT0 + *time : 0xFFFFFFFF));
  }
  return r.file();
}

// The activity of each lap, -1 for none, and how many activities load() makes.
std::pair<std::vector<int>, std::size_t> assigned(const Bytes& file) {
  const auto laps = read_laps(file);
  EXPECT_TRUE(laps) << laps.error().display();
  std::vector<int> activities;
  for (const Lap& lap : *laps) activities.push_back(lap.activity ? int(*lap.activity) : -1);
  const auto loaded = loads(file);
  return {activities, loaded ? loaded->activities.size() : 0};
}

TEST(Laps, FitLapsGoWhereTheirRecordsGo) {
  using Steps = std::vector<std::pair<char, std::optional<std::uint32_t>>>;
  struct Case {
    const char* what;
    Steps steps;
    std::vector<int> activities;
    std::size_t loaded;
  };
  const std::vector<Case> cases = {
      {"each session after its own records and laps",
       {{'r', 0}, {'l', 0}, {'s', 0}, {'r', 10}, {'l', 10}, {'s', 10}},
       {0, 1},
       2},
      {"sessions after everything share out by start time; a lap without a time goes with the "
       "record before it",
       {{'r', 0},
        {'r', 10},
        {'r', 20},
        {'l', 0},
        {'l', 10},
        {'l', std::nullopt},
        {'s', 0},
        {'s', 10}},
       {0, 1, 1},
       2},
      {"a session holding no records makes no activity, and its lap belongs to none",
       {{'r', 0}, {'r', 1}, {'l', 0}, {'l', 50}, {'s', 0}, {'s', 50}},
       {0, -1},
       1},
      {"sessions without start times: the first takes everything",
       {{'r', 0}, {'l', 0}, {'r', 10}, {'l', 10}, {'s', std::nullopt}, {'s', std::nullopt}},
       {0, 0},
       1},
      {"laps after the last records join the last activity",
       {{'r', 0}, {'s', 0}, {'r', 10}, {'s', 10}, {'l', 10}},
       {1},
       2},
      {"records without a session are an activity of their own",
       {{'r', 0}, {'l', 0}, {'s', 0}, {'r', 10}, {'l', 10}},
       {0, 1},
       2},
  };
  for (const Case& c : cases) {
    const auto [activities, loaded] = assigned(script(c.steps));
    EXPECT_EQ(activities, c.activities) << c.what;
    EXPECT_EQ(loaded, c.loaded) << c.what;
  }
  // Lap numbers count from 0 in each activity, in file order.
  const auto laps =
      read_laps(script({{'r', 0}, {'l', 0}, {'l', 5}, {'s', 0}, {'r', 10}, {'l', 10}}));
  ASSERT_TRUE(laps);
  std::vector<std::uint32_t> numbers;
  for (const Lap& lap : *laps) numbers.push_back(lap.lap);
  EXPECT_EQ(numbers, (std::vector<std::uint32_t>{0, 1, 0}));
}

TEST(Laps, TcxLapsReadTheirOwnElementsOnly) {
  const std::string document = R"(<TrainingCenterDatabase><Activities>
<Activity Sport="Running"><Id>2024-05-01T08:00:00Z</Id>
  <Lap StartTime="2024-05-01T08:00:00Z"><TotalTimeSeconds>90.5</TotalTimeSeconds>
    <DistanceMeters>400</DistanceMeters><Calories>31</Calories><Intensity>Resting</Intensity>
    <TriggerMethod>HeartRate</TriggerMethod>
    <Track><Trackpoint><DistanceMeters>7</DistanceMeters><Cadence>50</Cadence></Trackpoint></Track>
    <Extensions><LX><AvgSpeed>4.4</AvgSpeed><AvgRunCadence>88</AvgRunCadence></LX></Extensions>
  </Lap></Activity>
<Activity/>
<Activity Sport="Biking"><Id>x</Id><Lap StartTime="bad"><Notes>n</Notes></Lap></Activity>
</Activities></TrainingCenterDatabase>)";
  const auto laps =
      read_laps({reinterpret_cast<const std::uint8_t*>(document.data()), document.size()});
  ASSERT_TRUE(laps) << laps.error().display();
  ASSERT_EQ(laps->size(), 2u);
  const Lap& run = (*laps)[0];
  EXPECT_EQ(run.activity, 0u);
  EXPECT_EQ(run.start_time, (UtcInstant{1714550400, 0}));
  EXPECT_EQ(run.end_time, (UtcInstant{1714550490, 500'000'000}));
  EXPECT_EQ(run.total_timer_seconds, 90.5);
  EXPECT_EQ(run.distance_meters, 400.0);
  EXPECT_EQ(run.calories, 31.0);
  EXPECT_EQ(run.average_speed_mps, 4.4);
  EXPECT_EQ(run.average_cadence_rpm, 88.0);
  EXPECT_EQ(run.intensity, "rest");
  EXPECT_EQ(run.trigger, "heartrate");
  // The self-closing Activity is none: the next one is activity 1.
  const Lap& ride = (*laps)[1];
  EXPECT_EQ(ride.activity, 1u);
  EXPECT_EQ(ride.lap, 0u);
  EXPECT_EQ(ride.start_time, std::nullopt);
  EXPECT_EQ(ride.end_time, std::nullopt);

  const std::string broken = "<TrainingCenterDatabase><Activities><Activity>";
  const auto error =
      read_laps({reinterpret_cast<const std::uint8_t*>(broken.data()), broken.size()});
  ASSERT_FALSE(error);
  EXPECT_TRUE(error.error().display().starts_with("invalid TCX data: ")) << error.error().display();
}

}  // namespace
}  // namespace tramlix
