// A streaming XML event reader on expat, shared by the GPX and TCX readers.
//
// The whole document is parsed from memory without namespace processing; elements are reported
// by local name (the part after the first colon). A self-closing element arrives as one
// `empty_element` event, not as a start and an end. External entities and DTDs are never
// loaded, and entities a document declares are not expanded in content: such references, like
// undeclared ones, are reported as references, which are an error only while text is being
// collected.
#pragma once

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

#include "tramlix/error.hpp"

namespace tramlix::xml {

// The part of a qualified name after its first colon, or the whole name.
inline std::string_view local_name(std::string_view qualified) {
  const auto colon = qualified.find(':');
  return colon == std::string_view::npos ? qualified : qualified.substr(colon + 1);
}

// A reference to an entity other than the five predefined ones in an attribute value a reader
// uses: the reader fails with "unknown XML entity &name;", as for the same reference in text.
struct UnknownEntity {
  std::string name;  // UTF-8
};

// The bytes of a start tag as the document has them (UTF-8, a one-byte encoding or UTF-16).
struct RawTag {
  const unsigned char* data = nullptr;
  std::size_t size = 0;
  int specified = 0;  // how many attributes the tag itself gives; later ones are DTD defaults
};

// The attributes of a start tag, already unescaped: expat's null-terminated name/value array.
class Attributes {
 public:
  struct Attribute {
    std::string_view name;   // as written, with any prefix
    std::string_view value;  // as expat unescaped it
  };

  class iterator {
   public:
    explicit iterator(const char* const* at) : at_(at) {}
    Attribute operator*() const { return {at_[0], at_[1]}; }
    iterator& operator++() {
      at_ += 2;
      return *this;
    }
    bool operator==(const iterator& other) const {
      return (at_ == nullptr || *at_ == nullptr) == (other.at_ == nullptr || *other.at_ == nullptr);
    }

   private:
    const char* const* at_;
  };

  explicit Attributes(const char* const* pairs, const RawTag* tag = nullptr)
      : pairs_(pairs), tag_(tag) {}
  iterator begin() const { return iterator(pairs_); }
  iterator end() const { return iterator(nullptr); }

  // The value of one of these attributes, for a reader that takes it into the model. Expat
  // drops a reference to an undeclared entity in an attribute value and expands a declared
  // one; a reader must not read such a value, so this throws UnknownEntity when the value as
  // written holds a reference other than a character reference or lt, gt, amp, apos, quot.
  std::string_view value(const Attribute& attribute) const;

 private:
  const char* const* pairs_;
  const RawTag* tag_;
};

// Character data gathered for the element a reader is interested in. While collecting,
// character data, CDATA content and resolved character and predefined-entity references are
// appended; any other entity reference stops the parse with "unknown XML entity &name;".
class TextBuffer {
 public:
  void begin() {
    text_.clear();
    collecting_ = true;
  }
  void stop() { collecting_ = false; }
  bool collecting() const { return collecting_; }
  std::string_view view() const { return text_; }
  void append(std::string_view text) { text_.append(text); }

 private:
  std::string text_;
  bool collecting_ = false;
};

class Handler {
 public:
  virtual void start_element(std::string_view local_name, Attributes attributes) = 0;
  virtual void empty_element(std::string_view local_name, Attributes attributes) = 0;
  virtual void end_element(std::string_view local_name) = 0;

 protected:
  ~Handler() = default;
};

// Why a parse stopped: the message to carry, and where in the whole document the parser stood.
struct ParseError {
  std::string message;
  TextPosition position;
};

// Parses `document`, reporting elements to `handler` and collecting text into `text`. Blanks
// before the XML declaration (after any byte-order mark) are skipped. On failure the message is
// expat's own text with the line and column of a syntax error ("mismatched tag at line 3,
// column 5"), or the unknown-entity message. UnknownEntity thrown by a handler fails the parse
// with that message; any other exception thrown by a handler stops the parse and is rethrown
// from here. Expat running out of memory throws std::bad_alloc.
std::expected<void, ParseError> parse(std::string_view document, Handler& handler,
                                      TextBuffer& text);

}  // namespace tramlix::xml
