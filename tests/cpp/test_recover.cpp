// recover(): what damaged files still hold, and what it says about the damage.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fit_bytes.hpp"
#include "gzip.hpp"
#include "problems.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

using fit::testing::Bytes;
using fit::testing::cat;
using fit::testing::le16;
using fit::testing::le32;

Bytes bytes_of(std::string_view text) {
  return {text.begin(), text.end()};
}

// The points of a file in order, each by the value that tells it apart: its heart rate, or else
// its latitude.
std::vector<double> points_of(const ActivityFile& file) {
  std::vector<double> values;
  for (const Activity& activity : file.activities) {
    for (const Segment& segment : activity.segments) {
      for (const TrackPoint& point : segment.points) {
        values.push_back(point.heart_rate_bpm ? *point.heart_rate_bpm
                                              : point.latitude.value_or(-1));
      }
    }
  }
  return values;
}

// "100 101 | first problem | second problem": the points kept, then what was said.
std::string shown(const Recovery& recovery) {
  std::string out;
  for (const double value : points_of(recovery.file)) {
    if (!out.empty()) out += ' ';
    out += std::to_string(static_cast<long>(value));
  }
  for (const std::string& problem : recovery.problems) out += " | " + problem;
  return out;
}

std::string shown(const Bytes& bytes) {
  return shown(recover(bytes));
}

