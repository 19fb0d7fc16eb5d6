#include "tramlix/omissions.hpp"

#include <utility>

#include "tramlix/io.hpp"

namespace tramlix {

std::string_view omission_name(Omission reason) {
  // In the order of the enumerators.
  constexpr std::string_view kNames[kOmissionCount] = {
      "points_without_position",      "points_without_time", "values_not_finite",
      "values_out_of_range",          "lone_coordinates",    "names_unknown",
      "values_of_untimed_activities", "texts_shortened"};
  const auto index = static_cast<std::size_t>(reason);
  return index < kOmissionCount ? kNames[index] : std::string_view();
}

std::expected<Omissions, Error> omissions(const ActivityFile& file, Format format) {
  Omissions omitted;
  if (auto written = dumps(file, format, &omitted); !written) {
    return std::unexpected(std::move(written.error()));
  }
  return omitted;
}

}  // namespace tramlix
