#include "tramlix/time.hpp"

#include <cstdint>

namespace tramlix {

std::int64_t days_from_civil(std::int64_t, unsigned, unsigned) { return 0; }  // TODO
bool is_valid_date(std::int64_t, unsigned, unsigned) { return false; }
std::optional<UtcInstant> from_civil(const CivilTime&) { return {}; }
CivilTime to_civil(UtcInstant) { return {}; }
namespace {
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
}  // namespace

__int128 nanoseconds_between(UtcInstant from, UtcInstant to) {
  return (static_cast<__int128>(to.seconds) - from.seconds) * kNanosPerSecond +
         (static_cast<__int128>(to.nanoseconds) - from.nanoseconds);
}

__int128 milliseconds_between(UtcInstant from, UtcInstant to) {
  return nanoseconds_between(from, to) / 1'000'000;  // truncates toward zero
}

std::optional<UtcInstant> add_milliseconds(UtcInstant instant, std::int64_t milliseconds) {
  if (milliseconds == 0) return instant;
  // A leap-second instant folds into the following second once anything is added.
  const __int128 total = static_cast<__int128>(instant.seconds) * kNanosPerSecond +
                         instant.nanoseconds + static_cast<__int128>(milliseconds) * 1'000'000;
  __int128 seconds = total / kNanosPerSecond;
  __int128 nanos = total % kNanosPerSecond;
  if (nanos < 0) {
    nanos += kNanosPerSecond;
    seconds -= 1;
  }
  if (seconds < INT64_MIN || seconds > INT64_MAX) return std::nullopt;
  return UtcInstant{static_cast<std::int64_t>(seconds), static_cast<std::uint32_t>(nanos)};
}
std::optional<UtcInstant> parse_rfc3339(std::string_view) { return {}; }
std::expected<UtcInstant, std::string> parse_naive_utc(std::string_view) { return {}; }
void append_time_text(std::string&, UtcInstant) {}
void append_json_time(std::string&, UtcInstant) {}
std::string time_text(UtcInstant instant) {
  std::string out;
  append_time_text(out, instant);
  return out;
}

}  // namespace tramlix
