#include <gtest/gtest.h>

#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tramlix/io.hpp"
#include "xml/reader.hpp"

namespace tramlix::xml {
namespace {

using Events = std::vector<std::string>;

// Records events as "<a x=1", "<a/>", "</a" and, as a format reader would, collects the text of
// every element named "t", recorded at its end as "t=...". A "boom" element throws.
struct Recorder final : Handler {
  void start_element(std::string_view name, Attributes attributes) override {
    if (name == "boom") throw std::bad_alloc();
    std::string& event = events.emplace_back(std::string("<").append(name));
    for (const auto [key, value] : attributes) event.append(" ").append(key).append("=") += value;
    name == "t" ? text.begin() : text.stop();
  }
  void empty_element(std::string_view name, Attributes attributes) override {
    start_element(name, attributes);
    events.back() += "/>";
  }
  void end_element(std::string_view name) override {
    if (text.collecting()) events.push_back("t=" + std::string(text.view()));
    text.stop();
    events.push_back("</" + std::string(name));
  }
  Events events;
  TextBuffer text;
};

// The events, followed by "!" and the message if the parse failed.
Events run(std::string_view document) {
  Recorder recorder;
  const auto result = parse(document, recorder, recorder.text);
  if (!result) recorder.events.push_back("!" + result.error().message);
  return recorder.events;
}

std::string utf16(std::string_view ascii, bool big_endian, bool bom = true) {
  std::string out = !bom ? "" : big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) out.append(big_endian ? std::string{'\0', c} : std::string{c, '\0'});
  return out;
}

TEST(XmlReader, EventsLocalNamesAndText) {
  const std::string wide = "<a><b/><t>x&#233;</t><c x='1' /></a>";
  const Events wide_events = {"<a", "<b/>", "<t", "t=x\xC3\xA9", "</t", "<c x=1/>", "</a"};
  const std::pair<std::string, Events> cases[] = {
      {"<a><b/><c></c><b  /><b\n/></a>", {"<a", "<b/>", "<c", "</c", "<b/>", "<b/>", "</a"}},
      // A slash inside an attribute value does not make the tag self-closing.
      {"<a x=\"/\"><b y='/>'/></a>", {"<a x=/", "<b y=/>/>", "</a"}},
      {"<p:a xmlns:p='u'><q:r:b q:x='&lt;&#65;'/></p:a>", {"<a xmlns:p=u", "<r:b q:x=<A/>", "</a"}},
      {"<a>skip<t> &amp;&lt;&gt;&apos;&quot;&#65;&#x42;<![CDATA[<c>&amp;]]>\n</t>skip</a>",
       {"<a", "<t", "t= &<>'\"AB<c>&amp;\n", "</t", "</a"}},
      {utf16(wide, false), wide_events},
      {utf16(wide, true), wide_events},
      // Blanks before the declaration, after any byte-order mark, are skipped.
      {" \r\n\t<?xml version='1.0'?><a/>", {"<a/>"}},
      {"\xEF\xBB\xBF\n<?xml version='1.0' encoding='UTF-8'?><a/>", {"<a/>"}},
      {"\n<?xml-stylesheet href='s'?><a/>", {"<a/>"}},  // no declaration: nothing to skip
      {utf16("\n <?xml version='1.0' encoding='UTF-16'?>" + wide, false), wide_events},
      {utf16("\n <?xml version='1.0' encoding='UTF-16'?>" + wide, true, false), wide_events},
      {utf16("<?xml version='1.0' encoding='UTF-16'?>" + wide, false, false), wide_events},
  };
  for (const auto& [document, events] : cases) EXPECT_EQ(run(document), events) << document;
}

std::string billion_laughs(std::string_view use) {
  std::string doc = "<!DOCTYPE a [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 9; ++i) {
    doc += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) doc += "&l" + std::to_string(i - 1) + ";";
    doc += "\">";
  }
  return doc + "]>" + std::string(use);
}

TEST(XmlReader, EntitiesAndErrors) {
  const std::string dtd =
      "<!DOCTYPE a SYSTEM \"file:///etc/passwd\" [<!ENTITY decl \"declared\">"
      "<!ENTITY ext SYSTEM \"file:///etc/passwd\"><!ENTITY % p SYSTEM \"file:///etc/passwd\">%p;]>";
  // The start of the last event: "</a" when the parse completed, "!" alone for any error.
  const std::pair<std::string, std::string> cases[] = {
      // Entities other than the predefined ones are never expanded or loaded, and are an error
      // only inside collected text.
      {"<a><t>x&nbsp;</t></a>", "!unknown XML entity &nbsp;"},
      {"<a><d>&nbsp;</d><t>ok</t></a>", "</a"},
      {dtd + "<a><t>&decl;</t></a>", "!unknown XML entity &decl;"},
      {dtd + "<a><t>&ext;</t></a>", "!unknown XML entity &ext;"},
      {dtd + "<a><d>&decl;&ext;</d><t>ok</t></a>", "</a"},
      {dtd + "<a x='&ext;'/>", "!"},
      {billion_laughs("<a><d>&l9;</d></a>"), "</a"},
      {billion_laughs("<a><t>&l9;</t></a>"), "!unknown XML entity &l9;"},
      {billion_laughs("<a x='&l9;'/>"), "!"},  // attributes expand; expat's limit stops it
      {"<a>\n<b>\n</a>", "!mismatched tag at line 3, column 3"},
      {"", "!no element found at line 1, column 1"},
  };
  for (const auto& [document, last] : cases)
    EXPECT_EQ(run(document).back().substr(0, last.size()), last) << document;
}

