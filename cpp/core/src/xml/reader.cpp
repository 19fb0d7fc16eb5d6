#include "xml/reader.hpp"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "text.hpp"
#include "xml/prolog.hpp"

namespace tramlix::xml {
namespace {

struct ParserDeleter {
  void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};

struct State {
  XML_Parser parser;
  DocumentStart start;
  const unsigned char* data;
  std::size_t size;
  Handler* handler;
  TextBuffer* text;
  std::string error = {};  // set when the reader itself stopped the parse
  TextPosition error_position = {};
  // An exception from a handler (bad_alloc, say) must not unwind through expat's C frames; it
  // stops the parse and is rethrown once XML_Parse has returned.
  std::exception_ptr exception = {};
};

State& state(void* user_data) {
  return *static_cast<State*>(user_data);
}

void fail_with_exception(State& s) {
  if (!s.exception) s.exception = std::current_exception();
  XML_StopParser(s.parser, XML_FALSE);
}

// Whether the start tag expat is reporting ends in "/>". The tag's raw bytes are in our own
// buffer; in UTF-16 every code unit is two bytes, which the position of the zero byte around
// the opening '<' tells apart.
bool start_tag_is_empty(const State& s) {
  const XML_Index index = XML_GetCurrentByteIndex(s.parser);
  const int count = XML_GetCurrentByteCount(s.parser);
  if (index < 0 || count < 2 || static_cast<std::uint64_t>(index) + count > s.size) return false;
  const unsigned char* tag = s.data + index;
  const std::size_t n = static_cast<std::size_t>(count);
  if (n >= 4 && tag[0] == 0 && tag[1] == '<') return tag[n - 4] == 0 && tag[n - 3] == '/';
  if (n >= 4 && tag[0] == '<' && tag[1] == 0) return tag[n - 4] == '/' && tag[n - 3] == 0;
  return tag[n - 2] == '/';
}

// The local name of an element name from expat, found in one pass over its bytes.
std::string_view local_name_of(const XML_Char* name) {
  const char* start = name;
  const char* end = name;
  for (; *end != '\0'; ++end) {
    if (*end == ':' && start == name) start = end + 1;
  }
  return {start, static_cast<std::size_t>(end - start)};
}

// Where expat stands in the whole document, counting what was skipped before the part it read.
TextPosition position(XML_Parser parser, const DocumentStart& start) {
  const XML_Size line = XML_GetCurrentLineNumber(parser);
  XML_Size column = XML_GetCurrentColumnNumber(parser) + 1;
  if (line == 1) column += start.columns;
  return {line + start.lines, column};
}

// Stops the parse with the unknown-entity message, at the place expat stands.
void fail_unknown_entity(State& s, std::string_view name) {
  if (!s.error.empty() || s.exception) return;
  s.error_position = position(s.parser, s.start);
  try {
    s.error.reserve(name.size() + 22);
    s.error.append("unknown XML entity &").append(name).append(";");
  } catch (...) {
    fail_with_exception(s);
    return;
  }
  XML_StopParser(s.parser, XML_FALSE);
}

void reference(State& s, std::string_view name) {
  if (s.text->collecting()) fail_unknown_entity(s, name);
}

// The bytes of the start tag expat is reporting, in our own buffer.
RawTag raw_tag(const State& s) {
  const XML_Index index = XML_GetCurrentByteIndex(s.parser);
  const int count = XML_GetCurrentByteCount(s.parser);
  if (index < 0 || count < 0 || static_cast<std::uint64_t>(index) + count > s.size) return {};
  return {s.data + index, static_cast<std::size_t>(count),
          XML_GetSpecifiedAttributeCount(s.parser) / 2};
}

void XMLCALL on_start(void* user_data, const XML_Char* name, const XML_Char** attributes) {
  State& s = state(user_data);
  if (s.exception) return;
  const std::string_view local = local_name_of(name);
  const RawTag tag = raw_tag(s);
  try {
    if (start_tag_is_empty(s)) {
      s.handler->empty_element(local, Attributes(attributes, &tag));
    } else {
      s.handler->start_element(local, Attributes(attributes, &tag));
    }
  } catch (const UnknownEntity& entity) {
    fail_unknown_entity(s, entity.name);
  } catch (...) {
    fail_with_exception(s);
  }
}

void XMLCALL on_end(void* user_data, const XML_Char* name) {
  State& s = state(user_data);
  // The end event of a self-closing tag carries no bytes of its own; its element was already
  // reported as empty.
  if (s.exception || XML_GetCurrentByteCount(s.parser) == 0) return;
  try {
    s.handler->end_element(local_name_of(name));
  } catch (...) {
    fail_with_exception(s);
  }
}

void XMLCALL on_characters(void* user_data, const XML_Char* chars, int length) {
  State& s = state(user_data);
  if (!s.text->collecting() || s.exception) return;
  try {
    s.text->append(std::string_view(chars, static_cast<std::size_t>(length)));
  } catch (...) {
    fail_with_exception(s);
  }
}

// Entities a document declares, and undeclared ones (allowed by the foreign DTD), arrive here
// instead of being expanded.
void XMLCALL on_skipped_entity(void* user_data, const XML_Char* name, int is_parameter_entity) {
  if (!is_parameter_entity) reference(state(user_data), name);
}

// Everything without a handler of its own: the prolog, comments, processing instructions, CDATA
// markers and references to external entities, which arrive as "&name;".
void XMLCALL on_default(void* user_data, const XML_Char* chars, int length) {
  const std::string_view raw(chars, static_cast<std::size_t>(length));
  if (raw.size() >= 3 && raw.front() == '&' && raw.back() == ';' && raw[1] != '#') {
    reference(state(user_data), raw.substr(1, raw.size() - 2));
  }
}

// Expat's message with the position in the whole document.
ParseError syntax_error(XML_Parser parser, const DocumentStart& start) {
  const TextPosition at = position(parser, start);
  std::string message = XML_ErrorString(XML_GetErrorCode(parser));
  message += " at line ";
  message += std::to_string(at.line);
  message += ", column ";
  message += std::to_string(at.column);
  return {std::move(message), at};
}

// The code units of a start tag as written: bytes, or UTF-16 units in either byte order (told
// apart by the zero byte beside the opening '<').
class TagUnits {
 public:
  explicit TagUnits(const RawTag& tag) : data_(tag.data) {
    if (tag.size >= 2 && data_[0] == 0 && data_[1] == '<') {
      width_ = 2;
      big_endian_ = true;
    } else if (tag.size >= 2 && data_[0] == '<' && data_[1] == 0) {
      width_ = 2;
    }
    size_ = tag.size / width_;
  }

