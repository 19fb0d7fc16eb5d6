#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "corpus.hpp"
#include "fit/field_reader.hpp"
#include "fit/typed_decoder.hpp"
#include "fit_bytes.hpp"

namespace fit {
namespace {

using namespace testing;
using Lines = std::vector<std::string>;

constexpr std::uint8_t kEnum = 0x00, kS8 = 0x01, kU8 = 0x02, kU16 = 0x84, kU32 = 0x86, kStr = 0x07,
                       kByte = 0x0D;

// 7 unsigned, i7 signed, 7.0 float, 'x' text, <07> bytes, @ and Unix seconds a time, a bare
// name an enumeration value, - none, [..] an array.
void show(const Value& value, std::string& out) {
  if (const auto* v = value.get<std::uint64_t>()) out += std::to_string(*v);
  if (const auto* v = value.get<std::int64_t>()) out.append("i").append(std::to_string(*v));
  if (const auto* v = value.get<double>()) {
    char buffer[32];
    const std::string_view s(buffer, std::to_chars(buffer, buffer + 32, *v).ptr);
    out.append(s).append(s.find_first_of(".e") == s.npos ? ".0" : "");
  }
  if (const auto* v = value.get<std::string>()) out.append("'").append(*v).append("'");
  if (const auto* v = value.get<std::vector<std::uint8_t>>()) out += hex(*v);
  if (const auto* v = value.get<EnumName>()) out += v->view();
  if (auto* v = value.get<Timestamp>()) out.append("@").append(std::to_string(v->unix_seconds));
  if (value.is_invalid()) out += "-";
  if (const auto* v = value.get<ValueArray>()) {
    for (const Value& element : *v) show(element, out.append(&element == &v->front() ? "[" : ","));
    out += "]";
  }
}

// "record: timestamp#253=@631066600 s; enhanced_altitude=0.0 m": fields with their numbers
// (0 left out), values and units; + marks a developer field, & one whose texts its owner keeps
// alive (they outlive the decoder).
std::string show(const Message& m) {
  std::string out(m.name);
  if (m.name == "unknown") out.append("/").append(std::to_string(m.global_number));
  for (const Field& f : m.fields) {
    out.append(&f == &m.fields[0] ? ": " : "; ").append(f.developer ? "+" : "");
    out.append(f.owner ? "&" : "").append(f.name);
    if (f.number) out.append("#").append(std::to_string(f.number));
    show(f.value, out.append("="));
    if (f.has_units && !f.units.empty()) out.append(" ").append(f.units);
  }
  return out;
}

using Flag = DecoderBuilder& (DecoderBuilder::*)(bool);

// Every message, then the error if decoding failed. Decodes into fresh messages, and again into
// one reused message that the observer sees: the two must agree.
Lines decode(const Bytes& bytes, Flag off = nullptr) {
  DecoderBuilder builder(bytes);
  if (off) (builder.*off)(false);
  TypedDecoder fresh = builder.build();
  Lines lines, observed;
  for (auto next = fresh.next(); (!next || *next) && lines.size() <= bytes.size();
       next = fresh.next()) {
    lines.push_back(next ? show(**next) : next.error().display().insert(0, "error: "));
    if (!next) break;
  }
  EXPECT_EQ(fresh.next(), std::nullopt) << "an error is reported once, then the end";
  EXPECT_LE(lines.size(), bytes.size() + 1) << "every message takes a byte at least";
  builder.observer([&](const Message& m) { observed.push_back(show(m)); });
  TypedDecoder reused = builder.build();
  Message message;
  std::expected<bool, FitError> more;
  while ((more = reused.next(message)) && *more && observed.size() <= bytes.size()) {
  }
  if (!more) observed.push_back(more.error().display().insert(0, "error: "));
  EXPECT_EQ(observed, lines) << "a reused message";
  return lines;
}

// Messages that exercise every transform, in chained files; the last ends in an error.
Bytes typed_file() {
  // A big-endian record at 1000, then time offsets 8 (1000 again) and 4 (1000 - 8 + 32 + 4).
  Records r;
  r.define(0, 20, {{253, 4, kU32}, {2, 2, kU16}}, {}, true).data(0, {0, 0, 3, 0xE8, 9, 0xC4});
  r.compressed(0, 8, {9, 0xC4}).compressed(0, 4, {9, 0xC4});
  r.define(1, 18, {{5, 1, kEnum}}).data(1, {1}).data(1, {200});
  // product before the manufacturer that selects its subfield
  r.define(2, 0, {{2, 2, kU16}, {1, 2, kU16}}).data(2, cat({le16(1036), le16(1)}));
  r.data(2, cat({le16(10), le16(263)})).data(2, cat({le16(1036), le16(3)}));
  r.define(3, 0xFF01, {{5, 1, kEnum}, {6, 1, kStr}}).data(3, {1, 'x'});
  // Sizes that do not fit their types (a uint32 of one byte) are read as bytes.
  r.define(3, 21, {{3, 1, kU32}, {4, 3, kU16}, {5, 0, kU16}, {6, 0, kStr}}).data(3, {9, 1, 2, 3});
  // speed and distance in 12 bits each: 250 and 4000, then 300 and 100 (rolled over)
  r.define(0, 20, {{8, 3, kByte}}).data(0, {0xFA, 0x00, 0xFA}).data(0, {0x2C, 0x41, 0x06});
  r.define(1, 20, {{18, 1, kU8}}).data(1, {250}).data(1, {4});  // cycles in 8 bits
  r.define(2, 20, {{5, 4, kU32}}).data(2, le32(100000)).data(2, le32(76));
  // hr event_timestamp_12 has ten 12-bit components; three bytes carry two (1024, 3072)
  r.define(3, 132, {{10, 3, kByte}, {9, 8, kU32}, {6, 3, kU8}});
  r.data(3, cat({{0x00, 0x04, 0xC0}, le32(2048), le32(0xFFFFFFFF), {70, 0xFF, 72}}));
  // Developer fields before and after their descriptions, which hold for one data index each.
  const std::initializer_list<Def> description = {
      {0, 1, kU8}, {1, 1, kU8}, {2, 1, kU8}, {3, 6, kStr}, {6, 1, kU8}, {7, 1, kS8}, {8, 1, kStr}};
  r.define(0, 20, {{3, 1, kU8}}, {{5, 2, 0}, {6, 1, 1}, {5, 1, 2}}).data(0, {120, 0xD2, 4, 9, 7});
  r.define(1, 206, description).data(1, cat({{0, 5, kU16}, text("power2"), {10, 0xFE, 'W'}}));
  r.data(1, cat({{1, 6, kU8}, text("steps"), {0, 1, 0, 0}})).data(0, {121, 0xD2, 4, 9, 7});
  // A chained file starts with no time (a message defined without one gets it from its header),
  // no counts and no definitions.
  Records second;
  second.define(1, 21, {{0, 1, kEnum}}).compressed(1, 7, {0});
  second.define(0, 20, {{18, 1, kU8}}).data(0, {5}).data(3, {});
  return cat({r.file(), second.file(12)});
}

TEST(FitTypedDecoder, Messages) {
  const Lines all = {
      "record: timestamp#253=@631066600 s; altitude#2=0.0 m; enhanced_altitude=0.0 m",
      "record: timestamp#253=@631066600 s; altitude#2=0.0 m; enhanced_altitude=0.0 m",
      "record: timestamp#253=@631066628 s; altitude#2=0.0 m; enhanced_altitude=0.0 m",
      "session: sport#5=running", "session: sport#5=200",
      "file_id: garmin_product#2=edge500; manufacturer#1=garmin",
      "file_id: favero_product#2=assioma_uno; manufacturer#1=favero_electronics",
      "file_id: product#2=1036; manufacturer#1=zephyr", "unknown/65281: unknown#5=1; unknown#6='x'",
      "event: data#3=<09>; event_group#4=<01 02 03>; unknown#5=<>; unknown#6=-",
      "record: compressed_speed_distance#8=<fa 00 fa> m/s,m; speed=2.5 m/s; distance=250.0 m",
      "record: compressed_speed_distance#8=<2c 41 06> m/s,m; speed=3.0 m/s; distance=262.25 m",
      "record: cycles#18=250 cycles; total_cycles=250 cycles",
      "record: cycles#18=4 cycles; total_cycles=260 cycles",
      // Given whole, a distance is a total already: the distance of a new sport restarts.
      "record: distance#5=1000.0 m", "record: distance#5=0.76 m",
      // Only the components the bytes carry; array elements with the invalid marker have no value.
      "hr: event_timestamp_12#10=<00 04 c0> s,,,,,,,,,; event_timestamp=1.0 s; "
      "event_timestamp=3.0; event_timestamp#9=[2.0,-] s; filtered_bpm#6=[70,-,72] bpm",
      "record: heart_rate#3=120 bpm; +developer_field#5=<d2 04>; +developer_field#6=<09>; "
      "+developer_field#5=<07>",
      "field_description: developer_data_index=0; field_definition_number#1=5; "
      "fit_base_type_id#2=uint16; field_name#3='power2'; scale#6=10; offset#7=i-2; units#8='W'",
      "field_description: developer_data_index=1; field_definition_number#1=6; "
      "fit_base_type_id#2=uint8; field_name#3='steps'; scale#6=1; offset#7=i0; units#8=-",
      "record: heart_rate#3=121 bpm; +&power2#5=125.4 W; +&steps#6=9; +developer_field#5=<07>",
      "event: event=timer; timestamp#253=@631065607 s",
      "record: cycles#18=5 cycles; total_cycles=5 cycles",
      "error: data message uses undefined local message number 3"};
  const Bytes file = typed_file();
  EXPECT_EQ(decode(file), all);
  const std::tuple<Flag, std::size_t, std::string> cases[] = {
      {&DecoderBuilder::convert_date_times, 0,
       "record: timestamp#253=1000 s; altitude#2=0.0 m; enhanced_altitude=0.0 m"},
      {&DecoderBuilder::apply_scale_and_offset, 0,
       "record: timestamp#253=@631066600 s; altitude#2=2500 m; enhanced_altitude=2500 m"},
      {&DecoderBuilder::expand_components, 0,
       "record: timestamp#253=@631066600 s; altitude#2=0.0 m"},
      {&DecoderBuilder::name_enumeration_values, 3, "session: sport#5=1"},
      {&DecoderBuilder::select_subfields, 5, "file_id: product#2=1036; manufacturer#1=garmin"}};
  for (const auto& [off, at, line] : cases) EXPECT_EQ(decode(file, off).at(at), line);
  // A bad base type, and a record cut short: the error is where the first field that does not fit
  // begins (14 + 12 + 1 + 4; the two bytes of data and the CRC's two fill the first).
  EXPECT_EQ(decode(Records().define(0, 20, {{1, 1, 0x31}}).file()),
            (Lines{"error: unknown base type byte 0x31 (after masking, code 0x11)"}));
  EXPECT_EQ(decode(Records().define(0, 20, {{253, 4, kU32}, {3, 4, kU32}}).data(0, {1, 2}).file()),
            (Lines{"error: unexpected end of stream at offset 31"}));
}

// Truncated or damaged, a file ends in messages and perhaps an error (decode checks the rest).
TEST(FitTypedDecoder, BrokenInputEndsWithAResultOrAnError) {
  const Bytes input = typed_file();
  std::mt19937 random(20240601);
  for (std::size_t i = 0; i < input.size() + 3000; ++i) {
    Bytes damaged(input.begin(), input.begin() + std::min(i, input.size()));  // every prefix
    for (int n = i < input.size() ? 0 : 1 + random() % 3; n > 0; --n) {
      damaged[random() % damaged.size()] ^= std::uint8_t(1u << random() % 8);
    }
    decode(damaged);
  }
}

// The record fields a FieldReader reads in these tests: an activity's, and totals of components.
constexpr std::string_view kWanted[] = {
    "timestamp", "position_lat", "position_long",  "altitude",   "enhanced_altitude",
    "distance",  "speed",        "enhanced_speed", "heart_rate", "cadence",
    "power",     "temperature",  "total_cycles",   "grade"};

// Reads the records of `bytes` with a FieldReader while a second decoder decodes every message in
// full: each record read must give the wanted fields of the decoded message that hold a value,
// in order, with equal values. Records the reader leaves are decoded, as its users do. Returns
// the records read and all records.
std::pair<std::size_t, std::size_t> read_alike(const Bytes& bytes) {
  TypedDecoder direct = DecoderBuilder(bytes).build(), typed = DecoderBuilder(bytes).build();
  FieldReader reader(20, kWanted);
  RawRecord record;
  Message message, decoded;
  std::size_t read = 0, records = 0;
  for (;;) {
    const auto more = direct.next(record);
    const auto expected = typed.next(message);
    EXPECT_EQ(more.has_value(), expected.has_value());
    if (!more || !*more || !expected || !*expected) break;
    records += message.name == "record";
    const auto readings = reader.read(record, direct);
    if (!readings) {
      EXPECT_TRUE(direct.decode(record, decoded));
      continue;
    }
    ++read;
    std::string want, got;
    for (const Field& f : message.fields) {
      if (f.developer || f.value.is_invalid()) continue;
      if (std::find(std::begin(kWanted), std::end(kWanted), f.name) == std::end(kWanted)) continue;
      show(f.value, want.append(" ").append(f.name).append("="));
    }
    for (const FieldReader::Reading& r : *readings) {
      show(r.value.to_value(), got.append(" ").append(kWanted[r.field]).append("="));
    }
    EXPECT_EQ(got, want) << show(message);
  }
  return {read, records};
}

TEST(FitFieldReader, ReadsWhatTheTypedDecoderGives) {
  // Big-endian and compressed-timestamp records, components with running totals, developer
  // fields, a chained file: every record of it is read.
  EXPECT_EQ(read_alike(typed_file()), (std::pair<std::size_t, std::size_t>(12, 12)));
  // What the reader leaves to decode(): a field of several elements, a text, a name.
  Records arrays, texts, bytes;
  arrays.define(0, 20, {{3, 1, kU8}, {0, 8, 0x85}}).data(0, Bytes(9, 1));
  texts.define(0, 20, {{6, 3, kStr}}).data(0, {'1', '2', 0});
  bytes.define(0, 20, {{3, 1, kU8}, {2, 1, kByte}}).data(0, {1, 2});
  for (const Records* r : {&arrays, &texts, &bytes}) EXPECT_EQ(read_alike(r->file()).first, 0u);
  // More layouts than the reader keeps plans for, each seen twice, local types taking turns.
  Records layouts;
  for (int round = 0; round < 2; ++round) {
    for (std::uint8_t k = 0; k < 70; ++k) {
      layouts.define(k % 3, 20, {{250, std::uint8_t(k + 1), kByte}, {3, 1, kU8}, {2, 2, kU16}});
      layouts.data(k % 3, cat({Bytes(k + 1, k), {k, k, 9}}));
    }
  }
  EXPECT_EQ(read_alike(layouts.file()), (std::pair<std::size_t, std::size_t>(140, 140)));
  // A field with a named value (a record's activity_type) is read when it is not wanted only.
  Records r;
  r.define(0, 20, {{42, 1, kEnum}, {3, 1, kU8}}).data(0, {1, 2});
  EXPECT_EQ(read_alike(r.file()).first, 1u);
  const std::string_view named[] = {"activity_type"};
  const Bytes file = r.file();
  TypedDecoder decoder = DecoderBuilder(file).build();
  FieldReader reader(20, named);
  RawRecord record;
  ASSERT_TRUE(decoder.next(record).value());
  EXPECT_FALSE(reader.read(record, decoder));

  SKIP_WITHOUT_CORPUS("fit");
  std::size_t read = 0, records = 0;
  for (const char* folder : {"fit", "fit/invalid"}) {
    for (const auto& path : tramlix::corpus::files(folder)) {
      std::ifstream in(path, std::ios::binary);
      const auto [file_read, file_records] =
          read_alike(Bytes(std::istreambuf_iterator<char>(in), {}));
      read += file_read, records += file_records;
    }
  }
  EXPECT_EQ(read, records);
}

}  // namespace
}  // namespace fit

