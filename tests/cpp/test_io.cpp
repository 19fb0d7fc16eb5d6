#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "tramlix/io.hpp"

namespace tramlix {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUnsupported = "unsupported or unrecognized activity format: ";
constexpr std::string_view kGpx =
    "<gpx><trk><name>Run</name><trkseg><trkpt lat=\"1\" lon=\"2\"/></trkseg></trk></gpx>";

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

template <class T>
std::string shown(const std::expected<T, Error>& result) {
  return result ? "ok" : result.error().display();
}

class Io : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_); }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  const fs::path dir_ = fs::temp_directory_path() / ("tramlix-io-" + std::to_string(::getpid()));
  const ActivityFile file_ = *loads(bytes(kGpx));
};

TEST_F(Io, LoadsTrustsAnExplicitFormatWithoutSniffing) {
  EXPECT_EQ(file_.activities.at(0).name, "Run");
  const std::string_view fit("\x0e\0\0\0\0\0\0\0.FIT\0\0\0\0", 16);
  EXPECT_EQ(shown(loads(bytes(fit), Format::Gpx)).substr(0, 18), "invalid GPX data: ");
  EXPECT_EQ(shown(loads(bytes(fit))).substr(0, 36), "invalid FIT data: file CRC mismatch:");
}

TEST_F(Io, SaveTakesTheFormatFromTheExtension) {
  ASSERT_EQ(shown(save(file_, path("out.GPX"))), "ok");
  EXPECT_EQ(load(path("out.GPX")), file_);
  // FIT by the extension in any case; reading finds it by the content.
  ActivityFile with_point = file_;
  with_point.activities.at(0).segments.at(0).points.emplace_back().longitude = 2.0;
  ASSERT_EQ(shown(save(with_point, path("out.Fit"))), "ok");
  const auto fit = load(path("out.Fit"));
  ASSERT_EQ(shown(fit), "ok");
  EXPECT_NEAR(fit->activities.at(0).segments.at(0).points.at(0).longitude.value_or(0), 2.0, 1e-7);
  const std::string no_extension = " has no file extension";
  const std::pair<std::string, std::string> failures[] = {
      {"out", path("out") + no_extension}, {".gpx", path(".gpx") + no_extension},
      {"out.gpx/..", path("out.gpx/..") + no_extension}, {"out.", ""}, {"out.kml", "kml"}};
  for (const auto& [name, message] : failures) {
    EXPECT_EQ(shown(save(file_, path(name))), std::string(kUnsupported) + message);
    EXPECT_FALSE(fs::is_regular_file(path(name))) << "nothing may be written for " << name;
  }
}

TEST_F(Io, SaveCompressesWhenGzFollowsAKnownExtension) {
  const auto starts_gzip = [](const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return in.get() == 0x1f && in.get() == 0x8b;
  };
  ActivityFile timed = file_;  // TCX keeps only timed points, GPX only positioned ones
  TrackPoint point;
  point.time = UtcInstant{1'700'000'000, 0};
  point.latitude = 46.05;
  point.longitude = 14.5;
  timed.activities.at(0).segments.at(0).points = {point};
  for (const std::string name : {"run.gpx.gz", "run.TCX.Gz", "run.fit.GZ"}) {
    ASSERT_EQ(shown(save(timed, path(name))), "ok") << name;
    EXPECT_TRUE(starts_gzip(path(name))) << name;
    const auto again = load(path(name));
    ASSERT_EQ(shown(again), "ok") << name;
    EXPECT_EQ(again->activities.at(0).segments.at(0).points.at(0).time,
              timed.activities[0].segments[0].points[0].time)
        << name;
  }
  // Loading by content: a compressed file needs no ".gz" in its name.
  fs::rename(path("run.TCX.Gz"), path("run.tcx"));
  EXPECT_EQ(shown(load(path("run.tcx"))), "ok");
  // Without a known format before it, ".gz" is an unknown extension like any other.
  const std::pair<std::string, std::string> failures[] = {
      {"run.gz", "gz"}, {".gpx.gz", "gz"}, {"run.kml.gz", "kml"}, {"run.gpx.gz.gz", "gz"}};
  for (const auto& [name, message] : failures) {
    EXPECT_EQ(shown(save(file_, path(name))), std::string(kUnsupported) + message);
    EXPECT_FALSE(fs::exists(path(name))) << name;
  }
}

TEST_F(Io, IoErrorsNameThePath) {
  const auto io_error = [](const std::string& file, const char* reason) {
    return "cannot read or write " + file + ": " + reason;
  };
  const std::string missing = path("missing.gpx");
  EXPECT_EQ(shown(load(missing)), io_error(missing, "No such file or directory"));
  EXPECT_EQ(shown(load(dir_.string())), io_error(dir_.string(), "Is a directory"));
  const std::string nowhere = path("no/such/dir/out.gpx");
  EXPECT_EQ(shown(save(file_, nowhere)), io_error(nowhere, "No such file or directory"));
  // Opening "a\0.gpx" would otherwise create or read the file "a".
  std::ofstream(path("a")) << kGpx;
  const std::string with_nul = path("a") + std::string("\0.gpx", 5);
  EXPECT_EQ(shown(load(with_nul)), io_error(with_nul, "Invalid argument"));
  EXPECT_EQ(shown(save(file_, with_nul)), io_error(with_nul, "Invalid argument"));
  EXPECT_EQ(fs::file_size(path("a")), kGpx.size());
}

}  // namespace
}  // namespace tramlix

namespace tramlix {
namespace {

// A pipe has no size to go by: the whole stream must still arrive, however many reads it takes.
TEST(IoPipe, ReadsStreamsOfUnknownLength) {
  const auto fifo =
      std::filesystem::temp_directory_path() / ("tramlix-fifo-" + std::to_string(::getpid()));
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string document = "<gpx><trk><trkseg>";
  for (int i = 0; i < 5000; ++i) document += "<trkpt lat=\"1.5\" lon=\"2.5\"><ele>3</ele></trkpt>";
  document += "</trkseg></trk></gpx>";
  std::thread writer([&] { std::ofstream(fifo) << document; });
  auto file = load(fifo.string());
  writer.join();
  std::filesystem::remove(fifo);
  ASSERT_TRUE(file) << file.error().display();
  EXPECT_EQ(file->point_count(), 5000u);
}

}  // namespace
}  // namespace tramlix
