#include "text.hpp"

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace tramlix {
namespace {

// The shortest round-trip digits of a finite, non-zero magnitude: `digits` holds D without
// leading or trailing zeros and the value is 0.D × 10^point, so `point` is the number of digits
// before the decimal point in plain notation (may be zero or negative).
struct ShortestDigits {
  char digits[20];
  int count;
  int point;
};

ShortestDigits shortest_digits(double magnitude) {
  // Scientific form "d[.ddd]e±xx" is the shortest round-trip string with a known layout.
  char buf[32];
  const auto result =
      std::to_chars(buf, buf + sizeof buf, magnitude, std::chars_format::scientific);
  ShortestDigits d{};
  const char* p = buf;
  for (; p != result.ptr && *p != 'e'; ++p) {
    if (*p != '.') d.digits[d.count++] = *p;
  }
  int exponent = 0;
  std::from_chars(p + (p[1] == '+' ? 2 : 1), result.ptr, exponent);
  d.point = exponent + 1;
  return d;
}

enum class Layout {
  kXml,    // plain for -5 < point <= 16, else exponent without '+'
  kJson,   // as kXml but the exponent carries its sign
  kPlain,  // never an exponent
  kDebug,  // plain for -4 < point <= 16, else exponent without '+'
};

bool append_non_finite(std::string& out, double value, Layout layout) {
  if (std::isfinite(value)) return false;
  if (layout == Layout::kJson) {
    out.append("null");
  } else if (std::isnan(value)) {
    out.append("NaN");
  } else {
    out.append(value < 0 ? "-inf" : "inf");
  }
  return true;
}

void append_float(std::string& out, double value, Layout layout) {
  if (append_non_finite(out, value, layout)) return;
  if (std::signbit(value)) out.push_back('-');
  if (value == 0) {
    out.append("0.0");
    return;
  }
  const ShortestDigits d = shortest_digits(std::fabs(value));
  const std::string_view digits(d.digits, static_cast<std::size_t>(d.count));
  const int lowest_plain_point = layout == Layout::kDebug ? -3 : -4;
  const bool plain = layout == Layout::kPlain || (d.point >= lowest_plain_point && d.point <= 16);
  if (plain) {
    if (d.point >= d.count) {
      out.append(digits);
      out.append(static_cast<std::size_t>(d.point - d.count), '0');
      out.append(".0");
    } else if (d.point > 0) {
      out.append(digits.substr(0, static_cast<std::size_t>(d.point)));
      out.push_back('.');
      out.append(digits.substr(static_cast<std::size_t>(d.point)));
    } else {
      out.append("0.");
      out.append(static_cast<std::size_t>(-d.point), '0');
      out.append(digits);
    }
    return;
  }
  out.push_back(digits[0]);
  if (d.count > 1) {
    out.push_back('.');
    out.append(digits.substr(1));
  }
  out.push_back('e');
  const int exponent = d.point - 1;
  if (exponent >= 0 && layout == Layout::kJson) out.push_back('+');
  char buf[8];
  const auto result = std::to_chars(buf, buf + sizeof buf, exponent);
  out.append(buf, result.ptr);
}

constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Digits after an optional '+' (or '-' when allowed); absent when out of T's range.
template <class T>
std::optional<T> parse_integer(std::string_view text, bool allow_minus) {
  text = trim_unicode_whitespace(text);
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || (allow_minus && text[0] == '-'))) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr std::int64_t kMax = std::numeric_limits<T>::max();
  constexpr std::int64_t kMin = std::numeric_limits<T>::min();
  std::int64_t value = 0;
  for (const char c : text) {
    if (!is_digit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
    // Stop before the accumulator can overflow; leading zeros keep it at zero.
    if (value > kMax + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value < kMin || value > kMax) return std::nullopt;
  return static_cast<T>(value);
}

}  // namespace

void append_number(std::string& out, double value) {
  append_float(out, value, Layout::kXml);
}

void append_plain_decimal(std::string& out, double value) {
  append_float(out, value, Layout::kPlain);
}

void append_json_number(std::string& out, double value) {
  append_float(out, value, Layout::kJson);
}

void append_debug_float(std::string& out, double value) {
  append_float(out, value, Layout::kDebug);
}

// Besides the five markup characters, characters that XML 1.0 cannot carry at all (C0 controls
// other than tab, line feed and carriage return; U+FFFE and U+FFFF) become U+FFFD, so that what
// the writers produce always parses.
void append_xml_escaped(std::string& out, std::string_view text) {
  constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::string_view entity;
    std::size_t width = 1;
    const auto byte = static_cast<unsigned char>(text[i]);
    switch (byte) {
      case '<':
        entity = "&lt;";
        break;
      case '>':
        entity = "&gt;";
        break;
      case '&':
        entity = "&amp;";
        break;
      case '\'':
        entity = "&apos;";
        break;
      case '"':
        entity = "&quot;";
        break;
      case '\t':
      case '\n':
      case '\r':
        continue;
      case 0xEF:  // U+FFFE and U+FFFF are EF BF BE and EF BF BF
        if (i + 2 >= text.size() || text[i + 1] != '\xBF' ||
            (text[i + 2] != '\xBE' && text[i + 2] != '\xBF')) {
          continue;
        }
        entity = kReplacement;
        width = 3;
        break;
      default:
        if (byte >= 0x20) continue;
        entity = kReplacement;
        break;
    }
    out.append(text.substr(run, i - run));
    out.append(entity);
    i += width - 1;
    run = i + 1;
  }
  out.append(text.substr(run));
}

