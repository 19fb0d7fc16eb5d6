#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tramlix/format.hpp"

namespace tramlix {
namespace {

TEST(FormatFromStr, AcceptsNamesWithBlanksDotsAndAnyCase) {
  for (const char* text : {"gpx", " GPX ", ".gpx", "..gPx", "\t.GPX\n"}) {
    auto format = Format::from_str(text);
    ASSERT_TRUE(format) << text;
    EXPECT_EQ(*format, Format::Gpx) << text;
  }
  EXPECT_EQ(*Format::from_str(".tcx"), Format::Tcx);
  EXPECT_EQ(*Format::from_str("..FiT"), Format::Fit);
}

TEST(FormatFromStr, RejectsWithTheNormalisedName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""}, {"   ", ""}, {"...", ""}, {"kml", "kml"}, {"Xml", "xml"},
      {" .KML", "kml"}, {". gpx", " gpx"}, {"gpx1", "gpx1"}, {"\xC3\x89gpx", "\xC3\x89gpx"}};
  for (const auto& [text, message] : cases) {
    auto format = Format::from_str(text);
    ASSERT_FALSE(format) << text;
    EXPECT_EQ(format.error().kind(), Error::Kind::UnsupportedFormat);
    EXPECT_EQ(format.error().display(), "unsupported or unrecognized activity format: " + message);
  }
}

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

std::vector<std::uint8_t> fit_header(std::uint8_t size, std::size_t total) {
  std::vector<std::uint8_t> data(total, 0);
  data[0] = size;
  data[8] = '.';
  data[9] = 'F';
  data[10] = 'I';
  data[11] = 'T';
  return data;
}

TEST(FormatDetect, FitNeedsTheHeaderAndTwoMoreBytes) {
  EXPECT_FALSE(Format::detect(fit_header(12, 12)));
  EXPECT_EQ(*Format::detect(fit_header(12, 14)), Format::Fit);
  EXPECT_FALSE(Format::detect(fit_header(14, 15)));
  EXPECT_EQ(*Format::detect(fit_header(14, 16)), Format::Fit);
  EXPECT_FALSE(Format::detect(fit_header(13, 64)));
}

TEST(FormatDetect, XmlMarkersInTheFirst4096Bytes) {
  EXPECT_EQ(*Format::detect(bytes("<?xml version='1.0'?><GPX version='1.1'>")), Format::Gpx);
  EXPECT_EQ(*Format::detect(bytes("<TrainingCenterDatabase>")), Format::Tcx);
  // A plain substring test: a marker in a comment counts, GPX before TCX.
  EXPECT_EQ(*Format::detect(bytes("<!-- <gpx --><TrainingCenterDatabase>")), Format::Gpx);
  // Invalid UTF-8 around the marker does not hide it.
  EXPECT_EQ(*Format::detect(bytes("\xff\xfe<gpx\xc3")), Format::Gpx);
  std::string late(4093, ' ');
  late += "<gpx>";
  EXPECT_FALSE(Format::detect(bytes(late)));
  late.erase(0, 1);
  EXPECT_EQ(*Format::detect(bytes(late)), Format::Gpx);
}

TEST(FormatDetect, UnrecognisedContent) {
  for (const std::string& text : {std::string(), std::string("<kml/>"), std::string("\0\0", 2)}) {
    auto format = Format::detect(bytes(text));
    ASSERT_FALSE(format);
    EXPECT_EQ(format.error().display(),
              "unsupported or unrecognized activity format: content is not recognizable as GPX, "
              "TCX, or FIT");
  }
}

}  // namespace
}  // namespace tramlix
