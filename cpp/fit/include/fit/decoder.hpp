// The message decoder: walks the records of one or more chained FIT files and yields their data
// messages with undecoded (profile-free) values. Definitions, compressed-timestamp headers and
// file boundaries are handled here and never yielded.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <vector>

#include "fit/definition.hpp"
#include "fit/error.hpp"
#include "fit/raw_value.hpp"
#include "fit/stream.hpp"

namespace fit {

struct RawField {
  std::uint8_t number = 0;
  RawValue value;
};

struct RawDevField {
  std::uint8_t number = 0;
  std::uint8_t developer_data_index = 0;
  std::vector<std::uint8_t> bytes;  // undecoded
};

// A data message before its fields are decoded: the definition that lays it out and its bytes.
// Consumers that read a few fields of many messages read them from here (see FieldReader);
// Decoder::decode() makes a RawMessage of it.
struct RawRecord {
  // Valid until the decoder moves on: a later definition may replace it.
  const MessageDefinition* definition = nullptr;
  // The message's bytes after its header, developer fields included; a compressed-timestamp
  // message has none for field 253.
  std::span<const std::uint8_t> body;
  // A number no other definition read by the same decoder shares.
  std::uint64_t definition_id = 0;
  std::uint32_t timestamp = 0;  // of a compressed-timestamp header
  std::uint8_t local_type = 0;
  bool compressed = false;
  // Set on the first data message of a chained file after the first.
  bool new_file = false;
};

struct RawMessage {
  std::uint16_t global_number = 0;
  std::vector<RawField> fields;  // in definition order
  std::vector<RawDevField> developer_fields;
  // The byte order of the definition: developer fields are decoded in it once described.
  bool big_endian = false;
  // Set on the first data message of a chained file after the first.
  bool new_file = false;
  // The definition that laid the message out: its local type, and a number no other definition
  // read by the same decoder shares, so that consumers can cache work per definition.
  std::uint8_t local_type = 0;
  std::uint64_t definition_id = 0;
};

class Decoder {
 public:
  // `bytes` must outlive the decoder; the messages it yields own their data. With
  // `read_cut_files`, a file whose data section runs past the end of `bytes` is read up to
  // their end instead of failing at its header: what a file cut short still holds.
  explicit Decoder(std::span<const std::uint8_t> bytes, bool read_cut_files = false)
      : in_(bytes), read_cut_files_(read_cut_files) {}

  // Decodes the next data message into `message`, reusing its storage. Returns false at the end.
  // An error is returned once; every later call then returns false.
  std::expected<bool, FitError> next(RawMessage& message);

  // The same without decoding the fields: `record` points into the bytes and into the decoder's
  // definitions. Timestamps and chained files are followed alike.
  std::expected<bool, FitError> next(RawRecord& record) {
    // Most records are plain data messages of a defined local type inside a file: they are read
    // here, everything else by next_record().
    const auto bytes = in_.bytes();
    const std::size_t at = in_.position();
    if (in_file_ && !finished_ && at < data_end_ && at < bytes.size() &&
        (bytes[at] & (kCompressedHeader | kDefinitionHeader)) == 0) {
      const Slot& slot = slots_[bytes[at] & kLocalTypeMask];
      const std::size_t size = slot.definition.data_size;
      if (slot.defined && bytes.size() - at - 1 >= size) {
        record_offset_ = at;
        in_ = InputStream(bytes, at + 1 + size);
        take(record, slot, bytes[at] & kLocalTypeMask, bytes.subspan(at + 1, size), false, 0);
        return true;
      }
    }
    return next_record(record);
  }

  // Decodes the fields of `record`, which the last call to next() gave, into `message`.
  static std::expected<void, FitError> decode(const RawRecord& record, RawMessage& message);

  // The same, yielding a new message; nullopt at the end.
  std::expected<std::optional<RawMessage>, FitError> next() {
    RawMessage message;
    const auto more = next(message);
    if (!more) return std::unexpected(more.error());
    if (!*more) return std::nullopt;
    return message;
  }

  // Where the record read last began (after an error, the one that failed); a chained file's
  // header counts as one.
  std::size_t record_offset() const { return record_offset_; }

 private:
  struct Slot {
    bool defined = false;
    std::uint64_t id = 0;
    MessageDefinition definition;
  };

  static constexpr std::uint8_t kCompressedHeader = 0x80;
  static constexpr std::uint8_t kDefinitionHeader = 0x40;
  static constexpr std::uint8_t kLocalTypeMask = 0x0F;

  std::expected<bool, FitError> next_record(RawRecord& record);
  std::expected<void, FitError> open_file();
  std::expected<void, FitError> read_data(std::uint8_t local_type, bool compressed,
                                          std::uint32_t timestamp, RawRecord& record);
  // Fills `record` with a data message of `slot` whose body is `body`, and follows its time.
  void take(RawRecord& record, const Slot& slot, std::uint8_t local_type,
            std::span<const std::uint8_t> body, bool compressed, std::uint32_t timestamp) {
    const MessageDefinition& definition = slot.definition;
    record.definition = &definition;
    record.body = body;
    record.definition_id = slot.id;
    record.timestamp = timestamp;
    record.local_type = local_type;
    record.compressed = compressed;
    record.new_file = pending_new_file_;
    pending_new_file_ = false;
    // The time of later compressed-timestamp messages: any message's field 253 that holds one.
    if (compressed) return;
    for (const TimestampField& field : definition.timestamp_fields) {
      const auto bits = static_cast<std::uint32_t>(
          detail::load(body.data() + field.offset, 4, definition.big_endian));
      if (bits != base_type::kInvalid[field.base_type]) {
        last_timestamp_ = bits;
        has_timestamp_ = true;
      }
    }
  }
  std::unexpected<FitError> fail(FitError error) {
    finished_ = true;
    return std::unexpected(error);
  }

  InputStream in_;
  std::array<Slot, 16> slots_;
  RawRecord record_;  // for next(RawMessage&)
  std::uint64_t definitions_read_ = 0;
  std::size_t data_end_ = 0;
  std::size_t record_offset_ = 0;
  std::uint32_t last_timestamp_ = 0;
  bool has_timestamp_ = false;
  bool in_file_ = false;
  bool started_ = false;
  bool finished_ = false;
  bool pending_new_file_ = false;
  bool read_cut_files_ = false;
};

}  // namespace fit
