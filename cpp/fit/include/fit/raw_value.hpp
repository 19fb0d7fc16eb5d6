// A field's value as the message decoder reads it from the bytes, before the profile gives it a
// meaning: no value (invalid), one number, an array of numbers, a text or a byte list.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fit/base_type.hpp"
#include "fit/error.hpp"

namespace fit {

namespace detail {

// One element of `width` (1, 2, 4 or 8) bytes in the given byte order.
inline std::uint64_t load(const std::uint8_t* at, std::size_t width, bool big_endian) {
  static_assert(std::endian::native == std::endian::little, "loads assume a little-endian host");
  switch (width) {
    case 1:
      return *at;
    case 2: {
      std::uint16_t v;
      std::memcpy(&v, at, 2);
      return big_endian ? __builtin_bswap16(v) : v;
    }
    case 4: {
      std::uint32_t v;
      std::memcpy(&v, at, 4);
      return big_endian ? __builtin_bswap32(v) : v;
    }
    default: {
      std::uint64_t v;
      std::memcpy(&v, at, 8);
      return big_endian ? __builtin_bswap64(v) : v;
    }
  }
}

// Sign-extends the element bits of the signed types; everything else is already in place.
inline std::uint64_t widen(std::uint8_t code, std::uint64_t bits) {
  switch (code) {
    case base_type::kSint8:
      return static_cast<std::uint64_t>(std::int64_t{std::int8_t(bits)});
    case base_type::kSint16:
      return static_cast<std::uint64_t>(std::int64_t{std::int16_t(bits)});
    case base_type::kSint32:
      return static_cast<std::uint64_t>(std::int64_t{std::int32_t(bits)});
    default:
      return bits;
  }
}

// A number of type `code` given as RawValue::scalar_bits() holds it.
inline double as_double(std::uint8_t code, std::uint64_t bits) {
  if (code == base_type::kFloat32) return std::bit_cast<float>(static_cast<std::uint32_t>(bits));
  if (code == base_type::kFloat64) return std::bit_cast<double>(bits);
  if (base_type::is_signed_integer(code)) return static_cast<double>(std::int64_t(bits));
  return static_cast<double>(bits);
}

}  // namespace detail

class RawValue {
 public:
  // A scalar or an array has the type of its elements; a text is a string, a byte list a byte.
  enum class Kind : std::uint8_t { Invalid, Scalar, Array, String, Bytes };

  RawValue() = default;

  static RawValue invalid(std::uint8_t type = base_type::kEnum) {
    RawValue value;
    value.type_ = type;
    return value;
  }
  // `type` is a numeric base type code (below 17); `bits` the value as scalar_bits() gives it.
  static RawValue scalar(std::uint8_t type, std::uint64_t bits) {
    RawValue value;
    value.assign_scalar(type, bits);
    return value;
  }
  static RawValue array(std::uint8_t type, std::span<const std::uint64_t> elements);
  static RawValue string(std::string_view text) {
    RawValue value;
    value.kind_ = Kind::String;
    value.type_ = base_type::kString;
    value.data_.assign(text.begin(), text.end());
    return value;
  }
  static RawValue bytes(std::span<const std::uint8_t> run) {
    RawValue value;
    value.kind_ = Kind::Bytes;
    value.type_ = base_type::kByte;
    value.data_.assign(run.begin(), run.end());
    return value;
  }

  Kind kind() const { return kind_; }
  std::uint8_t type() const { return type_; }
  bool is_invalid() const { return kind_ == Kind::Invalid; }
  bool is_scalar() const { return kind_ == Kind::Scalar; }
  bool is_array() const { return kind_ == Kind::Array; }
  bool is_string() const { return kind_ == Kind::String; }
  bool is_bytes() const { return kind_ == Kind::Bytes; }
  bool is_integer_scalar() const { return kind_ == Kind::Scalar && base_type::is_integer(type_); }

  // A scalar's value: integers as 64-bit two's complement (signed types sign-extended), floats as
  // their IEEE bit pattern (a float32 in the low 32 bits).
  std::uint64_t scalar_bits() const { return bits_; }
  std::int64_t signed_value() const { return static_cast<std::int64_t>(bits_); }

