#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gpx/gpx.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

std::string document(std::string_view body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<gpx version=\"1.1\" creator=\"Some Device\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
         "xmlns:gpxtpx=\"http://www.garmin.com/xmlschemas/TrackPointExtension/v2\">\n" +
         std::string(body) + "\n</gpx>\n";
}

std::string one_point(std::string_view point) {
  return document("<trk><trkseg>" + std::string(point) + "</trkseg></trk>");
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
  if (!message.empty()) {
    EXPECT_EQ(result.error().message(), message) << input;
  }
}

TEST(GpxReader, TracksSegmentsAndPoints) {
  const struct {
    std::string body;
    std::optional<Shape> shape;  // absent: "no track segments found"
  } cases[] = {
      {"<trk><trkseg><trkpt lat='1' lon='2'></trkpt><trkpt/></trkseg></trk>", Shape{{1}}},
      {"<trk><trkseg><trkpt lat='1' lon='2'/></trkseg></trk>", Shape{{0}}},
      {"<trk><trkseg></trkseg></trk>", Shape{{0}}},
      {"<trk><trkseg/><trkseg/></trk>", Shape{{0, 0}}},
      {"<trk><trkseg><trkpt></trkpt><trkpt></trkpt></trkseg><trkseg><trkpt></trkpt></trkseg></trk>",
       Shape{{2, 1}}},
      {"<trk><name>x</name></trk>", std::nullopt},
      {"<trk/><trk></trk><trk><trkseg/></trk><trk></trk>", Shape{{}, {0}, {}}},
      // Points outside a trkseg, and segments outside a trk, are dropped.
      {"<trk><trkpt></trkpt><trkseg></trkseg><trkpt></trkpt></trk>", Shape{{0}}},
      {"<trkseg><trkpt></trkpt></trkseg>", std::nullopt},
      {"<trkseg><trkpt></trkpt></trkseg><trk><trkseg></trkseg></trk>", Shape{{0}}},
      // A trk inside an unfinished trk replaces it.
      {"<trk><trkseg/><trk><trkseg/><trkseg/></trk></trk>", Shape{{0, 0}}},
      {"<rte><rtept lat='1' lon='2'></rtept></rte><wpt lat='1' lon='2'></wpt>", std::nullopt},
      {"", std::nullopt},
      // The root element is not checked.
      {"<other><trk><trkseg><trkpt></trkpt></trkseg></trk></other>", Shape{{1}}},
  };
  for (const auto& c : cases) {
    const std::string input = document(c.body);
    const auto result = gpx::read(input);
    if (!c.shape) {
      expect_invalid(input, "no track segments found");
      continue;
    }
    ASSERT_TRUE(result) << c.body << ": " << result.error().display();
    EXPECT_EQ(shape_of(*result), *c.shape) << c.body;
    EXPECT_EQ(result->creator, "tramlix");
    EXPECT_FALSE(result->device_info);
  }
}

UtcInstant at(std::int64_t seconds, std::uint32_t nanoseconds = 0) {
  return {seconds, nanoseconds};
}

constexpr std::int64_t k20240501 = 1714521600;  // 2024-05-01T00:00:00Z

