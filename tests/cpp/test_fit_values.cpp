#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <tuple>
#include <variant>
#include <vector>

#include "fit/raw_value.hpp"
#include "fit_bytes.hpp"

namespace fit {
namespace {

using namespace base_type;
using testing::Bytes;
using R = RawValue;

R array(std::uint8_t type, std::vector<std::uint64_t> elements) {
  return R::array(type, elements);
}

TEST(FitDecodeValue, ByBaseType) {
  const std::tuple<std::uint8_t, Bytes, bool, std::variant<R, FitError>> cases[] = {
      // Arrays keep invalid elements; only all-invalid is Invalid.
      {kUint8, {0xFF, 0x05, 0xFF}, false, array(kUint8, {255, 5, 255})},
      {kUint8, {0xFF, 0xFF, 0xFF}, false, R::invalid(kUint8)},
      {kUint16z, {0, 0}, false, R::invalid(kUint16z)},
      {kUint16, {0, 0}, false, R::scalar(kUint16, 0)},
      {kSint8, {0x7F}, false, R::invalid(kSint8)},
      {kSint16, {0xFF, 0xFB}, true, R::scalar(kSint16, std::uint64_t(-5))},
      {kSint32, {0, 0, 0, 0x80, 1, 0, 0, 0}, false, array(kSint32, {0xFFFFFFFF80000000, 1})},
      {kUint16, {0x01, 0x02, 0x03, 0x04}, true, array(kUint16, {0x0102, 0x0304})},
      {kSint64, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F}, false, R::invalid(kSint64)},
      {kFloat32, {0xFF, 0xFF, 0xFF, 0xFF}, false, R::invalid(kFloat32)},
      // Strings end at the first 0; malformed UTF-8 becomes U+FFFD per maximal ill-formed part.
      {kString, {'A', 'B', 0, 'x', 'y'}, false, R::string("AB")},
      {kString, {'W', 'A', 'L', 'K'}, false, R::string("WALK")},
      {kString, {}, false, R::invalid(kString)},
      {kString, {0, 'A'}, false, R::invalid(kString)},
      {kString, {0xC3, 0xA9, 0xE2, 0x82, 0xAC}, false, R::string("\u00E9\u20AC")},
      {kString, {'a', 0xFF, 'b'}, false, R::string("a\uFFFDb")},
      {kString, {'a', 0xE2, 0x82}, false, R::string("a\uFFFD")},
      {kString, {0xC0, 0xAF}, false, R::string("\uFFFD\uFFFD")},
      {kString, {0xED, 0xA0, 0x80, 'z'}, false, R::string("\uFFFD\uFFFD\uFFFDz")},
      {kString, {0xF0, 0x9F, 0x98, 'z'}, false, R::string("\uFFFDz")},
      {kByte, {}, false, R::bytes({})},
      {kByte, {0xFF, 0xFF}, false, R::invalid(kByte)},
      {kByte, {0xFF, 0x00}, false, R::bytes(Bytes{0xFF, 0x00})},
      {kUint32, Bytes(6), false, FitError(MalformedField{9, 6, 4})},
      {kUint16, {}, false, FitError(MalformedField{9, 0, 2})},
      {17, {1}, false, FitError(UnknownBaseType{17, 17})}};
  for (const auto& [code, bytes, big_endian, expected] : cases) {
    const auto decoded = decode_value(code, bytes, big_endian, 9);
    const auto got = decoded ? std::variant<R, FitError>(*decoded) : decoded.error();
    EXPECT_TRUE(got == expected) << "code " << int{code} << " " << testing::hex(bytes);
  }
}

TEST(FitRawValue, AsDoubles) {
  using Doubles = std::vector<double>;
  const std::tuple<R, std::optional<double>, std::optional<Doubles>> cases[] = {
      {R::scalar(kSint16, std::uint64_t(-5)), -5.0, Doubles{-5.0}},
      {R::scalar(kFloat32, 0x3FC00000), 1.5, Doubles{1.5}},
      {array(kSint8, {std::uint64_t(-1), 2}), {}, Doubles{-1.0, 2.0}},
      // A one-byte byte list is a number: a misaligned field read as bytes keeps its value.
      {R::bytes(Bytes{200}), 200.0, Doubles{200.0}},
      {R::bytes(Bytes{1, 2}), {}, Doubles{1.0, 2.0}},
      {R::string("12"), {}, {}}};
  for (const auto& [value, scalar, all] : cases) {
    EXPECT_EQ(value.scalar_f64(), scalar);
    EXPECT_EQ(value.to_f64s(), all);
  }
}

}  // namespace
}  // namespace fit
