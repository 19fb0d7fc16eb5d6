// Every message of a FIT file as tables, or one message at a time.
#include <algorithm>
#include <charconv>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "fit/decoder.hpp"
#include "fit/framing.hpp"
#include "fit/profile.hpp"
#include "fit/typed_decoder.hpp"
#include "fit_tables/columns.hpp"
#include "source.hpp"
#include "tramlix/fit_messages.hpp"
#include "tramlix/format.hpp"

namespace tramlix::fit_messages {
namespace {

using fit_tables::Column;
using fit_tables::ColumnShape;
using fit_tables::Kind;
using fit_tables::Namer;

constexpr Format kFormat = Format::Fit;

std::string message_name(std::uint16_t number, const fit::profile::MessageInfo* info) {
  return info ? std::string(info->name) : "unknown_" + std::to_string(number);
}

// The bytes of a FIT file ready to decode: intact, as load() requires.
std::expected<void, Error> check(std::span<const std::uint8_t> bytes) {
  if (auto intact = fit::check_integrity(bytes); !intact) {
    return std::unexpected(Error::invalid_data(kFormat.label(), intact.error().display()));
  }
  return {};
}

fit::TypedDecoder decoder_for(std::span<const std::uint8_t> bytes) {
  // The transforms load() applies, every one of them.
  return fit::DecoderBuilder(bytes)
      .apply_scale_and_offset(true)
      .expand_components(true)
      .select_subfields(true)
      .name_enumeration_values(true)
      .convert_date_times(true)
      .build();
}

Error decode_error(const fit::FitError& error, std::size_t offset) {
  return Error::invalid_data(kFormat.label(), error.display()).at(ByteOffset{offset});
}

// One message type: its namer and, when its table is wanted, its columns.
struct MessageType {
  MessageType(std::uint16_t number, bool wanted)
      : number(number),
        info(fit::profile::mesg_info_by_num(number)),
        name(message_name(number, info)),
        namer(info),
        wanted(wanted) {}

  void add(const fit::Message& message) {
    const std::span<const std::uint32_t> ids = namer.columns_of(message);
    while (columns.size() < namer.size()) {
      columns.emplace_back(namer.shape(columns.size()));
      // The columns of the first message most likely hold a value in every row.
      if (rows == 0) columns.back().reserve(expected_rows);
    }
    Column* column = columns.data();
    for (std::size_t i = 0; i < ids.size(); ++i) column[ids[i]].add(rows, message.fields[i]);
    ++rows;
  }

  arrow::Table finish() {
    std::vector<std::uint32_t> order(columns.size());
    for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
    std::ranges::stable_sort(order, {}, [&](std::uint32_t id) { return namer.shape(id).order; });
    arrow::Schema schema;
    arrow::RecordBatch batch;
    batch.num_rows = rows;
    for (const std::uint32_t id : order) {
      auto column = columns[id].finish(rows);
      const ColumnShape& shape = namer.shape(id);
      arrow::Field field{shape.name, column->type, true, {}};
      if (!shape.unit.empty()) field.metadata.emplace_back("unit", shape.unit);
      schema.fields.push_back(std::move(field));
      batch.columns.push_back(std::move(column));
    }
    std::vector<arrow::RecordBatch> batches;
    batches.push_back(std::move(batch));
    return arrow::Table(std::move(schema), std::move(batches));
  }

