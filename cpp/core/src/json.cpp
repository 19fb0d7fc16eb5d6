#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "text.hpp"
#include "tramlix/model.hpp"
#include "tramlix/time.hpp"

namespace tramlix {
namespace {

// A generous guess at one fully populated point; the buffer grows if it is short.
constexpr std::size_t kBytesPerPoint = 192;

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

  template <class Int>
  void value(const std::optional<Int>& integer) {
    if (!begin_value(integer.has_value())) return;
    char buf[16];
    out_.append(buf, std::to_chars(buf, buf + sizeof buf, *integer).ptr);
  }

  template <class T>
  void field(std::string_view name, const T& v) {
    key(name);
    value(v);
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

void write_point(JsonWriter& w, const TrackPoint& p) {
  w.open_object();
  w.field("time", p.time);
  w.field("latitude", p.latitude);
  w.field("longitude", p.longitude);
  w.field("elevation_m", p.elevation_m);
  w.field("distance_m", p.distance_m);
  w.field("heart_rate_bpm", p.heart_rate_bpm);
  w.field("cadence_rpm", p.cadence_rpm);
  w.field("speed_mps", p.speed_mps);
  w.field("power_watts", p.power_watts);
  w.field("temperature_c", p.temperature_c);
  w.close_object();
}

void write_summary(JsonWriter& w, const ActivitySummary& s) {
  w.open_object();
  w.field("total_elapsed_seconds", s.total_elapsed_seconds);
  w.field("total_timer_seconds", s.total_timer_seconds);
  w.field("total_moving_seconds", s.total_moving_seconds);
  w.field("total_distance_meters", s.total_distance_meters);
  w.field("average_speed_mps", s.average_speed_mps);
  w.field("average_heart_rate_bpm", s.average_heart_rate_bpm);
  w.field("total_ascent_meters", s.total_ascent_meters);
  w.field("total_descent_meters", s.total_descent_meters);
  w.close_object();
}

void write_activity(JsonWriter& w, const Activity& a) {
  w.open_object();
  w.field("name", a.name);
  w.field("sport", a.sport);
  w.field("sub_sport", a.sub_sport);
  // The stored field, not the effective start time.
  w.field("start_time", a.start_time);
  w.key("summary");
  write_summary(w, a.summary);
  w.key("segments");
  w.open_array();
  for (const Segment& segment : a.segments) {
    w.open_object();
    w.key("points");
    w.open_array();
    for (const TrackPoint& point : segment.points) write_point(w, point);
    w.close_array();
    w.close_object();
  }
  w.close_array();
  w.close_object();
}

void write_device(JsonWriter& w, const DeviceInfo& d) {
  w.open_object();
  w.field("manufacturer", d.manufacturer);
  w.field("manufacturer_id", d.manufacturer_id);
  w.field("product", d.product);
  w.field("product_id", d.product_id);
  w.field("product_name", d.product_name);
  w.field("serial_number", d.serial_number);
  w.field("software_version", d.software_version);
  w.field("device_index", d.device_index);
  w.field("source_type", d.source_type);
  w.close_object();
}

}  // namespace

std::string to_json(const ActivityFile& file) {
  JsonWriter w(128 + file.point_count() * kBytesPerPoint);
  w.open_object();
  w.key("activities");
  w.open_array();
  for (const Activity& activity : file.activities) write_activity(w, activity);
  w.close_array();
  w.field("creator", file.creator);
  w.key("device_info");
  if (file.device_info) {
    write_device(w, *file.device_info);
  } else {
    w.null();
  }
  w.close_object();
  return w.take();
}

}  // namespace tramlix
