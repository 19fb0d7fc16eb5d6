#include "tramlix/omissions.hpp"

#include <utility>

#include "tramlix/io.hpp"

namespace tramlix {

std::string_view omission_name(Omission reason) {
  switch (reason) {
    case Omission::PointWithoutPosition:
      return "points_without_position";
    case Omission::PointWithoutTime:
      return "points_without_time";
    case Omission::NotFinite:
      return "values_not_finite";
    case Omission::OutOfRange:
      return "values_out_of_range";
    case Omission::IncompletePosition:
      return "lone_coordinates";
    case Omission::UnknownName:
      return "names_unknown";
    case Omission::UntimedActivity:
      return "values_of_untimed_activities";
    case Omission::Shortened:
      return "texts_shortened";
  }
  return "";
}

std::expected<Omissions, Error> omissions(const ActivityFile& file, Format format) {
  Omissions omitted;
  if (auto written = dumps(file, format, &omitted); !written) {
    return std::unexpected(std::move(written.error()));
  }
  return omitted;
}

}  // namespace tramlix
