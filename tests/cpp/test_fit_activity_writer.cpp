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
#include <tuple>
#include <vector>

#include "corpus.hpp"
#include "fit/profile.hpp"
#include "fit_activity/fit_activity.hpp"
#include "tracks.hpp"
#include "tramlix/io.hpp"
#include "tramlix/omissions.hpp"

namespace tramlix::fit_activity {
namespace {

using testing::file_of;
using testing::track;

using fit::Message;
using A = Activity&;  // what the session cases edit

// A point: time in seconds, latitude, longitude, elevation, heart rate.
TrackPoint point(std::optional<std::int64_t> time, std::optional<double> lat = {},
                 std::optional<double> lon = {}, std::optional<double> ele = {},
                 std::optional<std::uint16_t> hr = {}) {
  TrackPoint p;
  if (time) p.time = UtcInstant{*time, 0};
  p.latitude = lat, p.longitude = lon, p.elevation_m = ele, p.heart_rate_bpm = hr;
  return p;
}

// The writer's messages, every field checked against the profile: the encoder drops a field whose
// number and name (or subfield name) do not match it, and writes an enumeration name it lacks as
// invalid (the sub-sport alone is passed on as the model has it).
std::vector<Message> messages_of(std::vector<Activity> a, std::optional<DeviceInfo> device = {}) {
  std::vector<Message> messages = activity_messages({std::move(a), std::nullopt, device});
  for (const Message& m : messages) {
    const auto* info = fit::profile::mesg_info_by_num(m.global_number);
    for (const fit::Field& f : m.fields) {
      const auto* described = info && info->name == m.name ? info->field(f.number) : nullptr;
      std::string_view type;  // of the field or subfield the name picks
      if (described && described->name == f.name) type = described->type_name;
      for (std::size_t i = 0; described && i < described->subfields.size(); ++i) {
        if (described->subfields[i].name == f.name) type = described->subfields[i].type_name;
      }
      const auto* name = f.value.get<fit::EnumName>();
      EXPECT_TRUE(!type.empty() && (!name || f.name == "sub_sport" ||
                                    fit::profile::enum_value_by_str(type, name->view())))
          << m.name << "." << f.name;
    }
  }
  return messages;
}

// The fields of a message, those named in `only` when it is not empty, in a compact form: u7 and
// i-7 for the integer kinds, plain floats, 'text', bare enumeration names, seconds for times.
std::string shown(const Message& message, std::initializer_list<std::string_view> only = {}) {
  std::string out;
  for (const fit::Field& f : message.fields) {
    if (only.size() && std::find(only.begin(), only.end(), f.name) == only.end()) continue;
    out.append(out.empty() ? "" : " ").append(f.name).append("=");
    char c[32];
    if (const auto* n = f.value.get<std::int64_t>()) out.append("i").append(std::to_string(*n));
    if (const auto* n = f.value.get<std::uint64_t>()) out.append("u").append(std::to_string(*n));
    if (const auto* s = f.value.get<std::string>()) out.append("'").append(*s).append("'");
    if (const auto* e = f.value.get<fit::EnumName>()) out.append(e->view());
    if (const auto* t = f.value.get<fit::Timestamp>()) out += std::to_string(t->unix_seconds);
    if (const auto* d = f.value.get<double>()) out.append(c, std::to_chars(c, c + 32, *d).ptr);
  }
  return out;
}

std::string names(const std::vector<Message>& messages) {
  std::string out;
  for (const Message& message : messages) out.append(message.name).append(" ");
  return out;
}

TEST(FitWriter, PositionsBecomeSemicirclesInsideTheSint32Range) {
  // Past the pole a latitude is not clamped to 90. The east end stops one short of the sint32
  // invalid marker 0x7FFFFFFF (180 degrees would be 2^31, which does not fit), so the
  // coordinate survives; NaN is no position at all.
  const double degrees[] = {95.0, -200.0, 180.0, 179.99999995, NAN, -1.0};
  const char* fields[] = {"position_lat=i1133394148",
                          "position_lat=i-2147483648",
                          "position_lat=i2147483646",
                          "position_lat=i2147483646",
                          "",
                          "position_lat=i-11930465"};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(shown(messages_of({track({{point({}, degrees[i])}})}).at(1)), fields[i]);
  }
}

// The first activity has no start time, so its start and the file's creation time come from its
// first timed point. The lap times itself by elapsed time and ends at the last point with a
// position; the session keeps the recorded timer and only the start position. Without any time
// there is no start or end: records only, even empty ones.
TEST(FitWriter, MessageOrderTotalsAndPositions) {
  Activity second =
      track({{point(2000, 1.0, 2.0), point(2010)}, {point(2020, 3.0, 4.0), point(2030, 5.0)}});
  second.start_time = UtcInstant{2000, 0}, second.sport = "hike";
  second.summary.total_timer_seconds = 20.0, second.summary.total_distance_meters = 500.0;
  DeviceInfo device{"development",  std::nullopt, "Edge", 3121,   "Edge 530",
                    3'900'000'000u, 9.75,         0,      "local"};
  const Activity first = track({{point({}), point(1000)}, {point(1010)}});
  const auto messages = messages_of({first, second, track({{point({}, 1.0, 2.0)}, {}})}, device);
  ASSERT_EQ(names(messages),
            "file_id device_info record record record lap session activity "
            "record record record record lap session activity record ");
  // The product goes by its number when it has one; the manufacturer by name without a code.
  EXPECT_EQ(shown(messages[0]),
            "type=activity time_created=1000 manufacturer=development product=u3121 "
            "serial_number=u3900000000 product_name='Edge 530'");
  EXPECT_EQ(shown(messages[5], {"timestamp", "start_time"}), "timestamp=1010 start_time=1000");
  EXPECT_EQ(shown(messages[12]),
            "timestamp=2030 start_time=2000 total_elapsed_time=30 total_timer_time=30 "
            "total_distance=500 start_position_lat=i11930465 start_position_long=i23860929 "
            "end_position_lat=i35791394 end_position_long=i47721859");
  EXPECT_EQ(shown(messages[13]),
            "timestamp=2030 start_time=2000 total_elapsed_time=30 total_timer_time=20 "
            "total_distance=500 sport=hiking enhanced_avg_speed=25 start_position_lat=i11930465 "
            "start_position_long=i23860929");
  EXPECT_EQ(shown(messages[14]), "timestamp=2030 total_timer_time=20 num_sessions=u1");
  device.manufacturer_id = 255;
  EXPECT_EQ(shown(messages_of({}, device)[0], {"manufacturer"}), "manufacturer=u255");
}

// The device_info message speaks of the recorder that file_id names: with index 0 or none, as
// readers take a device_info with another index for a sensor's.
TEST(FitWriter, DeviceInfoIsTheCreators) {
  const std::pair<std::optional<std::uint8_t>, const char*> cases[] = {
      {0, "device_index=u0 software_version=2.5"},
      {3, "software_version=2.5"},
      {std::nullopt, "software_version=2.5"}};
  for (const auto& [index, expected] : cases) {
    DeviceInfo device;
    device.software_version = 2.5, device.device_index = index;
    EXPECT_EQ(shown(messages_of({}, device).at(1)), expected) << int(index.value_or(255));
  }
}

// The session's optional fields, of two points 10 s apart on the flat, with no timer.
TEST(FitWriter, SessionSummaryFields) {
  const std::pair<void (*)(Activity&), const char*> cases[] = {
      {[](A a) { a.summary.average_heart_rate_bpm = 300.4; }, "avg_heart_rate=u254"},
      {[](A a) { a.summary.average_heart_rate_bpm = 142.5; }, "avg_heart_rate=u143"},
      {[](A a) { a.summary.average_heart_rate_bpm = NAN, a.sport = "Road Cycling"; }, ""},
      {[](A a) {
         a.segments[0].points = {point(0, {}, {}, 10, 100), point(9, {}, {}, 20, 101)};
       },
       "avg_heart_rate=u101 total_ascent=u10"},
      {[](A a) { a.summary.total_ascent_meters = 0, a.summary.total_descent_meters = 12.4; },
       "total_descent=u12"},
      {[](A a) { a.summary.total_descent_meters = 3, a.segments[0].points[1].elevation_m = 20; },
       "total_descent=u3"},  // and no ascent from the points
      {[](A a) { a.summary.total_ascent_meters = 1e6; }, "total_ascent=u65534"},
      {[](A a) { a.sport = " Rowing "; }, "sport=rowing"},
      {[](A a) { a.sport = "MultiSport"; }, "sport=multisport"},
      {[](A a) { a.sport = "other", a.sub_sport = "Road"; }, "sport=generic sub_sport=Road"},
      {[](A a) { a.summary.total_timer_seconds = 8, a.summary.total_distance_meters = 20; },
       "enhanced_avg_speed=2.5"},
      {[](A a) { a.summary.total_moving_seconds = 7.5, a.summary.average_speed_mps = 1.25; },
       "total_moving_time=7.5 enhanced_avg_speed=1.25"},
  };
  for (const auto& [edit, expected] : cases) {
    Activity a = track({{point(0, {}, {}, 10), point(10, {}, {}, 10)}});
    a.summary.total_timer_seconds = 0;  // no speed unless recorded or the case gives a timer
    edit(a);
    const auto session = messages_of({a}).at(4);
    EXPECT_EQ(shown(session, {"sport", "sub_sport", "total_moving_time", "enhanced_avg_speed",
                              "avg_heart_rate", "total_ascent", "total_descent"}),
              expected);
  }
}

// A string field holds 254 bytes and its terminating zero: a longer text is cut after its last
// whole UTF-8 character that fits, and the file is written all the same.
TEST(FitWriter, LongTextsAreCutAtACharacter) {
  const auto repeated = [](std::string_view character, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += character;
    return text;
  };
  const std::pair<std::string, std::size_t> cases[] = {
      {std::string(254, 'x'), 254},
      {std::string(300, 'x'), 254},
      {repeated("\xC3\xA9", 200), 254},               // U+00E9, 2 bytes
      {repeated("\xE2\x82\xAC", 100), 252},           // U+20AC, 3 bytes
      {"x" + repeated("\xF0\x9F\x98\x80", 80), 253},  // U+1F600, 4 bytes
  };
  for (const auto& [text, kept] : cases) {
    Activity a = track({{point(0), point(1)}});
    a.name = text;
    DeviceInfo device;
    device.product_name = text;
    Omissions omitted;
    const auto bytes = write({{a}, std::nullopt, device}, &omitted);
    ASSERT_TRUE(bytes) << bytes.error().display();
    const auto back = read({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()});
    ASSERT_TRUE(back) << back.error().display();
    EXPECT_EQ(back->activities.at(0).name, text.substr(0, kept));
    EXPECT_EQ(back->device_info.value().product_name, text.substr(0, kept));
    EXPECT_EQ(omitted[Omission::Shortened], kept == text.size() ? 0u : 2u) << kept;
  }
}

// A product known by its name only (as a FIT file names a Garmin product) is written by that
// name, through the subfield the maker's products go by, and read back the same.
TEST(FitWriter, ProductNamesGoThroughTheMakersSubfield) {
  struct Case {
    DeviceInfo device;
    std::string file_id;  // its manufacturer and product fields
    std::size_t unknown;  // names left out
  };
  const auto device = [](std::optional<std::string> maker, std::optional<std::uint16_t> id,
                         std::string product) {
    DeviceInfo d;
    d.manufacturer = maker, d.manufacturer_id = id, d.product = product;
    return d;
  };
  const Case cases[] = {
      {device("garmin", 1, "fenix2"), "manufacturer=u1 garmin_product=fenix2", 0},
      {device("dynastream", {}, "hrm1"), "manufacturer=dynastream garmin_product=hrm1", 0},
      {device({}, 263, "assioma_duo"), "manufacturer=u263 favero_product=assioma_duo", 0},
      // Other makers' products have no names in FIT; an unknown name is written as invalid.
      {device("wahoo_fitness", {}, "elemnt"), "manufacturer=wahoo_fitness", 1},
      {device("garmin", 1, "no such watch"), "manufacturer=u1 garmin_product=no such watch", 1},
  };
  for (const Case& c : cases) {
    const ActivityFile bare{{}, std::nullopt, c.device};
    EXPECT_EQ(shown(activity_messages(bare)[0],
                    {"manufacturer", "garmin_product", "favero_product", "product"}),
              c.file_id);
    const ActivityFile file{{track({{point(0)}})}, std::nullopt, c.device};
    Omissions omitted;
    const auto bytes = write(file, &omitted);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(omitted[Omission::UnknownName], c.unknown) << c.file_id;
    const auto back = read({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()});
    ASSERT_TRUE(back) << back.error().display();
    EXPECT_EQ(back->device_info.value().product, c.unknown ? std::nullopt : c.device.product);
  }
}

// What a FIT file cannot hold is counted once per model value: values outside their field's
// range (the invalid markers included), NaNs, names FIT has no code for, and what an activity
// without start and end loses with its session.
TEST(FitWriter, WhatFitCannotCarryIsCounted) {
  using Edit = void (*)(ActivityFile&);
  const std::pair<Edit, std::vector<std::pair<Omission, std::size_t>>> cases[] = {
      {[](ActivityFile&) {}, {}},
      {[](ActivityFile& f) { f.activities[0].segments[0].points[0].heart_rate_bpm = 255; },
       {{Omission::OutOfRange, 1}}},
      {[](ActivityFile& f) {
         TrackPoint& p = f.activities[0].segments[0].points[1];
         p.speed_mps = 70.0, p.temperature_c = 127, p.cadence_rpm = 254, p.power_watts = 65535;
       },
       {{Omission::OutOfRange, 3}}},
      // The session's distance and speed, derived from the NaN distance, are not counted again.
      {[](ActivityFile& f) {
         TrackPoint& p = f.activities[0].segments[0].points[1];
         p.latitude = NAN, p.longitude = 7.0, p.elevation_m = -INFINITY, p.distance_m = NAN;
       },
       {{Omission::NotFinite, 3}}},
      {[](ActivityFile& f) {
         ActivitySummary& s = f.activities[0].summary;
         s.total_distance_meters = NAN, s.average_heart_rate_bpm = NAN, s.total_ascent_meters = -1;
         s.total_moving_seconds = 1e10, s.total_elapsed_seconds = 10;  // in range
       },
       {{Omission::NotFinite, 2}, {Omission::OutOfRange, 2}}},
      // Before the FIT epoch: the record's time (and its session's, not counted again).
      {[](ActivityFile& f) {
         f.activities[0].segments[0].points[0].time = UtcInstant{0, 0};
       },
       {{Omission::OutOfRange, 1}}},
      {[](ActivityFile& f) {
         f.activities[0].sport = "Road Cycling", f.activities[0].sub_sport = "Road";
       },
       {{Omission::UnknownName, 2}}},
      {[](ActivityFile& f) {
         Activity& untimed = f.activities.emplace_back(track({{point({})}}));
         untimed.name = "commute", untimed.sport = "running";
         untimed.summary.total_ascent_meters = 3;
       },
       {{Omission::UntimedActivity, 3}}},
      // file_id and device_info both carry the manufacturer and the serial number.
      {[](ActivityFile& f) {
         f.device_info.emplace().manufacturer = "nobody";
         f.device_info->serial_number = 0;
         f.device_info->device_index = 255;
       },
       {{Omission::UnknownName, 1}, {Omission::OutOfRange, 2}}},
  };
  for (const auto& [edit, counts] : cases) {
    ActivityFile file =
        file_of({track({{point(1e9, 45.0, 7.0, 100.0), point(1e9 + 10, 45.1, 7.1)}})});
    edit(file);
    Omissions expected, omitted;
    for (const auto& [reason, n] : counts) expected.add(reason, n);
    ASSERT_TRUE(write(file, &omitted));
    EXPECT_EQ(omitted, expected) << to_json(file);
  }
}

// Records written straight from the points make the bytes the encoder makes of the same records
// as messages, and count the same omissions: at every conversion's edges (rounding halves, the
// ends of each field's range, values past 2^62 that take the slow path), when the fields present
// change from point to point (and back, which must not redefine a layout the local type still
// holds), and across activities whose summaries stand between records.
TEST(FitWriter, RecordsWrittenDirectlyAreTheEncodersBytes) {
  const auto with = [](TrackPoint p, auto edit) {
    edit(p);
    return p;
  };
  const TrackPoint base = point(1e9, 45.0, 7.0, 100.0, 140);
  using P = TrackPoint&;
  std::vector<std::pair<const char*, std::vector<TrackPoint>>> cases = {
      {"rounding halves and range ends",
       {with(base, [](P p) { p.elevation_m = 0.1, p.speed_mps = 0.0005, p.distance_m = 0.005; }),
        with(base, [](P p) { p.elevation_m = -500.1, p.distance_m = -0.005, p.speed_mps = -1; }),
        with(base, [](P p) { p.elevation_m = 12606.8, p.speed_mps = 65.534, p.distance_m = 0; }),
        with(base, [](P p) { p.elevation_m = 12606.9, p.speed_mps = 65.5345; }),
        with(base, [](P p) { p.distance_m = 42949672.94, p.heart_rate_bpm = 254; }),
        with(base, [](P p) { p.distance_m = 42949672.95, p.heart_rate_bpm = 255; }),
        with(base, [](P p) { p.distance_m = 5e16, p.elevation_m = -1e300, p.speed_mps = 1e300; }),
        with(base, [](P p) { p.cadence_rpm = 65535, p.power_watts = 65534; }),
        with(base, [](P p) { p.power_watts = 65535, p.temperature_c = 126; }),
        with(base, [](P p) { p.temperature_c = 127; }),
        with(base, [](P p) { p.temperature_c = -128; }),
        with(base, [](P p) { p.temperature_c = -129; })}},
      {"not finite and out of range",
       {with(base, [](P p) { p.latitude = NAN, p.elevation_m = INFINITY, p.speed_mps = NAN; }),
        with(base, [](P p) { p.longitude = -INFINITY, p.distance_m = -INFINITY; }),
        with(base, [](P p) { p.latitude = 180.0, p.longitude = -180.0; }),
        with(base, [](P p) { p.latitude = 90.0000001, p.longitude = 1e300; }),
        with(base, [](P p) { p.latitude = -0.0, p.longitude = 179.99999999; }),
        with(base,
             [](P p) {
               p.time = UtcInstant{fit::kFitEpochUnixSeconds - 1, 0};
             }),
        with(base,
             [](P p) {
               p.time = UtcInstant{fit::kFitEpochUnixSeconds, 999999999};
             }),
        with(base,
             [](P p) {
               p.time = UtcInstant{fit::kFitEpochUnixSeconds + 0xFFFFFFFE, 0};
             }),
        with(base,
             [](P p) {
               p.time = UtcInstant{fit::kFitEpochUnixSeconds + 0xFFFFFFFF, 0};
             })}},
      {"fields that come and go",
       {base, point(1e9 + 1), base, point({}, 1.0, 2.0), point({}), base, point(1e9 + 2),
        with(base, [](P p) { p = TrackPoint{}, p.speed_mps = 1, p.cadence_rpm = 80; }),
        with(base, [](P p) { p.power_watts = 250, p.temperature_c = 20, p.distance_m = 3; })}},
  };
  for (const auto& [what, points] : cases) {
    ActivityFile one = file_of({track({points})});
    // The same points again as a second activity, and as an untimed third, behind a device.
    ActivityFile three = one;
    three.activities.push_back(track({points}));
    three.activities.push_back(track({{point({}, 1.0, 2.0), point({})}}));
    three.device_info.emplace().manufacturer = "garmin";
    for (const ActivityFile* file : {&one, &three}) {
      Omissions direct, messages;
      const auto bytes = write(*file, &direct);
      const auto expected = write_messages(*file, &messages);
      ASSERT_TRUE(bytes && expected) << what;
      EXPECT_EQ(*bytes, *expected) << what << ", " << file->activities.size() << " activities";
      EXPECT_EQ(direct, messages) << what << ", " << file->activities.size() << " activities";
    }
  }
  // Nothing to write but the file's own messages.
  for (const ActivityFile& file : {ActivityFile{}, file_of({track({{}})})}) {
    EXPECT_EQ(write(file), write_messages(file));
  }
}

// A time as FIT keeps it: whole seconds; none before the FIT epoch or past its 32-bit range.
std::optional<UtcInstant> fit_time(std::optional<UtcInstant> time) {
  const std::int64_t since = time ? time->seconds - fit::kFitEpochUnixSeconds : -1;
  if (since < 0 || since >= 0xFFFFFFFF) return std::nullopt;
  return UtcInstant{time->seconds, 0};
}

// Every activity of the corpus, from any format, through FIT and back: its points, and the totals
// it recorded, within FIT's resolution.
TEST(FitWriterCorpus, EveryActivityRoundTrips) {
  SKIP_WITHOUT_CORPUS("fit");
  std::string what;
  const auto near = [&](std::optional<double> back, std::optional<double> value, double step) {
    EXPECT_TRUE(back.has_value() == value.has_value() &&
                (!back || std::abs(*back - *value) <= step / 2 + 1e-9 * std::abs(*value)))
        << what << ": " << back.value_or(NAN) << " from " << value.value_or(NAN);
  };
  std::size_t files = 0;
  for (const char* folder : {"fit", "fit/invalid", "gpx", "tcx"}) {
    for (const auto& path : corpus::files(folder)) {
      const auto original = load(path.string());
      if (!original || original->point_count() == 0) continue;
      const auto bytes = dumps(*original, Format::Fit);
      ASSERT_TRUE(bytes) << path << ": " << bytes.error().display();
      const auto back =
          loads({reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()});
      ASSERT_TRUE(back) << path << ": " << back.error().display();
      ++files;
      messages_of(original->activities, original->device_info);  // checked against the profile
      Omissions direct, through_messages;
      EXPECT_EQ(dumps(*original, Format::Fit, &direct),
                write_messages(*original, &through_messages))
          << path;
      EXPECT_EQ(direct, through_messages) << path;
      std::vector<TrackPoint> points, points_back;
      for (const auto& [file, v] : {std::pair{&*original, &points}, {&*back, &points_back}}) {
        for (const Activity& a : file->activities) {
          for (const Segment& s : a.segments) v->insert(v->end(), s.points.begin(), s.points.end());
        }
      }
      ASSERT_EQ(points_back.size(), points.size()) << path;
      for (std::size_t i = 0; i < points.size() && !HasFailure(); ++i) {
        const TrackPoint &p = points[i], &b = points_back[i];
        what = path.filename().string() + " point " + std::to_string(i);
        EXPECT_EQ(b.time, fit_time(p.time)) << what;
        near(b.latitude, p.latitude, 1 / kSemicirclesPerDegree);
        near(b.longitude, p.longitude, 1 / kSemicirclesPerDegree);
        near(b.elevation_m, p.elevation_m, 0.2);
        near(b.distance_m, p.distance_m, 0.01);
        near(b.speed_mps, p.speed_mps, 0.001);
        EXPECT_EQ(std::tie(b.heart_rate_bpm, b.cadence_rpm, b.power_watts, b.temperature_c),
                  std::tie(p.heart_rate_bpm, p.cadence_rpm, p.power_watts, p.temperature_c));
      }
      // Each session closes an activity, so the points of one without start or end join the
      // next; points after the last session make one more activity.
      const auto& activities = original->activities;
      const auto unclosed = std::find_if(activities.rbegin(), activities.rend(),
                                         [](const Activity& o) { return o.end_time(); });
      const bool trailing = std::any_of(unclosed.base(), activities.end(),
                                        [](const Activity& o) { return o.point_count() > 0; });
      std::vector<Activity> closed = activities;
      std::erase_if(closed, [](const Activity& o) { return !o.end_time(); });
      ASSERT_EQ(back->activities.size(), closed.size() + trailing) << path;
      for (std::size_t i = 0; i < closed.size(); ++i) {
        const Activity &a = back->activities[i], &o = closed[i];
        const ActivitySummary &g = a.summary, &h = o.summary;  // only the totals recorded
        what = path.filename().string() + " activity " + std::to_string(i);
        EXPECT_EQ(a.name, o.name) << what;
        EXPECT_EQ(a.start_time, fit_time(o.effective_start_time())) << what;
        if (h.total_elapsed_seconds) near(g.total_elapsed_seconds, h.total_elapsed_seconds, 1e-3);
        if (h.total_timer_seconds) near(g.total_timer_seconds, h.total_timer_seconds, 1e-3);
        if (h.total_distance_meters) near(g.total_distance_meters, h.total_distance_meters, 1e-2);
        if (h.average_heart_rate_bpm) near(g.average_heart_rate_bpm, h.average_heart_rate_bpm, 1);
      }
      EXPECT_EQ(back->device_info, original->device_info) << path;
    }
  }
  EXPECT_GT(files, 40u);
}

}  // namespace
}  // namespace tramlix::fit_activity
