#include "fit/field_reader.hpp"

#include <algorithm>

#include "fit/base_type.hpp"
#include "fit/profile.hpp"
#include "fit/raw_value.hpp"
#include "transforms.hpp"

namespace fit {
namespace {

constexpr std::uint8_t kNoSlot = 0xFF;

bool scales(std::optional<double> scale, std::optional<double> offset) {
  return (scale && *scale != 1.0) || (offset && *offset != 0.0);
}

bool is_date_time(std::string_view type_name) {
  return type_name == "date_time" || type_name == "local_date_time";
}

}  // namespace

Value Number::to_value() const {
  switch (kind_) {
    case Kind::Signed:
      return Value(n_.i);
    case Kind::Unsigned:
      return Value(n_.u);
    case Kind::Float:
      return Value(n_.d);
    case Kind::Time:
      return Value(time_);
  }
  return Value();
}

FieldReader::FieldReader(std::uint16_t global_number, std::span<const std::string_view> wanted)
    : global_number_(global_number),
      wanted_(wanted.begin(), wanted.begin() + std::min<std::size_t>(wanted.size(), kNoSlot)) {}

namespace {

// The number a field of one element gives, as transform_value() makes it with every flag on, for
// the types a FieldReader reads (no names).
Number number_of(std::uint8_t code, std::uint64_t bits, bool date_time, bool scaled, double divisor,
                 double minus) {
  if (base_type::is_integer(code)) {
    const bool fits_u32 =
        !(base_type::is_signed_integer(code) && static_cast<std::int64_t>(bits) < 0) &&
        bits <= 0xFFFFFFFFu;
    if (date_time && fits_u32) {
      return Number::time(kFitEpochUnixSeconds + static_cast<std::int64_t>(bits));
    }
    if (scaled) return Number::real(detail::as_double(code, bits) / divisor - minus);
    if (base_type::is_signed_integer(code)) {
      return Number::signed_integer(static_cast<std::int64_t>(bits));
    }
    return Number::unsigned_integer(bits);
  }
  const double value = detail::as_double(code, bits);
  return Number::real(scaled ? value / divisor - minus : value);
}

}  // namespace

void FieldReader::compile(const RawRecord& record, Plan& plan) {
  const MessageDefinition& definition = *record.definition;
  plan.definition_id = record.definition_id;
  plan.direct = false;
  plan.big_endian = definition.big_endian;
  plan.steps.clear();
  plan.components.clear();
  const profile::MessageInfo* message = profile::mesg_info_by_num(global_number_);
  if (message == nullptr) return;

  const auto slot_of = [&](std::string_view name) {
    const auto found = std::find(wanted_.begin(), wanted_.end(), name);
    return found == wanted_.end() ? kNoSlot : static_cast<std::uint8_t>(found - wanted_.begin());
  };
  std::size_t readings = 0;
  // Adds what a field gives, or says that only decode() can read it.
  const auto add = [&](const profile::FieldInfo& info, std::uint8_t number, std::uint8_t code,
                       std::uint8_t size, std::size_t offset, bool from_header) {
    const std::uint8_t slot = slot_of(info.name);
    bool components_wanted = false, accumulates = false;
    for (const profile::Component& component : info.components) {
      components_wanted |= slot_of(component.target) != kNoSlot;
      accumulates |= component.accumulate;
    }
    if (!info.subfields.empty()) {
      // What a subfield gives depends on other fields' values: such a field is left to decode()
      // unless nothing of it matters here.
      bool touched = slot != kNoSlot || components_wanted || accumulates;
      for (const profile::Subfield& subfield : info.subfields) {
        touched |= slot_of(subfield.name) != kNoSlot;
        for (const profile::Component& component : subfield.components) {
          touched |= slot_of(component.target) != kNoSlot || component.accumulate;
        }
      }
      return !touched;
    }
    if (slot == kNoSlot && !components_wanted && !accumulates) return true;

    Step step{};
    step.code = from_header ? base_type::kUint32 : code;
    step.size = size;
    step.slot = slot;
    step.number = number;
    step.offset = static_cast<std::uint16_t>(offset);
    step.date_time = is_date_time(info.type_name);
    step.scaled = scales(info.scale, info.offset);
    step.divisor = info.scale.value_or(1.0);
    step.minus = info.offset.value_or(0.0);
    const bool scalar = from_header || (code != base_type::kString && code != base_type::kByte &&
                                        size == base_type::kElementSize[code]);
    if (scalar) {
      // A value with a profile name is a name, not a number (a date_time is a number first).
      if (slot != kNoSlot && profile::type_info(info.type_name) != nullptr && !step.date_time) {
        return false;
      }
      step.kind = from_header ? Step::Kind::HeaderTime : Step::Kind::Scalar;
    } else if (code == base_type::kByte && slot == kNoSlot) {
      step.kind = Step::Kind::Bytes;  // components of a byte list
    } else {
      return false;
    }
    readings += slot != kNoSlot;
    // Components come from integers and byte lists only, as the typed decoder reads them.
    if (!info.components.empty() &&
        (step.kind == Step::Kind::Bytes || base_type::is_integer(step.code))) {
      std::uint8_t scratch[8];
      step.component_bytes = static_cast<std::uint8_t>(
          transforms::scalar_component_bytes(info.components, 0, scratch));
      step.first_component = static_cast<std::uint16_t>(plan.components.size());
      step.component_count = static_cast<std::uint16_t>(info.components.size());
      for (const profile::Component& component : info.components) {
        const std::uint8_t target = slot_of(component.target);
        plan.components.push_back({component.scale.value_or(1.0), component.offset.value_or(0.0),
                                   scales(component.scale, component.offset), component.accumulate,
                                   component.bits, target});
        readings += target != kNoSlot;
      }
    }
    plan.steps.push_back(step);
    return true;
  };

  std::size_t at = 0;
  bool timestamp_from_header = false;
  for (const FieldDefinition& field : definition.fields) {
    const bool from_header = record.compressed && field.number == kTimestampFieldNumber;
    const std::size_t offset = at;
    if (!from_header) at += field.size;
    timestamp_from_header |= from_header;
    const profile::FieldInfo* info = message->field(field.number);
    if (info == nullptr) continue;
    if (!add(*info, field.number, field.base_type, field.size, offset, from_header)) return;
  }
  // A compressed-timestamp message defined without field 253 gets it after the others.
  if (record.compressed && !timestamp_from_header) {
    const profile::FieldInfo* info = message->field(kTimestampFieldNumber);
    if (info != nullptr && !add(*info, kTimestampFieldNumber, base_type::kUint32, 4, 0, true)) {
      return;
    }
  }
  plan.direct = true;
  if (readings_.size() < readings) readings_.resize(readings, {0, Number::unsigned_integer(0)});
}

std::size_t FieldReader::expand(const Plan& plan, const Step& step,
                                std::span<const std::uint8_t> bytes, TypedDecoder& decoder,
                                std::size_t count) {
  transforms::BitCursor cursor(bytes);
  const auto components =
      std::span(plan.components).subspan(step.first_component, step.component_count);
  for (const ComponentStep& component : components) {
    std::uint64_t value;
    if (!cursor.take(component.bits, value)) break;
    if (component.accumulate) {
      value = decoder.accumulate(global_number_, step.number, value, component.bits);
    }
    if (component.slot == kNoSlot) continue;
    readings_[count++] = {
        component.slot,
        component.scaled
            ? Number::real(static_cast<double>(value) / component.divisor - component.minus)
            : Number::unsigned_integer(value)};
  }
  return count;
}

std::optional<std::span<const FieldReader::Reading>> FieldReader::read(const RawRecord& record,
                                                                       TypedDecoder& decoder) {
  if (record.definition->global_number != global_number_) return std::nullopt;
  Plan& plan = plans_[record.compressed ? 16 + record.local_type : record.local_type];
  if (plan.definition_id != record.definition_id) compile(record, plan);
  if (!plan.direct) return std::nullopt;

  const std::uint8_t* body = record.body.data();
  std::size_t count = 0;
  for (const Step& step : plan.steps) {
    std::uint64_t bits;
    if (step.kind == Step::Kind::Bytes) {
      const auto bytes = record.body.subspan(step.offset, step.size);
      if (!bytes.empty() &&
          std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; })) {
        continue;
      }
      count = expand(plan, step, bytes, decoder, count);
      continue;
    }
    if (step.kind == Step::Kind::HeaderTime) {
      bits = record.timestamp;
    } else {
      bits = detail::load(body + step.offset, step.size, plan.big_endian);
      if (bits == base_type::kInvalid[step.code]) continue;
      bits = detail::widen(step.code, bits);
    }
    if (step.slot != kNoSlot) {
      readings_[count++] = {step.slot, number_of(step.code, bits, step.date_time, step.scaled,
                                                 step.divisor, step.minus)};
    }
    if (step.component_count != 0) {
      std::uint8_t bytes[8];
      for (std::size_t i = 0; i < step.component_bytes; ++i) {
        bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
      }
      count = expand(plan, step, std::span(bytes, step.component_bytes), decoder, count);
    }
  }
  return std::span<const Reading>(readings_.data(), count);
}

}  // namespace fit
