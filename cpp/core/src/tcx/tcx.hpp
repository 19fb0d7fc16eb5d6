// Training Center XML (TCX v2) with the ActivityExtension v2 values.
#pragma once

#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "tramlix/error.hpp"
#include "tramlix/model.hpp"
#include "tramlix/omissions.hpp"

namespace tramlix::tcx {

// Reads a TCX document; failures are InvalidData labelled "TCX". With `problems`, reads
// what a damaged document still holds: the points completed before the first fault, which is
// told in `problems`; fails only when that leaves nothing to return.
std::expected<ActivityFile, Error> read(std::string_view document,
                                        std::vector<std::string>* problems = nullptr);

// Writes the whole document; every model value has one, valid against the format's schema.
// What the format cannot carry is left out, and counted into `omitted` when given.
std::string write(const ActivityFile& file, Omissions* omitted = nullptr);

}  // namespace tramlix::tcx