TEST(GpxReader, PointValues) {
  TrackPoint full;
  full.latitude = 52.5;
  full.longitude = 13.4;
  full.elevation_m = 34.0;
  full.time = at(k20240501 + 6 * 3600 + 30 * 60, 250000000);
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
    std::string point;
    TrackPoint expected;
  } cases[] = {
      {"<trkpt lat=\"52.5\" lon=\"13.4\"><ele>34</ele><time>2024-05-01T06:30:00.25Z</time>"
       "<extensions><gpxtpx:TrackPointExtension><gpxtpx:atemp>21</gpxtpx:atemp>"
       "<gpxtpx:hr>140</gpxtpx:hr><gpxtpx:cad>85</gpxtpx:cad><gpxtpx:speed>3.2</gpxtpx:speed>"
       "<gpxtpx:power>210</gpxtpx:power><gpxtpx:distance>1200.5</gpxtpx:distance>"
       "</gpxtpx:TrackPointExtension></extensions></trkpt>",
       full},
      // Local names only: any prefix, none, any depth inside the point.
      {"<trkpt><extensions><ns3:TrackPointExtension><ns3:hr>140</ns3:hr></ns3:TrackPointExtension>"
       "</extensions></trkpt>",
       with([](TrackPoint& p) { p.heart_rate_bpm = 140; })},
      {"<trkpt><extensions><a><b><c><hr>140</hr></c></b></a></extensions></trkpt>",
       with([](TrackPoint& p) { p.heart_rate_bpm = 140; })},
      {"<trkpt><temp>-4</temp><watts>300</watts></trkpt>", with([](TrackPoint& p) {
         p.temperature_c = -4;
         p.power_watts = 300;
       })},
      {"<trkpt p:lat=' 1.5 ' lon='x' other='3'></trkpt>",
       with([](TrackPoint& p) { p.latitude = 1.5; })},
      // Numbers: integers must be integers in range; blanks around a number are fine.
      {"<trkpt><hr>150.0</hr><cad> 90 </cad><atemp>23.5</atemp><power>65536</power></trkpt>",
       with([](TrackPoint& p) { p.cadence_rpm = 90; })},
      {"<trkpt><hr>-1</hr><atemp>-32768</atemp><power>+65535</power></trkpt>",
       with([](TrackPoint& p) {
         p.temperature_c = -32768;
         p.power_watts = 65535;
       })},
      {"<trkpt><ele>inf</ele><speed>1e-3</speed></trkpt>", with([](TrackPoint& p) {
         p.elevation_m = std::numeric_limits<double>::infinity();
         p.speed_mps = 0.001;
       })},
      // A later value that does not convert replaces an earlier one.
      {"<trkpt><hr>150</hr><hr>fast</hr><ele>1</ele><ele>2</ele></trkpt>",
       with([](TrackPoint& p) { p.elevation_m = 2.0; })},
      // A self-closing value element carries nothing.
      {"<trkpt><hr>150</hr><hr/></trkpt>", with([](TrackPoint& p) { p.heart_rate_bpm = 150; })},
      // Times: any offset, converted to UTC; XML white space around the value is not
      // significant.
      {"<trkpt><time>2024-05-01T12:00:00+02:00</time></trkpt>",
       with([](TrackPoint& p) { p.time = at(k20240501 + 10 * 3600); })},
      {"<trkpt><time>\n      2024-05-01T00:00:01Z\n    </time></trkpt>",
       with([](TrackPoint& p) { p.time = at(k20240501 + 1); })},
      {"<trkpt><time> \t2024-05-01T00:00:01Z\r\n</time></trkpt>",
       with([](TrackPoint& p) { p.time = at(k20240501 + 1); })},
      {"<trkpt><time>2024-05-01 T00:00:01Z</time><ele>1</ele></trkpt>",
       with([](TrackPoint& p) { p.elevation_m = 1.0; })},
      {"<trkpt><time>2024-02-30T00:00:00Z</time></trkpt>", TrackPoint{}},
      // Track-level names do nothing inside a point.
      {"<trkpt><name>p</name><type>t</type></trkpt>", TrackPoint{}},
  };
  for (const auto& c : cases) {
    const auto result = gpx::read(one_point(c.point));
    ASSERT_TRUE(result) << c.point << ": " << result.error().display();
    ASSERT_EQ(shape_of(*result), (Shape{{1}})) << c.point;
    EXPECT_EQ(result->activities[0].segments[0].points[0], c.expected) << c.point;
  }
}

TEST(GpxReader, ValuesOutsideAPointAreIgnored) {
  const auto result =
      gpx::read(document("<metadata><name>meta</name><time>2020-01-01T00:00:00Z</time></metadata>"
                         "<wpt lat='1' lon='2'><ele>5</ele><name>wpt</name></wpt>"
                         "<trk><hr>99</hr><trkseg><hr>98</hr><trkpt><ele>1</ele></trkpt><hr>97</hr>"
                         "<ele>7</ele></trkseg></trk>"));
  ASSERT_TRUE(result) << result.error().display();
  TrackPoint expected;
  expected.elevation_m = 1.0;
  EXPECT_EQ(result->activities[0].segments[0].points[0], expected);
  EXPECT_FALSE(result->activities[0].name);
}

TEST(GpxReader, ActivityNameTypeAndStartTime) {
  const auto result =
      gpx::read(document("<trk><name> First &amp; &#65;<![CDATA[<b>]]> </name><name>Second</name>"
                         "<type>cycling</type><type> \tRunning\n</type><desc>&nbsp;</desc>"
                         "<trkseg><trkpt></trkpt></trkseg>"
                         "<trkseg><trkpt><time>2024-05-01T00:00:05Z</time></trkpt>"
                         "<trkpt><time>2024-05-01T00:00:01Z</time></trkpt></trkseg></trk>"
                         "<trk><name></name><trkseg><trkpt></trkpt></trkseg></trk>"));
  ASSERT_TRUE(result) << result.error().display();
  ASSERT_EQ(result->activities.size(), 2u);
  const Activity& first = result->activities[0];
  EXPECT_EQ(first.name, " First & A<b> ");
  EXPECT_EQ(first.sport, "Running");
  EXPECT_EQ(first.start_time, at(k20240501 + 5));
  EXPECT_FALSE(first.sub_sport);
  EXPECT_EQ(first.summary, ActivitySummary{});
  const Activity& second = result->activities[1];
  EXPECT_EQ(second.name, "");
  EXPECT_FALSE(second.sport);
  EXPECT_FALSE(second.start_time);
}

