// Small pieces shared by the GPX and TCX writers, which append a whole document to one string.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "text.hpp"
#include "tramlix/model.hpp"
#include "tramlix/omissions.hpp"
#include "tramlix/time.hpp"

namespace tramlix::xml {

// Plain decimal, a leading '-' when negative: the form of the 16-bit sensor values.
inline void append_integer(std::string& out, std::int32_t value) {
  char digits[12];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

// An element name given as a template argument, with its start and end tags spelled out at
// compile time: writing an element then costs one append per tag.
template <std::size_t N>
struct Tag {
  // Implicit, so that a string literal names the element: append_element<"ele">(...).
  consteval Tag(const char (&name)[N]) {
    start_tag[0] = '<';
    end_tag[0] = '<';
    end_tag[1] = '/';
    for (std::size_t i = 0; i + 1 < N; ++i) {
      start_tag[i + 1] = name[i];
      end_tag[i + 2] = name[i];
    }
    start_tag[N] = '>';
    end_tag[N + 1] = '>';
  }
  constexpr std::string_view start() const { return {start_tag, N + 1}; }
  constexpr std::string_view end() const { return {end_tag, N + 2}; }

  // Public, as a template argument must be; N counts the name's terminating zero.
  char start_tag[N + 1] = {};
  char end_tag[N + 2] = {};
};

// <tag>value</tag>, the value in the text form `append_value(out, value)` writes.
template <Tag tag, class Value, class AppendValue>
void append_element(std::string& out, const Value& value, AppendValue append_value) {
  out.append(tag.start());
  append_value(out, value);
  out.append(tag.end());
}

// The same for an optional value: nothing when it is absent.
template <Tag tag, class Value, class AppendValue>
void append_element(std::string& out, const std::optional<Value>& value, AppendValue append_value) {
  if (value) append_element<tag>(out, *value, append_value);
}

// <tag>value</tag> for a finite number. A NaN or an infinity has no xsd:double or xsd:decimal
// form that readers agree on: it is left out and counted.
template <Tag tag, class AppendValue>
void append_finite(std::string& out, const std::optional<double>& value, AppendValue append_value,
                   Omissions& omitted) {
  if (!value) return;
  if (!std::isfinite(*value)) {
    omitted.add(Omission::NotFinite);
    return;
  }
  append_element<tag>(out, *value, append_value);
}

// Whether xsd:dateTime can carry `instant`: years 1 to 9999 (no year 0, no sign, no fifth digit)
// and no leap second (second 60 is outside its value space).
inline bool carries_time(UtcInstant instant) {
  constexpr std::int64_t kYear1 = -62135596800;      // 0001-01-01T00:00:00Z
  constexpr std::int64_t kYear10000 = 253402300800;  // 10000-01-01T00:00:00Z
  return instant.seconds >= kYear1 && instant.seconds < kYear10000 &&
         instant.nanoseconds < 1'000'000'000;
}

struct Position {
  double latitude;
  double longitude;
};

// The point's position as GPX and TCX accept it: both coordinates, latitude from -90 to 90 and
// longitude from -180 up to but excluding 180. Longitude 180 is the meridian of -180 and is
// written so; anything else out of range (or NaN) is no position.
inline std::optional<Position> position(const TrackPoint& point) {
  if (!point.latitude || !point.longitude) return std::nullopt;
  const double latitude = *point.latitude;
  const double longitude = *point.longitude;
  if (!(latitude >= -90.0 && latitude <= 90.0 && longitude >= -180.0 && longitude <= 180.0)) {
    return std::nullopt;
  }
  return Position{latitude, longitude == 180.0 ? -180.0 : longitude};
}

// A document for `file` started with the XML declaration, reserved once for the whole at
// `bytes_per_point` for every track point. A size that does not fit is treated like any other
// exhaustion of memory.
inline std::string start_document(const ActivityFile& file, std::size_t bytes_per_point) {
  std::string out;
  if (const std::size_t points = file.point_count(); points != 0) {
    if (points > std::numeric_limits<std::size_t>::max() / bytes_per_point) throw std::bad_alloc();
    out.reserve(points * bytes_per_point);
  }
  out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  return out;
}

}  // namespace tramlix::xml
