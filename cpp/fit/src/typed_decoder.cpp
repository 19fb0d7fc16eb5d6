#include "fit/typed_decoder.hpp"

#include <array>
#include <functional>
#include <optional>
#include <unordered_map>
#include <utility>

#include "fit/decoder.hpp"
#include "fit/dev_fields.hpp"
#include "fit/profile.hpp"
#include "transforms.hpp"

namespace fit {
namespace {

using transforms::TypeClass;

constexpr std::uint16_t kFieldDescription = 206;

// Profile work for one definition, done when the definition is first used rather than per message.
struct FieldPlan {
  const profile::FieldInfo* info = nullptr;  // null: a field the profile does not describe
  TypeClass type;
  std::uint8_t first_same = 0;  // index of the first field with the same number
  bool subfields = false;       // the profile gives the field subfields
  // A field without names or times: a scalar value stands as it is (Plain) or is scaled
  // (value / divisor - minus), which is all transform_value would do with it.
  enum class Shortcut : std::uint8_t { None, Plain, Scaled } shortcut = Shortcut::None;
  double divisor = 1.0;
  double minus = 0.0;
  std::uint8_t expanded = 0;  // the fields its components gave in the last message
};

struct DefinitionPlan {
  std::uint64_t definition_id = 0;
  const profile::MessageInfo* message = nullptr;
  std::vector<FieldPlan> fields;
  std::size_t field_count = 0;  // fields of a message, expanded components included
  transforms::FieldIndex index;
  std::vector<const profile::Subfield*> selected;  // per field, for the current message
  // The layout of its messages' fields: a new number whenever the names could change.
  std::uint64_t layout = 0;
};

// The low byte of an 8-bit unsigned or enum scalar, or of a one-byte byte list.
std::optional<std::uint8_t> unsigned_byte(const RawValue& value) {
  if (value.is_scalar() && (value.type() == base_type::kEnum || value.type() == base_type::kUint8 ||
                            value.type() == base_type::kUint8z)) {
    return static_cast<std::uint8_t>(value.scalar_bits());
  }
  if (value.is_bytes() && value.data().size() == 1) return value.data()[0];
  return std::nullopt;
}

// Field values are reassigned in place so a reused message keeps the storage of its texts.
[[gnu::noinline]] Field& new_field(std::vector<Field>& fields, std::size_t& count) {
  ++count;
  return fields.emplace_back();
}
inline Field& next_field(std::vector<Field>& fields, std::size_t& count) {
  if (count < fields.size()) [[likely]]
    return fields[count++];
  return new_field(fields, count);
}

void set_profile_field(Field& field, std::string_view name, std::string_view units,
                       std::uint8_t number) {
  field.name = name;
  field.units = units;
  field.has_units = !units.empty();
  field.developer = false;
  field.number = number;
  field.developer_data_index = 0;
  if (field.owner) field.owner.reset();
}

}  // namespace

struct TypedDecoder::State {
  explicit State(const DecoderBuilder& builder)
      : decoder(builder.bytes_, builder.cut_files_),
        observer(builder.observer_),
        flags{builder.scale_and_offset_, builder.components_, builder.subfields_,
              builder.enum_names_, builder.date_times_} {}

