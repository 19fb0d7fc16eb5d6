// The Lap elements of a TCX document with their totals.
#pragma once

#include <expected>
#include <string_view>
#include <vector>

#include "tramlix/error.hpp"
#include "tramlix/laps.hpp"

namespace tramlix::tcx {

// Fails on a document that is not well-formed XML, as read() does.
std::expected<std::vector<Lap>, Error> read_laps(std::string_view document);

}  // namespace tramlix::tcx
