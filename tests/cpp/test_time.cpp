#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "tramlix/time.hpp"

namespace tramlix {
namespace {

constexpr std::int64_t kMay1st = 1'714'557'600;            // 2024-05-01T10:00:00Z
constexpr std::int64_t kLastSecondOf2016 = 1'483'228'799;  // 2016-12-31T23:59:59Z
constexpr std::uint32_t kLeap = 1'000'000'000;             // nanoseconds that mark second 60

UtcInstant at(std::int64_t seconds, std::uint32_t nanos = 0) {
  return {seconds, nanos};
}

UtcInstant civil(std::int64_t year, unsigned month, unsigned day, unsigned hour = 0,
                 unsigned minute = 0, unsigned second = 0) {
  return *from_civil({year, month, day, hour, minute, second, 0});
}

TEST(Calendar, ValidDates) {
  const std::tuple<std::int64_t, unsigned, unsigned, bool> dates[] = {
      {2024, 2, 29, true},  {2023, 2, 29, false}, {1900, 2, 29, false}, {2000, 2, 29, true},
      {-4, 2, 29, true},    {-100, 2, 29, false}, {2024, 4, 31, false}, {2024, 12, 31, true},
      {2024, 13, 1, false}, {2024, 0, 1, false},  {2024, 1, 0, false}};
  for (const auto& [year, month, day, valid] : dates) {
    EXPECT_EQ(is_valid_date(year, month, day), valid) << year << "-" << month << "-" << day;
  }
}

TEST(Calendar, CivilRoundTripOverTheWholeRange) {
  // One second past either end of 64-bit seconds (see the extremes in TimeText.Layout).
  EXPECT_EQ(from_civil({292'277'026'596, 12, 4, 15, 30, 8, 0}), std::nullopt);
  EXPECT_EQ(from_civil({-292'277'022'657, 1, 27, 8, 29, 51, 0}), std::nullopt);
  EXPECT_EQ(from_civil({2016, 12, 31, 23, 59, 60, 5}), at(kLastSecondOf2016, kLeap + 5));
  std::mt19937_64 random(7);
  for (int i = 0; i < 50'000; ++i) {
    // Alternate the full range with the neighbourhood of the epoch, where sign bugs show.
    const auto seconds = static_cast<std::int64_t>(random()) >> (i % 2 ? 0 : 30);
    const UtcInstant instant = at(seconds, static_cast<std::uint32_t>(random() % kLeap));
    const CivilTime c = to_civil(instant);
    ASSERT_TRUE(is_valid_date(c.year, c.month, c.day) && c.hour < 24) << seconds;
    ASSERT_EQ(from_civil(c), instant) << seconds;
  }
}

TEST(Duration, MillisecondsTruncateAndNeverOverflow) {
  EXPECT_EQ(milliseconds_between(at(INT64_MIN), at(INT64_MAX, 999'999)),
            (static_cast<__int128>(INT64_MAX) - INT64_MIN) * 1000);
  EXPECT_EQ(add_milliseconds(at(0), -1), at(-1, 999'000'000));
  EXPECT_EQ(add_milliseconds(at(kLastSecondOf2016, kLeap), 1),
            at(kLastSecondOf2016 + 1, 1'000'000));  // a leap second folds into the next one
  EXPECT_EQ(add_milliseconds(at(INT64_MAX, 999'000'000), 1), std::nullopt);
  EXPECT_EQ(add_milliseconds(at(INT64_MIN), -1), std::nullopt);
}

TEST(TimeText, Layout) {
  const std::pair<UtcInstant, std::string_view> cases[] = {
      // Fractions: 3 digits for milliseconds, 6 for microseconds, otherwise 9.
      {at(kMay1st, 10'000'000), "2024-05-01T10:00:00.010+00:00"},
      {at(kMay1st, 123'000), "2024-05-01T10:00:00.000123+00:00"},
      {at(kMay1st, 100), "2024-05-01T10:00:00.000000100+00:00"},
      {at(kLastSecondOf2016, kLeap + 500'000'000), "2016-12-31T23:59:60.500+00:00"},
      // Years outside 0..9999 carry a sign and at least four digits.
      {civil(10000, 1, 1), "+10000-01-01T00:00:00+00:00"},
      {civil(-1, 12, 31, 23, 59, 59), "-0001-12-31T23:59:59+00:00"},
      {civil(-999, 1, 1), "-0999-01-01T00:00:00+00:00"},
      {at(INT64_MAX), "+292277026596-12-04T15:30:07+00:00"},
      {at(INT64_MIN), "-292277022657-01-27T08:29:52+00:00"}};
  for (const auto& [instant, text] : cases) EXPECT_EQ(time_text(instant), text);
}

TEST(TimeText, RandomInstantsSurviveTheRoundTrip) {
  std::mt19937_64 random(1);
  const std::int64_t first = civil(0, 1, 1).seconds, span = civil(10000, 1, 1).seconds - first;
  for (int i = 0; i < 100'000; ++i) {
    // Every fraction length, and now and then a leap second, which sits on second 59.
    const std::uint32_t scale = std::array{kLeap, 1'000'000u, 1'000u, 1u}[i % 4];
    UtcInstant instant = at(first + static_cast<std::int64_t>(random() % span),
                            static_cast<std::uint32_t>(random() % (kLeap / scale)) * scale);
    if (i % 50 == 0) instant = at(instant.seconds / 60 * 60 + 59, instant.nanoseconds + kLeap);
    for (const auto append : {append_time_text, append_json_time}) {
      std::string text;
      append(text, instant);
      ASSERT_EQ(parse_rfc3339(text), instant) << text;
    }
  }
}

TEST(ParseRfc3339, StrictLayoutWithOffsetsFractionsAndLeapSeconds) {
  const std::pair<std::string_view, std::optional<UtcInstant>> cases[] = {
      {"2024-05-01t10:00:00z", at(kMay1st)},
      {"2024-05-01 10:00:00Z", at(kMay1st)},
      {"2024-05-01T04:30:00-05:30", at(kMay1st)},
      {"2024-05-02T09:59:00+23:59", at(kMay1st)},
      {"2024-05-01T10:00:00.000000001Z", at(kMay1st, 1)},
      // Digits past the ninth are dropped, never rounded up.
      {"2024-05-01T10:00:00.9999999999999Z", at(kMay1st, 999'999'999)},
      {"2016-12-31T23:59:60.25Z", at(kLastSecondOf2016, kLeap + 250'000'000)},
      {"2017-01-01T00:59:60+01:00", at(kLastSecondOf2016, kLeap)},
      {"0000-01-01T00:00:00+00:01", civil(-1, 12, 31, 23, 59)},
      {"", {}},
      {"2024-05-01", {}},
      {"2024-05-01T10:00:00", {}},
      {"2024-05-01T10:00:00Z ", {}},
      {"2024-05-01T10:00:00.Z", {}},
      {"2023-02-29T00:00:00Z", {}},
      {"2024-05-01T24:00:00Z", {}},
      {"2024-05-01T10:60:00Z", {}},
      {"2024-05-01T10:00:61Z", {}},
      {"2024-05-01T10:00:00+24:00", {}},
      {"2024-05-01T10:00:00+05:60", {}},
      {"2024-05-01T10:00:00+0530", {}},
      {"2024-05-01T10:00:00+05", {}},
      {"2024-05-01T10:00:00+05:3", {}},
      {"2024-05-01_10:00:00Z", {}},
      {"2024-05-01T10:00:00\u00a0Z", {}},
      {{"2024-05-01T10:00:00Z\0", 21}, {}}};
  for (const auto& [text, instant] : cases) EXPECT_EQ(parse_rfc3339(text), instant) << text;
}

// Document times are RFC 3339 with the offset optional: a missing one means UTC. Everything
// else about the layout stays as strict as above.
TEST(ParseDocumentTime, OffsetIsOptionalAndMeansUtc) {
  const std::pair<std::string_view, std::optional<UtcInstant>> cases[] = {
      {"2024-05-01T10:00:00", at(kMay1st)},
      {"2024-05-01t10:00:00", at(kMay1st)},
      {"2024-05-01T10:00:00.250000", at(kMay1st, 250'000'000)},
      {"2024-05-01T10:00:00.1234567891", at(kMay1st, 123'456'789)},
      {"2016-12-31T23:59:60", at(kLastSecondOf2016, kLeap)},
      {"2024-05-01T12:00:00+02:00", at(kMay1st)},
      {"2024-05-01T10:00:00z", at(kMay1st)},
      {"2024-05-01T10:00:00.", {}},
      {"2024-05-01T10:00", {}},
      {"2024-05-01T10:00:00 ", {}},
      {"2024-05-01T10:00:00+02", {}},
      {"2024-05-01T10:00:00Zx", {}},
      {"2024-02-30T10:00:00", {}},
      {"2024-05-01", {}}};
  for (const auto& [text, instant] : cases) EXPECT_EQ(parse_document_time(text), instant) << text;
}

TEST(ParseNaiveUtc, AcceptsOrNamesTheReason) {
  const auto invalid = std::unexpected<std::string>("input contains invalid characters");
  const auto early_end = std::unexpected<std::string>("premature end of input");
  const auto trailing = std::unexpected<std::string>("trailing input");
  const auto range = std::unexpected<std::string>("input is out of range");
  const std::pair<std::string_view, std::expected<UtcInstant, std::string>> cases[] = {
      {"2024-05-01T10:00:00.123456789999", at(kMay1st, 123'456'789)},
      {"+2024-5-1T10:0:0", at(kMay1st)},
      {"16-12-31T23:59:59", civil(16, 12, 31, 23, 59, 59)},
      {"2016-12-31T23:59:60.5", at(kLastSecondOf2016, kLeap + 500'000'000)},
      {"-0001-12-31T00:00:00", civil(-1, 12, 31)},
      {"+262143-12-31T23:59:59", civil(262'143, 12, 31, 23, 59, 59)},
      {"2024-05-01 10:00:00", invalid},
      {"2024-05-01T10:00:00.x", invalid},
      {"x", invalid},
      {"12345-01-01T00:00:00", invalid},
      {"+-1-01-01T00:00:00", invalid},
      {"", early_end},
      {"+", early_end},
      {"2024-05-01T10:00:", early_end},
      {"2024-05-01T10:00:00.", early_end},
      {"2024-05-01T10:00:00Z", trailing},
      {"2024-05-01T10:00:000", trailing},
      // A field beyond its range is the reason whatever follows it; a day its month lacks is
      // found only at the end.
      {"2024-13-01T10:00:00Z", range},
      {"2024-05-32T10:00:00+02:00", range},
      {"2024-00-01T10:00:00", range},
      {"2024-05-01T24:00:00Z", range},
      {"+2147483648-01-01T00:00:00Z", range},
      {"2023-02-29T00:00:00Z", trailing},
      {"+2147483647-01-01T00:00:00Z", trailing},
      {"2023-02-29T00:00:00", range},
      {"2024-05-01T24:00:00", range},
      {"2024-05-01T10:60:00", range},
      {"2024-05-01T10:00:61", range},
      {"+262144-01-01T00:00:00", range},
      {"-262144-12-31T00:00:00", range},
      {"+99999999999999999999999-01-01T00:00:00", range}};
  for (const auto& [text, expected] : cases) EXPECT_EQ(parse_naive_utc(text), expected) << text;
}

}  // namespace
}  // namespace tramlix
