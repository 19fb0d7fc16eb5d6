#include <cstddef>
#include <string>
#include <string_view>

#include "tramlix/text.hpp"

namespace tramlix {
namespace {

// Length of the UTF-8 sequence starting at `i`: `valid` tells whether it is complete and
// well-formed; when it is not, `length` is the maximal ill-formed prefix that one replacement
// character stands for (at least one byte).
struct Sequence {
  std::size_t length;
  bool valid;
};

Sequence sequence_at(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return {1, true};
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
  for (std::size_t k = 1; k < n; ++k) {
    if (i + k >= s.size()) return {k, false};
    const unsigned char b = byte(i + k);
    const bool ok = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
    if (!ok) return {k, false};
  }
  return {n, true};
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

}  // namespace tramlix
