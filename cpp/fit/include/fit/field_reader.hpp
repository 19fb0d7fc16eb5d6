// Chosen fields of one message type read straight from the bytes of its data messages, with the
// meaning the typed decoder gives them but without building a Message: for consumers that want a
// few fields of many messages (the points of an activity are its record messages).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <type_traits>
#include <vector>

#include "fit/base_type.hpp"
#include "fit/decoder.hpp"
#include "fit/profile.hpp"
#include "fit/raw_value.hpp"
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
  static Number time(std::int64_t unix_seconds) {
    return Number(Kind::Time, {.t = Timestamp{unix_seconds, 0}});
  }

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
      return kind_ == Kind::Time ? &n_.t : nullptr;
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
    Timestamp t;
  };
  Number(Kind kind, Bits n) : n_(n), kind_(kind) {}

  Bits n_;
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

  // Whether read() takes `record`: false when it is of another message type or holds a wanted
  // field in a form only decode() reads (several elements, a text or a byte list, a value the
  // profile names, a field with subfields). Works out how to read its definition on first sight.
  bool reads(const RawRecord& record);

  // Calls sink(field, number) for each wanted field of `record`, which reads() takes, in the
  // order a decoded message lists them: each field followed by the fields its components give.
  // A field holding the invalid marker, and the components of such a field, are left out.
  // Components of a field that keep running totals are counted in `decoder` whether wanted or
  // not, so that totals stay right for the messages decoded in full.
  template <class Sink>
  void read(const RawRecord& record, TypedDecoder& decoder, Sink&& sink);

  // The same as a list, or nullopt when reads() does not take `record`. The readings live until
  // the next call.
  std::optional<std::span<const Reading>> read(const RawRecord& record, TypedDecoder& decoder);

 private:
  // What a step reads and makes of it; the name says the base type of a number. Integers give
  // themselves, floats are widened, Scaled ones give value / divisor - minus as a float, a
  // date_time gives a timestamp.
  enum class Op : std::uint8_t {
    U8,
    U16,
    U32,
    U64,
    S8,
    S16,
    S32,
    S64,
    F32,
    F64,
    ScaledU8,
    ScaledU16,
    ScaledU32,
    ScaledU64,
    ScaledS8,
    ScaledS16,
    ScaledS32,
    ScaledS64,
    ScaledF32,
    ScaledF64,
    TimeU32,   // a uint32 date_time: always a time
    Time,      // another integer date_time: a time when it fits 32 bits unsigned
    Header,    // the time in a compressed-timestamp header
    ByteList,  // a byte list, read for its components only
  };

  // One field of a definition that gives readings, or whose components keep running totals.
  struct Step {
    Op op;
    std::uint8_t code;    // the base type of a number
    std::uint8_t width;   // bytes of a number, or of a byte list
    std::uint8_t slot;    // index into wanted_, or kNone
    std::uint8_t number;  // the field's number: running totals are kept under it
    std::uint8_t component_count;
    std::uint16_t offset;
    std::uint16_t first_component;
    // The bits components are read from: of the integer's first bytes, or the byte list's.
    std::uint16_t component_bits;
    std::uint64_t invalid;  // the base type's invalid marker
    double divisor;
    double minus;
    // A field that is the running total of components (a record's distance): given in full, it
    // is where their counting continues.
    const profile::FieldInfo* total = nullptr;
  };

  struct ComponentStep {
    double divisor;
    double minus;
    std::uint64_t mask;   // of `bits` bits
    std::uint16_t shift;  // where its bits begin
    std::uint8_t bits;
    std::uint8_t slot;
    bool scaled;
    bool accumulate;
    // Running totals are kept per field counted into, in the component's units.
    std::string_view target;
    std::optional<double> scale;
  };

  // How to read the messages of one layout: the fields of a definition, and whether field 253
  // takes its bytes or comes from a compressed-timestamp header.
  struct Plan {
    bool big_endian = false;
    bool compressed = false;
    std::vector<FieldDefinition> fields;
    bool direct = false;
    std::vector<Step> steps;
    std::vector<ComponentStep> components;
  };
  // The plan of the definition a local message type holds now.
  struct Current {
    std::uint64_t definition_id = 0;  // 0: none yet
    std::size_t plan = 0;
  };

  static constexpr std::uint8_t kNone = 0xFF;

  Current& current_for(const RawRecord& record) {
    return current_[record.compressed ? 16 + record.local_type : record.local_type];
  }
  std::size_t plan_index(const RawRecord& record);
  void compile(const RawRecord& record, Plan& plan);
  template <bool kBigEndian, class Sink>
  void read_steps(const Plan& plan, const RawRecord& record, TypedDecoder& decoder, Sink& sink);
  template <class Sink>
  void expand(const Plan& plan, const Step& step, std::uint64_t bits,
              std::span<const std::uint8_t> bytes, TypedDecoder& decoder, Sink& sink);
  // A date_time of any integer type, as the typed decoder gives it.
  static Number time_of(const Step& step, std::uint64_t bits);
  // Components of a byte list longer than 8 bytes, one at a time from bit `position` on.
  static bool take_bits(std::span<const std::uint8_t> bytes, std::size_t& position, unsigned bits,
                        std::uint64_t& value);

  std::uint16_t global_number_;
  std::vector<std::string_view> wanted_;
  // Plans by layout: files redefine local message types all the time, mostly with layouts seen
  // before. At most kPlans are kept.
  static constexpr std::size_t kPlans = 64;
  std::vector<Plan> plans_;
  std::size_t next_replaced_ = 0;
  // Per local message type, and once more for the types compressed headers use (field 253 takes
  // no bytes in those messages).
  std::array<Current, 16 + 4> current_;
  std::vector<Reading> readings_;
};

