#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tcx/tcx.hpp"

// Models are spelled with designated initializers; g++ 12 warns about every member left to its
// default, which is the point of them here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tramlix {
namespace {

constexpr std::int64_t k20240501 = 1714521600;  // 2024-05-01T00:00:00Z

const std::string kHead = "<TrainingCenterDatabase><Activities>";
std::string document(const std::string& activities) {
  return kHead + activities + "</Activities></TrainingCenterDatabase>";
}

TEST(TcxReader, Activities) {
  const std::string id = "<Id>2024-05-01T00:00:00Z</Id>",
                    track =
                        "<Track><Trackpoint><Time>2024-05-01T00:01:00Z</Time></Trackpoint>"
                        "<Trackpoint/></Track>";
  const UtcInstant t_id{k20240501}, t_point{k20240501 + 60};
  using Optional = std::optional<std::string>;
  const std::tuple<std::string, Optional, Optional, std::optional<UtcInstant>,
                   std::vector<std::size_t>>
      cases[] = {
          {"<Activity Sport=\" Biking\">" + id, "cycling", "2024-05-01T00:00:00Z", t_id, {}},
          // Whichever of Notes and Id comes first names the activity; a lap's Notes never do.
          {"<Activity Sport='\xC2\xA0MultiSport\n'><Notes>Morning &amp; run</Notes>" + id,
           "multisport",
           "Morning & run",
           t_id,
           {}},
          {"<Activity Sport=''>" + id + "<Lap><Notes>x</Notes></Lap><Notes></Notes>",
           "",
           "",
           t_id,
           {}},
          // White space around the Id spoils neither the time nor the raw name.
          {"<Activity Sport='\xC3\x89tAZ'><Id>\n 2024-05-01T02:00:00+02:00\t</Id>",
           "\xC3\x89taz",
           "\n 2024-05-01T02:00:00+02:00\t",
           t_id,
           {}},  // only ASCII letters change case
          // An Id without an offset is UTC.
          {"<Activity><Id>2024-05-01t00:00:00.000</Id>", {}, "2024-05-01t00:00:00.000", t_id, {}},
          // Tracks of all laps are the segments, self-closing ones too; so are self-closing points.
          // An Id that is no time leaves the start to the first timed point.
          {"<Activity><Id>noon</Id><Lap>" + track + "</Lap><Lap><Track/><Track></Track>" + track +
               "</Lap>",
           {},
           "noon",
           t_point,
           {2, 0, 0, 2}},
      };
  for (const auto& [text, sport, name, start, points_per_segment] : cases) {
    const auto file = tcx::read(document(text + "</Activity><Activity/>"));
    ASSERT_TRUE(file) << text << ": " << file.error().display();
    const Activity& a = file->activities.at(0);
    std::vector<std::size_t> sizes;
    for (const Segment& s : a.segments) sizes.push_back(s.points.size());
    EXPECT_EQ(std::tuple(file->activities.size(), a.sport, a.name, a.start_time, sizes),
              std::tuple(std::size_t{1}, sport, name, start, points_per_segment))
        << text;
  }
}

// The writer's round trip covers every field; these are the forms only other programs write.
TEST(TcxReader, Points) {
  const auto file = tcx::read(document(
      // Extension values under any prefix. A Value counts only inside HeartRateBpm.
      "<Activity><Lap><Track><Trackpoint><Value>90</Value><AverageHeartRateBpm><Value>91</Value>"
      "</AverageHeartRateBpm><Extensions><x:TPX><x:RunCadence> 88 </x:RunCadence><ext:Power>300"
      "</ext:Power><x:Value>92</x:Value></x:TPX></Extensions></Trackpoint>"
      // White space around a time is no error; a failed conversion clears an earlier value.
      "<Trackpoint><HeartRateBpm><Value>150.0</Value></HeartRateBpm><Value>93</Value><Time>\n "
      "2024-05-01T02:00:00.25+02:00\t</Time><Cadence>1</Cadence><Cadence>x</Cadence></Trackpoint>"
      // A self-closing point is a point with nothing in it; a time without offset is UTC.
      "<Trackpoint/><Trackpoint><Time>2024-05-01T00:00:01.5</Time></Trackpoint>"
      "</Track></Lap></Activity>"));
  ASSERT_TRUE(file) << file.error().display();
  const std::vector<TrackPoint> expected = {{.cadence_rpm = 88, .power_watts = 300},
                                            {.time = UtcInstant{k20240501, 250000000}},
                                            {},
                                            {.time = UtcInstant{k20240501 + 1, 500000000}}};
  EXPECT_EQ(file->activities.at(0).segments.at(0).points, expected);
}

TEST(TcxReader, Failures) {
  const auto empty = tcx::read(document("<Activity/><MultiSportSession>x</MultiSportSession>"));
  ASSERT_FALSE(empty);
  EXPECT_EQ(empty.error().display(), "invalid TCX data: no activities found");
  // A finished activity in a document that breaks off is no result.
  const auto broken = tcx::read(kHead + "<Activity></Activity>");
  ASSERT_FALSE(broken);
  EXPECT_TRUE(broken.error().display().starts_with("invalid TCX data: "))
      << broken.error().display();
}

}  // namespace
}  // namespace tramlix
