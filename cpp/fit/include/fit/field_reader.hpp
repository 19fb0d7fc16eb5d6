// Chosen fields of one message type read straight from the bytes of its data messages, with the
// meaning the typed decoder gives them but without building a Message: for consumers that want a
// few fields of many messages (the points of an activity are its record messages).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "fit/decoder.hpp"
#include "fit/typed_decoder.hpp"
#include "fit/value.hpp"

namespace fit {

// A number as the typed decoder gives it for a field of one element or for a component: a signed
// or unsigned integer, a float or a timestamp. get<T>() answers as Value::get<T>() does for the
// same value, so that code can be written once for both.
class Number {
 public:
  enum class Kind : std::uint8_t { Signed, Unsigned, Float, Time };

  static Number signed_integer(std::int64_t n) { return Number(Kind::Signed, {.i = n}); }
  static Number unsigned_integer(std::uint64_t n) { return Number(Kind::Unsigned, {.u = n}); }
  static Number real(double n) { return Number(Kind::Float, {.d = n}); }
  static Number time(std::int64_t unix_seconds) { return Number(Kind::Time, {.t = unix_seconds}); }

  Kind kind() const { return kind_; }
  bool is_invalid() const { return false; }  // the invalid marker is no number

  template <class T>
  const T* get() const {
    if constexpr (std::is_same_v<T, std::int64_t>) {
      return kind_ == Kind::Signed ? &n_.i : nullptr;
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
      return kind_ == Kind::Unsigned ? &n_.u : nullptr;
    } else if constexpr (std::is_same_v<T, double>) {
      return kind_ == Kind::Float ? &n_.d : nullptr;
    } else if constexpr (std::is_same_v<T, Timestamp>) {
      return kind_ == Kind::Time ? &time_ : nullptr;
    } else {
      return nullptr;  // texts, byte lists, names, arrays: never a Number
    }
  }

  Value to_value() const;

 private:
  union Bits {
    std::int64_t i;
    std::uint64_t u;
    double d;
    std::int64_t t;
  };
  Number(Kind kind, Bits n) : n_(n), kind_(kind) {
    if (kind == Kind::Time) time_ = Timestamp{n.t, 0};
  }

  Bits n_;
  Timestamp time_;
  Kind kind_;
};

class FieldReader {
 public:
  // One wanted field of a message: its index in the list the reader was made with, and value.
  struct Reading {
    std::uint8_t field;
    Number value;
  };

  // Reads the fields named in `wanted` (at most 255 profile field names of the message numbered
  // `global_number`; the target field of a component counts as a field of the message), as a
  // TypedDecoder with every transform on decodes them.
  FieldReader(std::uint16_t global_number, std::span<const std::string_view> wanted);

  // The wanted fields of `record` in the order a decoded message lists them (each field followed
  // by the fields its components give), or nullopt when `record` is of another message type or
  // holds a wanted field in a form only decode() reads: several elements, a text or a byte list,
  // a value the profile names, a field with subfields. A field holding the invalid marker, and
  // the components of such a field, are left out. Components of a field that keep running
  // totals are counted in `decoder` whether wanted or not, so that totals stay right for the
  // messages decoded in full. The readings live until the next call.
  std::optional<std::span<const Reading>> read(const RawRecord& record, TypedDecoder& decoder);

 private:
  // One field of a definition that gives readings: read from its bytes, or from the header of a
  // compressed-timestamp message.
  struct Step {
    enum class Kind : std::uint8_t { Scalar, HeaderTime, Bytes };
    Kind kind;
    std::uint8_t code;    // the base type of a scalar
    std::uint8_t size;    // bytes in the message
    std::uint8_t slot;    // index into wanted_, or 0xFF for none
    std::uint8_t number;  // the field's number: running totals are kept under it
    bool date_time;       // a date_time or local_date_time field
    bool scaled;
    std::uint8_t component_bytes;  // of an integer that components are read from
    std::uint16_t offset;
    std::uint16_t first_component;
    std::uint16_t component_count;
    double divisor;  // value / divisor - minus, when scaled
    double minus;
  };

  struct ComponentStep {
    double divisor;
    double minus;
    bool scaled;
    bool accumulate;
    std::uint8_t bits;
    std::uint8_t slot;
  };
  struct Plan {
    std::uint64_t definition_id = 0;  // 0: none compiled yet
    bool direct = false;
    bool big_endian = false;
    std::vector<Step> steps;
    std::vector<ComponentStep> components;
  };

  void compile(const RawRecord& record, Plan& plan);
  std::size_t expand(const Plan& plan, const Step& step, std::span<const std::uint8_t> bytes,
                     TypedDecoder& decoder, std::size_t count);

  std::uint16_t global_number_;
  std::vector<std::string_view> wanted_;
  // One plan per local message type, and one more per type that compressed headers use: field
  // 253 takes no bytes in those messages.
  std::array<Plan, 16 + 4> plans_;
  std::vector<Reading> readings_;
};

}  // namespace fit
