// The uncompressed bytes of an input that is read other than through loads(): a file read whole,
// or bytes given, either of them gzip-compressed or not.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>

#include "tramlix/error.hpp"

namespace tramlix {

struct SourceBytes {
  std::span<const std::uint8_t> bytes;
  std::shared_ptr<const void> owner;  // what holds `bytes`; null when they are the caller's
};

// `data` itself, or what it inflates to when gzip-compressed (at most 1 GiB, once).
std::expected<SourceBytes, Error> source_bytes(std::span<const std::uint8_t> data);

// The whole file at `path`, inflated when gzip-compressed; Io when it cannot be read.
std::expected<SourceBytes, Error> source_bytes_of_file(const std::string& path);

}  // namespace tramlix
