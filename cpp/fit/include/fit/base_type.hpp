// The 17 FIT base types: how a field's bytes are laid out and which value means "no value".
// A definition carries the base type as one byte; only its low 5 bits (the code) matter here.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fit {

namespace base_type {
inline constexpr std::uint8_t kEnum = 0;
inline constexpr std::uint8_t kSint8 = 1;
inline constexpr std::uint8_t kUint8 = 2;
inline constexpr std::uint8_t kSint16 = 3;
inline constexpr std::uint8_t kUint16 = 4;
inline constexpr std::uint8_t kSint32 = 5;
inline constexpr std::uint8_t kUint32 = 6;
inline constexpr std::uint8_t kString = 7;
inline constexpr std::uint8_t kFloat32 = 8;
inline constexpr std::uint8_t kFloat64 = 9;
inline constexpr std::uint8_t kUint8z = 10;
inline constexpr std::uint8_t kUint16z = 11;
inline constexpr std::uint8_t kUint32z = 12;
inline constexpr std::uint8_t kByte = 13;
inline constexpr std::uint8_t kSint64 = 14;
inline constexpr std::uint8_t kUint64 = 15;
inline constexpr std::uint8_t kUint64z = 16;
// Codes from here on are not base types.
inline constexpr std::uint8_t kCount = 17;

inline constexpr std::uint8_t kCodeMask = 0x1F;

inline constexpr std::array<std::uint8_t, kCount> kElementSize = {1, 1, 1, 2, 2, 4, 4, 1, 4,
                                                                  8, 1, 2, 4, 1, 8, 8, 8};

// The profile's type names of the base types, indexed by code.
inline constexpr std::array<std::string_view, kCount> kName = {
    "enum",    "sint8",  "uint8",   "sint16",  "uint16", "sint32", "uint32", "string", "float32",
    "float64", "uint8z", "uint16z", "uint32z", "byte",   "sint64", "uint64", "uint64z"};

// The invalid marker of one element as its bits, indexed by code (string: a leading 0 byte;
// byte: every byte 0xFF).
inline constexpr std::uint64_t kAllOnes = ~std::uint64_t{0};
inline constexpr std::array<std::uint64_t, kCount> kInvalid = {
    0xFF,     0x7F, 0xFF, 0x7FFF, 0xFFFF, 0x7FFFFFFF,         0xFFFFFFFF, 0, 0xFFFFFFFF,
    kAllOnes, 0,    0,    0,      0xFF,   0x7FFFFFFFFFFFFFFF, kAllOnes,   0};

constexpr bool is_valid_code(std::uint8_t code) {
  return code < kCount;
}

// The base type byte a definition carries for `code`: the endian-ability flag (bit 7) is set for
// the multi-byte types, as the published base type bytes have it (uint16 is 0x84).
constexpr std::uint8_t wire_byte(std::uint8_t code) {
  return kElementSize[code] > 1 ? static_cast<std::uint8_t>(code | 0x80) : code;
}

constexpr bool is_signed_integer(std::uint8_t code) {
  return code == kSint8 || code == kSint16 || code == kSint32 || code == kSint64;
}

// enum and the unsigned integers, with their z forms; byte is not a number.
constexpr bool is_unsigned_integer(std::uint8_t code) {
  return code == kEnum || code == kUint8 || code == kUint16 || code == kUint32 || code == kUint8z ||
         code == kUint16z || code == kUint32z || code == kUint64 || code == kUint64z;
}

constexpr bool is_integer(std::uint8_t code) {
  return is_signed_integer(code) || is_unsigned_integer(code);
}

constexpr bool is_float(std::uint8_t code) {
  return code == kFloat32 || code == kFloat64;
}

// The code whose profile name is `name`, or kCount.
constexpr std::uint8_t code_for_name(std::string_view name) {
  for (std::uint8_t code = 0; code < kCount; ++code) {
    if (kName[code] == name) return code;
  }
  return kCount;
}

}  // namespace base_type

}  // namespace fit
