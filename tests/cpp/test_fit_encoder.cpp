// The FIT encoder: the bytes it writes, the definitions it shares among local types, and round
// trips through the typed decoder, of made-up messages and of real files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "corpus.hpp"
#include "fit/base_type.hpp"
#include "fit/encoder.hpp"
#include "fit/file_header.hpp"
#include "fit/framing.hpp"
#include "fit/profile.hpp"
#include "fit/typed_decoder.hpp"

namespace fit {
namespace {

using Bytes = std::vector<std::uint8_t>;

Field make_field(std::string_view name, std::uint8_t number, Value value) {
  Field f;
  f.name = name;
  f.number = number;
  f.value = std::move(value);
  return f;
}

// A field of a profile message by its name, or by the name of one of its subfields.
Field field(std::string_view message, std::string_view name, Value value) {
  const profile::MessageInfo* info = profile::mesg_info_by_name(message);
  EXPECT_NE(info, nullptr) << message;
  for (const profile::FieldInfo& f : info->fields) {
    if (f.name == name) return make_field(f.name, f.number, std::move(value));
    for (const profile::Subfield& s : f.subfields) {
      if (s.name == name) return make_field(s.name, f.number, std::move(value));
    }
  }
  ADD_FAILURE() << message << "." << name << " is not in the profile";
  return {};
}

Message message(std::string_view name, std::vector<std::pair<std::string_view, Value>> fields) {
  const profile::MessageInfo* info = profile::mesg_info_by_name(name);
  Message m;
  m.name = info->name;
  m.global_number = info->number;
  for (auto& [field_name, value] : fields) m.fields.push_back(field(name, field_name, value));
  return m;
}

Field developer_field(std::uint8_t index, std::uint8_t number, Value value) {
  Field f = make_field("dev", number, std::move(value));
  f.developer = true;
  f.developer_data_index = index;
  return f;
}

Bytes encode_ok(const std::vector<Message>& messages) {
  const auto bytes = Encoder(0x20, 21200).encode(messages);
  EXPECT_TRUE(bytes.has_value()) << bytes.error().display();
  if (!bytes) return {};
  EXPECT_TRUE(check_integrity(*bytes).has_value());
  return *bytes;
}

// The messages of `bytes`; those before the first error when `error` is given.
std::vector<Message> decode(const Bytes& bytes, std::optional<FitError>* error = nullptr) {
  TypedDecoder decoder = DecoderBuilder(bytes).build();
  std::vector<Message> messages;
  for (;;) {
    auto next = decoder.next();
    if (!next) {
      if (error) {
        *error = next.error();
      } else {
        ADD_FAILURE() << next.error().display();
      }
      return messages;
    }
    if (!*next) return messages;
    messages.push_back(std::move(**next));
  }
}

// The records of a written file as "D<local>" for a definition and "d<local>" for a data record,
// checking on the way that every record is as long as its definition says.
std::string records(const Bytes& file) {
  std::size_t size[16] = {};
  std::string out;
  std::size_t at = 14;
  const std::size_t end = file.size() - 2;
  while (at < end) {
    const std::uint8_t header = file[at++];
    const unsigned local = header & 0x0F;
    if (!out.empty()) out += ' ';
    if (header & 0x40) {
      const unsigned fields = file[at + 4];
      at += 5;
      size[local] = 0;
      for (unsigned i = 0; i < fields; ++i, at += 3) size[local] += file[at + 1];
      if (header & 0x20) {
        const unsigned developer = file[at++];
        for (unsigned i = 0; i < developer; ++i, at += 3) size[local] += file[at + 1];
      }
      out += 'D';
    } else {
      at += size[local];
      out += 'd';
    }
    out += std::to_string(local);
  }
  EXPECT_EQ(at, end) << "records overrun the data section";
  return out;
}

TEST(FitEncoder, NoMessagesGiveTheSixteenByteFile) {
  const Bytes file = encode_ok({});
  ASSERT_EQ(file.size(), 16u);
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 12),
            (Bytes{14, 0x20, 0xD0, 0x52, 0, 0, 0, 0, '.', 'F', 'I', 'T'}));
  EXPECT_EQ(file[12] | file[13] << 8, crc16(std::span(file).first(12)));
  EXPECT_TRUE(decode(file).empty());
}

