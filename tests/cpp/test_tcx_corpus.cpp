#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>

#include "corpus.hpp"
#include "gpx/gpx.hpp"
#include "tcx/tcx.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

namespace fs = std::filesystem;

// What of `file` the TCX schema can take: it requires a Time in every Trackpoint and a
// Trackpoint in every Track, so untimed points and empty segments go. Absent when what remains
// still breaks a rule the writer does not mend (it writes every model as it is).
std::optional<ActivityFile> schema_valid_part(ActivityFile file) {
  std::set<UtcInstant> ids;
  for (Activity& activity : file.activities) {
    std::erase_if(activity.segments, [](Segment& segment) {
      std::erase_if(segment.points, [](const TrackPoint& p) { return !p.time; });
      return segment.points.empty();
    });
    // Activity Ids are a key; without any time every activity gets the epoch.
    if (!ids.insert(activity.effective_start_time().value_or(UtcInstant{})).second) return {};
    for (const Segment& segment : activity.segments) {
      for (const TrackPoint& p : segment.points) {
        if (p.latitude.has_value() != p.longitude.has_value()) return {};
        if (p.heart_rate_bpm == 0 || p.heart_rate_bpm > 255 || p.cadence_rpm > 254) return {};
      }
    }
  }
  return file;
}

TEST(TcxCorpus, EveryFileLoadsAndRoundTrips) {
  SKIP_WITHOUT_CORPUS("tcx");
  // Sport, name (the Id's text without Notes), laps, points, the first heart rate.
  using Content = std::tuple<std::string, std::string, std::size_t, std::size_t, int>;
  const std::map<std::string, Content> known = {
      {"test.tcx", {"running", "Aerobics", 3, 384, 62}},
      {"sup_activity_1.tcx", {"other", "2022-07-16T16:08:25.000Z", 2, 111, 96}},
  };
  int loaded = 0;
  for (const fs::path& path : corpus::files("tcx")) {
    const std::string name = path.filename().string();
    const auto file = load(path.string());
    ASSERT_TRUE(file) << name << ": " << file.error().display();
    ++loaded;
    if (const auto it = known.find(name); it != known.end()) {
      const Activity& a = file->activities.at(0);
      EXPECT_EQ(Content(a.sport.value_or("-"), a.name.value_or("-"), a.segments.size(),
                        a.point_count(), a.segments.at(0).points.at(0).heart_rate_bpm.value_or(0)),
                it->second);
    }
    const std::string first = tcx::write(*file);
    const auto again = tcx::read(first);
    ASSERT_TRUE(again) << name << ": " << again.error().display();
    EXPECT_EQ(*again, *file) << name;
    EXPECT_EQ(tcx::write(*again), first) << name;
  }
  EXPECT_GE(loaded, 3);
}

// GPX and TCX carry every point field, so GPX to TCX to GPX loses nothing but the sport's case.
TEST(TcxCorpus, GpxThroughTcxKeepsNamesAndPoints) {
  SKIP_WITHOUT_CORPUS("gpx");
  for (const fs::path& path : corpus::files("gpx")) {
    const auto file = load(path.string());
    if (!file) continue;
    const auto tcx = tcx::read(tcx::write(*file));
    ASSERT_TRUE(tcx) << path.filename();
    const auto back = gpx::read(gpx::write(*tcx));
    ASSERT_TRUE(back) << path.filename();
    ASSERT_EQ(back->activities.size(), file->activities.size()) << path.filename();
    for (std::size_t i = 0; i < back->activities.size(); ++i) {
      // Without a name, the Id names it.
      if (file->activities[i].name) {
        EXPECT_EQ(back->activities[i].name, file->activities[i].name) << path.filename();
      }
      EXPECT_EQ(back->activities[i].segments, file->activities[i].segments) << path.filename();
    }
  }
}

// Strict importers validate: what the writer makes of real files, read from TCX or from GPX,
// must pass the published schema.
TEST(TcxCorpus, WrittenDocumentsValidateAgainstTheSchema) {
  SKIP_WITHOUT_CORPUS("tcx");
  const fs::path schema = corpus::kDir / "xsd/TrainingCenterDatabasev2.xsd";
  if (const std::string why = corpus::schema_unavailable(schema); !why.empty()) GTEST_SKIP() << why;
  int validated = 0;
  for (const char* folder : {"tcx", "gpx"}) {
    for (const fs::path& path : corpus::files(folder)) {
      const auto file = load(path.string());
      if (!file) continue;
      const auto valid = schema_valid_part(*file);
      if (!valid) continue;
      EXPECT_EQ(corpus::schema_errors(tcx::write(*valid), schema), "") << path.filename();
      ++validated;
    }
  }
  EXPECT_GE(validated, 15);
}

}  // namespace
}  // namespace tramlix