  std::uint16_t number;
  const fit::profile::MessageInfo* info;
  std::string name;
  Namer namer;
  bool wanted;
  std::vector<Column> columns;  // by column id; they point at the namer's shapes
  std::uint32_t rows = 0;
  std::uint32_t expected_rows = 0;  // messages of the type in the file
};

// How many data messages of each global number the file holds, counted from their headers:
// the tables reserve their rows at once instead of growing. A file that does not decode to its
// end gives what it holds up to there.
std::unordered_map<std::uint16_t, std::uint32_t> count_messages(
    std::span<const std::uint8_t> bytes) {
  std::unordered_map<std::uint16_t, std::uint32_t> counts;
  fit::Decoder decoder(bytes);
  fit::RawRecord record;
  std::uint16_t last = 0;
  std::uint32_t* count = nullptr;
  while (true) {
    const auto more = decoder.next(record);
    if (!more || !*more) break;
    const std::uint16_t number = record.definition->global_number;
    if (count == nullptr || number != last) {
      count = &counts[number];  // references into an unordered_map stay valid
      last = number;
    }
    ++*count;
  }
  return counts;
}

std::expected<std::vector<NamedTable>, Error> build(std::span<const std::uint8_t> data,
                                                    std::span<const std::string> names) {
  auto source = source_bytes(data);
  if (!source) return std::unexpected(std::move(source.error()));
  const std::span<const std::uint8_t> bytes = source->bytes;
  if (auto ok = check(bytes); !ok) return std::unexpected(std::move(ok.error()));

  std::vector<std::unique_ptr<MessageType>> types;  // in order of first appearance
  std::unordered_map<std::uint16_t, MessageType*> by_number;
  const auto counts = count_messages(bytes);
  MessageType* last = nullptr;
  auto decoder = decoder_for(bytes);
  fit::Message message;
  for (;;) {
    auto more = decoder.next(message);
    if (!more) return std::unexpected(decode_error(more.error(), decoder.record_offset()));
    if (!*more) break;
    if (last == nullptr || message.global_number != last->number) {
      auto& found = by_number[message.global_number];
      if (found == nullptr) {
        const auto* info = fit::profile::mesg_info_by_num(message.global_number);
        const std::string name = message_name(message.global_number, info);
        const bool wanted = names.empty() || std::ranges::find(names, name) != names.end();
        found =
            types.emplace_back(std::make_unique<MessageType>(message.global_number, wanted)).get();
        if (const auto count = counts.find(message.global_number); count != counts.end()) {
          found->expected_rows = count->second;
        }
      }
      last = found;
    }
    if (last->wanted) last->add(message);
  }
  std::vector<NamedTable> tables;
  for (const auto& type : types) {
    if (type->wanted) tables.push_back({type->name, type->finish()});
  }
  return tables;
}

// A decoded value as the message stream hands it over.
Value value_of(const fit::Value& value, Kind kind) {
  Value out;
  if (const auto* n = value.get<std::int64_t>()) {
    out.kind = Value::Kind::Int;
    out.integer = *n;
  } else if (const auto* u = value.get<std::uint64_t>()) {
    out.kind = Value::Kind::UInt;
    out.unsigned_integer = *u;
  } else if (const auto* b = value.get<bool>()) {
    out.kind = Value::Kind::UInt;
    out.unsigned_integer = *b;
  } else if (const auto* d = value.get<double>()) {
    out.kind = Value::Kind::Float;
    out.number = *d;
  } else if (const auto* s = value.get<std::string>()) {
    out.kind = Value::Kind::Text;
    out.text = *s;
  } else if (const auto* e = value.get<fit::EnumName>()) {
    out.kind = Value::Kind::Text;
    out.text = e->view();
  } else if (const auto* bytes = value.get<std::vector<std::uint8_t>>()) {
    out.kind = Value::Kind::Bytes;
    out.text.assign(bytes->begin(), bytes->end());
  } else if (const auto* t = value.get<fit::Timestamp>()) {
    out.kind = kind == Kind::LocalTime ? Value::Kind::LocalTime : Value::Kind::Time;
    out.integer = t->unix_seconds;
  } else if (const auto* array = value.get<fit::ValueArray>()) {
    out.kind = Value::Kind::List;
    out.items.reserve(array->size());
    for (const fit::Value& item : *array) out.items.push_back(value_of(item, kind));
  }
  return out;
}

}  // namespace

std::expected<std::vector<NamedTable>, Error> tables(std::span<const std::uint8_t> data,
                                                     std::span<const std::string> names) {
  return build(data, names);
}

std::expected<std::vector<NamedTable>, Error> tables_of_file(const std::string& path,
                                                             std::span<const std::string> names) {
  auto source = source_bytes_of_file(path);
  if (!source) return std::unexpected(std::move(source.error()));
  return build(source->bytes, names);
}

bool is_message_name(std::string_view name) {
  if (fit::profile::mesg_info_by_name(name) != nullptr) return true;
  constexpr std::string_view kUnknown = "unknown_";
  if (!name.starts_with(kUnknown)) return false;
  const std::string_view digits = name.substr(kUnknown.size());
  std::uint16_t number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  return !digits.empty() && error == std::errc() && end == digits.data() + digits.size() &&
         message_name(number, fit::profile::mesg_info_by_num(number)) == name;
}

struct Stream::State {
  explicit State(SourceBytes source)
      : owned(source.owner ? std::vector<std::uint8_t>()
                           : std::vector<std::uint8_t>(source.bytes.begin(), source.bytes.end())),
        owner(std::move(source.owner)),
        bytes(owner ? source.bytes : std::span<const std::uint8_t>(owned)),
        decoder(decoder_for(bytes)) {}

