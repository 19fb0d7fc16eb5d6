#include "tramlix/model.hpp"

namespace tramlix {

std::string to_json(const ActivityFile&) { return {}; }  // TODO

}  // namespace tramlix
