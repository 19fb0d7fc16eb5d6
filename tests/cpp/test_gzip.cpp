#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gzip.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes gz(std::string_view text) {
  const std::string packed = gzip::deflate(text);
  return {packed.begin(), packed.end()};
}

Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::string inflated(const Bytes& data, std::size_t max_output = gzip::kMaxOutput) {
  auto out = gzip::inflate(data, max_output);
  if (!out) return "error: " + out.error().display();
  return {reinterpret_cast<const char*>(out->data.get()), out->size};
}

// Compresses far more than 4:1, so the output buffer grows several times past its first guess.
std::string repetitive(std::size_t size) {
  std::string text;
  for (std::size_t i = 0; text.size() < size; ++i) {
    text += "<trkpt n=\"" + std::to_string(i) + "\"/>";
  }
  text.resize(size);
  return text;
}

TEST(Gzip, InflatesEveryMemberAndIgnoresZeroPadding) {
  const std::string big = repetitive(3'000'000);
  EXPECT_EQ(inflated(gz(big)), big);
  EXPECT_EQ(inflated(gz("a") + gz("") + gz("bc")), "abc");
  EXPECT_EQ(inflated(gz("abc") + Bytes(100, 0)), "abc");
  EXPECT_EQ(inflated(gz("")), "");
}

TEST(Gzip, DamagedStreamsAreNamed) {
  const Bytes good = gz("<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"/></trkseg></trk></gpx>");
  const std::size_t n = good.size();
  auto changed = [&](std::size_t at, std::uint8_t value) {
    Bytes bytes = good;
    bytes[at] = value;
    return bytes;
  };
  const std::string error = "error: invalid gzip data: ";
  const std::string cut = error + "cut short: the stream ends before its end marker";
  const std::string trailing =
      error + "unexpected bytes after the end of the stream, at offset " + std::to_string(n);
  const std::pair<Bytes, std::string> cases[] = {
      {changed(n - 8, good[n - 8] ^ 1), error + "corrupt stream (incorrect data check)"},
      {changed(n - 4, good[n - 4] ^ 1), error + "corrupt stream (incorrect length check)"},
      {changed(2, 7), error + "corrupt stream (unknown compression method)"},
      {changed(10, 0x07), error + "corrupt stream (invalid block type)"},
      {good + Bytes{'x', 0}, trailing},
      {good + Bytes{0, 0, 0x1f, 0x8b}, trailing},  // padding ends the stream
      {good + Bytes{0x1f}, cut},
      {good + Bytes(good.begin(), good.end() - 1), cut},
  };
  for (const auto& [bytes, message] : cases) EXPECT_EQ(inflated(bytes), message);
  // However short the cut, header and trailer included, it is never taken for a whole stream.
  for (std::size_t size = 0; size < n; ++size) {
    EXPECT_EQ(inflated(Bytes(good.begin(), good.begin() + size)), cut) << size;
  }
}

TEST(Gzip, OutputStopsAtTheBound) {
  const std::string big = repetitive((1 << 20) + 1);
  const std::string over = "error: invalid gzip data: the uncompressed data exceeds the limit of ";
  const std::pair<std::size_t, std::string> cases[] = {
      {big.size(), big},  // exactly at the bound is allowed
      {big.size() + 1, big},
      {big.size() - 1, over + "1 MiB"},
      {1000, over + "1000 bytes"},  // below the first guess of the buffer's size
  };
  for (const auto& [bound, expected] : cases) {
    EXPECT_EQ(inflated(gz(big), bound), expected) << bound;
  }
  // Members together, not each alone, are held to it.
  EXPECT_EQ(inflated(gz("abc") + gz("def"), 6), "abcdef");
  EXPECT_EQ(inflated(gz("abc") + gz("def"), 5), over + "5 bytes");
  EXPECT_EQ(inflated(gz("") + gz(""), 0), "");
  EXPECT_EQ(inflated(gz("a"), 0), over + "0 bytes");
}

std::span<const std::uint8_t> span(const Bytes& bytes) {
  return bytes;
}

TEST(Gzip, LoadsUnpacksOneLayerWhateverTheFormat) {
  constexpr std::string_view kGpx =
      "<gpx><trk><trkseg><trkpt lat=\"1\" lon=\"2\"/></trkseg></trk></gpx>";
  const Bytes plain(kGpx.begin(), kGpx.end());
  const auto expected = loads(plain);
  ASSERT_TRUE(expected);
  EXPECT_EQ(loads(span(gz(kGpx))), expected);
  EXPECT_EQ(loads(span(gz(kGpx)), Format::Gpx), expected);
  // The format named is the one inside: these are not TCX, compressed or not.
  EXPECT_EQ(loads(span(gz(kGpx)), Format::Tcx).error(), loads(plain, Format::Tcx).error());
  const std::string twice = gzip::deflate(std::string(kGpx.size(), 'x'));
  EXPECT_EQ(loads(span(gz(twice))).error().display(),
            "invalid gzip data: the uncompressed data is gzip-compressed again; unpack it first");
  EXPECT_EQ(loads(span(gz(kGpx) + Bytes{1})).error().display(),
            "invalid gzip data: unexpected bytes after the end of the stream, at offset " +
                std::to_string(gz(kGpx).size()));
}

}  // namespace
}  // namespace tramlix
