#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "../profile/types.hpp"
#include "fit/profile.hpp"

namespace fit::profile {
namespace {

using std::string_view_literals::operator""sv;

const FieldInfo& field_of(std::string_view message, std::string_view field) {
  const MessageInfo* m = mesg_info_by_name(message);
  EXPECT_NE(m, nullptr) << message;
  const FieldInfo* f = m->field(field);
  EXPECT_NE(f, nullptr) << message << "." << field;
  return *f;
}

TEST(FitProfile, MessagesByNumberAndName) {
  EXPECT_EQ(message_count(), 123u);
  EXPECT_EQ(type_count(), 200u);
  const std::pair<std::uint16_t, std::string_view> cases[] = {
      {0, "file_id"},
      {20, "record"},
      {18, "session"},
      {206, "field_description"},
      {207, "developer_data_id"},
      {471, "sleep_disruption_overnight_severity"}};
  for (const auto& [number, name] : cases) {
    const MessageInfo* m = mesg_info_by_num(number);
    ASSERT_NE(m, nullptr) << number;
    EXPECT_EQ(m->name, name);
    EXPECT_EQ(mesg_info_by_name(name), m);
  }
  EXPECT_EQ(mesg_info_by_num(20)->fields.size(), 84u);
  for (std::uint16_t none : {105, 11, 472, 0xFF00, 0xFFFF}) {
    EXPECT_EQ(mesg_info_by_num(none), nullptr) << none;
  }
  for (std::string_view none : {"pad"sv, ""sv, "Record"sv, "recorD"sv, "records"sv}) {
    EXPECT_EQ(mesg_info_by_name(none), nullptr) << none;
  }
}

// Every row must be reachable through the lookups, and every name a row uses must resolve:
// catches index tables out of step with their rows and generator slips in cross references.
TEST(FitProfile, EveryRowIsReachableAndConsistent) {
  for (const MessageInfo& m : message_table()) {
    EXPECT_EQ(mesg_info_by_num(m.number), &m);
    EXPECT_EQ(mesg_info_by_name(m.name), &m);
    int previous = -1;
    for (const FieldInfo& f : m.fields) {
      EXPECT_GT(int{f.number}, previous) << m.name << "." << f.name;
      previous = f.number;
      EXPECT_EQ(m.field(f.number), &f);
      EXPECT_EQ(m.field(f.name), &f);
      EXPECT_NE(base_type_for_type_name(f.type_name), kNoBaseType) << f.type_name;
      for (const Component& c : f.components) EXPECT_NE(m.field(c.target), nullptr) << c.target;
      for (const Subfield& s : f.subfields) {
        EXPECT_NE(base_type_for_type_name(s.type_name), kNoBaseType) << s.type_name;
        for (const Component& c : s.components) EXPECT_NE(m.field(c.target), nullptr);
        for (const SubfieldReference& r : s.references) {
          const FieldInfo* ref = m.field(r.field);
          ASSERT_NE(ref, nullptr) << m.name << "." << s.name;
          EXPECT_TRUE(enum_value_by_str(ref->type_name, r.value)) << s.name << " " << r.value;
        }
      }
    }
    EXPECT_EQ(m.field(std::uint8_t{255}), nullptr) << m.name;
  }
  for (const TypeInfo& t : type_table()) {
    EXPECT_EQ(type_info(t.name), &t);
    EXPECT_EQ(t.by_name.size(), t.values.size());
    for (const EnumValue& v : t.values) {
      EXPECT_EQ(t.name_of(v.value), v.name) << t.name;
      EXPECT_EQ(t.value_of(v.name), v.value) << t.name << " " << v.name;
    }
  }
}

TEST(FitProfile, FieldLookupMissesBetweenAndAfterNumbers) {
  const MessageInfo& record = *mesg_info_by_num(20);
  // record jumps from 13 to 17 and from 139 to 253.
  for (std::uint8_t none : {14, 15, 200, 252, 254}) {
    EXPECT_EQ(record.field(none), nullptr) << int{none};
  }
  EXPECT_EQ(record.field(std::uint8_t{253})->name, "timestamp");
  EXPECT_EQ(record.field("timestamp")->number, 253);
  EXPECT_EQ(record.field("timestam"), nullptr);
}

TEST(FitProfile, ExampleRowsOfRecord) {
  const FieldInfo& altitude = field_of("record", "altitude");
  EXPECT_EQ(altitude.number, 2);
  EXPECT_EQ(altitude.type_name, "uint16");
  EXPECT_EQ(altitude.scale, 5.0);
  EXPECT_EQ(altitude.offset, 500.0);
  EXPECT_EQ(altitude.units, "m");
  ASSERT_EQ(altitude.components.size(), 1u);
  const Component& enhanced = altitude.components[0];
  EXPECT_EQ(enhanced.target, "enhanced_altitude");
  EXPECT_EQ(enhanced.bits, 16);
  EXPECT_EQ(enhanced.scale, 5.0);
  EXPECT_EQ(enhanced.offset, 500.0);
  EXPECT_EQ(enhanced.units, "m");
  EXPECT_FALSE(enhanced.accumulate);

  const FieldInfo& csd = field_of("record", "compressed_speed_distance");
  EXPECT_EQ(csd.number, 8);
  EXPECT_EQ(csd.type_name, "byte");
  EXPECT_EQ(csd.scale, 100.0);
  EXPECT_EQ(csd.units, "m/s,m");
  EXPECT_EQ(csd.array, "[3]");

  // (field, component index, target, bits, scale, units, accumulate)
  const std::tuple<std::string_view, int, std::string_view, int, std::optional<double>,
                   std::string_view, bool>
      components[] = {
          {"compressed_speed_distance", 0, "speed", 12, 100.0, "m/s", false},
          {"compressed_speed_distance", 1, "distance", 12, 16.0, "m", true},
          {"cycles", 0, "total_cycles", 8, std::nullopt, "cycles", true},
          {"compressed_accumulated_power", 0, "accumulated_power", 16, std::nullopt, "watts", true},
          {"speed", 0, "enhanced_speed", 16, 1000.0, "m/s", false},
      };
  for (const auto& [field, i, target, bits, scale, units, accumulate] : components) {
    const FieldInfo& f = field_of("record", field);
    ASSERT_GT(f.components.size(), static_cast<std::size_t>(i)) << field;
    const Component& c = f.components[i];
    EXPECT_EQ(c.target, target);
    EXPECT_EQ(c.bits, bits) << target;
    EXPECT_EQ(c.scale, scale) << target;
    EXPECT_EQ(c.offset, std::nullopt) << target;
    EXPECT_EQ(c.units, units) << target;
    EXPECT_EQ(c.accumulate, accumulate) << target;
  }

  // Neutral scales and offsets are absent so that integers stay integers.
  const FieldInfo& timestamp = field_of("record", "timestamp");
  EXPECT_EQ(timestamp.type_name, "date_time");
  EXPECT_EQ(timestamp.scale, std::nullopt);
  EXPECT_EQ(timestamp.offset, std::nullopt);
  EXPECT_EQ(timestamp.units, "s");
  EXPECT_TRUE(field_of("record", "distance").accumulate);
  EXPECT_FALSE(field_of("record", "cycles").accumulate);
  EXPECT_EQ(field_of("record", "position_lat").units, "semicircles");
}

TEST(FitProfile, ProductSubfieldsAndTheirReferences) {
  for (std::string_view message : {"file_id", "device_info"}) {
    const FieldInfo& product = field_of(message, "product");
    ASSERT_EQ(product.subfields.size(), 2u) << message;
    const Subfield& favero = product.subfields[0];
    const Subfield& garmin = product.subfields[1];
    EXPECT_EQ(favero.name, "favero_product");
    ASSERT_EQ(favero.references.size(), 1u);
    EXPECT_EQ(favero.references[0].field, "manufacturer");
    EXPECT_EQ(favero.references[0].value, "favero_electronics");
    EXPECT_EQ(garmin.name, "garmin_product");
    EXPECT_EQ(garmin.type_name, "garmin_product");
    ASSERT_EQ(garmin.references.size(), 4u);
    const std::string_view values[] = {"garmin", "dynastream", "dynastream_oem", "tacx"};
    for (std::size_t i = 0; i < 4; ++i) {
      EXPECT_EQ(garmin.references[i].field, "manufacturer");
      EXPECT_EQ(garmin.references[i].value, values[i]);
    }
  }
  // Subfields carry their own scale and components: event.data as radar_threat_alert.
  const FieldInfo& data = field_of("event", "data");
  const Subfield* radar = nullptr;
  for (const Subfield& s : data.subfields) {
    if (s.name == "radar_threat_alert") radar = &s;
  }
  ASSERT_NE(radar, nullptr);
  ASSERT_EQ(radar->components.size(), 4u);
  EXPECT_EQ(radar->components[2].scale, 10.0);
  EXPECT_EQ(radar->references[0].field, "event");
}

TEST(FitProfile, ArrayMarkers) {
  const std::tuple<std::string_view, std::string_view, std::string_view> cases[] = {
      {"record", "compressed_speed_distance", "[3]"},
      {"gps_metadata", "velocity", "[3]"},
      {"three_d_sensor_calibration", "offset_cal", "[3]"},
      {"three_d_sensor_calibration", "orientation_matrix", "[9]"},
      {"user_profile", "global_id", "[6]"},
      {"monitoring", "activity_time", "[8]"},
      {"exd_data_field_configuration", "title", "[32]"},
      {"record", "speed_1s", "[N]"},
      {"one_d_sensor_calibration", "offset_cal", ""},
      {"record", "heart_rate", ""},
  };
  for (const auto& [message, field, marker] : cases) {
    EXPECT_EQ(field_of(message, field).array, marker) << message << "." << field;
  }
}

TEST(FitProfile, BaseTypesOfTypeNames) {
  const std::pair<std::string_view, std::uint8_t> cases[] = {
      {"file", 0},     {"weight", 4},      {"mesg_num", 4},      {"enum", 0},
      {"uint16", 4},   {"string", 7},      {"uint8z", 10},       {"byte", 13},
      {"uint64z", 16}, {"bool", 0},        {"date_time", 6},     {"garmin_product", 4},
      {"sport", 0},    {"file_flags", 10}, {"timer_trigger", 0}, {"plank_exercise_name", 4},
      {"", 17},        {"Uint16", 17},     {"uint", 17},         {"nonexistent_type", 17},
  };
  for (const auto& [name, code] : cases) EXPECT_EQ(base_type_for_type_name(name), code) << name;
}

TEST(FitProfile, EnumerationValues) {
  const std::tuple<std::string_view, std::uint64_t, std::string_view> named[] = {
      {"sport", 1, "running"},
      {"sport", 254, "all"},
      {"fit_base_type", 0x84, "uint16"},
      {"manufacturer", 1, "garmin"},
      {"manufacturer", 263, "favero_electronics"},
      {"file", 4, "activity"},
      {"mesg_num", 0xFF00, "mfg_range_min"},
      {"garmin_product", 3927, "approach_g12"},  // written " 3927" in the profile's data
      {"date_time", 0x10000000, "min"},
  };
  for (const auto& [type, value, name] : named) {
    EXPECT_EQ(enum_str_by_value(type, value), name) << type << " " << value;
    EXPECT_EQ(enum_value_by_str(type, name), value) << type << " " << name;
  }
  // Unknown types, values and names; values only equal in their low 32 bits.
  EXPECT_EQ(enum_str_by_value("uint8", 1), std::nullopt);
  EXPECT_EQ(enum_str_by_value("sport", 200), std::nullopt);
  EXPECT_EQ(enum_str_by_value("sport", 0x100000001), std::nullopt);
  EXPECT_EQ(enum_str_by_value("no_such_type", 1), std::nullopt);
  EXPECT_EQ(enum_value_by_str("sport", "Running"), std::nullopt);
  EXPECT_EQ(enum_value_by_str("sport", ""), std::nullopt);
  EXPECT_EQ(enum_value_by_str("time_into_day", "x"), std::nullopt);
}

TEST(FitProfile, MesgNum) {
  const std::pair<std::uint16_t, std::uint16_t> values[] = {
      {0, 0},           {20, 20},   {105, 105}, {471, 471}, {0xFF00, 0xFF00},
      {0xFFFE, 0xFFFE}, {300, 472}, {11, 472},  {472, 472}, {0xFFFF, 472}};
  for (const auto& [value, result] : values) EXPECT_EQ(MesgNum::from_value(value), result);
  EXPECT_EQ(MesgNum::as_str(20), "record");
  EXPECT_EQ(MesgNum::as_str(105), "pad");
  EXPECT_EQ(MesgNum::as_str(0xFFFE), "mfg_range_max");
  EXPECT_EQ(MesgNum::as_str(472), std::nullopt);
  EXPECT_EQ(MesgNum::from_str("record"), 20);
  EXPECT_EQ(MesgNum::from_str("mfg_range_min"), 0xFF00);
  EXPECT_EQ(MesgNum::from_str("unknown"), std::nullopt);
}

TEST(FitProfile, GeneratedEnumerationFamily) {
  using types::Sport;
  static_assert(static_cast<int>(Sport::kRunning) == 1);
  static_assert(static_cast<std::uint16_t>(types::MesgNum::kMfgRangeMax) == 0xFFFE);
  EXPECT_EQ(Enum<Sport>::from_value(1), Sport::kRunning);
  EXPECT_EQ(Enum<Sport>::from_value(200), std::nullopt);
  EXPECT_EQ(Enum<Sport>::as_str(Sport::kRunning), "running");
  EXPECT_EQ(Enum<Sport>::from_str("cycling"), Sport::kCycling);
  EXPECT_EQ(Enum<types::Weight>::info().name, "weight");
  EXPECT_EQ(Enum<types::Weight>::from_str("calculating"), types::Weight::kCalculating);
  EXPECT_EQ(Enum<types::MesgNum>::as_str(types::MesgNum::kRecord), "record");
  EXPECT_EQ(Enum<types::GarminProduct>::from_value(3927), types::GarminProduct::kApproachG12);
}

}  // namespace
}  // namespace fit::profile