template <>
std::optional<double> parse_number<double>(std::string_view text) {
  std::string_view body = trim_unicode_whitespace(text);
  bool negative = false;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (equals_ascii_ci(body, "inf") || equals_ascii_ci(body, "infinity")) {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (equals_ascii_ci(body, "nan")) {
    return negative ? -std::numeric_limits<double>::quiet_NaN()
                    : std::numeric_limits<double>::quiet_NaN();
  }

  // Check the syntax here: from_chars would also take "nan(...)" and stop early on anything.
  // Meanwhile track the decimal exponent of the leading non-zero digit, which tells overflow
  // from underflow when from_chars reports the result out of range.
  std::size_t i = 0;
  std::size_t mantissa_digits = 0;
  std::int64_t magnitude = 0;  // exponent of the first significant digit, before 'e'
  bool significant = false;
  for (; i < body.size() && is_digit(body[i]); ++i, ++mantissa_digits) {
    if (significant) {
      ++magnitude;
    } else if (body[i] != '0') {
      significant = true;
    }
  }
  if (i < body.size() && body[i] == '.') {
    for (++i; i < body.size() && is_digit(body[i]); ++i, ++mantissa_digits) {
      if (!significant) {
        --magnitude;
        significant = body[i] != '0';
      }
    }
  }
  if (mantissa_digits == 0) return std::nullopt;
  std::int64_t exponent = 0;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    bool negative_exponent = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) {
      negative_exponent = body[i] == '-';
      ++i;
    }
    if (i == body.size()) return std::nullopt;
    for (; i < body.size(); ++i) {
      if (!is_digit(body[i])) return std::nullopt;
      if (exponent < 100'000'000) exponent = exponent * 10 + (body[i] - '0');
    }
    if (negative_exponent) exponent = -exponent;
  }
  if (i != body.size()) return std::nullopt;

  double value = 0;
#if defined(__cpp_lib_to_chars) && __cpp_lib_to_chars >= 201611L
  const auto result = std::from_chars(body.data(), body.data() + body.size(), value);
  const bool out_of_range = result.ec == std::errc::result_out_of_range;
  if (!out_of_range && (result.ec != std::errc{} || result.ptr != body.data() + body.size())) {
    return std::nullopt;
  }
#else
  // Standard libraries without floating-point from_chars: the syntax is checked above, and
  // strtod in the C locale rounds the same way.
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", locale_t{});
  const std::string copy(body);
  errno = 0;
  value = strtod_l(copy.c_str(), nullptr, c_locale);
  const bool out_of_range = errno == ERANGE && (value == 0 || std::isinf(value));
#endif
  if (out_of_range) {
    // Only a result that rounds to zero or beyond the largest finite value lands here.
    value = magnitude + exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  return negative ? -value : value;
}

