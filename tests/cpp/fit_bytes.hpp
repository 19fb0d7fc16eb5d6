// Building FIT byte strings in tests: records, then a header and CRCs around them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fit/framing.hpp"

namespace fit::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes le16(std::uint16_t v) {
  return {std::uint8_t(v), std::uint8_t(v >> 8)};
}
inline Bytes le32(std::uint32_t v) {
  return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
inline Bytes text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}
inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}
// "<d2 04>": bytes as tests spell them.
inline std::string hex(std::span<const std::uint8_t> bytes) {
  std::string out = "<";
  char digits[4];
  for (const std::uint8_t b : bytes) {
    out.append(digits, std::snprintf(digits, sizeof digits, out.size() > 1 ? " %02x" : "%02x", b));
  }
  return out += '>';
}

// One field definition: field number, size, base type byte.
struct Def {
  std::uint8_t number, size, base_type;
};

class Records {
 public:
  Records& define(std::uint8_t local, std::uint16_t global, std::initializer_list<Def> fields,
                  std::initializer_list<Def> developer = {}, bool big_endian = false) {
    const bool dev = developer.size() > 0;
    const Bytes number =
        big_endian ? Bytes{std::uint8_t(global >> 8), std::uint8_t(global)} : le16(global);
    data_.insert(data_.end(), {std::uint8_t(0x40 | (dev ? 0x20 : 0) | local), 0, big_endian,
                               number[0], number[1], std::uint8_t(fields.size())});
    for (const Def& f : fields) data_.insert(data_.end(), {f.number, f.size, f.base_type});
    // For developer fields the third byte is the developer data index.
    if (dev) data_.push_back(std::uint8_t(developer.size()));
    for (const Def& f : developer) data_.insert(data_.end(), {f.number, f.size, f.base_type});
    return *this;
  }
  Records& data(std::uint8_t local, const Bytes& body) { return record(local, body); }
  // A compressed-timestamp data message: local type 0-3, time offset 0-31.
  Records& compressed(std::uint8_t local, std::uint8_t offset, const Bytes& body) {
    return record(std::uint8_t(0x80 | local << 5 | offset), body);
  }
  Records& record(std::uint8_t header, const Bytes& body) {
    data_.push_back(header);
    data_.insert(data_.end(), body.begin(), body.end());
    return *this;
  }

  // A whole file: header (with its CRC when 14 bytes), the records, the file CRC.
  Bytes file(std::uint8_t header_size = 14) const {
    Bytes out =
        cat({{header_size, 0x20}, le16(21200), le32(std::uint32_t(data_.size())), text(".FIT")});
    if (header_size == 14) out = cat({out, le16(crc16(out))});
    out.insert(out.end(), data_.begin(), data_.end());
    return cat({out, le16(crc16(out))});
  }
  const Bytes& bytes() const { return data_; }

 private:
  Bytes data_;
};

}  // namespace fit::testing
