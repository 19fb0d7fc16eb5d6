// The start of an XML document, looked at without parsing it: what comes before the root
// element, in UTF-8 or UTF-16 (either byte order, with or without a byte-order mark).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tramlix::xml {

// Where expat is to start reading a document. Some exporters write blanks before the XML
// declaration, which must open the document; the skipped bytes hold `lines` line breaks and
// `columns` characters after the last of them, for error positions.
struct DocumentStart {
  std::size_t offset = 0;  // bytes skipped: a byte-order mark and the blanks after it
  std::size_t lines = 0;
  std::size_t columns = 0;
};

// Skips a byte-order mark and ASCII white space when an XML declaration follows them; otherwise
// the document starts at its first byte.
DocumentStart document_start(std::string_view document);

// The local name of the root element in ASCII lower case, found past a byte-order mark, white
// space, the XML declaration, comments, processing instructions and a document type
// declaration of any length. Empty when the prolog does not lead to an element, or its name is
// longer than `max_length`. One linear pass over the prolog, whatever it holds.
std::string root_element_name(std::string_view document, std::size_t max_length = 64);

}  // namespace tramlix::xml
