#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tcx/tcx.hpp"

namespace tramlix {
namespace {

constexpr std::int64_t k20240501 = 1714521600;  // 2024-05-01T00:00:00Z

std::string document(const std::string& activities) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<TrainingCenterDatabase "
         "xmlns=\"http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2\">\n<Activities>" +
         activities + "</Activities></TrainingCenterDatabase>\n";
}

TEST(TcxReader, Activities) {
  const std::string id = "<Id>2024-05-01T00:00:00Z</Id>";
  const std::string track =
      "<Track><Trackpoint><Time>2024-05-01T00:01:00Z</Time></Trackpoint>"
      "<Trackpoint></Trackpoint></Track>";
  const std::optional<UtcInstant> at_id = UtcInstant{k20240501},
                                  at_point = UtcInstant{k20240501 + 60};
  struct Expected {
    std::optional<std::string> sport, name;
    std::optional<UtcInstant> start;
    std::vector<std::size_t> points_per_segment;
  };
  const struct {
    std::string activity;
    Expected expected;
  } cases[] = {
      {"<Activity Sport=\" Biking\">" + id + "</Activity>",
       {"cycling", "2024-05-01T00:00:00Z", at_id, {}}},
      // Notes name the activity before or after the Id; a lap's notes do not.
      {"<Activity><Notes>Morning &amp; run</Notes>" + id + "</Activity>",
       {{}, "Morning & run", at_id, {}}},
      {"<Activity Sport=''>" + id + "<Lap><Notes>lap</Notes></Lap><Notes></Notes></Activity>",
       {"", "", at_id, {}}},
      // White space around the Id does not spoil the time; the name keeps the raw text.
      {"<Activity><Id>\n 2024-05-01T02:00:00+02:00\t</Id></Activity>",
       {{}, "\n 2024-05-01T02:00:00+02:00\t", at_id, {}}},
      // An Id that is no time leaves the start to the first timed point.
      {"<Activity><Id>noon</Id><Lap>" + track + "</Lap></Activity>", {{}, "noon", at_point, {2}}},
      // Tracks of all laps are the segments; self-closing elements are nothing.
      {"<Activity><Lap>" + track + "</Lap><Lap><Track/><Track></Track>" + track +
           "</Lap></Activity>",
       {{}, {}, at_point, {2, 0, 2}}},
      // A point outside a Track is dropped, time and all.
      {"<Activity><Lap><Trackpoint><Time>2024-05-01T00:00:00Z</Time></Trackpoint>"
       "<Track><Trackpoint/></Track></Lap></Activity>",
       {{}, {}, {}, {0}}},
  };
  for (const auto& c : cases) {
    const auto file = tcx::read(document(c.activity + "<Activity/>"));
    ASSERT_TRUE(file) << c.activity << ": " << file.error().display();
    EXPECT_EQ(file->creator, "tramlix");
    ASSERT_EQ(file->activities.size(), 1u) << c.activity;
    const Activity& activity = file->activities[0];
    EXPECT_EQ(activity.sport, c.expected.sport) << c.activity;
    EXPECT_EQ(activity.name, c.expected.name) << c.activity;
    EXPECT_EQ(activity.start_time, c.expected.start) << c.activity;
    std::vector<std::size_t> points_per_segment;
    for (const Segment& segment : activity.segments)
      points_per_segment.push_back(segment.points.size());
    EXPECT_EQ(points_per_segment, c.expected.points_per_segment) << c.activity;
  }
}

TEST(TcxReader, Points) {
  const std::optional<std::uint16_t> none;
  const struct {
    std::string trackpoint;
    TrackPoint expected;
  } cases[] = {
      {"<Time>2024-05-01T08:30:00.25+02:00</Time><Position><LatitudeDegrees>52.5</LatitudeDegrees>"
       "<LongitudeDegrees>13.4</LongitudeDegrees></Position><AltitudeMeters>34</AltitudeMeters>"
       "<DistanceMeters>1200.5</DistanceMeters><HeartRateBpm><Value>140</Value></HeartRateBpm>"
       "<Cadence>85</Cadence><Extensions><ns3:TPX><ns3:Speed>3.2</ns3:Speed>"
       "<ns3:Watts>210</ns3:Watts><ns3:Temperature>-4</ns3:Temperature></ns3:TPX></Extensions>",
       {UtcInstant{k20240501 + 6 * 3600 + 30 * 60, 250000000}, 52.5, 13.4, 34.0, 1200.5, 140, 85,
        3.2, 210, -4}},
      // Extension values under any prefix. A Value counts only inside HeartRateBpm, and a
      // lap-style average is no HeartRateBpm.
      {"<Value>90</Value><AverageHeartRateBpm><Value>91</Value></AverageHeartRateBpm>"
       "<Extensions><x:TPX><x:RunCadence> 88 </x:RunCadence><ext:Power>300</ext:Power>"
       "<x:Value>92</x:Value></x:TPX></Extensions>",
       {{}, {}, {}, {}, {}, none, 88, {}, 300, {}}},
      // White space around a time is no error; a failed conversion clears an earlier value.
      {"<HeartRateBpm><Value>150.0</Value></HeartRateBpm><Value>93</Value>"
       "<Time>\n  2024-05-01T00:00:00Z\t</Time><Cadence>1</Cadence><Cadence>x</Cadence>",
       {UtcInstant{k20240501}, {}, {}, {}, {}, none, none, {}, none, {}}},
  };
  for (const auto& c : cases) {
    const auto file = tcx::read(
        document("<Activity><Lap><AverageHeartRateBpm><Value>139</Value></AverageHeartRateBpm>"
                 "<Track><Trackpoint>" +
                 c.trackpoint + "</Trackpoint></Track></Lap></Activity>"));
    ASSERT_TRUE(file) << c.trackpoint << ": " << file.error().display();
    ASSERT_EQ(file->point_count(), 1u);
    EXPECT_EQ(file->activities[0].segments[0].points[0], c.expected) << c.trackpoint;
  }
}

TEST(TcxReader, NormalizeSport) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"Biking", "cycling"},
      {" CYCLING\n", "cycling"},
      {"MultiSport", "multisport"},
      {"\xC2\xA0Swim ", "swim"},
      {"Bi king", "bi king"},
      {"\xC3\x89T\xC3\xA9", "\xC3\x89t\xC3\xA9"},  // only ASCII letters change case
  };
  for (const auto& c : cases) EXPECT_EQ(tcx::normalize_sport(c.in), c.out) << c.in;
}

TEST(TcxReader, Failures) {
  // A finished activity in a document that breaks off is no result.
  std::string truncated = document("<Activity></Activity>");
  truncated.resize(truncated.find("</Activities>"));
  const struct {
    std::string input, message;
  } cases[] = {
      {document("<Activity/><MultiSportSession>x</MultiSportSession>"), "no activities found"},
      {document("<Activity><Notes>a&nbsp;b</Notes></Activity>"), "unknown XML entity &nbsp;"},
      {truncated, ""},  // the XML library's words
  };
  for (const auto& c : cases) {
    const auto file = tcx::read(c.input);
    ASSERT_FALSE(file) << c.input;
    EXPECT_TRUE(file.error().display().starts_with("invalid TCX data: " + c.message))
        << file.error().display();
  }
}

}  // namespace
}  // namespace tramlix
