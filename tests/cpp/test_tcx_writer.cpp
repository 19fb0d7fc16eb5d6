#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "tcx/tcx.hpp"

// Models are spelled with designated initializers; g++ 12 warns about every member left to its
// default, which is the point of them here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tramlix {
namespace {

constexpr std::int64_t k20240501 = 1714521600;  // 2024-05-01T00:00:00Z

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><TrainingCenterDatabase "
    "xmlns=\"http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2\" "
    "xmlns:ns3=\"http://www.garmin.com/xmlschemas/ActivityExtension/v2\"><Activities>";
const std::string kTail = "</Activities></TrainingCenterDatabase>";

// An Activity up to its tracks; the schema wants TriggerMethod before them.
std::string head(const std::string& sport, const std::string& time, const char* seconds,
                 const char* meters) {
  return "<Activity Sport=\"" + sport + "\"><Id>" + time + "</Id><Lap StartTime=\"" + time +
         "\"><TotalTimeSeconds>" + seconds + "</TotalTimeSeconds><DistanceMeters>" + meters +
         "</DistanceMeters><Calories>0</Calories><Intensity>Active</Intensity>"
         "<TriggerMethod>Manual</TriggerMethod>";
}

TEST(TcxWriter, Documents) {
  EXPECT_EQ(tcx::write(ActivityFile{}), kHead + kTail);
  const ActivityFile file{.activities = {
      // The reference time comes from the first timed point, here in the second segment; the
      // lap distance is the rise of the recorded distances.
      {.name = "Fish & <Chips> 'n' \"peas\"\t", .sport = "CYCLING",
       .segments = {{{{.distance_m = 5.0}, {.distance_m = 12.5}}},
                    {{{.time = UtcInstant{k20240501 + 10}},
                      {.time = UtcInstant{k20240501 + 100, 500000000}}}}}},
      // No time anywhere: the epoch. Nothing to measure: the track metrics' -0.0.
      {.name = ""},
      {.start_time = UtcInstant{k20240501}}}};
  EXPECT_EQ(tcx::write(file),
            kHead + head("Biking", "2024-05-01T00:00:10+00:00", "90.5", "7.5") +
                "<Track><Trackpoint><DistanceMeters>5.0</DistanceMeters></Trackpoint><Trackpoint>"
                "<DistanceMeters>12.5</DistanceMeters></Trackpoint></Track><Track><Trackpoint><Time>2024-05-01T00:00:10+00:00</Time>"
                "</Trackpoint><Trackpoint><Time>2024-05-01T00:01:40.500+00:00</Time></Trackpoint>"
                "</Track></Lap><Notes>Fish &amp; &lt;Chips&gt; &apos;n&apos; &quot;peas&quot;\t"
                "</Notes></Activity>" + head("Other", "1970-01-01T00:00:00+00:00", "0.0", "-0.0") +
                "</Lap><Notes></Notes></Activity>" +
                head("Other", "2024-05-01T00:00:00+00:00", "0.0", "-0.0") + "</Lap></Activity>" +
                kTail);
}

TEST(TcxWriter, SportAttribute) {
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {{}, "Other"},        {"", "Other"},         {"RUNNING", "Running"}, {"Running ", "Other"},
      {"BiKiNg", "Biking"}, {"cycling", "Biking"}, {"multisport", "MultiSport"}};
  for (const auto& [sport, attribute] : cases) {
    const std::string text = tcx::write({.activities = {{.sport = sport}}});
    EXPECT_TRUE(text.contains("<Activity Sport=\"" + attribute + "\">")) << text;
  }
}

// Each point is also read back as it was.
TEST(TcxWriter, Trackpoints) {
  const std::pair<TrackPoint, std::string> cases[] = {
      {{UtcInstant{k20240501 + 23400}, 52.5, 13.4, 34.0, 1200.5, 140, 85, 3.2, 210, 21},
       "<Time>2024-05-01T06:30:00+00:00</Time><Position><LatitudeDegrees>52.5</LatitudeDegrees>"
       "<LongitudeDegrees>13.4</LongitudeDegrees></Position><AltitudeMeters>34.0</AltitudeMeters>"
       "<DistanceMeters>1200.5</DistanceMeters><HeartRateBpm><Value>140</Value></HeartRateBpm>"
       "<Cadence>85</Cadence><Extensions><ns3:TPX><ns3:Speed>3.2</ns3:Speed><ns3:Watts>210"
       "</ns3:Watts><ns3:Temperature>21</ns3:Temperature></ns3:TPX></Extensions>"},
      // Zeros are values; a lone coordinate still gets its Position. Numbers are xsd:double, so
      // the exponent form is fine, also for coordinates.
      {{.longitude = -0.000001, .elevation_m = -std::numeric_limits<double>::infinity(),
        .heart_rate_bpm = 0, .cadence_rpm = 65535, .power_watts = 0, .temperature_c = -32768},
       "<Position><LongitudeDegrees>-1e-6</LongitudeDegrees></Position><AltitudeMeters>-inf"
       "</AltitudeMeters><HeartRateBpm><Value>0</Value></HeartRateBpm><Cadence>65535</Cadence>"
       "<Extensions><ns3:TPX><ns3:Watts>0</ns3:Watts><ns3:Temperature>-32768</ns3:Temperature>"
       "</ns3:TPX></Extensions>"},
      {{.latitude = 1e-7}, "<Position><LatitudeDegrees>1e-7</LatitudeDegrees></Position>"},
  };
  for (const auto& [point, inner] : cases) {
    const std::string text = tcx::write({.activities = {{.segments = {{{point}}}}}});
    EXPECT_TRUE(text.contains("<Track><Trackpoint>" + inner + "</Trackpoint></Track></Lap>"))
        << text;
    const auto back = tcx::read(text);
    ASSERT_TRUE(back) << back.error().display();
    EXPECT_EQ(back->activities[0].segments[0].points[0], point) << text;
  }
}

}  // namespace
}  // namespace tramlix
