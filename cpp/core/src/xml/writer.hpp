// Small pieces shared by the GPX and TCX writers, which append a whole document to one string.
#pragma once

#include <charconv>
#include <cstddef>
#include <limits>
#include <new>
#include <string>
#include <string_view>

#include "tramlix/model.hpp"
#include "tramlix/text.hpp"

namespace tramlix::xml {

// Plain decimal, a leading '-' when negative: the form of the 16-bit sensor values.
template <class Int>
void append_integer(std::string& out, Int value) {
  char digits[8];
  const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  out.append(digits, end);
}

// <tag>escaped text</tag>
inline void append_text_element(std::string& out, std::string_view tag, std::string_view text) {
  out.append("<").append(tag).append(">");
  append_xml_escaped(out, text);
  out.append("</").append(tag).append(">");
}

// Reserves the whole document once, at `bytes_per_point` for every track point of the file.
// A size that does not fit is treated like any other exhaustion of memory.
inline void reserve_for_points(std::string& out, const ActivityFile& file,
                               std::size_t bytes_per_point) {
  const std::size_t points = file.point_count();
  if (points == 0) return;
  if (points > std::numeric_limits<std::size_t>::max() / bytes_per_point) throw std::bad_alloc();
  out.reserve(points * bytes_per_point);
}

}  // namespace tramlix::xml
