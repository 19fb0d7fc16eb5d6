#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "tramlix/text.hpp"

namespace tramlix {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using FloatWriter = void (*)(std::string&, double);

std::string render(FloatWriter writer, double value) {
  std::string out;
  writer(out, value);
  return out;
}

std::string zeros(std::size_t n) {
  return std::string(n, '0');
}

struct FloatCase {
  double value;
  std::string xml;    // append_number
  std::string json;   // append_json_number
  std::string plain;  // append_plain_decimal
  std::string debug;  // append_debug_float
};

TEST(FloatText, LayoutsAgreeWithTheirRules) {
  const FloatCase cases[] = {
      {0.0, "0.0", "0.0", "0.0", "0.0"},
      {-0.0, "-0.0", "-0.0", "-0.0", "-0.0"},
      {5.0, "5.0", "5.0", "5.0", "5.0"},
      {1200.0, "1200.0", "1200.0", "1200.0", "1200.0"},
      {-52.5, "-52.5", "-52.5", "-52.5", "-52.5"},
      {52.520008, "52.520008", "52.520008", "52.520008", "52.520008"},
      {0.30000000000000004, "0.30000000000000004", "0.30000000000000004", "0.30000000000000004",
       "0.30000000000000004"},
      // Integer digits p = 15, 16, 17 around the switch to exponent form.
      {123456789012345.0, "123456789012345.0", "123456789012345.0", "123456789012345.0",
       "123456789012345.0"},
      {1e15, "1000000000000000.0", "1000000000000000.0", "1000000000000000.0",
       "1000000000000000.0"},
      {9999999999999998.0, "9999999999999998.0", "9999999999999998.0", "9999999999999998.0",
       "9999999999999998.0"},
      {1234567890123456.8, "1234567890123456.8", "1234567890123456.8", "1234567890123456.8",
       "1234567890123456.8"},
      {1e16, "1e16", "1e+16", "10000000000000000.0", "1e16"},
      {1.5e17, "1.5e17", "1.5e+17", "150000000000000000.0", "1.5e17"},
      {12345678901234568.0, "1.2345678901234568e16", "1.2345678901234568e+16",
       "12345678901234568.0", "1.2345678901234568e16"},
      {-1e16, "-1e16", "-1e+16", "-10000000000000000.0", "-1e16"},
      // Small values: the XML/JSON form switches below 1e-5, the debug form below 1e-4.
      {0.5, "0.5", "0.5", "0.5", "0.5"},
      {0.0001, "0.0001", "0.0001", "0.0001", "0.0001"},
      {0.00012, "0.00012", "0.00012", "0.00012", "0.00012"},
      {0.00001, "0.00001", "0.00001", "0.00001", "1e-5"},
      {0.000015, "0.000015", "0.000015", "0.000015", "1.5e-5"},
      {0.000001, "1e-6", "1e-6", "0.000001", "1e-6"},
      {-0.0000015, "-1.5e-6", "-1.5e-6", "-0.0000015", "-1.5e-6"},
      {1.5e-7, "1.5e-7", "1.5e-7", "0.00000015", "1.5e-7"},
      // Extremes.
      {5e-324, "5e-324", "5e-324", "0." + zeros(323) + "5", "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e308", "1.7976931348623157e+308",
       "17976931348623157" + zeros(292) + ".0", "1.7976931348623157e308"},
      {1e300, "1e300", "1e+300", "1" + zeros(300) + ".0", "1e300"},
      {kNaN, "NaN", "null", "NaN", "NaN"},
      {-kNaN, "NaN", "null", "NaN", "NaN"},
      {kInf, "inf", "null", "inf", "inf"},
      {-kInf, "-inf", "null", "-inf", "-inf"},
  };
  for (const FloatCase& c : cases) {
    SCOPED_TRACE(c.xml);
    EXPECT_EQ(render(append_number, c.value), c.xml);
    EXPECT_EQ(render(append_json_number, c.value), c.json);
    EXPECT_EQ(render(append_plain_decimal, c.value), c.plain);
    EXPECT_EQ(render(append_debug_float, c.value), c.debug);
  }
}

TEST(FloatText, AppendsAfterExistingContent) {
  std::string out = "x=";
  append_number(out, 1e16);
  append_plain_decimal(out, 2.5);
  EXPECT_EQ(out, "x=1e162.5");
}

bool same_bits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

// Random bit patterns cover subnormals, both zeros, both infinities and every exponent.
TEST(FloatText, EveryFormReadsBackToTheSameDouble) {
  std::mt19937_64 random(20240501);
  const FloatWriter writers[] = {append_number, append_plain_decimal, append_json_number,
                                 append_debug_float};
  std::string text;
  for (int i = 0; i < 100'000; ++i) {
    const double value = std::bit_cast<double>(random());
    if (std::isnan(value)) continue;
    for (const FloatWriter writer : writers) {
      if (writer == append_json_number && std::isinf(value)) continue;
      text.clear();
      writer(text, value);
      const std::optional<double> back = parse_number<double>(text);
      ASSERT_TRUE(back.has_value()) << text;
      ASSERT_TRUE(same_bits(*back, value)) << text;
    }
  }
}

TEST(ParseDouble, AcceptsDecimalNotationAndTheWords) {
  const struct {
    std::string_view text;
    double expected;
  } cases[] = {
      {"1", 1.0},
      {" 52.5\t\n", 52.5},
      {"\u00A0\u3000-52.5\u2003", -52.5},  // Unicode white space around the value
      {"+1.5", 1.5},
      {".5", 0.5},
      {"5.", 5.0},
      {"1e3", 1000.0},
      {"1E-3", 0.001},
      {"1e+3", 1000.0},
      {"-0", -0.0},
      {"007", 7.0},
      {"5.e1", 50.0},
      {"inf", kInf},
      {"-Infinity", -kInf},
      {"+INF", kInf},
      // Out of range: overflow becomes infinity, underflow zero or the nearest subnormal.
      {"1e400", kInf},
      {"-1e400", -kInf},
      {"1.7976931348623159e308", kInf},
      {"1e-400", 0.0},
      {"-1e-400", -0.0},
      {"2e-324", 0.0},
      {"3e-324", 5e-324},
      {"1e-320", 1e-320},
      {"1e99999999999999999999", kInf},
      {"0e99999999999999999999", 0.0},
      {"0.000000000000000000000000000000000000000001e-290", 0.0},
      {"10000000000000000000000000000000000000000000000000e300", kInf},
      {"123456789012345678901234567890", 123456789012345678901234567890.0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::optional<double> value = parse_number<double>(c.text);
    ASSERT_TRUE(value.has_value());
    EXPECT_TRUE(same_bits(*value, c.expected)) << *value;
  }
  for (std::string_view text : {"nan", "NaN", "-nan", "+NAN", " nan "}) {
    const std::optional<double> value = parse_number<double>(text);
    ASSERT_TRUE(value.has_value()) << text;
    EXPECT_TRUE(std::isnan(*value)) << text;
  }
}

TEST(ParseDouble, RejectsEverythingElse) {
  const std::string_view rejected[] = {
      "",          " ",    ".",     "+",     "-",      "e5",       ".e5",
      "1e",        "1e+",  "1e-",   "0x10",  "0x1p3",  "nan(1)",   "infinit",
      "infinityy", "in f", "1_000", "1 000", "1.2.3",  "--1",      "+-1",
      "1e5.5",     "1,5",  "1d",    "1f",    "\u0661", "1e\u0661", std::string_view("1\0", 2)};
  for (std::string_view text : rejected) {
    EXPECT_EQ(parse_number<double>(text), std::nullopt) << text;
  }
}

TEST(ParseInteger, Uint16) {
  const struct {
    std::string_view text;
    std::optional<std::uint16_t> expected;
  } cases[] = {
      {"0", 0},
      {"150", 150},
      {" 150 ", 150},
      {"+7", 7},
      {"65535", 65535},
      {"000065535", 65535},
      {"65536", std::nullopt},
      {"-1", std::nullopt},
      {"-0", std::nullopt},
      {"150.0", std::nullopt},
      {"1e2", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"++1", std::nullopt},
      {"1 5", std::nullopt},
      {"99999999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_number<std::uint16_t>(c.text), c.expected) << c.text;
  }
}

TEST(ParseInteger, Int16) {
  const struct {
    std::string_view text;
    std::optional<std::int16_t> expected;
  } cases[] = {
      {"-4", -4},
      {"+5", 5},
      {"\u00A0-40 ", -40},
      {"-32768", -32768},
      {"32767", 32767},
      {"-0", 0},
      {"32768", std::nullopt},
      {"-32769", std::nullopt},
      {"23.5", std::nullopt},
      {"--1", std::nullopt},
      {"-", std::nullopt},
      {"-99999999999999999999", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_number<std::int16_t>(c.text), c.expected) << c.text;
  }
}

TEST(XmlEscape, ReplacesTheFiveMarkupCharactersAndWhatXmlCannotCarry) {
  const struct {
    std::string_view text;
    std::string_view expected;
  } cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"<a href='x'>&\"", "&lt;a href=&apos;x&apos;&gt;&amp;&quot;"},
      {"&&", "&amp;&amp;"},
      {"Tom & Jerry", "Tom &amp; Jerry"},
      {"\t\r\n\u00e9 ;#", "\t\r\n\u00e9 ;#"},
      {"&amp;", "&amp;amp;"},
      // XML cannot carry these at all: they would make the document unreadable.
      {std::string_view("a\0b\x01\x1f\x0b", 6), "a\uFFFDb\uFFFD\uFFFD\uFFFD"},
      {"\uFFFE\uFFFF\uFFFD\uFFEE", "\uFFFD\uFFFD\uFFFD\uFFEE"},
      {"\xEF\xBF", "\xEF\xBF"},  // a truncated sequence is not ours to judge
  };
  for (const auto& c : cases) {
    std::string out = "<";
    append_xml_escaped(out, c.text);
    EXPECT_EQ(out, std::string("<").append(c.expected)) << c.text;
  }
}

TEST(Quoted, EscapesQuotesBackslashesAndControls) {
  const struct {
    std::string_view text;
    std::string_view expected;
  } cases[] = {
      {"2024-05-01", R"("2024-05-01")"},
      {"", R"("")"},
      {"a\"b\\c", R"("a\"b\\c")"},
      {"\t\r\n", R"("\t\r\n")"},
      {std::string_view("x\0y", 3), R"("x\0y")"},
      {"\x1b[0m", R"("\u{1b}[0m")"},
      {"\x01\x1f\x7f", R"("\u{1}\u{1f}\u{7f}")"},
      {"\u0085\u009f", R"("\u{85}\u{9f}")"},
      {"'\u00e9\u00a0\u20ac", "\"'\u00e9\u00a0\u20ac\""},  // no escape above the C1 controls
  };
  for (const auto& c : cases) {
    EXPECT_EQ(quoted(c.text), c.expected) << c.text;
  }
}

TEST(Trim, UnicodeAndXmlWhiteSpace) {
  EXPECT_EQ(trim_unicode_whitespace("\u2028 a b\u3000\u0085"), "a b");
  EXPECT_EQ(trim_unicode_whitespace("\u00e9"), "\u00e9");
  EXPECT_EQ(trim_xml_whitespace("\u00A0a\r\n"), "\u00A0a");
  EXPECT_EQ(trim_xml_whitespace(" \t "), "");
}

}  // namespace
}  // namespace tramlix
