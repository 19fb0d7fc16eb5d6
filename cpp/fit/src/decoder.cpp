#include "fit/decoder.hpp"

#include "fit/base_type.hpp"
#include "fit/file_header.hpp"

namespace fit {
namespace {

constexpr std::uint8_t kDeveloperFlag = 0x20;
constexpr std::uint8_t kTimeOffsetMask = 0x1F;

}  // namespace

std::expected<void, FitError> Decoder::open_file() {
  record_offset_ = in_.position();
  const auto header = read_cut_files_ ? read_cut_file_header(in_.bytes(), in_.position())
                                      : read_file_header(in_.bytes(), in_.position());
  if (!header) return std::unexpected(header.error());
  (void)in_.skip(header->size);
  data_end_ = header->data_end;
  in_file_ = true;
  return {};
}

std::expected<bool, FitError> Decoder::next(RawMessage& message) {
  const auto more = next(record_);
  if (!more || !*more) return more;
  if (auto ok = decode(record_, message); !ok) return fail(ok.error());
  return true;
}

std::expected<bool, FitError> Decoder::next_record(RawRecord& record) {
  if (finished_) return false;
  if (!started_) {
    started_ = true;
    if (auto ok = open_file(); !ok) return fail(ok.error());
  }
  for (;;) {
    if (in_file_ && in_.position() >= data_end_) {
      // A missing or partial CRC after the last file is tolerated, and so are bytes behind it
      // that cannot begin another file.
      if (in_.remaining() <= 2 || !begins_file(in_.bytes(), in_.position() + 2)) {
        finished_ = true;
        return false;
      }
      (void)in_.skip(2);
      for (Slot& slot : slots_) slot.defined = false;
      has_timestamp_ = false;
      in_file_ = false;
      pending_new_file_ = true;
      if (auto ok = open_file(); !ok) return fail(ok.error());
      continue;
    }
    if (in_.at_end()) {
      finished_ = true;
      return false;
    }

    record_offset_ = in_.position();
    const std::uint8_t header = *in_.read_u8();
    if (header & kCompressedHeader) {
      const std::uint8_t offset = header & kTimeOffsetMask;
      const std::uint32_t last = has_timestamp_ ? last_timestamp_ : 0;
      std::uint32_t timestamp = (last & ~std::uint32_t{kTimeOffsetMask}) | offset;
      if (offset < (last & kTimeOffsetMask)) timestamp += 32;
      last_timestamp_ = timestamp;
      has_timestamp_ = true;
      if (auto ok = read_data((header >> 5) & 0x03, true, timestamp, record); !ok) {
        return fail(ok.error());
      }
      return true;
    }
    if (header & kDefinitionHeader) {
      Slot& slot = slots_[header & 0x0F];
      slot.defined = false;
      if (auto ok = MessageDefinition::parse(in_, header & kDeveloperFlag, slot.definition); !ok) {
        return fail(ok.error());
      }
      slot.defined = true;
      slot.id = ++definitions_read_;
      continue;
    }
    if (auto ok = read_data(header & 0x0F, false, 0, record); !ok) return fail(ok.error());
    return true;
  }
}

std::expected<void, FitError> Decoder::read_data(std::uint8_t local_type, bool compressed,
                                                 std::uint32_t timestamp, RawRecord& record) {
  const Slot& slot = slots_[local_type];
  if (!slot.defined) return std::unexpected(UndefinedLocalMessage{local_type});
  const MessageDefinition& definition = slot.definition;

  // One bounds check for the whole body; on failure, find the field whose read falls short.
  const std::size_t start = in_.position();
  const std::size_t size = compressed ? definition.compressed_data_size : definition.data_size;
  const auto body = in_.read_bytes(size);
  if (!body) {
    std::size_t at = start;
    for (const FieldDefinition& field : definition.fields) {
      if (compressed && field.number == kTimestampFieldNumber) continue;
      if (in_.size() - at < field.size) break;
      at += field.size;
    }
    return std::unexpected(UnexpectedEof{at});
  }

  take(record, slot, local_type, *body, compressed, timestamp);
  return {};
}

std::expected<void, FitError> Decoder::decode(const RawRecord& record, RawMessage& message) {
  const MessageDefinition& definition = *record.definition;
  const bool compressed = record.compressed;
  message.global_number = definition.global_number;
  message.local_type = record.local_type;
  message.new_file = record.new_file;

  // Records written with compressed timestamps are defined without a timestamp field: the time
  // is in the header. Such a message gets field 253 appended, so that it keeps its time; the
  // extra field gives it a layout of its own for consumers that cache work per definition.
  bool has_timestamp_field = false;
  message.fields.resize(definition.fields.size());
  std::size_t at = 0;
  for (std::size_t i = 0; i < definition.fields.size(); ++i) {
    const FieldDefinition& field = definition.fields[i];
    RawField& raw = message.fields[i];
    raw.number = field.number;
    if (compressed && field.number == kTimestampFieldNumber) {
      raw.value = RawValue::scalar(base_type::kUint32, record.timestamp);
      has_timestamp_field = true;
      continue;
    }
    auto ok = decode_value(raw.value, field.base_type, record.body.subspan(at, field.size),
                           definition.big_endian, field.number);
    if (!ok) return std::unexpected(ok.error());
    at += field.size;
  }
  const bool append_timestamp = compressed && !has_timestamp_field;
  if (append_timestamp) {
    message.fields.push_back(
        RawField{kTimestampFieldNumber, RawValue::scalar(base_type::kUint32, record.timestamp)});
  }
  message.definition_id = record.definition_id * 2 + (append_timestamp ? 1 : 0);
  message.big_endian = definition.big_endian;

  message.developer_fields.resize(definition.developer_fields.size());
  for (std::size_t i = 0; i < definition.developer_fields.size(); ++i) {
    const DeveloperFieldDefinition& field = definition.developer_fields[i];
    RawDevField& raw = message.developer_fields[i];
    raw.number = field.number;
    raw.developer_data_index = field.developer_data_index;
    const auto bytes = record.body.subspan(at, field.size);
    raw.bytes.assign(bytes.begin(), bytes.end());
    at += field.size;
  }
  return {};
}

}  // namespace fit
