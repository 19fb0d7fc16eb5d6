#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "tramlix/format.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

constexpr std::string_view kUnsupported = "unsupported or unrecognized activity format: ";

std::string shown(const std::expected<Format, Error>& result) {
  return result ? std::string(result->label()) : result.error().display();
}

TEST(Format, FromStrTrimsBlanksAndLeadingDotsInAnyCase) {
  // The error names what was left after trimming and lower-casing.
  const auto refused = [](std::string_view name) { return std::string(kUnsupported) += name; };
  const std::pair<std::string_view, std::string> cases[] = {{"\t..gPx\n", "GPX"},
                                                            {".TCX", "TCX"},
                                                            {"fit", "FIT"},
                                                            {"...", refused("")},
                                                            {" .KML", refused("kml")},
                                                            {". gpx", refused(" gpx")},
                                                            {"gpx1", refused("gpx1")},
                                                            {"\u00C9", refused("\u00C9")}};
  for (const auto& [text, shown_as] : cases) EXPECT_EQ(shown(Format::from_str(text)), shown_as);
}

std::vector<std::uint8_t> bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// Every format has a name that reads back, a label, and content that sniffs as itself: what
// dumps writes is recognised without the extension's help.
TEST(Format, EachFormatIsNamedLabelledAndRecognised) {
  ActivityFile file;
  file.activities.push_back(
      Activity{.segments = {Segment{.points = {TrackPoint{.time = UtcInstant{1'700'000'000, 0},
                                                          .latitude = 52.5,
                                                          .longitude = 13.4}}}}});
  std::vector<std::string_view> labels;
  for (const Format format : Format::all()) {
    labels.push_back(format.label());
    EXPECT_EQ(Format::from_str(format.name()), format) << format.label();
    const auto written = dumps(file, format);
    ASSERT_TRUE(written) << written.error().display();
    EXPECT_EQ(Format::detect(bytes(*written)), format) << format.label();
  }
  EXPECT_EQ(labels, (std::vector<std::string_view>{"GPX", "TCX", "FIT"}));
  // A value from outside the enumerators has neither, and no reader or writer.
  const Format stray = static_cast<Format::Value>(7);
  EXPECT_EQ(stray.label(), "");
  EXPECT_EQ(shown(Format::from_str(stray.name())), kUnsupported);
  EXPECT_EQ(dumps(file, stray).error().display(), std::string(kUnsupported) + "unknown format");
}

TEST(Format, DetectFitNeedsTheHeaderAndTwoMoreBytes) {
  const std::tuple<char, std::size_t, bool> cases[] = {
      {12, 13, false}, {12, 14, true}, {14, 15, false}, {14, 16, true}, {13, 64, false}};
  for (const auto& [size, total, fit] : cases) {
    const std::string data = size + std::string(7, '\0') + ".FIT" + std::string(total - 12, '\0');
    EXPECT_EQ(Format::detect(bytes(data)) == Format::Fit, fit) << int{size} << " " << total;
  }
}

std::string utf16(std::string_view ascii, bool big_endian, bool bom) {
  std::string out = !bom ? "" : big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) out.append(big_endian ? std::string{'\0', c} : std::string{c, '\0'});
  return out;
}

constexpr std::string_view kNotRecognized = "content is not recognizable as GPX, TCX, or FIT";

TEST(Format, DetectXmlByRootElementThenByMarker) {
  const std::string gpx = "<?xml version='1.0' encoding='UTF-16'?>\r\n<gpx version='1.1'>",
                    tcx = "<?xml version='1.0'?><TrainingCenterDatabase xmlns='x'>",
                    blanks(5000, ' ');
  // A DOCTYPE longer than the marker window, whose subset hides markup in literals, comments
  // and processing instructions.
  const std::string doctype =
      "<!DOCTYPE a PUBLIC '>' \"]\" [<!ENTITY e '<gpx>]>'><!-- ]> <gpx -->" + blanks +
      "<?pi ]> <gpx?>]>";
  const std::pair<std::string, std::string_view> cases[] = {
      {"<?xml version='1.0'?><GPX version='1.1'>", "GPX"},
      {"<TrainingCenterDatabase>", "TCX"},
      // The root element wins over markers elsewhere, wherever it stands.
      {"<!-- <gpx --><TrainingCenterDatabase>", "TCX"},
      {doctype + "<p:trainingcenterDATABASE xmlns:p='x'/>", "TCX"},
      {"<!--" + blanks + "--><?pi?>\n<gpx:gpx xmlns:gpx='x'>", "GPX"},
      {" \t\r\n" + tcx, "TCX"},
      {"\xEF\xBB\xBF\n " + tcx, "TCX"},
      {utf16(gpx, false, true), "GPX"},
      {utf16(gpx, true, true), "GPX"},
      {utf16("\n" + gpx, false, false), "GPX"},
      {utf16(tcx, true, false), "TCX"},
      // No recognised root: a marker in the first 4096 bytes still decides, GPX first.
      {"<other><gpx></gpx><TrainingCenterDatabase/>", "GPX"},
      {"<other><x:gpx/><TrainingCenterDatabase/>", "TCX"},
      {"\xff\xfe<gpx\xc3", "GPX"},  // invalid UTF-8 or UTF-16 around
      {"<gpxtrack></gpxtrack>", "GPX"},
      {"<!-- never closed <gpx", "GPX"},
      {"<other>" + std::string(4085, ' ') + "<gpx>", "GPX"},
      {"<other>" + std::string(4086, ' ') + "<gpx>", kNotRecognized},
      {utf16("<other><gpx>", false, true), kNotRecognized},
      {"", kNotRecognized},
  };
  for (const auto& [data, format] : cases) {
    const auto detected = Format::detect(bytes(data));
    EXPECT_EQ(detected ? std::string(detected->label()) : detected.error().message(), format)
        << data.substr(0, 80);
  }
}

// Prologs that never end are read once, to their end: these would take hours if a scan went
// back over them.
TEST(Format, DetectScansUnendingPrologsOnce) {
  const std::size_t n = std::size_t{1} << 22;
  const std::string cases[] = {"<!--" + std::string(n, '-'), "<?" + std::string(n, '?'),
                               "<!DOCTYPE [" + std::string(n, '\''),
                               "<!DOCTYPE [" + std::string(n, '<'), "<" + std::string(n, 'a')};
  for (const std::string& data : cases) {
    EXPECT_EQ(shown(Format::detect(bytes(data))), std::string(kUnsupported) += kNotRecognized);
  }
}

}  // namespace
}  // namespace tramlix
