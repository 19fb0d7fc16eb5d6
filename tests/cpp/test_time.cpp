#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>

#include "tramlix/time.hpp"

namespace tramlix {
namespace {

constexpr std::int64_t kMay1st2024At10 = 1'714'557'600;    // 2024-05-01T10:00:00Z
constexpr std::int64_t kLastSecondOf2016 = 1'483'228'799;  // 2016-12-31T23:59:59Z

UtcInstant at(std::int64_t seconds, std::uint32_t nanos = 0) {
  return {seconds, nanos};
}

UtcInstant civil(std::int64_t year, unsigned month, unsigned day, unsigned hour = 0,
                 unsigned minute = 0, unsigned second = 0) {
  return *from_civil({year, month, day, hour, minute, second, 0});
}

TEST(Calendar, DaysFromCivil) {
  const struct {
    std::int64_t year;
    unsigned month, day;
    std::int64_t days;
  } cases[] = {
      {1970, 1, 1, 0},        {1969, 12, 31, -1},        {2000, 3, 1, 11'017},
      {2024, 2, 29, 19'782},  {0, 1, 1, -719'528},       {0, 3, 1, -719'468},
      {-1, 12, 31, -719'529}, {9999, 12, 31, 2'932'896}, {-400, 1, 1, -719'528 - 146'097},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(days_from_civil(c.year, c.month, c.day), c.days) << c.year << "-" << c.month;
  }
}

TEST(Calendar, ValidDates) {
  const struct {
    std::int64_t year;
    unsigned month, day;
    bool valid;
  } cases[] = {
      {2024, 2, 29, true},  {2023, 2, 29, false}, {1900, 2, 29, false}, {2000, 2, 29, true},
      {0, 2, 29, true},     {-4, 2, 29, true},    {-100, 2, 29, false}, {2024, 4, 31, false},
      {2024, 12, 31, true}, {2024, 13, 1, false}, {2024, 0, 1, false},  {2024, 1, 0, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(is_valid_date(c.year, c.month, c.day), c.valid) << c.year << "-" << c.month;
  }
}

TEST(Calendar, CivilRoundTripOverTheWholeRange) {
  // Both ends of 64-bit seconds, checked against an independent proleptic calendar.
  const CivilTime max = to_civil(at(INT64_MAX));
  EXPECT_EQ(max.year, 292'277'026'596);
  EXPECT_EQ(max.month, 12u);
  EXPECT_EQ(max.day, 4u);
  EXPECT_EQ(max.hour * 3600 + max.minute * 60 + max.second, 15u * 3600 + 30 * 60 + 7);
  const CivilTime min = to_civil(at(INT64_MIN));
  EXPECT_EQ(min.year, -292'277'022'657);
  EXPECT_EQ(min.month, 1u);
  EXPECT_EQ(min.day, 27u);
  EXPECT_EQ(min.hour * 3600 + min.minute * 60 + min.second, 8u * 3600 + 29 * 60 + 52);

  CivilTime beyond = max;
  beyond.second += 1;
  EXPECT_EQ(from_civil(beyond), std::nullopt);
  CivilTime before = min;
  before.second -= 1;
  EXPECT_EQ(from_civil(before), std::nullopt);

  std::mt19937_64 random(7);
  for (int i = 0; i < 50'000; ++i) {
    // Alternate the full range with the neighbourhood of the epoch, where sign bugs show.
    const auto seconds = static_cast<std::int64_t>(random()) >> (i % 2 ? 0 : 30);
    const UtcInstant instant = at(seconds, static_cast<std::uint32_t>(random() % 1'000'000'000));
    const CivilTime c = to_civil(instant);
    ASSERT_TRUE(is_valid_date(c.year, c.month, c.day)) << seconds;
    ASSERT_LT(c.hour, 24u);
    ASSERT_EQ(from_civil(c), instant) << seconds;
  }
}

TEST(Calendar, LeapSecondFields) {
  const CivilTime c = to_civil(at(kLastSecondOf2016, 1'500'000'000));
  EXPECT_EQ(c.second, 59u);
  EXPECT_EQ(c.nanosecond, 1'500'000'000u);
  EXPECT_EQ(from_civil({2016, 12, 31, 23, 59, 60, 0}), at(kLastSecondOf2016, 1'000'000'000));
}

TEST(TimeText, Layout) {
  const struct {
    UtcInstant instant;
    std::string_view text;
  } cases[] = {
      {at(0), "1970-01-01T00:00:00+00:00"},
      {at(-1), "1969-12-31T23:59:59+00:00"},
      {at(kMay1st2024At10), "2024-05-01T10:00:00+00:00"},
      // Fractions: 3 digits for milliseconds, 6 for microseconds, otherwise 9.
      {at(kMay1st2024At10, 250'000'000), "2024-05-01T10:00:00.250+00:00"},
      {at(kMay1st2024At10, 10'000'000), "2024-05-01T10:00:00.010+00:00"},
      {at(kMay1st2024At10, 123'000), "2024-05-01T10:00:00.000123+00:00"},
      {at(kMay1st2024At10, 1'000), "2024-05-01T10:00:00.000001+00:00"},
      {at(kMay1st2024At10, 100), "2024-05-01T10:00:00.000000100+00:00"},
      {at(kMay1st2024At10, 1), "2024-05-01T10:00:00.000000001+00:00"},
      {at(kMay1st2024At10, 999'999'999), "2024-05-01T10:00:00.999999999+00:00"},
      // Leap second.
      {at(kLastSecondOf2016, 1'000'000'000), "2016-12-31T23:59:60+00:00"},
      {at(kLastSecondOf2016, 1'500'000'000), "2016-12-31T23:59:60.500+00:00"},
      // Years outside 0..9999 carry a sign and at least four digits.
      {civil(9999, 12, 31, 23, 59, 59), "9999-12-31T23:59:59+00:00"},
      {civil(10000, 1, 1), "+10000-01-01T00:00:00+00:00"},
      {civil(0, 1, 1), "0000-01-01T00:00:00+00:00"},
      {civil(999, 1, 1), "0999-01-01T00:00:00+00:00"},
      {civil(-1, 12, 31, 23, 59, 59), "-0001-12-31T23:59:59+00:00"},
      {civil(-10000, 3, 1), "-10000-03-01T00:00:00+00:00"},
      {at(INT64_MAX), "+292277026596-12-04T15:30:07+00:00"},
      {at(INT64_MIN), "-292277022657-01-27T08:29:52+00:00"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(time_text(c.instant), c.text);
    std::string json = "[";
    append_json_time(json, c.instant);
    std::string expected(c.text.substr(0, c.text.size() - 6));
    EXPECT_EQ(json, "[" + expected + "Z");
  }
}

TEST(ParseRfc3339, Accepts) {
  const struct {
    std::string_view text;
    UtcInstant instant;
  } cases[] = {
      {"2024-05-01T10:00:00Z", at(kMay1st2024At10)},
      {"2024-05-01t10:00:00z", at(kMay1st2024At10)},
      {"2024-05-01 10:00:00Z", at(kMay1st2024At10)},
      {"2024-05-01T12:00:00+02:00", at(kMay1st2024At10)},
      {"2024-05-01T04:30:00-05:30", at(kMay1st2024At10)},
      {"2024-05-02T09:59:00+23:59", at(kMay1st2024At10)},
      {"2024-05-01T10:00:00+00:00", at(kMay1st2024At10)},
      {"2024-05-01T10:00:00-00:00", at(kMay1st2024At10)},
      {"2024-05-01T10:00:00.5Z", at(kMay1st2024At10, 500'000'000)},
      {"2024-05-01T10:00:00.000000001Z", at(kMay1st2024At10, 1)},
      // Digits past the ninth are dropped, never rounded up.
      {"2024-05-01T10:00:00.9999999999999Z", at(kMay1st2024At10, 999'999'999)},
      {"2016-12-31T23:59:60Z", at(kLastSecondOf2016, 1'000'000'000)},
      {"2016-12-31T23:59:60.25Z", at(kLastSecondOf2016, 1'250'000'000)},
      {"2017-01-01T00:59:60+01:00", at(kLastSecondOf2016, 1'000'000'000)},
      {"2024-02-29T00:00:00Z", civil(2024, 2, 29)},
      // The offset may move the UTC date out of four-digit years.
      {"0000-01-01T00:00:00+00:01", civil(-1, 12, 31, 23, 59)},
      {"9999-12-31T23:59:59-00:01", civil(10000, 1, 1, 0, 0, 59)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parse_rfc3339(c.text), c.instant) << c.text;
  }
}

TEST(ParseRfc3339, Rejects) {
  for (std::string_view text : {
           "",
           "2024-05-01",
           "2024-05-01T10:00:00",  // no offset
           "2024-05-01T10:00:00+05:30:15",
           " 2024-05-01T10:00:00Z",
           "2024-05-01T10:00:00Z ",
           "2024-05-01T10:00:00ZZ",
           "2024-05-01T10:00:00.Z",
           "2024-05-01T10:00:00,5Z",
           "2023-02-29T00:00:00Z",
           "2024-04-31T00:00:00Z",
           "2024-13-01T00:00:00Z",
           "2024-00-01T00:00:00Z",
           "2024-05-00T00:00:00Z",
           "2024-05-01T24:00:00Z",
           "2024-05-01T10:60:00Z",
           "2024-05-01T10:00:61Z",
           "2024-05-01T10:00:00+24:00",
           "2024-05-01T10:00:00+05:60",
           "2024-05-01T10:00:00+0530",
           "2024-05-01T10:00:00+05",
           "2024-05-01T10:00:00+5:30",
           "2024-05-01T10:00:00+05:3",
           "24-05-01T10:00:00Z",
           "+2024-05-01T10:00:00Z",
           "-2024-05-01T10:00:00Z",
           "2024-5-01T10:00:00Z",
           "2024-05-01T1:00:00Z",
           "2024-05-01  10:00:00Z",
           "2024-05-01_10:00:00Z",
           "2024/05/01T10:00:00Z",
           "2024-05-01T10-00-00Z",
           "2024-05-01T10:00:00\u00a0Z",
       }) {
    EXPECT_EQ(parse_rfc3339(text), std::nullopt) << text;
  }
  EXPECT_EQ(parse_rfc3339(std::string_view("2024-05-01T10:00:00Z\0", 21)), std::nullopt);
}

TEST(TimeText, RandomInstantsSurviveTheRoundTrip) {
  const std::int64_t first = civil(0, 1, 1).seconds;
  const std::int64_t last = civil(9999, 12, 31, 23, 59, 59).seconds;
  std::mt19937_64 random(1);
  std::uniform_int_distribution<std::int64_t> seconds_in_range(first, last);
  constexpr std::uint32_t kScales[] = {1'000'000'000, 1'000'000, 1'000, 1};
  std::string text;
  for (int i = 0; i < 100'000; ++i) {
    std::int64_t seconds = seconds_in_range(random);
    // Nanoseconds at each resolution, so that every fraction length is exercised.
    const std::uint32_t scale = kScales[i % 4];
    auto nanos = static_cast<std::uint32_t>(random() % (1'000'000'000 / scale)) * scale;
    if (i % 50 == 0) {
      seconds -= ((seconds % 60) + 60) % 60 - 59;  // a leap second sits on second 59
      nanos += 1'000'000'000;
    }
    const UtcInstant instant = at(seconds, nanos);
    text.clear();
    append_time_text(text, instant);
    ASSERT_EQ(parse_rfc3339(text), instant) << text;
    text.clear();
    append_json_time(text, instant);
    ASSERT_EQ(parse_rfc3339(text), instant) << text;
  }
}

TEST(ParseNaiveUtc, Accepts) {
  const struct {
    std::string_view text;
    UtcInstant instant;
  } cases[] = {
      {"2024-05-01T10:00:00", at(kMay1st2024At10)},
      {"2024-05-01T10:00:00.250000", at(kMay1st2024At10, 250'000'000)},
      {"2024-05-01T10:00:00.123456789999", at(kMay1st2024At10, 123'456'789)},
      {"2024-5-1T10:0:0", at(kMay1st2024At10)},
      {"+2024-05-01T10:00:00", at(kMay1st2024At10)},
      {"16-12-31T23:59:59", civil(16, 12, 31, 23, 59, 59)},
      {"2016-12-31T23:59:60", at(kLastSecondOf2016, 1'000'000'000)},
      {"2016-12-31T23:59:60.5", at(kLastSecondOf2016, 1'500'000'000)},
      {"-0001-12-31T00:00:00", civil(-1, 12, 31)},
      {"+262143-12-31T23:59:59", civil(262'143, 12, 31, 23, 59, 59)},
      {"-262143-01-01T00:00:00", civil(-262'143, 1, 1)},
  };
  for (const auto& c : cases) {
    const auto result = parse_naive_utc(c.text);
    ASSERT_TRUE(result.has_value()) << c.text << ": " << result.error();
    EXPECT_EQ(*result, c.instant) << c.text;
  }
}

TEST(ParseNaiveUtc, NamesTheReason) {
  constexpr std::string_view kInvalid = "input contains invalid characters";
  constexpr std::string_view kShort = "premature end of input";
  constexpr std::string_view kTrailing = "trailing input";
  constexpr std::string_view kRange = "input is out of range";
  const struct {
    std::string_view text;
    std::string_view reason;
  } cases[] = {
      {"2024-05-01 10:00:00", kInvalid},
      {"2024-05-01t10:00:00", kInvalid},
      {"2024-05-01T10:00:00.x", kInvalid},
      {"12345-01-01T00:00:00", kInvalid},
      {"2024-05-001T10:00:00", kInvalid},
      {"x", kInvalid},
      {"+-1-01-01T00:00:00", kInvalid},
      {" 2024-05-01T10:00:00", kInvalid},
      {"", kShort},
      {"+", kShort},
      {"2024-05-01", kShort},
      {"2024-05-01T10:00", kShort},
      {"2024-05-01T10:00:", kShort},
      {"2024-05-01T10:00:00.", kShort},
      {"2024-05-01T10:00:00+05:30:15", kTrailing},
      {"2024-05-01T10:00:00Z", kTrailing},
      {"2024-05-01T10:00:00 ", kTrailing},
      {"2024-05-01T10:00:000", kTrailing},
      {"2024-13-01T00:00:00", kRange},
      {"2024-00-01T00:00:00", kRange},
      {"2024-02-30T00:00:00", kRange},
      {"2023-02-29T00:00:00", kRange},
      {"2024-05-32T00:00:00", kRange},
      {"2024-05-01T24:00:00", kRange},
      {"2024-05-01T10:60:00", kRange},
      {"2024-05-01T10:00:61", kRange},
      {"+262144-01-01T00:00:00", kRange},
      {"-262144-12-31T00:00:00", kRange},
      {"+99999999999999999999999-01-01T00:00:00", kRange},
  };
  for (const auto& c : cases) {
    const auto result = parse_naive_utc(c.text);
    ASSERT_FALSE(result.has_value()) << c.text;
    EXPECT_EQ(result.error(), c.reason) << c.text;
  }
}

}  // namespace
}  // namespace tramlix
