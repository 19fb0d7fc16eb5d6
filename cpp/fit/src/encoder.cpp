#include "fit/encoder.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "fit/base_type.hpp"
#include "fit/dev_fields.hpp"
#include "fit/file_header.hpp"
#include "fit/profile.hpp"

namespace fit {
namespace {

using Int128 = __int128;
namespace bt = base_type;

constexpr std::uint16_t kFieldDescription = 206;
constexpr std::size_t kLocalTypes = 16;
constexpr std::size_t kWireLimit = 255;  // sizes and counts travel in one byte

// What writing a value needs beyond its base type: the profile type that names enumeration
// values, and the scale and offset that turn floats into stored integers.
struct Conversion {
  const profile::TypeInfo* type = nullptr;
  std::optional<double> scale;
  std::optional<double> offset;
};

void append_le(OutputStream& out, std::uint64_t bits, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i) out.append_u8(static_cast<std::uint8_t>(bits >> (8 * i)));
}

// An element stored as a record writer stores it; an invalid marker fills the whole field.
std::optional<Loss> encode_checked(OutputStream& out, Int128 value, std::uint8_t code,
                                   std::size_t size) {
  std::uint8_t element[8];
  const auto loss = store_integer(element, value, code);
  if (loss) {
    write_invalid(out, code, size);
  } else {
    out.append_bytes(std::span(element, bt::kElementSize[code]));
  }
  return loss;
}

std::optional<Loss> encode_float(OutputStream& out, double value, std::uint8_t code,
                                 std::size_t size, const Conversion& conversion) {
  std::uint8_t element[8];
  const auto loss = store_number(element, value, code, conversion.scale || conversion.offset,
                                 conversion.scale.value_or(1.0), conversion.offset.value_or(0.0));
  if (loss) {
    write_invalid(out, code, size);
  } else {
    out.append_bytes(std::span(element, bt::kElementSize[code]));
  }
  return loss;
}

// encode_value switches on the index of these alternatives.
static_assert(std::is_same_v<std::variant_alternative_t<0, ValueVariant>, Invalid> &&
              std::is_same_v<std::variant_alternative_t<3, ValueVariant>, double> &&
              std::is_same_v<std::variant_alternative_t<6, ValueVariant>, bool> &&
              std::is_same_v<std::variant_alternative_t<9, ValueVariant>, ValueArray>);

// Writes `value` and says why, when it was written as the invalid marker instead (an Invalid
// value is no loss).
std::optional<Loss> encode_value(OutputStream& out, const Value& value, std::uint8_t code,
                                 std::size_t size, const Conversion& conversion) {
  const std::size_t width = bt::kElementSize[code];
  size = std::max(size, width);
  const std::size_t start = out.size();
  std::optional<Loss> loss;
  switch (value.index()) {
    case 0:
      write_invalid(out, code, size);
      break;
    case 1:
      loss = encode_checked(out, std::get<std::int64_t>(value), code, size);
      break;
    case 2:
      loss = encode_checked(out, std::get<std::uint64_t>(value), code, size);
      break;
    case 3:
      loss = encode_float(out, std::get<double>(value), code, size, conversion);
      break;
    case 4: {
      const std::string& text = std::get<std::string>(value);
      if (code != bt::kString || text.size() >= size) {
        write_invalid(out, code, size);
        loss = Loss::OutOfRange;
      } else {
        out.append_bytes(
            std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
      }
      break;
    }
    case 5: {
      const auto& bytes = std::get<std::vector<std::uint8_t>>(value);
      if (code != bt::kByte || bytes.size() > size) {
        write_invalid(out, code, size);
        loss = Loss::OutOfRange;
      } else {
        out.append_bytes(bytes);
      }
      break;
    }
    case 6:
      loss = encode_checked(out, std::get<bool>(value) ? 1 : 0, code, size);
      break;
    case 7: {
      const auto number = conversion.type
                              ? conversion.type->value_of(std::get<EnumName>(value).view())
                              : std::nullopt;
      if (number) {
        loss = encode_checked(out, *number, code, size);
      } else {
        write_invalid(out, code, size);
        loss = Loss::UnknownName;
      }
      break;
    }
    case 8: {
      const std::int64_t seconds = std::get<Timestamp>(value).unix_seconds - kFitEpochUnixSeconds;
      if (seconds < 0 || seconds > 0xFFFFFFFF) {
        write_invalid(out, code, size);
        loss = Loss::OutOfRange;
      } else {
        loss = encode_checked(out, seconds, code, size);
      }
      break;
    }
    case 9: {
      const ValueArray& elements = std::get<ValueArray>(value);
      const std::size_t count = std::min(elements.size(), size / width);
      for (std::size_t i = 0; i < count; ++i) {
        const auto lost = encode_value(out, elements[i], code, width, conversion);
        if (!loss) loss = lost;
      }
      break;
    }
  }
  // Whatever a value left unused (a text's terminator and padding, the rest of a fixed-count
  // field) holds invalid markers, so that every field is exactly as long as its definition says.
  const std::uint64_t invalid = bt::kInvalid[code];
  for (std::size_t i = out.size() - start; i < size; ++i) {
    out.append_u8(static_cast<std::uint8_t>(invalid >> (8 * (i % width))));
  }
  out.truncate(start + size);
  return loss;
}

// How one field of a message is written, worked out from the profile once for each distinct
// list of (name, number) that a message number comes with.
struct FieldPlan {
  std::string_view name;  // with number, developer flag and index: what the plan was made for
  std::uint8_t number = 0;
  std::uint8_t developer_data_index = 0;
  bool developer = false;
  bool written = false;
  std::uint8_t code = 0;
  std::uint8_t fixed_count = 0;  // from the profile's array column, 0 when not fixed
  Conversion conversion;
};

bool plans_fit(const std::vector<FieldPlan>& plans, const std::vector<Field>& fields) {
  if (plans.size() != fields.size()) return false;
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const FieldPlan& plan = plans[i];
    const Field& field = fields[i];
    if (plan.number != field.number || plan.developer != field.developer) return false;
    if (field.developer ? plan.developer_data_index != field.developer_data_index
                        : plan.name != field.name) {
      return false;
    }
  }
  return true;
}

// "[3]" gives 3; "[N]" and no marker give 0.
std::uint8_t fixed_count(std::string_view array, std::uint8_t code) {
  if (array.size() < 3 || array.front() != '[' || array.back() != ']') return 0;
  unsigned count = 0;
  for (const char c : array.substr(1, array.size() - 2)) {
    if (c < '0' || c > '9') return 0;
    count = count * 10 + static_cast<unsigned>(c - '0');
    if (count * bt::kElementSize[code] > kWireLimit) return 0;
  }
  return static_cast<std::uint8_t>(count);
}

FieldPlan plan_field(const profile::MessageInfo* message, const Field& field,
                     const DevFieldRegistry& registry) {
  FieldPlan plan;
  plan.name = field.name;
  plan.number = field.number;
  plan.developer = field.developer;
  plan.developer_data_index = field.developer_data_index;
  if (field.developer) {
    if (const auto* entry = registry.find(field.developer_data_index, field.number)) {
      const DevFieldInfo& info = **entry;
      plan.written = true;
      plan.code = info.base_type;
      plan.conversion = {nullptr, info.scale, info.offset};
    }
    return plan;
  }
  const profile::FieldInfo* info = message ? message->field(field.number) : nullptr;
  if (info == nullptr) return plan;
  std::string_view type_name;
  Conversion conversion;
  if (info->name == field.name) {
    type_name = info->type_name;
    conversion = {nullptr, info->scale, info->offset};
  } else {
    const auto subfield =
        std::find_if(info->subfields.begin(), info->subfields.end(),
                     [&](const profile::Subfield& s) { return s.name == field.name; });
    if (subfield == info->subfields.end()) return plan;
    // The wire keeps the field's own base type; the subfield says how to read the value.
    type_name = subfield->type_name;
    conversion = {nullptr, subfield->scale, subfield->offset};
  }
  const std::uint8_t code = profile::base_type_for_type_name(info->type_name);
  if (!bt::is_valid_code(code)) return plan;
  conversion.type = profile::type_info(type_name.empty() ? "enum" : type_name);
  plan.written = true;
  plan.code = code;
  plan.fixed_count = fixed_count(info->array, code);
  plan.conversion = conversion;
  return plan;
}

std::expected<std::uint8_t, FitError> field_size(const Value& value, std::uint8_t code,
                                                 std::uint8_t fixed) {
  const std::size_t width = bt::kElementSize[code];
  if (code == bt::kString) {
    if (const auto* text = value.get<std::string>()) {
      if (text->size() >= kWireLimit) {
        return std::unexpected(FieldTooLarge{FieldTooLargeKind::String, text->size()});
      }
      return static_cast<std::uint8_t>(text->size() + 1);
    }
  }
  if (code == bt::kByte) {
    if (const auto* bytes = value.get<std::vector<std::uint8_t>>()) {
      if (bytes->size() > kWireLimit) {
        return std::unexpected(FieldTooLarge{FieldTooLargeKind::ByteArray, bytes->size()});
      }
      return static_cast<std::uint8_t>(std::max<std::size_t>(bytes->size(), 1));
    }
  }
  if (const auto* array = value.get<ValueArray>()) {
    // An empty array still takes one element: readers reject fields of size 0.
    const std::size_t size = std::max<std::size_t>(array->size(), 1) * width;
    if (size > kWireLimit) return std::unexpected(FieldTooLarge{FieldTooLargeKind::Array, size});
    return static_cast<std::uint8_t>(size);
  }
  return static_cast<std::uint8_t>(fixed != 0 ? fixed * width : width);
}

struct WireField {
  std::uint8_t number;
  std::uint8_t size;
  std::uint8_t code;
  bool operator==(const WireField&) const = default;
};

struct WireDevField {
  std::uint8_t number;
  std::uint8_t size;
  std::uint8_t developer_data_index;
  std::uint8_t code;
  bool operator==(const WireDevField&) const = default;
};

// The layout of one data record: what a definition message says.
struct WireDef {
  std::uint16_t global_number = 0;
  std::vector<WireField> fields;
  std::vector<WireDevField> developer_fields;
  bool operator==(const WireDef&) const = default;
};

struct Slot {
  bool used = false;
  std::uint64_t last_use = 0;
  WireDef def;
  int layout = -1;               // the caller's layout `def` was last written for, if any
  std::vector<FieldPlan> plans;  // for the fields of the message `def` was last built from
};

std::optional<std::uint8_t> low_byte(const Value& value) {
  if (const auto* u = value.get<std::uint64_t>()) return static_cast<std::uint8_t>(*u);
  if (const auto* i = value.get<std::int64_t>()) return static_cast<std::uint8_t>(*i);
  return std::nullopt;
}

std::optional<double> number_of(const Value& value) {
  if (const auto* d = value.get<double>()) return *d;
  if (const auto* u = value.get<std::uint64_t>()) return static_cast<double>(*u);
  if (const auto* i = value.get<std::int64_t>()) return static_cast<double>(*i);
  return std::nullopt;
}

class SegmentWriter {
 public:
  SegmentWriter(OutputStream& out, std::vector<LostValue>* lost) : out_(out), lost_(lost) {}

