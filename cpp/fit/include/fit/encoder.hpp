// The FIT encoder: messages to one complete FIT file (header, definitions and data records, CRCs).
// Each field is resolved against the profile for its base type, size, scale and offset; a
// definition is written only when the layout of a local message type changes, and the 16 local
// types are shared among global message numbers by least recent use. Everything is written
// little-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fit/error.hpp"
#include "fit/stream.hpp"
#include "fit/value.hpp"

namespace fit {

// Why a value given for a field was written as the field's invalid marker.
enum class Loss : std::uint8_t {
  NotFinite,    // NaN or an infinity for an integer field
  OutOfRange,   // a number, time, text or byte list the field cannot hold
  UnknownName,  // an enumeration name the field's type does not have
};

// `messages[message].fields[field]` was written as invalid, for `reason`.
struct LostValue {
  std::size_t message;
  std::size_t field;
  Loss reason;

  bool operator==(const LostValue&) const = default;
};

class Encoder {
 public:
  Encoder(std::uint8_t protocol_version, std::uint16_t profile_version)
      : protocol_version_(protocol_version), profile_version_(profile_version) {}

  // One FIT file holding `messages` in order, or the first FieldTooLarge / SegmentTooLarge.
  // Values written as invalid because the field cannot hold them are appended to `lost`, when
  // given, in the order written.
  std::expected<std::vector<std::uint8_t>, FitError> encode(
      std::span<const Message> messages, std::vector<LostValue>* lost = nullptr) const;

  // Appends one file, header to file CRC, to `out`. On error `out` and `lost` are left as they
  // were.
  std::expected<void, FitError> write_segment(OutputStream& out, std::span<const Message> messages,
                                              std::vector<LostValue>* lost = nullptr) const;

 private:
  std::uint8_t protocol_version_;
  std::uint16_t profile_version_;
};

// Writes `value` as a field of `size` bytes with base type `code`. Floats into integer types are
// scaled ((value + offset) x scale, rounded half away from zero); enumeration names are looked up
// under `type_name`; times count seconds from the FIT epoch. A value that does not fit the type
// or the size, or that is of a kind the type cannot hold, is written as the invalid marker. Always
// writes exactly `size` bytes (one element when `size` is smaller than that).
void encode_value_inner(OutputStream& out, const Value& value, std::uint8_t code, std::size_t size,
                        std::string_view type_name, std::optional<double> scale,
                        std::optional<double> offset);

// Writes the low bytes of `value` for an integer base type (excess high bits are dropped), or the
// value as a float for float32 and float64.
void encode_int(OutputStream& out, __int128 value, std::uint8_t code);

// Writes max(1, size / element size) invalid markers of base type `code`.
void write_invalid(OutputStream& out, std::uint8_t code, std::size_t size);

}  // namespace fit
