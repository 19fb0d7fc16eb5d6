// Everything a FIT file holds, not only what the activity model keeps: every message as a row of
// a table per message type (laps, events, HRV, pool lengths, device information, developer
// fields, ...), or one message at a time.
//
// Values are those load() reads: the typed decoder applies the profile's scales and offsets,
// expands components, selects subfields, names enumeration values and converts date-times.
// Columns and fields are named by the profile; a field the profile does not describe is
// `field_<number>`, a message it does not describe `unknown_<number>`. A developer field takes
// its own field_name; a name that clashes (in any letter case) with a profile field of the
// message or with another developer field gets the suffix `_dev<developer_data_index>`, and a
// developer field without a description is `developer_<index>_<number>` (its bytes).
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tramlix/arrow.hpp"
#include "tramlix/error.hpp"

namespace tramlix::fit_messages {

// One table per message type present, in the order the types first appear.
//
// A table has one column per field seen in its messages, in the profile's field order (a
// subfield beside the field it resolves, developer fields last, in the order they appear); a
// field first seen part-way through gives earlier rows null. Column types follow the profile:
// integers at the profile's width, scaled values as float64, enumerations dictionary-encoded
// strings, date_time timestamp[s, tz=UTC], local_date_time timestamp[s] (no zone), strings
// utf8, bytes binary, arrays lists. Absent and invalid values are null. Each column with units
// carries them in its field metadata under "unit".
//
// One column holds one type, whatever its values were decoded as:
// - an enumeration value the profile has no name for is its number as text ("37");
// - in a numeric column, a name (FIT's sentinels, such as device_index "creator") is the
//   number it stands for, or null where the field is scaled (weight "calculating");
// - an integer column whose values do not fit the profile's width (a file declaring a wider
//   type) widens to 64 bits; a value with a fraction makes it float64;
// - a column that is scalar in the profile but receives an array becomes a list column;
// - when a field and a component expanded into it both give a scalar in one message, the
//   field's own value wins;
// - any other value of the wrong kind (text in a numeric column) is null.
struct NamedTable {
  std::string name;
  arrow::Table table;
};

// `names` restricts the result to those message types (an empty list: all of them). The bytes
// may be gzip-compressed. Fails like load() on bytes that are not an intact FIT file.
std::expected<std::vector<NamedTable>, Error> tables(std::span<const std::uint8_t> data,
                                                     std::span<const std::string> names = {});
std::expected<std::vector<NamedTable>, Error> tables_of_file(
    const std::string& path, std::span<const std::string> names = {});

// Whether `name` can name a message type: a profile message name or `unknown_<number>`.
bool is_message_name(std::string_view name);

// A field's value as decoded, one message at a time.
struct Value {
  enum class Kind : std::uint8_t {
    Null,       // absent or FIT's invalid marker
    Int,        // `integer`
    UInt,       // `unsigned_integer`
    Float,      // `number`
    Text,       // `text`: a string or an enumeration value's name
    Bytes,      // `text` holds the bytes
    Time,       // `integer`: seconds since 1970-01-01T00:00:00Z
    LocalTime,  // `integer`: seconds since 1970-01-01T00:00:00 local time
    List,       // `items`
  };
  Kind kind = Kind::Null;
  std::int64_t integer = 0;
  std::uint64_t unsigned_integer = 0;
  double number = 0.0;
  std::string text;
  std::vector<Value> items;
};

struct Entry {
  std::string_view name;  // valid until the next call to Stream::next
  Value value;
};

struct Message {
  std::string_view name;  // valid until the next call to Stream::next
  // In the order the file gives them, each field once: components expanded into an array
  // field are one list, as in the tables.
  std::vector<Entry> fields;
};

// The messages of a FIT file in file order, decoded as tables() decodes them.
class Stream {
 public:
  // The bytes are copied (inflated when gzip-compressed); the integrity check runs here.
  static std::expected<Stream, Error> open(std::span<const std::uint8_t> data);
  static std::expected<Stream, Error> open_file(const std::string& path);

  Stream(Stream&&) noexcept;
  Stream& operator=(Stream&&) noexcept;
  ~Stream();

  // The next message into `out`; false at the end. An error is returned once, then false.
  std::expected<bool, Error> next(Message& out);

 private:
  struct State;
  explicit Stream(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace tramlix::fit_messages
