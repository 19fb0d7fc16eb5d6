// The FIT encoder: the bytes it writes, the definitions it shares among local types, and round
// trips through the typed decoder, of made-up messages and of real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "corpus.hpp"
#include "fit/base_type.hpp"
#include "fit/decoder.hpp"
#include "fit/encoder.hpp"
#include "fit/file_header.hpp"
#include "fit/framing.hpp"
#include "fit/profile.hpp"
#include "fit/typed_decoder.hpp"
#include "fit_bytes.hpp"

namespace fit {
namespace {

using testing::Bytes;
using testing::Records;
using U = std::uint64_t;

Field make_field(std::string_view name, std::uint8_t number, Value value, bool developer = false) {
  Field f;
  f.name = name, f.number = number, f.value = std::move(value), f.developer = developer;
  return f;  // a developer field of developer data index 0
}

Message message(std::string_view name, std::vector<std::pair<std::string_view, Value>> fields) {
  const profile::MessageInfo* info = profile::mesg_info_by_name(name);
  Message m{{}, info->name, info->number};
  for (auto& [field, value] : fields) {
    m.fields.push_back(make_field(field, info->field(field)->number, std::move(value)));
  }
  return m;
}

Bytes encode_ok(const std::vector<Message>& messages) {
  const auto bytes = Encoder(0x20, 21200).encode(messages);
  EXPECT_TRUE(bytes.has_value()) << bytes.error().display();
  EXPECT_TRUE(bytes && check_integrity(*bytes).has_value());
  return bytes.value_or(Bytes());
}

// The messages of `bytes`: all of them, or those before the damage when `damaged`.
std::vector<Message> decode(const Bytes& bytes, bool damaged = false) {
  TypedDecoder decoder = DecoderBuilder(bytes).build();
  std::vector<Message> messages;
  auto next = decoder.next();
  for (; next && *next; next = decoder.next()) messages.push_back(std::move(**next));
  EXPECT_TRUE(next || damaged) << next.error().display();
  return messages;
}

// The records of `messages` written, as "D<local>" for a definition and "d<local>" for a data
// record, checking that every message reads back under its own number.
std::string records(const std::vector<Message>& messages) {
  const Bytes file = encode_ok(messages);
  Decoder decoder(file);
  std::set<std::uint64_t> defined;
  std::string out;
  std::size_t i = 0;
  for (auto m = decoder.next(); m && *m; m = decoder.next(), ++i) {
    const std::string local = std::to_string((*m)->local_type);
    if (defined.insert((*m)->definition_id).second) out.append("D").append(local).append(" ");
    out.append("d").append(local).append(" ");
    EXPECT_EQ((*m)->global_number, messages.at(i).global_number) << out;
  }
  return out;
}

TEST(FitEncoder, ExactBytesOfTheEmptyFileAndOfDeveloperFields) {
  EXPECT_EQ(encode_ok({}), Records().file());  // 16 bytes: the header and the file CRC

  // A developer field of base type uint16, given by its number, scaled by 10.
  const Message description = message("field_description", {{"developer_data_index", U{0}},
                                                            {"field_definition_number", U{1}},
                                                            {"fit_base_type_id", U{0x84}},
                                                            {"field_name", std::string("p")},
                                                            {"scale", U{10}}});
  Message record = message("record", {{"heart_rate", U{150}}, {"speed", 3.0}});
  record.fields.insert(record.fields.begin(), make_field("dev", 1, 250.5, true));
  record.fields.push_back(make_field("dev", 9, U{1}, true));  // never described
  // Developer fields follow the others on the wire, wherever the message lists them, and take
  // the scale of their description.
  EXPECT_EQ(encode_ok({description, record}),
            Records()
                .define(0, 206, {{0, 1, 2}, {1, 1, 2}, {2, 1, 2}, {3, 2, 7}, {6, 1, 2}})
                .data(0, {0, 1, 0x84, 'p', 0, 10})
                .define(1, 20, {{3, 1, 2}, {6, 2, 0x84}}, {{1, 2, 0}})
                .data(1, {150, 0xB8, 0x0B, 0xC9, 0x09})
                .file());
}

TEST(FitEncoder, DefinitionsOnlyWhenASlotsLayoutChanges) {
  const auto record = [](std::uint64_t hr, bool cadence = false) {
    return cadence ? message("record", {{"heart_rate", hr}, {"cadence", U{90}}})
                   : message("record", {{"heart_rate", hr}});
  };
  const auto named = [](std::string name) { return message("file_id", {{"product_name", name}}); };
  const Message event = message("event", {{"event", EnumName::borrowed("timer")}});
  // The first 16 numbers fill the slots and the first is used again, so the 17th evicts the
  // second (the least recently used) and the second, coming back, the third.
  std::vector<Message> lru;
  for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0, 16, 1}) {
    const profile::MessageInfo& info = profile::message_table()[i];
    lru.push_back(message(info.name, {{info.fields[0].name, Invalid{}}}));
  }
  // A field more or fewer, or a text of another length, changes the layout; messages of other
  // numbers in between leave a slot alone.
  EXPECT_EQ(records({record(60), record(61), record(62, true)}), "D0 d0 d0 D0 d0 ");
  EXPECT_EQ(records({record(60), record(61, true), record(62), record(63, true)}),
            "D0 d0 D0 d0 D0 d0 D0 d0 ");
  EXPECT_EQ(records({named("a"), record(60), record(61), event, record(62), named("b")}),
            "D0 d0 D1 d1 d1 D2 d2 d1 d0 ");
  EXPECT_EQ(records({named("ab"), named("cd"), named("abc")}), "D0 d0 d0 D0 d0 ");
  EXPECT_EQ(records(lru),
            "D0 d0 D1 d1 D2 d2 D3 d3 D4 d4 D5 d5 D6 d6 D7 d7 D8 d8 D9 d9 D10 d10 D11 d11 D12 d12 "
            "D13 d13 D14 d14 D15 d15 d0 D1 d1 D2 d2 ");
}

