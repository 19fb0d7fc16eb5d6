// The FIT profile: names, types, scales, offsets, units, components and subfields of the
// messages, and the names of enumeration values. The tables are generated from the published
// FIT SDK profile by tools/gen_fit_profile.py into cpp/fit/profile/; they are static, read-only
// data and no lookup allocates. The profile's version and its message and field numbers by name
// are in fit/profile_numbers.hpp, generated alike.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace fit::profile {

// Base type codes as used by definitions (byte & 0x1F), and "none" for lookups that find nothing.
inline constexpr std::uint8_t kNoBaseType = 17;

// A part of a field's bits that is expanded into another field of the same message.
struct Component {
  std::optional<double> scale;
  std::optional<double> offset;
  std::string_view target;  // name of the field that receives the value
  std::string_view units;   // empty when the profile gives none
  std::uint8_t bits;
  bool accumulate;
};

// One (reference field, value) pair that selects a subfield; the value is the profile's text:
// an enumeration value name, or a number.
struct SubfieldReference {
  std::string_view field;
  std::string_view value;
};

struct Subfield {
  std::string_view name;
  std::string_view type_name;
  std::optional<double> scale;
  std::optional<double> offset;
  std::string_view units;
  std::span<const Component> components;
  std::span<const SubfieldReference> references;
};

struct FieldInfo {
  std::optional<double> scale;
  std::optional<double> offset;
  std::string_view name;
  std::string_view type_name;  // a base type name ("uint16") or a profile type ("date_time")
  std::span<const Component> components;
  std::span<const Subfield> subfields;
  std::string_view array;  // "" when not an array, else "[N]" or a count such as "[3]"
  std::string_view units;  // possibly empty; "m/s,m" for a field with two components
  bool accumulate;
  std::uint8_t number;
};

struct MessageInfo {
  std::string_view name;
  std::uint16_t number;
  std::span<const FieldInfo> fields;  // ordered by field number

  // The field description with this number, or null.
  const FieldInfo* field(std::uint8_t number) const;
  // The field description with this name, or null.
  const FieldInfo* field(std::string_view name) const;
};

// The description of a global message number; null for numbers the profile does not describe
// (105 pad, numbers above 471, gaps).
const MessageInfo* mesg_info_by_num(std::uint16_t number);

// The description of a message by its profile name ("record"), or null.
const MessageInfo* mesg_info_by_name(std::string_view name);

// The base type code of a type name: a base type's own name ("uint16" -> 4) or a profile type
// ("file" -> 0 enum, "weight" -> 4 uint16); kNoBaseType when the name is unknown.
std::uint8_t base_type_for_type_name(std::string_view type_name);

// The profile's name of a value of an enumeration type ("sport", 1 -> "running").
std::optional<std::string_view> enum_str_by_value(std::string_view type_name, std::uint64_t value);

// The inverse: the value of a named enumeration value.
std::optional<std::uint64_t> enum_value_by_str(std::string_view type_name, std::string_view name);

// One named value of a profile type.
struct EnumValue {
  std::uint32_t value;
  std::string_view name;
};

// A profile type (an enumeration or bit set such as "sport" or "file_flags") with its base type
// and named values. Resolve it once with type_info() and keep the pointer on hot paths.
struct TypeInfo {
  std::string_view name;
  std::span<const EnumValue> values;       // ordered by value
  std::span<const std::uint16_t> by_name;  // indices into values, ordered by name length, then name
  std::uint8_t base_type;

  std::optional<std::string_view> name_of(std::uint64_t value) const;
  std::optional<std::uint64_t> value_of(std::string_view name) const;
};

// The profile type with this name, or null (base type names such as "uint16" are not profile
// types).
const TypeInfo* type_info(std::string_view name);

// All message descriptions, ordered by global number, and all profile types.
std::span<const MessageInfo> message_table();
std::span<const TypeInfo> type_table();

// Global message numbers: the values the profile names, plus 0xFF00 (mfg_range_min) and
// 0xFFFE (mfg_range_max).
struct MesgNum {
  static constexpr std::uint16_t kUnknown = 472;

  // The value itself when the profile names it, else kUnknown.
  static std::uint16_t from_value(std::uint16_t value);
  static std::optional<std::string_view> as_str(std::uint16_t value);
  static std::optional<std::uint16_t> from_str(std::string_view name);
};

// Sizes of the generated tables, for tests and tools.
std::size_t message_count();
std::size_t type_count();

}  // namespace fit::profile