  // An integer scalar, or the byte of a one-byte byte list, as 64-bit two's complement.
  std::optional<std::uint64_t> integer() const {
    if (is_integer_scalar()) return bits_;
    if (kind_ == Kind::Bytes && data_.size() == 1) return data_[0];
    return std::nullopt;
  }

  // Arrays: the number of elements and each element as scalar_bits() would give it.
  std::size_t element_count() const { return data_.size() / base_type::kElementSize[type_]; }
  std::uint64_t element_bits(std::size_t index) const;

  std::string_view text() const {
    return {reinterpret_cast<const char*>(data_.data()), data_.size()};
  }
  // A byte list's bytes, or an array's elements as little-endian bytes.
  std::span<const std::uint8_t> data() const { return data_; }

  // A scalar (or a one-byte byte list) as a double; nothing for anything else.
  std::optional<double> scalar_f64() const {
    if (kind_ == Kind::Scalar) return detail::as_double(type_, bits_);
    if (kind_ == Kind::Bytes && data_.size() == 1) return data_[0];
    return std::nullopt;
  }
  // Every number of a scalar, an array or a byte list as doubles; nothing for invalid and text.
  std::optional<std::vector<double>> to_f64s() const;

  bool operator==(const RawValue& other) const {
    return kind_ == other.kind_ && type_ == other.type_ && bits_ == other.bits_ &&
           data_ == other.data_;
  }

  // Overwrite the value; the storage of texts and arrays is kept for later reuse.
  void assign_invalid(std::uint8_t type) {
    kind_ = Kind::Invalid;
    type_ = type;
    bits_ = 0;
    data_.clear();
  }
  void assign_scalar(std::uint8_t type, std::uint64_t bits) {
    kind_ = Kind::Scalar;
    type_ = type;
    bits_ = bits;
    data_.clear();
  }

 private:
  friend std::expected<void, FitError> decode_value_general(RawValue&, std::uint8_t,
                                                            std::span<const std::uint8_t>, bool,
                                                            std::uint8_t);

  // Texts, byte lists and array elements (little-endian); kept when a value is overwritten so
  // that a reused value does not allocate again.
  std::vector<std::uint8_t> data_;
  std::uint64_t bits_ = 0;
  Kind kind_ = Kind::Invalid;
  std::uint8_t type_ = base_type::kEnum;
};

// Texts, byte lists and arrays: the part of decode_value that is not inline.
std::expected<void, FitError> decode_value_general(RawValue& out, std::uint8_t code,
                                                   std::span<const std::uint8_t> bytes,
                                                   bool big_endian, std::uint8_t field_number);

// Decodes a field's bytes (exactly its defined size) of base type `code` into `out`, reusing
// out's storage: a scalar needs no allocation. A string is read up to its first 0 byte with
// malformed UTF-8 replaced by U+FFFD; a value whose every element is the type's invalid marker
// is invalid; a numeric field whose size is 0 or not a multiple of the element size is
// MalformedField.
inline std::expected<void, FitError> decode_value(RawValue& out, std::uint8_t code,
                                                  std::span<const std::uint8_t> bytes,
                                                  bool big_endian, std::uint8_t field_number) {
  if (code < base_type::kCount && code != base_type::kString && code != base_type::kByte &&
      bytes.size() == base_type::kElementSize[code]) {
    const std::uint64_t bits = detail::load(bytes.data(), bytes.size(), big_endian);
    if (bits == base_type::kInvalid[code]) {
      out.assign_invalid(code);
    } else {
      out.assign_scalar(code, detail::widen(code, bits));
    }
    return {};
  }
  return decode_value_general(out, code, bytes, big_endian, field_number);
}

inline std::expected<RawValue, FitError> decode_value(std::uint8_t code,
                                                      std::span<const std::uint8_t> bytes,
                                                      bool big_endian, std::uint8_t field_number) {
  RawValue value;
  if (auto ok = decode_value(value, code, bytes, big_endian, field_number); !ok) {
    return std::unexpected(ok.error());
  }
  return value;
}

}  // namespace fit
