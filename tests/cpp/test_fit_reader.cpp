// The mapping of typed FIT messages onto the model, fed hand-built messages.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fit/fit.hpp"

namespace tramlix::fit {
namespace {

using ::fit::EnumName;
using ::fit::Field;
using ::fit::Invalid;
using ::fit::Message;
using ::fit::Timestamp;
using ::fit::Value;

Field F(std::string_view name, Value value) {
  Field field;
  field.name = name;
  field.value = std::move(value);
  return field;
}

Value I(std::int64_t n) {
  return Value(n);
}
Value U(std::uint64_t n) {
  return Value(n);
}
Value D(double n) {
  return Value(n);
}
Value E(std::string_view name) {
  return Value(EnumName::borrowed(name));
}
Value T(std::int64_t unix_seconds) {
  return Value(Timestamp{unix_seconds, 0});
}

Message M(std::string_view name, std::initializer_list<Field> fields) {
  Message message;
  message.name = name;
  message.fields = fields;
  return message;
}

std::expected<ActivityFile, Error> map(const std::vector<Message>& messages) {
  ActivityMapper mapper;
  for (const Message& message : messages) mapper.add(message);
  return std::move(mapper).finish();
}

ActivityFile mapped(const std::vector<Message>& messages) {
  auto file = map(messages);
  if (!file) ADD_FAILURE() << file.error().display();
  return file.value_or(ActivityFile{});
}

TEST(FitMapper, RecordsAndSessionMakeOneActivity) {
  const ActivityFile file = mapped({
      M("file_id", {F("type", E("activity")), F("time_created", T(1000))}),
      M("record", {F("timestamp", T(1010)), F("distance", D(0.0))}),
      M("event", {F("timestamp", T(1011))}),
      M("record", {F("timestamp", T(1020)), F("distance", D(12.5))}),
      M("lap", {F("total_distance", D(12.5))}),
      M("session",
        {F("sport", E("running")), F("sub_sport", E("trail")),
         F("sport_profile_name", Value(std::string("Trail Run"))), F("start_time", T(1005)),
         F("total_elapsed_time", D(15.0)), F("total_timer_time", D(14.0)),
         F("total_moving_time", D(13.0)), F("total_distance", D(12.5)), F("avg_heart_rate", U(150)),
         F("total_ascent", U(3)), F("total_descent", U(4))}),
  });
  ASSERT_EQ(file.activities.size(), 1u);
  const Activity& run = file.activities[0];
  ASSERT_EQ(run.segments.size(), 1u);
  ASSERT_EQ(run.segments[0].points.size(), 2u);
  EXPECT_EQ(run.segments[0].points[1].distance_m, 12.5);
  EXPECT_EQ(run.sport, "running");
  EXPECT_EQ(run.sub_sport, "trail");
  EXPECT_EQ(run.name, "Trail Run");
  EXPECT_EQ(run.start_time, (UtcInstant{1005, 0}));
  const ActivitySummary expected{15.0, 14.0, 13.0, 12.5, std::nullopt, 150.0, 3.0, 4.0};
  EXPECT_EQ(run.summary, expected);
  EXPECT_EQ(file.creator, "tramlix");
  // file_id carried only fields the device table does not know.
  EXPECT_EQ(file.device_info, std::nullopt);
}

// Sessions close activities in order; a session with no records before it closes nothing and
// leaves its values for the next; records after the last session still form an activity.
TEST(FitMapper, SessionsCloseActivitiesInOrder) {
  const ActivityFile file = mapped({
      M("record", {F("timestamp", T(100))}),
      M("session", {F("sport", E("running")), F("total_distance", D(1000.0))}),
      M("session",
        {F("sport", E("transition")), F("total_ascent", U(7)), F("total_distance", D(5.0))}),
      M("record", {F("timestamp", T(200))}),
      M("record", {F("timestamp", T(210))}),
      M("session", {F("sport", E("cycling")), F("total_distance", Value(Invalid{}))}),
      M("record", {F("heart_rate", U(99))}),
      M("record", {F("timestamp", T(300))}),
  });
  ASSERT_EQ(file.activities.size(), 3u);
  const Activity& run = file.activities[0];
  EXPECT_EQ(run.sport, "running");
  EXPECT_EQ(run.start_time, (UtcInstant{100, 0}));
  const Activity& ride = file.activities[1];
  EXPECT_EQ(ride.sport, "cycling");
  EXPECT_EQ(ride.summary.total_ascent_meters, 7.0);
  // An invalid total is no total: the empty session's figure stays.
  EXPECT_EQ(ride.summary.total_distance_meters, 5.0);
  EXPECT_EQ(ride.segments.at(0).points.size(), 2u);
  EXPECT_EQ(ride.start_time, (UtcInstant{200, 0}));
  const Activity& rest = file.activities[2];
  EXPECT_EQ(rest.sport, std::nullopt);
  EXPECT_EQ(rest.summary, ActivitySummary{});
  EXPECT_EQ(rest.start_time, (UtcInstant{300, 0})) << "the first record has no time";
  EXPECT_EQ(rest.segments.at(0).points.size(), 2u);
}

TEST(FitMapper, NoRecordsIsAnError) {
  const std::vector<std::vector<Message>> files = {
      {},
      {M("file_id", {F("manufacturer", E("garmin"))}), M("session", {F("sport", E("running"))})},
      {M("record_like", {F("timestamp", T(1))}), M("session", {})},
  };
  for (const auto& messages : files) {
    const auto file = map(messages);
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().display(), "invalid FIT data: no record messages found");
  }
}

struct RecordCase {
  const char* what;
  std::vector<Field> fields;
  TrackPoint expected;
};

TrackPoint with(void (*set)(TrackPoint&)) {
  TrackPoint point;
  set(point);
  return point;
}

TEST(FitMapper, RecordFields) {
  const Value text(std::string("3.5"));
  const RecordCase cases[] = {
      {"semicircles to degrees",
       {F("position_lat", I(1 << 30)), F("position_long", I(-(std::int64_t{1} << 31)))},
       with([](TrackPoint& p) {
         p.latitude = 90.0;
         p.longitude = -180.0;
       })},
      {"time", {F("timestamp", Value(Timestamp{1'500'000'000, 250}))}, with([](TrackPoint& p) {
         p.time = UtcInstant{1'500'000'000, 250};
       })},
      {"plain speed before enhanced",
       {F("speed", D(3.5)), F("enhanced_speed", D(3.512))},
       with([](TrackPoint& p) { p.speed_mps = 3.5; })},
      {"plain speed after enhanced",
       {F("enhanced_speed", D(3.512)), F("speed", D(3.5))},
       with([](TrackPoint& p) { p.speed_mps = 3.5; })},
      {"enhanced speed alone", {F("enhanced_speed", D(3.512))}, with([](TrackPoint& p) {
         p.speed_mps = 3.512;
       })},
      {"plain altitude wins",
       {F("enhanced_altitude", D(99.5)), F("altitude", U(100))},
       with([](TrackPoint& p) { p.elevation_m = 100.0; })},
      // Garmin devices write the enhanced field first and the plain one as its invalid marker.
      {"invalid plain fields keep enhanced",
       {F("enhanced_altitude", D(1520.4)), F("enhanced_speed", D(4.25)),
        F("altitude", Value(Invalid{})), F("speed", Value(Invalid{}))},
       with([](TrackPoint& p) {
         p.elevation_m = 1520.4;
         p.speed_mps = 4.25;
       })},
      {"a plain field of the wrong kind clears enhanced",
       {F("enhanced_speed", D(3.512)), F("speed", text)},
       TrackPoint{}},
      {"integer sensors",
       {F("heart_rate", U(181)), F("cadence", U(90)), F("power", I(65535)),
        F("temperature", I(-12)), F("distance", U(42))},
       with([](TrackPoint& p) {
         p.heart_rate_bpm = 181;
         p.cadence_rpm = 90;
         p.power_watts = 65535;
         p.temperature_c = -12;
         p.distance_m = 42.0;
       })},
      {"a later value of the wrong kind clears an earlier one",
       {F("heart_rate", U(150)), F("heart_rate", D(150.0))},
       TrackPoint{}},
      {"unknown, developer and invalid fields are skipped",
       {F("heart_rate", U(120)), F("unknown", U(7)),
        [] {
          Field f = F("heart_rate", U(250));
          f.developer = true;
          return f;
        }(),
        F("heart_rate", Value(Invalid{}))},
       with([](TrackPoint& p) { p.heart_rate_bpm = 120; })},
  };
  for (const RecordCase& c : cases) {
    Message record;
    record.name = "record";
    record.fields = c.fields;
    const ActivityFile file = mapped({record});
    ASSERT_EQ(file.point_count(), 1u) << c.what;
    EXPECT_EQ(file.activities[0].segments[0].points[0], c.expected) << c.what;
  }
}

TEST(FitMapper, WrongKindsAndRangesGiveAbsent) {
  const Field fields[] = {
      F("heart_rate", D(150.0)),
      F("heart_rate", I(-1)),
      F("cadence", U(65536)),
      F("power", Value(true)),
      F("temperature", U(40000)),
      F("temperature", I(-40000)),
      F("position_lat", E("n")),
      F("position_long", Value(std::vector<std::uint8_t>{1})),
      F("timestamp", U(1000)),
      F("distance", Value(std::string("3"))),
      F("altitude", Value(::fit::ValueArray{D(1.0)})),
  };
  for (const Field& field : fields) {
    const ActivityFile file = mapped({M("record", {field})});
    ASSERT_EQ(file.point_count(), 1u);
    EXPECT_EQ(file.activities[0].segments[0].points[0], TrackPoint{}) << field.name;
  }
}

TEST(FitMapper, LaterAverageSpeedWins) {
  const ActivityFile file = mapped({
      M("record", {}),
      M("session", {F("avg_speed", D(3.0)), F("enhanced_avg_speed", D(3.25))}),
      M("record", {}),
      M("session", {F("enhanced_avg_speed", D(3.25)), F("avg_speed", D(3.0))}),
      M("record", {}),
      M("session", {F("enhanced_avg_speed", D(3.25)), F("avg_speed", Value(Invalid{}))}),
  });
  ASSERT_EQ(file.activities.size(), 3u);
  EXPECT_EQ(file.activities[0].summary.average_speed_mps, 3.25);
  EXPECT_EQ(file.activities[1].summary.average_speed_mps, 3.0);
  EXPECT_EQ(file.activities[2].summary.average_speed_mps, 3.25);
}

TEST(FitMapper, DeviceInfoFromFileIdAndDeviceInfo) {
  DeviceInfo by_name;
  by_name.manufacturer = "garmin";
  by_name.manufacturer_id = 1;
  DeviceInfo by_number;
  by_number.manufacturer_id = 255;
  by_number.product = "fenix2";
  by_number.product_name = "Fenix";
  by_number.serial_number = 4294967295u;
  by_number.software_version = 4.5;
  by_number.device_index = 0;
  by_number.source_type = "local";
  DeviceInfo other;
  other.manufacturer = "wahoo_fitness";
  other.product_id = 31;
  other.device_index = 3;

  const struct {
    const char* what;
    std::vector<Message> messages;
    std::optional<DeviceInfo> expected;
  } cases[] = {
      {"file_id alone", {M("file_id", {F("manufacturer", E("garmin"))})}, by_name},
      {"device_info overwrites field by field",
       {M("file_id", {F("manufacturer", E("garmin")), F("garmin_product", E("fenix2")),
                      F("serial_number", U(4294967295u))}),
        M("device_info", {F("device_index", E("creator")), F("manufacturer", U(255)),
                          F("product_name", Value(std::string("Fenix"))),
                          F("software_version", D(4.5)), F("source_type", E("local"))})},
       by_number},
      {"unusable values clear, invalid ones keep",
       {M("device_info", {F("manufacturer", E("garmin")), F("product", E("edge")),
                          F("serial_number", U(7)), F("device_index", U(3))}),
        M("device_info",
          {F("manufacturer", E("wahoo_fitness")), F("favero_product", U(31)),
           F("serial_number", U(4294967296u)), F("device_index", Value(Invalid{}))})},
       other},
      {"bad numbers give absent",
       {M("device_info", {F("manufacturer", U(70000)), F("product", I(-1)),
                          F("device_index", U(256)), F("software_version", E("x"))})},
       DeviceInfo{}},
      {"only invalid or unknown fields",
       {M("device_info", {F("manufacturer", Value(Invalid{})), F("unknown", U(1))})},
       std::nullopt},
  };
  for (const auto& c : cases) {
    std::vector<Message> messages = c.messages;
    messages.push_back(M("record", {}));
    EXPECT_EQ(mapped(messages).device_info, c.expected) << c.what;
  }
}

TEST(FitMapper, TextsAreValidUtf8) {
  const ActivityFile file = mapped({
      M("record", {}),
      M("session", {F("sport_profile_name", Value(std::string("Lauf \xff"))),
                    F("sport", Value(std::string("laufen")))}),
  });
  EXPECT_EQ(file.activities.at(0).name, "Lauf \xef\xbf\xbd");
  EXPECT_EQ(file.activities.at(0).sport, "laufen");
}

}  // namespace
}  // namespace tramlix::fit
