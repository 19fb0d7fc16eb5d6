// Typed FIT messages: what the typed decoder yields and the encoder consumes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace fit {

// A UTC instant: seconds since 1970-01-01T00:00:00Z and nanoseconds (the decoder always gives
// whole seconds).
struct Timestamp {
  std::int64_t unix_seconds = 0;
  std::uint32_t nanoseconds = 0;

  bool operator==(const Timestamp&) const = default;
};

// Seconds between the Unix epoch and the FIT epoch, 1989-12-31T00:00:00Z.
inline constexpr std::int64_t kFitEpochUnixSeconds = 631065600;

// The profile's name of an enumeration value. Names the decoder produces are static profile
// strings and own nothing; a caller building a message may hand over any text, which the
// value then owns.
class EnumName {
 public:
  // `name` must outlive the value: a profile string.
  static EnumName borrowed(std::string_view name) { return EnumName(name, nullptr); }
  static EnumName owned(std::string name) {
    auto text = std::make_shared<const std::string>(std::move(name));
    const std::string_view view = *text;
    return EnumName(view, std::move(text));
  }

  std::string_view view() const { return view_; }
  bool operator==(const EnumName& other) const { return view_ == other.view_; }

 private:
  EnumName(std::string_view view, std::shared_ptr<const std::string> owner)
      : view_(view), owner_(std::move(owner)) {}

  std::string_view view_;
  std::shared_ptr<const std::string> owner_;
};

struct Invalid {
  bool operator==(const Invalid&) const = default;
};

struct Value;
using ValueArray = std::vector<Value>;

// The ten kinds of value, in this order: no value (FIT's invalid marker), signed integer,
// unsigned integer, float, text, byte list, boolean, enumeration name, timestamp, array.
using ValueVariant = std::variant<Invalid, std::int64_t, std::uint64_t, double, std::string,
                                  std::vector<std::uint8_t>, bool, EnumName, Timestamp, ValueArray>;

struct Value : ValueVariant {
  using ValueVariant::ValueVariant;
  using ValueVariant::operator=;

  const ValueVariant& variant() const { return *this; }
  template <class T>
  const T* get() const {
    return std::get_if<T>(this);
  }
  bool is_invalid() const { return std::holds_alternative<Invalid>(*this); }
};

struct Field {
  // The profile's field name, or a developer field's own name. Developer names and units live
  // in `owner` (shared with the decoder's registry), so a field never copies text.
  std::string_view name;
  std::string_view units;  // meaningful only when has_units
  bool has_units = false;
  Value value;
  bool developer = false;
  std::uint8_t number = 0;                // for a developer field its field definition number
  std::uint8_t developer_data_index = 0;  // developer fields only
  std::shared_ptr<const void> owner;      // keeps developer texts alive; null otherwise
};

struct Message {
  // In definition order, each field followed by the fields expanded from its components, then
  // the developer fields.
  std::vector<Field> fields;
  std::string_view name = "unknown";  // the profile's message name, a static string
  std::uint16_t global_number = 0;
  // Messages one decoder gives with the same nonzero layout have fields of the same names and
  // numbers in the same order; 0 when that is not known.
  std::uint64_t layout = 0;

  // The first field with this name, or null.
  const Field* field(std::string_view field_name) const {
    for (const Field& f : fields) {
      if (f.name == field_name) return &f;
    }
    return nullptr;
  }
};

}  // namespace fit
