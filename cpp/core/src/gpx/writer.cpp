#include "gpx/gpx.hpp"

namespace tramlix::gpx {

std::string write(const ActivityFile&) { return {}; }  // TODO

}  // namespace tramlix::gpx