  DefinitionPlan& plan_for(const RawMessage& raw);
  void register_developer_field(const RawMessage& raw);
  void decode(const RawMessage& raw, Message& message);
  // Adds a profile field described by `info` (a field or the subfield chosen for it), then the
  // fields expanded from its components. A field the profile marks as accumulated (record
  // distance, total_cycles, a heart-rate message's event_timestamp) is the running total of
  // components; when the file gives it directly it already is a total, and counting its changes
  // would turn a reset (the distance of a new sport) into a wrap-around of 2^32, so its value is
  // taken as it stands, and components that follow count on from it.
  template <class Info>
  void emit(const RawMessage& raw, const RawField& raw_field, const Info& info,
            const TypeClass& type, FieldPlan& plan, bool shortcut, DefinitionPlan& definition,
            std::vector<Field>& fields, std::size_t& count) {
    Field& field = next_field(fields, count);
    set_profile_field(field, info.name, info.units, raw_field.number);
    const RawValue& value = raw_field.value;
    if (shortcut && plan.shortcut != FieldPlan::Shortcut::None && value.is_scalar()) {
      if (plan.shortcut == FieldPlan::Shortcut::Plain) {
        transforms::assign_number(field.value, value.type(), value.scalar_bits());
      } else {
        field.value =
            detail::as_double(value.type(), value.scalar_bits()) / plan.divisor - plan.minus;
      }
    } else {
      transforms::transform_value(value, type, info.scale, info.offset, flags, field.value);
    }
    if constexpr (requires { info.accumulate; }) {
      if (info.accumulate && raw_field.value.is_integer_scalar()) {
        accumulator.seed(raw.global_number, info.name, raw_field.value.scalar_bits(), info.scale);
      }
    }
    if (flags.components && !info.components.empty()) {
      const std::size_t before = count;
      expand(raw_field, info.components, raw.global_number, fields, count);
      // An invalid value, or one shorter than its components, expands into fewer fields.
      const auto expanded = static_cast<std::uint8_t>(count - before);
      if (expanded != plan.expanded) {
        plan.expanded = expanded;
        definition.layout = ++layouts;
      }
    }
  }
  void expand(const RawField& raw, std::span<const profile::Component> components,
              std::uint16_t global_number, std::vector<Field>& fields, std::size_t& count);
  // The field one component gives with `value`, its bits read from the field.
  void expand_one(const profile::Component& component, std::uint64_t value,
                  std::uint16_t global_number, std::vector<Field>& fields, std::size_t& count);
  // The type of the field a component expands into: an enumeration's values get their names
  // (a monitoring message's activity_type), like the field's own values would.
  const TypeClass& target_type(std::uint16_t global_number, const profile::Component& component) {
    auto [it, added] = component_types.try_emplace(&component);
    if (added) {
      const profile::MessageInfo* message = profile::mesg_info_by_num(global_number);
      const profile::FieldInfo* target = message ? message->field(component.target) : nullptr;
      if (target != nullptr) it->second = transforms::classify(target->type_name);
    }
    return it->second;
  }

  // The type of a subfield, classified once.
  const TypeClass& subfield_type(const profile::Subfield& subfield) {
    auto [it, added] = subfield_types.try_emplace(&subfield);
    if (added) it->second = transforms::classify(subfield.type_name);
    return it->second;
  }