  // Developer field descriptions apply to the whole file, wherever their message stands.
  void register_developer_fields(std::span<const Message> messages);
  std::expected<void, FitError> write(const Message& message);
  std::size_t define_layout(std::uint16_t global_number, std::span<const LayoutField> fields);
  std::uint8_t* write_record(std::size_t layout);
  std::size_t data_size(std::size_t layout) const { return layouts_[layout].data_size; }

 private:
  struct Layout {
    WireDef def;
    std::size_t data_size = 0;
    std::size_t slot = 0;  // where it was written last; a guess until checked
  };

  int find_slot(std::uint16_t global_number) const;
  std::size_t free_or_oldest_slot() const;
  std::expected<void, FitError> build_def(const Message& message,
                                          const std::vector<FieldPlan>& plans, WireDef& def) const;
  void write_definition(std::size_t slot, const WireDef& def);
  void write_data(std::size_t slot, const Message& message);

  OutputStream& out_;
  std::vector<LostValue>* lost_;
  std::size_t message_index_ = 0;
  DevFieldRegistry registry_;
  std::array<Slot, kLocalTypes> slots_;
  std::vector<FieldPlan> scratch_plans_;
  WireDef scratch_def_;
  std::vector<Layout> layouts_;
  std::uint64_t clock_ = 0;
};

void SegmentWriter::register_developer_fields(std::span<const Message> messages) {
  for (const Message& message : messages) {
    if (message.global_number != kFieldDescription) continue;
    std::optional<std::uint8_t> index, number, base_type;
    std::string_view name = "unknown";
    std::optional<std::string_view> units;
    std::optional<double> scale, offset;
    for (const Field& field : message.fields) {
      if (field.developer) continue;
      const Value& value = field.value;
      if (field.name == "developer_data_index") {
        index = low_byte(value);
      } else if (field.name == "field_definition_number") {
        number = low_byte(value);
      } else if (field.name == "fit_base_type_id") {
        if (const auto* enum_name = value.get<EnumName>()) {
          if (const auto v = profile::enum_value_by_str("fit_base_type", enum_name->view())) {
            base_type = static_cast<std::uint8_t>(*v);
          }
        } else {
          base_type = low_byte(value);
        }
      } else if (field.name == "field_name") {
        if (const auto* text = value.get<std::string>()) name = *text;
      } else if (field.name == "units") {
        if (const auto* text = value.get<std::string>()) units = *text;
      } else if (field.name == "scale") {
        scale = number_of(value);
      } else if (field.name == "offset") {
        offset = number_of(value);
      }
    }
    // As readers take them: a scale of 0 or 1 and an offset of 0 change nothing.
    if (scale == 0.0 || scale == 1.0) scale.reset();
    if (offset == 0.0) offset.reset();
    if (index && number && base_type) {
      registry_.register_field(*index, *number, name, *base_type, scale, offset, units);
    }
  }
}

int SegmentWriter::find_slot(std::uint16_t global_number) const {
  for (std::size_t i = 0; i < kLocalTypes; ++i) {
    if (slots_[i].used && slots_[i].def.global_number == global_number) return static_cast<int>(i);
  }
  return -1;
}

std::size_t SegmentWriter::free_or_oldest_slot() const {
  std::size_t oldest = 0;
  for (std::size_t i = 0; i < kLocalTypes; ++i) {
    if (!slots_[i].used) return i;
    if (slots_[i].last_use < slots_[oldest].last_use) oldest = i;
  }
  return oldest;
}

std::expected<void, FitError> SegmentWriter::build_def(const Message& message,
                                                       const std::vector<FieldPlan>& plans,
                                                       WireDef& def) const {
  def.global_number = message.global_number;
  def.fields.clear();
  def.developer_fields.clear();
  for (std::size_t i = 0; i < plans.size(); ++i) {
    const FieldPlan& plan = plans[i];
    if (!plan.written) continue;
    const auto size = field_size(message.fields[i].value, plan.code, plan.fixed_count);
    if (!size) return std::unexpected(size.error());
    if (plan.developer) {
      def.developer_fields.push_back({plan.number, *size, plan.developer_data_index, plan.code});
    } else {
      def.fields.push_back({plan.number, *size, plan.code});
    }
  }
  if (def.fields.size() > kWireLimit) {
    return std::unexpected(FieldTooLarge{FieldTooLargeKind::FieldList, def.fields.size()});
  }
  if (def.developer_fields.size() > kWireLimit) {
    return std::unexpected(
        FieldTooLarge{FieldTooLargeKind::DevFieldList, def.developer_fields.size()});
  }
  return {};
}

std::expected<void, FitError> SegmentWriter::write(const Message& message) {
  ++clock_;
  const int found = find_slot(message.global_number);
  const bool replan = found < 0 || !plans_fit(slots_[found].plans, message.fields);
  if (replan) {
    const profile::MessageInfo* info = profile::mesg_info_by_num(message.global_number);
    scratch_plans_.resize(message.fields.size());
    for (std::size_t i = 0; i < message.fields.size(); ++i) {
      scratch_plans_[i] = plan_field(info, message.fields[i], registry_);
    }
  }
  const auto built =
      build_def(message, replan ? scratch_plans_ : slots_[found].plans, scratch_def_);
  if (!built) return std::unexpected(built.error());

  std::size_t slot;
  if (found >= 0 && slots_[found].def == scratch_def_) {
    slot = static_cast<std::size_t>(found);
  } else {
    // A message number keeps its slot when its layout changes; a new one takes a free slot or
    // the least recently used one, whose message number then needs a new definition.
    slot = found >= 0 ? static_cast<std::size_t>(found) : free_or_oldest_slot();
    std::swap(slots_[slot].def, scratch_def_);
    slots_[slot].used = true;
    slots_[slot].layout = -1;
    write_definition(slot, slots_[slot].def);
  }
  if (replan) std::swap(slots_[slot].plans, scratch_plans_);
  slots_[slot].last_use = clock_;
  write_data(slot, message);
  ++message_index_;
  return {};
}

std::size_t SegmentWriter::define_layout(std::uint16_t global_number,
                                         std::span<const LayoutField> fields) {
  Layout& layout = layouts_.emplace_back();
  layout.def.global_number = global_number;
  for (const LayoutField& field : fields) {
    layout.def.fields.push_back({field.number, field.size, field.code});
    layout.data_size += field.size;
  }
  return layouts_.size() - 1;
}

// Slots are chosen as write() chooses them, so that records written either way make the same
// bytes; the layout's last slot is tried first.
std::uint8_t* SegmentWriter::write_record(std::size_t id) {
  ++clock_;
  Layout& layout = layouts_[id];
  std::size_t slot = layout.slot;
  if (!slots_[slot].used || slots_[slot].layout != static_cast<int>(id)) {
    const int found = find_slot(layout.def.global_number);
    if (found >= 0 && slots_[found].def == layout.def) {
      slot = static_cast<std::size_t>(found);
    } else {
      slot = found >= 0 ? static_cast<std::size_t>(found) : free_or_oldest_slot();
      slots_[slot].def = layout.def;
      slots_[slot].used = true;
      // Messages of this number are planned afresh.
      slots_[slot].plans.clear();
      write_definition(slot, layout.def);
    }
    slots_[slot].layout = static_cast<int>(id);
    layout.slot = slot;
  }
  slots_[slot].last_use = clock_;
  std::uint8_t* header = out_.extend(1 + layout.data_size);
  *header = static_cast<std::uint8_t>(slot);
  return header + 1;
}

void SegmentWriter::write_definition(std::size_t slot, const WireDef& def) {
  const bool developer = !def.developer_fields.empty();
  out_.append_u8(static_cast<std::uint8_t>(0x40 | (developer ? 0x20 : 0) | slot));
  out_.append_u8(0);  // reserved
  out_.append_u8(0);  // little-endian
  out_.append_u16_le(def.global_number);
  out_.append_u8(static_cast<std::uint8_t>(def.fields.size()));
  for (const WireField& field : def.fields) {
    out_.append_u8(field.number);
    out_.append_u8(field.size);
    out_.append_u8(bt::wire_byte(field.code));
  }
  if (!developer) return;
  out_.append_u8(static_cast<std::uint8_t>(def.developer_fields.size()));
  for (const WireDevField& field : def.developer_fields) {
    out_.append_u8(field.number);
    out_.append_u8(field.size);
    out_.append_u8(field.developer_data_index);
  }
}

void SegmentWriter::write_data(std::size_t slot, const Message& message) {
  const Slot& s = slots_[slot];
  out_.append_u8(static_cast<std::uint8_t>(slot));
  // Developer fields come after all others on the wire, wherever the message lists them.
  for (const bool developer : {false, true}) {
    std::size_t next = 0;
    for (std::size_t i = 0; i < s.plans.size(); ++i) {
      const FieldPlan& plan = s.plans[i];
      if (!plan.written || plan.developer != developer) continue;
      const std::uint8_t size =
          developer ? s.def.developer_fields[next++].size : s.def.fields[next++].size;
      const auto loss =
          encode_value(out_, message.fields[i].value, plan.code, size, plan.conversion);
      if (loss && lost_) lost_->push_back({message_index_, i, *loss});
    }
  }
}

}  // namespace

