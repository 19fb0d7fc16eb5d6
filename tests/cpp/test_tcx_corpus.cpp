#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "corpus.hpp"
#include "tcx/tcx.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

// Real TCX files come back equal from the writer and write again to the same bytes (the written
// documents are validated with those of every other corpus file, in test_writer_corpus.cpp).
TEST(TcxCorpus, RoundTrips) {
  SKIP_WITHOUT_CORPUS("tcx");
  int files = 0;
  for (const auto& path : corpus::files("tcx")) {
    auto file = load(path.string());
    ASSERT_TRUE(file) << path << ": " << file.error().display();
    if (path.filename() == "test.tcx") {  // Notes after the Id name it; a Track in each of 3 laps
      const Activity& a = file->activities.at(0);
      EXPECT_EQ(std::tuple(*a.sport, *a.name, a.segments.size(), a.point_count(),
                           a.segments[0].points.at(0).heart_rate_bpm),
                std::tuple("running", "Aerobics", 3u, 384u, std::optional<std::uint16_t>(62)));
    }
    const std::string first = tcx::write(*file);
    const auto again = tcx::read(first);
    ASSERT_TRUE(again) << path << ": " << again.error().display();
    EXPECT_EQ(*again, *file) << path;
    EXPECT_EQ(tcx::write(*again), first) << path;
    ++files;
  }
  EXPECT_GE(files, 3);
}

}  // namespace
}  // namespace tramlix
