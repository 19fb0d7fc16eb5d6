// What the typed decoder does to one raw value: scale and offset, enumeration names, timestamps,
// accumulation of rolling counters, unpacking of components and choice of subfields.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fit/decoder.hpp"
#include "fit/profile.hpp"
#include "fit/raw_value.hpp"
#include "fit/value.hpp"

namespace fit::transforms {

struct Flags {
  bool scale_and_offset = true;
  bool components = true;
  bool subfields = true;
  bool enum_names = true;
  bool date_times = true;
};

// What a profile type name means to transform_value; resolved once per definition, not per value.
struct TypeClass {
  const profile::TypeInfo* type = nullptr;  // a profile type whose values may have names
  bool date_time = false;                   // date_time or local_date_time
};

TypeClass classify(std::string_view type_name);

// A scalar of base type `code` (its bits as RawValue::scalar_bits() gives them) as it stands:
// integers widened to 64 bits, floats to double.
inline void assign_number(Value& out, std::uint8_t code, std::uint64_t bits) {
  if (base_type::is_signed_integer(code)) {
    out = static_cast<std::int64_t>(bits);
  } else if (code == base_type::kFloat32) {
    out = static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
  } else if (code == base_type::kFloat64) {
    out = std::bit_cast<double>(bits);
  } else {
    out = bits;
  }
}

// Writes the value as the raw value stands (integers widened to 64 bits, floats to double) into
// `out`, reusing its storage where the kinds match.
void raw_to_value_passthrough(const RawValue& raw, Value& out);

// Applies the first rule that fits: invalid stays invalid; a date-time becomes a timestamp; an
// enumeration value with a profile name becomes that name; a scale or offset gives
// value / scale - offset; else the passthrough value.
void transform_value(const RawValue& raw, const TypeClass& type, std::optional<double> scale,
                     std::optional<double> offset, const Flags& flags, Value& out);

// The same for an unsigned integer that is not a raw value: accumulated counters and components.
void transform_unsigned(std::uint64_t value, const TypeClass& type, std::optional<double> scale,
                        std::optional<double> offset, const Flags& flags, Value& out);

inline Value transform_value(const RawValue& raw, std::string_view type_name,
                             std::optional<double> scale, std::optional<double> offset,
                             const Flags& flags) {
  Value out;
  transform_value(raw, classify(type_name), scale, offset, flags, out);
  return out;
}

// Running totals of rolling counts that components carry (a record's distance in 12 bits, its
// cycles in 8, a heart-rate message's event times in 12), per (global message number, field the
// components count into).
class Accumulator {
 public:
  // Adds a rolling count of `bits` bits: on the first value for a key the value itself, then
  // each time the difference from the previous value, modulo 2^bits. Returns the total. The
  // count continues a total the file gave in full (seed()) when it is counted in the same
  // units (`scale`).
  std::uint64_t accumulate(std::uint16_t message, std::string_view target, std::uint64_t value,
                           std::uint8_t bits, std::optional<double> scale);
  // A total the file gives in full, in its raw units: later counts continue from it.
  void seed(std::uint16_t message, std::string_view target, std::uint64_t total,
            std::optional<double> scale);
  bool empty() const { return entries_.empty(); }
  void clear() { entries_.clear(); }

 private:
  struct Entry {
    std::uint16_t message;
    std::string_view target;  // a profile name: static
    std::uint64_t last;
    std::uint64_t total;
    std::optional<double> scale;
    bool seeded;  // `total` came in full; `last` is not known yet
  };
  Entry* find(std::uint16_t message, std::string_view target) {
    for (Entry& entry : entries_) {
      // Targets are profile names: the same pointer, unless a caller gives its own text.
      if (entry.message == message &&
          (entry.target.data() == target.data() ? entry.target.size() == target.size()
                                                : entry.target == target)) {
        return &entry;
      }
    }
    return nullptr;
  }
  // Only profile fields with accumulated components create keys, so a handful of entries
  // searched in order beats hashing.
  std::vector<Entry> entries_;
};

// Reads components out of a field's bytes: least significant bit of the first byte first.
class BitCursor {
 public:
  explicit BitCursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  // The next `bits` bits as an unsigned value, or false when fewer remain: a field holds as
  // many components as its bytes carry (an hr message's event_timestamp_12 has one per beat).
  // Bits beyond the 64th of one component are dropped.
  bool take(unsigned bits, std::uint64_t& value) {
    if (bytes_.size() * 8 - position_ < bits) return false;
    value = 0;
    for (unsigned got = 0; got < bits;) {
      const unsigned shift = position_ & 7;
      const unsigned count = std::min(8 - shift, bits - got);
      const std::uint64_t chunk = (bytes_[position_ >> 3] >> shift) & ((1u << count) - 1);
      if (got < 64) value |= chunk << got;
      got += count;
      position_ += count;
    }
    return true;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// The bytes of an integer scalar that its components are read from: ceil(total bits / 8) of
// them (at least 1, at most 8), least significant first. Returns how many were written to `out`.
std::size_t scalar_component_bytes(std::span<const profile::Component> components,
                                   std::uint64_t value, std::uint8_t (&out)[8]);

// Where the first raw field of each field number sits in a message's field list; the same for
// every message of one definition.
class FieldIndex {
 public:
  static constexpr std::uint8_t kNone = 0xFF;  // a definition holds at most 255 fields

  FieldIndex() { clear(); }
  void clear() { std::fill(std::begin(index_), std::end(index_), kNone); }
  void build(std::span<const RawField> fields) {
    clear();
    for (std::size_t i = fields.size(); i-- > 0;) {
      index_[fields[i].number] = static_cast<std::uint8_t>(i);
    }
  }
  // The index of the first field with `number`, or kNone.
  std::uint8_t first(std::uint8_t number) const { return index_[number]; }
  const RawField* find(std::span<const RawField> fields, std::uint8_t number) const {
    const std::uint8_t i = index_[number];
    return i == kNone || i >= fields.size() ? nullptr : &fields[i];
  }

 private:
  std::uint8_t index_[256];
};

// The first subfield of `field` that one of its references selects, or null. A reference names
// a field of the same message; it matches when the first raw field with that number holds an
// integer equal to the reference value ("0x10", "16") or one whose enumeration name it is.
const profile::Subfield* select_subfield(const profile::FieldInfo& field,
                                         const profile::MessageInfo& message,
                                         std::span<const RawField> fields, const FieldIndex& index);

}  // namespace fit::transforms
