#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <string_view>

#include "tramlix/model.hpp"

namespace tramlix {
namespace {

constexpr std::int64_t kMay1st2024At8 = 1'714'550'400;  // 2024-05-01T08:00:00Z

constexpr std::string_view kEmptySummary =
    R"({"total_elapsed_seconds":null,"total_timer_seconds":null,"total_moving_seconds":null,)"
    R"("total_distance_meters":null,"average_speed_mps":null,"average_heart_rate_bpm":null,)"
    R"("total_ascent_meters":null,"total_descent_meters":null})";

template <class Field, class Value>
TrackPoint point_with(std::optional<Field> TrackPoint::*field, Value value) {
  TrackPoint point;
  point.*field = static_cast<Field>(value);
  return point;
}

std::string empty_point_with(std::string_view field, std::string_view value) {
  std::string out = "{";
  for (std::string_view key :
       {"time", "latitude", "longitude", "elevation_m", "distance_m", "heart_rate_bpm",
        "cadence_rpm", "speed_mps", "power_watts", "temperature_c"}) {
    if (out.size() > 1) out += ",";
    out.append("\"").append(key).append("\":").append(key == field ? value : "null");
  }
  return out + "}";
}

std::string file_with_point(const TrackPoint& point) {
  ActivityFile file;
  file.activities.push_back({});
  file.activities[0].segments.push_back({{point}});
  return to_json(file);
}

std::string activity_wrapping(std::string_view point_json) {
  return R"({"activities":[{"name":null,"sport":null,"sub_sport":null,"start_time":null,)"
         R"("summary":)" +
         std::string(kEmptySummary) + R"(,"segments":[{"points":[)" + std::string(point_json) +
         R"(]}]}],"creator":null,"device_info":null})";
}

TEST(Json, DefaultFile) {
  const std::string json = to_json(ActivityFile{});
  EXPECT_EQ(json, R"({"activities":[],"creator":null,"device_info":null})");
  EXPECT_EQ(json.size(), 51u);
}

TEST(Json, EmptyActivityWritesEveryKey) {
  ActivityFile file;
  file.activities.push_back({});
  EXPECT_EQ(to_json(file),
            R"({"activities":[{"name":null,"sport":null,"sub_sport":null,"start_time":null,)"
            R"("summary":)" +
                std::string(kEmptySummary) +
                R"(,"segments":[]}],"creator":null,"device_info":null})");
}

TEST(Json, PointValues) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  const struct {
    TrackPoint point;
    std::string_view field;
    std::string_view text;
  } cases[] = {
      {point_with(&TrackPoint::latitude, 52.0), "latitude", "52.0"},
      {point_with(&TrackPoint::latitude, -0.0), "latitude", "-0.0"},
      {point_with(&TrackPoint::longitude, 1e16), "longitude", "1e+16"},
      {point_with(&TrackPoint::elevation_m, 0.000001), "elevation_m", "1e-6"},
      {point_with(&TrackPoint::elevation_m, 0.00001), "elevation_m", "0.00001"},
      {point_with(&TrackPoint::distance_m, 123456789012345.0), "distance_m", "123456789012345.0"},
      {point_with(&TrackPoint::distance_m, 2.5e-7), "distance_m", "2.5e-7"},
      {point_with(&TrackPoint::speed_mps, kNaN), "speed_mps", "null"},
      {point_with(&TrackPoint::speed_mps, -kInf), "speed_mps", "null"},
      {point_with(&TrackPoint::heart_rate_bpm, 0), "heart_rate_bpm", "0"},
      {point_with(&TrackPoint::cadence_rpm, 65535), "cadence_rpm", "65535"},
      {point_with(&TrackPoint::power_watts, 250), "power_watts", "250"},
      {point_with(&TrackPoint::temperature_c, -5), "temperature_c", "-5"},
      {point_with(&TrackPoint::temperature_c, -32768), "temperature_c", "-32768"},
      {point_with(&TrackPoint::time, UtcInstant{kMay1st2024At8, 0}), "time",
       R"("2024-05-01T08:00:00Z")"},
      {point_with(&TrackPoint::time, UtcInstant{kMay1st2024At8, 250'000'000}), "time",
       R"("2024-05-01T08:00:00.250Z")"},
      {point_with(&TrackPoint::time, UtcInstant{kMay1st2024At8 - 1, 1'000'000'000}), "time",
       R"("2024-05-01T07:59:60Z")"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(file_with_point(c.point), activity_wrapping(empty_point_with(c.field, c.text)));
  }
}

TEST(Json, StringEscaping) {
  const struct {
    std::string_view text;
    std::string_view json;
  } cases[] = {
      {"Say \"hi\"\nnow", R"("Say \"hi\"\nnow")"},
      {"C:\\dir/file", R"("C:\\dir/file")"},
      {"\b\t\f\r", R"("\b\t\f\r")"},
      {std::string_view("\0\x01\x0b\x1f", 4), R"("\u0000\u0001\u000b\u001f")"},
      {"\x7f\u00e9\u2028", "\"\x7f\u00e9\u2028\""},
      {"", R"("")"},
  };
  for (const auto& c : cases) {
    ActivityFile file;
    file.creator = std::string(c.text);
    EXPECT_EQ(to_json(file),
              R"({"activities":[],"creator":)" + std::string(c.json) + R"(,"device_info":null})");
  }
}

TEST(Json, FullFile) {
  ActivityFile file;
  file.creator = "tramlix";
  file.device_info = DeviceInfo{
      .manufacturer = "garmin",
      .manufacturer_id = 1,
      .product = "3121",
      .product_id = 3121,
      .product_name = "Edge 530",
      .serial_number = 4294967295u,
      .software_version = 9.1,
      .device_index = 255,
      .source_type = "local",
  };
  Activity ride;
  ride.name = "Morning ride";
  ride.sport = "cycling";
  ride.sub_sport = "road";
  ride.start_time = UtcInstant{kMay1st2024At8, 0};
  ride.summary.total_elapsed_seconds = 3600;
  ride.summary.total_distance_meters = 1e16;
  ride.summary.average_heart_rate_bpm = 141.5;
  TrackPoint full{
      .time = UtcInstant{kMay1st2024At8, 123'000},
      .latitude = 52.520008,
      .longitude = 13.404954,
      .elevation_m = 34,
      .distance_m = 1200.5,
      .heart_rate_bpm = 140,
      .cadence_rpm = 85,
      .speed_mps = 3.2,
      .power_watts = 210,
      .temperature_c = 21,
  };
  ride.segments = {Segment{{full, TrackPoint{}}}, Segment{}};
  Activity run;
  run.sport = "running";
  file.activities = {ride, run};

  const std::string summary =
      R"({"total_elapsed_seconds":3600.0,"total_timer_seconds":null,"total_moving_seconds":null,)"
      R"("total_distance_meters":1e+16,"average_speed_mps":null,"average_heart_rate_bpm":141.5,)"
      R"("total_ascent_meters":null,"total_descent_meters":null})";
  const std::string expected =
      R"({"activities":[{"name":"Morning ride","sport":"cycling","sub_sport":"road",)"
      R"("start_time":"2024-05-01T08:00:00Z","summary":)" +
      summary +
      R"(,"segments":[{"points":[{"time":"2024-05-01T08:00:00.000123Z","latitude":52.520008,)"
      R"("longitude":13.404954,"elevation_m":34.0,"distance_m":1200.5,"heart_rate_bpm":140,)"
      R"("cadence_rpm":85,"speed_mps":3.2,"power_watts":210,"temperature_c":21},)" +
      empty_point_with("", "") +
      R"(]},{"points":[]}]},{"name":null,"sport":"running","sub_sport":null,"start_time":null,)"
      R"("summary":)" +
      std::string(kEmptySummary) +
      R"(,"segments":[]}],"creator":"tramlix","device_info":{"manufacturer":"garmin",)"
      R"("manufacturer_id":1,"product":"3121","product_id":3121,"product_name":"Edge 530",)"
      R"("serial_number":4294967295,"software_version":9.1,"device_index":255,)"
      R"("source_type":"local"}})";
  EXPECT_EQ(to_json(file), expected);
}

TEST(Json, StartTimeIsTheStoredFieldOnly) {
  // A timed point must not leak into start_time: that is the effective start, not the field.
  const std::string json =
      file_with_point(point_with(&TrackPoint::time, UtcInstant{kMay1st2024At8, 0}));
  EXPECT_NE(json.find(R"("start_time":null)"), std::string::npos);
}

}  // namespace
}  // namespace tramlix
