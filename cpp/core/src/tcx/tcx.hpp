// Training Center XML (TCX v2) with the ActivityExtension v2 values.
#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "tramlix/error.hpp"
#include "tramlix/model.hpp"

namespace tramlix::tcx {

// Reads a TCX document; failures are InvalidData labelled "TCX".
std::expected<ActivityFile, Error> read(std::string_view document);

// Writes the whole document; every model value has one.
std::string write(const ActivityFile& file);

// The model's sport for an Activity's Sport attribute: trimmed, ASCII lower case, with
// "biking" as "cycling"; any other text is kept in that normalised form.
std::string normalize_sport(std::string_view text);

}  // namespace tramlix::tcx
