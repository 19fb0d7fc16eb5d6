// Byte-level building blocks of the codec: a bounds-checked cursor over borrowed bytes, and an
// appendable byte buffer for writing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "fit/error.hpp"

namespace fit {

// Every read checks that its bytes are there; a read that does not fit reports the position at
// which it began and leaves the position where it was.
class InputStream {
 public:
  explicit InputStream(std::span<const std::uint8_t> bytes, std::size_t position = 0)
      : bytes_(bytes), position_(position) {}

  std::size_t position() const { return position_; }
  std::size_t size() const { return bytes_.size(); }
  std::size_t remaining() const { return bytes_.size() - position_; }
  bool at_end() const { return position_ >= bytes_.size(); }
  std::span<const std::uint8_t> bytes() const { return bytes_; }

  std::expected<std::uint8_t, FitError> read_u8() {
    if (position_ >= bytes_.size()) return std::unexpected(UnexpectedEof{position_});
    return bytes_[position_++];
  }

  std::expected<std::uint16_t, FitError> read_u16(bool big_endian) {
    if (remaining() < 2) return std::unexpected(UnexpectedEof{position_});
    const std::uint8_t a = bytes_[position_];
    const std::uint8_t b = bytes_[position_ + 1];
    position_ += 2;
    return static_cast<std::uint16_t>(big_endian ? (a << 8) | b : (b << 8) | a);
  }

  // A view of the next `count` bytes; it borrows from the stream's bytes.
  std::expected<std::span<const std::uint8_t>, FitError> read_bytes(std::size_t count) {
    if (remaining() < count) return std::unexpected(UnexpectedEof{position_});
    const auto run = bytes_.subspan(position_, count);
    position_ += count;
    return run;
  }

  std::expected<void, FitError> skip(std::size_t count) {
    if (remaining() < count) return std::unexpected(UnexpectedEof{position_});
    position_ += count;
    return {};
  }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_;
};

// Kept in a std::string, so that a finished file is handed on without a copy.
class OutputStream {
 public:
  OutputStream() = default;
  explicit OutputStream(std::size_t capacity) { bytes_.reserve(capacity); }

  std::size_t size() const { return bytes_.size(); }
  std::span<const std::uint8_t> bytes() const {
    return {reinterpret_cast<const std::uint8_t*>(bytes_.data()), bytes_.size()};
  }
  std::vector<std::uint8_t> take() {
    const auto run = bytes();
    std::vector<std::uint8_t> taken(run.begin(), run.end());
    bytes_ = {};
    return taken;
  }
  std::string take_string() { return std::move(bytes_); }

  // Room for `capacity` bytes in all. A large reservation costs address space only: pages are
  // backed as they are written.
  void reserve(std::size_t capacity) { bytes_.reserve(capacity); }

  void append_u8(std::uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
  void append_u16_le(std::uint16_t value) {
    append_u8(static_cast<std::uint8_t>(value));
    append_u8(static_cast<std::uint8_t>(value >> 8));
  }
  void append_u32_le(std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8)
      append_u8(static_cast<std::uint8_t>(value >> shift));
  }
  void append_bytes(std::span<const std::uint8_t> run) {
    bytes_.append(reinterpret_cast<const char*>(run.data()), run.size());
  }
  // `count` more bytes, for the caller to fill in; valid until the next append.
  std::uint8_t* extend(std::size_t count) {
    const std::size_t at = bytes_.size();
    bytes_.resize(at + count);
    return reinterpret_cast<std::uint8_t*>(bytes_.data()) + at;
  }
  // Drops everything from `size` on; a larger size changes nothing.
  void truncate(std::size_t size) {
    if (size < bytes_.size()) bytes_.resize(size);
  }

  // Overwrite bytes written earlier; the range must already exist.
  void overwrite_u16_le(std::size_t offset, std::uint16_t value) {
    check_range(offset, 2);
    bytes_[offset] = static_cast<char>(value);
    bytes_[offset + 1] = static_cast<char>(value >> 8);
  }
  void overwrite_u32_le(std::size_t offset, std::uint32_t value) {
    check_range(offset, 4);
    for (int i = 0; i < 4; ++i) bytes_[offset + i] = static_cast<char>(value >> (8 * i));
  }

 private:
  void check_range(std::size_t offset, std::size_t width) const {
    if (offset > bytes_.size() || bytes_.size() - offset < width) {
      throw std::out_of_range("OutputStream: overwrite past the end of the buffer");
    }
  }

  std::string bytes_;
};

}  // namespace fit
