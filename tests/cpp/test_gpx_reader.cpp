#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gpx/gpx.hpp"

namespace tramlix {
namespace {

std::string document(std::string_view body) {
  return "<?xml version='1.0'?><gpx creator='Some Device'>\n" + std::string(body) + "</gpx>";
}

// Segment sizes per activity: {{2, 0}, {}} is two activities, the first with segments of two
// points and of none, the second without segments.
using Shape = std::vector<std::vector<std::size_t>>;

Shape shape_of(const ActivityFile& file) {
  Shape shape;
  for (const Activity& activity : file.activities) {
    auto& sizes = shape.emplace_back();
    for (const Segment& segment : activity.segments) sizes.push_back(segment.points.size());
  }
  return shape;
}

void expect_invalid(std::string_view input, std::string_view message) {
  const auto result = gpx::read(input);
  ASSERT_FALSE(result) << input;
  EXPECT_EQ(result.error().kind(), Error::Kind::InvalidData);
  EXPECT_EQ(result.error().format(), "GPX");
  EXPECT_TRUE(message.empty() || result.error().message() == message) << result.error().message();
}

TEST(GpxReader, TracksSegmentsAndPoints) {
  // An empty shape: the read fails with "no track segments found".
  const std::pair<std::string, Shape> cases[] = {
      // Self-closing points and segments count as with an end tag.
      {"<trk><trkseg><trkpt></trkpt><trkpt/></trkseg><trkseg></trkseg><trkseg/></trk>",
       {{2, 0, 0}}},
      {"<trk><trkseg><trkpt lat='1' lon='2'/><trkpt/></trkseg></trk><trk><trkpt/></trk>",
       {{2}, {}}},
      {"<trk/><trk></trk><trk><trkseg/></trk><trk><name>x</name></trk>", {{}, {0}, {}}},
      {"<trk><name>x</name></trk><rte><rtept lat='1' lon='2'></rtept></rte>", {}},
      // Points outside a trkseg, and segments outside a trk, are dropped.
      {"<trk><trkpt></trkpt><trkseg></trkseg><trkpt></trkpt></trk>", {{0}}},
      {"<trkseg><trkpt></trkpt></trkseg>", {}},
      // A trk inside an unfinished trk replaces it; the root element is not checked.
      {"<other><trk><trkseg/><trk><trkseg/><trkseg/></trk></trk></other>", {{0, 0}}},
  };
  for (const auto& [body, shape] : cases) {
    const auto result = gpx::read(document(body));
    EXPECT_EQ(result ? shape_of(*result) : Shape{}, shape) << body;
    EXPECT_TRUE(result || result.error().message() == "no track segments found") << body;
    EXPECT_TRUE(!result || (result->creator == "tramlix" && !result->device_info)) << body;
  }
}

constexpr std::int64_t k20240501 = 1714521600;  // 2024-05-01T00:00:00Z

TEST(GpxReader, PointValues) {
  // time, lat, lon, ele, distance, hr, cad, speed, power, temp
  const std::pair<std::string, TrackPoint> cases[] = {
      // Local names only: any prefix or none, at any depth.
      {"<trkpt p:lat=' 1.5 ' lon='x'><temp>-4</temp><watts>300</watts><extensions><a><ns3:b>"
       "<hr>140</hr></ns3:b></a></extensions></trkpt>",
       {{}, 1.5, {}, {}, {}, 140, {}, {}, 300, -4}},
      // Each field has its own type; a failed conversion clears an earlier value, a
      // self-closing element carries nothing.
      {"<trkpt><hr>150</hr><hr>150.0</hr><cad>90</cad><cad/><atemp>-32768</atemp>"
       "<power>+65535</power></trkpt>",
       {{}, {}, {}, {}, {}, {}, 90, {}, 65535, -32768}},
      // A self-closing point keeps its position.
      {"<trkpt lat='46.05' lon='14.50'/>", {{}, 46.05, 14.5, {}, {}, {}, {}, {}, {}, {}}},
      // Times without an offset are UTC, with a fraction of any length and RFC 3339's t and z.
      {"<trkpt><time>2024-05-01T00:00:00.250000</time></trkpt>",
       {UtcInstant{k20240501, 250'000'000}, {}, {}, {}, {}, {}, {}, {}, {}, {}}},
      {"<trkpt><time>2024-05-01t00:00:00.1234567891z</time></trkpt>",
       {UtcInstant{k20240501, 123'456'789}, {}, {}, {}, {}, {}, {}, {}, {}, {}}},
  };
  for (const auto& [point, expected] : cases) {
    const auto result = gpx::read(document("<trk><trkseg>" + point + "</trkseg></trk>"));
    ASSERT_TRUE(result) << point << ": " << result.error().display();
    ASSERT_EQ(shape_of(*result), (Shape{{1}})) << point;
    EXPECT_EQ(result->activities[0].segments[0].points[0], expected) << point;
  }
}

// Read whole and cut at every byte. Pretty-printers put XML white space around a time; white
// space inside makes it invalid.
const std::string kTracks = document(
    "<metadata><name>meta</name></metadata><trk><name> First &amp; &#65;<![CDATA[<b>]]> </name>"
    "<name>Second</name><type>cycling</type><type> \tRunning\n</type><desc>&nbsp;</desc><!-- c -->"
    "<trkseg><trkpt lat=\"1\" lon='2'><time>2024-05-01 T00:00:00Z</time></trkpt>"
    "<trkpt><time>\n \t2024-05-01T02:00:05+02:00\r\n  </time></trkpt>"
    "<trkpt><time>2024-05-01T00:00:01Z</time></trkpt></trkseg></trk>"
    "<trk><trkseg><trkpt><name>p</name><type>t</type></trkpt><trkpt lat='3' lon='4'/></trkseg>"
    "<name></name></trk>");

TEST(GpxReader, ActivityNameTypeAndStartTime) {
  const auto result = gpx::read(kTracks);
  ASSERT_TRUE(result) << result.error().display();
  ASSERT_EQ(shape_of(*result), (Shape{{3}, {2}}));
  const auto& activities = result->activities;
  EXPECT_EQ(activities[0].name, " First & A<b> ");
  EXPECT_EQ(activities[0].sport, "Running");
  EXPECT_EQ(activities[0].start_time, (UtcInstant{k20240501 + 5, 0}));
  EXPECT_EQ(activities[1].name, "");
  EXPECT_FALSE(activities[1].sport);
  EXPECT_FALSE(activities[1].start_time);
}

TEST(GpxReaderHostile, EveryTruncationFails) {
  const std::size_t root_end = kTracks.rfind('>') + 1;
  for (std::size_t cut = 0; cut < root_end; ++cut)
    expect_invalid(std::string_view(kTracks).substr(0, cut), "");
}

TEST(GpxReaderHostile, MalformedOrAbusiveDocumentsFail) {
  std::string nested = "<gpx>";
  for (int i = 0; i < 100000; ++i) nested += "<trk>";
  for (int i = 0; i < 100000; ++i) nested += "</trk>";
  expect_invalid(nested + "</gpx>", "no track segments found");
  expect_invalid("<gpx><trk><name>\xC3\x28</name><trkseg/></trk></gpx>", "");
  expect_invalid("<gpx><trk><na\xFFme></na\xFFme><trkseg/></trk></gpx>", "");
  expect_invalid("<gpx><trk><trkseg><trkpt lat='1' lat='2'></trkpt></trkseg></trk></gpx>", "");
  expect_invalid(document("<trk><name>a&nbsp;b</name><trkseg/></trk>"),
                 "unknown XML entity &nbsp;");
}

}  // namespace
}  // namespace tramlix
