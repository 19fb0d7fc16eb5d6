// The core's single error type. Its display text is its whole user-visible form.
#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace tramlix {

class Error {
 public:
  enum class Kind { Io, UnsupportedFormat, InvalidData, Encode };

  // "cannot read or write {path}: {source}"
  static Error io(std::string path, std::error_code source);
  // "unsupported or unrecognized activity format: {message}"
  static Error unsupported_format(std::string message);
  // "invalid {format} data: {message}"; `format` is a reader's static label ("GPX", ...).
  static Error invalid_data(std::string_view format, std::string message);
  // "cannot encode {format}: {message}"
  static Error encode(std::string_view format, std::string message);

  Kind kind() const { return kind_; }
  // The format label of InvalidData and Encode errors; empty for the others.
  std::string_view format() const { return format_; }
  // The message of UnsupportedFormat, InvalidData and Encode; the OS text for Io.
  const std::string& message() const { return message_; }
  // The path of an Io error; empty for the others.
  const std::string& path() const { return path_; }

  std::string display() const;

  bool operator==(const Error&) const = default;

 private:
  Error(Kind kind, std::string_view format, std::string message, std::string path)
      : kind_(kind), format_(format), message_(std::move(message)), path_(std::move(path)) {}

  Kind kind_;
  std::string_view format_;
  std::string message_;
  std::string path_;
};

}  // namespace tramlix
