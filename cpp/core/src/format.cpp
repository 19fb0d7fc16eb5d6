#include "tramlix/format.hpp"

#include <algorithm>
#include <cstddef>
#include <string>

#include "tramlix/text.hpp"
#include "xml/prolog.hpp"

namespace tramlix {
namespace {

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Case-insensitive search for a lower-case ASCII marker. Invalid UTF-8 around it cannot hide or
// fake an ASCII marker, so the bytes need no decoding first.
bool contains_ascii_ci(std::string_view haystack, std::string_view marker) {
  return std::search(haystack.begin(), haystack.end(), marker.begin(), marker.end(),
                     [](char a, char b) { return ascii_lower(a) == b; }) != haystack.end();
}

}  // namespace

std::expected<Format, Error> Format::from_str(std::string_view text) {
  std::string_view name = trim_unicode_whitespace(text);
  name.remove_prefix(std::min(name.find_first_not_of('.'), name.size()));
  std::string lowered(name);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), ascii_lower);
  if (lowered == "gpx") return Format::Gpx;
  if (lowered == "tcx") return Format::Tcx;
  if (lowered == "fit") return Format::Fit;
  return std::unexpected(Error::unsupported_format(std::move(lowered)));
}

std::expected<Format, Error> Format::detect(std::span<const std::uint8_t> data) {
  if (data.size() >= 12 && (data[0] == 12 || data[0] == 14) && data[8] == '.' && data[9] == 'F' &&
      data[10] == 'I' && data[11] == 'T' && data.size() >= std::size_t{data[0]} + 2) {
    return Format::Fit;
  }
  // The root element decides; the marker search keeps recognising documents whose prolog is
  // not well-formed or whose root is some other element.
  const std::string_view document(reinterpret_cast<const char*>(data.data()), data.size());
  const std::string root = xml::root_element_name(document);
  if (root == "gpx") return Format::Gpx;
  if (root == "trainingcenterdatabase") return Format::Tcx;
  const std::string_view head(reinterpret_cast<const char*>(data.data()),
                              std::min<std::size_t>(data.size(), 4096));
  if (contains_ascii_ci(head, "<gpx")) return Format::Gpx;
  if (contains_ascii_ci(head, "<trainingcenterdatabase")) return Format::Tcx;
  return std::unexpected(
      Error::unsupported_format("content is not recognizable as GPX, TCX, or FIT"));
}

}  // namespace tramlix