// The reading itself is here, so that a sink is compiled into it.

template <class Sink>
[[gnu::always_inline]] inline void FieldReader::expand(const Plan& plan, const Step& step,
                                                       std::uint64_t bits,
                                                       std::span<const std::uint8_t> bytes,
                                                       TypedDecoder& decoder, Sink& sink) {
  // Up to 64 bits the components are shifts of one number; a longer byte list is walked.
  const bool walk = step.component_bits > 64;
  std::size_t position = 0;
  for (std::size_t i = 0; i < step.component_count; ++i) {
    const ComponentStep& component = plan.components[step.first_component + i];
    std::uint64_t value;
    if (walk) {
      if (!take_bits(bytes, position, component.bits, value)) break;
    } else {
      // A component whose bits run past the end is not there, nor are those after it.
      if (component.shift + component.bits > step.component_bits) break;
      value = component.bits == 0 ? 0 : (bits >> component.shift) & component.mask;
    }
    if (component.accumulate) {
      value = decoder.accumulate(global_number_, component.target, value, component.bits,
                                 component.scale);
    }
    if (component.slot == kNone) continue;
    sink(component.slot,
         component.scaled
             ? Number::real(static_cast<double>(value) / component.divisor - component.minus)
             : Number::unsigned_integer(value));
  }
}