TEST(GpxReader, UnknownEntityFailsOnlyInAValue) {
  expect_invalid(document("<trk><name>a&nbsp;b</name><trkseg/></trk>"),
                 "unknown XML entity &nbsp;");
  expect_invalid(one_point("<trkpt><hr>&x;</hr></trkpt>"), "unknown XML entity &x;");
  EXPECT_TRUE(gpx::read(document("<trk><desc>a&nbsp;b</desc><trkseg/></trk>")));
}

std::string utf16le(std::string_view ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) out.append({c, '\0'});
  return out;
}

TEST(GpxReader, DecodesDeclaredEncodings) {
  // é is U+00E9; in UTF-16 LE it is the unit E9 00.
  std::string utf16 = utf16le(
      "<?xml version='1.0' encoding='UTF-16'?><gpx><trk><name>Caf#</name><trkseg/></trk></gpx>");
  utf16[utf16.find('#')] = '\xE9';
  const std::string latin1 =
      "<?xml version='1.0' encoding='ISO-8859-1'?><gpx><trk><name>Caf\xE9</name><trkseg/></trk>"
      "</gpx>";
  for (const std::string& input : {utf16, latin1}) {
    const auto result = gpx::read(input);
    ASSERT_TRUE(result) << result.error().display();
    EXPECT_EQ(result->activities[0].name, "Caf\xC3\xA9");
  }
}

TEST(GpxReader, ReachedThroughLoads) {
  const std::string input = document("<trk><trkseg><trkpt lat='1' lon='2'></trkpt></trkseg></trk>");
  const auto result = loads({reinterpret_cast<const std::uint8_t*>(input.data()), input.size()});
  ASSERT_TRUE(result) << result.error().display();
  EXPECT_EQ(result->activities[0].segments[0].points[0].latitude, 1.0);
}

TEST(GpxReaderHostile, EveryTruncationFails) {
  const std::string input = document(
      "<trk><name>n&amp;m</name><trkseg><trkpt lat=\"1\" lon=\"2\"><ele>3</ele>"
      "<time>2024-05-01T00:00:00Z</time><extensions><gpxtpx:TrackPointExtension>"
      "<gpxtpx:hr>1</gpxtpx:hr></gpxtpx:TrackPointExtension></extensions></trkpt>"
      "<![CDATA[x]]><!-- c --></trkseg></trk>");
  const std::size_t root_end = input.rfind('>') + 1;
  ASSERT_TRUE(gpx::read(input.substr(0, root_end)));
  for (std::size_t cut = 0; cut < root_end; ++cut) {
    expect_invalid(std::string_view(input).substr(0, cut), "");
  }
}

std::string entity_bomb() {
  std::string dtd = "<!DOCTYPE gpx [<!ENTITY l0 \"lollollollollollollol\">";
  for (int i = 1; i <= 9; ++i) {
    dtd += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) dtd += "&l" + std::to_string(i - 1) + ";";
    dtd += "\">";
  }
  return dtd + "]>";
}

TEST(GpxReaderHostile, MalformedOrAbusiveDocumentsFail) {
  std::string deep = "<gpx>";
  for (int i = 0; i < 100000; ++i) deep += "<trk>";
  for (int i = 0; i < 100000; ++i) deep += "</trk>";
  deep += "</gpx>";

  const struct {
    std::string input;
    std::string message;  // empty: any message
  } cases[] = {
      {document("<trk><trkseg></trk></trkseg>"), ""},
      {document("<trk><trkseg/></trk><trk>"), ""},
      {"<gpx><trk><trkseg/></trk></gpx><gpx/>", ""},
      {"<gpx><trk><name>\xC3\x28</name><trkseg/></trk></gpx>", ""},
      {"<gpx><trk><na\xFFme></na\xFFme><trkseg/></trk></gpx>", ""},
      {"<gpx><trk><trkseg><trkpt lat=\"1\" lat=\"2\"></trkpt></trkseg></trk></gpx>", ""},
      {"<gpx><trk><trkseg><trkpt lat=\"1></trkpt></trkseg></trk></gpx>", ""},
      {"\x0E\xFE\x0C\x10.FIT", ""},
      {entity_bomb() + "<gpx><trk><name>&l9;</name><trkseg/></trk></gpx>",
       "unknown XML entity &l9;"},
      {entity_bomb() + "<gpx><trk><trkseg><trkpt lat='&l9;'></trkpt></trkseg></trk></gpx>", ""},
      {"<!DOCTYPE gpx [<!ENTITY xxe SYSTEM \"file:///etc/passwd\">]>"
       "<gpx><trk><name>&xxe;</name><trkseg/></trk></gpx>",
       "unknown XML entity &xxe;"},
      {deep, "no track segments found"},
  };
  for (const auto& c : cases) expect_invalid(c.input, c.message);
}

TEST(GpxReaderHostile, SyntaxErrorsCarryPosition) {
  const auto result = gpx::read("<gpx>\n<trk>\n</gpx>");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().display(), "invalid GPX data: mismatched tag at line 3, column 3");
}

}  // namespace
}  // namespace tramlix