template <>
std::optional<std::uint16_t> parse_number<std::uint16_t>(std::string_view text) {
  return parse_integer<std::uint16_t>(text, false);
}

template <>
std::optional<std::int16_t> parse_number<std::int16_t>(std::string_view text) {
  return parse_integer<std::int16_t>(text, true);
}

std::string ascii_lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = ascii_lower(c);
  return lowered;
}

std::string_view trim_xml_whitespace(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n";
  const auto first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  constexpr char kHex[] = "0123456789abcdef";
  const auto hex_escape = [&](unsigned code) {
    out.append("\\u{");
    if (code >= 0x10) out.push_back(kHex[code >> 4]);
    out.push_back(kHex[code & 0xF]);
    out.push_back('}');
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"':
        out.append("\\\"");
        continue;
      case '\\':
        out.append("\\\\");
        continue;
      case '\t':
        out.append("\\t");
        continue;
      case '\r':
        out.append("\\r");
        continue;
      case '\n':
        out.append("\\n");
        continue;
      case '\0':
        out.append("\\0");
        continue;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F) {
      hex_escape(c);
    } else if (c == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      // U+0080..U+009F, the C1 controls, are two bytes in UTF-8.
      hex_escape(static_cast<unsigned char>(text[++i]));
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  out.push_back('"');
  return out;
}

// UTF-8: one decoder serves checking, repairing and trimming text.
namespace {

// The UTF-8 sequence starting at `i`. When it is complete and well-formed, `valid` is set and
// `code_point` is what it encodes; when it is not, `length` is the maximal ill-formed prefix
// that one replacement character stands for (at least one byte).
struct Sequence {
  std::size_t length;
  bool valid;
  char32_t code_point = 0;
};

Sequence sequence_at(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return {1, true, b0};
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {1, false};
  }
  char32_t code_point = b0 & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if (i + k >= s.size()) return {k, false};
    const unsigned char b = byte(i + k);
    const bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) return {k, false};
    code_point = (code_point << 6) | (b & 0x3F);
  }
  return {n, true, code_point};
}

bool is_unicode_whitespace(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

}  // namespace

bool is_valid_utf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const Sequence seq = sequence_at(bytes, i);
    if (!seq.valid) return false;
    i += seq.length;
  }
  return true;
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const Sequence seq = sequence_at(bytes, i);
    if (seq.valid) {
      out.append(bytes.substr(i, seq.length));
    } else {
      out.append("\xEF\xBF\xBD");
    }
    i += seq.length;
  }
  return out;
}

namespace {

// The length of the white-space character at the front of `text`, 0 when another stands there.
// Only well-formed characters are white space: an ill-formed sequence (an overlong space, say)
// stops the trimming like any other text. Every number of a document is trimmed, so ASCII is
// told apart without decoding.
std::size_t leading_space(std::string_view text) {
  const auto byte = static_cast<unsigned char>(text.front());
  if (byte < 0x80) return is_unicode_whitespace(byte) ? 1 : 0;
  const Sequence first = sequence_at(text, 0);
  return first.valid && is_unicode_whitespace(first.code_point) ? first.length : 0;
}

// The same at the back of `text`.
std::size_t trailing_space(std::string_view text) {
  const auto byte = static_cast<unsigned char>(text.back());
  if (byte < 0x80) return is_unicode_whitespace(byte) ? 1 : 0;
  // Step back over continuation bytes to the start of the last character.
  std::size_t start = text.size() - 1;
  while (start > 0 && text.size() - start < 4 &&
         (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) {
    --start;
  }
  const Sequence last = sequence_at(text, start);
  const bool space =
      last.valid && start + last.length == text.size() && is_unicode_whitespace(last.code_point);
  return space ? last.length : 0;
}

}  // namespace

std::string_view trim_unicode_whitespace(std::string_view text) {
  while (!text.empty()) {
    const std::size_t space = leading_space(text);
    if (space == 0) break;
    text.remove_prefix(space);
  }
  while (!text.empty()) {
    const std::size_t space = trailing_space(text);
    if (space == 0) break;
    text.remove_suffix(space);
  }
  return text;
}

}  // namespace tramlix
