#include "transforms.hpp"

#include <bit>
#include <charconv>

namespace fit::transforms {
namespace {

using namespace base_type;

bool scales(std::optional<double> scale, std::optional<double> offset) {
  return (scale && *scale != 1.0) || (offset && *offset != 0.0);
}

void assign_text(Value& out, std::string_view text) {
  if (auto* s = std::get_if<std::string>(static_cast<ValueVariant*>(&out))) {
    s->assign(text);
  } else {
    out.emplace<std::string>(text);
  }
}

void assign_bytes(Value& out, std::span<const std::uint8_t> bytes) {
  if (auto* b = std::get_if<std::vector<std::uint8_t>>(static_cast<ValueVariant*>(&out))) {
    b->assign(bytes.begin(), bytes.end());
  } else {
    out.emplace<std::vector<std::uint8_t>>(bytes.begin(), bytes.end());
  }
}

ValueArray& reuse_array(Value& out, std::size_t size) {
  auto* array = std::get_if<ValueArray>(static_cast<ValueVariant*>(&out));
  if (array == nullptr) array = &out.emplace<ValueArray>();
  array->resize(size);
  return *array;
}

using detail::as_double;

// Whether an integer (64-bit two's complement of a value of type `code`) lies in 0 .. 2^32 - 1.
bool fits_u32(std::uint8_t code, std::uint64_t bits) {
  if (is_signed_integer(code) && static_cast<std::int64_t>(bits) < 0) return false;
  return bits <= 0xFFFFFFFFu;
}

bool named_or_dated(std::uint64_t value, std::uint8_t code, const TypeClass& type,
                    const Flags& flags, Value& out) {
  if (flags.date_times && type.date_time && fits_u32(code, value)) {
    out = Timestamp{kFitEpochUnixSeconds + static_cast<std::int64_t>(value), 0};
    return true;
  }
  if (flags.enum_names && type.type != nullptr) {
    if (const auto name = type.type->name_of(value)) {
      out = EnumName::borrowed(*name);
      return true;
    }
  }
  return false;
}

bool matches_reference(std::string_view text, std::uint64_t value, std::string_view type_name) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t number = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number, base);
  if (error == std::errc() && end == text.data() + text.size()) return number == value;
  if (base == 16) return false;
  const auto name = profile::enum_str_by_value(type_name, value);
  return name && *name == text;
}

}  // namespace

TypeClass classify(std::string_view type_name) {
  TypeClass type;
  type.type = profile::type_info(type_name);
  type.date_time = type_name == "date_time" || type_name == "local_date_time";
  return type;
}

namespace {

// Fills `out` with one value per element of an array; an element holding the invalid marker has
// no value, as a whole field would not, and `assign` converts the others.
template <class Assign>
void assign_elements(const RawValue& raw, Value& out, Assign assign) {
  const std::uint64_t invalid = kInvalid[raw.type()];
  ValueArray& array = reuse_array(out, raw.element_count());
  for (std::size_t i = 0; i < array.size(); ++i) {
    const std::uint64_t bits = raw.element_bits(i);
    if (bits == invalid) {
      array[i] = Invalid{};
    } else {
      assign(array[i], bits);
    }
  }
}

}  // namespace

void raw_to_value_passthrough(const RawValue& raw, Value& out) {
  switch (raw.kind()) {
    case RawValue::Kind::Invalid:
      out = Invalid{};
      return;
    case RawValue::Kind::Scalar:
      assign_number(out, raw.type(), raw.scalar_bits());
      return;
    case RawValue::Kind::String:
      assign_text(out, raw.text());
      return;
    case RawValue::Kind::Bytes:
      assign_bytes(out, raw.data());
      return;
    case RawValue::Kind::Array:
      assign_elements(raw, out, [&](Value& element, std::uint64_t bits) {
        assign_number(element, raw.type(), bits);
      });
      return;
  }
}

