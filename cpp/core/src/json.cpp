#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json_writer.hpp"
#include "tramlix/fields.hpp"
#include "tramlix/model.hpp"
#include "tramlix/time.hpp"

namespace tramlix {
namespace {

// A generous guess at one fully populated point; the buffer grows if it is short.
constexpr std::size_t kBytesPerPoint = 192;

template <class T>
inline constexpr bool kIsList = false;
template <class T>
inline constexpr bool kIsList<std::vector<T>> = true;

template <Described Record>
void write_record(JsonWriter& w, const Record& record);

// A value as its field declares it: a record as an object, a list as an array, an absent record
// as null, and the scalars as JsonWriter writes them.
template <class T>
void write_value(JsonWriter& w, const T& value) {
  if constexpr (Described<T>) {
    write_record(w, value);
  } else if constexpr (kIsList<T>) {
    w.open_array();
    for (const auto& item : value) write_value(w, item);
    w.close_array();
  } else if constexpr (Described<typename T::value_type>) {
    if (value) {
      write_record(w, *value);
    } else {
      w.null();
    }
  } else {
    w.value(value);
  }
}

// Every field, in declared order. An activity's start_time is the stored field, not the
// effective start time.
template <Described Record>
void write_record(JsonWriter& w, const Record& record) {
  w.open_object();
  for_each_field<Record>([&](const auto& field) {
    w.key(field.name);
    write_value(w, record.*field.member);
  });
  w.close_object();
}

}  // namespace

std::string to_json(const ActivityFile& file) {
  JsonWriter w(128 + file.point_count() * kBytesPerPoint);
  write_record(w, file);
  return w.take();
}

}  // namespace tramlix
