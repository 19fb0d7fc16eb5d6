// Small pieces shared by the GPX and TCX writers, which append a whole document to one string.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "tramlix/model.hpp"
#include "tramlix/text.hpp"

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
void append_element(std::string& out, const std::optional<Value>& value,
                    AppendValue append_value) {
  if (value) append_element<tag>(out, *value, append_value);
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