  Decoder decoder;
  RawRecord record;
  RawMessage raw;
  RawValue scratch;
  transforms::Accumulator accumulator;
  DevFieldRegistry registry;
  std::unordered_map<const profile::Component*, TypeClass> component_types;
  std::unordered_map<const profile::Subfield*, TypeClass> subfield_types;
  std::uint64_t layouts = 0;  // the last layout number given
  std::array<DefinitionPlan, 16> plans;
  std::function<void(const Message&)> observer;
  transforms::Flags flags;
  bool failed = false;  // a message that did not decode ends the walk, as a decoder error does
};

DefinitionPlan& TypedDecoder::State::plan_for(const RawMessage& raw) {
  DefinitionPlan& plan = plans[raw.local_type];
  if (plan.definition_id == raw.definition_id) return plan;
  plan.definition_id = raw.definition_id;
  plan.message = profile::mesg_info_by_num(raw.global_number);
  plan.fields.assign(raw.fields.size(), FieldPlan{});
  plan.field_count = raw.fields.size() + raw.developer_fields.size();
  plan.index.build(raw.fields);
  for (std::size_t i = 0; i < raw.fields.size(); ++i) {
    FieldPlan& field = plan.fields[i];
    const std::uint8_t number = raw.fields[i].number;
    field.first_same = plan.index.first(number);
    if (plan.message == nullptr) continue;
    field.info = plan.message->field(number);
    if (field.info == nullptr) continue;
    field.type = transforms::classify(field.info->type_name);
    field.subfields = !field.info->subfields.empty();
    if (field.type.type == nullptr && !field.type.date_time) {
      const std::optional<double> scale = field.info->scale;
      const std::optional<double> offset = field.info->offset;
      if (!flags.scale_and_offset || ((!scale || *scale == 1.0) && (!offset || *offset == 0.0))) {
        field.shortcut = FieldPlan::Shortcut::Plain;
      } else {
        field.shortcut = FieldPlan::Shortcut::Scaled;
        field.divisor = scale.value_or(1.0);
        field.minus = offset.value_or(0.0);
      }
    }
    plan.field_count += field.info->components.size();
  }
  plan.selected.assign(raw.fields.size(), nullptr);
  plan.layout = ++layouts;
  return plan;
}

void TypedDecoder::State::register_developer_field(const RawMessage& raw) {
  const RawValue* by_number[9] = {};
  for (const RawField& field : raw.fields) {
    if (field.number < 9 && by_number[field.number] == nullptr)
      by_number[field.number] = &field.value;
  }
  const auto byte_of = [&](std::uint8_t number) -> std::optional<std::uint8_t> {
    return by_number[number] ? unsigned_byte(*by_number[number]) : std::nullopt;
  };
  const auto text_of = [&](std::uint8_t number) -> std::optional<std::string_view> {
    if (by_number[number] && by_number[number]->is_string()) return by_number[number]->text();
    return std::nullopt;
  };
  std::optional<double> scale;
  if (const auto s = byte_of(6); s && *s != 1 && *s != 0) scale = *s;  // 0 would divide by zero
  std::optional<double> offset;
  if (const auto o = byte_of(7)) {
    offset = *o;
  } else if (by_number[7] && by_number[7]->is_scalar() &&
             by_number[7]->type() == base_type::kSint8) {
    offset = static_cast<double>(by_number[7]->signed_value());  // the profile's own type
  }
  if (offset == 0.0) offset.reset();
  registry.register_field(byte_of(0).value_or(0), byte_of(1).value_or(0),
                          text_of(3).value_or("unknown"), byte_of(2).value_or(0xFF), scale, offset,
                          text_of(8));
}

void TypedDecoder::State::expand(const RawField& raw,
                                 std::span<const profile::Component> components,
                                 std::uint16_t global_number, std::vector<Field>& fields,
                                 std::size_t& count) {
  if (components.size() == 1 && components[0].bits <= 64 && raw.value.is_integer_scalar()) {
    // One component of an integer (a speed's enhanced_speed): the low bits of the value.
    const unsigned bits = components[0].bits;
    std::uint64_t value = raw.value.scalar_bits();
    if (bits < 64) value &= (std::uint64_t{1} << bits) - 1;
    return expand_one(components[0], value, global_number, fields, count);
  }
  std::uint8_t scalar_bytes[8];
  std::span<const std::uint8_t> bytes;
  if (raw.value.is_integer_scalar()) {
    bytes = std::span(scalar_bytes, transforms::scalar_component_bytes(
                                        components, raw.value.scalar_bits(), scalar_bytes));
  } else if (raw.value.is_bytes() || raw.value.is_array()) {
    bytes = raw.value.data();
  } else {
    return;
  }
  transforms::BitCursor cursor(bytes);
  for (const profile::Component& component : components) {
    std::uint64_t value;
    if (!cursor.take(component.bits, value)) break;
    expand_one(component, value, global_number, fields, count);
  }
}

void TypedDecoder::State::expand_one(const profile::Component& component, std::uint64_t value,
                                     std::uint16_t global_number, std::vector<Field>& fields,
                                     std::size_t& count) {
  if (component.accumulate) {
    value = accumulator.accumulate(global_number, component.target, value, component.bits,
                                   component.scale);
  }
  Field& field = next_field(fields, count);
  set_profile_field(field, component.target, component.units, 0);
  transforms::transform_unsigned(value, target_type(global_number, component), component.scale,
                                 component.offset, flags, field.value);
}

void TypedDecoder::State::decode(const RawMessage& raw, Message& message) {
  DefinitionPlan& plan = plan_for(raw);
  message.name = plan.message ? plan.message->name : "unknown";
  message.global_number = raw.global_number;
  std::vector<Field>& fields = message.fields;
  fields.reserve(plan.field_count);  // one allocation for a new message, none for a reused one
  std::size_t count = 0;

  for (std::size_t i = 0; i < raw.fields.size(); ++i) {
    const RawField& raw_field = raw.fields[i];
    FieldPlan& field_plan = plan.fields[i];
    if (field_plan.info == nullptr) {
      Field& field = next_field(fields, count);
      set_profile_field(field, "unknown", {}, raw_field.number);
      transforms::raw_to_value_passthrough(raw_field.value, field.value);
      continue;
    }
    const profile::FieldInfo& info = *field_plan.info;
    if (field_plan.subfields && flags.subfields) {
      // Every field with one number selects alike: the references read the first of each.
      if (field_plan.first_same == i) {
        const profile::Subfield* chosen =
            transforms::select_subfield(info, *plan.message, raw.fields, plan.index);
        if (chosen != plan.selected[i]) {
          plan.selected[i] = chosen;
          plan.layout = ++layouts;
        }
      }
      if (const profile::Subfield* subfield = plan.selected[field_plan.first_same]) {
        emit(raw, raw_field, *subfield, subfield_type(*subfield), field_plan, false, plan, fields,
             count);
        continue;
      }
    }
    emit(raw, raw_field, info, field_plan.type, field_plan, true, plan, fields, count);
  }

  static const TypeClass kPlain{};
  for (const RawDevField& raw_field : raw.developer_fields) {
    Field& field = next_field(fields, count);
    field.developer = true;
    field.number = raw_field.number;
    field.developer_data_index = raw_field.developer_data_index;
    const auto* entry = registry.find(raw_field.developer_data_index, raw_field.number);
    if (entry == nullptr) {
      field.name = "developer_field";
      field.units = {};
      field.has_units = false;
      if (field.owner) field.owner.reset();
      field.value = std::vector<std::uint8_t>(raw_field.bytes.begin(), raw_field.bytes.end());
      continue;
    }
    const DevFieldInfo& info = **entry;
    field.name = info.name;
    field.has_units = info.units.has_value();
    field.units = field.has_units ? std::string_view(*info.units) : std::string_view();
    field.owner = *entry;
    if (decode_value(scratch, info.base_type, raw_field.bytes, raw.big_endian, raw_field.number)) {
      transforms::transform_value(scratch, kPlain, info.scale, info.offset, flags, field.value);
    } else {
      field.value = std::vector<std::uint8_t>(raw_field.bytes.begin(), raw_field.bytes.end());
    }
  }
  fields.erase(fields.begin() + static_cast<std::ptrdiff_t>(count), fields.end());
  // Developer fields are named by descriptions that may change at any message.
  message.layout = raw.developer_fields.empty() ? plan.layout : 0;
}

DecoderBuilder::DecoderBuilder(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

DecoderBuilder& DecoderBuilder::apply_scale_and_offset(bool on) {
  scale_and_offset_ = on;
  return *this;
}
DecoderBuilder& DecoderBuilder::expand_components(bool on) {
  components_ = on;
  return *this;
}
DecoderBuilder& DecoderBuilder::select_subfields(bool on) {
  subfields_ = on;
  return *this;
}
DecoderBuilder& DecoderBuilder::name_enumeration_values(bool on) {
  enum_names_ = on;
  return *this;
}
DecoderBuilder& DecoderBuilder::convert_date_times(bool on) {
  date_times_ = on;
  return *this;
}
DecoderBuilder& DecoderBuilder::read_cut_files(bool on) {
  cut_files_ = on;
  return *this;
}
DecoderBuilder& DecoderBuilder::observer(std::function<void(const Message&)> observer) {
  observer_ = std::move(observer);
  return *this;
}

TypedDecoder DecoderBuilder::build() const {
  return TypedDecoder(std::make_unique<TypedDecoder::State>(*this));
}

TypedDecoder::TypedDecoder(std::unique_ptr<State> state) : state_(std::move(state)) {}
TypedDecoder::TypedDecoder(TypedDecoder&&) noexcept = default;
TypedDecoder& TypedDecoder::operator=(TypedDecoder&&) noexcept = default;
TypedDecoder::~TypedDecoder() = default;

std::expected<bool, FitError> TypedDecoder::next(Message& message) {
  State& state = *state_;
  const auto more = next(state.record);
  if (!more || !*more) return more;
  if (auto ok = decode(state.record, message); !ok) return std::unexpected(ok.error());
  return true;
}

std::expected<bool, FitError> TypedDecoder::next(RawRecord& record) {
  State& state = *state_;
  if (state.failed) return false;
  const auto more = state.decoder.next(record);
  if (!more || !*more) return more;
  if (record.new_file && !state.accumulator.empty()) state.accumulator.clear();
  if (record.definition->global_number == kFieldDescription) {
    if (auto ok = Decoder::decode(record, state.raw); !ok) {
      state.failed = true;
      return std::unexpected(ok.error());
    }
    state.register_developer_field(state.raw);
  }
  return true;
}

std::expected<void, FitError> TypedDecoder::decode(const RawRecord& record, Message& message) {
  State& state = *state_;
  if (auto ok = Decoder::decode(record, state.raw); !ok) {
    state.failed = true;
    return ok;
  }
  state.decode(state.raw, message);
  if (state.observer) state.observer(message);
  return {};
}

std::uint64_t TypedDecoder::accumulate(std::uint16_t message, std::string_view target,
                                       std::uint64_t value, std::uint8_t bits,
                                       std::optional<double> scale) {
  return state_->accumulator.accumulate(message, target, value, bits, scale);
}

void TypedDecoder::seed(std::uint16_t message, std::string_view field, std::uint64_t total,
                        std::optional<double> scale) {
  state_->accumulator.seed(message, field, total, scale);
}

std::size_t TypedDecoder::record_offset() const {
  return state_->decoder.record_offset();
}

std::expected<std::optional<Message>, FitError> TypedDecoder::next() {
  Message message;
  const auto more = next(message);
  if (!more) return std::unexpected(more.error());
  if (!*more) return std::nullopt;
  return message;
}

}  // namespace fit
