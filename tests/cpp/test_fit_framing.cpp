#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <stdexcept>
#include <string>

#include "fit/file_header.hpp"
#include "fit/framing.hpp"
#include "fit/stream.hpp"
#include "fit_bytes.hpp"

namespace fit {
namespace {

using testing::Bytes;
using testing::cat;
using testing::le16;
using testing::le32;
using testing::text;

// The published FIT method, four bits at a time: the reference for the byte-wide table.
std::uint16_t nibble_crc(const Bytes& bytes, std::uint16_t crc = 0) {
  static constexpr std::uint16_t kTable[16] = {0x0000, 0xCC01, 0xD801, 0x1400, 0xF001, 0x3C00,
                                               0x2800, 0xE401, 0xA001, 0x6C00, 0x7800, 0xB401,
                                               0x5000, 0x9C01, 0x8801, 0x4400};
  for (const std::uint8_t b : bytes) {
    for (const unsigned nibble : {b & 0xFu, unsigned(b >> 4)}) {
      const std::uint16_t tmp = kTable[crc & 0xF];
      crc = (crc >> 4) & 0x0FFF;
      crc = crc ^ tmp ^ kTable[nibble];
    }
  }
  return crc;
}

TEST(FitCrc, ByteTableAgreesWithNibbleMethod) {
  EXPECT_EQ(crc16(text("123456789")), 0xBB3D);  // the CRC-16/ARC check value
  std::mt19937 random(7);
  for (std::size_t size : {0, 1, 2, 13, 255, 4096}) {
    Bytes bytes(size);
    for (auto& b : bytes) b = std::uint8_t(random());
    EXPECT_EQ(crc16(bytes), nibble_crc(bytes)) << size;
    EXPECT_EQ(crc16(bytes, 0x1234), nibble_crc(bytes, 0x1234)) << size;
    // Resuming from an earlier CRC is the same as one pass.
    const auto half = std::span(bytes).first(size / 2);
    EXPECT_EQ(crc16(std::span(bytes).subspan(size / 2), crc16(half)), crc16(bytes));
  }
}

// A 14-byte header for `data_size` bytes of records, with a correct header CRC.
Bytes header14(std::uint32_t data_size) {
  const Bytes head = cat({{14, 0x20}, le16(21200), le32(data_size), text(".FIT")});
  return cat({head, le16(crc16(head))});
}
Bytes with_crc(const Bytes& bytes) {
  return cat({bytes, le16(crc16(bytes))});
}
Bytes with_byte(Bytes bytes, std::size_t at, std::uint8_t value) {
  bytes[at] = value;
  return bytes;
}

TEST(FitIntegrity, ChecksInOrder) {
  const Bytes data = {0x40, 0, 0, 0, 0, 0};
  const Bytes good = with_crc(cat({header14(6), data}));
  const Bytes head12 = cat({{12, 0x10}, le16(100), le32(6), text(".FIT")});
  const Bytes bad_header_crc = with_crc(cat({with_byte(header14(6), 12, 0x99), data}));
  const Bytes no_header_crc =
      with_crc(cat({with_byte(with_byte(header14(6), 12, 0), 13, 0), data}));
  const std::uint16_t good_crc = crc16(std::span(good).first(good.size() - 2));

  const struct {
    const char* name;
    Bytes bytes;
    std::optional<FitError> error;
  } cases[] = {
      {"valid", good, {}},
      {"empty", {}, FileTooShort{12, 0}},
      {"11 bytes", Bytes(good.begin(), good.begin() + 11), FileTooShort{12, 11}},
      {"header size 13", with_byte(good, 0, 13), InvalidHeaderSize{13}},
      {"shorter than its header", Bytes(good.begin(), good.begin() + 13), FileTooShort{14, 13}},
      {"signature", with_byte(good, 9, 'G'), InvalidSignature{{'.', 'G', 'I', 'T'}}},
      {"data size past the end", cat({header14(0xFFFFFFFF), data}),
       FileTooShort{14 + 0xFFFFFFFFull + 2, 20}},
      {"missing file CRC", cat({header14(6), data}), FileTooShort{22, 20}},
      // A wrong header CRC is found before the (also wrong) file CRC.
      {"header CRC", bad_header_crc,
       HeaderCrcMismatch{std::uint16_t(0x0099 | good[13] << 8), crc16(std::span(good).first(12))}},
      {"header CRC 0 is not checked", no_header_crc, {}},
      {"12-byte header", with_crc(cat({head12, data})), {}},
      {"file CRC", with_byte(good, good.size() - 1, 0),
       FileCrcMismatch{std::uint16_t(good_crc & 0xFF), good_crc}},
      {"trailing bytes", cat({good, {1, 2, 3}}), {}},
  };
  for (const auto& c : cases) {
    const auto result = check_integrity(c.bytes);
    if (c.error) {
      ASSERT_FALSE(result) << c.name;
      EXPECT_EQ(result.error(), *c.error) << c.name << ": " << result.error().display();
    } else {
      EXPECT_TRUE(result) << c.name << ": " << result.error().display();
    }
  }
}

TEST(FitIntegrity, MismatchPrintsFourHexDigits) {
  EXPECT_EQ(FitError(FileCrcMismatch{171, 0xBEEF}).display(),
            "file CRC mismatch: stored 0x00AB, calculated 0xBEEF");
}

TEST(FitStreams, ShortReadsReportWhereTheyBeganAndMoveNothing) {
  const Bytes bytes = {1, 2, 3};
  InputStream in(bytes);
  EXPECT_EQ(*in.read_u16(true), 0x0102);
  EXPECT_EQ(in.read_u16(false).error(), FitError(UnexpectedEof{2}));
  EXPECT_EQ(in.read_bytes(2).error(), FitError(UnexpectedEof{2}));
  EXPECT_EQ(in.position(), 2u);
  EXPECT_EQ(*in.read_u8(), 3);
  EXPECT_EQ(in.read_u8().error(), FitError(UnexpectedEof{3}));
}

TEST(FitStreams, WrittenFilesPassTheIntegrityCheck) {
  OutputStream out;
  out.append_u8(0xEE);  // a file need not start the buffer
  const std::size_t start = begin_file(out, 0x20, 21200);
  finish_file(out, start);
  const auto empty = std::span(out.bytes()).subspan(start);
  EXPECT_EQ(empty.size(), 16u);
  EXPECT_TRUE(check_integrity(empty));

  const std::size_t second = begin_file(out, 0x20, 21200);
  out.append_bytes(Bytes{0x40, 0, 0, 20, 0, 0});
  out.append_u16_le(0xABCD);
  out.append_u32_le(0x01020304);
  finish_file(out, second);
  const auto file = std::span(out.bytes()).subspan(second);
  EXPECT_TRUE(check_integrity(file));
  const auto header = read_file_header(out.bytes(), second);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->data_size, 12u);
  EXPECT_EQ(Bytes(file.begin() + 20, file.begin() + 26), (Bytes{0xCD, 0xAB, 4, 3, 2, 1}));

  EXPECT_THROW(out.overwrite_u32_le(out.size() - 3, 0), std::out_of_range);
}

}  // namespace
}  // namespace fit
