#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "gpx/gpx.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(TRAMLIX_CORPUS_DIR);

std::vector<fs::path> gpx_files() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(kCorpus / "gpx")) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The corpus sits beside the repository in the shared workspace; a plain clone lacks it.
#define SKIP_WITHOUT_CORPUS() \
  if (!fs::is_directory(kCorpus / "gpx")) GTEST_SKIP() << "no corpus folder at " << kCorpus

// NaN is a value a file can carry; it must survive a round trip like any other.
bool same(const std::optional<double>& a, const std::optional<double>& b) {
  if (a && b && std::isnan(*a) && std::isnan(*b)) return true;
  return a == b;
}

bool same(const TrackPoint& a, const TrackPoint& b) {
  return a.time == b.time && same(a.latitude, b.latitude) && same(a.longitude, b.longitude) &&
         same(a.elevation_m, b.elevation_m) && same(a.distance_m, b.distance_m) &&
         a.heart_rate_bpm == b.heart_rate_bpm && a.cadence_rpm == b.cadence_rpm &&
         same(a.speed_mps, b.speed_mps) && a.power_watts == b.power_watts &&
         a.temperature_c == b.temperature_c;
}

void expect_same(const ActivityFile& a, const ActivityFile& b, const std::string& name) {
  EXPECT_EQ(a.creator, b.creator) << name;
  EXPECT_EQ(a.device_info, b.device_info) << name;
  ASSERT_EQ(a.activities.size(), b.activities.size()) << name;
  for (std::size_t i = 0; i < a.activities.size(); ++i) {
    const Activity& x = a.activities[i];
    const Activity& y = b.activities[i];
    EXPECT_EQ(x.name, y.name) << name;
    EXPECT_EQ(x.sport, y.sport) << name;
    EXPECT_EQ(x.sub_sport, y.sub_sport) << name;
    EXPECT_EQ(x.start_time, y.start_time) << name;
    EXPECT_EQ(x.summary, y.summary) << name;
    ASSERT_EQ(x.segments.size(), y.segments.size()) << name;
    for (std::size_t s = 0; s < x.segments.size(); ++s) {
      ASSERT_EQ(x.segments[s].points.size(), y.segments[s].points.size()) << name;
      for (std::size_t p = 0; p < x.segments[s].points.size(); ++p) {
        EXPECT_TRUE(same(x.segments[s].points[p], y.segments[s].points[p]))
            << name << " activity " << i << " segment " << s << " point " << p;
      }
    }
  }
}

TEST(GpxCorpus, EveryFileLoadsOrFailsClearlyAndRoundTrips) {
  SKIP_WITHOUT_CORPUS();
  int loaded = 0;
  for (const fs::path& path : gpx_files()) {
    const std::string name = path.filename().string();
    const auto file = load(path.string());
    if (!file) {
      // Well-formed files without a track are the only ones that may fail.
      EXPECT_EQ(file.error().display(), "invalid GPX data: no track segments found") << name;
      continue;
    }
    ++loaded;
    EXPECT_EQ(file->creator, "tramlix") << name;
    const std::string first = gpx::write(*file);
    const auto again = gpx::read(first);
    ASSERT_TRUE(again) << name << ": " << again.error().display();
    expect_same(*file, *again, name);
    EXPECT_EQ(gpx::write(*again), first) << name;
  }
  EXPECT_GE(loaded, 15);
}

TEST(GpxCorpus, KnownContent) {
  SKIP_WITHOUT_CORPUS();
  const auto route = load((kCorpus / "gpx/route.gpx").string());
  ASSERT_FALSE(route);
  EXPECT_EQ(route.error().display(), "invalid GPX data: no track segments found");

  // Four tracks, each with a segment that holds its points.
  const auto korita = load((kCorpus / "gpx/korita-zbevnica.gpx").string());
  ASSERT_TRUE(korita) << korita.error().display();
  EXPECT_EQ(korita->activities.size(), 4u);
  EXPECT_EQ(korita->point_count(), 871u);

  // A trailing empty segment is kept.
  const auto empty = load((kCorpus / "gpx/track-with-empty-segment.gpx").string());
  ASSERT_TRUE(empty) << empty.error().display();
  ASSERT_EQ(empty->activities.size(), 1u);
  ASSERT_EQ(empty->activities[0].segments.size(), 2u);
  EXPECT_EQ(empty->activities[0].segments[0].points.size(), 9u);
  EXPECT_TRUE(empty->activities[0].segments[1].points.empty());
  EXPECT_EQ(empty->activities[0].name, "2013-07-06T14:59:00Z");
  EXPECT_EQ(empty->activities[0].start_time, UtcInstant{1373131586});  // 2013-07-06T17:26:26Z

  // Small coordinates and elevations are written without an exponent.
  const auto small = load((kCorpus / "gpx/track-with-small-floats.gpx").string());
  ASSERT_TRUE(small) << small.error().display();
  const std::string text = gpx::write(*small);
  EXPECT_NE(text.find("<trkpt lat=\"0.000091697\" lon=\"0.00758978\"><ele>10.0</ele>"),
            std::string::npos);
  EXPECT_NE(text.find("<ele>0.000005</ele>"), std::string::npos);
}

// The published GPX 1.1 schema accepts what the writer makes of every corpus file.
TEST(GpxCorpus, WrittenDocumentsValidateAgainstTheSchema) {
  SKIP_WITHOUT_CORPUS();
  const fs::path schema = kCorpus / "xsd/gpx-1.1.xsd";
  if (!fs::is_regular_file(schema)) GTEST_SKIP() << "no GPX schema at " << schema;
  if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "xmllint is not installed";
  }
  char name[] = "/tmp/tramlix-gpx-XXXXXX";
  const int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  for (const fs::path& path : gpx_files()) {
    const auto file = load(path.string());
    if (!file) continue;
    {
      std::ofstream out(name, std::ios::binary | std::ios::trunc);
      out << gpx::write(*file);
    }
    const std::string command =
        "xmllint --noout --nonet --schema '" + schema.string() + "' '" + name + "' >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << path.filename() << " does not validate";
  }
  std::remove(name);
}

}  // namespace
}  // namespace tramlix