void encode_int(OutputStream& out, Int128 value, std::uint8_t code) {
  if (code == bt::kFloat32) {
    const float f = static_cast<float>(value);
    std::uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    append_le(out, bits, 4);
  } else if (code == bt::kFloat64) {
    const double d = static_cast<double>(value);
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    append_le(out, bits, 8);
  } else {
    append_le(out, static_cast<std::uint64_t>(value), bt::kElementSize[code]);
  }
}

void write_invalid(OutputStream& out, std::uint8_t code, std::size_t size) {
  const std::size_t width = bt::kElementSize[code];
  const std::size_t count = std::max<std::size_t>(size / width, 1);
  for (std::size_t i = 0; i < count; ++i) append_le(out, bt::kInvalid[code], width);
}

void encode_value_inner(OutputStream& out, const Value& value, std::uint8_t code, std::size_t size,
                        std::string_view type_name, std::optional<double> scale,
                        std::optional<double> offset) {
  const Conversion conversion{profile::type_info(type_name.empty() ? "enum" : type_name), scale,
                              offset};
  encode_value(out, value, code, size, conversion);
}

struct FileEncoder::State {
  State(OutputStream& out, std::vector<LostValue>* lost) : out(out), writer(out, lost) {}
  OutputStream& out;
  SegmentWriter writer;
  std::size_t start = 0;
};

