#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <utility>

#include "fit/decoder.hpp"
#include "fit/framing.hpp"
#include "fit_bytes.hpp"

namespace fit {
namespace {

using namespace testing;

// The published FIT method, four bits at a time: the reference for the sliced byte tables and the
// folding of long runs.
std::uint16_t nibble_crc(const Bytes& bytes, std::uint16_t crc = 0) {
  static constexpr std::uint16_t kTable[16] = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00,
                                               0x2800, 0xE401, 0xA001, 0x6C00, 0x7800, 0xB401,
                                               0x5000, 0x9C01, 0x8801, 0x4400};
  for (const std::uint8_t b : bytes) {
    for (const unsigned nibble : {b & 0xFu, unsigned(b >> 4)}) {
      crc = ((crc >> 4) & 0x0FFF) ^ kTable[crc & 0xF] ^ kTable[nibble];
    }
  }
  return crc;
}

TEST(FitCrc, TablesAndFoldingAgreeWithTheNibbleMethod) {
  EXPECT_EQ(crc16(text("123456789")), 0xBB3D);  // the CRC-16/ARC check value
  std::mt19937 random(7);
  // Around the sixteen-byte steps and the 64-byte folds; all ones, and runs not aligned.
  for (std::size_t size : {0,  1,   15,  16,  17,  31,  33,  63,   64,   65,     79,
                           80, 127, 128, 129, 143, 191, 192, 1000, 4096, 100'003}) {
    Bytes bytes(size);
    for (auto& b : bytes) b = std::uint8_t(random());
    if (size == 1000) std::fill(bytes.begin(), bytes.end(), 0xFF);
    if (size > 3) {
      const auto odd = std::span(bytes).subspan(3);
      EXPECT_EQ(crc16(odd, 0xBEEF), nibble_crc(Bytes(odd.begin(), odd.end()), 0xBEEF)) << size;
    }
    EXPECT_EQ(crc16(bytes), nibble_crc(bytes)) << size;
    EXPECT_EQ(crc16(bytes, 0x1234), nibble_crc(bytes, 0x1234)) << size;
    const auto half = std::span(bytes).first(size / 2);  // resuming equals one pass
    EXPECT_EQ(crc16(std::span(bytes).subspan(size / 2), crc16(half)), crc16(bytes));
  }
}

Bytes with_crc(const Bytes& bytes) {
  return cat({bytes, le16(crc16(bytes))});
}
// A 14-byte header for `data_size` bytes of records, with `crc` or else its correct CRC.
Bytes header14(std::uint32_t data_size, std::optional<std::uint16_t> crc = {}) {
  const Bytes head = cat({{14, 0x20}, le16(21200), le32(data_size), text(".FIT")});
  return cat({head, le16(crc.value_or(crc16(head)))});
}

TEST(FitIntegrity, ChecksInOrder) {
  const Bytes data = {0x40, 0, 0, 0, 0, 0};
  const Bytes good = with_crc(cat({header14(6), data}));
  const auto with = [&](std::size_t at, std::uint8_t value) {
    Bytes bytes = good;
    bytes[at] = value;
    return bytes;
  };
  const std::uint16_t head_crc = crc16(std::span(good).first(12));
  const std::uint16_t file_crc = crc16(std::span(good).first(good.size() - 2));
  const std::pair<Bytes, std::optional<FitError>> cases[] = {
      {good, {}},
      {Bytes(good.begin(), good.begin() + 11), FileTooShort{12, 11}},
      {with(0, 13), InvalidHeaderSize{13}},
      {Bytes(good.begin(), good.begin() + 13), FileTooShort{14, 13}},
      {with(9, 'G'), InvalidSignature{{'.', 'G', 'I', 'T'}}},
      {cat({header14(0xFFFFFFFF), data}), FileTooShort{14 + 0xFFFFFFFFull + 2, 20}},
      {cat({header14(6), data}), FileTooShort{22, 20}},
      // A wrong header CRC is found before the (also wrong) file CRC; 0 means none.
      {with_crc(cat({header14(6, 0x1299), data})), HeaderCrcMismatch{0x1299, head_crc}},
      {with_crc(cat({header14(6, 0), data})), {}},
      {with_crc(cat({{12, 0x10}, le16(100), le32(6), text(".FIT"), data})), {}},
      {with(good.size() - 1, 0), FileCrcMismatch{std::uint16_t(file_crc & 0xFF), file_crc}},
      {cat({good, {1, 2, 3}}), {}}};  // trailing bytes
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto result = check_integrity(cases[i].first);
    EXPECT_EQ(result ? std::nullopt : std::optional(result.error()), cases[i].second) << i;
  }
  EXPECT_EQ(FitError(FileCrcMismatch{171, 0xBEEF}).display(),
            "file CRC mismatch: stored 0x00AB, calculated 0xBEEF");
}

// Chained files: the integrity check looks at every file's CRCs, and it and the decoder agree
// on where the chain ends. Bytes behind a complete file that cannot begin another are padding.
TEST(FitIntegrity, EveryChainedFileAndTrailingBytes) {
  Records records;
  records.define(0, 20, {{3, 1, 2}}).data(0, {120});
  const Bytes one = records.file(), twelve = records.file(12);
  const auto damaged = [&](std::size_t at) {
    Bytes bytes = one;
    bytes[at] ^= 0x10;
    return bytes;
  };
  const std::uint16_t head_crc = crc16(std::span(one).first(12));
  const std::uint16_t file_crc = crc16(std::span(one).first(one.size() - 2));
  const Bytes bad_data = damaged(one.size() - 3);  // its last record byte
  const std::uint16_t bad_data_crc = crc16(std::span(bad_data).first(one.size() - 2));
  const Bytes signature_only = cat({{14, 0x20, 0, 0, 0, 0, 0, 0}, text(".FIT")});
  const struct {
    Bytes bytes;
    std::optional<FitError> error;
    std::size_t messages;  // that the decoder yields before the end or its error
  } cases[] = {
      {cat({one, twelve, one}), {}, 3},
      // The same faults, and the same words, as in the first file.
      {cat({one, damaged(one.size() - 1)}),
       FileCrcMismatch{std::uint16_t(file_crc ^ 0x1000), file_crc}, 2},
      {cat({one, damaged(12), one}), HeaderCrcMismatch{std::uint16_t(head_crc ^ 0x10), head_crc},
       3},
      {cat({one, one, bad_data}), FileCrcMismatch{file_crc, bad_data_crc}, 3},
      // Padding: fewer than 12 bytes, or no signature where a header has it.
      {cat({one, {1}}), {}, 1},
      {cat({one, {14, 0x20, 0, 0, 0, 0, 0, 0, '.', 'F', 'I'}}), {}, 1},
      {cat({one, twelve, Bytes(64, 0)}), {}, 2},
      {cat({one, Bytes(64, 0xFF)}), {}, 1},
      // With a signature it is a file: a damaged or cut short one fails the load.
      {cat({one, signature_only}), FileTooShort{14, 12}, 1},
      {cat({one, Bytes(one.begin(), one.end() - 1)}), FileTooShort{one.size(), one.size() - 1}, 1},
      {cat({one, {13}, Bytes(one.begin() + 1, one.end())}), InvalidHeaderSize{13}, 1},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const auto intact = check_integrity(c.bytes);
    EXPECT_EQ(intact ? std::nullopt : std::optional(intact.error()), c.error) << i;
    Decoder decoder(c.bytes);
    std::size_t messages = 0;
    std::expected<std::optional<RawMessage>, FitError> next;
    while ((next = decoder.next()) && *next) ++messages;
    EXPECT_EQ(messages, c.messages) << i;
    // The decoder checks no CRC: only framing faults are its errors.
    const bool framing =
        c.error && !c.error->get<FileCrcMismatch>() && !c.error->get<HeaderCrcMismatch>();
    EXPECT_EQ(next ? std::nullopt : std::optional(next.error()), framing ? c.error : std::nullopt)
        << i;
  }
}

}  // namespace
}  // namespace fit
