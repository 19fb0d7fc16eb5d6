#include <gtest/gtest.h>

#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "xml/reader.hpp"

namespace tramlix::xml {
namespace {

// Records the events as "<a x=1", "<a/>", "</a" and collects the text of every element named
// "t" (as a reader collects the text of its targets), recorded at its end as "t=...".
class Recorder final : public Handler {
 public:
  explicit Recorder(TextBuffer& text) : text_(text) {}

  void start_element(std::string_view name, Attributes attributes) override {
    std::string event = "<" + std::string(name);
    for (const auto [key, value] : attributes) {
      event.append(" ").append(key).append("=").append(value);
    }
    events.push_back(event);
    if (name == "t") {
      text_.begin();
    } else {
      text_.stop();
    }
  }
  void empty_element(std::string_view name, Attributes attributes) override {
    std::string event = "<" + std::string(name);
    for (const auto [key, value] : attributes) {
      event.append(" ").append(key).append("=").append(value);
    }
    events.push_back(event + "/>");
  }
  void end_element(std::string_view name) override {
    if (text_.collecting()) events.push_back("t=" + std::string(text_.view()));
    text_.stop();
    events.push_back("</" + std::string(name));
  }

  std::vector<std::string> events;

 private:
  TextBuffer& text_;
};

struct Outcome {
  std::vector<std::string> events;
  std::string error;  // empty on success
};

Outcome run(std::string_view document) {
  TextBuffer text;
  Recorder recorder(text);
  auto result = parse(document, recorder, text);
  return {recorder.events, result ? std::string() : result.error()};
}

using Events = std::vector<std::string>;

TEST(XmlReader, ReportsLocalNamesAndTellsSelfClosingTagsApart) {
  const struct {
    std::string document;
    Events events;
  } cases[] = {
      {"<a><b/><c></c></a>", {"<a", "<b/>", "<c", "</c", "</a"}},
      {"<a><b  /><b\n/></a>", {"<a", "<b/>", "<b/>", "</a"}},
      // A slash at the end of an attribute value is not the end of a self-closing tag.
      {"<a x=\"/\"><b y='/>'/></a>", {"<a x=/", "<b y=/>/>", "</a"}},
      {"<p:a xmlns:p=\"u\"><q:r:b q:x=\"1\"/></p:a>", {"<a xmlns:p=u", "<r:b q:x=1/>", "</a"}},
      // Attribute values arrive unescaped.
      {"<a x=\"&lt;&#65;&amp;\"/>", {"<a x=<A&/>"}},
  };
  for (const auto& c : cases) {
    const Outcome outcome = run(c.document);
    EXPECT_EQ(outcome.error, "") << c.document;
    EXPECT_EQ(outcome.events, c.events) << c.document;
  }
}

std::string utf16(std::string_view ascii, bool big_endian) {
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char c : ascii) {
    if (big_endian) out.push_back('\0');
    out.push_back(c);
    if (!big_endian) out.push_back('\0');
  }
  return out;
}

TEST(XmlReader, DecodesUtf16AndLatin1) {
  const std::string body = "<a><b/><t>x&#233;</t><c x='1' /></a>";
  const Events expected = {"<a", "<b/>", "<t", "t=x\xC3\xA9", "</t", "<c x=1/>", "</a"};
  for (bool big_endian : {false, true}) {
    const Outcome outcome = run(utf16(body, big_endian));
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(outcome.events, expected) << big_endian;
  }
  const Outcome latin1 = run("<?xml version='1.0' encoding='ISO-8859-1'?><t>\xE9</t>");
  EXPECT_EQ(latin1.events, (Events{"<t", "t=\xC3\xA9", "</t"}));
}

TEST(XmlReader, CollectsTextOnlyWhileAsked) {
  const Outcome outcome =
      run("<a>skip<t> a&amp;&lt;&gt;&apos;&quot;&#65;&#x42;<![CDATA[<c>&amp;]]>\n</t>skip</a>");
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.events, (Events{"<a", "<t", "t= a&<>'\"AB<c>&amp;\n", "</t", "</a"}));
}

TEST(XmlReader, OtherEntitiesFailOnlyInsideCollectedText) {
  const std::string dtd =
      "<!DOCTYPE a [<!ENTITY decl \"declared\"><!ENTITY ext SYSTEM \"file:///etc/passwd\">]>";
  const struct {
    std::string document;
    std::string error;
  } cases[] = {
      {"<a><t>x&nbsp;</t></a>", "unknown XML entity &nbsp;"},
      {"<a><d>&nbsp;</d><t>ok</t></a>", ""},
      {dtd + "<a><t>&decl;</t></a>", "unknown XML entity &decl;"},
      {dtd + "<a><d>&decl;</d></a>", ""},
      {dtd + "<a><t>&ext;</t></a>", "unknown XML entity &ext;"},
      {dtd + "<a><d>&ext;</d></a>", ""},
      {"<?xml version='1.0' standalone='no'?><a><d>&nbsp;</d></a>", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.document).error, c.error) << c.document;
  }
}

TEST(XmlReader, NeverLoadsExternalEntitiesOrDtds) {
  const Outcome outcome =
      run("<!DOCTYPE a SYSTEM \"file:///etc/passwd\" [<!ENTITY e SYSTEM \"file:///etc/passwd\">"
          "<!ENTITY % p SYSTEM \"file:///etc/passwd\">%p;]><a><d>&e;</d><t>x</t></a>");
  EXPECT_EQ(outcome.error, "");
  EXPECT_EQ(outcome.events, (Events{"<a", "<d", "</d", "<t", "t=x", "</t", "</a"}));
  // An external entity cannot be referenced from an attribute at all.
  EXPECT_NE(run("<!DOCTYPE a [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><a x='&e;'/>").error, "");
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

TEST(XmlReader, EntityBombsAreNotExpanded) {
  // In content a declared entity is a reference, never expanded.
  EXPECT_EQ(run(billion_laughs("<a><d>&l9;</d></a>")).error, "");
  EXPECT_EQ(run(billion_laughs("<a><t>&l9;</t></a>")).error, "unknown XML entity &l9;");
  // Attributes are always expanded; expat's amplification limit stops the bomb.
  EXPECT_NE(run(billion_laughs("<a x='&l9;'/>")).error, "");
}

TEST(XmlReader, SyntaxErrorsCarryExpatsMessageWithPosition) {
  EXPECT_EQ(run("<a>\n<b>\n</a>").error, "mismatched tag at line 3, column 3");
  EXPECT_EQ(run("").error, "no element found at line 1, column 1");
  const std::string_view broken[] = {
      "<a></a><b/>",
      "<a>&#0;</a>",  // character references to no XML character
      "<a>&#xD800;</a>",
      "<?xml version='1.0' encoding='x-unknown'?><a/>",
  };
  for (std::string_view document : broken) {
    EXPECT_NE(run(document).error, "") << document;
  }
}

class Throwing final : public Handler {
 public:
  void start_element(std::string_view name, Attributes) override {
    if (name == "boom") throw std::bad_alloc();
  }
  void empty_element(std::string_view, Attributes) override {}
  void end_element(std::string_view) override { ++ends; }
  int ends = 0;
};

TEST(XmlReader, HandlerExceptionsPropagateAfterTheParseStops) {
  TextBuffer text;
  Throwing handler;
  EXPECT_THROW((void)parse("<a><b></b><boom></boom><c></c></a>", handler, text), std::bad_alloc);
  EXPECT_EQ(handler.ends, 1);
}

}  // namespace
}  // namespace tramlix::xml
