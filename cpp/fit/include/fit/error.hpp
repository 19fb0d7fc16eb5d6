// The codec's error type: a plain value whose display text every caller shows as is.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <variant>

namespace fit {

// What an encoder found too large for the one-byte size fields of the wire format.
enum class FieldTooLargeKind : std::uint8_t { String, ByteArray, Array, FieldList, DevFieldList };

struct FileTooShort {
  std::size_t needed;
  std::size_t got;
  bool operator==(const FileTooShort&) const = default;
};
struct InvalidHeaderSize {
  std::uint8_t byte;
  bool operator==(const InvalidHeaderSize&) const = default;
};
struct InvalidSignature {
  std::array<std::uint8_t, 4> bytes;
  bool operator==(const InvalidSignature&) const = default;
};
struct HeaderCrcMismatch {
  std::uint16_t stored;
  std::uint16_t calculated;
  bool operator==(const HeaderCrcMismatch&) const = default;
};
struct FileCrcMismatch {
  std::uint16_t stored;
  std::uint16_t calculated;
  bool operator==(const FileCrcMismatch&) const = default;
};
struct UnexpectedEof {
  std::size_t offset;
  bool operator==(const UnexpectedEof&) const = default;
};
struct UnknownBaseType {
  std::uint8_t byte;
  std::uint8_t code;
  bool operator==(const UnknownBaseType&) const = default;
};
struct UndefinedLocalMessage {
  std::uint8_t number;
  bool operator==(const UndefinedLocalMessage&) const = default;
};
struct MalformedField {
  std::uint8_t number;
  std::uint8_t size;
  std::size_t element_size;
  bool operator==(const MalformedField&) const = default;
};
struct FieldTooLarge {
  FieldTooLargeKind kind;
  std::size_t size;
  bool operator==(const FieldTooLarge&) const = default;
};
// A data section longer than the header's 32-bit size field can count.
struct SegmentTooLarge {
  std::uint64_t size;
  bool operator==(const SegmentTooLarge&) const = default;
};

template <class T, class Variant>
struct IsAlternative;
template <class T, class... Alternatives>
struct IsAlternative<T, std::variant<Alternatives...>>
    : std::bool_constant<(std::is_same_v<T, Alternatives> || ...)> {};

class FitError {
 public:
  using Variant =
      std::variant<FileTooShort, InvalidHeaderSize, InvalidSignature, HeaderCrcMismatch,
                   FileCrcMismatch, UnexpectedEof, UnknownBaseType, UndefinedLocalMessage,
                   MalformedField, FieldTooLarge, SegmentTooLarge>;

  // Every variant converts implicitly; nothing else does (an unconstrained template here would
  // also claim to convert std::expected and other wrappers).
  template <class T>
  requires IsAlternative<T, Variant>::value FitError(T variant)
      : variant_(variant) {}  // NOLINT(google-explicit-constructor)

  const Variant& variant() const { return variant_; }
  template <class T>
  const T* get() const {
    return std::get_if<T>(&variant_);
  }

  // e.g. "file CRC mismatch: stored 0x00AB, calculated 0x1234"
  std::string display() const;

  bool operator==(const FitError&) const = default;

 private:
  Variant variant_;
};

}  // namespace fit
