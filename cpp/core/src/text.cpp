#include "tramlix/text.hpp"

#include <cstddef>
#include <utility>

namespace tramlix {

void append_number(std::string&, double) {}  // TODO
void append_plain_decimal(std::string&, double) {}
void append_json_number(std::string&, double) {}
void append_debug_float(std::string&, double) {}
void append_xml_escaped(std::string& out, std::string_view text) { out.append(text); }
template <>
std::optional<double> parse_number<double>(std::string_view) { return {}; }
template <>
std::optional<std::uint16_t> parse_number<std::uint16_t>(std::string_view) { return {}; }
template <>
std::optional<std::int16_t> parse_number<std::int16_t>(std::string_view) { return {}; }
namespace {

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

// Decodes the well-formed sequence at the front of `s` (0xFFFFFFFF and length 1 if it is not).
std::pair<char32_t, std::size_t> decode_front(std::string_view s) {
  const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  if (b(0) < 0x80) return {b(0), 1};
  std::size_t n = b(0) >= 0xF0 ? 4 : b(0) >= 0xE0 ? 3 : b(0) >= 0xC0 ? 2 : 0;
  if (n == 0 || n > s.size()) return {0xFFFFFFFF, 1};
  char32_t c = b(0) & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    if ((b(i) & 0xC0) != 0x80) return {0xFFFFFFFF, 1};
    c = (c << 6) | (b(i) & 0x3F);
  }
  return {c, n};
}

}  // namespace

std::string_view trim_unicode_whitespace(std::string_view text) {
  while (!text.empty()) {
    const auto [c, n] = decode_front(text);
    if (!is_unicode_whitespace(c)) break;
    text.remove_prefix(n);
  }
  while (!text.empty()) {
    // Step back over continuation bytes to the start of the last character.
    std::size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 &&
           (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
      --start;
    }
    const auto [c, n] = decode_front(text.substr(start));
    if (start + n != text.size() || !is_unicode_whitespace(c)) break;
    text.remove_suffix(n);
  }
  return text;
}

std::string_view trim_xml_whitespace(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}
std::string quoted(std::string_view text) { return std::string(text); }

}  // namespace tramlix
