#include "fit/error.hpp"

#include <cstdio>
#include <string>

namespace fit {
namespace {

template <class... Args>
std::string format(const char* pattern, Args... args) {
  char text[160];
  const int length = std::snprintf(text, sizeof text, pattern, args...);
  return std::string(text, length < 0 ? 0 : static_cast<std::size_t>(length));
}

const char* kind_name(FieldTooLargeKind kind) {
  switch (kind) {
    case FieldTooLargeKind::String:
      return "String";
    case FieldTooLargeKind::ByteArray:
      return "ByteArray";
    case FieldTooLargeKind::Array:
      return "Array";
    case FieldTooLargeKind::FieldList:
      return "FieldList";
    case FieldTooLargeKind::DevFieldList:
      return "DevFieldList";
  }
  return "";
}

struct Display {
  std::string operator()(const FileTooShort& e) const {
    return format("file too short: needed at least %zu bytes, got %zu", e.needed, e.got);
  }
  std::string operator()(const InvalidHeaderSize& e) const {
    return format("invalid header size byte: expected 12 or 14, got %u", unsigned{e.byte});
  }
  std::string operator()(const InvalidSignature& e) const {
    return format("invalid FIT signature at offset 8..12: got [%u, %u, %u, %u]",
                  unsigned{e.bytes[0]}, unsigned{e.bytes[1]}, unsigned{e.bytes[2]},
                  unsigned{e.bytes[3]});
  }
  std::string operator()(const HeaderCrcMismatch& e) const {
    return format("header CRC mismatch: stored 0x%04X, calculated 0x%04X", unsigned{e.stored},
                  unsigned{e.calculated});
  }
  std::string operator()(const FileCrcMismatch& e) const {
    return format("file CRC mismatch: stored 0x%04X, calculated 0x%04X", unsigned{e.stored},
                  unsigned{e.calculated});
  }
  std::string operator()(const UnexpectedEof& e) const {
    return format("unexpected end of stream at offset %zu", e.offset);
  }
  std::string operator()(const UnknownBaseType& e) const {
    return format("unknown base type byte 0x%02X (after masking, code 0x%02X)", unsigned{e.byte},
                  unsigned{e.code});
  }
  std::string operator()(const UndefinedLocalMessage& e) const {
    return format("data message uses undefined local message number %u", unsigned{e.number});
  }
  std::string operator()(const MalformedField& e) const {
    return format("malformed field %u: size %u not a multiple of base type element size %zu",
                  unsigned{e.number}, unsigned{e.size}, e.element_size);
  }
  std::string operator()(const FieldTooLarge& e) const {
    return format("encoder: %s of size %zu exceeds 255 byte wire limit", kind_name(e.kind), e.size);
  }
  std::string operator()(const SegmentTooLarge&) const {
    return "FIT segment data exceeds u32::MAX bytes";
  }
};

}  // namespace

std::string FitError::display() const {
  return std::visit(Display{}, variant_);
}

}  // namespace fit
