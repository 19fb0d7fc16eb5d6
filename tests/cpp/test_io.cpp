#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tramlix/io.hpp"

namespace tramlix {
namespace {

namespace fs = std::filesystem;

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

constexpr std::string_view kGpx =
    "<gpx><trk><name>Run</name><trkseg><trkpt lat=\"1\" lon=\"2\"/><trkpt lat=\"1\" lon=\"2\">"
    "</trkpt></trkseg></trk></gpx>";

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tramlix-io-" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

TEST(Loads, ExplicitFormatIsTrustedWithoutSniffing) {
  std::string fit(16, '\0');
  fit[0] = 14;
  fit.replace(8, 4, ".FIT");
  auto file = loads(bytes(fit), Format::Gpx);
  ASSERT_FALSE(file);
  EXPECT_EQ(file.error().kind(), Error::Kind::InvalidData);
  EXPECT_EQ(file.error().format(), "GPX");
}

TEST(Loads, SniffsAndReads) {
  auto file = loads(bytes(kGpx));
  ASSERT_TRUE(file) << file.error().display();
  EXPECT_EQ(file->point_count(), 1u);
  EXPECT_EQ(file->activities.at(0).name, "Run");
}

TEST_F(TempDir, SaveTakesTheFormatFromTheExtension) {
  const ActivityFile file = *loads(bytes(kGpx));
  ASSERT_TRUE(save(file, path("out.GPX")));
  auto again = load(path("out.GPX"));
  ASSERT_TRUE(again) << again.error().display();
  EXPECT_EQ(*again, file);

  const struct {
    std::string name;
    std::string display;
  } failures[] = {
      {"out", "unsupported or unrecognized activity format: " + path("out") +
                  " has no file extension"},
      {".gpx", "unsupported or unrecognized activity format: " + path(".gpx") +
                   " has no file extension"},
      {"out.gpx/..", "unsupported or unrecognized activity format: " + path("out.gpx/..") +
                         " has no file extension"},
      {"out.", "unsupported or unrecognized activity format: "},
      {"out.kml", "unsupported or unrecognized activity format: kml"},
  };
  for (const auto& failure : failures) {
    auto saved = save(file, path(failure.name));
    ASSERT_FALSE(saved) << failure.name;
    EXPECT_EQ(saved.error().display(), failure.display);
    EXPECT_FALSE(fs::exists(path(failure.name)) && fs::is_regular_file(path(failure.name)))
        << "nothing may be written for " << failure.name;
  }
}

TEST_F(TempDir, IoErrorsNameThePath) {
  auto missing = load(path("missing.gpx"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind(), Error::Kind::Io);
  EXPECT_EQ(missing.error().display(),
            "cannot read or write " + path("missing.gpx") + ": No such file or directory");

  auto directory = load(dir_.string());
  ASSERT_FALSE(directory);
  EXPECT_EQ(directory.error().kind(), Error::Kind::Io);

  const ActivityFile file = *loads(bytes(kGpx));
  auto unwritable = save(file, path("no/such/dir/out.gpx"));
  ASSERT_FALSE(unwritable);
  EXPECT_EQ(unwritable.error().kind(), Error::Kind::Io);
}

TEST_F(TempDir, PathsWithNulBytesNeverReachTheFileSystem) {
  // Opening "a\0.gpx" would otherwise create or read the file "a".
  std::ofstream(path("a")) << kGpx;
  const std::string with_nul = path("a") + std::string("\0.gpx", 5);
  auto loaded = load(with_nul);
  ASSERT_FALSE(loaded);
  EXPECT_EQ(loaded.error().kind(), Error::Kind::Io);
  auto saved = save(*loads(bytes(kGpx)), with_nul);
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().kind(), Error::Kind::Io);
  EXPECT_EQ(fs::file_size(path("a")), kGpx.size());
}

TEST(Dumps, FormatsWithoutAWriterYetSaySo) {
  auto tcx = dumps(ActivityFile{}, Format::Tcx);
  ASSERT_FALSE(tcx);
  EXPECT_EQ(tcx.error().display(),
            "unsupported or unrecognized activity format: TCX is not supported yet");
}

}  // namespace
}  // namespace tramlix
