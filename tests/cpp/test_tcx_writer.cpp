#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "corpus.hpp"
#include "tcx/tcx.hpp"
#include "tramlix/omissions.hpp"

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
  const ActivityFile file{
      .activities = {
          // The reference time comes from the first timed point, here in the second segment; the
          // lap distance is the rise of the recorded distances. A
          // Trackpoint needs a Time: the untimed points go, and so does the Track they leave empty.
          {.name = "Fish & <Chips> 'n' \"peas\"\t",
           .sport = "CYCLING",
           .segments = {{{{.distance_m = 5.0}, {.distance_m = 12.5}}},
                        {{{.time = UtcInstant{k20240501 + 10}},
                          {.time = UtcInstant{k20240501 + 100, 500000000}}}}}},
          // No time anywhere: the epoch. Nothing to measure: the track metrics' -0.0.
          {.name = ""},
          {.start_time = UtcInstant{k20240501}}}};
  EXPECT_EQ(tcx::write(file),
            kHead + head("Biking", "2024-05-01T00:00:10+00:00", "90.5", "7.5") +
                "<Track><Trackpoint><Time>2024-05-01T00:00:10+00:00</Time></Trackpoint>"
                "<Trackpoint><Time>2024-05-01T00:01:40.500+00:00</Time></Trackpoint></Track>"
                "</Lap><Notes>Fish &amp; &lt;Chips&gt; &apos;n&apos; &quot;peas&quot;\t"
                "</Notes></Activity>" +
                head("Other", "1970-01-01T00:00:00+00:00", "0.0", "-0.0") +
                "</Lap><Notes></Notes></Activity>" +
                head("Other", "2024-05-01T00:00:00+00:00", "0.0", "-0.0") + "</Lap></Activity>" +
                kTail);
}

