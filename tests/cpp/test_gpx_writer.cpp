#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "corpus.hpp"
#include "gpx/gpx.hpp"
#include "tramlix/omissions.hpp"

// Points are spelled with designated initializers; g++ 12 warns about every member left to its
// default, which is the point of them here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tramlix {
namespace {

std::string head(const std::string& creator) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><gpx version=\"1.1\" creator=\"" + creator +
         "\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
         "xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\">";
}

constexpr std::int64_t k20240501 = 1714521600;  // 2024-05-01T00:00:00Z

TEST(GpxWriter, DocumentAndActivities) {
  ActivityFile file;
  EXPECT_EQ(gpx::write(file), head("tramlix") + "</gpx>");
  file.creator = "";
  EXPECT_EQ(gpx::write(file), head("") + "</gpx>");
  file.creator = "Tom's <GPS> & \"co\"";
  Activity& named = file.activities.emplace_back();
  named.name = "Fish & <Chips>\t\xC3\xA9";
  named.sport = "Running ";
  named.sub_sport = "track";
  named.start_time = UtcInstant{k20240501, 0};
  named.summary.total_distance_meters = 10.0;
  named.segments.resize(2);
  file.activities.emplace_back().name = "";
  file.activities.emplace_back();
  EXPECT_EQ(gpx::write(file), head("Tom&apos;s &lt;GPS&gt; &amp; &quot;co&quot;") +
                                  "<trk><name>Fish &amp; &lt;Chips&gt;\t\xC3\xA9</name>"
                                  "<type>Running </type><trkseg></trkseg><trkseg></trkseg></trk>"
                                  "<trk><name></name></trk><trk></trk></gpx>");
}

TEST(GpxWriter, PointsAndTheirReadBack) {
  // time, lat, lon, ele, distance, hr, cad, speed, power, temp
  const std::pair<TrackPoint, std::string> cases[] = {
      {{UtcInstant{k20240501 + 23400, 0}, 52.5, 13.4, 34.0, 1200.5, 140, 85, 3.2, 210, 21},
       "<trkpt lat=\"52.5\" lon=\"13.4\"><ele>34.0</ele><time>2024-05-01T06:30:00+00:00</time>"
       "<extensions><gpxtpx:TrackPointExtension><gpxtpx:atemp>21</gpxtpx:atemp>"
       "<gpxtpx:hr>140</gpxtpx:hr><gpxtpx:cad>85</gpxtpx:cad><gpxtpx:speed>3.2</gpxtpx:speed>"
       "<gpxtpx:power>210</gpxtpx:power><gpxtpx:distance>1200.5</gpxtpx:distance>"
       "</gpxtpx:TrackPointExtension></extensions></trkpt>"},
      // Zero is a value; speed may take the exponent form.
      {{{}, 0.0, -0.0, {}, {}, 0, {}, 0.000001, 65535, -32768},
       "<trkpt lat=\"0.0\" lon=\"-0.0\"><extensions><gpxtpx:TrackPointExtension>"
       "<gpxtpx:atemp>-32768</gpxtpx:atemp><gpxtpx:hr>0</gpxtpx:hr><gpxtpx:speed>1e-6"
       "</gpxtpx:speed><gpxtpx:power>65535</gpxtpx:power></gpxtpx:TrackPointExtension>"
       "</extensions></trkpt>"},
      // Coordinates and elevation are XML Schema decimals, never in exponent form; a distance
      // alone still gets the whole extension block. Latitude -90 is in range.
      {{{}, -90.0, -179.99999999999997, -5e-7, 1e16, {}, {}, {}, {}, {}},
       "<trkpt lat=\"-90.0\" lon=\"-179.99999999999997\"><ele>-0.0000005</ele><extensions>"
       "<gpxtpx:TrackPointExtension><gpxtpx:distance>1e16</gpxtpx:distance>"
       "</gpxtpx:TrackPointExtension></extensions></trkpt>"},
      {{UtcInstant{253402300799, 999999999}, 90.0, 0.000001, {}, {}, {}, {}, {}, {}, {}},
       "<trkpt lat=\"90.0\" lon=\"0.000001\"><time>9999-12-31T23:59:59.999999999+00:00</time>"
       "</trkpt>"},
  };
  for (const auto& [point, trkpt] : cases) {
    ActivityFile file;
    file.activities.emplace_back().segments.emplace_back().points.push_back(point);
    const std::string text = gpx::write(file);
    EXPECT_EQ(text, head("tramlix") + "<trk><trkseg>" + trkpt + "</trkseg></trk></gpx>");
    EXPECT_EQ(gpx::read(text).value().activities[0].segments[0].points[0], point) << trkpt;
  }
}

