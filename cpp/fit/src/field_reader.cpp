#include "fit/field_reader.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "fit/base_type.hpp"
#include "fit/profile.hpp"
#include "fit/raw_value.hpp"
#include "transforms.hpp"

namespace fit {
namespace {

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
      return Value(n_.t);
  }
  return Value();
}

FieldReader::FieldReader(std::uint16_t global_number, std::span<const std::string_view> wanted)
    : global_number_(global_number),
      wanted_(wanted.begin(), wanted.begin() + std::min<std::size_t>(wanted.size(), kNone)) {}

namespace {

bool same_fields(std::span<const FieldDefinition> a, std::span<const FieldDefinition> b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](const FieldDefinition& x, const FieldDefinition& y) {
                      return x.number == y.number && x.size == y.size && x.base_type == y.base_type;
                    });
}

}  // namespace

std::size_t FieldReader::plan_index(const RawRecord& record) {
  const MessageDefinition& definition = *record.definition;
  for (std::size_t i = 0; i < plans_.size(); ++i) {
    const Plan& plan = plans_[i];
    if (plan.big_endian == definition.big_endian && plan.compressed == record.compressed &&
        same_fields(plan.fields, definition.fields)) {
      return i;
    }
  }
  std::size_t index = plans_.size();
  if (index < kPlans) {
    plans_.emplace_back();
  } else {
    // A file of ever new layouts: plans are replaced in turn, and nobody keeps the one replaced.
    index = next_replaced_;
    next_replaced_ = (next_replaced_ + 1) % kPlans;
    for (Current& current : current_) {
      if (current.plan == index) current.definition_id = 0;
    }
  }
  compile(record, plans_[index]);
  return index;
}