// Errors name their place in the whole document, blanks before the declaration included: the
// same place as in a document whose declaration is a comment of the same length.
TEST(XmlReader, ErrorPositionsCountSkippedBlanks) {
  const std::string declaration = "<?xml version='1.0'?>", comment = "<!-- version='1.0'-->";
  const std::pair<std::string, std::string> cases[] = {
      {"\r\n\n  ", "<a></b>"}, {"\n\r ", "<a>\n <b>\n</a>"}, {"\t", "<a x='1' x='2'/>"}};
  for (const auto& [blanks, rest] : cases) {
    const std::string expected = run(blanks + comment + rest).back();
    ASSERT_TRUE(expected.starts_with("!")) << expected;
    EXPECT_EQ(run(blanks + declaration + rest).back(), expected) << rest;
    for (const bool big_endian : {false, true}) {
      EXPECT_EQ(run(utf16(blanks + declaration + rest, big_endian)).back(), expected) << rest;
    }
  }
}

TEST(XmlReader, HandlerExceptionsPropagateAfterTheParseStops) {
  Recorder recorder;
  EXPECT_THROW((void)parse("<a><b></b><boom></boom><c></c></a>", recorder, recorder.text),
               std::bad_alloc);
  EXPECT_EQ(recorder.events, (Events{"<a", "<b", "</b"}));
}

// What the GPX and TCX readers make of an attribute they read: its value as the model has it
// ("lat=1.5", "sport=run&bike"), or the error. Expat would drop an undeclared entity there and
// expand a declared one; neither may reach the model.
std::string attribute_read(const std::string& document) {
  const auto bytes =
      std::span(reinterpret_cast<const std::uint8_t*>(document.data()), document.size());
  const auto file = loads(bytes);
  if (!file) return file.error().display();
  const Activity& activity = file->activities.at(0);
  if (activity.segments.empty() || activity.segments[0].points.empty()) {
    return "sport=" + activity.sport.value_or("-");
  }
  const TrackPoint& point = activity.segments[0].points[0];
  return "lat=" + (point.latitude ? std::to_string(*point.latitude).substr(0, 3) : "-");
}

std::string gpx_point(std::string_view trkpt, std::string_view prolog = "") {
  return std::string(prolog) + "<gpx><trk><trkseg>" + std::string(trkpt) + "</trkseg></trk></gpx>";
}

std::string tcx_activity(std::string_view sport) {
  return "<TrainingCenterDatabase><Activities><Activity Sport='" + std::string(sport) +
         "'></Activity></Activities></TrainingCenterDatabase>";
}

TEST(XmlReader, EntityReferencesInAttributesAReaderUsesFail) {
  const std::string declared = "<!DOCTYPE gpx [<!ENTITY five \"5\">]>";
  const std::string latin1 = "<?xml version='1.0' encoding='ISO-8859-1'?>";
  const std::pair<std::string, std::string> cases[] = {
      {gpx_point("<trkpt lat='1&foo;' lon='2'></trkpt>"),
       "invalid GPX data: unknown XML entity &foo;"},
      {gpx_point("<trkpt lon='2' lat='&five;'/>", declared),
       "invalid GPX data: unknown XML entity &five;"},
      {gpx_point("<trkpt lat='1' lon='&#50;&foo;'/>"),
       "invalid GPX data: unknown XML entity &foo;"},
      {gpx_point("<trkpt lat=\"1.5&f\xC3\xB6o;\"/>"),
       "invalid GPX data: unknown XML entity &f\xC3\xB6o;"},
      {gpx_point("<trkpt lat=\"1.5&f\xF6o;\"/>", latin1),
       "invalid GPX data: unknown XML entity &f\xC3\xB6o;"},
      {tcx_activity("Run&foo;"), "invalid TCX data: unknown XML entity &foo;"},
      // Character references and the predefined entities are what they stand for.
      {gpx_point("<trkpt lat='&#49;&#x2E;5' lon='2'/>"), "lat=1.5"},
      {gpx_point("<trkpt lat='1&amp;' lon='2'/>"), "lat=-"},
      {tcx_activity("Run&amp;Bike&#38;foo;"), "sport=run&bike&foo;"},
      // Attributes no reader takes in are not looked at, before or after the ones it does.
      {gpx_point("<trkpt note='&foo;' lat='1.5' x='&five;'/>", declared), "lat=1.5"},
      {"<gpx creator='&foo;'><trk><trkseg><trkpt lat='1.5'/></trkseg></trk></gpx>", "lat=1.5"},
  };
  for (const auto& [document, read] : cases) EXPECT_EQ(attribute_read(document), read) << document;

  // The same in UTF-16, either byte order.
  for (const bool big_endian : {false, true}) {
    const std::string wide = utf16(gpx_point("<trkpt lat='1&foo;'/>"), big_endian);
    EXPECT_EQ(attribute_read(wide), "invalid GPX data: unknown XML entity &foo;");
  }
}

TEST(XmlReader, AnEntityInAnAttributeIsAFaultAtItsTag) {
  const std::string document =
      "<gpx><trk><trkseg><trkpt lat='1'/>\n  <trkpt lat='&x;'/><trkpt lat='3'/></trkseg></trk>"
      "</gpx>";
  const auto bytes =
      std::span(reinterpret_cast<const std::uint8_t*>(document.data()), document.size());
  const auto file = loads(bytes);
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().location(), Location(TextPosition{2, 3}));
  // Recovering keeps the point before it.
  const Recovery recovery = recover(bytes);
  ASSERT_EQ(recovery.problems.size(), 1u);
  EXPECT_TRUE(recovery.problems[0].starts_with("unknown XML entity &x;")) << recovery.problems[0];
  EXPECT_EQ(recovery.file.point_count(), 1u);
}

}  // namespace
}  // namespace tramlix::xml