TEST(TcxWriter, SportAttribute) {
  // TCX names three sports; a multisport session is another element, not a Sport.
  const std::pair<std::optional<std::string>, std::string> cases[] = {
      {{}, "Other"},        {"", "Other"},         {"RUNNING", "Running"}, {"Running ", "Other"},
      {"BiKiNg", "Biking"}, {"cycling", "Biking"}, {"multisport", "Other"}};
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
      // Zeros are values, and both ends of the heart rate and cadence ranges. Numbers are
      // xsd:double, so the exponent form is fine, also for coordinates.
      {{.time = UtcInstant{0},
        .latitude = -90.0,
        .longitude = -0.000001,
        .elevation_m = -0.0,
        .heart_rate_bpm = 255,
        .cadence_rpm = 254,
        .power_watts = 0,
        .temperature_c = -32768},
       "<Time>1970-01-01T00:00:00+00:00</Time><Position><LatitudeDegrees>-90.0</LatitudeDegrees>"
       "<LongitudeDegrees>-1e-6</LongitudeDegrees></Position><AltitudeMeters>-0.0</AltitudeMeters>"
       "<HeartRateBpm><Value>255</Value></HeartRateBpm><Cadence>254</Cadence><Extensions><ns3:TPX>"
       "<ns3:Watts>0</ns3:Watts><ns3:Temperature>-32768</ns3:Temperature></ns3:TPX></Extensions>"},
      {{.time = UtcInstant{-62135596800}, .heart_rate_bpm = 1, .cadence_rpm = 0},
       "<Time>0001-01-01T00:00:00+00:00</Time><HeartRateBpm><Value>1</Value></HeartRateBpm>"
       "<Cadence>0</Cadence>"},
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

// What the schema does not accept is left out and counted, and the document stays valid.
TEST(TcxWriter, WhatTcxCannotCarryIsLeftOutAndCounted) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const UtcInstant t{k20240501};
  struct Case {
    TrackPoint point;
    std::string inner;  // of the Trackpoint; empty: the point is left out
    Omission reason;
    std::size_t count;
  };
  const std::string time = "<Time>2024-05-01T00:00:00+00:00</Time>";
  const Case cases[] = {
      {{.latitude = 45.0, .longitude = 7.0, .heart_rate_bpm = 100},
       "",
       Omission::PointWithoutTime,
       1},
      {{.time = UtcInstant{-62167219200}}, "", Omission::PointWithoutTime, 1},  // year 0
      {{.time = UtcInstant{1483228799, 1'000'000'000}}, "", Omission::PointWithoutTime, 1},  // :60
      {{.time = t, .heart_rate_bpm = 0}, time, Omission::OutOfRange, 1},
      {{.time = t, .heart_rate_bpm = 256}, time, Omission::OutOfRange, 1},
      {{.time = t, .cadence_rpm = 255}, time, Omission::OutOfRange, 1},
      {{.time = t, .latitude = 91.0, .longitude = 7.0}, time, Omission::OutOfRange, 2},
      {{.time = t, .latitude = 45.0, .longitude = kNan}, time, Omission::NotFinite, 2},
      {{.time = t, .latitude = 45.0}, time, Omission::IncompletePosition, 1},
      {{.time = t, .longitude = 7.0}, time, Omission::IncompletePosition, 1},
      {{.time = t, .latitude = 45.0, .longitude = 180.0},
       time + "<Position><LatitudeDegrees>45.0</LatitudeDegrees><LongitudeDegrees>-180.0"
              "</LongitudeDegrees></Position>",
       Omission::NotFinite,
       0},
      {{.time = t, .elevation_m = kInf, .distance_m = kNan, .speed_mps = -kInf},
       time,
       Omission::NotFinite,
       3},
      {{.time = t, .speed_mps = kNan, .power_watts = 7},
       time + "<Extensions><ns3:TPX><ns3:Watts>7</ns3:Watts></ns3:TPX></Extensions>",
       Omission::NotFinite,
       1},
  };
  ActivityFile all{.activities = {{}}};
  Omissions total;
  for (const Case& c : cases) {
    Omissions omitted;
    const std::string text = tcx::write({.activities = {{.segments = {{{c.point}}}}}}, &omitted);
    const std::string track =
        c.inner.empty() ? "" : "<Track><Trackpoint>" + c.inner + "</Trackpoint></Track>";
    EXPECT_TRUE(text.contains("<TriggerMethod>Manual</TriggerMethod>" + track + "</Lap>")) << text;
    Omissions expected;
    expected.add(c.reason, c.count);
    EXPECT_EQ(omitted, expected) << text;
    all.activities[0].segments.push_back({{c.point}});
    total.add(c.reason, c.count);
  }
  // Lap totals that are not numbers are written as 0 (they are figures, not model values).
  all.activities[0].summary.total_elapsed_seconds = kNan;
  all.activities[0].summary.total_distance_meters = -kInf;
  Omissions omitted;
  const std::string document = tcx::write(all, &omitted);
  EXPECT_EQ(omitted, total);
  EXPECT_TRUE(document.contains("<TotalTimeSeconds>0.0</TotalTimeSeconds><DistanceMeters>0.0<"));
  const auto schema = corpus::kDir / "xsd/TrainingCenterDatabasev2.xsd";
  if (const std::string why = corpus::schema_unavailable(schema); !why.empty()) GTEST_SKIP() << why;
  EXPECT_EQ(corpus::schema_errors(document, schema), "");
}

// Activity Ids are the document's key. The reference time skips a start time xsd:dateTime cannot
// carry; a time an earlier Id holds moves on a second at a time, back from the last second of
// year 9999. Lap StartTime keeps the reference time.
TEST(TcxWriter, ActivityIdsAreUnique) {
  constexpr std::int64_t kLast = 253402300799;  // 9999-12-31T23:59:59Z
  const auto timed = [](std::int64_t seconds) {
    return Activity{.start_time = UtcInstant{seconds}};
  };
  const Activity from_point{.start_time = UtcInstant{-62167219200},  // year 0
                            .segments = {{{{.time = UtcInstant{1}}}}}};
  struct Case {
    std::vector<Activity> activities;
    std::vector<std::string> ids;
    std::vector<std::string> lap_starts;
  };
  const std::string epoch = "1970-01-01T00:00:0";
  const Case cases[] = {
      {{{}, {}, timed(1), {}, from_point},
       {epoch + "0", epoch + "1", epoch + "2", epoch + "3", epoch + "4"},
       {epoch + "0", epoch + "0", epoch + "1", epoch + "0", epoch + "1"}},
      {{timed(kLast), timed(kLast), timed(kLast - 1)},
       {"9999-12-31T23:59:59", "9999-12-31T23:59:58", "9999-12-31T23:59:57"},
       {"9999-12-31T23:59:59", "9999-12-31T23:59:59", "9999-12-31T23:59:58"}},
  };
  for (const Case& c : cases) {
    const std::string text = tcx::write({.activities = c.activities});
    std::vector<std::string> ids, lap_starts;
    for (std::size_t at = 0; (at = text.find("<Id>", at)) != std::string::npos; ++at) {
      ids.push_back(text.substr(at + 4, 19));
      lap_starts.push_back(text.substr(text.find("<Lap StartTime=\"", at) + 16, 19));
    }
    EXPECT_EQ(ids, c.ids);
    EXPECT_EQ(lap_starts, c.lap_starts);
  }
}

}  // namespace
}  // namespace tramlix
