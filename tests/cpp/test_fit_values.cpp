#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "fit/raw_value.hpp"
#include "fit_bytes.hpp"

namespace fit {
namespace {

using namespace base_type;
using testing::Bytes;

RawValue array(std::uint8_t type, std::vector<std::uint64_t> elements) {
  return RawValue::array(type, elements);
}

TEST(FitDecodeValue, ByBaseType) {
  const struct {
    std::uint8_t code;
    Bytes bytes;
    bool big_endian;
    std::variant<RawValue, FitError> expected;
  } cases[] = {
      // Arrays keep invalid elements; only all-invalid is Invalid.
      {kUint8, {0xFF, 0x05, 0xFF}, false, array(kUint8, {255, 5, 255})},
      {kUint8, {0xFF, 0xFF, 0xFF}, false, RawValue::invalid(kUint8)},
      {kUint16z, {0, 0}, false, RawValue::invalid(kUint16z)},
      {kUint16, {0, 0}, false, RawValue::scalar(kUint16, 0)},
      {kUint8z, {0, 7}, false, array(kUint8z, {0, 7})},
      {kSint8, {0x7F}, false, RawValue::invalid(kSint8)},
      {kSint16, {0xFB, 0xFF}, false, RawValue::scalar(kSint16, std::uint64_t(-5))},
      {kSint16, {0xFF, 0xFB}, true, RawValue::scalar(kSint16, std::uint64_t(-5))},
      {kSint32, {0, 0, 0, 0x80, 1, 0, 0, 0}, false, array(kSint32, {0xFFFFFFFF80000000, 1})},
      {kUint16, {0x01, 0x02, 0x03, 0x04}, true, array(kUint16, {0x0102, 0x0304})},
      {kUint32z, {0, 0, 0, 0}, false, RawValue::invalid(kUint32z)},
      {kUint64, Bytes(8, 0xFF), false, RawValue::invalid(kUint64)},
      {kSint64,
       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F},
       false,
       RawValue::invalid(kSint64)},
      {kUint64z,
       {1, 0, 0, 0, 0, 0, 0, 0x80},
       false,
       RawValue::scalar(kUint64z, 0x8000000000000001)},
      {kFloat32, {0xFF, 0xFF, 0xFF, 0xFF}, false, RawValue::invalid(kFloat32)},
      {kFloat32, {0x3F, 0xC0, 0, 0}, true, RawValue::scalar(kFloat32, 0x3FC00000)},
      {kEnum, {0xFF}, false, RawValue::invalid(kEnum)},
      // Strings end at the first 0; malformed UTF-8 becomes U+FFFD per maximal ill-formed part.
      {kString, {'A', 'B', 0, 'x', 'y'}, false, RawValue::string("AB")},
      {kString, {'W', 'A', 'L', 'K'}, false, RawValue::string("WALK")},
      {kString, {}, false, RawValue::invalid(kString)},
      {kString, {0, 'A'}, false, RawValue::invalid(kString)},
      {kString, {0xC3, 0xA9, 0xE2, 0x82, 0xAC}, false, RawValue::string("\u00E9\u20AC")},
      {kString, {'a', 0xFF, 'b'}, false, RawValue::string("a\uFFFDb")},
      {kString, {'a', 0xE2, 0x82}, false, RawValue::string("a\uFFFD")},
      {kString, {0xC0, 0xAF}, false, RawValue::string("\uFFFD\uFFFD")},
      {kString, {0xED, 0xA0, 0x80, 'z'}, false, RawValue::string("\uFFFD\uFFFD\uFFFDz")},
      {kString, {0xF0, 0x9F, 0x98, 'z'}, false, RawValue::string("\uFFFDz")},
      {kByte, {}, false, RawValue::bytes({})},
      {kByte, {0xFF, 0xFF}, false, RawValue::invalid(kByte)},
      {kByte, {0xFF, 0x00}, false, RawValue::bytes(Bytes{0xFF, 0x00})},
      {kUint32, Bytes(6), false, FitError(MalformedField{9, 6, 4})},
      {kUint16, {}, false, FitError(MalformedField{9, 0, 2})},
      {17, {1}, false, FitError(UnknownBaseType{17, 17})},
  };
  for (const auto& c : cases) {
    const auto decoded = decode_value(c.code, c.bytes, c.big_endian, 9);
    const std::string label =
        "code " + std::to_string(c.code) + ", " + std::to_string(c.bytes.size()) + " bytes";
    if (const auto* error = std::get_if<FitError>(&c.expected)) {
      ASSERT_FALSE(decoded) << label;
      EXPECT_EQ(decoded.error(), *error) << label;
    } else {
      ASSERT_TRUE(decoded) << label << ": " << decoded.error().display();
      EXPECT_EQ(*decoded, std::get<RawValue>(c.expected)) << label << " text " << decoded->text();
    }
  }
}

// A value decoded over a reused one must not keep anything of the old one.
TEST(FitDecodeValue, ReusedValueIsReplacedWhole) {
  RawValue value;
  ASSERT_TRUE(decode_value(value, kString, Bytes{'l', 'o', 'n', 'g'}, false, 0));
  ASSERT_TRUE(decode_value(value, kUint16, Bytes{1, 2, 3, 4}, false, 0));
  EXPECT_EQ(value, array(kUint16, {0x0201, 0x0403}));
  ASSERT_TRUE(decode_value(value, kUint8, Bytes{7}, false, 0));
  EXPECT_EQ(value, RawValue::scalar(kUint8, 7));
  ASSERT_TRUE(decode_value(value, kString, Bytes{'x'}, false, 0));
  EXPECT_EQ(value.text(), "x");
}

TEST(FitRawValue, AsDoubles) {
  using Doubles = std::vector<double>;
  const struct {
    RawValue value;
    std::optional<double> scalar;
    std::optional<Doubles> all;
  } cases[] = {
      {RawValue::scalar(kSint16, std::uint64_t(-5)), -5.0, Doubles{-5.0}},
      {RawValue::scalar(kFloat32, 0x3FC00000), 1.5, Doubles{1.5}},
      {RawValue::scalar(kUint64, 0xFFFFFFFFFFFFFFFE), 18446744073709551616.0,
       Doubles{18446744073709551616.0}},
      {array(kSint8, {std::uint64_t(-1), 2}), {}, Doubles{-1.0, 2.0}},
      {RawValue::bytes(Bytes{200}), 200.0, Doubles{200.0}},
      {RawValue::bytes(Bytes{1, 2}), {}, Doubles{1.0, 2.0}},
      {RawValue::string("12"), {}, {}},
      {RawValue::invalid(kUint8), {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.value.scalar_f64(), c.scalar);
    EXPECT_EQ(c.value.to_f64s(), c.all);
  }
}

}  // namespace
}  // namespace fit
