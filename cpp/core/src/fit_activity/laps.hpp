// The lap messages of a FIT file, each assigned to an activity as the mapping assigns records.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "tramlix/error.hpp"
#include "tramlix/laps.hpp"

namespace tramlix::fit_activity {

// Fails as read() does on bytes that are not an intact FIT file.
std::expected<std::vector<Lap>, Error> read_laps(std::span<const std::uint8_t> bytes);

}  // namespace tramlix::fit_activity
