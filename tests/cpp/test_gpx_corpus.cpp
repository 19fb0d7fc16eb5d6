#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "corpus.hpp"
#include "gpx/gpx.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

namespace fs = std::filesystem;

const fs::path& kCorpus = corpus::kDir;

// Real GPX files come back equal from the writer and write again to the same bytes (the written
// documents are validated with those of every other corpus file, in test_writer_corpus.cpp).
TEST(GpxCorpus, EveryFileLoadsOrFailsClearlyAndRoundTrips) {
  SKIP_WITHOUT_CORPUS("gpx");
  int loaded = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus / "gpx")) {
    const auto file = load(entry.path().string());
    if (!file) {
      // Well-formed files without a track are the only ones that may fail.
      EXPECT_EQ(file.error().display(), "invalid GPX data: no track segments found")
          << entry.path();
      continue;
    }
    ++loaded;
    const std::string first = gpx::write(*file);
    const auto again = gpx::read(first);
    ASSERT_TRUE(again) << entry.path() << ": " << again.error().display();
    EXPECT_EQ(*again, *file) << entry.path();  // plain equality: no corpus file holds a NaN
    EXPECT_EQ(gpx::write(*again), first) << entry.path();
  }
  EXPECT_GE(loaded, 15);
}

TEST(GpxCorpus, KnownContent) {
  SKIP_WITHOUT_CORPUS("gpx");
  const auto read = [](const char* name) { return load((kCorpus / "gpx" / name).string()); };
  const auto route = read("route.gpx");
  ASSERT_FALSE(route);
  EXPECT_EQ(route.error().display(), "invalid GPX data: no track segments found");

  const ActivityFile korita = read("korita-zbevnica.gpx").value();
  EXPECT_EQ(korita.activities.size(), 4u);
  EXPECT_EQ(korita.point_count(), 871u);

  // A trailing empty segment is kept.
  const ActivityFile empty = read("track-with-empty-segment.gpx").value();
  ASSERT_EQ(empty.activities.size(), 1u);
  const Activity& activity = empty.activities[0];
  ASSERT_EQ(activity.segments.size(), 2u);
  EXPECT_EQ(activity.segments[0].points.size(), 9u);
  EXPECT_TRUE(activity.segments[1].points.empty());
  EXPECT_EQ(activity.name, "2013-07-06T14:59:00Z");
  EXPECT_EQ(activity.start_time, (UtcInstant{1373131586, 0}));  // 2013-07-06T17:26:26Z
}

}  // namespace
}  // namespace tramlix
