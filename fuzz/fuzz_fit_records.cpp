// libFuzzer target for the FIT decoders behind a valid frame: the input is the data records of
// a FIT file, wrapped in a header and file CRC that check out, so that mutations reach the
// message decoder, the typed decoder and the mapping instead of stopping at the checksum. What
// loads is written as FIT and read back.
//
// The first byte chooses the frame: bit 0 a 12-byte header (no header CRC) instead of 14 bytes,
// bit 1 protocol version 1.0 instead of 2.0. The rest are the records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "tramlix/io.hpp"

namespace {

// The FIT checksum: CRC-16/ARC, reflected polynomial 0xA001, no final XOR.
std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

std::vector<std::uint8_t> framed(std::uint8_t choice, std::span<const std::uint8_t> records) {
  const bool short_header = choice & 1;
  const std::uint8_t protocol = (choice & 2) ? 0x10 : 0x20;
  std::vector<std::uint8_t> file;
  file.reserve(records.size() + 16);
  file.push_back(short_header ? 12 : 14);
  file.push_back(protocol);
  put16(file, 21200);  // profile version
  const auto size = static_cast<std::uint32_t>(records.size());
  put16(file, static_cast<std::uint16_t>(size));
  put16(file, static_cast<std::uint16_t>(size >> 16));
  file.insert(file.end(), {'.', 'F', 'I', 'T'});
  if (!short_header) put16(file, crc16(file));
  file.insert(file.end(), records.begin(), records.end());
  put16(file, crc16(file));
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using tramlix::Format;
  if (size == 0) return 0;
  const std::vector<std::uint8_t> file = framed(data[0], std::span(data + 1, size - 1));
  auto read = tramlix::loads(file, Format::Fit);
  if (!read) {
    (void)read.error().display();
    return 0;
  }
  (void)tramlix::to_json(*read);
  auto bytes = tramlix::dumps(*read, Format::Fit);
  if (!bytes) std::abort();  // every model has a FIT file
  const std::span written(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size());
  auto again = tramlix::loads(written, Format::Fit);
  if (!again || again->point_count() != read->point_count()) std::abort();
  return 0;
}
