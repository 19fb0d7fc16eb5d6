#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "corpus.hpp"
#include "fit/framing.hpp"
#include "fit/typed_decoder.hpp"
#include "fit_bytes.hpp"
#include "transforms.hpp"

namespace fit {
namespace {

using testing::Bytes;
using testing::cat;
using testing::le16;
using testing::le32;
using testing::Records;
using testing::text;

constexpr std::uint8_t kEnum = 0x00, kS8 = 0x01, kU8 = 0x02, kU16 = 0x84, kU32 = 0x86, kStr = 0x07,
                       kByte = 0x0D;

std::vector<Message> decode(const Bytes& bytes,
                            const std::function<void(DecoderBuilder&)>& configure = {},
                            std::optional<FitError>* error = nullptr) {
  DecoderBuilder builder(bytes);
  if (configure) configure(builder);
  TypedDecoder decoder = builder.build();
  std::vector<Message> messages;
  for (;;) {
    auto next = decoder.next();
    if (!next) {
      if (error) *error = next.error();
      EXPECT_EQ(decoder.next(), std::nullopt) << "an error is reported once, then the end";
      return messages;
    }
    if (!*next) return messages;
    messages.push_back(std::move(**next));
  }
}

// A field as the tests spell it: name, value, units ("" for none), number.
struct Expected {
  std::string name;
  Value value;
  std::string units = "";
  std::uint8_t number = 0;
};

void expect_fields(const Message& message, const std::vector<Expected>& expected,
                   const std::string& label) {
  ASSERT_EQ(message.fields.size(), expected.size()) << label;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Field& field = message.fields[i];
    const Expected& want = expected[i];
    EXPECT_EQ(field.name, want.name) << label << " #" << i;
    EXPECT_TRUE(field.value == want.value)
        << label << " " << want.name << " value, index " << field.value.index();
    EXPECT_EQ(field.has_units ? std::string(field.units) : "", want.units)
        << label << " " << want.name;
    EXPECT_EQ(field.number, want.number) << label << " " << want.name;
  }
}

Value timestamp(std::int64_t fit_seconds) {
  return Timestamp{kFitEpochUnixSeconds + fit_seconds, 0};
}
Value name(std::string_view profile_name) {
  return EnumName::borrowed(profile_name);
}
Value u(std::uint64_t v) {
  return v;
}

TEST(FitTypedDecoder, RecordFieldsByFlag) {
  const Bytes file = Records()
                         .define(0, 20, {{253, 4, kU32}, {2, 2, kU16}, {3, 1, kU8}, {200, 2, kU16}})
                         .data(0, cat({le32(1000000000), le16(2500), {150}, le16(7)}))
                         .file();
  const Expected heart_rate{"heart_rate", u(150), "bpm", 3};
  const Expected unknown{"unknown", u(7), "", 200};
  const struct {
    const char* label;
    std::function<void(DecoderBuilder&)> configure;
    std::vector<Expected> fields;
  } cases[] = {
      {"all on",
       {},
       {{"timestamp", timestamp(1000000000), "s", 253},
        {"altitude", 0.0, "m", 2},
        {"enhanced_altitude", 0.0, "m", 0},
        heart_rate,
        unknown}},
      {"no date-times",
       [](DecoderBuilder& b) { b.convert_date_times(false); },
       {{"timestamp", u(1000000000), "s", 253},
        {"altitude", 0.0, "m", 2},
        {"enhanced_altitude", 0.0, "m", 0},
        heart_rate,
        unknown}},
      {"no scale",
       [](DecoderBuilder& b) { b.apply_scale_and_offset(false); },
       {{"timestamp", timestamp(1000000000), "s", 253},
        {"altitude", u(2500), "m", 2},
        {"enhanced_altitude", u(2500), "m", 0},
        heart_rate,
        unknown}},
      {"no components",
       [](DecoderBuilder& b) { b.expand_components(false); },
       {{"timestamp", timestamp(1000000000), "s", 253},
        {"altitude", 0.0, "m", 2},
        heart_rate,
        unknown}},
  };
  for (const auto& c : cases) {
    const auto messages = decode(file, c.configure);
    ASSERT_EQ(messages.size(), 1u) << c.label;
    EXPECT_EQ(messages[0].name, "record");
    expect_fields(messages[0], c.fields, c.label);
  }
}

TEST(FitTypedDecoder, EnumerationNamesAndUnknownMessages) {
  const Bytes file = Records()
                         .define(0, 18, {{5, 1, kEnum}})
                         .data(0, {1})
                         .data(0, {200})
                         .define(1, 0xFF01, {{5, 1, kEnum}, {6, 1, kStr}})
                         .data(1, {1, 'x'})
                         .file();
  auto messages = decode(file);
  ASSERT_EQ(messages.size(), 3u);
  expect_fields(messages[0], {{"sport", name("running"), "", 5}}, "named");
  expect_fields(messages[1], {{"sport", u(200), "", 5}}, "no name for 200");
  EXPECT_EQ(messages[2].name, "unknown");
  EXPECT_EQ(messages[2].global_number, 0xFF01);
  expect_fields(messages[2], {{"unknown", u(1), "", 5}, {"unknown", std::string("x"), "", 6}},
                "unknown message");

  messages = decode(file, [](DecoderBuilder& b) { b.name_enumeration_values(false); });
  expect_fields(messages[0], {{"sport", u(1), "", 5}}, "names off");
}

TEST(FitTypedDecoder, ScaleOneAndOffsetZeroKeepIntegers) {
  const transforms::Flags flags;
  const auto raw = RawValue::scalar(base_type::kUint16, 42);
  EXPECT_TRUE(transforms::transform_value(raw, "uint16", 1.0, 0.0, flags) == u(42));
  EXPECT_TRUE(transforms::transform_value(raw, "uint16", 2.0, 0.0, flags) == Value(21.0));
  EXPECT_TRUE(transforms::transform_value(raw, "uint16", {}, 2.0, flags) == Value(40.0));
}

TEST(FitTypedDecoder, SubfieldsFollowTheirReferenceField) {
  // product (2) comes before the manufacturer (1) it depends on.
  const auto file_id = [](std::uint16_t manufacturer, std::uint16_t product) {
    return Records()
        .define(0, 0, {{2, 2, kU16}, {1, 2, kU16}})
        .data(0, cat({le16(product), le16(manufacturer)}))
        .file();
  };
  const struct {
    std::uint16_t manufacturer, product;
    bool subfields;
    Expected field;
    const char* manufacturer_name;
  } cases[] = {
      {1, 1036, true, {"garmin_product", name("edge500"), "", 2}, "garmin"},
      {263, 10, true, {"favero_product", name("assioma_uno"), "", 2}, "favero_electronics"},
      {3, 1036, true, {"product", u(1036), "", 2}, "zephyr"},
      {1, 1036, false, {"product", u(1036), "", 2}, "garmin"},
  };
  for (const auto& c : cases) {
    const auto messages = decode(file_id(c.manufacturer, c.product),
                                 [&](DecoderBuilder& b) { b.select_subfields(c.subfields); });
    ASSERT_EQ(messages.size(), 1u);
    expect_fields(messages[0], {c.field, {"manufacturer", name(c.manufacturer_name), "", 1}},
                  "manufacturer " + std::to_string(c.manufacturer));
  }
}

// Three bytes holding speed (12 bits) then distance (12 bits), least significant bit first.
Bytes speed_distance(std::uint32_t speed, std::uint32_t distance) {
  const std::uint32_t bits = speed | distance << 12;
  return {std::uint8_t(bits), std::uint8_t(bits >> 8), std::uint8_t(bits >> 16)};
}

TEST(FitTypedDecoder, ComponentsAccumulateWithinAFile) {
  Records first;
  first.define(0, 20, {{8, 3, kByte}, {18, 1, kU8}})
      .data(0, cat({speed_distance(250, 4000), {250}}))
      .data(0, cat({speed_distance(300, 100), {4}}))  // both counters rolled over
      .define(1, 20, {{5, 4, kU32}})
      .data(1, le32(100000))
      .data(1, le32(76));  // the distance of a new sport starts again
  Records second;
  second.define(0, 20, {{18, 1, kU8}}).data(0, {5});
  const auto messages = decode(cat({first.file(), second.file()}));
  ASSERT_EQ(messages.size(), 5u);
  const auto record = [](std::uint32_t speed, std::uint32_t distance, double total_distance,
                         std::uint64_t cycles, std::uint64_t total_cycles) {
    return std::vector<Expected>{
        {"compressed_speed_distance", std::vector<std::uint8_t>(speed_distance(speed, distance)),
         "m/s,m", 8},
        {"speed", speed / 100.0, "m/s", 0},
        {"distance", total_distance, "m", 0},
        {"cycles", u(cycles), "cycles", 18},
        {"total_cycles", u(total_cycles), "cycles", 0}};
  };
  expect_fields(messages[0], record(250, 4000, 4000 / 16.0, 250, 250), "first");
  expect_fields(messages[1], record(300, 100, (4000 + 196) / 16.0, 4, 260), "rolled over");
  expect_fields(messages[2], {{"distance", 1000.0, "m", 5}}, "direct distance");
  expect_fields(messages[3], {{"distance", 0.76, "m", 5}}, "direct distance reset");
  expect_fields(messages[4], {{"cycles", u(5), "cycles", 18}, {"total_cycles", u(5), "cycles", 0}},
                "a chained file counts afresh");
}

// hr event_timestamp_12 has ten 12-bit components; three bytes carry two of them. Array
// elements holding the invalid marker have no value, scaled or not.
TEST(FitTypedDecoder, HeartBeatComponentsAndArrays) {
  const std::uint32_t beats = 1024 | 3072u << 12;
  const Bytes file =
      Records()
          .define(0, 132, {{10, 3, kByte}, {9, 8, kU32}, {6, 3, kU8}})
          .data(0, cat({{std::uint8_t(beats), std::uint8_t(beats >> 8), std::uint8_t(beats >> 16)},
                        le32(2048),
                        le32(0xFFFFFFFF),
                        {70, 0xFF, 72}}))
          .file();
  const auto messages = decode(file);
  ASSERT_EQ(messages.size(), 1u);
  const Value raw_beats = std::vector<std::uint8_t>{0x00, 0x04, 0xC0};
  expect_fields(messages[0],
                {{"event_timestamp_12", raw_beats, "s,,,,,,,,,", 10},
                 {"event_timestamp", 1.0, "s", 0},
                 {"event_timestamp", 3.0, "", 0},
                 {"event_timestamp", ValueArray{2.0, Value()}, "s", 9},
                 {"filtered_bpm", ValueArray{u(70), Value(), u(72)}, "bpm", 6}},
                "hr");
}

// field_description for developer data index 0: number, base type, name, scale, offset, units.
Records& describe(Records& records, std::uint8_t number, std::uint8_t base_type,
                  std::string_view field_name, std::uint8_t scale, std::int8_t offset,
                  std::string_view units) {
  records.define(2, 206,
                 {{0, 1, kU8},
                  {1, 1, kU8},
                  {2, 1, kU8},
                  {3, 8, kStr},
                  {6, 1, kU8},
                  {7, 1, kS8},
                  {8, 4, kStr}});
  Bytes name_bytes = text(field_name), unit_bytes = text(units);
  name_bytes.resize(8);
  unit_bytes.resize(4);
  return records.data(
      2, cat({{0, number, base_type}, name_bytes, {scale, std::uint8_t(offset)}, unit_bytes}));
}

TEST(FitTypedDecoder, DeveloperFieldsNamedOnceDescribed) {
  Records records;
  records.define(0, 20, {{3, 1, kU8}}, {{5, 2, 0}, {6, 1, 0}});
  records.data(0, {120, 0xD2, 0x04, 9});
  describe(records, 5, 0x84, "power2", 10, -2, "W");
  describe(records, 6, 0x02, "steps", 1, 0, "");
  records.data(0, {121, 0xD2, 0x04, 9});
  const Bytes file = records.file();

  std::vector<Message> messages = decode(file);
  ASSERT_EQ(messages.size(), 4u);
  expect_fields(messages[0],
                {{"heart_rate", u(120), "bpm", 3},
                 {"developer_field", std::vector<std::uint8_t>{0xD2, 0x04}, "", 5},
                 {"developer_field", std::vector<std::uint8_t>{9}, "", 6}},
                "before the description");
  EXPECT_TRUE(messages[0].fields[1].developer && !messages[0].fields[0].developer);
  EXPECT_EQ(messages[1].name, "field_description");

  // The message outlives the decoder and its registry: the names live in the fields' owners.
  const Message after = messages[3];
  messages.clear();
  expect_fields(after,
                {{"heart_rate", u(121), "bpm", 3},
                 {"power2", 1234 / 10.0 + 2, "W", 5},
                 {"steps", u(9), "", 6}},
                "after the description");
  EXPECT_TRUE(after.fields[1].developer && after.fields[2].developer);
}

TEST(FitTypedDecoder, ReusedMessagesMatchFreshOnes) {
  Records records;
  records.define(0, 20, {{3, 1, kU8}}, {{5, 2, 0}});
  describe(records, 5, 0x84, "power2", 10, 0, "W");
  records.data(0, {1, 1, 0})
      .define(1, 0, {{8, 12, kStr}, {2, 2, kU16}, {1, 2, kU16}})
      .data(1, cat({text("name-longer"), {0}, le16(1036), le16(1)}))
      .data(0, {2, 2, 0})
      .define(3, 132, {{10, 3, kByte}, {6, 2, kU8}})
      .data(3, {1, 2, 3, 4, 5})
      .data(0, {3, 3, 0});
  const Bytes file = records.file();
  const auto fresh = decode(file);

  int observed = 0;
  TypedDecoder decoder = DecoderBuilder(file).observer([&](const Message&) { ++observed; }).build();
  Message reused;
  for (const Message& expected : fresh) {
    ASSERT_EQ(decoder.next(reused), true);
    ASSERT_EQ(reused.name, expected.name);
    ASSERT_EQ(reused.fields.size(), expected.fields.size()) << expected.name;
    for (std::size_t i = 0; i < expected.fields.size(); ++i) {
      const Field& a = reused.fields[i];
      const Field& b = expected.fields[i];
      EXPECT_TRUE(a.name == b.name && a.value == b.value && a.has_units == b.has_units &&
                  a.units == b.units && a.number == b.number && a.developer == b.developer &&
                  bool(a.owner) == bool(b.owner))
          << expected.name << " field " << i << " " << a.name;
    }
  }
  EXPECT_EQ(decoder.next(reused), false);
  EXPECT_EQ(observed, int(fresh.size()));
}

TEST(FitTypedDecoder, DecoderErrorsEndTheIteration) {
  std::optional<FitError> error;
  const Bytes file = Records().define(0, 20, {{3, 1, kU8}}).data(0, {1}).data(5, {}).file();
  EXPECT_EQ(decode(file, {}, &error).size(), 1u);
  EXPECT_EQ(error, FitError(UndefinedLocalMessage{5}));
}

// Counts messages until the end or an error, and fails if the decoder yields more messages
// than there are bytes (every data message takes at least its header byte).
void decode_to_the_end(const Bytes& bytes) {
  TypedDecoder decoder = DecoderBuilder(bytes).build();
  Message message;
  for (std::size_t count = 0;; ++count) {
    ASSERT_LE(count, bytes.size());
    const auto next = decoder.next(message);
    if (!next || !*next) break;
  }
  ASSERT_EQ(decoder.next(message), false);
}

TEST(FitTypedDecoder, BrokenInputEndsWithAResultOrAnError) {
  Records records;
  records.define(0, 20, {{253, 4, kU32}, {8, 3, kByte}, {2, 2, kU16}}, {{5, 2, 0}})
      .data(0, cat({le32(1000), speed_distance(1, 2), le16(2500), {1, 2}}))
      .compressed(0, 4, cat({speed_distance(3, 4), le16(2600), {3, 4}}));
  describe(records, 5, 0x84, "power2", 10, 0, "W");
  records.define(1, 0, {{8, 6, kStr}, {2, 2, kU16}, {1, 2, kU16}}, {}, true)
      .data(1, cat({text("edge"), {0, 0}, {0x04, 0x0C, 0, 1}}));
  std::vector<Bytes> inputs = {
      cat({records.file(), Records().define(0, 18, {{5, 1, kEnum}}).data(0, {1}).file(12)})};
  if (std::filesystem::is_directory(tramlix::corpus::kDir / "fit")) {
    std::ifstream in(tramlix::corpus::kDir / "fit" / "Activity.fit", std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::mt19937 random(20240601);
  for (const Bytes& input : inputs) {
    for (std::size_t size = 0; size <= input.size(); ++size) {
      decode_to_the_end(Bytes(input.begin(), input.begin() + size));
    }
    for (int i = 0; i < 3000; ++i) {
      Bytes flipped = input;
      for (int n = 1 + random() % 3; n > 0; --n) {
        flipped[random() % flipped.size()] ^= std::uint8_t(1u << random() % 8);
      }
      decode_to_the_end(flipped);
    }
  }
}

// Every file of the corpus whose frame is intact decodes to its end.
TEST(FitTypedDecoder, CorpusFilesDecodeToTheEnd) {
  SKIP_WITHOUT_CORPUS("fit");
  for (const auto& path : tramlix::corpus::files("fit")) {
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!check_integrity(bytes)) continue;  // nick.fit, the Strava file: broken frames
    std::optional<FitError> error;
    const auto messages = decode(bytes, {}, &error);
    EXPECT_FALSE(error) << path.filename() << ": " << error->display();
    EXPECT_FALSE(messages.empty()) << path.filename();
  }
}

}  // namespace
}  // namespace fit
