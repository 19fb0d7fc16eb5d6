// Records read straight from their bytes make the same file as records decoded in full: every
// corpus file, and files built to reach what real files rarely hold.
#include <gtest/gtest.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "corpus.hpp"
#include "fit_activity/fit_activity.hpp"
#include "fit_bytes.hpp"

namespace tramlix::fit_activity {
namespace {

using namespace fit::testing;

constexpr std::uint8_t kS8 = 0x01, kU8 = 0x02, kS16 = 0x83, kU16 = 0x84, kS32 = 0x85, kU32 = 0x86,
                       kF32 = 0x88, kF64 = 0x89, kStr = 0x07, kByte = 0x0D, kEnum = 0x00;

// The file mapped one way, as JSON, and where and why the walk stopped, if it did.
std::string mapped(const Bytes& bytes, Decoding decoding, bool read_cut_files = false) {
  ActivityMapper mapper;
  const auto stop = map_messages(bytes, mapper, read_cut_files, decoding);
  const auto file = std::move(mapper).finish();
  std::string out = file ? to_json(*file) : file.error().display();
  if (stop) out += " / stopped at " + std::to_string(stop->offset) + ": " + stop->error.display();
  return out;
}

// The points of a file, compactly: each field present as name=value.
std::string points(const Bytes& bytes) {
  ActivityMapper mapper;
  (void)map_messages(bytes, mapper);
  const auto file = std::move(mapper).finish();
  if (!file) return file.error().display();
  std::string out;
  for (const Activity& activity : file->activities) {
    out += out.empty() ? "" : " | ";
    for (const TrackPoint& p : activity.segments.at(0).points) {
      std::string point;
      const auto add = [&](const char* name, const auto& value) {
        if (!value) return;
        std::string text;
        if constexpr (std::is_same_v<std::decay_t<decltype(*value)>, UtcInstant>) {
          text = std::to_string(value->seconds - fit::kFitEpochUnixSeconds);
        } else if constexpr (std::is_floating_point_v<std::decay_t<decltype(*value)>>) {
          char buffer[32];
          text.assign(buffer, std::to_chars(buffer, buffer + 32, *value).ptr);
        } else {
          text = std::to_string(*value);
        }
        point += (point.empty() ? "" : ",") + std::string(name) + "=" + text;
      };
      add("t", p.time), add("lat", p.latitude), add("lon", p.longitude), add("ele", p.elevation_m);
      add("dist", p.distance_m), add("hr", p.heart_rate_bpm), add("cad", p.cadence_rpm);
      add("speed", p.speed_mps), add("power", p.power_watts), add("temp", p.temperature_c);
      out += "(" + point + ")";
    }
  }
  return out;
}

TEST(FitDirectPath, EveryCorpusFileMapsAsWhenDecodedInFull) {
  SKIP_WITHOUT_CORPUS("fit");
  std::size_t files = 0;
  for (const char* folder : {"fit", "fit/invalid"}) {
    for (const auto& path : corpus::files(folder)) {
      std::ifstream in(path, std::ios::binary);
      const Bytes bytes(std::istreambuf_iterator<char>(in), {});
      for (const bool cut : {false, true}) {
        EXPECT_EQ(mapped(bytes, Decoding::Direct, cut), mapped(bytes, Decoding::Typed, cut))
            << path << (cut ? " read as cut short" : "");
      }
      ++files;
    }
  }
  EXPECT_GT(files, 40u);
}

// Files built to hold what the direct path must read as the typed decoder does. Each is checked
// against the typed path and against the points it should give: t is seconds since the FIT
// epoch.
TEST(FitDirectPath, BuiltFilesMapAsWhenDecodedInFull) {
  struct Case {
    const char* what;
    Bytes bytes;
    std::string points;
  };
  std::vector<Case> cases;
  {
    // Compressed timestamps count from the last time a message gave: with field 253 defined (it
    // then takes no bytes) and without it (the time is added).
    Records r;
    r.define(0, 20, {{253, 4, kU32}, {3, 1, kU8}}).data(0, cat({le32(1000), {60}}));
    r.compressed(0, 8, {61}).compressed(0, 4, {62});
    r.define(1, 20, {{3, 1, kU8}}).compressed(1, 31, {63}).compressed(1, 2, {64});
    // A message of another kind gives the time too; an invalid one does not.
    r.define(2, 21, {{253, 4, kU32}}).data(2, le32(5000)).data(2, le32(0xFFFFFFFF));
    r.compressed(1, 1, {65});
    cases.push_back({"compressed timestamps", r.file(),
                     "(t=1000,hr=60)(t=1000,hr=61)(t=1028,hr=62)(t=1055,hr=63)(t=1058,hr=64)"
                     "(t=5025,hr=65)"});
  }
  {
    // Speed and distance in 12 bits each; the distance is a running total that rolls over at
    // 4096/16 m, starts again in a chained file, and skips a message whose bytes are all 0xFF.
    Records r, second;
    r.define(0, 20, {{8, 3, kByte}});
    r.data(0, {0xFA, 0x00, 0xFA}).data(0, {0xFF, 0xFF, 0xFF}).data(0, {0x2C, 0x41, 0x06});
    second.define(3, 20, {{8, 3, kByte}, {3, 1, kU8}}).data(3, {0x2C, 0x41, 0x06, 90});
    // Two bytes hold the speed alone.
    second.define(3, 20, {{8, 2, kByte}}).data(3, {0x2C, 0x01});
    cases.push_back({"compressed speed and distance", cat({r.file(), second.file()}),
                     "(dist=250,speed=2.5)()(dist=262.25,speed=3)(dist=6.25,hr=90,speed=3)"
                     "(speed=3)"});
  }
  {
    // A distance given in full between compressed ones: the running total is the file's own
    // from there on, in its own units, so the compressed distances after it count afresh.
    Records r;
    r.define(0, 20, {{8, 3, kByte}}).data(0, {0xFA, 0x00, 0xFA});
    r.define(1, 20, {{5, 4, kU32}}).data(1, le32(100000));
    r.data(0, {0x2C, 0x41, 0x06});
    cases.push_back({"a distance in full among compressed ones", r.file(),
                     "(dist=250,speed=2.5)(dist=1000)(dist=6.25,speed=3)"});
  }
  {
    // A big-endian definition, and the same fields little-endian.
    const Bytes big = {0x20, 0, 0, 0,    0xFF, 0xFF, 0xFF, 0x12, 0x0B,
                       0xB8, 0, 0, 0x27, 0x10, 0x0B, 0xB8, 0xF6};
    Records r;
    const auto fields = {Def{0, 4, kS32}, Def{1, 4, kS32}, Def{2, 2, kU16},
                         Def{5, 4, kU32}, Def{6, 2, kU16}, Def{13, 1, kS8}};
    r.define(0, 20, fields, {}, true).data(0, big);
    r.define(1, 20, fields)
        .data(1,
              cat({le32(1u << 30), le32(0xFFFFFF12), le16(3000), le32(10000), le16(3000), {0xF6}}));
    cases.push_back({"big-endian fields", r.file(),
                     "(lat=45,lon=-1.994892954826355e-05,ele=100,dist=100,speed=3,temp=-10)"
                     "(lat=90,lon=-1.994892954826355e-05,ele=100,dist=100,speed=3,temp=-10)"});
  }
  {
    // Sizes that do not fit their types are read as bytes, arrays stay arrays: no number, so
    // the point has no position, and its altitude comes from the enhanced_altitude component
    // (the first 16 bits, 513); a one-byte time is still a time.
    Records r;
    r.define(0, 20, {{253, 1, kU32}, {2, 3, kU16}, {0, 8, kS32}, {3, 1, kU8}});
    r.data(0, {7, 1, 2, 3, 1, 0, 0, 0, 2, 0, 0, 0, 80});
    cases.push_back({"misaligned and array fields", r.file(), "(t=7,ele=-397.4,hr=80)"});
  }
  {
    // altitude and speed give enhanced_altitude and enhanced_speed as components, which only
    // fill a gap; enhanced fields stand in for invalid plain ones, in either order.
    Records r;
    r.define(0, 20, {{78, 4, kU32}, {73, 4, kU32}, {2, 2, kU16}, {6, 2, kU16}});
    r.data(0, cat({le32(5000), le32(4250), le16(2600), le16(3500)}));
    r.data(0, cat({le32(5000), le32(4250), le16(0xFFFF), le16(0xFFFF)}));
    r.define(0, 20, {{2, 2, kU16}, {6, 2, kU16}, {78, 4, kU32}, {73, 4, kU32}});
    r.data(0, cat({le16(0xFFFF), le16(0xFFFF), le32(5000), le32(0xFFFFFFFF)}));
    cases.push_back({"enhanced fields and components", r.file(),
                     "(ele=20,speed=3.5)(ele=500,speed=4.25)(ele=500)"});
  }
  {
    // Base types the profile does not give these fields: floats are numbers, but not heart
    // rates or times; a negative heart rate or a temperature above 32767 is none, and so is a
    // time before the FIT epoch or a name.
    Records r;
    r.define(0, 20,
             {{0, 4, kF32},
              {2, 4, kF32},
              {5, 8, kF64},
              {3, 1, kS8},
              {13, 2, kU16},
              {7, 4, kU32},
              {4, 2, kS16},
              {253, 4, kS32}});
    const Bytes f32_half = {0x00, 0x00, 0x00, 0x3F}, f32_1250 = {0x00, 0x40, 0x9C, 0x44};
    const Bytes f64_12 = {0, 0, 0, 0, 0, 0, 0x28, 0x40};
    r.data(0, cat({f32_half,
                   f32_1250,
                   f64_12,
                   {0xF0},
                   le16(40000),
                   le32(70000),
                   le16(90),
                   le32(0xFFFFFFF0)}));
    r.data(0,
           cat({f32_half, f32_1250, f64_12, {100}, le16(300), le32(400), le16(0xFFFE), le32(12)}));
    r.define(1, 20, {{253, 4, kF32}, {3, 1, kEnum}, {4, 2, kStr}})
        .data(1, {0, 0, 0x80, 0x3F, 7, 'x', 0});
    cases.push_back({"other base types", r.file(),
                     "(lat=4.190951585769653e-08,ele=-250,dist=0.12,cad=90)"
                     "(t=12,lat=4.190951585769653e-08,ele=-250,dist=0.12,hr=100,power=400,"
                     "temp=300)(hr=7)"});
  }
  {
    // Developer fields, fields the profile does not know and a field given twice: the first
    // heart rate is overwritten by the second.
    Records r;
    r.define(0, 206, {{0, 1, kU8}, {1, 1, kU8}, {2, 1, kU8}, {3, 11, kStr}})
        .data(0, cat({{0, 3, kU8}, text("heart_rate"), {0}}));
    r.define(1, 20, {{3, 1, kU8}, {250, 2, kU16}, {3, 1, kU8}}, {{3, 1, 0}, {4, 2, 0}});
    r.data(1, {70, 1, 2, 71, 200, 9, 9});
    cases.push_back({"developer and unknown fields", r.file(), "(hr=71)"});
  }
  {
    // Sessions written after all the records share them out by start time; a lap between them
    // is ignored, and so is an event.
    Records r;
    r.define(0, 20, {{253, 4, kU32}}).data(0, le32(100)).data(0, le32(200)).data(0, le32(300));
    r.define(1, 21, {{253, 4, kU32}, {0, 1, kEnum}}).data(1, cat({le32(300), {0}}));
    r.define(2, 18, {{253, 4, kU32}, {2, 4, kU32}, {5, 1, kEnum}});
    r.data(2, cat({le32(150), le32(100), {1}}));
    r.define(3, 19, {{2, 4, kU32}}).data(3, le32(100));
    r.data(2, cat({le32(300), le32(200), {2}}));
    cases.push_back({"sessions after their records", r.file(), "(t=100) | (t=200)(t=300)"});
  }
  for (const Case& c : cases) {
    EXPECT_EQ(mapped(c.bytes, Decoding::Direct), mapped(c.bytes, Decoding::Typed)) << c.what;
    EXPECT_EQ(points(c.bytes), c.points) << c.what;
  }
  // A record that stops short, after direct and decoded messages alike.
  Records r;
  r.define(0, 20, {{3, 1, kU8}}).data(0, {1}).define(1, 20, {{0, 8, kS32}}).data(1, {2});
  EXPECT_EQ(mapped(r.file(), Decoding::Direct, true), mapped(r.file(), Decoding::Typed, true));
}

}  // namespace
}  // namespace tramlix::fit_activity
