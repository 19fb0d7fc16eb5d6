#include "xml/reader.hpp"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <utility>

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

void reference(State& s, std::string_view name) {
  if (!s.text->collecting() || !s.error.empty() || s.exception) return;
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

void XMLCALL on_start(void* user_data, const XML_Char* name, const XML_Char** attributes) {
  State& s = state(user_data);
  if (s.exception) return;
  const std::string_view local = local_name_of(name);
  try {
    if (start_tag_is_empty(s)) {
      s.handler->empty_element(local, Attributes(attributes));
    } else {
      s.handler->start_element(local, Attributes(attributes));
    }
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

}  // namespace

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
