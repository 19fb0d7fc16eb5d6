#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "fit/decoder.hpp"
#include "fit_bytes.hpp"

namespace fit {
namespace {

using namespace base_type;
using testing::Bytes;
using testing::cat;
using testing::le16;
using testing::le32;
using testing::Records;

constexpr std::uint8_t kU8 = 0x02, kU16 = 0x84, kU32 = 0x86, kStr = 0x07;

// Every message until the end, or until the first error (then `error` holds it).
std::vector<RawMessage> decode_all(const Bytes& bytes, std::optional<FitError>* error = nullptr) {
  Decoder decoder(bytes);
  std::vector<RawMessage> messages;
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

std::optional<std::uint64_t> field_value(const RawMessage& message, std::uint8_t number) {
  for (const RawField& field : message.fields) {
    if (field.number == number && field.value.is_scalar()) return field.value.scalar_bits();
  }
  return std::nullopt;
}

TEST(FitDecoder, BigEndianDefinitionsAndRedefinition) {
  Records records;
  records.define(0, 20, {{253, 4, kU32}, {2, 2, kU16}}, {}, /*big_endian=*/true)
      .data(0, {0, 0, 0x03, 0xE8, 0x09, 0xC4})
      .define(0, 18, {{2, 2, kU16}})  // local type 0 now means a session, little-endian
      .data(0, le16(0x0102));
  const auto messages = decode_all(records.file());
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].global_number, 20);
  EXPECT_EQ(field_value(messages[0], 253), 1000u);
  EXPECT_EQ(field_value(messages[0], 2), 2500u);
  EXPECT_EQ(messages[1].global_number, 18);
  EXPECT_EQ(field_value(messages[1], 2), 0x0102u);
}

TEST(FitDecoder, DeveloperFieldsAndWideDefinitions) {
  // 255 fields of one byte each, plus two developer fields.
  Bytes definition = {0, 0, 20, 0, 255};
  Bytes body;
  for (int i = 0; i < 255; ++i) {
    definition.insert(definition.end(), {std::uint8_t(i), 1, kU8});
    body.push_back(std::uint8_t(i));
  }
  definition.insert(definition.end(), {2, 7, 2, 2, 3, 1, 0});
  Records records;
  records.record(0x60, definition).data(0, cat({body, {0xAA, 0xBB, 0xCC}}));
  const auto messages = decode_all(records.file());
  ASSERT_EQ(messages.size(), 1u);
  ASSERT_EQ(messages[0].fields.size(), 255u);
  EXPECT_EQ(field_value(messages[0], 254), 254u);
  ASSERT_EQ(messages[0].developer_fields.size(), 2u);
  EXPECT_EQ(messages[0].developer_fields[0].developer_data_index, 2);
  EXPECT_EQ(Bytes(messages[0].developer_fields[0].bytes.begin(),
                  messages[0].developer_fields[0].bytes.end()),
            (Bytes{0xAA, 0xBB}));
  EXPECT_EQ(messages[0].developer_fields[1].number, 3);
  EXPECT_EQ(messages[0].developer_fields[1].bytes.size(), 1u);
}

TEST(FitDecoder, CompressedTimestamps) {
  Records records;
  records.define(0, 20, {{253, 4, kU32}, {3, 1, kU8}})
      .define(1, 21, {{0, 1, kU8}})  // no timestamp field
      .compressed(0, 7, {60})        // before any timestamp: counts from 0
      .data(0, cat({le32(1000), {61}}))
      .compressed(0, 3, {62})   // 1000 has low bits 8: 1000 - 8 + 32 + 3
      .compressed(0, 10, {63})  // 1027 has low bits 3: 1027 - 3 + 10
      .compressed(1, 5, {64});
  const auto messages = decode_all(records.file());
  ASSERT_EQ(messages.size(), 5u);
  const std::uint64_t expected[] = {7, 1000, 1027, 1034};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(field_value(messages[i], 253), expected[i]) << i;
    // Field 253 takes no bytes in a compressed message: the next field still reads right.
    EXPECT_EQ(field_value(messages[i], 3), 60u + i) << i;
    EXPECT_EQ(messages[i].fields[0].value.type(), kUint32);
  }
  // Defined without a timestamp field, a compressed record still gets its time (1034 + 5 - 10
  // wraps into the next 32-second window): the header carries it.
  ASSERT_EQ(messages[4].fields.size(), 2u);
  EXPECT_EQ(field_value(messages[4], 0), 64u);
  EXPECT_EQ(field_value(messages[4], 253), 1061u);

