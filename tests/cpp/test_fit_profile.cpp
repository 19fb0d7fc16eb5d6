#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>

#include "../profile/types.hpp"
#include "fit/profile.hpp"

namespace fit::profile {
namespace {

// " /5 -500 'm'": the scale, offset and units of a row, where it has them.
template <class Row>
std::string scaled(const Row& row) {
  char text[32];
  std::string out;
  if (row.scale) out.append(text, std::snprintf(text, sizeof text, " /%g", *row.scale));
  if (row.offset) out.append(text, std::snprintf(text, sizeof text, " -%g", *row.offset));
  if (!row.units.empty()) out.append(" '").append(row.units).append("'");
  return out;
}

// "20 cycles#18 uint8 'cycles' {total_cycles 8 'cycles' acc} <subfield type if field=value>":
// the message number, then the field's row.
std::string show(std::string_view message, std::string_view field) {
  const MessageInfo* m = mesg_info_by_name(message);
  const FieldInfo* f = m->field(field);
  std::string out = std::to_string(m->number).append(" ").append(f->name).append("#");
  out.append(std::to_string(f->number)).append(" ");
  out.append(f->type_name).append(f->array).append(scaled(*f)).append(f->accumulate ? " acc" : "");
  for (const Component& c : f->components) {
    out.append(" {").append(c.target).append(" ").append(std::to_string(c.bits)).append(scaled(c));
    out.append(c.accumulate ? " acc}" : "}");
  }
  for (const Subfield& s : f->subfields) {
    out.append(" <").append(s.name).append(" ").append(s.type_name).append(scaled(s)).append(" if");
    for (const auto& r : s.references) out.append(" ").append(r.field).append("=").append(r.value);
    out.append(">");
  }
  return out;
}

TEST(FitProfile, CountsAndLookups) {
  EXPECT_EQ(message_count(), 123u);
  EXPECT_EQ(type_count(), 200u);
  EXPECT_EQ(type_info("mesg_num")->values.size(), 126u);  // 0-471 as named, and the mfg range
  EXPECT_EQ(mesg_info_by_num(20)->fields.size(), 84u);
  for (std::uint16_t none : {105, 11, 472, 0xFF00, 0xFFFF}) EXPECT_FALSE(mesg_info_by_num(none));
  for (std::string_view none : {"pad", "", "Record", "recorD", "records"}) {
    EXPECT_FALSE(mesg_info_by_name(none)) << none;
  }
  // record jumps from 13 to 17 and from 139 to 253.
  for (std::uint8_t none : {14, 200, 254, 255}) EXPECT_FALSE(mesg_info_by_num(20)->field(none));
  EXPECT_FALSE(mesg_info_by_num(20)->field("timestam"));
}

// Every row must be reachable through the lookups, and every name a row uses must resolve:
// catches index tables out of step with their rows and generator slips in cross references.
// Neutral scales and offsets are left out, so that integers stay integers.
TEST(FitProfile, EveryRowIsReachableAndConsistent) {
  const auto resolve = [](const MessageInfo& m, std::span<const Component> components) {
    return std::all_of(components.begin(), components.end(),
                       [&](const Component& c) { return m.field(c.target); });
  };
  for (const MessageInfo& m : message_table()) {
    EXPECT_TRUE(mesg_info_by_num(m.number) == &m && mesg_info_by_name(m.name) == &m) << m.name;
    for (const FieldInfo& f : m.fields) {
      EXPECT_TRUE((&f == &m.fields[0] || (&f)[-1].number < f.number) && m.field(f.number) == &f &&
                  m.field(f.name) == &f && base_type_for_type_name(f.type_name) != kNoBaseType &&
                  f.scale != 1.0 && f.offset != 0.0 && resolve(m, f.components))
          << m.name << "." << f.name;
      for (const Subfield& s : f.subfields) {
        EXPECT_TRUE(base_type_for_type_name(s.type_name) != kNoBaseType && resolve(m, s.components))
            << s.name;
        for (const SubfieldReference& r : s.references) {
          const FieldInfo* ref = m.field(r.field);
          EXPECT_TRUE(ref && enum_value_by_str(ref->type_name, r.value))
              << s.name << " " << r.value;
        }
      }
    }
  }
  for (const TypeInfo& t : type_table()) {
    EXPECT_TRUE(type_info(t.name) == &t && t.by_name.size() == t.values.size()) << t.name;
    for (const EnumValue& v : t.values) {
      EXPECT_TRUE(t.name_of(v.value) == v.name && t.value_of(v.name) == v.value)
          << t.name << " " << v.name;
    }
  }
}

TEST(FitProfile, ExampleRows) {
  EXPECT_EQ(show("record", "altitude"),
            "20 altitude#2 uint16 /5 -500 'm' {enhanced_altitude 16 /5 -500 'm'}");
  EXPECT_EQ(show("record", "compressed_speed_distance"),
            "20 compressed_speed_distance#8 byte[3] /100 'm/s,m' {speed 12 /100 'm/s'} "
            "{distance 12 /16 'm' acc}");
  EXPECT_EQ(show("record", "cycles"), "20 cycles#18 uint8 'cycles' {total_cycles 8 'cycles' acc}");
  EXPECT_EQ(show("record", "compressed_accumulated_power"),
            "20 compressed_accumulated_power#28 uint16 'watts' {accumulated_power 16 'watts' acc}");
  EXPECT_EQ(show("record", "speed_1s"), "20 speed_1s#17 uint8[N] /16 'm/s'");
  const std::string products =
      " <favero_product favero_product if manufacturer=favero_electronics> <garmin_product "
      "garmin_product if manufacturer=garmin manufacturer=dynastream manufacturer=dynastream_oem "
      "manufacturer=tacx>";
  EXPECT_EQ(show("file_id", "product"), "0 product#2 uint16" + products);
  EXPECT_EQ(show("device_info", "product"), "23 product#4 uint16" + products);
  EXPECT_EQ(show("field_description", "field_name"), "206 field_name#3 string[N]");
}

TEST(FitProfile, TypesAndValues) {
  const std::pair<std::string_view, std::uint8_t> base_types[] = {
      {"file", 0},     {"weight", 4},  {"mesg_num", 4},     {"uint16", 4},
      {"uint64z", 16}, {"bool", 0},    {"date_time", 6},    {"file_flags", 10},
      {"", 17},        {"Uint16", 17}, {"no_such_type", 17}};
  for (const auto& [name, code] : base_types)
    EXPECT_EQ(base_type_for_type_name(name), code) << name;
  // garmin_product 3927 is written " 3927" in the profile's data.
  const std::tuple<std::string_view, std::uint64_t, std::string_view> named[] = {
      {"sport", 1, "running"},
      {"fit_base_type", 0x84, "uint16"},
      {"mesg_num", 0xFF00, "mfg_range_min"},
      {"garmin_product", 3927, "approach_g12"},
      {"date_time", 0x10000000, "min"}};
  for (const auto& [type, value, name] : named) {
    EXPECT_TRUE(enum_str_by_value(type, value) == name && enum_value_by_str(type, name) == value)
        << name;
  }
  // Unknown types, values and names; values only equal in their low 32 bits.
  EXPECT_FALSE(enum_str_by_value("uint8", 1) || enum_str_by_value("sport", 200));
  EXPECT_FALSE(enum_str_by_value("sport", 0x100000001) || enum_value_by_str("sport", "Running"));
  const std::pair<std::uint16_t, std::uint16_t> numbers[] = {
      {0, 0},     {105, 105}, {471, 471}, {0xFF00, 0xFF00}, {0xFFFE, 0xFFFE},
      {300, 472}, {11, 472},  {472, 472}, {0xFFFF, 472}};
  for (const auto& [value, result] : numbers) EXPECT_EQ(MesgNum::from_value(value), result);
  EXPECT_TRUE(MesgNum::as_str(105) == "pad" && MesgNum::as_str(0xFFFE) == "mfg_range_max");
  EXPECT_TRUE(MesgNum::from_str("record") == 20 && !MesgNum::as_str(472) &&
              !MesgNum::from_str("unknown"));
  // The generated enumerations: one family, differing only in their rows.
  EXPECT_EQ(Enum<types::Sport>::from_value(1), types::Sport::kRunning);
  EXPECT_EQ(Enum<types::Sport>::as_str(types::Sport::kRunning), "running");
  EXPECT_EQ(Enum<types::Weight>::from_str("calculating"), types::Weight::kCalculating);
}

}  // namespace
}  // namespace fit::profile