FileEncoder::FileEncoder(OutputStream& out, std::uint8_t protocol_version,
                         std::uint16_t profile_version, std::vector<LostValue>* lost)
    : state_(std::make_unique<State>(out, lost)), out_(out) {
  state_->start = begin_file(out, protocol_version, profile_version);
}

FileEncoder::~FileEncoder() = default;

void FileEncoder::register_developer_fields(std::span<const Message> messages) {
  state_->writer.register_developer_fields(messages);
}

std::expected<void, FitError> FileEncoder::write(const Message& message) {
  last_layout_ = kNone;
  const std::size_t before = state_->out.size();
  auto written = state_->writer.write(message);
  if (!written) state_->out.truncate(before);
  return written;
}

std::size_t FileEncoder::define_layout(std::uint16_t global_number,
                                       std::span<const LayoutField> fields) {
  return state_->writer.define_layout(global_number, fields);
}

std::uint8_t* FileEncoder::write_first_record(std::size_t layout) {
  std::uint8_t* data = state_->writer.write_record(layout);
  last_layout_ = layout;
  last_header_ = data[-1];
  last_size_ = state_->writer.data_size(layout);
  return data;
}

std::expected<void, FitError> FileEncoder::finish() {
  last_layout_ = kNone;
  if (auto finished = finish_file(state_->out, state_->start); !finished) {
    state_->out.truncate(state_->start);
    return std::unexpected(finished.error());
  }
  return {};
}

std::expected<void, FitError> Encoder::write_segment(OutputStream& out,
                                                     std::span<const Message> messages,
                                                     std::vector<LostValue>* lost) const {
  const std::size_t start = out.size();
  const std::size_t lost_before = lost ? lost->size() : 0;
  const auto failed = [&](FitError error) {
    out.truncate(start);
    if (lost) lost->resize(lost_before);
    return std::unexpected(error);
  };
  FileEncoder encoder(out, protocol_version_, profile_version_, lost);
  encoder.register_developer_fields(messages);
  for (const Message& message : messages) {
    if (auto written = encoder.write(message); !written) return failed(written.error());
  }
  if (auto finished = encoder.finish(); !finished) return failed(finished.error());
  return {};
}

std::expected<std::vector<std::uint8_t>, FitError> Encoder::encode(
    std::span<const Message> messages, std::vector<LostValue>* lost) const {
  OutputStream out(14 + 32 * messages.size());
  if (auto written = write_segment(out, messages, lost); !written) {
    return std::unexpected(written.error());
  }
  return out.take();
}

}  // namespace fit
