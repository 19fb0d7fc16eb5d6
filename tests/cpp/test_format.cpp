#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "tramlix/format.hpp"

namespace tramlix {
namespace {

constexpr std::string_view kUnsupported = "unsupported or unrecognized activity format: ";

std::string shown(const std::expected<Format, Error>& result) {
  return result ? std::string(result->label()) : result.error().display();
}

TEST(Format, FromStrTrimsBlanksAndLeadingDotsInAnyCase) {
  // The error names what was left after trimming and lower-casing.
  const auto refused = [](std::string_view name) { return std::string(kUnsupported) += name; };
  const std::pair<std::string_view, std::string> cases[] = {
      {"\t..gPx\n", "GPX"}, {".TCX", "TCX"}, {"fit", "FIT"}, {"...", refused("")},
      {" .KML", refused("kml")}, {". gpx", refused(" gpx")}, {"gpx1", refused("gpx1")},
      {"\u00C9", refused("\u00C9")}};
  for (const auto& [text, shown_as] : cases) EXPECT_EQ(shown(Format::from_str(text)), shown_as);
}

std::vector<std::uint8_t> bytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(Format, DetectFitNeedsTheHeaderAndTwoMoreBytes) {
  const std::tuple<char, std::size_t, bool> cases[] = {
      {12, 13, false}, {12, 14, true}, {14, 15, false}, {14, 16, true}, {13, 64, false}};
  for (const auto& [size, total, fit] : cases) {
    const std::string data = size + std::string(7, '\0') + ".FIT" + std::string(total - 12, '\0');
    EXPECT_EQ(Format::detect(bytes(data)) == Format::Fit, fit) << int{size} << " " << total;
  }
}

TEST(Format, DetectXmlMarkersInTheFirst4096Bytes) {
  EXPECT_EQ(Format::detect(bytes("<?xml version='1.0'?><GPX version='1.1'>")), Format::Gpx);
  EXPECT_EQ(Format::detect(bytes("<TrainingCenterDatabase>")), Format::Tcx);
  // A plain substring test: a marker in a comment counts, GPX before TCX.
  EXPECT_EQ(Format::detect(bytes("<!-- <gpx --><TrainingCenterDatabase>")), Format::Gpx);
  EXPECT_EQ(Format::detect(bytes("\xff\xfe<gpx\xc3")), Format::Gpx);  // invalid UTF-8 around
  std::string late = std::string(4092, ' ') + "<gpx>";
  EXPECT_EQ(Format::detect(bytes(late)), Format::Gpx);
  EXPECT_EQ(shown(Format::detect(bytes(" " + late))),
            std::string(kUnsupported) + "content is not recognizable as GPX, TCX, or FIT");
}

}  // namespace
}  // namespace tramlix