// Records whose bytes the caller writes share the local types with whole messages exactly as
// messages of their layout would: the same definitions, slots and evictions, whichever way each
// record comes.
TEST(FitEncoder, RecordsOfALayoutShareSlotsAsTheirMessagesWould) {
  const auto record = [](std::uint64_t hr, bool cadence = false) {
    return cadence ? message("record", {{"heart_rate", hr}, {"cadence", U{90}}})
                   : message("record", {{"heart_rate", hr}});
  };
  const auto other = [](int i) {
    const profile::MessageInfo& info = profile::message_table()[i];
    return message(info.name, {{info.fields[0].name, Invalid{}}});
  };
  // A record either written by the caller in its layout or given whole as a message.
  struct Step {
    bool layout;
    Message message;
  };
  std::vector<Step> steps;
  for (int hr : {60, 61}) steps.push_back({true, record(hr)});
  steps.push_back({false, record(62)});        // the same layout: no definition
  steps.push_back({false, record(63, true)});  // another: the slot is redefined...
  steps.push_back({true, record(64)});         // ...and back
  steps.push_back({false, record(65)});
  for (int i = 1; i < 17; ++i) steps.push_back({false, other(i)});  // evicts the records
  steps.push_back({true, record(66)});
  steps.push_back({true, record(67)});
  steps.push_back({false, other(3)});

  std::vector<Message> messages;
  for (const Step& step : steps) messages.push_back(step.message);
  OutputStream out;
  FileEncoder encoder(out, 0x20, 21200);
  const LayoutField fields[] = {{3, 1, base_type::kUint8}};
  const std::size_t layout = encoder.define_layout(20, fields);
  for (const Step& step : steps) {
    if (step.layout) {
      *encoder.write_record(layout) =
          static_cast<std::uint8_t>(*step.message.fields[0].value.get<std::uint64_t>());
    } else {
      ASSERT_TRUE(encoder.write(step.message));
    }
  }
  ASSERT_TRUE(encoder.finish());
  EXPECT_EQ(Bytes(out.bytes().begin(), out.bytes().end()), encode_ok(messages));
}

// Numbers into integer fields round half away from zero, as std::round does, on both sides of
// the shortcut taken below 2^62; what a field cannot hold is its invalid marker.
TEST(FitEncoder, NumbersRoundHalfAwayFromZero) {
  const double values[] = {0.5,
                           1.5,
                           2.5,
                           -0.5,
                           -2.5,
                           0.49999999999999994,
                           -0.49999999999999994,
                           4503599627370495.5,
                           -4503599627370495.5,
                           9007199254740993.0,
                           4611686018427387904.0 - 1024,
                           4611686018427387904.0,
                           -4611686018427387904.0,
                           9223372036854775807.0,
                           -9223372036854775808.0,
                           1e19,
                           INFINITY,
                           NAN};
  for (const std::uint8_t code : {base_type::kSint64, base_type::kUint64, base_type::kSint8}) {
    for (const double value : values) {
      std::uint8_t stored[8] = {};
      const auto loss = store_number(stored, value, code, false, 1.0, 0.0);
      std::uint8_t expected[8] = {};
      std::optional<Loss> expected_loss;
      const IntRange range = range_of(code);
      const double rounded = std::round(value);
      if (!std::isfinite(value)) {
        expected_loss = Loss::NotFinite;
      } else if (rounded < static_cast<double>(range.min) ||
                 rounded > static_cast<double>(range.max) ||
                 (code == base_type::kSint64 && rounded >= 9223372036854775807.0)) {
        expected_loss = Loss::OutOfRange;
      }
      const std::size_t width = base_type::kElementSize[code];
      if (expected_loss) {
        store_le(expected, base_type::kInvalid[code], width);
      } else if (code == base_type::kUint64) {
        store_le(expected, static_cast<std::uint64_t>(rounded), width);
      } else {
        store_le(expected, static_cast<std::uint64_t>(static_cast<std::int64_t>(rounded)), width);
      }
      EXPECT_EQ(loss, expected_loss) << value << " as code " << int{code};
      EXPECT_EQ(Bytes(stored, stored + width), Bytes(expected, expected + width))
          << value << " as code " << int{code};
    }
  }
}

