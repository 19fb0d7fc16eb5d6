// Errors keep where in the input the fault lies beside their display text, which does not
// change with it.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fit_bytes.hpp"
#include "tramlix/error.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

using fit::testing::Bytes;
using fit::testing::Records;

Bytes bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

// A record made of a time and a heart rate, then one that uses a local message never defined.
Bytes fit_with_bad_record_at(std::size_t& offset) {
  Records records;
  records.define(0, 20, {{253, 4, 0x86}, {3, 1, 0x02}}).data(0, {0, 0, 0, 0x40, 120});
  offset = 14 + records.bytes().size();
  records.data(5, {1, 2, 3});
  return records.file();
}

TEST(Error, ReadersTellWhereTheFaultIs) {
  std::size_t bad_record = 0;
  const Bytes fit = fit_with_bad_record_at(bad_record);
  Bytes crc_broken = fit;
  crc_broken.back() ^= 0xFF;
  const std::string gpx = "<gpx>\n<trk><trkseg>\n  <trkpt></trk>";
  struct Case {
    Bytes data;
    std::string display;
    std::optional<Location> location;
  };
  const Case cases[] = {
      {bytes(gpx), "invalid GPX data: mismatched tag at line 3, column 12", TextPosition{3, 12}},
      // Blanks before the declaration are skipped, but count in the position.
      {bytes("\xEF\xBB\xBF  <?xml version='1.0'?><gpx><trk></gpx>"),
       "invalid GPX data: mismatched tag at line 1, column 36", TextPosition{1, 36}},
      {bytes("<TrainingCenterDatabase><Activities>\n<Activity><Id>&when;</Id>"),
       "invalid TCX data: unknown XML entity &when;", TextPosition{2, 15}},
      {fit, "invalid FIT data: data message uses undefined local message number 5",
       ByteOffset{bad_record}},
      // A checksum is about the whole file: no place to point at.
      {crc_broken, "", std::nullopt},
      {bytes("<gpx></gpx>"), "invalid GPX data: no track segments found", std::nullopt},
  };
  for (const Case& c : cases) {
    const auto file = loads(c.data);
    ASSERT_FALSE(file) << c.display;
    if (!c.display.empty()) {
      EXPECT_EQ(file.error().display(), c.display);
    }
    EXPECT_EQ(file.error().location(), c.location) << file.error().display();
  }
}

}  // namespace
}  // namespace tramlix