  std::size_t size() const { return size_; }

  char32_t operator[](std::size_t i) const {
    if (width_ == 1) return data_[i];
    const unsigned char* unit = data_ + 2 * i;
    return big_endian_ ? (char32_t{unit[0]} << 8 | unit[1]) : (char32_t{unit[1]} << 8 | unit[0]);
  }

  // Units [from, to) as UTF-8: UTF-16 decoded; bytes kept when they are UTF-8 and otherwise
  // taken as ISO-8859-1, the one-byte encodings expat reads.
  std::string utf8(std::size_t from, std::size_t to) const {
    std::string out;
    if (width_ == 1) {
      const std::string_view bytes(reinterpret_cast<const char*>(data_ + from), to - from);
      if (is_valid_utf8(bytes)) return std::string(bytes);
      for (const char c : bytes) append_utf8(out, static_cast<unsigned char>(c));
      return out;
    }
    for (std::size_t i = from; i < to; ++i) {
      char32_t c = (*this)[i];
      if (c >= 0xD800 && c < 0xDC00 && i + 1 < to && (*this)[i + 1] >= 0xDC00 &&
          (*this)[i + 1] < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + ((*this)[++i] - 0xDC00);
      }
      append_utf8(out, c);
    }
    return out;
  }

 private:
  static void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | c >> 12);
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | c >> 18);
      out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
      out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }

  const unsigned char* data_;
  std::size_t width_ = 1;
  bool big_endian_ = false;
  std::size_t size_ = 0;
};

