// Lookups over the generated profile tables (cpp/fit/profile/). Lookups by number index the
// tables directly; lookups by name binary-search an index ordered by length, then text, so most
// probes settle on the length alone.
#include "fit/profile.hpp"

#include <algorithm>
#include <cstring>

#include "tables.hpp"

namespace fit::profile {
namespace {

using namespace generated;

// Three-way comparison in the order of the generated name indices.
int compare_names(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.empty() ? 0 : std::memcmp(a.data(), b.data(), a.size());
}

// Binary search of `order` (indices into some table) for `name`; `name_at(i)` gives the name
// of table entry i. Returns the table index or -1.
template <class Index, class NameAt>
int find_by_name(std::span<const Index> order, std::string_view name, NameAt name_at) {
  std::size_t lo = 0;
  std::size_t hi = order.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    const int c = compare_names(name_at(order[mid]), name);
    if (c == 0) return order[mid];
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return -1;
}

// Finds the entry with `key` in `rows`, which are ordered by key without repeats. Because keys
// strictly increase, rows[i].key >= i for every i, so the entry for a key k, if any, sits at an
// index <= k: dense tables (0, 1, 2, ...) hit on the first probe, the rest binary-search.
template <class Row, class Key>
const Row* find_by_key(std::span<const Row> rows, std::uint64_t key, Key key_of) {
  if (key < rows.size() && key_of(rows[key]) == key) return &rows[key];
  const auto end =
      rows.begin() + static_cast<std::ptrdiff_t>(std::min<std::uint64_t>(key, rows.size()));
  const auto it = std::lower_bound(
      rows.begin(), end, key, [&](const Row& row, std::uint64_t k) { return key_of(row) < k; });
  return it != end && key_of(*it) == key ? &*it : nullptr;
}

const TypeInfo& mesg_num_type() {
  return kTypes[kMesgNumType];
}

}  // namespace

const FieldInfo* MessageInfo::field(std::uint8_t number) const {
  return find_by_key(fields, number, [](const FieldInfo& f) { return std::uint64_t{f.number}; });
}

const FieldInfo* MessageInfo::field(std::string_view name) const {
  for (const FieldInfo& f : fields) {
    if (f.name.size() == name.size() && f.name == name) return &f;
  }
  return nullptr;
}

std::optional<std::string_view> TypeInfo::name_of(std::uint64_t value) const {
  const EnumValue* row =
      find_by_key(values, value, [](const EnumValue& v) { return std::uint64_t{v.value}; });
  if (row == nullptr) return std::nullopt;
  return row->name;
}

std::optional<std::uint64_t> TypeInfo::value_of(std::string_view name) const {
  const int i = find_by_name(by_name, name, [this](std::uint16_t j) { return values[j].name; });
  if (i < 0) return std::nullopt;
  return values[static_cast<std::size_t>(i)].value;
}

const MessageInfo* mesg_info_by_num(std::uint16_t number) {
  if (number > kMaxMessageNumber || kMessageByNumber[number] == kNone) return nullptr;
  return &kMessages[kMessageByNumber[number]];
}

const MessageInfo* mesg_info_by_name(std::string_view name) {
  const int i = find_by_name<std::uint8_t>(kMessagesByName, name,
                                           [](std::uint8_t j) { return kMessages[j].name; });
  return i < 0 ? nullptr : &kMessages[i];
}

const TypeInfo* type_info(std::string_view name) {
  const int i =
      find_by_name<std::uint8_t>(kTypesByName, name, [](std::uint8_t j) { return kTypes[j].name; });
  return i < 0 ? nullptr : &kTypes[i];
}

std::uint8_t base_type_for_type_name(std::string_view type_name) {
  const std::span<const BaseTypeName> names(kBaseTypeNames);
  for (const BaseTypeName& b : names) {
    if (b.name.size() > type_name.size()) break;
    if (b.name == type_name) return b.code;
  }
  const TypeInfo* type = type_info(type_name);
  return type == nullptr ? kNoBaseType : type->base_type;
}

std::optional<std::string_view> enum_str_by_value(std::string_view type_name, std::uint64_t value) {
  const TypeInfo* type = type_info(type_name);
  if (type == nullptr) return std::nullopt;
  return type->name_of(value);
}

std::optional<std::uint64_t> enum_value_by_str(std::string_view type_name, std::string_view name) {
  const TypeInfo* type = type_info(type_name);
  if (type == nullptr) return std::nullopt;
  return type->value_of(name);
}

std::span<const MessageInfo> message_table() {
  return kMessages;
}
std::span<const TypeInfo> type_table() {
  return kTypes;
}
std::size_t message_count() {
  return kMessageCount;
}
std::size_t type_count() {
  return kTypeCount;
}

std::uint16_t MesgNum::from_value(std::uint16_t value) {
  return as_str(value) ? value : kUnknown;
}

std::optional<std::string_view> MesgNum::as_str(std::uint16_t value) {
  if (value <= kMaxMessageNumber) {
    const std::uint8_t i = kMesgNumByNumber[value];
    if (i == kNone) return std::nullopt;
    return mesg_num_type().values[i].name;
  }
  // The manufacturer range bounds.
  return mesg_num_type().name_of(value);
}

std::optional<std::uint16_t> MesgNum::from_str(std::string_view name) {
  const auto value = mesg_num_type().value_of(name);
  if (!value) return std::nullopt;
  return static_cast<std::uint16_t>(*value);
}

}  // namespace fit::profile
