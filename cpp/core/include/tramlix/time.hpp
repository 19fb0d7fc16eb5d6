// UTC instants: storage, calendar arithmetic, parsing and the text forms.
#pragma once

#include <compare>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

namespace tramlix {

// A UTC date-time with nanosecond resolution and no stored offset.
//
// `seconds` counts from 1970-01-01T00:00:00Z on the proleptic Gregorian calendar with days of
// exactly 86,400 seconds, so 64 bits reach far beyond any year a text form can carry.
// `nanoseconds` is below 1,000,000,000 except during a leap second: 23:59:60.5 is stored as
// 23:59:59 plus 1,500,000,000 ns, and is printed back as second 60.
struct UtcInstant {
  std::int64_t seconds = 0;
  std::uint32_t nanoseconds = 0;

  friend auto operator<=>(const UtcInstant&, const UtcInstant&) = default;
};

// The broken-down form of an instant. `nanosecond` may reach 1,999,999,999 (leap second).
struct CivilTime {
  std::int64_t year = 1970;
  unsigned month = 1;   // 1..12
  unsigned day = 1;     // 1..31
  unsigned hour = 0;    // 0..23
  unsigned minute = 0;  // 0..59
  unsigned second = 0;  // 0..59
  std::uint32_t nanosecond = 0;
};

// Days from 1970-01-01 to the given proleptic Gregorian date (negative before it).
std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day);
bool is_valid_date(std::int64_t year, unsigned month, unsigned day);

// Builds an instant from calendar fields that are already known to be valid; absent when the
// result does not fit in 64-bit seconds.
std::optional<UtcInstant> from_civil(const CivilTime& civil);
CivilTime to_civil(UtcInstant instant);

// Signed nanoseconds from `from` to `to` (128 bits: two instants can lie farther apart than
// 64-bit nanoseconds reach).
__int128 nanoseconds_between(UtcInstant from, UtcInstant to);

// Whole milliseconds from `from` to `to`, truncated toward zero.
__int128 milliseconds_between(UtcInstant from, UtcInstant to);

// `instant` plus a signed number of milliseconds; absent when the sum leaves the
// representable range.
std::optional<UtcInstant> add_milliseconds(UtcInstant instant, std::int64_t milliseconds);

// Strict RFC 3339 date-time: "YYYY-MM-DD" "T"|"t"|" " "hh:mm:ss" ["." digits] ("Z"|"z"|±hh:mm),
// nothing around it. Second 60 is accepted as a leap second. Absent when the text does not
// match or names no real date.
std::optional<UtcInstant> parse_rfc3339(std::string_view text);

// The date-times of GPX and TCX documents: the form above with the offset optional. A time
// without one is UTC, as GPX prescribes and as xsd:dateTime documents leave it out.
std::optional<UtcInstant> parse_document_time(std::string_view text);

// The offset-less fallback "%Y-%m-%dT%H:%M:%S%.f", read as UTC (what a naive datetime's
// isoformat() produces). On failure the error is the reason in words: "input contains invalid
// characters", "premature end of input", "trailing input" or "input is out of range". The text
// is read from the left and the first fault is the reason: a field beyond its range (month 13,
// day 32, hour 24) is out of range whatever follows it; a day its month lacks (February 30) is
// known only once the whole text has been read.
std::expected<UtcInstant, std::string> parse_naive_utc(std::string_view text);

// Appends the time text form: RFC 3339 with the offset "+00:00" and a fraction of 0, 3, 6 or 9
// digits as the nanoseconds require. Years outside 0..9999 carry a sign.
void append_time_text(std::string& out, UtcInstant instant);

// The same layout ending in "Z" instead of "+00:00" (JSON export).
void append_json_time(std::string& out, UtcInstant instant);

// Convenience: the time text form as a new string.
std::string time_text(UtcInstant instant);

}  // namespace tramlix