void FieldReader::compile(const RawRecord& record, Plan& plan) {
  const MessageDefinition& definition = *record.definition;
  plan.big_endian = definition.big_endian;
  plan.compressed = record.compressed;
  plan.fields.assign(definition.fields.begin(), definition.fields.end());
  plan.direct = false;
  plan.steps.clear();
  plan.components.clear();
  const profile::MessageInfo* message = profile::mesg_info_by_num(global_number_);
  if (message == nullptr) return;

  const auto slot_of = [&](std::string_view name) {
    const auto found = std::find(wanted_.begin(), wanted_.end(), name);
    return found == wanted_.end() ? kNone : static_cast<std::uint8_t>(found - wanted_.begin());
  };
  std::size_t readings = 0;
  // Adds what a field gives, or says that only decode() can read it.
  const auto add = [&](const profile::FieldInfo& info, std::uint8_t number, std::uint8_t code,
                       std::uint8_t size, std::size_t offset, bool from_header) {
    const std::uint8_t slot = slot_of(info.name);
    bool components_wanted = false, accumulates = false;
    for (const profile::Component& component : info.components) {
      components_wanted |= slot_of(component.target) != kNone;
      accumulates |= component.accumulate;
    }
    if (!info.subfields.empty()) {
      // What a subfield gives depends on other fields' values: such a field is left to decode()
      // unless nothing of it matters here.
      bool touched = slot != kNone || components_wanted || accumulates || info.accumulate;
      for (const profile::Subfield& subfield : info.subfields) {
        touched |= slot_of(subfield.name) != kNone;
        for (const profile::Component& component : subfield.components) {
          touched |= slot_of(component.target) != kNone || component.accumulate;
        }
      }
      return !touched;
    }
    if (slot == kNone && !components_wanted && !accumulates && !info.accumulate) return true;

    Step step{};
    step.code = from_header ? base_type::kUint32 : code;
    step.width = size;
    step.slot = slot;
    step.number = number;
    step.offset = static_cast<std::uint16_t>(offset);
    step.invalid = base_type::kInvalid[step.code];
    step.divisor = info.scale.value_or(1.0);
    step.minus = info.offset.value_or(0.0);
    if (info.accumulate) step.total = &info;
    const bool number_field =
        from_header || (code != base_type::kString && code != base_type::kByte &&
                        size == base_type::kElementSize[code]);
    if (number_field) {
      const bool date_time = is_date_time(info.type_name);
      // A value with a profile name is a name, not a number (a date_time is a number first).
      if (slot != kNone && profile::type_info(info.type_name) != nullptr && !date_time) {
        return false;
      }
      if (from_header && !date_time) return false;
      const std::uint8_t c = step.code;
      const bool scaled = scales(info.scale, info.offset);
      const auto by_width = [&](Op w1, Op w2, Op w4, Op w8) {
        return size == 1 ? w1 : size == 2 ? w2 : size == 4 ? w4 : w8;
      };
      if (from_header) {
        step.op = Op::Header;
      } else if (c == base_type::kFloat32) {
        step.op = scaled ? Op::ScaledF32 : Op::F32;
      } else if (c == base_type::kFloat64) {
        step.op = scaled ? Op::ScaledF64 : Op::F64;
      } else if (date_time) {
        step.op = c == base_type::kUint32 || c == base_type::kUint32z ? Op::TimeU32 : Op::Time;
      } else if (base_type::is_signed_integer(c)) {
        step.op = scaled ? by_width(Op::ScaledS8, Op::ScaledS16, Op::ScaledS32, Op::ScaledS64)
                         : by_width(Op::S8, Op::S16, Op::S32, Op::S64);
      } else {
        step.op = scaled ? by_width(Op::ScaledU8, Op::ScaledU16, Op::ScaledU32, Op::ScaledU64)
                         : by_width(Op::U8, Op::U16, Op::U32, Op::U64);
      }
    } else if (code == base_type::kByte && slot == kNone) {
      step.op = Op::ByteList;  // read for its components
    } else {
      return false;
    }
    readings += slot != kNone;
    // Components come from integers and byte lists only, as the typed decoder reads them: from
    // as many of an integer's bytes as they need, or from a byte list's bytes.
    if (!info.components.empty() && (step.op == Op::ByteList || base_type::is_integer(step.code))) {
      std::uint8_t scratch[8];
      step.component_bits = step.op == Op::ByteList
                                ? static_cast<std::uint16_t>(8 * size)
                                : static_cast<std::uint16_t>(8 * transforms::scalar_component_bytes(
                                                                     info.components, 0, scratch));
      step.first_component = static_cast<std::uint16_t>(plan.components.size());
      step.component_count = static_cast<std::uint8_t>(info.components.size());
      std::uint16_t shift = 0;
      for (const profile::Component& component : info.components) {
        const std::uint8_t target = slot_of(component.target);
        const std::uint8_t bits = std::min<std::uint8_t>(component.bits, 64);
        plan.components.push_back({component.scale.value_or(1.0), component.offset.value_or(0.0),
                                   bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1,
                                   shift, bits, target, scales(component.scale, component.offset),
                                   component.accumulate, component.target, component.scale});
        shift = static_cast<std::uint16_t>(shift + component.bits);
        readings += target != kNone;
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

bool FieldReader::reads(const RawRecord& record) {
  if (record.definition->global_number != global_number_) return false;
  Current& current = current_for(record);
  if (current.definition_id != record.definition_id) {
    current.plan = plan_index(record);
    current.definition_id = record.definition_id;
  }
  return plans_[current.plan].direct;
}

bool FieldReader::take_bits(std::span<const std::uint8_t> bytes, std::size_t& position,
                            unsigned bits, std::uint64_t& value) {
  transforms::BitCursor cursor(bytes);
  std::uint64_t skipped;
  if (position > 0 && !cursor.take(static_cast<unsigned>(position), skipped)) return false;
  if (!cursor.take(bits, value)) return false;
  position += bits;
  return true;
}

Number FieldReader::time_of(const Step& step, std::uint64_t bits) {
  const bool is_signed = base_type::is_signed_integer(step.code);
  if (!(is_signed && static_cast<std::int64_t>(bits) < 0) && bits <= 0xFFFFFFFFu) {
    return Number::time(kFitEpochUnixSeconds + static_cast<std::int64_t>(bits));
  }
  // Out of a time's range: the number as the type has it.
  if (step.divisor != 1.0 || step.minus != 0.0) {
    return Number::real(detail::as_double(step.code, bits) / step.divisor - step.minus);
  }
  return is_signed ? Number::signed_integer(static_cast<std::int64_t>(bits))
                   : Number::unsigned_integer(bits);
}

std::optional<std::span<const FieldReader::Reading>> FieldReader::read(const RawRecord& record,
                                                                       TypedDecoder& decoder) {
  if (!reads(record)) return std::nullopt;
  std::size_t count = 0;
  read(record, decoder, [&](std::uint8_t field, const Number& value) {
    readings_[count++] = {field, value};
  });
  return std::span<const Reading>(readings_.data(), count);
}

}  // namespace fit