namespace fit {
namespace {

std::vector<Message> decode_all(const Bytes& file) {
  std::vector<Message> messages;
  TypedDecoder decoder = DecoderBuilder(file).build();
  while (auto message = decoder.next()) {
    if (!*message) break;
    messages.push_back(std::move(**message));
  }
  return messages;
}

// Components count on from a total the file gives in full, and an enumeration's values get
// their names wherever they come from: a component, an array element. Developer fields are
// read in their message's byte order.
TEST(FitTypedDecoder, ComponentsContinueTotalsAndNameValues) {
  Records r;
  // hr: event_timestamp in full (100 s in 1/1024 s), then two 12-bit counts on from it.
  r.define(0, 132, {{9, 4, kU32}}).data(0, le32(102400));
  r.define(1, 132, {{10, 3, kByte}}).data(1, {0x00, 0x02, 0x40});
  // monitoring: current_activity_type_intensity 0xE8 is activity_type 8 and intensity 7.
  r.define(2, 55, {{24, 1, kByte}}).data(2, {0xE8});
  // monitoring_info: activity_type is an array of enumeration values.
  r.define(3, 103, {{1, 2, kEnum}}).data(3, {6, 1});
  // A developer field described as sint32, in a big-endian message.
  r.define(4, 207, {{3, 1, kU8}}).data(4, {0});
  r.define(5, 206, {{0, 1, kU8}, {1, 1, kU8}, {2, 1, kU8}, {3, 4, kStr}})
      .data(5, cat({{0, 0, 0x85}, text("cal"), {0}}));
  r.define(6, 20, {{3, 1, kU8}}, {{0, 4, 0}}, true).data(6, {120, 0, 0, 0, 0xA1});
  const std::vector<Message> messages = decode_all(r.file());
  ASSERT_EQ(messages.size(), 7u);
  EXPECT_EQ(show(messages[1]),
            "hr: event_timestamp_12#10=<00 02 40> s,,,,,,,,,; event_timestamp=100.5 s; "
            "event_timestamp=101.0");
  EXPECT_EQ(show(messages[2]),
            "monitoring: current_activity_type_intensity#24=<e8>; activity_type=sedentary; "
            "intensity=7");
  EXPECT_EQ(show(messages[3]), "monitoring_info: activity_type#1=[walking,running]");
  EXPECT_EQ(show(messages[6]), "record: heart_rate#3=120 bpm; +&cal=i161");
}

}  // namespace
}  // namespace fit

