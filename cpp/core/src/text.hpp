// Text forms shared by the readers and writers: numbers in and out, XML escaping, trimming,
// ASCII case and UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tramlix/text.hpp"

namespace tramlix {

// The number text form of the XML writers: shortest round-trip digits, plain notation from
// 1e-5 up to 16 integer digits (whole numbers keep ".0"), exponent form outside ("1e16",
// "1e-6"); "NaN", "inf" and "-inf" for the non-finite values.
void append_number(std::string& out, double value);

// Shortest round-trip digits always in plain decimal notation (no exponent): the form of GPX
// coordinates and elevations, which are XML Schema decimals. Non-finite values as above.
void append_plain_decimal(std::string& out, double value);

// The JSON number form: like append_number but with a signed exponent ("1e+16", "1e-6");
// non-finite values are written as null.
void append_json_number(std::string& out, double value);

// XML text and attribute escaping: exactly <, >, &, ' and " become predefined entities.
void append_xml_escaped(std::string& out, std::string_view text);

// Trims Unicode white space around `text` and parses the rest; absent when it does not parse.
// double: decimal notation with optional sign and exponent, or inf/infinity/nan in any case.
// uint16_t: optional '+' and digits up to 65535. int16_t: optional sign and digits.
template <class T>
std::optional<T> parse_number(std::string_view text);

template <>
std::optional<double> parse_number<double>(std::string_view text);
template <>
std::optional<std::uint16_t> parse_number<std::uint16_t>(std::string_view text);
template <>
std::optional<std::int16_t> parse_number<std::int16_t>(std::string_view text);

// `text` without leading and trailing Unicode white space (text is UTF-8).
std::string_view trim_unicode_whitespace(std::string_view text);

// `text` without leading and trailing XML white space (space, tab, CR, LF).
std::string_view trim_xml_whitespace(std::string_view text);

// A..Z as a..z; every other byte, UTF-8 included, as it is.
constexpr char ascii_lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// `text` with A..Z as a..z.
std::string ascii_lowered(std::string_view text);

// Whether `text` is `lower` (lower-case ASCII) in any ASCII letter case.
inline bool equals_ascii_ci(std::string_view text, std::string_view lower) {
  if (text.size() != lower.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (ascii_lower(text[i]) != lower[i]) return false;
  }
  return true;
}

// `bytes` as valid UTF-8: every invalid sequence becomes U+FFFD.
std::string utf8_lossy(std::string_view bytes);
bool is_valid_utf8(std::string_view bytes);

}  // namespace tramlix
