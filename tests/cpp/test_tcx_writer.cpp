#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "tcx/tcx.hpp"

namespace tramlix {
namespace {

constexpr std::int64_t k20240501 = 1714521600;  // 2024-05-01T00:00:00Z

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><TrainingCenterDatabase "
    "xmlns=\"http://www.garmin.com/xmlschemas/TrainingCenterDatabase/v2\" "
    "xmlns:ns3=\"http://www.garmin.com/xmlschemas/ActivityExtension/v2\"><Activities>";
const std::string kTail = "</Activities></TrainingCenterDatabase>";

template <class Set>
TrackPoint point(Set set) {
  TrackPoint p;
  set(p);
  return p;
}

std::string lap_head(const std::string& time, const std::string& seconds,
                     const std::string& meters) {
  return "<Id>" + time + "</Id><Lap StartTime=\"" + time + "\"><TotalTimeSeconds>" + seconds +
         "</TotalTimeSeconds><DistanceMeters>" + meters +
         "</DistanceMeters><Calories>0</Calories><Intensity>Active</Intensity>"
         "<TriggerMethod>Manual</TriggerMethod>";
}

TEST(TcxWriter, Documents) {
  EXPECT_EQ(tcx::write(ActivityFile{}), kHead + kTail);

  ActivityFile file;
  Activity& named = file.activities.emplace_back();
  named.name = "Fish & <Chips> 'n' \"peas\"\t";
  named.sport = "CYCLING";
  // The reference time comes from the first timed point, here in the second segment.
  named.segments.resize(2);
  named.segments[0].points.push_back(point([](TrackPoint& p) { p.distance_m = 5.0; }));
  named.segments[1].points = {point([](TrackPoint& p) { p.time = UtcInstant{k20240501 + 10}; }),
                              point([](TrackPoint& p) { p.time = UtcInstant{k20240501 + 100}; })};
  named.segments[1].points[1].time->nanoseconds = 500000000;
  // No time anywhere: the epoch. Nothing to measure: the track metrics' -0.0.
  file.activities.emplace_back().name = "";
  file.activities.emplace_back().start_time = UtcInstant{k20240501, 0};

  const std::string text = tcx::write(file);
  EXPECT_EQ(text, kHead + "<Activity Sport=\"Biking\">" +
                      lap_head("2024-05-01T00:00:10+00:00", "90.5", "5.0") +
                      "<Track><Trackpoint><DistanceMeters>5.0</DistanceMeters></Trackpoint></Track>"
                      "<Track><Trackpoint><Time>2024-05-01T00:00:10+00:00</Time></Trackpoint>"
                      "<Trackpoint><Time>2024-05-01T00:01:40.500+00:00</Time></Trackpoint></Track>"
                      "</Lap><Notes>Fish &amp; &lt;Chips&gt; &apos;n&apos; &quot;peas&quot;\t"
                      "</Notes></Activity><Activity Sport=\"Other\">" +
                      lap_head("1970-01-01T00:00:00+00:00", "0.0", "-0.0") +
                      "</Lap><Notes></Notes></Activity><Activity Sport=\"Other\">" +
                      lap_head("2024-05-01T00:00:00+00:00", "0.0", "-0.0") + "</Lap></Activity>" +
                      kTail);
  // The Notes after the Id carry the name back.
  const auto back = tcx::read(text);
  ASSERT_TRUE(back) << back.error().display();
  EXPECT_EQ(back->activities.at(0).name, file.activities[0].name);
  EXPECT_EQ(back->activities.at(1).name, "");
}

TEST(TcxWriter, SportAttribute) {
  const struct {
    std::optional<std::string> sport;
    std::string attribute;
  } cases[] = {
      {std::nullopt, "Other"}, {"", "Other"},         {"running", "Running"},
      {"RUNNING", "Running"},  {"Running ", "Other"}, {"cycling", "Biking"},
      {"BiKiNg", "Biking"},    {"walking", "Other"},  {"multisport", "MultiSport"},
  };
  for (const auto& c : cases) {
    ActivityFile file;
    file.activities.emplace_back().sport = c.sport;
    EXPECT_NE(tcx::write(file).find("<Activity Sport=\"" + c.attribute + "\"><Id>"),
              std::string::npos)
        << c.sport.value_or("(absent)");
  }
}

// Each point written and read back on its own.
TEST(TcxWriter, Trackpoints) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const UtcInstant half_past_six{k20240501 + 6 * 3600 + 30 * 60, 0};
  const TrackPoint full{half_past_six, 52.5, 13.4, 34.0, 1200.5, 140, 85, 3.2, 210, 21};
  const struct {
    TrackPoint point;
    std::string trackpoint;
  } cases[] = {
      {full,
       "<Trackpoint><Time>2024-05-01T06:30:00+00:00</Time><Position><LatitudeDegrees>52.5"
       "</LatitudeDegrees><LongitudeDegrees>13.4</LongitudeDegrees></Position><AltitudeMeters>"
       "34.0</AltitudeMeters><DistanceMeters>1200.5</DistanceMeters><HeartRateBpm><Value>140"
       "</Value></HeartRateBpm><Cadence>85</Cadence><Extensions><ns3:TPX><ns3:Speed>3.2"
       "</ns3:Speed><ns3:Watts>210</ns3:Watts><ns3:Temperature>21</ns3:Temperature></ns3:TPX>"
       "</Extensions></Trackpoint>"},
      {TrackPoint{}, "<Trackpoint></Trackpoint>"},
      {point([](TrackPoint& p) { p.longitude = -0.5; }),
       "<Trackpoint><Position><LongitudeDegrees>-0.5</LongitudeDegrees></Position></Trackpoint>"},
      // TCX numbers are xsd:double: the exponent form is fine, also for coordinates.
      {point([](TrackPoint& p) { p.latitude = 0.000001, p.elevation_m = -kInf; }),
       "<Trackpoint><Position><LatitudeDegrees>1e-6</LatitudeDegrees></Position>"
       "<AltitudeMeters>-inf</AltitudeMeters></Trackpoint>"},
      {point([](TrackPoint& p) { p.heart_rate_bpm = 0; }),
       "<Trackpoint><HeartRateBpm><Value>0</Value></HeartRateBpm></Trackpoint>"},
      {point([](TrackPoint& p) { p.temperature_c = -32768; }),
       "<Trackpoint><Extensions><ns3:TPX><ns3:Temperature>-32768</ns3:Temperature></ns3:TPX>"
       "</Extensions></Trackpoint>"},
      {point([](TrackPoint& p) { p.cadence_rpm = 65535, p.power_watts = 0; }),
       "<Trackpoint><Cadence>65535</Cadence><Extensions><ns3:TPX><ns3:Watts>0</ns3:Watts>"
       "</ns3:TPX></Extensions></Trackpoint>"},
  };
  for (const auto& c : cases) {
    ActivityFile file;
    file.activities.emplace_back().segments.emplace_back().points.push_back(c.point);
    const std::string text = tcx::write(file);
    EXPECT_NE(text.find("<Track>" + c.trackpoint + "</Track></Lap></Activity>"), std::string::npos)
        << text;
    const auto back = tcx::read(text);
    ASSERT_TRUE(back) << back.error().display();
    EXPECT_EQ(back->activities[0].segments[0].points[0], c.point) << text;
  }
}

}  // namespace
}  // namespace tramlix
