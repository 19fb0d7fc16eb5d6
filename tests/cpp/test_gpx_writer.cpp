#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "gpx/gpx.hpp"

namespace tramlix {
namespace {

const std::string kHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><gpx version=\"1.1\" creator=\"tramlix\" "
    "xmlns=\"http://www.topografix.com/GPX/1/1\" "
    "xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\">";

ActivityFile file_with_point(const TrackPoint& point) {
  ActivityFile file;
  file.activities.emplace_back().segments.emplace_back().points.push_back(point);
  return file;
}

std::string point_document(const std::string& trkpt) {
  return kHead + "<trk><trkseg>" + trkpt + "</trkseg></trk></gpx>";
}

std::string extension(const std::string& values) {
  return "<extensions><gpxtpx:TrackPointExtension>" + values +
         "</gpxtpx:TrackPointExtension></extensions>";
}

constexpr std::int64_t k20240501 = 1714521600;  // 2024-05-01T00:00:00Z

TEST(GpxWriter, DocumentLevel) {
  ActivityFile file;
  EXPECT_EQ(gpx::write(file), kHead + "</gpx>");

  file.creator = "";
  EXPECT_EQ(gpx::write(file).substr(0, 74),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><gpx version=\"1.1\" creator=\"\" xmlns=");

  file.creator = "Tom's <GPS> & \"co\"";
  EXPECT_NE(
      gpx::write(file).find(" creator=\"Tom&apos;s &lt;GPS&gt; &amp; &quot;co&quot;\" xmlns="),
      std::string::npos);
}

TEST(GpxWriter, Activities) {
  ActivityFile file;
  Activity& named = file.activities.emplace_back();
  named.name = "Fish & <Chips>\t\xC3\xA9";
  named.sport = "Running ";
  named.sub_sport = "track";
  named.start_time = UtcInstant{k20240501, 0};
  named.summary.total_distance_meters = 10.0;
  named.segments.resize(2);
  Activity& bare = file.activities.emplace_back();
  bare.name = "";
  file.activities.emplace_back();
  EXPECT_EQ(gpx::write(file), kHead +
                                  "<trk><name>Fish &amp; &lt;Chips&gt;\t\xC3\xA9</name>"
                                  "<type>Running </type><trkseg></trkseg><trkseg></trkseg></trk>"
                                  "<trk><name></name></trk><trk></trk></gpx>");
}

TEST(GpxWriter, Points) {
  TrackPoint full;
  full.latitude = 52.5;
  full.longitude = 13.4;
  full.elevation_m = 34.0;
  full.time = UtcInstant{k20240501 + 6 * 3600 + 30 * 60, 0};
  full.temperature_c = 21;
  full.heart_rate_bpm = 140;
  full.cadence_rpm = 85;
  full.speed_mps = 3.2;
  full.power_watts = 210;
  full.distance_m = 1200.5;

  const auto with = [](auto setter) {
    TrackPoint point;
    setter(point);
    return point;
  };
  const struct {
    TrackPoint point;
    std::string trkpt;
  } cases[] = {
      {full,
       "<trkpt lat=\"52.5\" lon=\"13.4\"><ele>34.0</ele><time>2024-05-01T06:30:00+00:00</time>"
       "<extensions><gpxtpx:TrackPointExtension><gpxtpx:atemp>21</gpxtpx:atemp>"
       "<gpxtpx:hr>140</gpxtpx:hr><gpxtpx:cad>85</gpxtpx:cad><gpxtpx:speed>3.2</gpxtpx:speed>"
       "<gpxtpx:power>210</gpxtpx:power><gpxtpx:distance>1200.5</gpxtpx:distance>"
       "</gpxtpx:TrackPointExtension></extensions></trkpt>"},
      {TrackPoint{}, "<trkpt></trkpt>"},
      {with([](TrackPoint& p) { p.longitude = -0.5; }), "<trkpt lon=\"-0.5\"></trkpt>"},
      {with([](TrackPoint& p) {
         p.time = UtcInstant{k20240501, 0};
       }),
       "<trkpt><time>2024-05-01T00:00:00+00:00</time></trkpt>"},
      {with([](TrackPoint& p) { p.distance_m = 1e16; }),
       "<trkpt>" + extension("<gpxtpx:distance>1e16</gpxtpx:distance>") + "</trkpt>"},
      {with([](TrackPoint& p) {
         p.temperature_c = -4;
         p.heart_rate_bpm = 0;
         p.speed_mps = 0.000001;
         p.power_watts = 65535;
       }),
       "<trkpt>" +
           extension("<gpxtpx:atemp>-4</gpxtpx:atemp><gpxtpx:hr>0</gpxtpx:hr>"
                     "<gpxtpx:speed>1e-6</gpxtpx:speed><gpxtpx:power>65535</gpxtpx:power>") +
           "</trkpt>"},
      {with([](TrackPoint& p) { p.temperature_c = -32768; }),
       "<trkpt>" + extension("<gpxtpx:atemp>-32768</gpxtpx:atemp>") + "</trkpt>"},
      // Coordinates and elevation are XML Schema decimals: never in exponent form.
      {with([](TrackPoint& p) {
         p.latitude = 0.000001;
         p.longitude = 1e16;
         p.elevation_m = -5e-7;
       }),
       "<trkpt lat=\"0.000001\" lon=\"10000000000000000.0\"><ele>-0.0000005</ele></trkpt>"},
      {with([](TrackPoint& p) {
         p.latitude = std::numeric_limits<double>::quiet_NaN();
         p.longitude = -std::numeric_limits<double>::infinity();
         p.speed_mps = std::numeric_limits<double>::infinity();
       }),
       "<trkpt lat=\"NaN\" lon=\"-inf\">" + extension("<gpxtpx:speed>inf</gpxtpx:speed>") +
           "</trkpt>"},
      {with([](TrackPoint& p) {
         p.time = UtcInstant{k20240501, 500000000};
       }),
       "<trkpt><time>2024-05-01T00:00:00.500+00:00</time></trkpt>"},
      {with([](TrackPoint& p) {
         p.time = UtcInstant{k20240501, 1000};
       }),
       "<trkpt><time>2024-05-01T00:00:00.000001+00:00</time></trkpt>"},
      {with([](TrackPoint& p) {
         p.time = UtcInstant{k20240501, 1};
       }),
       "<trkpt><time>2024-05-01T00:00:00.000000001+00:00</time></trkpt>"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gpx::write(file_with_point(c.point)), point_document(c.trkpt));
  }
}

TEST(GpxWriter, ManyPointsReadBack) {
  ActivityFile file;
  Activity& activity = file.activities.emplace_back();
  for (int s = 0; s < 3; ++s) {
    Segment& segment = activity.segments.emplace_back();
    for (int i = 0; i < 1000; ++i) {
      TrackPoint point;
      point.latitude = 45.0 + i * 1e-5;
      point.longitude = -(i * 1.0e-7);
      point.elevation_m = i * 0.1;
      point.time = UtcInstant{k20240501 + s * 1000 + i, static_cast<std::uint32_t>(i) * 1000};
      point.heart_rate_bpm = static_cast<std::uint16_t>(60 + i % 140);
      point.distance_m = i * 3.7;
      segment.points.push_back(point);
    }
  }
  const std::string text = gpx::write(file);
  const auto back = gpx::read(text);
  ASSERT_TRUE(back) << back.error().display();
  // The reader fills start_time and sets the creator; everything else must survive.
  activity.start_time = activity.segments[0].points[0].time;
  file.creator = "tramlix";
  EXPECT_EQ(*back, file);
}

}  // namespace
}  // namespace tramlix
