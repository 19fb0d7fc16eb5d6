// A compact JSON writer: objects, arrays, keys and the model's scalar values, with commas where
// they belong. The JSON export and the GeoJSON writer build their text with it.
#pragma once

#include <charconv>
#include <concepts>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "text.hpp"
#include "tramlix/time.hpp"

namespace tramlix {

class JsonWriter {
 public:
  explicit JsonWriter(std::size_t capacity) { out_.reserve(capacity); }

  std::string take() { return std::move(out_); }

  void open_object() { open('{'); }
  void close_object() { close('}'); }
  void open_array() { open('['); }
  void close_array() { close(']'); }

  // Key names are plain ASCII identifiers and need no escaping.
  void key(std::string_view name) {
    separate();
    out_.push_back('"');
    out_.append(name);
    out_.append("\":");
    after_key_ = true;
  }

  void value(const std::optional<std::string>& text) {
    if (!begin_value(text.has_value())) return;
    append_string(*text);
  }

  void value(const std::optional<double>& number) {
    if (!begin_value(number.has_value())) return;
    append_json_number(out_, *number);
  }

  void value(const std::optional<UtcInstant>& time) {
    if (!begin_value(time.has_value())) return;
    out_.push_back('"');
    append_json_time(out_, *time);
    out_.push_back('"');
  }

  template <std::integral Int>
  void value(const std::optional<Int>& integer) {
    if (!begin_value(integer.has_value())) return;
    char buf[16];
    out_.append(buf, std::to_chars(buf, buf + sizeof buf, *integer).ptr);
  }

  // A text known to need no escaping: GeoJSON's type names.
  void plain_text(std::string_view text) {
    begin_value(true);
    out_.push_back('"');
    out_.append(text);
    out_.push_back('"');
  }

  void null() { begin_value(false); }

 private:
  void separate() {
    if (need_comma_) out_.push_back(',');
    need_comma_ = false;
  }

  // Writes null and returns false for an absent value.
  bool begin_value(bool present) {
    if (!after_key_) separate();
    after_key_ = false;
    need_comma_ = true;
    if (!present) out_.append("null");
    return present;
  }

  void open(char bracket) {
    if (!after_key_) separate();
    after_key_ = false;
    need_comma_ = false;
    out_.push_back(bracket);
  }

  void close(char bracket) {
    out_.push_back(bracket);
    need_comma_ = true;
  }

  void append_string(std::string_view text) {
    constexpr char kHex[] = "0123456789abcdef";
    out_.push_back('"');
    std::size_t run = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_.append(text.substr(run, i - run));
      run = i + 1;
      switch (c) {
        case '"':
          out_.append("\\\"");
          break;
        case '\\':
          out_.append("\\\\");
          break;
        case '\b':
          out_.append("\\b");
          break;
        case '\t':
          out_.append("\\t");
          break;
        case '\n':
          out_.append("\\n");
          break;
        case '\f':
          out_.append("\\f");
          break;
        case '\r':
          out_.append("\\r");
          break;
        default:
          out_.append("\\u00");
          out_.push_back(kHex[c >> 4]);
          out_.push_back(kHex[c & 0xF]);
      }
    }
    out_.append(text.substr(run));
    out_.push_back('"');
  }

  std::string out_;
  bool need_comma_ = false;
  bool after_key_ = false;
};

}  // namespace tramlix