TEST(FitEncoder, ValuesIntoFieldBytesAndInvalidWhenTheyDoNotFit) {
  using namespace base_type;
  const std::int64_t epoch = kFitEpochUnixSeconds;
  const Bytes none16 = {0xFF, 0xFF}, none32 = {0xFF, 0xFF, 0xFF, 0xFF};
  const struct {
    Value value;
    std::size_t code, size;
    Bytes expected;
    std::string_view type_name = "";
    std::optional<double> scale = std::nullopt, offset = std::nullopt;
  } cases[] = {
      {3.0, kUint16, 2, {0xB8, 0x0B}, "", 1000.0},
      {70.0, kUint16, 2, none16, "", 1000.0},           // scaled beyond uint16
      {0.0, kUint16, 2, {0xC4, 0x09}, "", 5.0, 500.0},  // offset before scale
      {-2.5, kSint16, 2, {0xFD, 0xFF}},                 // half away from zero
      {std::nan(""), kSint32, 4, {0xFF, 0xFF, 0xFF, 0x7F}},
      {1.5, kFloat32, 4, {0x00, 0x00, 0xC0, 0x3F}},
      {U{3}, kUint16, 2, {3, 0}, "", 1000.0},  // integers are raw, never scaled
      {U{256}, kUint8, 1, {0xFF}},             // invalid, not wrapped
      {std::int64_t{-2}, kUint16, 2, none16},
      {~U{1}, kUint64, 8, {0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {std::string("ab"), kString, 5, {'a', 'b', 0, 0, 0}},
      {std::string("abc"), kUint16, 2, none16},  // a text in a number field: invalid, not longer
      {Bytes{1, 2}, kByte, 3, {1, 2, 0xFF}},
      {EnumName::borrowed("running"), kEnum, 1, {1}, "sport"},
      {EnumName::owned("moonwalk"), kEnum, 1, {0xFF}, "sport"},
      {Timestamp{epoch + 1000, 999'999'999}, kUint32, 4, {0xE8, 0x03, 0, 0}, "date_time"},
      {Timestamp{epoch - 2}, kUint32, 4, none32, "date_time"},
      {ValueArray{U{1}, 2.0}, kUint16, 6, {1, 0, 2, 0, 0xFF, 0xFF}},
      {U{7}, kUint8z, 3, {7, 0, 0}},  // a scalar in a fixed-count field
      {Invalid{}, kSint32, 8, {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x7F}},
  };
  for (const auto& c : cases) {
    OutputStream out;
    encode_value_inner(out, c.value, c.code, c.size, c.type_name, c.scale, c.offset);
    EXPECT_EQ(Bytes(out.bytes().begin(), out.bytes().end()), c.expected) << "case " << &c - cases;
  }
}

// Values written as invalid are reported by message, field and reason. A value equal to its
// field's invalid marker is one of them: it would read back as no value.
TEST(FitEncoder, ReportsTheValuesItWritesAsInvalid) {
  const std::int64_t before_epoch = kFitEpochUnixSeconds - 1;
  const std::vector<Message> messages = {
      message("file_id", {{"type", EnumName::borrowed("activity")},
                          {"manufacturer", EnumName::owned("nobody")},
                          {"serial_number", U{0}}}),  // uint32z: 0 is its marker
      message("record", {{"timestamp", Timestamp{before_epoch}},
                         {"heart_rate", U{254}},
                         {"cadence", U{255}},
                         {"speed", 65.534},  // 65534 as stored
                         {"altitude", std::nan("")},
                         {"power", Invalid{}},  // no value given: nothing lost
                         {"temperature", std::int64_t{127}},
                         {"position_lat", std::int64_t{0x7FFFFFFF}},
                         {"distance", -0.01}}),
  };
  std::vector<LostValue> lost;
  const auto bytes = Encoder(0x20, 21200).encode(messages, &lost);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(lost, (std::vector<LostValue>{{0, 1, Loss::UnknownName},
                                          {0, 2, Loss::OutOfRange},
                                          {1, 0, Loss::OutOfRange},
                                          {1, 2, Loss::OutOfRange},
                                          {1, 4, Loss::NotFinite},
                                          {1, 6, Loss::OutOfRange},
                                          {1, 7, Loss::OutOfRange},
                                          {1, 8, Loss::OutOfRange}}));
  // What was not reported reads back.
  const std::vector<Message> back = decode(*bytes);
  ASSERT_EQ(back.size(), 2u);
  std::vector<std::string_view> kept;
  for (const Message& m : back) {
    for (const Field& f : m.fields) {
      if (!f.value.is_invalid()) kept.push_back(f.name);
    }
  }
  EXPECT_EQ(kept, (std::vector<std::string_view>{"type", "heart_rate", "speed", "enhanced_speed"}));
}

TEST(FitEncoder, OversizedFieldsAndSegmentsAreErrors) {
  const auto name = [](std::size_t length) {
    return std::vector{message("file_id", {{"product_name", std::string(length, 'x')}})};
  };
  std::vector<Message> too_many = {message("file_id", {})};
  too_many[0].fields.assign(256, message("file_id", {{"type", Invalid{}}}).fields[0]);
  const std::pair<std::vector<Message>, const char*> cases[] = {
      {name(255), "String of size 255"},
      {{message("developer_data_id", {{"application_id", Bytes(256, 1)}})},
       "ByteArray of size 256"},
      {{message("file_id", {{"product", ValueArray(128, U{1})}})}, "Array of size 256"},
      {too_many, "FieldList of size 256"},
  };
  for (const auto& [messages, what] : cases) {
    OutputStream out;  // a failure leaves the caller's buffer as it was
    out.append_u8(0xAB);
    const auto result = Encoder(0x20, 21200).write_segment(out, messages);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().display(),
              "encoder: " + std::string(what) + " exceeds 255 byte wire limit");
    EXPECT_EQ(Bytes(out.bytes().begin(), out.bytes().end()), Bytes{0xAB});
  }
  // 254 bytes of text are the longest that fit: 255 with the terminator.
  EXPECT_EQ(decode(encode_ok(name(254))).at(0).fields.at(0).value, Value(std::string(254, 'x')));

  EXPECT_EQ(data_size_field(0xFFFFFFFFu), 0xFFFFFFFFu);
  const auto too_large = data_size_field(std::size_t{1} << 32);
  ASSERT_FALSE(too_large.has_value());
  EXPECT_EQ(too_large.error().display(), "FIT segment data exceeds u32::MAX bytes");
}

// What the encoder writes of a decoded message, as "name=number" with the value: profile fields
// under their own or a subfield's name, and described developer fields. Fields expanded from
// components are left out: they follow from their source, except that accumulated ones count on
// across the boundaries of chained files, which one written file does not have.
std::vector<std::pair<std::string, Value>> writable(const Message& message) {
  const profile::MessageInfo* info = profile::mesg_info_by_num(message.global_number);
  std::vector<std::pair<std::string, Value>> kept;
  for (const Field& f : message.fields) {
    const profile::FieldInfo* described = info && !f.developer ? info->field(f.number) : nullptr;
    bool named = f.developer ? f.name != "developer_field" : described && described->name == f.name;
    if (described) {
      for (const profile::Subfield& s : described->subfields) named = named || s.name == f.name;
    }
    if (named) kept.emplace_back(std::string(f.name) + "=" + std::to_string(f.number), f.value);
  }
  return kept;
}

// A real file read, written and read again gives the same messages. Values are written under the
// profile's base types, so a file storing a field under another type could differ; none here do.
TEST(FitEncoder, RealFilesComeBackMessageForMessage) {
  SKIP_WITHOUT_CORPUS("fit");
  for (const auto& path : tramlix::corpus::files("fit")) {
    std::ifstream in(path, std::ios::binary);
    // Two files are cut short: what precedes the damage counts.
    const auto messages = decode(Bytes(std::istreambuf_iterator<char>(in), {}), true);
    const std::vector<Message> again = decode(encode_ok(messages));
    ASSERT_EQ(again.size(), messages.size()) << path;
    for (std::size_t i = 0; i < messages.size() && !HasFailure(); ++i) {
      EXPECT_EQ(writable(again[i]), writable(messages[i])) << path << " #" << i;
    }
  }
}

}  // namespace
}  // namespace fit
