#include "gpx/gpx.hpp"

namespace tramlix::gpx {

std::expected<ActivityFile, Error> read(std::string_view) {  // TODO
  return std::unexpected(Error::invalid_data("GPX", "no track segments found"));
}

}  // namespace tramlix::gpx
