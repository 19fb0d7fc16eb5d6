// The outer frame of a FIT file: header, data section and file CRC.
#pragma once

#include <cstdint>
#include <expected>
#include <span>

#include "fit/error.hpp"

namespace fit {

// CRC-16/ARC (reflected polynomial 0xA001, initial value `crc`, no final XOR): the FIT checksum.
std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0);

// Verifies the header, the header CRC (when present and not 0) and the file CRC of every file
// in `bytes`: the first, then each chained file behind it, in order; the first fault found is
// the result. Bytes behind a complete file that cannot begin another (see begins_file) end the
// chain and are not looked at.
std::expected<void, FitError> check_integrity(std::span<const std::uint8_t> bytes);

}  // namespace fit
