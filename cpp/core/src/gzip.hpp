// gzip (RFC 1952) around activity files: `.fit.gz`, `.gpx.gz` and `.tcx.gz` as training services
// export them. zlib does the work; this bounds it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "tramlix/error.hpp"

namespace tramlix::gzip {

// No activity file comes near this; a stream that inflates past it is a zip bomb or broken.
inline constexpr std::size_t kMaxOutput = std::size_t{1} << 30;

// The gzip magic bytes. No FIT header and no XML document begins with them.
inline bool is_gzip(std::span<const std::uint8_t> data) {
  return data.size() >= 2 && data[0] == 0x1f && data[1] == 0x8b;
}

struct FreeDeleter {
  void operator()(std::uint8_t* data) const { std::free(data); }
};

// Inflated bytes in a malloc'd block: growing it can remap pages instead of copying them, so a
// large output never needs its old and new buffer at once.
struct Bytes {
  std::unique_ptr<std::uint8_t, FreeDeleter> data;
  std::size_t size = 0;

  std::span<const std::uint8_t> span() const { return {data.get(), size}; }
};

// Inflates every member of a gzip stream (`cat a.gz b.gz` is one stream of two members); zero
// bytes after the last member are padding. Fails with InvalidData labelled "gzip" on a stream
// that is cut short, corrupt, followed by other bytes, or inflates to more than `max_output`
// bytes; the output buffer never grows beyond `max_output`.
std::expected<Bytes, Error> inflate(std::span<const std::uint8_t> data,
                                    std::size_t max_output = kMaxOutput);

// How far inflating a damaged stream got: the bytes inflated before the fault, and the fault.
struct Prefix {
  enum class Fault {
    None,
    Damaged,        // cut short or corrupt: `bytes` is what came before the damage
    TrailingBytes,  // every member ended well, other bytes follow: `bytes` is complete
    OverLimit,      // more than `max_output` bytes: `bytes` is to be dropped, not read
  };
  Bytes bytes;
  Fault fault = Fault::None;
  std::optional<Error> error;  // set with every fault, as inflate() reports it
};

// Inflates like inflate(), but keeps what came out before a fault.
Prefix inflate_prefix(std::span<const std::uint8_t> data, std::size_t max_output = kMaxOutput);

// The error for gzip data that unpacks to gzip again. One layer is unpacked, no more: nothing
// writes activities compressed twice, and a bomb nested inside a bomb multiplies.
inline Error compressed_twice() {
  return Error::invalid_data("gzip",
                             "the uncompressed data is gzip-compressed again; unpack it first");
}

// One gzip member holding `data`, at zlib's default level.
std::string deflate(std::string_view data);

}  // namespace tramlix::gzip