// A FIT file of five records with heart rates 100 to 104: the 14-byte header, a definition at
// offset 14 (12 bytes), then the records at 26, 32, ... 50 (6 bytes each), the data ending at
// 56 and the file CRC at 56.
Bytes five_records() {
  fit::testing::Records records;
  records.define(0, 20, {{253, 4, 0x86}, {3, 1, 0x02}});
  for (std::uint8_t i = 0; i < 5; ++i) {
    records.data(0, cat({le32(1'000'000'000u + i), {std::uint8_t(100 + i)}}));
  }
  return records.file();
}

// `bytes` with a new file CRC over all but their last two bytes, as a writer would have made it.
Bytes with_file_crc(Bytes bytes) {
  bytes.resize(bytes.size() - 2);
  return cat({bytes, le16(fit::crc16(bytes))});
}

std::string hex4(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04X", value);
  return text;
}

TEST(RecoverFit, KeepsWhatPrecedesEachKindOfDamage) {
  const Bytes good = five_records();
  ASSERT_EQ(good.size(), 58u);
  const Bytes cut_body(good.begin(), good.begin() + 56);
  const auto first = [&](std::size_t n) { return Bytes(good.begin(), good.begin() + n); };

  Bytes bad_file_crc = good;
  bad_file_crc[56] = 0x34;
  bad_file_crc[57] = 0x12;
  const std::string file_crc =
      "file CRC mismatch: stored 0x1234, calculated " + hex4(fit::crc16(cut_body)) + " (ignored)";
  Bytes bad_header_crc = good;
  bad_header_crc[12] = 0xCD;
  bad_header_crc[13] = 0xAB;
  const std::string header_crc = "header CRC mismatch: stored 0xABCD, calculated " +
                                 hex4(fit::crc16(std::span(good).first(12))) + " (ignored)";
  // The record at 38 says it is of local type 5, which nothing defined.
  Bytes undefined = good;
  undefined[38] = 0x05;
  Bytes bad_chained_header = good;
  bad_chained_header[0] = 13;

  const struct {
    const char* name;
    Bytes bytes;
    std::string expected;
  } cases[] = {
      {"intact", good, "100 101 102 103 104"},
      {"file CRC", bad_file_crc, "100 101 102 103 104 | " + file_crc},
      {"header CRC", with_file_crc(bad_header_crc), "100 101 102 103 104 | " + header_crc},
      {"both CRCs",
       cat({first(12), le16(0xABCD), Bytes(good.begin() + 14, good.end() - 2), le16(0x1234)}),
       "100 101 102 103 104 | " + header_crc + " | file CRC mismatch: stored 0x1234, calculated " +
           hex4(fit::crc16(
               cat({first(12), le16(0xABCD), Bytes(good.begin() + 14, good.end() - 2)}))) +
           " (ignored)"},
      {"cut inside a record", first(47),
       "100 101 102 | data ends inside a record at offset 44: kept 3 records before it"},
      {"cut between records", first(44),
       "100 101 102 | data ends at offset 44, 12 bytes short of what the header declares: kept 3 "
       "records before it"},
      {"cut before the CRC", first(57),
       "100 101 102 103 104 | the file ends after its data, without its CRC: kept 5 records"},
      {"cut inside the definition", first(20),
       " | data ends inside a record at offset 14: kept 0 records before it | no record messages "
       "found"},
      {"undefined local message", with_file_crc(undefined),
       "100 101 | data message uses undefined local message number 5 in the record at offset 38: "
       "kept 2 records before it"},
      {"chained file with a bad CRC", cat({good, bad_file_crc}),
       "100 101 102 103 104 100 101 102 103 104 | chained file at offset 58: " + file_crc},
      {"chained file cut short", cat({good, first(40)}),
       "100 101 102 103 104 100 101 | chained file at offset 58: data ends inside a record at "
       "offset 96: kept 7 records before it"},
      {"chained file with a bad header", cat({good, bad_chained_header}),
       "100 101 102 103 104 | chained file at offset 58: invalid header size byte: expected 12 or "
       "14, got 13: kept 5 records before it"},
      {"not FIT at all", bytes_of("\x0e nothing like a FIT file"),
       " | unsupported or unrecognized activity format: content is not recognizable as GPX, TCX, "
       "or FIT"},
  };
  for (const auto& c : cases) EXPECT_EQ(shown(c.bytes), c.expected) << c.name;
}

// Whatever the cut, recover() keeps a prefix of the records, says something exactly when
// loads() fails, and otherwise gives what loads() gives.
void expect_every_prefix_recovers(const Bytes& whole) {
  const std::vector<double> all = points_of(*loads(whole));
  for (std::size_t cut = 0; cut <= whole.size(); ++cut) {
    const Bytes prefix(whole.begin(), whole.begin() + cut);
    const Recovery recovery = recover(prefix);
    const std::vector<double> kept = points_of(recovery.file);
    ASSERT_LE(kept.size(), all.size()) << cut;
    EXPECT_TRUE(std::equal(kept.begin(), kept.end(), all.begin())) << cut;
    const auto loaded = loads(prefix);
    EXPECT_EQ(recovery.problems.empty(), loaded.has_value()) << cut << shown(recovery);
    if (loaded) {
      EXPECT_EQ(recovery.file, *loaded) << cut;
    } else {
      EXPECT_EQ(recovery.file.activities.empty(), kept.empty()) << cut;
    }
  }
}

TEST(RecoverFit, EveryPrefixOfAChainKeepsAPrefixOfItsRecords) {
  expect_every_prefix_recovers(cat({five_records(), five_records()}));
}

constexpr std::string_view kGpx =
    "<?xml version='1.0'?>\n"
    "<gpx version='1.1'>\n"
    "<trk><name>one</name><trkseg>\n"
    "  <trkpt lat='1' lon='0'><ele>10</ele></trkpt>\n"
    "  <trkpt lat='2' lon='0'/>\n"
    "</trkseg></trk>\n"
    "<trk><name>two</name><trkseg>\n"
    "  <trkpt lat='3' lon='0'><time>2024-05-01T00:00:03Z</time></trkpt>\n"
    "  <trkpt lat='4' lon='0'><ele>40</ele></trkpt>\n"
    "</trkseg><trkseg><trkpt lat='5' lon='0'/></trkseg></trk>\n"
    "</gpx>\n";

constexpr std::string_view kTcx =
    "<TrainingCenterDatabase><Activities>\n"
    "<Activity Sport='Biking'><Id>2024-05-01T00:00:00Z</Id><Lap><Track>\n"
    "  <Trackpoint><Position><LatitudeDegrees>1</LatitudeDegrees></Position></Trackpoint>\n"
    "  <Trackpoint><Position><LatitudeDegrees>2</LatitudeDegrees></Position></Trackpoint>\n"
    "</Track></Lap><Lap><Track>\n"
    "  <Trackpoint><HeartRateBpm><Value>130</Value></HeartRateBpm></Trackpoint>\n"
    "</Track></Lap></Activity>\n"
    "</Activities></TrainingCenterDatabase>\n";

std::string replaced(std::string_view text, std::string_view from, std::string_view to) {
  std::string out(text);
  out.replace(out.find(from), from.size(), to);
  return out;
}

std::string before(std::string_view text, std::string_view marker) {
  return std::string(text.substr(0, text.find(marker)));
}

TEST(RecoverXml, KeepsThePointsCompletedBeforeTheFault) {
  const std::string kept = ": kept the points completed before it";
  const struct {
    const char* name;
    std::string document;
    std::string expected;
  } cases[] = {
      {"gpx intact", std::string(kGpx), "1 2 3 4 5"},
      {"gpx cut inside a point", before(kGpx, "<ele>40"),
       "1 2 3 | no element found at line 9, column 26" + kept},
      {"gpx corrupt inside a point", replaced(kGpx, "<ele>40", "<ele>4<0"),
       "1 2 3 | not well-formed (invalid token) at line 9, column 33" + kept},
      {"gpx mismatched tag", replaced(kGpx, "</trkseg><trkseg>", "</trk><trkseg>"),
       "1 2 3 4 | mismatched tag at line 10, column 3" + kept},
      {"gpx unknown entity", replaced(kGpx, "<name>two", "<name>&nbsp;"),
       "1 2 | unknown XML entity &nbsp;" + kept},
      {"gpx cut before any point", before(kGpx, "<ele>10"),
       " | no element found at line 4, column 26 | no track segments found"},
      {"tcx cut in the second lap", before(kTcx, "<Value>"),
       "1 2 | no element found at line 6, column 29" + kept},
      {"tcx cut before any point", before(kTcx, "</Position>"),
       " | no element found at line 3, column 61 | no activities found"},
  };
  for (const auto& c : cases) EXPECT_EQ(shown(bytes_of(c.document)), c.expected) << c.name;

  // What is kept is closed as the document would have closed it.
  const Recovery gpx = recover(bytes_of(before(kGpx, "<ele>40")));
  ASSERT_EQ(gpx.file.activities.size(), 2u);
  EXPECT_EQ(gpx.file.activities[1].name, "two");
  EXPECT_EQ(gpx.file.activities[1].start_time, (UtcInstant{1714521603, 0}));
  const Recovery tcx = recover(bytes_of(before(kTcx, "<Value>")));
  ASSERT_EQ(tcx.file.activities.size(), 1u);
  EXPECT_EQ(tcx.file.activities[0].sport, "cycling");
  EXPECT_EQ(tcx.file.activities[0].segments.size(), 1u);  // the second lap's track held no point
  EXPECT_EQ(tcx.file.activities[0].start_time, (UtcInstant{1714521600, 0}));
}

TEST(RecoverXml, EveryPrefixKeepsAPrefixOfThePoints) {
  expect_every_prefix_recovers(bytes_of(kGpx));
  expect_every_prefix_recovers(bytes_of(kTcx));
}

Bytes gz(std::string_view text) {
  return bytes_of(gzip::deflate(text));
}

TEST(RecoverGzip, KeepsWhatInflatedBeforeTheDamage) {
  const std::string document(kGpx);
  const Bytes packed = gz(document);
  // A stream cut short gives what inflated before the cut, which the reader then recovers from.
  const Recovery cut = recover(Bytes(packed.begin(), packed.end() - 12));
  ASSERT_EQ(cut.problems.size(), 2u) << shown(cut);
  EXPECT_TRUE(cut.problems[0].starts_with(
      "invalid gzip data: cut short: the stream ends before its end marker: kept the "));
  EXPECT_TRUE(cut.problems[0].ends_with(" bytes unpacked before it"));
  EXPECT_TRUE(cut.problems[1].ends_with(": kept the points completed before it"));
  const std::vector<double> kept = points_of(cut.file);
  EXPECT_FALSE(kept.empty());
  const std::vector<double> all{1, 2, 3, 4, 5};
  EXPECT_TRUE(std::ranges::equal(kept, std::span(all).first(std::min(kept.size(), all.size()))));

  const std::vector<std::pair<Bytes, std::string>> cases = {
      {cat({packed, bytes_of("junk")}),
       "1 2 3 4 5 | invalid gzip data: unexpected bytes after the end of the stream, at offset " +
           std::to_string(packed.size()) + " (ignored)"},
      {Bytes(packed.begin(), packed.begin() + 5),
       " | invalid gzip data: cut short: the stream ends before its end marker"},
      {gz(std::string(gzip::deflate(document))),
       " | invalid gzip data: the uncompressed data is gzip-compressed again; unpack it first"},
  };
  for (const auto& [bytes, expected] : cases) EXPECT_EQ(shown(bytes), expected);
}

TEST(Recover, ReadsFilesAndFailsOnlyWhenTheyCannotBeRead) {
  const auto missing = recover_file("/nonexistent/run.fit");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), Error::Kind::Io);
}

TEST(Recover, CountsAreGroupedByThousands) {
  EXPECT_EQ(counted(1, "record", "records"), "1 record");
  EXPECT_EQ(counted(999, "record", "records"), "999 records");
  EXPECT_EQ(counted(5210, "record", "records"), "5,210 records");
  EXPECT_EQ(counted(1234567, "byte", "bytes"), "1,234,567 bytes");
}

}  // namespace
}  // namespace tramlix
