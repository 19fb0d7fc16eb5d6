// The file formats: names, labels and content sniffing.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "tramlix/error.hpp"

namespace tramlix {

class Format {
 public:
  enum Value : std::uint8_t { Gpx, Tcx, Fit };

  constexpr Format(Value value) : value_(value) {}
  constexpr operator Value() const { return value_; }

  // Every format, in the order of the enumeration.
  static std::span<const Format> all();

  // A format's name after trimming white space and leading full stops, any ASCII case.
  static std::expected<Format, Error> from_str(std::string_view text);

  // FIT by its header signature, else GPX or TCX by the local name of the root element (UTF-8
  // or UTF-16, past any prolog), else by a marker in the first 4096 bytes.
  static std::expected<Format, Error> detect(std::span<const std::uint8_t> data);

  // The name in lower case, as file extensions spell it: "gpx", "tcx" or "fit".
  std::string_view name() const;

  // The label readers and writers put into their errors: "GPX", "TCX" or "FIT".
  std::string_view label() const;

 private:
  Value value_;
};

}  // namespace tramlix
