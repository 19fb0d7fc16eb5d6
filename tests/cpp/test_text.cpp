#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "text.hpp"

namespace tramlix {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
using FloatWriter = void (*)(std::string&, double);
constexpr FloatWriter kWriters[] = {append_number, append_json_number, append_plain_decimal,
                                    append_debug_float};

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

TEST(FloatText, LayoutsAtTheirBoundaries) {
  const std::string zeros(323, '0');
  // The texts in the order of kWriters; an empty or missing one repeats the first.
  const std::pair<double, std::array<std::string, 4>> cases[] = {
      {0.0, {"0.0"}},
      {-0.0, {"-0.0"}},
      {1200.0, {"1200.0"}},
      {-52.520008, {"-52.520008"}},
      {1e15, {"1000000000000000.0"}},
      {1234567890123456.8, {"1234567890123456.8"}},
      {1e16, {"1e16", "1e+16", "10000000000000000.0"}},
      {0.0001, {"0.0001"}},
      {1.5e17, {"1.5e17", "1.5e+17", "150000000000000000.0"}},
      {0.000015, {"0.000015", "", "", "1.5e-5"}},
      {-0.0000015, {"-1.5e-6", "", "-0.0000015"}},
      {5e-324, {"5e-324", "", "0." + zeros + "5"}},
      {1e300, {"1e300", "1e+300", std::string("1").append(zeros, 0, 300).append(".0")}},
      {kNaN, {"NaN", "null"}},
      {-kNaN, {"NaN", "null"}},
      {kInf, {"inf", "null"}},
      {-kInf, {"-inf", "null"}}};
  for (const auto& [value, texts] : cases) {
    for (int i = 0; i < 4; ++i) {
      std::string out = "x";  // writers append, never overwrite
      kWriters[i](out, value);
      EXPECT_EQ(out, "x" + (texts[i].empty() ? texts[0] : texts[i])) << "writer " << i;
    }
  }
}

// Random bit patterns cover subnormals, both zeros, both infinities and every exponent.
TEST(FloatText, EveryFormReadsBackToTheSameDouble) {
  std::mt19937_64 random(20240501);
  for (int i = 0; i < 100'000; ++i) {
    const double value = std::bit_cast<double>(random());
    for (const FloatWriter writer : kWriters) {
      if (std::isnan(value) || (writer == append_json_number && std::isinf(value))) continue;
      std::string text;
      writer(text, value);
      const std::optional<double> back = parse_number<double>(text);
      ASSERT_TRUE(back && same_bits(*back, value)) << text;
    }
  }
}

TEST(ParseDouble, AcceptsDecimalNotationAndTheWords) {
  const std::pair<std::string_view, double> cases[] = {
      {" 52.5\t\n", 52.5},
      {"\u00A0\u3000-52.5\u2003", -52.5},
      {"+.5", 0.5},
      {"5.e1", 50.0},
      {"1E-3", 0.001},
      {"1e+3", 1000.0},
      {"-0", -0.0},
      {"-Infinity", -kInf},
      {"+INF", kInf},
      {" NaN ", kNaN},
      {"-nan", kNaN},
      // Out of range: overflow becomes infinity, underflow zero or the nearest subnormal.
      {"-1e400", -kInf},
      {"1.7976931348623159e308", kInf},
      {"-1e-400", -0.0},
      {"2e-324", 0.0},
      {"3e-324", 5e-324},
      {"1e99999999999999999999", kInf},
      {"0.000000000000000000000000000000000000000001e-290", 0.0},
      {"10000000000000000000000000000000000000000000000000e300", kInf}};
  for (const auto& [text, expected] : cases) {
    const double value = parse_number<double>(text).value_or(42.0);
    EXPECT_TRUE(std::isnan(expected) ? std::isnan(value) : same_bits(value, expected)) << text;
  }
}

TEST(ParseDouble, RejectsEverythingElse) {
  const std::string_view rejected[] = {
      "",     ".",      "+",       "e5",        ".e5",    "1e",       "1e+",
      "0x10", "nan(1)", "infinit", "infinityy", "1 000",  "1.2.3",    "--1",
      "+-1",  "1e5.5",  "1,5",     "1d",        "\u0661", "1e\u0661", {"1\0", 2}};
  for (const auto text : rejected) EXPECT_EQ(parse_number<double>(text), std::nullopt) << text;
}

TEST(ParseInteger, RangesAndSigns) {
  const std::tuple<std::string_view, std::optional<int>, std::optional<int>> cases[] = {
      {" +7 ", 7, 7},
      {"\u00A0-40", {}, -40},
      {"-0", {}, 0},
      {"000065535", 65535, {}},
      {"65536", {}, {}},
      {"32767", 32767, 32767},
      {"32768", 32768, {}},
      {"-32768", {}, -32768},
      {"-32769", {}, {}},
      {"150.0", {}, {}},
      {"1e2", {}, {}},
      {"", {}, {}},
      {"-", {}, {}},
      {"++1", {}, {}},
      {"--1", {}, {}},
      {"1 5", {}, {}},
      {"99999999999999999999999", {}, {}},
      {"-99999999999999999999", {}, {}}};
  const auto widen = [](auto v) { return v ? std::optional<int>(*v) : std::nullopt; };
  for (const auto& [text, u16, i16] : cases) {
    EXPECT_EQ(widen(parse_number<std::uint16_t>(text)), u16) << text;
    EXPECT_EQ(widen(parse_number<std::int16_t>(text)), i16) << text;
  }
}

std::string xml_escaped(std::string_view text) {
  std::string out = "<";  // appends, never overwrites
  append_xml_escaped(out, text);
  return out.substr(1);
}

TEST(TextForms, EscapingQuotingAndUtf8Repair) {
  using Transform = std::string (*)(std::string_view);
  const std::tuple<Transform, std::string_view, std::string_view> cases[] = {
      {xml_escaped, "<a href='x'>&\"", "&lt;a href=&apos;x&apos;&gt;&amp;&quot;"},
      {xml_escaped, "&amp;\t\r\n\u00e9", "&amp;amp;\t\r\n\u00e9"},
      // Characters XML cannot carry at all would make the document unreadable.
      {xml_escaped, std::string_view("a\0b\x01\x1f\x0b", 6), "a\uFFFDb\uFFFD\uFFFD\uFFFD"},
      {xml_escaped, "\uFFFE\uFFFF\uFFFD\uFFEE", "\uFFFD\uFFFD\uFFFD\uFFEE"},
      {xml_escaped, "\xEF\xBF", "\xEF\xBF"},  // a truncated sequence is not ours to judge
      {quoted, "a\"b\\c\t\r\n", R"("a\"b\\c\t\r\n")"},
      {quoted, std::string_view("x\0y", 3), R"("x\0y")"},
      {quoted, "\x01\x1b\x7f\u0085\u009f", R"("\u{1}\u{1b}\u{7f}\u{85}\u{9f}")"},
      {quoted, "'\u00e9\u00a0\u20ac", "\"'\u00e9\u00a0\u20ac\""},  // nothing above the C1 controls
      // Each maximal ill-formed prefix becomes one U+FFFD.
      {utf8_lossy, "a\u00e9\u20ac\U0001F600", "a\u00e9\u20ac\U0001F600"},
      {utf8_lossy, "\xC0\xAF|\xE0\x80\xAF", "\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD"},  // overlong
      {utf8_lossy, "\xED\xA0\x80|\xF4\x90\x80\x80", "\uFFFD\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD\uFFFD"},
      {utf8_lossy, "\x80\xFF|\xE2\x82|\xF0\x9F\x98", "\uFFFD\uFFFD|\uFFFD|\uFFFD"}};  // truncated
  for (const auto& [transform, text, expected] : cases) {
    EXPECT_EQ(transform(text), expected) << text;
    EXPECT_TRUE(transform != utf8_lossy || is_valid_utf8(text) == (text == expected)) << text;
  }
}

TEST(TextForms, TrimUnicodeAndXmlWhiteSpace) {
  EXPECT_EQ(trim_unicode_whitespace("\u2028 a b\u3000\u0085"), "a b");
  EXPECT_EQ(trim_unicode_whitespace("\xE3\x80 \xE3"), "\xE3\x80 \xE3");  // truncated U+3000
  // Only well-formed characters are white space: not an overlong space, nor a surrogate.
  EXPECT_EQ(trim_unicode_whitespace("\xC0\xA0x\xE0\x80\xA0"), "\xC0\xA0x\xE0\x80\xA0");
  EXPECT_EQ(trim_unicode_whitespace(" \xED\xA0\x80 "), "\xED\xA0\x80");
  EXPECT_EQ(trim_xml_whitespace("\u00A0a\r\n"), "\u00A0a");
  EXPECT_EQ(trim_xml_whitespace(" \t "), "");
}

}  // namespace
}  // namespace tramlix
