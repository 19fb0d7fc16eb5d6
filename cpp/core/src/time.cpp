#include "tramlix/time.hpp"

#include <charconv>
#include <cstdint>

namespace tramlix {
namespace {

constexpr std::int64_t kSecondsPerDay = 86'400;
constexpr std::uint32_t kLeapNanos = 1'000'000'000;

template <class T>
constexpr T floor_div(T a, T b) {
  const T q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// Days from 1970-01-01 on the proleptic Gregorian calendar, after Howard Hinnant's
// days_from_civil; 128 bits so that any 64-bit year is safe.
__int128 days_from_civil_wide(std::int64_t year, unsigned month, unsigned day) {
  // Years start on March 1st so that the leap day ends the year; an era is 400 years.
  const __int128 y = static_cast<__int128>(year) - (month <= 2 ? 1 : 0);
  const __int128 era = floor_div<__int128>(y, 400);
  const auto year_of_era = static_cast<unsigned>(y - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146'097 + day_of_era - 719'468;
}

bool is_leap_year(std::int64_t year) {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

unsigned days_in_month(std::int64_t year, unsigned month) {
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap_year(year) ? 29 : kDays[month - 1];
}

}  // namespace

std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) {
  // Beyond about ±2.5e16 years the day count itself leaves 64 bits; from_civil checks that.
  return static_cast<std::int64_t>(days_from_civil_wide(year, month, day));
}

bool is_valid_date(std::int64_t year, unsigned month, unsigned day) {
  return month >= 1 && month <= 12 && day >= 1 && day <= days_in_month(year, month);
}

std::optional<UtcInstant> from_civil(const CivilTime& civil) {
  unsigned second = civil.second;
  std::uint32_t nanos = civil.nanosecond;
  if (second == 60) {
    second = 59;
    nanos += kLeapNanos;
  }
  const __int128 seconds =
      days_from_civil_wide(civil.year, civil.month, civil.day) * kSecondsPerDay +
      civil.hour * 3600 + civil.minute * 60 + second;
  if (seconds < INT64_MIN || seconds > INT64_MAX) return std::nullopt;
  return UtcInstant{static_cast<std::int64_t>(seconds), nanos};
}

CivilTime to_civil(UtcInstant instant) {
  // Hinnant's civil_from_days; |days| stays below 2^47, so 64 bits suffice.
  const std::int64_t days = floor_div(instant.seconds, kSecondsPerDay);
  const auto second_of_day = static_cast<unsigned>(instant.seconds - days * kSecondsPerDay);
  const std::int64_t z = days + 719'468;
  const std::int64_t era = floor_div<std::int64_t>(z, 146'097);
  const auto day_of_era = static_cast<unsigned>(z - era * 146'097);
  const unsigned year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const unsigned day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const unsigned mp = (5 * day_of_year + 2) / 153;  // months since March
  CivilTime civil;
  civil.day = day_of_year - (153 * mp + 2) / 5 + 1;
  civil.month = mp < 10 ? mp + 3 : mp - 9;
  civil.year = static_cast<std::int64_t>(year_of_era) + era * 400 + (civil.month <= 2 ? 1 : 0);
  civil.hour = second_of_day / 3600;
  civil.minute = second_of_day / 60 % 60;
  civil.second = second_of_day % 60;
  civil.nanosecond = instant.nanoseconds;
  return civil;
}

namespace {
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
}  // namespace

__int128 nanoseconds_between(UtcInstant from, UtcInstant to) {
  return (static_cast<__int128>(to.seconds) - from.seconds) * kNanosPerSecond +
         (static_cast<__int128>(to.nanoseconds) - from.nanoseconds);
}

__int128 milliseconds_between(UtcInstant from, UtcInstant to) {
  // Track points lie seconds apart: 64-bit arithmetic is exact there and much cheaper.
  std::int64_t seconds;
  if (!__builtin_sub_overflow(to.seconds, from.seconds, &seconds) && seconds > -4'000'000'000 &&
      seconds < 4'000'000'000) {
    const std::int64_t nanos =
        seconds * kNanosPerSecond + (std::int64_t{to.nanoseconds} - std::int64_t{from.nanoseconds});
    return nanos / 1'000'000;
  }
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

namespace {

bool read_digits(std::string_view text, std::size_t pos, std::size_t count, unsigned& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return true;
}

// Reads "." and one or more digits at `pos`, keeping nanosecond resolution and ignoring
// further digits; `pos` ends after the last digit. False when no digit follows the point.
bool read_fraction(std::string_view text, std::size_t& pos, std::uint32_t& nanos) {
  std::size_t i = pos + 1;
  std::uint32_t value = 0;
  std::uint32_t scale = 1'000'000'000;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (scale > 1) {
      scale /= 10;
      value += static_cast<std::uint32_t>(text[i] - '0') * scale;
    }
  }
  if (i == pos + 1) return false;
  pos = i;
  nanos = value;
  return true;
}

enum class Offset : bool { Required, Optional };

std::optional<UtcInstant> parse_date_time(std::string_view text, Offset offset_rule) {
  // YYYY-MM-DDThh:mm:ss is 19 fixed characters.
  unsigned year, month, day, hour, minute, second;
  if (!read_digits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' ||
      !read_digits(text, 5, 2, month) || text[7] != '-' || !read_digits(text, 8, 2, day) ||
      (text[10] != 'T' && text[10] != 't' && text[10] != ' ') || !read_digits(text, 11, 2, hour) ||
      text[13] != ':' || !read_digits(text, 14, 2, minute) || text[16] != ':' ||
      !read_digits(text, 17, 2, second)) {
    return std::nullopt;
  }
  std::size_t pos = 19;
  std::uint32_t nanos = 0;
  if (pos < text.size() && text[pos] == '.' && !read_fraction(text, pos, nanos)) {
    return std::nullopt;
  }
  std::int64_t offset = 0;
  if (pos < text.size() && (text[pos] == 'Z' || text[pos] == 'z')) {
    ++pos;
  } else if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    unsigned offset_hours, offset_minutes;
    if (!read_digits(text, pos + 1, 2, offset_hours) || pos + 3 >= text.size() ||
        text[pos + 3] != ':' || !read_digits(text, pos + 4, 2, offset_minutes) ||
        offset_hours > 23 || offset_minutes > 59) {
      return std::nullopt;
    }
    offset = (offset_hours * 60 + offset_minutes) * 60;
    if (text[pos] == '-') offset = -offset;
    pos += 6;
  } else if (offset_rule == Offset::Required) {
    return std::nullopt;
  }
  if (pos != text.size() || !is_valid_date(year, month, day) || hour > 23 || minute > 59 ||
      second > 60) {
    return std::nullopt;
  }
  if (second == 60) {
    second = 59;
    nanos += kLeapNanos;
  }
  const std::int64_t local =
      days_from_civil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  return UtcInstant{local - offset, nanos};
}

}  // namespace

std::optional<UtcInstant> parse_rfc3339(std::string_view text) {
  return parse_date_time(text, Offset::Required);
}

std::optional<UtcInstant> parse_document_time(std::string_view text) {
  return parse_date_time(text, Offset::Optional);
}

namespace {

constexpr std::string_view kInvalid = "input contains invalid characters";
constexpr std::string_view kTooShort = "premature end of input";
constexpr std::string_view kTrailing = "trailing input";
constexpr std::string_view kOutOfRange = "input is out of range";

// The widest year of common date libraries (18 bits plus sign).
constexpr std::int64_t kMaxNaiveYear = 262'143;
// A year read must fit in 32 bits before its date is looked at.
constexpr std::int64_t kMaxYearField = INT32_MAX;

// A forward scan over the pattern; the first mismatch is the error.
class NaiveScanner {
 public:
  explicit NaiveScanner(std::string_view text) : text_(text) {}

  // 1 to `max_digits` digits, a value from `min` to `max`: a field out of range fails at once,
  // before anything after it is looked at. `value` stops growing once past any year a field
  // holds, so a long run of digits cannot overflow it.
  std::optional<std::string_view> number(std::size_t max_digits, std::int64_t& value,
                                         std::int64_t min, std::int64_t max) {
    if (pos_ == text_.size()) return kTooShort;
    if (!is_digit(text_[pos_])) return kInvalid;
    value = 0;
    for (std::size_t n = 0; n < max_digits && pos_ < text_.size() && is_digit(text_[pos_]);
         ++n, ++pos_) {
      if (value <= kMaxYearField) value = value * 10 + (text_[pos_] - '0');
    }
    if (value < min || value > max) return kOutOfRange;
    return std::nullopt;
  }

  std::optional<std::string_view> literal(char c) {
    if (pos_ == text_.size()) return kTooShort;
    if (text_[pos_] != c) return kInvalid;
    ++pos_;
    return std::nullopt;
  }

  bool peek(char c) const { return pos_ < text_.size() && text_[pos_] == c; }
  void skip() { ++pos_; }
  bool at_end() const { return pos_ == text_.size(); }
  std::size_t pos() const { return pos_; }
  void seek(std::size_t pos) { pos_ = pos; }

 private:
  static bool is_digit(char c) { return c >= '0' && c <= '9'; }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::expected<UtcInstant, std::string> parse_naive_utc(std::string_view text) {
  NaiveScanner scan(text);
  const auto fail = [](std::string_view reason) { return std::unexpected(std::string(reason)); };
  std::int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  bool negative_year = false;
  std::optional<std::string_view> error;
  if (scan.peek('+') || scan.peek('-')) {
    negative_year = scan.peek('-');
    scan.skip();
    // INT32_MIN's magnitude is one more than INT32_MAX.
    error = scan.number(SIZE_MAX, year, 0, negative_year ? kMaxYearField + 1 : kMaxYearField);
  } else {
    error = scan.number(4, year, 0, 9999);
  }
  // The fields' own ranges; whether the day exists in its month is known only at the end.
  if (!error) error = scan.literal('-');
  if (!error) error = scan.number(2, month, 1, 12);
  if (!error) error = scan.literal('-');
  if (!error) error = scan.number(2, day, 1, 31);
  if (!error) error = scan.literal('T');
  if (!error) error = scan.number(2, hour, 0, 23);
  if (!error) error = scan.literal(':');
  if (!error) error = scan.number(2, minute, 0, 59);
  if (!error) error = scan.literal(':');
  if (!error) error = scan.number(2, second, 0, 60);
  if (error) return fail(*error);

  std::uint32_t nanos = 0;
  if (scan.peek('.')) {
    std::size_t pos = scan.pos();
    if (!read_fraction(text, pos, nanos)) {
      return fail(pos + 1 == text.size() ? kTooShort : kInvalid);
    }
    scan.seek(pos);
  }
  if (!scan.at_end()) return fail(kTrailing);

  if (negative_year) year = -year;
  if (year < -kMaxNaiveYear || year > kMaxNaiveYear ||
      !is_valid_date(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) || hour > 23 ||
      minute > 59 || second > 60) {
    return fail(kOutOfRange);
  }
  if (second == 60) {
    second = 59;
    nanos += kLeapNanos;
  }
  return UtcInstant{
      days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) *
              kSecondsPerDay +
          hour * 3600 + minute * 60 + second,
      nanos};
}

namespace {

char* write_two(char* p, unsigned value) {
  *p++ = static_cast<char>('0' + value / 10);
  *p++ = static_cast<char>('0' + value % 10);
  return p;
}

// The RFC 3339 layout with `suffix` as the offset designator.
void append_date_time(std::string& out, UtcInstant instant, std::string_view suffix) {
  const CivilTime civil = to_civil(instant);
  char buf[64];
  char* p = buf;
  if (civil.year >= 0 && civil.year <= 9999) {
    const auto year = static_cast<unsigned>(civil.year);
    p = write_two(p, year / 100);
    p = write_two(p, year % 100);
  } else {
    *p++ = civil.year < 0 ? '-' : '+';
    const std::uint64_t magnitude = civil.year < 0 ? 0 - static_cast<std::uint64_t>(civil.year)
                                                   : static_cast<std::uint64_t>(civil.year);
    if (magnitude < 1000) {
      *p++ = '0';
      if (magnitude < 100) *p++ = '0';
      if (magnitude < 10) *p++ = '0';
    }
    p = std::to_chars(p, buf + sizeof buf, magnitude).ptr;
  }
  *p++ = '-';
  p = write_two(p, civil.month);
  *p++ = '-';
  p = write_two(p, civil.day);
  *p++ = 'T';
  p = write_two(p, civil.hour);
  *p++ = ':';
  p = write_two(p, civil.minute);
  *p++ = ':';
  // A leap second shows as second 60 (the stored second is :59).
  std::uint32_t nanos = civil.nanosecond;
  unsigned second = civil.second;
  if (nanos >= kLeapNanos) {
    second += 1;
    nanos %= kLeapNanos;  // also keeps a malformed count of 2 s or more to 9 digits
  }
  p = write_two(p, second);
  if (nanos != 0) {
    int digits = 9;
    if (nanos % 1'000'000 == 0) {
      nanos /= 1'000'000;
      digits = 3;
    } else if (nanos % 1'000 == 0) {
      nanos /= 1'000;
      digits = 6;
    }
    *p++ = '.';
    for (int i = digits - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + nanos % 10);
      nanos /= 10;
    }
    p += digits;
  }
  out.append(buf, p);
  out.append(suffix);
}

}  // namespace

void append_time_text(std::string& out, UtcInstant instant) {
  append_date_time(out, instant, "+00:00");
}

void append_json_time(std::string& out, UtcInstant instant) {
  append_date_time(out, instant, "Z");
}

std::string time_text(UtcInstant instant) {
  std::string out;
  append_time_text(out, instant);
  return out;
}

}  // namespace tramlix
