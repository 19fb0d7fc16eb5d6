#include "tramlix/error.hpp"

#include "text.hpp"

namespace tramlix {

Error Error::io(std::string path, std::error_code source) {
  Error error(Kind::Io, {}, source.message(), std::move(path));
  error.error_number_ = source.value();
  return error;
}

Error Error::too_large(std::string path, std::string_view limit) {
  return Error(Kind::TooLarge, {}, std::string(limit), std::move(path));
}

Error Error::unsupported_format(std::string message) {
  return Error(Kind::UnsupportedFormat, {}, std::move(message), {});
}

Error Error::invalid_data(std::string_view format, std::string message) {
  return Error(Kind::InvalidData, format, std::move(message), {});
}

Error Error::encode(std::string_view format, std::string message) {
  return Error(Kind::Encode, format, std::move(message), {});
}

std::string Error::display() const {
  std::string text;
  switch (kind_) {
    case Kind::Io:
      text.append("cannot read or write ").append(utf8_lossy(path_)).append(": ").append(message_);
      break;
    case Kind::TooLarge:
      text.append("cannot read ")
          .append(utf8_lossy(path_))
          .append(": the input is too large (over ")
          .append(message_)
          .append(", the most read from what is not a regular file)");
      break;
    case Kind::UnsupportedFormat:
      text.append("unsupported or unrecognized activity format: ").append(message_);
      break;
    case Kind::InvalidData:
      text.append("invalid ").append(format_).append(" data: ").append(message_);
      break;
    case Kind::Encode:
      text.append("cannot encode ").append(format_).append(": ").append(message_);
      break;
  }
  return text;
}

}  // namespace tramlix