  Records wrap;
  wrap.define(0, 20, {{253, 4, kU32}}).data(0, le32(1002)).compressed(0, 10, {});
  EXPECT_EQ(field_value(decode_all(wrap.file())[1], 253), 1002u);
}

TEST(FitDecoder, ChainedFilesStartAfresh) {
  Records first;
  first.define(0, 20, {{253, 4, kU32}}).data(0, le32(5000)).data(0, le32(5001));
  Records second;
  second.define(0, 20, {{253, 4, kU32}}).compressed(0, 4, {});
  const auto messages = decode_all(cat({first.file(), second.file(12)}));
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_FALSE(messages[0].new_file);
  EXPECT_FALSE(messages[1].new_file);
  EXPECT_TRUE(messages[2].new_file);
  EXPECT_EQ(field_value(messages[2], 253), 4u) << "the last timestamp is forgotten";

  // The second file cannot use the first one's definitions.
  Records orphan;
  orphan.data(0, le32(1));
  std::optional<FitError> error;
  EXPECT_EQ(decode_all(cat({first.file(), orphan.file()}), &error).size(), 2u);
  EXPECT_EQ(error, FitError(UndefinedLocalMessage{0}));
}

TEST(FitDecoder, Failures) {
  const Bytes good =
      Records().define(0, 20, {{253, 4, kU32}, {3, 1, kU8}}).data(0, cat({le32(7), {1}})).file();
  const std::size_t data_start = 14;
  const std::size_t message_start = data_start + 12;
  const struct {
    const char* name;
    Bytes bytes;
    std::size_t messages;
    std::optional<FitError> error;
  } cases[] = {
      {"valid", good, 1, {}},
      {"missing CRC after the last file", Bytes(good.begin(), good.end() - 2), 0,
       FileTooShort{good.size(), good.size() - 2}},
      {"undefined local type", Records().data(3, {}).file(), 0, UndefinedLocalMessage{3}},
      {"undefined compressed local type", Records().compressed(2, 0, {}).file(), 0,
       UndefinedLocalMessage{2}},
      {"unknown base type", Records().define(0, 20, {{1, 1, 0x31}}).file(), 0,
       UnknownBaseType{0x31, 0x11}},
      {"data size far past the end",
       cat({Bytes(good.begin(), good.begin() + 4), le32(1u << 30),
            Bytes(good.begin() + 8, good.end())}),
       0, FileTooShort{14 + (1u << 30) + 2, good.size()}},
      {"empty input", {}, 0, FileTooShort{12, 0}},
  };
  for (const auto& c : cases) {
    std::optional<FitError> error;
    EXPECT_EQ(decode_all(c.bytes, &error).size(), c.messages) << c.name;
    EXPECT_EQ(error, c.error) << c.name << ": " << (error ? error->display() : "");
  }

  // A record cut inside its second field reports where that field begins. The data section is
  // left whole and only the file's CRC region is garbage, so the header still reads.
  Records cut;
  cut.define(0, 20, {{253, 4, kU32}, {3, 4, kU32}}).record(0, le32(1));
  Bytes bytes = cut.file();
  bytes.resize(bytes.size() - 2);
  bytes = cat({Bytes(bytes.begin(), bytes.begin() + 4), le32(std::uint32_t(bytes.size() - 14 - 2)),
               Bytes(bytes.begin() + 8, bytes.end())});
  bytes[12] = bytes[13] = 0;
  std::optional<FitError> error;
  decode_all(bytes, &error);
  EXPECT_EQ(error, FitError(UnexpectedEof{message_start + 1 + 4}));
}

// A field whose size does not fit its type (devices write a uint32 of one byte) is read as
// bytes rather than failing the file.
TEST(FitDecoder, MisalignedFieldsReadAsBytes) {
  Records records;
  records.define(0, 21, {{3, 1, kU32}, {4, 3, kU16}, {5, 0, kU16}, {6, 0, kStr}})
      .data(0, {9, 1, 2, 3});
  const auto messages = decode_all(records.file());
  ASSERT_EQ(messages.size(), 1u);
  const auto& fields = messages[0].fields;
  EXPECT_EQ(fields[0].value, RawValue::bytes(Bytes{9}));
  EXPECT_EQ(fields[1].value, RawValue::bytes(Bytes{1, 2, 3}));
  EXPECT_EQ(fields[2].value, RawValue::bytes(Bytes{}));
  EXPECT_TRUE(fields[3].value.is_invalid());
}

}  // namespace
}  // namespace fit
