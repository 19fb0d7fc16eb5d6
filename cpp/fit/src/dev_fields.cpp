#include "fit/dev_fields.hpp"

#include "fit/base_type.hpp"

namespace fit {

void DevFieldRegistry::register_field(std::uint8_t developer_data_index, std::uint8_t field_number,
                                      std::string_view name, std::uint8_t base_type_byte,
                                      std::optional<double> scale, std::optional<double> offset,
                                      std::optional<std::string_view> units) {
  const std::uint8_t code = base_type_byte & base_type::kCodeMask;
  if (!base_type::is_valid_code(code)) return;
  auto info = std::make_shared<DevFieldInfo>();
  info->name = name;
  if (units) info->units.emplace(*units);
  info->base_type = code;
  info->scale = scale;
  info->offset = offset;
  entries_[key(developer_data_index, field_number)] = std::move(info);
}

}  // namespace fit
