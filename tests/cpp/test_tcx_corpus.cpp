#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>

#include "corpus.hpp"
#include "tcx/tcx.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

// Real TCX files come back equal from the writer and write again to the same bytes. Strict
// importers validate, so what the writer makes of real files, read from TCX or from GPX, must
// pass the published schema. That schema wants a Time in every Trackpoint and a Trackpoint in
// every Track, so untimed points and empty tracks go first; files that still break a rule the
// writer does not mend (it writes every model as it is) are not validated.
TEST(TcxCorpus, RoundTripsAndValidates) {
  SKIP_WITHOUT_CORPUS("tcx");
  const auto schema = corpus::kDir / "xsd/TrainingCenterDatabasev2.xsd";
  const std::string no_schema = corpus::schema_unavailable(schema);
  int validated = 0;
  for (const std::string_view folder : {"tcx", "gpx"}) {
    for (const auto& path : corpus::files(folder)) {
      auto file = load(path.string());
      if (folder == "gpx" && !file) continue;
      ASSERT_TRUE(file) << path << ": " << file.error().display();
      if (path.filename() == "test.tcx") {  // Notes after the Id name it; a Track in each of 3 laps
        const Activity& a = file->activities.at(0);
        EXPECT_EQ(std::tuple(*a.sport, *a.name, a.segments.size(), a.point_count(),
                             a.segments[0].points.at(0).heart_rate_bpm),
                  std::tuple("running", "Aerobics", 3u, 384u, std::optional<std::uint16_t>(62)));
      }
      if (folder == "tcx") {
        const std::string first = tcx::write(*file);
        const auto again = tcx::read(first);
        ASSERT_TRUE(again) << path << ": " << again.error().display();
        EXPECT_EQ(*again, *file) << path;
        EXPECT_EQ(tcx::write(*again), first) << path;
      }

      std::set<UtcInstant> ids;  // Activity Ids are a key
      bool valid = no_schema.empty();
      for (Activity& activity : file->activities) {
        for (Segment& segment : activity.segments) {
          std::erase_if(segment.points, [](const TrackPoint& p) { return !p.time; });
          for (const TrackPoint& p : segment.points) {
            valid &= p.latitude.has_value() == p.longitude.has_value() && p.heart_rate_bpm != 0 &&
                     p.heart_rate_bpm <= 255 && p.cadence_rpm <= 254;
          }
        }
        std::erase_if(activity.segments, [](const Segment& s) { return s.points.empty(); });
        valid &= ids.insert(activity.effective_start_time().value_or(UtcInstant{})).second;
      }
      if (!valid) continue;
      EXPECT_EQ(corpus::schema_errors(tcx::write(*file), schema), "") << path;
      ++validated;
    }
  }
  if (!no_schema.empty()) GTEST_SKIP() << no_schema;
  EXPECT_GE(validated, 15);
}

}  // namespace
}  // namespace tramlix
