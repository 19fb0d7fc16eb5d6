// The messages the FIT writer builds from a model, and whole files through FIT and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "corpus.hpp"
#include "fit/fit.hpp"
#include "fit/profile.hpp"
#include "tramlix/io.hpp"

// Models are spelled with designated initializers; g++ 12 warns about every member left to its
// default, which is the point of them here.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace tramlix::fit {
namespace {

using ::fit::Message;
using ::fit::Value;

UtcInstant at(std::int64_t seconds, std::uint32_t nanoseconds = 0) {
  return {seconds, nanoseconds};
}

// A value in a compact form: u7 and i-7 for the integer kinds, plain floats, 'text', bare
// enumeration names, @seconds for times.
std::string shown(const Value& value) {
  if (const auto* n = value.get<std::int64_t>()) return "i" + std::to_string(*n);
  if (const auto* n = value.get<std::uint64_t>()) return "u" + std::to_string(*n);
  if (const auto* s = value.get<std::string>()) return "'" + *s + "'";
  if (const auto* e = value.get<::fit::EnumName>()) return std::string(e->view());
  if (const auto* t = value.get<::fit::Timestamp>()) return "@" + std::to_string(t->unix_seconds);
  if (const auto* d = value.get<double>()) {
    char text[32];
    return std::string(text, std::to_chars(text, text + sizeof text, *d).ptr);
  }
  return "?";
}

// The named fields of a message that it has, in its order; all of them when none are named.
std::string shown(const Message& message, std::initializer_list<std::string_view> only = {}) {
  std::string out = std::string(message.name) + "[";
  for (const ::fit::Field& field : message.fields) {
    if (only.size() != 0 && std::find(only.begin(), only.end(), field.name) == only.end()) continue;
    if (out.back() != '[') out += ' ';
    out += std::string(field.name) + "=" + shown(field.value);
  }
  return out + "]";
}

std::string names(const std::vector<Message>& messages) {
  std::string out;
  for (const Message& message : messages) out += std::string(message.name) + " ";
  return out;
}

ActivityFile file_of(std::vector<Activity> activities) {
  ActivityFile file;
  file.activities = std::move(activities);
  return file;
}

// The session of a file holding only `activity`.
Message session_of(const Activity& activity) {
  for (Message& message : activity_messages(file_of({activity}))) {
    if (message.name == "session") return message;
  }
  ADD_FAILURE() << "no session";
  return {};
}

TEST(FitWriter, FileWithoutActivitiesOrDeviceHoldsOnlyItsType) {
  const auto messages = activity_messages(ActivityFile{});
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(shown(messages[0]), "file_id[type=activity]");
  EXPECT_EQ(messages[0].global_number, 0);
}

// Without any time there is no creation time and no start or end: records only, even empty ones.
TEST(FitWriter, UntimedActivityWritesRecordsOnly) {
  const auto messages = activity_messages(file_of({Activity{
      .segments = {{{TrackPoint{.latitude = 1.0, .longitude = 2.0}, TrackPoint{}}}, {}}}}));
  ASSERT_EQ(messages.size(), 3u);
  EXPECT_EQ(shown(messages[0]), "file_id[type=activity]");
  EXPECT_EQ(shown(messages[1]), "record[position_lat=i11930465 position_long=i23860929]");
  EXPECT_EQ(shown(messages[2]), "record[]");
}

TEST(FitWriter, PositionsBecomeSemicirclesClampedToTheLongitudeRange) {
  const struct {
    double degrees;
    std::int64_t semicircles;
  } cases[] = {
      {95.0, 1133394148},  // a latitude past the pole is not clamped to 90
      {-200.0, -2147483648},
      {180.0, 2147483648},  // one past int32: the encoder writes it as invalid
      {std::nan(""), 0},
      {-1.0, -11930465},
  };
  for (const auto& c : cases) {
    const auto messages =
        activity_messages(file_of({Activity{.segments = {{{TrackPoint{.latitude = c.degrees}}}}}}));
    EXPECT_EQ(shown(messages.at(1)), "record[position_lat=i" + std::to_string(c.semicircles) + "]")
        << c.degrees;
  }
}

// Two activities and device information: file_id, device_info, then per activity its records
// followed by lap, session and activity. The first activity has no start time, so its start and
// the file's creation time come from its first timed point.
TEST(FitWriter, MessageOrderAndStartFallback) {
  ActivityFile file = file_of({
      Activity{.segments = {{{TrackPoint{}, TrackPoint{.time = at(1000)}}},
                            {{TrackPoint{.time = at(1010)}}}}},
      Activity{.start_time = at(2000), .segments = {{{TrackPoint{.time = at(2030)}}}}},
  });
  file.device_info = DeviceInfo{.manufacturer = "development",
                                .product = "Edge",
                                .product_id = 3121,
                                .product_name = "Edge 530",
                                .serial_number = 3'900'000'000u,
                                .software_version = 9.75,
                                .device_index = 0,
                                .source_type = "local"};
  const auto messages = activity_messages(file);
  EXPECT_EQ(names(messages),
            "file_id device_info record record record lap session activity "
            "record lap session activity ");
  ASSERT_EQ(messages.size(), 12u);
  // The product text has no FIT field; the manufacturer goes by name without a code.
  EXPECT_EQ(shown(messages[0]),
            "file_id[type=activity time_created=@1000 manufacturer=development product=u3121 "
            "serial_number=u3900000000 product_name='Edge 530']");
  EXPECT_EQ(shown(messages[1]),
            "device_info[timestamp=@1000 device_index=u0 manufacturer=development "
            "serial_number=u3900000000 product=u3121 software_version=9.75 source_type=local "
            "product_name='Edge 530']");
  EXPECT_EQ(shown(messages[5], {"timestamp", "start_time"}),
            "lap[timestamp=@1010 start_time=@1000]");
  EXPECT_EQ(shown(messages[6], {"timestamp", "start_time"}),
            "session[timestamp=@1010 start_time=@1000]");
  EXPECT_EQ(shown(messages[10], {"timestamp", "start_time"}),
            "session[timestamp=@2030 start_time=@2000]");
  EXPECT_EQ(shown(messages[11]), "activity[timestamp=@2030 total_timer_time=30 num_sessions=u1]");

  file.device_info->manufacturer_id = 255;
  EXPECT_EQ(shown(activity_messages(file)[0], {"manufacturer"}), "file_id[manufacturer=u255]");
}

// The lap times itself by elapsed time and ends at the last positioned point; the session keeps
// the recorded timer and only the start position.
TEST(FitWriter, LapAndSessionTotalsAndPositions) {
  const Activity activity{
      .summary = {.total_timer_seconds = 20.0, .total_distance_meters = 500.0},
      .segments = {{{TrackPoint{.time = at(1000), .latitude = 1.0, .longitude = 2.0},
                     TrackPoint{.time = at(1010)}}},
                   {{TrackPoint{.time = at(1020), .latitude = 3.0, .longitude = 4.0},
                     TrackPoint{.time = at(1030, 999'999), .latitude = 5.0}}}}};
  const auto messages = activity_messages(file_of({activity}));
  ASSERT_EQ(names(messages), "file_id record record record record lap session activity ");
  EXPECT_EQ(shown(messages[5]),
            "lap[timestamp=@1030 start_time=@1000 total_elapsed_time=30 total_timer_time=30 "
            "total_distance=500 start_position_lat=i11930465 start_position_long=i23860929 "
            "end_position_lat=i35791394 end_position_long=i47721859]");
  EXPECT_EQ(shown(messages[6]),
            "session[timestamp=@1030 start_time=@1000 total_elapsed_time=30 total_timer_time=20 "
            "total_distance=500 enhanced_avg_speed=25 start_position_lat=i11930465 "
            "start_position_long=i23860929]");
  EXPECT_EQ(shown(messages[7]), "activity[timestamp=@1030 total_timer_time=20 num_sessions=u1]");
}

struct SessionCase {
  const char* what;
  Activity activity;
  std::initializer_list<std::string_view> fields;
  const char* expected;
};

// Two timed points 10 s apart, with optional elevations and heart rates.
Activity timed(std::initializer_list<TrackPoint> extra = {}) {
  Activity activity{.segments = {{{TrackPoint{.time = at(0)}, TrackPoint{.time = at(10)}}}}};
  for (const TrackPoint& point : extra) activity.segments[0].points.push_back(point);
  return activity;
}

Activity with_summary(ActivitySummary summary, Activity activity = timed()) {
  activity.summary = summary;
  return activity;
}

Activity with_sport(const char* sport, const char* sub_sport = nullptr) {
  Activity activity = timed();
  activity.sport = sport;
  if (sub_sport) activity.sub_sport = sub_sport;
  return activity;
}

TEST(FitWriter, SessionSummaryFields) {
  const SessionCase cases[] = {
      {"a summary heart rate is clamped",
       with_summary({.average_heart_rate_bpm = 300.4}),
       {"avg_heart_rate"},
       "session[avg_heart_rate=u255]"},
      {"a half rounds up",
       with_summary({.average_heart_rate_bpm = 142.5}),
       {"avg_heart_rate"},
       "session[avg_heart_rate=u143]"},
      {"heart rate from the points",
       timed({TrackPoint{.heart_rate_bpm = 100}, TrackPoint{.heart_rate_bpm = 101}}),
       {"avg_heart_rate"},
       "session[avg_heart_rate=u101]"},
      {"a NaN heart rate is left out",
       with_summary({.average_heart_rate_bpm = std::nan("")}),
       {"avg_heart_rate"},
       "session[]"},
      {"a zero ascent is left out",
       with_summary({.total_ascent_meters = 0.0, .total_descent_meters = 12.4}),
       {"total_ascent", "total_descent"},
       "session[total_descent=u12]"},
      {"a summary descent alone computes no ascent",
       with_summary({.total_descent_meters = 3.0},
                    timed({TrackPoint{.elevation_m = 10.0}, TrackPoint{.elevation_m = 20.0}})),
       {"total_ascent", "total_descent"},
       "session[total_descent=u3]"},
      {"ascent and descent from the points",
       timed({TrackPoint{.elevation_m = 10.0}, TrackPoint{.elevation_m = 12.0},
              TrackPoint{.elevation_m = 11.0}, TrackPoint{.elevation_m = 15.0}}),
       {"total_ascent", "total_descent"},
       "session[total_ascent=u6 total_descent=u1]"},
      {"totals are capped",
       with_summary({.total_ascent_meters = 1e6}),
       {"total_ascent"},
       "session[total_ascent=u65535]"},
      {"sport trimmed and lower-cased",
       with_sport(" Running "),
       {"sport"},
       "session[sport=running]"},
      {"sport synonyms", with_sport("BIKE"), {"sport"}, "session[sport=cycling]"},
      {"an unknown sport writes none", with_sport("Road Cycling"), {"sport"}, "session[]"},
      {"sub-sport passed unchanged",
       with_sport("other", "Road"),
       {"sport", "sub_sport"},
       "session[sport=generic sub_sport=Road]"},
      {"no speed without timer",
       with_summary({.total_timer_seconds = 0.0}),
       {"enhanced_avg_speed"},
       "session[]"},
      {"speed from distance and timer",
       with_summary({.total_timer_seconds = 8.0, .total_distance_meters = 20.0}),
       {"enhanced_avg_speed"},
       "session[enhanced_avg_speed=2.5]"},
      {"recorded speed and moving time",
       with_summary(
           {.total_timer_seconds = 0.0, .total_moving_seconds = 7.5, .average_speed_mps = 1.25}),
       {"enhanced_avg_speed", "total_moving_time"},
       "session[total_moving_time=7.5 enhanced_avg_speed=1.25]"},
  };
  for (const SessionCase& c : cases) {
    EXPECT_EQ(shown(session_of(c.activity), c.fields), c.expected) << c.what;
  }
}

// A text too long for FIT's one-byte field size fails the whole file; nothing partial is returned.
TEST(FitWriter, EncoderErrorsAreEncodeErrors) {
  Activity activity = timed();
  activity.name = std::string(255, 'x');
  const auto bytes = write(file_of({activity}));
  ASSERT_FALSE(bytes);
  EXPECT_EQ(bytes.error().kind(), Error::Kind::Encode);
  EXPECT_EQ(bytes.error().display(),
            "cannot encode FIT: encoder: String of size 255 exceeds 255 byte wire limit");
  activity.name->pop_back();
  EXPECT_TRUE(write(file_of({activity})));
}

// The encoder drops a field whose number and name do not match the profile, and writes an
// unknown enumeration name as invalid: every field built must be one the profile knows, and every
// enumeration name one of the field's type.
TEST(FitWriter, FieldsAndNamesMatchTheProfile) {
  std::vector<Activity> activities;
  for (const char* sport :
       {"run", "bike", "walk", "hike", "swim", "generic", "rowing", "multisport"}) {
    Activity activity = timed({TrackPoint{.latitude = 1.0,
                                          .longitude = 2.0,
                                          .elevation_m = 3.0,
                                          .distance_m = 4.0,
                                          .heart_rate_bpm = 5,
                                          .cadence_rpm = 6,
                                          .speed_mps = 7.0,
                                          .power_watts = 8,
                                          .temperature_c = 9},
                               TrackPoint{.elevation_m = 1.0}});
    activity.name = "name";
    activity.sport = sport;
    activity.sub_sport = "trail";
    activity.summary.total_moving_seconds = 1.0;
    activities.push_back(activity);
  }
  ActivityFile file = file_of(activities);
  file.device_info = DeviceInfo{.manufacturer = "garmin",
                                .product_id = 1,
                                .product_name = "x",
                                .serial_number = 1,
                                .software_version = 1.0,
                                .device_index = 1,
                                .source_type = "antplus"};
  std::size_t checked = 0;
  for (const Message& message : activity_messages(file)) {
    const auto* info = ::fit::profile::mesg_info_by_num(message.global_number);
    ASSERT_NE(info, nullptr) << message.name;
    EXPECT_EQ(info->name, message.name);
    for (const ::fit::Field& field : message.fields) {
      const auto* profile = info->field(field.number);
      ASSERT_NE(profile, nullptr) << message.name << "." << field.name;
      EXPECT_EQ(profile->name, field.name) << message.name << " field " << int(field.number);
      if (const auto* name = field.value.get<::fit::EnumName>()) {
        EXPECT_TRUE(::fit::profile::enum_value_by_str(profile->type_name, name->view()))
            << message.name << "." << field.name << " = " << name->view();
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 150u);
}

// Through FIT and back: what a field of `scale` and `offset` over raw values 0..max_raw (the
// type's invalid marker excluded) keeps of `value`, to half its resolution; none out of range.
void expect_through_fit(std::optional<double> back, std::optional<double> value, double scale,
                        double offset, double max_raw, const std::string& what) {
  const double raw = value ? std::round((*value + offset) * scale) : -1.0;
  if (!(raw >= 0.0 && raw <= max_raw)) {
    EXPECT_EQ(back, std::nullopt) << what;
    return;
  }
  ASSERT_TRUE(back) << what;
  EXPECT_NEAR(*back, *value, 0.5 / scale + 1e-9 * std::abs(*value)) << what;
}

template <class T>
void expect_integer(std::optional<T> back, std::optional<T> value, int low, int high,
                    const std::string& what) {
  const bool fits = value && *value >= low && *value <= high;
  EXPECT_EQ(back, fits ? value : std::nullopt) << what;
}

// Whole seconds, absent before the FIT epoch or past its 32-bit range.
std::optional<UtcInstant> fit_time(std::optional<UtcInstant> time) {
  if (!time) return std::nullopt;
  const std::int64_t since_epoch = time->seconds - ::fit::kFitEpochUnixSeconds;
  if (since_epoch < 0 || since_epoch >= 0xFFFFFFFF) return std::nullopt;
  return UtcInstant{time->seconds, 0};
}

void expect_position(std::optional<double> back, std::optional<double> degrees,
                     const std::string& what) {
  // Up to 2^31 - 2 semicircles: 2^31 - 1 is the invalid marker, 180 degrees one past it.
  const double clamped = degrees ? std::max(*degrees, -180.0) : 0.0;
  if (!degrees || std::isnan(*degrees) ||
      std::round(clamped * kSemicirclesPerDegree) > 2147483646) {
    EXPECT_EQ(back, std::nullopt) << what;
    return;
  }
  ASSERT_TRUE(back) << what;
  EXPECT_NEAR(*back, clamped, 0.5 / kSemicirclesPerDegree + 1e-12) << what;
}

void expect_point(const TrackPoint& back, const TrackPoint& point, const std::string& what) {
  EXPECT_EQ(back.time, fit_time(point.time)) << what;
  expect_position(back.latitude, point.latitude, what + " latitude");
  expect_position(back.longitude, point.longitude, what + " longitude");
  expect_through_fit(back.elevation_m, point.elevation_m, 5, 500, 65534, what + " elevation");
  expect_through_fit(back.distance_m, point.distance_m, 100, 0, 4294967294, what + " distance");
  expect_through_fit(back.speed_mps, point.speed_mps, 1000, 0, 65534, what + " speed");
  expect_integer(back.heart_rate_bpm, point.heart_rate_bpm, 0, 254, what + " heart rate");
  expect_integer(back.cadence_rpm, point.cadence_rpm, 0, 254, what + " cadence");
  expect_integer(back.power_watts, point.power_watts, 0, 65534, what + " power");
  expect_integer(back.temperature_c, point.temperature_c, -128, 126, what + " temperature");
}

std::vector<TrackPoint> all_points(const ActivityFile& file) {
  std::vector<TrackPoint> points;
  for (const Activity& activity : file.activities) {
    for (const Segment& segment : activity.segments) {
      points.insert(points.end(), segment.points.begin(), segment.points.end());
    }
  }
  return points;
}

std::optional<double> number_in(const Message& message, std::string_view name) {
  const ::fit::Field* field = message.field(name);
  if (!field) return std::nullopt;
  if (const auto* d = field->value.get<double>()) return *d;
  return std::nullopt;
}

// Texts and enumeration names; the corpus holds only names the profile knows.
std::optional<std::string> text_in(const Message& message, std::string_view name) {
  const ::fit::Field* field = message.field(name);
  if (!field) return std::nullopt;
  if (const auto* e = field->value.get<::fit::EnumName>()) return std::string(e->view());
  if (const auto* s = field->value.get<std::string>()) return *s;
  return std::nullopt;
}

// Every activity of the corpus, from any format, through FIT and back. Records are read back into
// activities by the sessions that follow them, so records of an activity without start or end
// join the next one; each session's values come back as the writer wrote them.
TEST(FitWriterCorpus, EveryActivityRoundTrips) {
  SKIP_WITHOUT_CORPUS("fit");
  std::size_t files = 0;
  for (const char* folder : {"fit", "fit/invalid", "gpx", "tcx"}) {
    for (const auto& path : corpus::files(folder)) {
      const auto original = load(path.string());
      if (!original || original->point_count() == 0) continue;
      const std::string name = path.filename().string();
      const auto bytes = dumps(*original, Format::Fit);
      ASSERT_TRUE(bytes) << name << ": " << bytes.error().display();
      const auto back =
          loads({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()});
      ASSERT_TRUE(back) << name << ": " << back.error().display();
      ++files;

      const std::vector<TrackPoint> points = all_points(*original);
      const std::vector<TrackPoint> points_back = all_points(*back);
      ASSERT_EQ(points_back.size(), points.size()) << name;
      for (std::size_t i = 0; i < points.size() && !HasFailure(); ++i) {
        expect_point(points_back[i], points[i], name + " point " + std::to_string(i));
      }

      std::vector<Message> sessions;
      for (Message& message : activity_messages(*original)) {
        if (message.name == "session") sessions.push_back(std::move(message));
      }
      const std::size_t trailing = original->activities.back().end_time() ? 0 : 1;
      ASSERT_EQ(back->activities.size(), sessions.size() + trailing) << name;
      for (std::size_t i = 0; i < sessions.size(); ++i) {
        const Message& session = sessions[i];
        const Activity& activity = back->activities[i];
        const std::string what = name + " activity " + std::to_string(i);
        const auto* start = session.field("start_time")->value.get<::fit::Timestamp>();
        EXPECT_EQ(activity.sport, text_in(session, "sport")) << what;
        EXPECT_EQ(activity.sub_sport, text_in(session, "sub_sport")) << what;
        EXPECT_EQ(activity.name, text_in(session, "sport_profile_name")) << what;
        if (const auto time = fit_time(UtcInstant{start->unix_seconds, 0})) {
          EXPECT_EQ(activity.start_time, time) << what;
        }
        const ActivitySummary& summary = activity.summary;
        expect_through_fit(summary.total_elapsed_seconds, number_in(session, "total_elapsed_time"),
                           1000, 0, 4294967294, what + " elapsed");
        expect_through_fit(summary.total_timer_seconds, number_in(session, "total_timer_time"),
                           1000, 0, 4294967294, what + " timer");
        expect_through_fit(summary.total_distance_meters, number_in(session, "total_distance"), 100,
                           0, 4294967294, what + " distance");
        expect_through_fit(summary.average_speed_mps, number_in(session, "enhanced_avg_speed"),
                           1000, 0, 4294967294, what + " speed");
      }

      const auto& device = original->device_info;
      ASSERT_EQ(back->device_info.has_value(), device.has_value()) << name;
      if (!device) continue;
      DeviceInfo expected = *device;
      // The product goes by its number only: a product known by name alone is not written.
      if (!expected.product_id) expected.product.reset();
      EXPECT_EQ(*back->device_info, expected) << name;
    }
  }
  EXPECT_GT(files, 40u);
}

}  // namespace
}  // namespace tramlix::fit
