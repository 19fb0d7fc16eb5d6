// Reading and writing the 12- or 14-byte header that opens every FIT file of a byte string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>

#include "fit/error.hpp"
#include "fit/stream.hpp"

namespace fit {

struct FileHeader {
  std::uint8_t size;        // 12 or 14
  std::uint32_t data_size;  // bytes of records after the header
  std::size_t data_begin;   // absolute offsets into the byte string
  std::size_t data_end;

  std::size_t begin() const { return data_begin - size; }
  // Just past the file CRC: where a chained file would begin.
  std::size_t end() const { return data_end + 2; }
};

// Reads the header of the file starting at `position`: its size byte, its signature, and that
// the data section and the 2-byte file CRC fit in what remains. Checks no CRC.
std::expected<FileHeader, FitError> read_file_header(std::span<const std::uint8_t> bytes,
                                                     std::size_t position);

// The same for a file that may be cut short (a recording interrupted, a copy broken off): a data
// section that runs past the end of `bytes` ends where they do. `data_size` stays what the
// header declares; `data_end` is then bytes.size(), and end() lies past it.
std::expected<FileHeader, FitError> read_cut_file_header(std::span<const std::uint8_t> bytes,
                                                         std::size_t position);

// Whether the bytes from `position` on can begin another file of a chain: a header's 12 bytes
// at least, with the ".FIT" signature in its place. Anything else behind a complete file is
// padding (some firmware pads its files) and not read.
bool begins_file(std::span<const std::uint8_t> bytes, std::size_t position);

// The header CRC (when the header has one and it is not 0) and then the file CRC of the file
// that `header`, read from `bytes`, describes.
std::expected<void, FitError> check_file_crcs(std::span<const std::uint8_t> bytes,
                                              const FileHeader& header);

// Appends a 14-byte header with placeholders for the data size and header CRC; returns the
// offset at which the file begins, for finish_file().
std::size_t begin_file(OutputStream& out, std::uint8_t protocol_version,
                       std::uint16_t profile_version);

// The header's data size field for a data section of `data_size` bytes: SegmentTooLarge when
// 32 bits cannot count it.
std::expected<std::uint32_t, FitError> data_size_field(std::size_t data_size);

// Patches the data size and header CRC of the file begun at `start` and appends its file CRC.
// A data section longer than 32 bits can count is SegmentTooLarge, and `out` is left as it was.
std::expected<void, FitError> finish_file(OutputStream& out, std::size_t start);

}  // namespace fit
