// The mapping of typed FIT messages onto the model, fed hand-built messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fit/fit.hpp"

// Models are spelled with designated initializers; g++ 12 warns about every member left out.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tramlix::fit {
namespace {

using namespace std::string_literals;
using namespace ::fit;

// Integers are written 1ul (unsigned) or 1l (signed) to pick the value's kind.
Field F(std::string_view name, Value value, bool developer = false) {
  return Field{.name = name, .value = std::move(value), .developer = developer};
}
Message M(std::string_view name, std::vector<Field> fields) {
  return Message{.fields = std::move(fields), .name = name};
}
const auto E = [](std::string_view name) { return Value(EnumName::borrowed(name)); };
const auto T = [](std::int64_t seconds) { return Value(Timestamp{seconds, 0}); };

std::expected<ActivityFile, Error> map(const std::vector<Message>& messages) {
  ActivityMapper mapper;
  for (const Message& message : messages) mapper.add(message);
  return std::move(mapper).finish();
}

TEST(FitMapper, SessionsCloseActivitiesInOrder) {
  // Texts that are not UTF-8 are mended.
  const auto file = map({
      M("record", {F("timestamp", T(100)), F("distance", 12.5)}),
      M("lap", {F("total_distance", 99.0)}),
      M("session",
        {F("sport", E("running")), F("sub_sport", E("trail")),
         F("sport_profile_name", "Lauf \xff"s), F("start_time", T(95)),
         F("total_elapsed_time", 15.0), F("total_timer_time", 14.0), F("total_moving_time", 13.0),
         F("total_distance", 12.5), F("avg_speed", 3.0), F("enhanced_avg_speed", 3.25),
         F("avg_heart_rate", 150ul), F("total_ascent", 3ul), F("total_descent", 4ul)}),
      // A session with no records since the last one closes nothing: its values wait.
      M("session", {F("sport", "laufen"s), F("total_ascent", 7ul), F("total_distance", 5.0)}),
      M("record", {F("timestamp", T(200))}),
      // An invalid total is no total; of the two average speeds the later one wins.
      M("session",
        {F("enhanced_avg_speed", 3.25), F("avg_speed", 3.0), F("total_distance", Invalid{})}),
      // Records after the last session form an activity of their own.
      M("record", {F("heart_rate", 99ul)}),
      M("record", {F("timestamp", T(300))}),
  });
  ASSERT_TRUE(file) << file.error().display();
  // clang-format off
  const Activity run{.name = "Lauf \xef\xbf\xbd", .sport = "running", .sub_sport = "trail",
                     .start_time = UtcInstant{95, 0},
                     .summary = {15.0, 14.0, 13.0, 12.5, 3.25, 150.0, 3.0, 4.0},
                     .segments = {{{{.time = UtcInstant{100, 0}, .distance_m = 12.5}}}}};
  const Activity ride{.sport = "laufen", .start_time = UtcInstant{200, 0},
                      .summary = {.total_distance_meters = 5.0, .average_speed_mps = 3.0,
                                  .total_ascent_meters = 7.0},
                      .segments = {{{{.time = UtcInstant{200, 0}}}}}};
  // The first record has no time: the activity starts at the second.
  const Activity rest{.start_time = UtcInstant{300, 0},
                      .segments = {{{{.heart_rate_bpm = 99}, {.time = UtcInstant{300, 0}}}}}};
  // clang-format on
  EXPECT_EQ(file->activities, (std::vector{run, ride, rest}));
  EXPECT_EQ(file->creator, "tramlix");

  const auto none = map({M("file_id", {F("manufacturer", E("garmin"))}), M("session", {})});
  ASSERT_FALSE(none);
  EXPECT_EQ(none.error().display(), "invalid FIT data: no record messages found");
}

TEST(FitMapper, RecordFields) {
  const struct {
    std::vector<Field> fields;
    TrackPoint expected;
  } cases[] = {
      {{F("position_lat", 1l << 30), F("position_long", -(1l << 31)),
        F("timestamp", Timestamp{1'500'000'000, 250})},
       {.time = UtcInstant{1'500'000'000, 250}, .latitude = 90.0, .longitude = -180.0}},
      // The plain field wins whenever it holds a number, before or after the enhanced one.
      {{F("speed", 3.5), F("enhanced_speed", 3.512), F("enhanced_altitude", 99.5),
        F("altitude", 100ul)},
       {.elevation_m = 100.0, .speed_mps = 3.5}},
      // Garmin devices write the enhanced field first and the plain one as its invalid marker.
      {{F("enhanced_altitude", 1520.4), F("enhanced_speed", 4.25), F("altitude", Invalid{}),
        F("speed", Invalid{})},
       {.elevation_m = 1520.4, .speed_mps = 4.25}},
      {{F("heart_rate", 181ul), F("power", 65535l), F("temperature", -12l), F("distance", 42ul)},
       {.distance_m = 42.0, .heart_rate_bpm = 181, .power_watts = 65535, .temperature_c = -12}},
      {{F("heart_rate", 120ul), F("unknown", 7ul), F("heart_rate", 250ul, /*developer=*/true),
        F("heart_rate", Invalid{})},
       {.heart_rate_bpm = 120}},
      // A present value of the wrong kind or out of range clears what came before.
      {{F("enhanced_speed", 3.512), F("speed", "3.5"s), F("heart_rate", 150ul),
        F("heart_rate", 150.0), F("cadence", -1l), F("power", 65536ul), F("temperature", 40000ul),
        F("position_lat", E("n")), F("position_long", std::vector<std::uint8_t>{1}),
        F("timestamp", 1000ul), F("distance", "3"s), F("altitude", ValueArray{1.0})},
       {}},
      {{F("temperature", -40000l), F("power", true)}, {}},
  };
  for (const auto& c : cases) {
    const auto file = map({M("record", c.fields)}).value();
    EXPECT_EQ(file.activities[0].segments[0].points, std::vector{c.expected}) << &c - cases;
  }
}

TEST(FitMapper, DeviceInfoFromFileIdAndDeviceInfo) {
  const struct {
    std::vector<Message> messages;
    std::optional<DeviceInfo> expected;
  } cases[] = {
      // clang-format off
      {{M("file_id", {F("manufacturer", E("garmin"))})},
       DeviceInfo{.manufacturer = "garmin", .manufacturer_id = 1}},
      // device_info overwrites field by field; a manufacturer by number has no name.
      {{M("file_id", {F("manufacturer", E("garmin")), F("garmin_product", E("fenix2")),
                      F("serial_number", 4294967295ul)}),
        M("device_info", {F("device_index", E("creator")), F("manufacturer", 255ul),
                          F("product_name", "Fenix"s), F("software_version", 4.5),
                          F("source_type", E("local"))})},
       DeviceInfo{.manufacturer_id = 255, .product = "fenix2", .product_name = "Fenix",
                  .serial_number = 4294967295u, .software_version = 4.5, .device_index = 0,
                  .source_type = "local"}},
      // Unusable values clear, invalid ones keep.
      {{M("device_info", {F("manufacturer", E("garmin")), F("product", E("edge")),
                          F("serial_number", 7ul), F("device_index", 3ul)}),
        M("device_info", {F("manufacturer", E("wahoo_fitness")), F("favero_product", 31ul),
                          F("serial_number", 4294967296ul), F("device_index", Invalid{})})},
       DeviceInfo{.manufacturer = "wahoo_fitness", .product_id = 31, .device_index = 3}},
      {{M("device_info", {F("manufacturer", 70000ul), F("product", -1l), F("device_index", 256ul),
                          F("software_version", E("x"))})}, DeviceInfo{}},
      {{M("device_info", {F("manufacturer", Invalid{}), F("unknown", 1ul)})}, std::nullopt},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<Message> messages = c.messages;
    messages.push_back(M("record", {}));
    EXPECT_EQ(map(messages).value().device_info, c.expected) << &c - cases;
  }
}

}  // namespace
}  // namespace tramlix::fit
