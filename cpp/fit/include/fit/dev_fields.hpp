// Developer field descriptions, keyed by (developer data index, field definition number), as
// field_description messages announce them.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace fit {

struct DevFieldInfo {
  std::string name;
  std::optional<std::string> units;
  std::uint8_t base_type;  // a code, 0 to 16
  std::optional<double> scale;
  std::optional<double> offset;
};

class DevFieldRegistry {
 public:
  // Inserts or replaces a description. A base type whose code (byte & 0x1F) is not a base type
  // is ignored and nothing is stored. Fields decoded under a replaced description keep it alive.
  void register_field(std::uint8_t developer_data_index, std::uint8_t field_number,
                      std::string_view name, std::uint8_t base_type_byte,
                      std::optional<double> scale, std::optional<double> offset,
                      std::optional<std::string_view> units);

  // The description, shared so that decoded fields can view its texts; null when unknown.
  const std::shared_ptr<const DevFieldInfo>* find(std::uint8_t developer_data_index,
                                                  std::uint8_t field_number) const {
    const auto it = entries_.find(key(developer_data_index, field_number));
    return it == entries_.end() ? nullptr : &it->second;
  }

  bool empty() const { return entries_.empty(); }
  std::size_t size() const { return entries_.size(); }
  void clear() { entries_.clear(); }

 private:
  static std::uint16_t key(std::uint8_t index, std::uint8_t number) {
    return static_cast<std::uint16_t>(index << 8 | number);
  }

  std::unordered_map<std::uint16_t, std::shared_ptr<const DevFieldInfo>> entries_;
};

}  // namespace fit
