// The core's single error type. Its display text is its whole user-visible form.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>

namespace tramlix {

// A place in an XML document: line and column, both from 1, in characters of the document as
// given (a byte-order mark and blanks before the declaration count too).
struct TextPosition {
  std::uint64_t line;
  std::uint64_t column;
  friend bool operator==(TextPosition, TextPosition) = default;
};

// A place in binary data: the offset of a FIT record (or chained file header) from the start.
struct ByteOffset {
  std::uint64_t offset;
  friend bool operator==(ByteOffset, ByteOffset) = default;
};

using Location = std::variant<TextPosition, ByteOffset>;

class Error {
 public:
  enum class Kind { Io, UnsupportedFormat, InvalidData, Encode, TooLarge };

  // "cannot read or write {path}: {source}"; `path` as the caller gave it (bytes that are not
  // UTF-8 are shown lossily), `source` an errno value of the system category.
  static Error io(std::string path, std::error_code source);
  // "cannot read {path}: the input is too large (over {limit}, the most read from what is not
  // a regular file)": a pipe or device that gives more than the limit.
  static Error too_large(std::string path, std::string_view limit);
  // "unsupported or unrecognized activity format: {message}"
  static Error unsupported_format(std::string message);
  // "invalid {format} data: {message}"; `format` is a reader's static label ("GPX", ...).
  static Error invalid_data(std::string_view format, std::string message);
  // "cannot encode {format}: {message}"
  static Error encode(std::string_view format, std::string message);

  Kind kind() const { return kind_; }
  // The format label of InvalidData and Encode errors; empty for the others.
  std::string_view format() const { return format_; }
  // The message of UnsupportedFormat, InvalidData and Encode; the OS text for Io; the limit
  // for TooLarge.
  const std::string& message() const { return message_; }
  // The path of an Io or TooLarge error as the caller gave it; empty for the others.
  const std::string& path() const { return path_; }
  // The operating system's error number (errno) of an Io error; 0 for the others.
  int error_number() const { return error_number_; }

  // Where in the input the fault lies, when the reader knows it; the display text says it in
  // words, if at all, and is the same with or without it.
  const std::optional<Location>& location() const { return location_; }
  Error at(Location location) && {
    location_ = location;
    return std::move(*this);
  }

  std::string display() const;

  bool operator==(const Error&) const = default;

 private:
  Error(Kind kind, std::string_view format, std::string message, std::string path)
      : kind_(kind), format_(format), message_(std::move(message)), path_(std::move(path)) {}

  Kind kind_;
  std::string_view format_;
  std::string message_;
  std::string path_;
  int error_number_ = 0;
  std::optional<Location> location_;
};

}  // namespace tramlix
