// Profile-aware decoding: FIT bytes to messages with names, scaled values, units, enumeration
// names, timestamps, expanded components, selected subfields, accumulated counters and named
// developer fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "fit/error.hpp"
#include "fit/value.hpp"

namespace fit {

class TypedDecoder;
struct RawRecord;

class DecoderBuilder {
 public:
  // Decodes `bytes`, which must outlive the decoder; every transform is on by default.
  explicit DecoderBuilder(std::span<const std::uint8_t> bytes);

  DecoderBuilder& apply_scale_and_offset(bool on);
  DecoderBuilder& expand_components(bool on);
  DecoderBuilder& select_subfields(bool on);
  DecoderBuilder& name_enumeration_values(bool on);
  DecoderBuilder& convert_date_times(bool on);
  // Reads a file whose data section runs past the end of the bytes (a file cut short) up to
  // their end, instead of failing at its header. Off by default.
  DecoderBuilder& read_cut_files(bool on);
  // Called with every message decoded, before it is returned.
  DecoderBuilder& observer(std::function<void(const Message&)> observer);

  TypedDecoder build() const;

 private:
  friend class TypedDecoder;
  struct RawRecord;
  std::span<const std::uint8_t> bytes_;
  std::function<void(const Message&)> observer_;
  bool scale_and_offset_ = true;
  bool components_ = true;
  bool subfields_ = true;
  bool enum_names_ = true;
  bool date_times_ = true;
  bool cut_files_ = false;
};

class TypedDecoder {
 public:
  TypedDecoder(TypedDecoder&&) noexcept;
  TypedDecoder& operator=(TypedDecoder&&) noexcept;
  ~TypedDecoder();

  // Decodes the next data message into `message`, reusing its storage. Returns false at the
  // end. An error is returned once; every later call then returns false.
  std::expected<bool, FitError> next(Message& message);

  // The same, yielding a new message; nullopt at the end.
  std::expected<std::optional<Message>, FitError> next();

  // The next data message without decoding it, for consumers that read some messages straight
  // from their bytes (see FieldReader) and decode() the others. Developer field descriptions
  // and chained files take effect whether their messages are decoded or not.
  std::expected<bool, FitError> next(RawRecord& record);

  // Decodes `record`, which the last call to next(RawRecord&) gave, as next(Message&) would.
  std::expected<void, FitError> decode(const RawRecord& record, Message& message);

  // Adds a component's value to its running total (kept per message number and the field the
  // component counts into, in the component's units) and returns the total, as decoding a
  // message does.
  std::uint64_t accumulate(std::uint16_t message, std::string_view target, std::uint64_t value,
                           std::uint8_t bits, std::optional<double> scale);
  // A total the file gives in full (a record's distance): components that count into the same
  // field continue from it, as decoding the message does.
  void seed(std::uint16_t message, std::string_view field, std::uint64_t total,
            std::optional<double> scale);

  // Where the record decoded last began in the bytes (after an error, the one that failed); a
  // chained file's header counts as one.
  std::size_t record_offset() const;

 private:
  friend class DecoderBuilder;
  struct State;
  explicit TypedDecoder(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace fit