// GPX wants a position in range on every trkpt, a decimal for ele and an xsd:dateTime for time:
// what does not fit is left out and counted, and the document stays valid.
TEST(GpxWriter, WhatGpxCannotCarryIsLeftOutAndCounted) {
  constexpr double kNan = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const UtcInstant year0{-62167219200, 0};           // 0000-01-01T00:00:00Z
  const UtcInstant leap{1483228799, 1'500'000'000};  // 2016-12-31T23:59:60.5Z
  const UtcInstant t{k20240501, 0};
  struct Case {
    TrackPoint point;
    std::string trkpt;  // empty: the point is left out
    Omission reason;
    std::size_t count;
  };
  const std::string time = "<time>2024-05-01T00:00:00+00:00</time>";
  const Case cases[] = {
      {{.time = t, .longitude = 7.0}, "", Omission::PointWithoutPosition, 1},
      {{.time = t, .latitude = 45.0}, "", Omission::PointWithoutPosition, 1},
      {{.time = t, .latitude = 90.000001, .longitude = 7.0}, "", Omission::PointWithoutPosition, 1},
      {{.time = t, .latitude = 45.0, .longitude = -180.5}, "", Omission::PointWithoutPosition, 1},
      {{.time = t, .latitude = kNan, .longitude = 7.0}, "", Omission::PointWithoutPosition, 1},
      {{.time = t, .latitude = 45.0, .longitude = kInf}, "", Omission::PointWithoutPosition, 1},
      // 180 is the meridian of -180, which is how GPX has it.
      {{.time = t, .latitude = 45.0, .longitude = 180.0},
       "<trkpt lat=\"45.0\" lon=\"-180.0\">" + time + "</trkpt>",
       Omission::NotFinite,
       0},
      {{.time = t,
        .latitude = 45.0,
        .longitude = 7.0,
        .elevation_m = kNan,
        .distance_m = -kInf,
        .heart_rate_bpm = 150,
        .speed_mps = kInf},
       "<trkpt lat=\"45.0\" lon=\"7.0\">" + time +
           "<extensions><gpxtpx:TrackPointExtension><gpxtpx:hr>150</gpxtpx:hr>"
           "</gpxtpx:TrackPointExtension></extensions></trkpt>",
       Omission::NotFinite,
       3},
      // No extension block at all when its only value goes.
      {{.time = t, .latitude = 45.0, .longitude = 7.0, .speed_mps = kNan},
       "<trkpt lat=\"45.0\" lon=\"7.0\">" + time + "</trkpt>",
       Omission::NotFinite,
       1},
      {{.time = year0, .latitude = 45.0, .longitude = 7.0},
       "<trkpt lat=\"45.0\" lon=\"7.0\"></trkpt>",
       Omission::OutOfRange,
       1},
      {{.time = leap, .latitude = 45.0, .longitude = 7.0},
       "<trkpt lat=\"45.0\" lon=\"7.0\"></trkpt>",
       Omission::OutOfRange,
       1},
  };
  ActivityFile all;
  Segment& every = all.activities.emplace_back().segments.emplace_back();
  Omissions total;
  for (const Case& c : cases) {
    ActivityFile file;
    file.activities.emplace_back().segments.emplace_back().points = {c.point};
    Omissions omitted;
    EXPECT_EQ(gpx::write(file, &omitted),
              head("tramlix") + "<trk><trkseg>" + c.trkpt + "</trkseg></trk></gpx>");
    Omissions expected;
    expected.add(c.reason, c.count);
    EXPECT_EQ(omitted, expected) << c.trkpt;
    every.points.push_back(c.point);
    total.add(c.reason, c.count);
  }
  Omissions omitted;
  const std::string document = gpx::write(all, &omitted);
  EXPECT_EQ(omitted, total);
  const auto schema = corpus::kDir / "xsd/gpx-1.1.xsd";
  if (const std::string why = corpus::schema_unavailable(schema); !why.empty()) GTEST_SKIP() << why;
  EXPECT_EQ(corpus::schema_errors(document, schema), "");
}

TEST(GpxWriter, ManyPointsReadBack) {
  ActivityFile file;
  file.creator = "tramlix";  // as the reader sets it
  Activity& activity = file.activities.emplace_back();
  activity.start_time = UtcInstant{k20240501, 0};  // the reader takes it from the first point
  for (int i = 0; i < 3000; ++i) {
    if (i % 1000 == 0) activity.segments.emplace_back();
    const double x = i;
    activity.segments.back().points.push_back({UtcInstant{k20240501 + i, i * 1000u}, 45 + x / 1e5,
                                               x / -1e7, x / 10, x * 3.7, i % 140, i % 200, x / 7,
                                               i, i % 80 - 40});
  }
  EXPECT_EQ(gpx::read(gpx::write(file)).value(), file);
}

}  // namespace
}  // namespace tramlix
