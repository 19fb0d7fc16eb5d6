#include "fit/definition.hpp"

#include "fit/base_type.hpp"

namespace fit {

std::expected<void, FitError> MessageDefinition::parse(InputStream& in, bool has_developer_fields,
                                                       MessageDefinition& out) {
  // Read piece by piece so that a truncation reports the offset of the piece that is missing.
  const auto reserved = in.read_u8();
  if (!reserved) return std::unexpected(reserved.error());
  const auto architecture = in.read_u8();
  if (!architecture) return std::unexpected(architecture.error());
  const bool big_endian = *architecture != 0;
  const auto global_number = in.read_u16(big_endian);
  if (!global_number) return std::unexpected(global_number.error());
  const auto field_count = in.read_u8();
  if (!field_count) return std::unexpected(field_count.error());
  out.reserved = *reserved;
  out.architecture = *architecture;
  out.big_endian = big_endian;
  out.global_number = *global_number;
  out.fields.clear();
  out.developer_fields.clear();
  out.data_size = 0;
  out.compressed_data_size = 0;
  out.timestamp_fields.clear();

  for (std::uint8_t i = 0; i < *field_count; ++i) {
    const auto triple = in.read_bytes(3);
    if (!triple) return std::unexpected(triple.error());
    const std::uint8_t number = (*triple)[0];
    const std::uint8_t size = (*triple)[1];
    const std::uint8_t byte = (*triple)[2];
    const std::uint8_t code = byte & base_type::kCodeMask;
    if (!base_type::is_valid_code(code)) return std::unexpected(UnknownBaseType{byte, code});
    // Devices do write fields whose size does not fit their type (a Coros uint32 event.data of
    // one byte); rather than lose the whole file, such a field is read as a byte field.
    const bool misaligned = code != base_type::kString && code != base_type::kByte &&
                            (size == 0 || size % base_type::kElementSize[code] != 0);
    out.fields.push_back({misaligned ? base_type::kByte : code, number, size, byte});
    if (number == kTimestampFieldNumber && size == 4 &&
        (code == base_type::kUint32 || code == base_type::kUint32z)) {
      out.timestamp_fields.push_back({static_cast<std::uint16_t>(out.data_size), code});
    }
    out.data_size += size;
    if (number != kTimestampFieldNumber) out.compressed_data_size += size;
  }

  if (has_developer_fields) {
    const auto count = in.read_u8();
    if (!count) return std::unexpected(count.error());
    for (std::uint8_t i = 0; i < *count; ++i) {
      const auto triple = in.read_bytes(3);
      if (!triple) return std::unexpected(triple.error());
      out.developer_fields.push_back({(*triple)[0], (*triple)[1], (*triple)[2]});
      out.data_size += (*triple)[1];
      out.compressed_data_size += (*triple)[1];
    }
  }
  return {};
}

}  // namespace fit
