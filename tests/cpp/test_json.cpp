#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "tramlix/model.hpp"

namespace tramlix {
namespace {

constexpr std::int64_t kMay1st2024At8 = 1'714'550'400;  // 2024-05-01T08:00:00Z

// Every key in declared order, each kind of value, string escapes and absent values as null.
TEST(Json, EveryKeyAndValueKind) {
  EXPECT_EQ(to_json(ActivityFile{}), R"({"activities":[],"creator":null,"device_info":null})");
  const TrackPoint full{UtcInstant{kMay1st2024At8, 123'000},
                        52.520008,
                        13.404954,
                        34.0,
                        1200.5,
                        140,
                        85,
                        3.2,
                        210,
                        -5};
  // Timed points must not leak into start_time: the stored field is exported, not the
  // effective start.
  const Activity ride{std::string("Say \"hi\"\\\b\t\n\f\r\x01\x1f\u00e9") + '\0',
                      "cycling",
                      "road",
                      std::nullopt,
                      ActivitySummary{3600.0, {}, {}, 1e16, {}, 141.5, {}, {}},
                      {Segment{{full, TrackPoint{}}}, Segment{}}};
  const Activity run{{}, "running", {}, UtcInstant{kMay1st2024At8, 0}, {}, {}};
  const ActivityFile file{
      {ride, run},
      "tramlix",
      DeviceInfo{"garmin", 1, "3121", 3121, "Edge 530", 4294967295u, 9.1, 255, "local"}};
  constexpr std::string_view kExpected =
      R"({"activities":[{"name":"Say \"hi\"\\\b\t\n\f\r\u0001\u001f)"
      "\u00e9"
      R"(\u0000",)"
      R"("sport":"cycling","sub_sport":"road","start_time":null,)"
      R"("summary":{"total_elapsed_seconds":3600.0,"total_timer_seconds":null,)"
      R"("total_moving_seconds":null,"total_distance_meters":1e+16,"average_speed_mps":null,)"
      R"("average_heart_rate_bpm":141.5,"total_ascent_meters":null,"total_descent_meters":null},)"
      R"("segments":[{"points":[{"time":"2024-05-01T08:00:00.000123Z","latitude":52.520008,)"
      R"("longitude":13.404954,"elevation_m":34.0,"distance_m":1200.5,"heart_rate_bpm":140,)"
      R"("cadence_rpm":85,"speed_mps":3.2,"power_watts":210,"temperature_c":-5},)"
      R"({"time":null,"latitude":null,"longitude":null,"elevation_m":null,"distance_m":null,)"
      R"("heart_rate_bpm":null,"cadence_rpm":null,"speed_mps":null,"power_watts":null,)"
      R"("temperature_c":null}]},{"points":[]}]},{"name":null,"sport":"running","sub_sport":null,)"
      R"("start_time":"2024-05-01T08:00:00Z","summary":{"total_elapsed_seconds":null,)"
      R"("total_timer_seconds":null,"total_moving_seconds":null,"total_distance_meters":null,)"
      R"("average_speed_mps":null,"average_heart_rate_bpm":null,"total_ascent_meters":null,)"
      R"("total_descent_meters":null},"segments":[]}],"creator":"tramlix",)"
      R"("device_info":{"manufacturer":"garmin","manufacturer_id":1,"product":"3121",)"
      R"("product_id":3121,"product_name":"Edge 530","serial_number":4294967295,)"
      R"("software_version":9.1,"device_index":255,"source_type":"local"}})";
  EXPECT_EQ(to_json(file), kExpected);
}

}  // namespace
}  // namespace tramlix