TEST(FitEncoder, DefinitionAndRecordBytes) {
  Message record = message("record", {{"heart_rate", std::uint64_t{150}}, {"speed", 3.0}});
  record.fields.insert(record.fields.begin(), developer_field(0, 1, std::uint64_t{7}));
  const Bytes file =
      encode_ok({message("field_description", {{"developer_data_index", std::uint64_t{0}},
                                               {"field_definition_number", std::uint64_t{1}},
                                               {"fit_base_type_id", EnumName::borrowed("uint16")}}),
                 record});
  const Bytes tail(file.end() - 2 - 22, file.end() - 2);
  EXPECT_EQ(tail,
            (Bytes{// Definition of local type 1 with developer fields: reserved, little-endian,
                   // global number 20, heart_rate uint8, speed uint16 (0x84), developer field
                   // 1 of 2 bytes from developer 0.
                   0x61, 0, 0, 20, 0, 2, 3, 1, 0x02, 6, 2, 0x84, 1, 1, 2, 0,
                   // The record: developer fields after the others.
                   0x01, 150, 0xB8, 0x0B, 7, 0}));
}

struct DefinitionCase {
  std::string label;
  std::vector<Message> messages;
  std::string records;
};

std::vector<DefinitionCase> definition_cases() {
  const auto record = [](std::uint64_t hr, bool cadence = false) {
    Message m = message("record", {{"timestamp", Timestamp{1'600'000'000}}, {"heart_rate", hr}});
    if (cadence) m.fields.push_back(field("record", "cadence", std::uint64_t{90}));
    return m;
  };
  const auto named = [](std::string name) {
    return message("file_id", {{"product_name", std::move(name)}});
  };
  const Message event = message("event", {{"event", EnumName::borrowed("timer")}});

  // One message for each of 18 global numbers; the first 16 fill the slots, the first one is used
  // again, so the 17th must evict the second (the least recently used), and the second, coming
  // back, the third.
  std::vector<Message> many;
  std::string many_records;
  for (const profile::MessageInfo& info : profile::message_table().first(18)) {
    Message m;
    m.name = info.name;
    m.global_number = info.number;
    m.fields.push_back(make_field(info.fields[0].name, info.fields[0].number, Invalid{}));
    many.push_back(std::move(m));
  }
  std::vector<Message> lru(many.begin(), many.begin() + 16);
  for (int i = 0; i < 16; ++i) {
    const std::string local = std::to_string(i);
    many_records.append("D").append(local).append(" d").append(local).append(" ");
  }
  lru.push_back(many[0]);
  lru.push_back(many[16]);
  lru.push_back(many[1]);
  many_records += "d0 D1 d1 D2 d2";

  return {
      {"equal layouts share a definition; one more field redefines the slot",
       {record(60), record(61), record(62, true)},
       "D0 d0 d0 D0 d0"},
      {"alternating layouts of one number redefine each time",
       {record(60), record(61, true), record(62), record(63, true)},
       "D0 d0 D0 d0 D0 d0 D0 d0"},
      {"distinct numbers keep their own slots",
       {named("a"), record(60), record(61), event, record(62), named("b")},
       "D0 d0 D1 d1 d1 D2 d2 d1 d0"},
      {"a text of another length changes the layout",
       {named("ab"), named("cd"), named("abc")},
       "D0 d0 d0 D0 d0"},
      {"the least recently used slot is evicted", lru, many_records},
  };
}

TEST(FitEncoder, DefinitionsOnlyWhenASlotsLayoutChanges) {
  for (const DefinitionCase& c : definition_cases()) {
    const Bytes file = encode_ok(c.messages);
    EXPECT_EQ(records(file), c.records) << c.label;
    // Whatever the slots did, every message reads back under its own number.
    const std::vector<Message> decoded = decode(file);
    ASSERT_EQ(decoded.size(), c.messages.size()) << c.label;
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      EXPECT_EQ(decoded[i].global_number, c.messages[i].global_number) << c.label << " #" << i;
    }
  }
}

struct ValueCase {
  const char* label;
  Value value;
  std::uint8_t code;
  std::size_t size;
  Bytes expected;
  std::string_view type_name = "";
  std::optional<double> scale = std::nullopt;
  std::optional<double> offset = std::nullopt;
};

TEST(FitEncoder, ValuesIntoFieldBytes) {
  using namespace base_type;
  const std::int64_t epoch = kFitEpochUnixSeconds;
  const Bytes none16 = {0xFF, 0xFF}, none32 = {0xFF, 0xFF, 0xFF, 0xFF};
  const std::vector<ValueCase> cases = {
      {"scaled float", 3.0, kUint16, 2, {0xB8, 0x0B}, "uint16", 1000.0},
      {"scaled float beyond uint16 is invalid", 70.0, kUint16, 2, none16, "uint16", 1000.0},
      {"offset before scale", 0.0, kUint16, 2, {0xC4, 0x09}, "uint16", 5.0, 500.0},
      {"half away from zero, up", 2.5, kSint16, 2, {0x03, 0x00}},
      {"half away from zero, down", -2.5, kSint16, 2, {0xFD, 0xFF}},
      {"NaN into an integer is invalid", std::nan(""), kSint32, 4, {0xFF, 0xFF, 0xFF, 0x7F}},
      {"float32 as it stands", 1.5, kFloat32, 4, {0x00, 0x00, 0xC0, 0x3F}},
      {"integer into float64", std::uint64_t{2}, kFloat64, 8, {0, 0, 0, 0, 0, 0, 0, 0x40}},
      {"integers are raw, not scaled", std::uint64_t{3}, kUint16, 2, {3, 0}, "uint16", 1000.0},
      {"integer beyond uint8 is invalid, not wrapped", std::uint64_t{300}, kUint8, 1, {0xFF}},
      {"negative integer into uint16 is invalid", std::int64_t{-2}, kUint16, 2, none16},
      {"largest uint64 below the marker",
       ~std::uint64_t{1},
       kUint64,
       8,
       {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {"text, terminator and padding", std::string("ab"), kString, 5, {'a', 'b', 0, 0, 0}},
      {"text in a number field is invalid, not longer", std::string("abc"), kUint16, 2, none16},
      {"byte list padded with 0xFF", Bytes{1, 2}, kByte, 3, {1, 2, 0xFF}},
      {"boolean takes the field's width", true, kUint16, 2, {1, 0}},
      {"enumeration name", EnumName::borrowed("running"), kEnum, 1, {1}, "sport"},
      {"unknown enumeration name is invalid",
       EnumName::owned("moonwalk"),
       kEnum,
       1,
       {0xFF},
       "sport"},
      {"name under a subfield's type",
       EnumName::borrowed("edge_530"),
       kUint16,
       2,
       {0x31, 0x0C},
       "garmin_product"},
      {"timestamp, whole seconds since the FIT epoch",
       Timestamp{epoch + 1000, 999'999'999},
       kUint32,
       4,
       {0xE8, 0x03, 0, 0},
       "date_time"},
      {"timestamp before the FIT epoch is invalid", Timestamp{epoch - 1}, kUint32, 4, none32,
       "date_time"},
      {"timestamp beyond 32 bits is invalid", Timestamp{epoch + (std::int64_t{1} << 32)}, kUint32,
       4, none32, "date_time"},
      {"array padded with invalid elements",
       ValueArray{std::uint64_t{1}, 2.0},
       kUint16,
       6,
       {1, 0, 2, 0, 0xFF, 0xFF}},
      {"scalar in a fixed-count field", std::uint64_t{7}, kUint8z, 3, {7, 0, 0}},
      {"invalid of a signed type",
       Invalid{},
       kSint32,
       8,
       {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F}},
  };
  for (const ValueCase& c : cases) {
    OutputStream out;
    encode_value_inner(out, c.value, c.code, c.size, c.type_name, c.scale, c.offset);
    EXPECT_EQ(out.bytes(), c.expected) << c.label;
  }
}

TEST(FitEncoder, EncodeIntDropsExcessBitsAndWriteInvalidCountsElements) {
  OutputStream out;
  encode_int(out, 0x1234, base_type::kUint8);
  encode_int(out, -1, base_type::kUint16z);
  write_invalid(out, base_type::kUint16, 0);  // at least one element
  write_invalid(out, base_type::kUint32z, 8);
  EXPECT_EQ(out.bytes(), (Bytes{0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(FitEncoder, OversizedFieldsAreErrors) {
  const auto with = [](std::vector<Field> fields) {
    Message m = message("file_id", {});
    m.fields = std::move(fields);
    return std::vector<Message>{m};
  };
  std::vector<Field> too_many;
  for (int i = 0; i < 256; ++i) too_many.push_back(field("file_id", "type", Invalid{}));
  const struct {
    std::vector<Message> messages;
    FitError error;
  } cases[] = {
      {with({field("file_id", "product_name", std::string(255, 'x'))}),
       FieldTooLarge{FieldTooLargeKind::String, 255}},
      {{message("developer_data_id", {{"application_id", Bytes(256, 1)}})},
       FieldTooLarge{FieldTooLargeKind::ByteArray, 256}},
      {with({field("file_id", "product", ValueArray(128, std::uint64_t{1}))}),
       FieldTooLarge{FieldTooLargeKind::Array, 256}},
      {with(too_many), FieldTooLarge{FieldTooLargeKind::FieldList, 256}},
  };
  for (const auto& c : cases) {
    const auto result = Encoder(0x20, 21200).encode(c.messages);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), c.error) << result.error().display();
  }
  EXPECT_EQ(FitError(FieldTooLarge{FieldTooLargeKind::String, 255}).display(),
            "encoder: String of size 255 exceeds 255 byte wire limit");

  // 254 bytes of text are the largest that fit: 255 with the terminator.
  const std::string longest(254, 'y');
  const Bytes file = encode_ok(with({field("file_id", "product_name", longest)}));
  EXPECT_EQ(file[14 + 6 + 1], 255) << "the definition's size byte";
  const std::vector<Message> decoded = decode(file);
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_EQ(decoded[0].fields.at(0).value, Value(longest));

  // Encoded into an existing buffer, a failure leaves the buffer as it was.
  OutputStream out;
  out.append_u8(0xAB);
  EXPECT_FALSE(Encoder(0x20, 21200).write_segment(out, with(too_many)).has_value());
  EXPECT_EQ(out.bytes(), Bytes{0xAB});
}

TEST(FitEncoder, DataSectionBeyondThirtyTwoBitsIsAnError) {
  EXPECT_EQ(data_size_field(0xFFFFFFFFu), 0xFFFFFFFFu);
  const auto too_large = data_size_field(std::size_t{1} << 32);
  ASSERT_FALSE(too_large.has_value());
  EXPECT_EQ(too_large.error().display(), "FIT segment data exceeds u32::MAX bytes");
}

void expect_same_value(const Value& decoded, const Value& written, const std::string& label) {
  if (const double* w = written.get<double>()) {
    const double* d = decoded.get<double>();
    ASSERT_NE(d, nullptr) << label;
    EXPECT_NEAR(*d, *w, 1e-9 * std::max(1.0, std::abs(*w))) << label;
  } else if (const Timestamp* t = written.get<Timestamp>()) {
    EXPECT_EQ(decoded, Value(Timestamp{t->unix_seconds})) << label << " (to the second)";
  } else {
    EXPECT_EQ(decoded, written) << label;
  }
}

TEST(FitEncoder, RoundTripThroughTheTypedDecoder) {
  const std::int64_t t0 = 1'600'000'000;
  Message record = message("record", {{"timestamp", Timestamp{t0, 500'000'000}},
                                      {"position_lat", std::int64_t{-123456789}},
                                      {"position_long", std::int64_t{987654321}},
                                      {"altitude", 123.4},
                                      {"speed", 3.0},
                                      {"distance", 1234.56},
                                      {"heart_rate", std::uint64_t{150}},
                                      {"temperature", std::int64_t{-5}}});
  record.fields.push_back(developer_field(0, 1, 250.5));
  record.fields.push_back(developer_field(0, 2, std::string("dev text")));
  record.fields.push_back(developer_field(0, 9, std::uint64_t{1}));  // never described: dropped
  const std::vector<Message> written = {
      message("file_id", {{"type", EnumName::borrowed("activity")},
                          {"manufacturer", EnumName::borrowed("garmin")},
                          {"garmin_product", EnumName::borrowed("edge_530")},
                          {"serial_number", std::uint64_t{3'000'000'000}},
                          {"time_created", Timestamp{t0}}}),
      message("developer_data_id",
              {{"developer_data_index", std::uint64_t{0}}, {"application_id", Bytes(16, 7)}}),
      message("field_description", {{"developer_data_index", std::uint64_t{0}},
                                    {"field_definition_number", std::uint64_t{1}},
                                    {"fit_base_type_id", EnumName::borrowed("uint16")},
                                    {"field_name", std::string("power2")},
                                    {"scale", std::uint64_t{10}},
                                    {"units", std::string("W")}}),
      message("field_description", {{"developer_data_index", std::uint64_t{0}},
                                    {"field_definition_number", std::uint64_t{2}},
                                    {"fit_base_type_id", std::uint64_t{7}},
                                    {"field_name", std::string("note")}}),
      record,
      message("event", {{"event", EnumName::borrowed("timer")},
                        {"event_type", EnumName::borrowed("start")},
                        {"timer_trigger", EnumName::borrowed("manual")}}),
      message("session", {{"sport", EnumName::borrowed("running")},
                          {"start_time", Timestamp{t0}},
                          {"total_elapsed_time", 3600.5},
                          {"total_distance", 10000.0}}),
  };
  const std::vector<Message> decoded = decode(encode_ok(written));
  ASSERT_EQ(decoded.size(), written.size());
  for (std::size_t i = 0; i < written.size(); ++i) {
    for (const Field& f : written[i].fields) {
      const std::string label = std::string(written[i].name) + "." + std::string(f.name);
      if (f.developer) continue;
      const Field* back = decoded[i].field(f.name);
      ASSERT_NE(back, nullptr) << label;
      if (f.value.get<std::uint64_t>() && back->value.get<EnumName>()) continue;  // named now
      expect_same_value(back->value, f.value, label);
    }
  }
  const Message& back = decoded[4];
  const Field* power = back.field("power2");
  ASSERT_NE(power, nullptr);
  EXPECT_TRUE(power->developer);
  EXPECT_EQ(power->units, "W");
  expect_same_value(power->value, 250.5, "developer field with a scale");
  ASSERT_NE(back.field("note"), nullptr);
  EXPECT_EQ(back.field("note")->value, Value(std::string("dev text")));
  EXPECT_EQ(back.field("developer_field"), nullptr) << "an undescribed developer field was written";
}

// What the encoder writes of a decoded message: fields the profile describes under their number
// (by their name or a subfield's), and described developer fields. Fields expanded from
// components are left out: they follow from the field they come from, except that accumulated
// ones count on across the file boundaries of chained files, which one written file does not have.
std::vector<const Field*> writable(const Message& message) {
  const profile::MessageInfo* info = profile::mesg_info_by_num(message.global_number);
  std::vector<const Field*> kept;
  for (const Field& f : message.fields) {
    if (f.developer) {
      if (f.name != "developer_field") kept.push_back(&f);
      continue;
    }
    const profile::FieldInfo* described = info ? info->field(f.number) : nullptr;
    if (described == nullptr) continue;
    bool named = described->name == f.name;
    for (const profile::Subfield& s : described->subfields) named = named || s.name == f.name;
    if (named) kept.push_back(&f);
  }
  return kept;
}

// A file read, written and read again gives the same messages. Values are written under the
// profile's base types, so a file storing a field under another type could differ; none here do.
TEST(FitEncoder, RealFilesComeBackMessageForMessage) {
  SKIP_WITHOUT_CORPUS("fit");
  for (const auto& path : tramlix::corpus::files("fit")) {
    const std::string name = path.filename().string();
    std::ifstream in(path, std::ios::binary);
    const Bytes original(std::istreambuf_iterator<char>(in), {});
    // Two files are cut short; what comes before the damage is compared.
    std::optional<FitError> damage;
    const std::vector<Message> messages = decode(original, &damage);
    const std::vector<Message> again = decode(encode_ok(messages));
    ASSERT_EQ(again.size(), messages.size()) << name;
    int failures = 0;
    for (std::size_t i = 0; i < messages.size() && failures < 3; ++i) {
      const auto a = writable(messages[i]);
      const auto b = writable(again[i]);
      const std::string label =
          name + " #" + std::to_string(i) + " " + std::string(messages[i].name);
      bool same = a.size() == b.size();
      for (std::size_t j = 0; same && j < a.size(); ++j) {
        same = a[j]->name == b[j]->name && a[j]->number == b[j]->number &&
               a[j]->developer == b[j]->developer && a[j]->value == b[j]->value;
        if (!same) ADD_FAILURE() << label << "." << a[j]->name << " changed";
      }
      if (!same) {
        ++failures;
        if (a.size() != b.size())
          ADD_FAILURE() << label << ": " << a.size() << " fields, then " << b.size();
      }
    }
  }
}

}  // namespace
}  // namespace fit