namespace fit {
namespace {

// Messages of one definition share a layout only while their fields have the same names: a
// subfield chosen by another field's value, or a value too short or invalid to give its
// components, lays a message out anew.
TEST(FitTypedDecoder, MessagesShareALayoutOnlyWithTheSameFields) {
  Records r;
  // event: event, event_type, data (timer_trigger for a timer event, gear_change_data with four
  // components for a rear gear change).
  r.define(0, 21, {{0, 1, kEnum}, {1, 1, kEnum}, {3, 4, kU32}});
  const auto event = [&](std::uint8_t kind, std::uint32_t data) {
    r.data(0, cat({{kind, 3}, le32(data)}));
  };
  event(0, 1);
  event(0, 2);
  event(43, 0x01020304);
  event(43, 0x05060708);
  event(43, 0xFFFFFFFF);  // no value: no components
  event(43, 0x01020304);
  event(0, 1);
  // hr: event_timestamp_12 as bytes gives one component per 12 bits it holds.
  r.define(1, 132, {{10, 3, kByte}});
  r.data(1, {0x00, 0x02, 0x40}).data(1, {0xFF, 0xFF, 0xFF}).data(1, {0x01, 0x02, 0x40});
  const std::vector<Message> messages = decode_all(r.file());
  ASSERT_EQ(messages.size(), 10u);
  const auto keys = [](const Message& m) {
    std::vector<std::pair<std::string_view, std::uint8_t>> out;
    for (const Field& f : m.fields) out.emplace_back(f.name, f.number);
    return out;
  };
  for (std::size_t i = 0; i < messages.size(); ++i) {
    EXPECT_NE(messages[i].layout, 0u) << i;
    for (std::size_t j = 0; j < i; ++j) {
      if (messages[i].layout == messages[j].layout) {
        EXPECT_EQ(keys(messages[i]), keys(messages[j])) << j << " and " << i;
      }
    }
  }
  // A message laid out as the one before keeps its layout.
  EXPECT_EQ(messages[1].layout, messages[0].layout);
  EXPECT_EQ(messages[3].layout, messages[2].layout);
  EXPECT_NE(messages[4].layout, messages[3].layout);
  EXPECT_NE(messages[5].layout, messages[4].layout);
  EXPECT_NE(messages[8].layout, messages[7].layout);
  EXPECT_NE(messages[9].layout, messages[8].layout);
}

}  // namespace
}  // namespace fit
