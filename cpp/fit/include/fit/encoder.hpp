// The FIT encoder: messages to one complete FIT file (header, definitions and data records, CRCs).
// Each field is resolved against the profile for its base type, size, scale and offset; a
// definition is written only when the layout of a local message type changes, and the 16 local
// types are shared among global message numbers by least recent use. Everything is written
// little-endian.
//
// FileEncoder writes a file message by message; besides whole messages it takes records whose
// bytes the caller writes itself, in layouts defined once (what a writer of many records of a
// few kinds wants). Encoder writes a list of messages with it.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fit/base_type.hpp"
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

// One field of a layout given to FileEncoder::define_layout(); `code` is the base type's code.
struct LayoutField {
  std::uint8_t number;
  std::uint8_t size;
  std::uint8_t code;
};

class FileEncoder {
 public:
  // Begins a file at the end of `out`. Values written as invalid because the field cannot hold
  // them are appended to `lost`, when given; their message index counts the calls to write().
  FileEncoder(OutputStream& out, std::uint8_t protocol_version, std::uint16_t profile_version,
              std::vector<LostValue>* lost = nullptr);
  ~FileEncoder();
  FileEncoder(const FileEncoder&) = delete;
  FileEncoder& operator=(const FileEncoder&) = delete;

  // Developer field descriptions among `messages` apply to the whole file, wherever they stand:
  // register them before writing messages that use them.
  void register_developer_fields(std::span<const Message> messages);

  // One message, resolved against the profile; FieldTooLarge when a value cannot have a field.
  // On error nothing is written.
  std::expected<void, FitError> write(const Message& message);

  // A record layout for write_record(), numbered from 0 in the order defined. Field sizes are
  // the caller's to get right (1 to 255, at most 255 fields).
  std::size_t define_layout(std::uint16_t global_number, std::span<const LayoutField> fields);

  // Writes the header of a record of `layout` (its definition first, when its local type does
  // not hold that layout) and returns where its data goes: the layout's size in bytes, for the
  // caller to fill, valid until the next write. Local types are shared with write() as above.
  std::uint8_t* write_record(std::size_t layout) {
    // A record of the layout written last goes where that one went: nothing else has touched
    // the local types since.
    if (layout == last_layout_) {
      std::uint8_t* header = out_.extend(1 + last_size_);
      *header = last_header_;
      return header + 1;
    }
    return write_first_record(layout);
  }

  // Patches the header and appends the file CRC; SegmentTooLarge when the data section is too
  // long to count, leaving `out` as it was before the file.
  std::expected<void, FitError> finish();

 private:
  static constexpr std::size_t kNone = ~std::size_t{0};

  std::uint8_t* write_first_record(std::size_t layout);

  struct State;
  std::unique_ptr<State> state_;
  OutputStream& out_;
  std::size_t last_layout_ = kNone;  // of the last record, when nothing was written since
  std::size_t last_size_ = 0;
  std::uint8_t last_header_ = 0;
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

// The numbers each base type carries, without its invalid marker: a value equal to the marker
// would read back as "no value".
struct IntRange {
  __int128 min;
  __int128 max;
};

constexpr IntRange range_of(std::uint8_t code) {
  namespace bt = base_type;
  constexpr __int128 kU64Max = std::numeric_limits<std::uint64_t>::max();
  constexpr __int128 kI64Max = std::numeric_limits<std::int64_t>::max();
  switch (code) {
    case bt::kSint8:
      return {-128, 126};
    case bt::kSint16:
      return {-32768, 32766};
    case bt::kSint32:
      return {std::numeric_limits<std::int32_t>::min(), 0x7FFFFFFE};
    case bt::kSint64:
      return {std::numeric_limits<std::int64_t>::min(), kI64Max - 1};
    case bt::kUint8z:
      return {1, 0xFF};
    case bt::kUint16:
      return {0, 0xFFFE};
    case bt::kUint16z:
      return {1, 0xFFFF};
    case bt::kUint32:
      return {0, 0xFFFFFFFE};
    case bt::kUint32z:
      return {1, 0xFFFFFFFF};
    case bt::kUint64:
      return {0, kU64Max - 1};
    case bt::kUint64z:
      return {1, kU64Max};
    // Every 64-bit integer has a nearest float, and none is the all-ones NaN.
    case bt::kFloat32:
    case bt::kFloat64:
      return {-kU64Max, kU64Max};
    // A number in a text field could only be the empty text, which is the invalid marker.
    case bt::kString:
      return {1, 0};
    default:
      return {0, 0xFE};  // enum, uint8, byte
  }
}

// Single elements written at `to` (the element size of `code`): the building blocks of the
// encoder, for callers that lay out records themselves. A value the type cannot hold is written
// as the invalid marker, and the reason returned.
inline void store_le(std::uint8_t* to, std::uint64_t bits, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) to[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

inline void store_invalid(std::uint8_t* to, std::uint8_t code) {
  store_le(to, base_type::kInvalid[code], base_type::kElementSize[code]);
}

// x rounded half away from zero, as std::round gives it, for |x| < 2^62: by the processor's
// truncation, which needs no call into the maths library.
inline std::int64_t round_half_away(double x) {
  const auto truncated = static_cast<std::int64_t>(x);
  const double fraction = x - static_cast<double>(truncated);  // exact
  return truncated + (fraction >= 0.5) - (fraction <= -0.5);
}

// An integer: its low bytes, or its nearest float for float32 and float64.
[[gnu::always_inline]] inline std::optional<Loss> store_integer(std::uint8_t* to, __int128 value,
                                                                std::uint8_t code) {
  const IntRange range = range_of(code);
  if (value < range.min || value > range.max) {
    store_invalid(to, code);
    return Loss::OutOfRange;
  }
  if (code == base_type::kFloat32) {
    const float f = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    store_le(to, bits, 4);
  } else if (code == base_type::kFloat64) {
    const double d = static_cast<double>(value);
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    store_le(to, bits, 8);
  } else {
    store_le(to, static_cast<std::uint64_t>(value), base_type::kElementSize[code]);
  }
  return std::nullopt;
}

// A number in the field's units: (value + offset) x scale, rounded half away from zero into an
// integer type; as it is into a float type. `scaled` says whether the field has a scale or an
// offset at all (a scale of 1 and an offset of 0 when it has one but not the other).
[[gnu::always_inline]] inline std::optional<Loss> store_number(std::uint8_t* to, double value,
                                                               std::uint8_t code, bool scaled,
                                                               double scale, double offset) {
  const double x = scaled ? (value + offset) * scale : value;
  if (code == base_type::kFloat64) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    store_le(to, bits, 8);
    return std::nullopt;
  }
  if (code == base_type::kFloat32) {
    const float f = static_cast<float>(x);
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    store_le(to, bits, 4);
    return std::nullopt;
  }
  if (!std::isfinite(x)) {
    store_invalid(to, code);
    return Loss::NotFinite;
  }
  constexpr double kTwo62 = 4611686018427387904.0;
  if (x > -kTwo62 && x < kTwo62) return store_integer(to, round_half_away(x), code);
  const double rounded = std::round(x);
  // Anything outside +-2^64 is out of every range; inside it the conversion is exact.
  constexpr double kTwo64 = 18446744073709551616.0;
  if (rounded <= -kTwo64 || rounded >= kTwo64) {
    store_invalid(to, code);
    return Loss::OutOfRange;
  }
  return store_integer(to, static_cast<__int128>(rounded), code);
}

}  // namespace fit
