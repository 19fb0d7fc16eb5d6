#include "tramlix/format.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <utility>

#include "fit_activity/fit_activity.hpp"
#include "formats.hpp"
#include "gpx/gpx.hpp"
#include "tcx/tcx.hpp"
#include "text.hpp"
#include "xml/prolog.hpp"

namespace tramlix {
namespace {

std::string_view as_text(std::span<const std::uint8_t> data) {
  return {reinterpret_cast<const char*>(data.data()), data.size()};
}

// A FIT file header: its size (12 or 14) in the first byte, ".FIT" at bytes 8 to 11.
bool has_fit_signature(std::span<const std::uint8_t> data) {
  return data.size() >= 12 && (data[0] == 12 || data[0] == 14) && data[8] == '.' &&
         data[9] == 'F' && data[10] == 'I' && data[11] == 'T' &&
         data.size() >= std::size_t{data[0]} + 2;
}

using Bytes = std::span<const std::uint8_t>;
using Problems = std::vector<std::string>;
using Written = std::expected<std::string, Error>;

// The entry of an XML format, whose reader and writer work on text; its reader also recovers.
template <auto read, auto write>
constexpr FormatEntry xml_format(Format format, std::string_view name, std::string_view label,
                                 std::string_view root_element) {
  return {
      .format = format,
      .name = name,
      .label = label,
      .has_signature = nullptr,
      .root_element = root_element,
      .read = [](Bytes data) { return read(as_text(data), nullptr); },
      .recover = [](Bytes data, Problems& problems) { return read(as_text(data), &problems); },
      .write = [](const ActivityFile& file, Omissions* omitted) -> Written {
        return write(file, omitted);
      },
  };
}

// In the order of Format's enumerators. Sniffing tries the entries in this order too.
constexpr FormatEntry kFormats[] = {
    xml_format<gpx::read, gpx::write>(Format::Gpx, "gpx", "GPX", "gpx"),
    xml_format<tcx::read, tcx::write>(Format::Tcx, "tcx", "TCX", "trainingcenterdatabase"),
    {
        .format = Format::Fit,
        .name = "fit",
        .label = "FIT",
        .has_signature = has_fit_signature,
        .root_element = {},
        .read = fit_activity::read,
        .recover = fit_activity::recover,
        .write = fit_activity::write,
    },
};

constexpr bool in_enum_order() {
  for (std::size_t i = 0; i < std::size(kFormats); ++i) {
    if (static_cast<std::size_t>(Format::Value(kFormats[i].format)) != i) return false;
  }
  return true;
}
static_assert(in_enum_order(), "format_entry() finds an entry by its enumerator");

template <std::size_t... I>
constexpr std::array<Format, sizeof...(I)> formats_of(std::index_sequence<I...>) {
  return {kFormats[I].format...};
}
constexpr auto kAll = formats_of(std::make_index_sequence<std::size(kFormats)>());

// Case-insensitive search for '<' and a lower-case ASCII name. Invalid UTF-8 around it cannot
// hide or fake an ASCII marker, so the bytes need no decoding first.
bool contains_tag_ci(std::string_view haystack, std::string_view name) {
  const std::string marker = "<" + std::string(name);
  return std::search(haystack.begin(), haystack.end(), marker.begin(), marker.end(),
                     [](char a, char b) { return ascii_lower(a) == b; }) != haystack.end();
}

// "GPX, TCX, or FIT".
std::string labels_listed() {
  std::string text;
  for (std::size_t i = 0; i < std::size(kFormats); ++i) {
    if (i > 0) text.append(i + 1 == std::size(kFormats) ? ", or " : ", ");
    text.append(kFormats[i].label);
  }
  return text;
}

}  // namespace

const FormatEntry* format_entry(Format format) {
  const auto index = static_cast<std::size_t>(Format::Value(format));
  return index < std::size(kFormats) ? &kFormats[index] : nullptr;
}

Error unknown_format() {
  return Error::unsupported_format("unknown format");
}

std::span<const Format> Format::all() {
  return kAll;
}

std::string_view Format::name() const {
  const FormatEntry* entry = format_entry(*this);
  return entry ? entry->name : std::string_view();
}

std::string_view Format::label() const {
  const FormatEntry* entry = format_entry(*this);
  return entry ? entry->label : std::string_view();
}

std::expected<Format, Error> Format::from_str(std::string_view text) {
  std::string_view name = trim_unicode_whitespace(text);
  name.remove_prefix(std::min(name.find_first_not_of('.'), name.size()));
  std::string lowered = ascii_lowered(name);
  for (const FormatEntry& entry : kFormats) {
    if (lowered == entry.name) return entry.format;
  }
  return std::unexpected(Error::unsupported_format(std::move(lowered)));
}

std::expected<Format, Error> Format::detect(std::span<const std::uint8_t> data) {
  for (const FormatEntry& entry : kFormats) {
    if (entry.has_signature && entry.has_signature(data)) return entry.format;
  }
  // The root element decides; the marker search keeps recognising documents whose prolog is
  // not well-formed or whose root is some other element.
  const std::string root = xml::root_element_name(as_text(data));
  for (const FormatEntry& entry : kFormats) {
    if (!entry.root_element.empty() && root == entry.root_element) return entry.format;
  }
  const std::string_view head = as_text(data.first(std::min<std::size_t>(data.size(), 4096)));
  for (const FormatEntry& entry : kFormats) {
    if (!entry.root_element.empty() && contains_tag_ci(head, entry.root_element)) {
      return entry.format;
    }
  }
  return std::unexpected(
      Error::unsupported_format("content is not recognizable as " + labels_listed()));
}

}  // namespace tramlix
