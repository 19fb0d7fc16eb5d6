#include "gzip.hpp"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>
#include <stdexcept>
#include <string>

namespace tramlix::gzip {
namespace {

constexpr std::string_view kLabel = "gzip";
// zlib counts in `uInt`; larger spans are fed in pieces.
constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
// windowBits 15 plus 16: a gzip header and trailer around the deflate data, nothing else.
constexpr int kGzipWindowBits = 15 + 16;

Error invalid(std::string message) {
  return Error::invalid_data(kLabel, std::move(message));
}

std::string size_text(std::size_t bytes) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  constexpr std::size_t kGiB = std::size_t{1} << 30;
  if (bytes >= kGiB && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

class Inflater {
 public:
  Inflater() {
    if (inflateInit2(&stream_, kGzipWindowBits) != Z_OK) throw std::bad_alloc();
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  ~Inflater() { inflateEnd(&stream_); }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

class Deflater {
 public:
  Deflater() {
    if (deflateInit2(&stream_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kGzipWindowBits, 8,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
      throw std::bad_alloc();
    }
  }
  Deflater(const Deflater&) = delete;
  Deflater& operator=(const Deflater&) = delete;
  ~Deflater() { deflateEnd(&stream_); }
  z_stream* get() { return &stream_; }

 private:
  z_stream stream_{};
};

// Grows `bytes` to `capacity` bytes, keeping its contents.
void reserve(Bytes& bytes, std::size_t capacity) {
  void* grown = std::realloc(bytes.data.get(), std::max<std::size_t>(capacity, 1));
  if (grown == nullptr) throw std::bad_alloc();
  bytes.data.release();
  bytes.data.reset(static_cast<std::uint8_t*>(grown));
}

}  // namespace

Prefix inflate_prefix(std::span<const std::uint8_t> data, std::size_t max_output) {
  using Fault = Prefix::Fault;
  Inflater inflater;
  z_stream& stream = *inflater.get();
  Bytes out;
  const auto stop = [&](Fault fault, Error error) {
    return Prefix{std::move(out), fault, std::move(error)};
  };
  std::size_t capacity = 0;
  // Grown by doubling from a guess: the sizes a gzip trailer states are not to be trusted.
  const std::size_t first_capacity =
      std::min(max_output,
               std::max<std::size_t>(std::size_t{64} << 10, std::min(data.size(), kMaxChunk) * 4));
  // Where output goes once the buffer is at the bound: producing even one byte there is too much.
  std::uint8_t probe = 0;
  std::size_t consumed = 0;
  for (;;) {
    if (out.size == capacity && capacity < max_output) {
      capacity = capacity == 0               ? first_capacity
                 : capacity > max_output / 2 ? max_output
                                             : capacity * 2;
      reserve(out, capacity);
    }
    const bool at_bound = out.size == capacity;
    const std::size_t in_chunk = std::min(data.size() - consumed, kMaxChunk);
    const std::size_t out_chunk = at_bound ? 1 : std::min(capacity - out.size, kMaxChunk);
    stream.next_in = const_cast<Bytef*>(data.data() + consumed);
    stream.avail_in = static_cast<uInt>(in_chunk);
    stream.next_out = at_bound ? &probe : out.data.get() + out.size;
    stream.avail_out = static_cast<uInt>(out_chunk);
    const int result = ::inflate(&stream, Z_NO_FLUSH);
    consumed += in_chunk - stream.avail_in;
    const std::size_t produced = out_chunk - stream.avail_out;
    if (at_bound && produced > 0) {
      return stop(Fault::OverLimit,
                  invalid("the uncompressed data exceeds the limit of " + size_text(max_output)));
    }
    out.size += at_bound ? 0 : produced;

    switch (result) {
      case Z_OK:
        continue;
      case Z_BUF_ERROR:
        // No progress was possible: either the output is full (grow it and go on) or the input
        // ran out before the stream's end.
        if (stream.avail_out == 0) continue;
        return stop(Fault::Damaged, invalid("cut short: the stream ends before its end marker"));
      case Z_STREAM_END:
        break;
      case Z_MEM_ERROR:
        throw std::bad_alloc();
      case Z_NEED_DICT:
        return stop(Fault::Damaged, invalid("corrupt stream (needs a dictionary)"));
      default:
        return stop(Fault::Damaged, invalid(std::string("corrupt stream (") +
                                            (stream.msg ? stream.msg : "unknown error") + ")"));
    }

    const std::span<const std::uint8_t> rest = data.subspan(consumed);
    if (rest.empty() || std::ranges::all_of(rest, [](std::uint8_t b) { return b == 0; })) {
      return Prefix{std::move(out), Fault::None, std::nullopt};
    }
    if (rest[0] != 0x1f || (rest.size() > 1 && rest[1] != 0x8b)) {
      return stop(Fault::TrailingBytes,
                  invalid("unexpected bytes after the end of the stream, at offset " +
                          std::to_string(consumed)));
    }
    // Another member follows: `cat a.gz b.gz` makes one stream of both.
    if (inflateReset(&stream) != Z_OK) throw std::bad_alloc();
  }
}

std::expected<Bytes, Error> inflate(std::span<const std::uint8_t> data, std::size_t max_output) {
  Prefix prefix = inflate_prefix(data, max_output);
  if (prefix.error) return std::unexpected(std::move(*prefix.error));
  return std::move(prefix.bytes);
}

std::string deflate(std::string_view data) {
  Deflater deflater;
  z_stream& stream = *deflater.get();
  std::string out;
  std::size_t size = 0;
  std::size_t consumed = 0;
  // deflateBound is the most the whole input can take; one buffer of it is enough.
  out.resize_and_overwrite(deflateBound(&stream, data.size()),
                           [](char*, std::size_t n) { return n; });
  for (;;) {
    const std::size_t in_chunk = std::min(data.size() - consumed, kMaxChunk);
    const std::size_t out_chunk = std::min(out.size() - size, kMaxChunk);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + consumed));
    stream.avail_in = static_cast<uInt>(in_chunk);
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + size);
    stream.avail_out = static_cast<uInt>(out_chunk);
    const bool last = consumed + in_chunk == data.size();
    const int result = ::deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
    consumed += in_chunk - stream.avail_in;
    size += out_chunk - stream.avail_out;
    if (result == Z_STREAM_END) break;
    if (result != Z_OK && result != Z_BUF_ERROR) throw std::logic_error("zlib deflate failed");
    if (size == out.size()) {
      out.resize_and_overwrite(out.size() * 2, [](char*, std::size_t n) { return n; });
    }
  }
  out.resize(size);
  return out;
}

}  // namespace tramlix::gzip