bool is_xml_space(char32_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool is_predefined_entity(const TagUnits& units, std::size_t from, std::size_t to) {
  static constexpr std::string_view kNames[] = {"lt", "gt", "amp", "apos", "quot"};
  for (const std::string_view name : kNames) {
    if (name.size() != to - from) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < name.size(); ++i) {
      same = units[from + i] == static_cast<unsigned char>(name[i]);
    }
    if (same) return true;
  }
  return false;
}

// The first entity named in the value of attribute `index` of a well-formed start tag that is
// not a predefined one; empty when there is none.
std::string unknown_entity(const RawTag& tag, std::size_t index) {
  const TagUnits units(tag);
  std::size_t i = 1;  // past '<'
  while (i < units.size() && !is_xml_space(units[i]) && units[i] != '/' && units[i] != '>') ++i;
  for (std::size_t attribute = 0; i < units.size(); ++attribute) {
    while (i < units.size() && units[i] != '"' && units[i] != '\'') ++i;  // the name and '='
    if (i == units.size()) break;
    const char32_t quote = units[i++];
    const std::size_t value = i;
    while (i < units.size() && units[i] != quote) ++i;
    const std::size_t value_end = i++;
    if (attribute != index) continue;
    for (std::size_t at = value; at < value_end; ++at) {
      if (units[at] != '&') continue;
      std::size_t end = at + 1;
      while (end < value_end && units[end] != ';') ++end;
      const bool character = at + 1 < end && units[at + 1] == '#';
      if (!character && !is_predefined_entity(units, at + 1, end)) {
        return units.utf8(at + 1, end);
      }
      at = end;
    }
    break;
  }
  return {};
}

}  // namespace

std::string_view Attributes::value(const Attribute& attribute) const {
  if (tag_ == nullptr || tag_->data == nullptr ||
      std::memchr(tag_->data, '&', tag_->size) == nullptr) {
    return attribute.value;
  }
  std::size_t index = 0;
  while (pairs_[2 * index] != nullptr && pairs_[2 * index] != attribute.name.data()) ++index;
  // An attribute the tag leaves to the DTD's default has no value in the tag to look at.
  if (index >= static_cast<std::size_t>(tag_->specified)) return attribute.value;
  std::string entity = unknown_entity(*tag_, index);
  if (!entity.empty()) throw UnknownEntity{std::move(entity)};
  return attribute.value;
}

std::expected<void, ParseError> parse(std::string_view whole, Handler& handler, TextBuffer& text) {
  const DocumentStart start = document_start(whole);
  const std::string_view document = whole.substr(start.offset);
  std::unique_ptr<XML_ParserStruct, ParserDeleter> parser(XML_ParserCreate(nullptr));
  if (!parser) throw std::bad_alloc();

  State s{.parser = parser.get(),
          .start = start,
          .data = reinterpret_cast<const unsigned char*>(document.data()),
          .size = document.size(),
          .handler = &handler,
          .text = &text};
  XML_SetUserData(parser.get(), &s);
  XML_SetElementHandler(parser.get(), on_start, on_end);
  XML_SetCharacterDataHandler(parser.get(), on_characters);
  XML_SetSkippedEntityHandler(parser.get(), on_skipped_entity);
  XML_SetDefaultHandler(parser.get(), on_default);
  // Pretend an external subset exists (it is never loaded): undeclared entities then become
  // skipped-entity events instead of fatal errors.
  XML_UseForeignDTD(parser.get(), XML_TRUE);
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);

  constexpr std::size_t kChunk = std::size_t{1} << 30;  // well below INT_MAX
  std::size_t offset = 0;
  do {
    const std::size_t length = std::min(kChunk, document.size() - offset);
    const bool last = offset + length == document.size();
    if (XML_Parse(parser.get(), document.data() + offset, static_cast<int>(length),
                  last ? XML_TRUE : XML_FALSE) != XML_STATUS_OK) {
      if (s.exception) std::rethrow_exception(s.exception);
      if (XML_GetErrorCode(parser.get()) == XML_ERROR_NO_MEMORY) throw std::bad_alloc();
      if (!s.error.empty()) {
        return std::unexpected(ParseError{std::move(s.error), s.error_position});
      }
      return std::unexpected(syntax_error(parser.get(), start));
    }
    offset += length;
  } while (offset < document.size());
  return {};
}

}  // namespace tramlix::xml
