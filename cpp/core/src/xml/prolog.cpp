#include "xml/prolog.hpp"

#include <cstdint>

namespace tramlix::xml {
namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

// The code units of a document after its byte-order mark. All markup of a prolog is ASCII, so
// UTF-16 units are compared as numbers and UTF-8 is read byte by byte.
class Units {
 public:
  explicit Units(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
    if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
      bom_ = 3;
    } else if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
      width_ = 2;
      bom_ = 2;
    } else if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
      width_ = 2;
      big_endian_ = true;
      bom_ = 2;
    } else if (bytes.size() >= 2 && (byte(0) == 0) != (byte(1) == 0)) {
      // Without a mark, a document opens with an ASCII character ('<' or white space): in
      // UTF-16 one of its two bytes is zero.
      width_ = 2;
      big_endian_ = byte(0) == 0;
    }
    data_ = reinterpret_cast<const std::uint8_t*>(bytes.data()) + bom_;
    size_ = (bytes.size() - bom_) / width_;
  }

  std::size_t size() const { return size_; }
  std::size_t bom() const { return bom_; }
  std::size_t width() const { return width_; }

  // The unit at `i`, or 0 past the end (NUL never appears in XML).
  std::uint16_t operator[](std::size_t i) const {
    if (i >= size_) return 0;
    if (width_ == 1) return data_[i];
    const std::uint8_t* p = data_ + 2 * i;
    return big_endian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                       : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
  }

  bool starts_with(std::size_t i, std::string_view ascii) const {
    for (std::size_t k = 0; k < ascii.size(); ++k) {
      if ((*this)[i + k] != static_cast<std::uint8_t>(ascii[k])) return false;
    }
    return true;
  }

  // The position just past the first `ascii` (at most 3 characters) at or after `i`, or kNone.
  std::size_t after(std::size_t i, std::string_view ascii) const {
    for (; i + ascii.size() <= size_; ++i) {
      if (starts_with(i, ascii)) return i + ascii.size();
    }
    return kNone;
  }

 private:
  const std::uint8_t* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t bom_ = 0;
  std::size_t width_ = 1;
  bool big_endian_ = false;
};

bool is_space(std::uint16_t unit) {
  return unit == ' ' || unit == '\t' || unit == '\n' || unit == '\r';
}

std::size_t skip_space(const Units& units, std::size_t i) {
  while (i < units.size() && is_space(units[i])) ++i;
  return i;
}

// Past the '>' that closes a document type declaration whose "<!DOCTYPE" ends before `i`. The
// internal subset in brackets may hold '>' in declarations, quoted literals, comments and
// processing instructions.
std::size_t after_doctype(const Units& units, std::size_t i) {
  bool in_subset = false;
  while (i < units.size()) {
    const std::uint16_t unit = units[i];
    if (unit == '"' || unit == '\'') {
      const char quote[] = {static_cast<char>(unit), '\0'};
      i = units.after(i + 1, quote);
      if (i == kNone) return kNone;
    } else if (in_subset && units.starts_with(i, "<!--")) {
      i = units.after(i + 4, "-->");
      if (i == kNone) return kNone;
    } else if (in_subset && units.starts_with(i, "<?")) {
      i = units.after(i + 2, "?>");
      if (i == kNone) return kNone;
    } else {
      if (unit == '[') in_subset = true;
      if (unit == ']') in_subset = false;
      if (unit == '>' && !in_subset) return i + 1;
      ++i;
    }
  }
  return kNone;
}

}  // namespace

DocumentStart document_start(std::string_view document) {
  const Units units(document);
  DocumentStart start;
  std::size_t i = 0;
  for (; i < units.size() && is_space(units[i]); ++i) {
    const std::uint16_t unit = units[i];
    // CR LF is one line break, as a lone CR or LF is.
    if (unit == '\n' || (unit == '\r' && units[i + 1] != '\n')) {
      ++start.lines;
      start.columns = 0;
    } else if (unit != '\r') {
      ++start.columns;
    }
  }
  const bool declaration =
      units.starts_with(i, "<?xml") && (is_space(units[i + 5]) || units[i + 5] == '?');
  if (i == 0 || !declaration) return {};
  start.offset = units.bom() + i * units.width();
  return start;
}

std::string root_element_name(std::string_view document, std::size_t max_length) {
  const Units units(document);
  std::size_t i = 0;
  while (true) {
    i = skip_space(units, i);
    if (units[i] != '<') return {};
    if (units[i + 1] == '?') {
      i = units.after(i + 2, "?>");
    } else if (units.starts_with(i, "<!--")) {
      i = units.after(i + 4, "-->");
    } else if (units.starts_with(i, "<!DOCTYPE")) {
      i = after_doctype(units, i + 9);
    } else {
      break;
    }
    if (i == kNone) return {};
  }

  // The element name runs to white space, '/', '>' or the end; its local name is the part
  // after the first colon, as the readers take it.
  std::string name;
  bool prefixed = false, too_long = false;
  for (++i; i < units.size(); ++i) {
    const std::uint16_t unit = units[i];
    if (is_space(unit) || unit == '/' || unit == '>') break;
    if (unit == ':' && !prefixed) {
      prefixed = true;
      too_long = false;
      name.clear();
    } else if (name.size() == max_length) {
      too_long = true;
    } else {
      // Non-ASCII units match no ASCII name; DEL stands in for them.
      name.push_back(unit >= 'A' && unit <= 'Z' ? static_cast<char>(unit - 'A' + 'a')
                     : unit < 0x80              ? static_cast<char>(unit)
                                                : '\x7f');
    }
  }
  return too_long ? std::string() : name;
}

}  // namespace tramlix::xml