template <bool kBigEndian, class Sink>
void FieldReader::read_steps(const Plan& plan, const RawRecord& record, TypedDecoder& decoder,
                             Sink& sink) {
  const std::uint8_t* body = record.body.data();
  for (const Step& step : plan.steps) {
    const std::uint8_t* at = body + step.offset;
    const auto load = [&]<class T> [[gnu::always_inline]] (T) -> std::uint64_t {
      T v;
      std::memcpy(&v, at, sizeof v);
      if constexpr (kBigEndian && sizeof v == 2) v = __builtin_bswap16(v);
      if constexpr (kBigEndian && sizeof v == 4) v = __builtin_bswap32(v);
      if constexpr (kBigEndian && sizeof v == 8) v = __builtin_bswap64(v);
      return v;
    };
    const auto emit = [&] [[gnu::always_inline]] (const Number& number) {
      if (step.slot != kNone) sink(step.slot, number);
    };
    const auto scaled = [&] [[gnu::always_inline]] (double value) {
      emit(Number::real(value / step.divisor - step.minus));
    };
    // Integers are kept sign-extended to 64 bits: what components are read from.
    std::uint64_t bits;
#define TRAMLIX_FIT_NUMBER(OP, T, MAKE)       \
  case Op::OP: {                              \
    const std::uint64_t raw = load(T{});      \
    if (raw == step.invalid) continue;        \
    const auto value = static_cast<T>(raw);   \
    bits = static_cast<std::uint64_t>(value); \
    MAKE;                                     \
    break;                                    \
  }
    switch (step.op) {
      TRAMLIX_FIT_NUMBER(U8, std::uint8_t, emit(Number::unsigned_integer(value)))
      TRAMLIX_FIT_NUMBER(U16, std::uint16_t, emit(Number::unsigned_integer(value)))
      TRAMLIX_FIT_NUMBER(U32, std::uint32_t, emit(Number::unsigned_integer(value)))
      TRAMLIX_FIT_NUMBER(U64, std::uint64_t, emit(Number::unsigned_integer(value)))
      TRAMLIX_FIT_NUMBER(S8, std::int8_t, emit(Number::signed_integer(value)))
      TRAMLIX_FIT_NUMBER(S16, std::int16_t, emit(Number::signed_integer(value)))
      TRAMLIX_FIT_NUMBER(S32, std::int32_t, emit(Number::signed_integer(value)))
      TRAMLIX_FIT_NUMBER(S64, std::int64_t, emit(Number::signed_integer(value)))
      TRAMLIX_FIT_NUMBER(ScaledU8, std::uint8_t, scaled(static_cast<double>(value)))
      TRAMLIX_FIT_NUMBER(ScaledU16, std::uint16_t, scaled(static_cast<double>(value)))
      TRAMLIX_FIT_NUMBER(ScaledU32, std::uint32_t, scaled(static_cast<double>(value)))
      TRAMLIX_FIT_NUMBER(ScaledU64, std::uint64_t, scaled(static_cast<double>(value)))
      TRAMLIX_FIT_NUMBER(ScaledS8, std::int8_t, scaled(static_cast<double>(value)))
      TRAMLIX_FIT_NUMBER(ScaledS16, std::int16_t, scaled(static_cast<double>(value)))
      TRAMLIX_FIT_NUMBER(ScaledS32, std::int32_t, scaled(static_cast<double>(value)))
      TRAMLIX_FIT_NUMBER(ScaledS64, std::int64_t, scaled(static_cast<double>(value)))
      TRAMLIX_FIT_NUMBER(TimeU32, std::uint32_t,
                         emit(Number::time(kFitEpochUnixSeconds + std::int64_t{value})))
#undef TRAMLIX_FIT_NUMBER
      case Op::F32:
      case Op::ScaledF32: {
        const std::uint64_t raw = load(std::uint32_t{});
        if (raw == step.invalid) continue;
        const double value = std::bit_cast<float>(static_cast<std::uint32_t>(raw));
        step.op == Op::F32 ? emit(Number::real(value)) : scaled(value);
        continue;  // floats have no components
      }
      case Op::F64:
      case Op::ScaledF64: {
        const std::uint64_t raw = load(std::uint64_t{});
        if (raw == step.invalid) continue;
        const double value = std::bit_cast<double>(raw);
        step.op == Op::F64 ? emit(Number::real(value)) : scaled(value);
        continue;
      }
      case Op::Time: {
        std::uint64_t raw;
        switch (step.width) {
          case 1:
            raw = load(std::uint8_t{});
            break;
          case 2:
            raw = load(std::uint16_t{});
            break;
          case 4:
            raw = load(std::uint32_t{});
            break;
          default:
            raw = load(std::uint64_t{});
            break;
        }
        if (raw == step.invalid) continue;
        bits = detail::widen(step.code, raw);
        emit(time_of(step, bits));
        break;
      }
      case Op::Header:
        bits = record.timestamp;
        emit(time_of(step, bits));
        break;
      case Op::ByteList: {
        const auto list = record.body.subspan(step.offset, step.width);
        bool all_invalid = !list.empty();
        for (const std::uint8_t byte : list) all_invalid = all_invalid && byte == 0xFF;
        if (all_invalid) continue;
        bits = 0;
        std::memcpy(&bits, list.data(), list.size() < 8 ? list.size() : 8);
        expand(plan, step, bits, list, decoder, sink);
        continue;
      }
    }
    if (step.total != nullptr) [[unlikely]] {
      decoder.seed(global_number_, step.total->name, bits, step.total->scale);
    }
    if (step.component_count != 0) expand(plan, step, bits, {}, decoder, sink);
  }
}

template <class Sink>
void FieldReader::read(const RawRecord& record, TypedDecoder& decoder, Sink&& sink) {
  const Plan& plan = plans_[current_for(record).plan];
  if (plan.big_endian) {
    read_steps<true>(plan, record, decoder, sink);
  } else {
    read_steps<false>(plan, record, decoder, sink);
  }
}

}  // namespace fit
