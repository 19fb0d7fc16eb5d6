// The mapping of typed FIT messages onto the model, fed hand-built messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fit_activity/fit_activity.hpp"

// Models are spelled with designated initializers; g++ 12 warns about every member left out.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tramlix::fit_activity {
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

// A session script: "90" a record at 90 s, "-" one without a time, "a@100" a session of sport
// a starting at 100, "a@" one without a start, "lap" any other message. The activities come
// out as "a: 90 100 | b: 130", "?" for no sport.
std::string sessions(std::string_view script) {
  std::vector<Message> messages;
  for (std::size_t at = 0; at < script.size();) {
    const std::size_t end = std::min(script.find(' ', at), script.size());
    const std::string_view token = script.substr(at, end - at);
    at = end + 1;
    if (const auto sport = token.find('@'); sport != token.npos) {
      std::vector<Field> fields = {F("sport", std::string(token.substr(0, sport)))};
      if (sport + 1 < token.size()) {
        fields.push_back(F("start_time", T(std::stol(std::string(token.substr(sport + 1))))));
      }
      messages.push_back(M("session", std::move(fields)));
    } else if (token == "lap") {
      messages.push_back(M("lap", {F("start_time", T(0))}));
    } else if (token == "-") {
      messages.push_back(M("record", {}));
    } else {
      messages.push_back(M("record", {F("timestamp", T(std::stol(std::string(token))))}));
    }
  }
  const ActivityFile file = map(messages).value();
  std::string out;
  for (const Activity& activity : file.activities) {
    out += (out.empty() ? "" : " | ") + activity.sport.value_or("?") + ":";
    for (const TrackPoint& point : activity.segments.at(0).points) {
      out += point.time ? " " + std::to_string(point.time->seconds) : " -";
    }
  }
  return out;
}

TEST(FitMapper, SessionsWrittenAfterTheirRecordsShareThemOutByStartTime) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      // Sessions in any order, other messages between them; the first also takes the points
      // before its start, the last all after, and a point without a time keeps its place.
      {"90 100 110 - 130 140 160 200 lap b@130 a@100 lap c@160 lap",
       "a: 90 100 110 - | b: 130 140 | c: 160 200"},
      // By time, not position: a clock stepping back puts a point with the earlier session.
      {"100 140 105 150 a@100 b@140", "a: 100 105 | b: 140 150"},
      // A session with no points of its own gives no activity, nor its values to the next.
      {"100 200 a@100 b@150 c@190", "a: 100 | c: 200"},
      {"100 200 a@100 b@100", "b: 100 200"},
      // Records after the sessions are an activity of their own, as after any last session.
      {"100 150 a@100 b@140 300", "a: 100 | b: 150 | ?: 300"},
      // Sessions that follow their own records, or do not all know their start: in file order,
      // the first closing every pending point.
      {"100 a@100 200 b@200", "a: 100 | b: 200"},
      {"100 200 a@ b@150", "a: 100 200"},
      {"100 200 a@100", "a: 100 200"},
      // Sessions before any record: their values wait for the records, the later ones winning.
      {"a@100 b@150 100 200", "b: 100 200"},
  };
  for (const auto& [script, expected] : cases) EXPECT_EQ(sessions(script), expected) << script;
}

TEST(FitMapper, SessionValuesReachTheirOwnActivity) {
  const auto file = map(
      {M("record", {F("timestamp", T(100))}), M("record", {F("timestamp", T(200))}),
       M("session", {F("start_time", T(150)), F("total_distance", 20.0)}),
       M("session", {F("start_time", T(100)), F("total_ascent", 7ul), F("total_distance", 10.0)})});
  ASSERT_TRUE(file);
  ASSERT_EQ(file->activities.size(), 2u);
  EXPECT_EQ(file->activities[0].summary,
            (ActivitySummary{.total_distance_meters = 10.0, .total_ascent_meters = 7.0}));
  EXPECT_EQ(file->activities[0].start_time, (UtcInstant{100, 0}));
  // Nothing of the earlier session in time leaks into the later one.
  EXPECT_EQ(file->activities[1].summary, ActivitySummary{.total_distance_meters = 20.0});
}

TEST(FitMapper, DeviceInfoDescribesTheRecorder) {
  const auto hrm =
      M("device_info", {F("device_index", 1ul), F("manufacturer", E("garmin")),
                        F("garmin_product", E("hrm4_run")), F("serial_number", 3944483460ul),
                        F("software_version", 34.0), F("source_type", E("antplus"))});
  const auto sensor = M("device_info", {F("device_index", 2ul), F("manufacturer", 42768ul),
                                        F("product", 8195ul), F("software_version", 1.5)});
  const struct {
    std::vector<Message> messages;
    std::optional<DeviceInfo> expected;
  } cases[] = {
      // clang-format off
      {{M("file_id", {F("manufacturer", E("garmin"))})},
       DeviceInfo{.manufacturer = "garmin", .manufacturer_id = 1}},
      // The creator's device_info adds to file_id field by field; other devices never count,
      // before or after it.
      {{hrm, M("file_id", {F("manufacturer", E("garmin")), F("garmin_product", E("fenix2")),
                           F("serial_number", 4294967295ul)}),
        M("device_info", {F("device_index", E("creator")), F("manufacturer", 255ul),
                          F("product_name", "Fenix"s), F("software_version", 4.5),
                          F("source_type", E("local"))}), sensor},
       DeviceInfo{.manufacturer_id = 255, .product = "fenix2", .product_name = "Fenix",
                  .serial_number = 4294967295u, .software_version = 4.5, .device_index = 0,
                  .source_type = "local"}},
      // A device_info without an index, with index 0 or with an invalid one is the creator's.
      {{M("file_id", {F("manufacturer", E("coros")), F("product", 802ul)}), hrm,
        M("device_info", {F("manufacturer", E("development")), F("software_version", 0.0)})},
       DeviceInfo{.manufacturer = "development", .product_id = 802, .software_version = 0.0}},
      {{M("device_info", {F("software_version", 2.5), F("device_index", 0ul)}), sensor},
       DeviceInfo{.software_version = 2.5, .device_index = 0}},
      {{M("device_info", {F("device_index", Invalid{}), F("serial_number", 7ul)}), hrm},
       DeviceInfo{.serial_number = 7}},
      // A file with no word about its recorder falls back to the last word about any device.
      {{M("file_id", {F("type", E("activity"))}), hrm, sensor},
       DeviceInfo{.manufacturer_id = 42768, .product_id = 8195, .serial_number = 3944483460u,
                  .software_version = 1.5, .device_index = 2, .source_type = "antplus"}},
      // Unusable values clear, invalid ones keep.
      {{M("device_info", {F("manufacturer", E("garmin")), F("product", E("edge")),
                          F("serial_number", 7ul)}),
        M("device_info", {F("manufacturer", E("wahoo_fitness")), F("favero_product", 31ul),
                          F("serial_number", 4294967296ul), F("product_name", Invalid{})})},
       DeviceInfo{.manufacturer = "wahoo_fitness", .product_id = 31}},
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
}  // namespace tramlix::fit_activity
