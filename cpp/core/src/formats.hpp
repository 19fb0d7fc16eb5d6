// The formats the front door knows, one entry each: how it is named, how its content is
// recognised, and how it is read, recovered and written. Everything that lists the formats
// (Format, loads, dumps, recover, save) goes by this table.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tramlix/error.hpp"
#include "tramlix/format.hpp"
#include "tramlix/model.hpp"
#include "tramlix/omissions.hpp"

namespace tramlix {

struct FormatEntry {
  Format format;
  std::string_view name;   // lower case: file extensions, Format::from_str
  std::string_view label;  // in errors: "invalid GPX data: ..."

  // Sniffing, in this order over all entries: a signature in the first bytes (binary formats),
  // then the lower-case local name of the XML root element, then that name after a '<' in the
  // first 4096 bytes.
  bool (*has_signature)(std::span<const std::uint8_t> data);
  std::string_view root_element;

  std::expected<ActivityFile, Error> (*read)(std::span<const std::uint8_t> data);
  // What damaged bytes still hold; each fault goes into `problems`.
  std::expected<ActivityFile, Error> (*recover)(std::span<const std::uint8_t> data,
                                                std::vector<std::string>& problems);
  std::expected<std::string, Error> (*write)(const ActivityFile& file, Omissions* omitted);
};

// The entry of `format`; none for a value cast into Format from outside its enumerators.
const FormatEntry* format_entry(Format format);

// The error for such a value.
Error unknown_format();

}  // namespace tramlix