void transform_value(const RawValue& raw, const TypeClass& type, std::optional<double> scale,
                     std::optional<double> offset, const Flags& flags, Value& out) {
  if (raw.is_invalid()) {
    out = Invalid{};
    return;
  }
  if (const auto integer = raw.integer()) {
    if (named_or_dated(*integer, raw.type(), type, flags, out)) return;
  } else if (raw.is_array() && flags.enum_names && type.type != nullptr && !type.date_time) {
    // An array of enumeration values (a monitoring_info's activity_type): each element that
    // has a name gets it, as a single value would.
    assign_elements(raw, out, [&](Value& element, std::uint64_t bits) {
      if (!named_or_dated(bits, raw.type(), type, flags, element)) {
        assign_number(element, raw.type(), bits);
      }
    });
    return;
  }
  if (flags.scale_and_offset && scales(scale, offset)) {
    const double divisor = scale.value_or(1.0);
    const double minus = offset.value_or(0.0);
    if (const auto number = raw.scalar_f64()) {
      out = *number / divisor - minus;
      return;
    }
    if (raw.is_array()) {
      assign_elements(raw, out, [&](Value& element, std::uint64_t bits) {
        element = as_double(raw.type(), bits) / divisor - minus;
      });
      return;
    }
  }
  raw_to_value_passthrough(raw, out);
}

void transform_unsigned(std::uint64_t value, const TypeClass& type, std::optional<double> scale,
                        std::optional<double> offset, const Flags& flags, Value& out) {
  if (named_or_dated(value, kUint64, type, flags, out)) return;
  if (flags.scale_and_offset && scales(scale, offset)) {
    out = static_cast<double>(value) / scale.value_or(1.0) - offset.value_or(0.0);
    return;
  }
  out = value;
}

std::uint64_t Accumulator::accumulate(std::uint16_t message, std::string_view target,
                                      std::uint64_t value, std::uint8_t bits,
                                      std::optional<double> scale) {
  const unsigned width = bits == 0 ? 1 : bits > 64 ? 64 : bits;
  const std::uint64_t mask = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
  Entry* entry = find(message, target);
  if (entry != nullptr && entry->seeded) {
    if (entry->scale == scale) {
      // The count's bits are the low bits of the total given in full.
      entry->last = entry->total & mask;
      entry->seeded = false;
    } else {
      entry->message = 0xFFFF;  // counted in other units: start afresh
      entry->target = {};
      entry = nullptr;
    }
  }
  if (entry == nullptr) {
    entries_.push_back({message, target, value, value, scale, false});
    return value;
  }
  entry->total += (value - entry->last) & mask;
  entry->last = value;
  return entry->total;
}

void Accumulator::seed(std::uint16_t message, std::string_view target, std::uint64_t total,
                       std::optional<double> scale) {
  Entry* entry = find(message, target);
  if (entry == nullptr) {
    entries_.push_back({message, target, 0, total, scale, true});
    return;
  }
  entry->total = total;
  entry->scale = scale;
  entry->seeded = true;
}

std::size_t scalar_component_bytes(std::span<const profile::Component> components,
                                   std::uint64_t value, std::uint8_t (&out)[8]) {
  std::size_t bits = 0;
  for (const profile::Component& component : components) bits += component.bits;
  const std::size_t count = std::clamp<std::size_t>((bits + 7) / 8, 1, 8);
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return count;
}

const profile::Subfield* select_subfield(const profile::FieldInfo& field,
                                         const profile::MessageInfo& message,
                                         std::span<const RawField> fields,
                                         const FieldIndex& index) {
  for (const profile::Subfield& subfield : field.subfields) {
    for (const profile::SubfieldReference& reference : subfield.references) {
      const profile::FieldInfo* info = message.field(reference.field);
      if (info == nullptr) continue;
      const RawField* raw = index.find(fields, info->number);
      if (raw == nullptr) continue;
      const auto value = raw->value.integer();
      if (value && matches_reference(reference.value, *value, info->type_name)) return &subfield;
    }
  }
  return nullptr;
}

}  // namespace fit::transforms