  std::vector<std::uint8_t> owned;
  std::shared_ptr<const void> owner;
  std::span<const std::uint8_t> bytes;
  fit::TypedDecoder decoder;
  fit::Message message;
  std::unordered_map<std::uint16_t, std::unique_ptr<MessageType>> types;
  std::vector<std::int32_t> slot_of;  // per column id: its entry in the message, or -1
};

namespace {

std::expected<Stream, Error> open_source(std::expected<SourceBytes, Error> source,
                                         const std::function<Stream(SourceBytes)>& make) {
  if (!source) return std::unexpected(std::move(source.error()));
  if (auto ok = check(source->bytes); !ok) return std::unexpected(std::move(ok.error()));
  return make(std::move(*source));
}

}  // namespace

Stream::Stream(std::unique_ptr<State> state) : state_(std::move(state)) {}
Stream::Stream(Stream&&) noexcept = default;
Stream& Stream::operator=(Stream&&) noexcept = default;
Stream::~Stream() = default;

std::expected<Stream, Error> Stream::open(std::span<const std::uint8_t> data) {
  return open_source(source_bytes(data), [](SourceBytes source) {
    return Stream(std::make_unique<State>(std::move(source)));
  });
}

std::expected<Stream, Error> Stream::open_file(const std::string& path) {
  return open_source(source_bytes_of_file(path), [](SourceBytes source) {
    return Stream(std::make_unique<State>(std::move(source)));
  });
}

std::expected<bool, Error> Stream::next(Message& out) {
  State& state = *state_;
  auto more = state.decoder.next(state.message);
  if (!more) return std::unexpected(decode_error(more.error(), state.decoder.record_offset()));
  if (!*more) return false;
  const fit::Message& message = state.message;
  auto& type = state.types[message.global_number];
  if (!type) type = std::make_unique<MessageType>(message.global_number, false);
  const std::span<const std::uint32_t> ids = type->namer.columns_of(message);
  out.name = type->name;
  out.fields.clear();
  state.slot_of.assign(type->namer.size(), -1);
  for (std::size_t i = 0; i < ids.size(); ++i) {
    const fit::Field& field = message.fields[i];
    const ColumnShape& shape = type->namer.shape(ids[i]);
    Value value = value_of(field.value, shape.kind);
    std::int32_t& slot = state.slot_of[ids[i]];
    if (slot < 0) {
      slot = static_cast<std::int32_t>(out.fields.size());
      out.fields.push_back({shape.name, std::move(value)});
      continue;
    }
    // The same name again: components expanded into an array field gather into one list;
    // for a scalar, the field's own value wins over a component's.
    Value& held = out.fields[static_cast<std::size_t>(slot)].value;
    if (shape.list) {
      if (held.kind != Value::Kind::List) {
        Value first = std::move(held);
        held = Value{};
        held.kind = Value::Kind::List;
        held.items.push_back(std::move(first));
      }
      if (value.kind == Value::Kind::List) {
        std::ranges::move(value.items, std::back_inserter(held.items));
      } else {
        held.items.push_back(std::move(value));
      }
    } else if (value.kind != Value::Kind::Null &&
               (held.kind == Value::Kind::Null || field.number == shape.number)) {
      held = std::move(value);
    }
  }
  return true;
}

}  // namespace tramlix::fit_messages
