// Definition messages: the layout of the data messages of one local message type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <vector>

#include "fit/error.hpp"
#include "fit/stream.hpp"

namespace fit {

inline constexpr std::uint8_t kTimestampFieldNumber = 253;

struct FieldDefinition {
  // The code (base_type_byte & 0x1F, always below 17) the field is decoded with: byte when the
  // size is 0 or not a multiple of the code's element size.
  std::uint8_t base_type;
  std::uint8_t number;
  std::uint8_t size;
  std::uint8_t base_type_byte;  // as read, with the endian-ability flag
};

struct DeveloperFieldDefinition {
  std::uint8_t number;
  std::uint8_t size;
  std::uint8_t developer_data_index;
};

// A field 253 that gives the decoder the time for the compressed-timestamp messages after it:
// where its 4 bytes sit in a data message, and whether it is uint32 or uint32z.
struct TimestampField {
  std::uint16_t offset;
  std::uint8_t base_type;
};

struct MessageDefinition {
  std::uint8_t reserved = 0;
  std::uint8_t architecture = 0;
  bool big_endian = false;  // any architecture byte but 0
  std::uint16_t global_number = 0;
  std::vector<FieldDefinition> fields;
  std::vector<DeveloperFieldDefinition> developer_fields;
  // Bytes of a data message body, and of a compressed-timestamp one (field 253 takes none).
  std::size_t data_size = 0;
  std::size_t compressed_data_size = 0;
  std::vector<TimestampField> timestamp_fields;  // in definition order

  // Reads a definition body from `in`, positioned after the record header byte, into `out`.
  // `out` keeps its lists' storage, so redefining a local type does not allocate again.
  static std::expected<void, FitError> parse(InputStream& in, bool has_developer_fields,
                                             MessageDefinition& out);

  static std::expected<MessageDefinition, FitError> parse(InputStream& in,
                                                          bool has_developer_fields) {
    MessageDefinition definition;
    if (auto ok = parse(in, has_developer_fields, definition); !ok) {
      return std::unexpected(ok.error());
    }
    return definition;
  }
};

}  // namespace fit
