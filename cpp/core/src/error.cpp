#include "tramlix/error.hpp"

namespace tramlix {

Error Error::io(std::string path, std::error_code source) {
  return Error(Kind::Io, {}, source.message(), std::move(path));
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
      text.append("cannot read or write ").append(path_).append(": ").append(message_);
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
