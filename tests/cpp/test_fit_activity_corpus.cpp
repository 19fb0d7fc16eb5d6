// Real FIT files from many devices, and hostile input through loads.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "corpus.hpp"
#include "fit_bytes.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

using fit::testing::Bytes;
using fit::testing::cat;

// "activities/points" of a loaded file, or its error without the label every FIT error has.
std::string shown(const std::expected<ActivityFile, Error>& file) {
  constexpr std::string_view kLabel = "invalid FIT data: ";
  if (!file) {
    const std::string text = file.error().display();
    return text.starts_with(kLabel) ? text.substr(kLabel.size()) : "unlabelled: " + text;
  }
  return std::to_string(file->activities.size()) + "/" + std::to_string(file->point_count());
}

const std::string kNone = "no record messages found";

// Files that do not simply load with points: settings, workouts, weight scales and monitoring
// (well-formed, but no records), broken files with the codec's word for each, and files with
// a shape of their own. The peer decoder checks the activities and points of the rest.
// clang-format off
const std::map<std::string, std::string> kExpected = {
    {"MonitoringFile.fit", kNone}, {"Settings.fit", kNone}, {"Settings2.fit", kNone},
    {"WeightScaleMultiUser.fit", kNone}, {"WeightScaleSingleUser.fit", kNone},
    {"WorkoutCustomTargetValues.fit", kNone}, {"WorkoutIndividualSteps.fit", kNone},
    {"WorkoutRepeatGreaterThanStep.fit", kNone}, {"WorkoutRepeatSteps.fit", kNone},
    {"nametest.FIT", kNone},
    // Seven sessions, one per sport, written after all the records.
    {"activity-large-fenxi2-multisport.fit", "7/24239"},
    // Damage where the reader does not look: a developer_data_id without an application id.
    {"invalid/elemnt-bolt-no-application-id-inside-developer-data-id.fit", "1/132"},
    {"invalid/activity-filecrc.fit", "file CRC mismatch: stored 0xB1D5, calculated 0xA1D5"},
    // The second of two chained files is the first with the same damage.
    {"invalid/activity-activity-filecrc.fit",
     "file CRC mismatch: stored 0xB1D5, calculated 0xA1D5"},
    {"invalid/activity-unexpected-eof.fit", "file too short: needed at least 771 bytes, got 768"},
    // What follows the activity has ".GIT" for a signature: it cannot be a file, and is not read.
    {"invalid/activity-settings-corruptheader.fit", "1/14"},
    {"invalid/activity-settings-nodata.fit", "file too short: needed at least 82 bytes, got 15"},
    // Activities cut short by their recorders: a stale file CRC, and a data size past the end.
    {"nick.fit", "file CRC mismatch: stored 0x0040, calculated 0x1AD2"},
    {"strava-android-app-201.10-b1218918.fit",
     "file too short: needed at least 78252 bytes, got 78233"},
};
// clang-format on

TEST(FitCorpus, EveryFileGivesItsActivitiesOrAClearError) {
  SKIP_WITHOUT_CORPUS("fit");
  for (const char* folder : {"fit", "fit/invalid"}) {
    for (const auto& path : corpus::files(folder)) {
      const std::string name = path.lexically_relative(corpus::kDir / "fit").string();
      const auto file = load(path.string());
      if (const auto it = kExpected.find(name); it != kExpected.end()) {
        EXPECT_EQ(shown(file), it->second) << name;
      } else {
        EXPECT_TRUE(file && file->point_count() > 0) << name << ": " << shown(file);
      }
    }
  }
}

// A FIT file around `records`, with a 14-byte header and both CRCs.
Bytes framed(const Bytes& records) {
  using namespace fit::testing;
  const Bytes header = cat({{14, 0x20}, le16(21200), le32(records.size()), text(".FIT")});
  const Bytes body = cat({header, le16(fit::crc16(header)), records});
  return cat({body, le16(fit::crc16(body))});
}

// Hostile input ends in a result or an error: never a crash, a hang or a huge allocation.
// Damage is re-framed with fresh CRCs so that it reaches the decoder.
TEST(FitHostileInput, TruncationsAndBitFlips) {
  SKIP_WITHOUT_CORPUS("fit");
  const auto peak_kilobytes = [] {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
  };
  const long peak_before = peak_kilobytes();
  // The records of garmin-fenix-5-run.fit, whose header is 14 bytes.
  std::ifstream in(corpus::kDir / "fit" / "garmin-fenix-5-run.fit", std::ios::binary);
  const Bytes file(std::istreambuf_iterator<char>(in), {});
  const Bytes records(file.begin() + 14, file.end() - 2);
  ASSERT_TRUE(loads(framed(records)));
  for (std::size_t n = 0; n < records.size(); ++n) {
    (void)loads(framed(Bytes(records.begin(), records.begin() + n)));
  }
  std::mt19937 random(20240501);
  for (int round = 0; round < 3000; ++round) {
    Bytes damaged = records;
    for (int flips = 1 + round % 4; flips > 0; --flips) {
      damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1u << random() % 8);
    }
    (void)loads(framed(damaged));
  }
#ifndef __SANITIZE_ADDRESS__  // AddressSanitizer holds on to freed memory to catch its use
  EXPECT_LT(peak_kilobytes() - peak_before, 256 * 1024);
#else
  (void)peak_before;
#endif
}

TEST(FitHostileInput, CraftedFiles) {
  // A definition of 255 one-byte uint8 fields for record (20), then one data message.
  Bytes wide = {0x40, 0, 0, 20, 0, 255}, values = {0x00};
  for (int number = 0; number < 255; ++number) {
    wide.insert(wide.end(), {static_cast<std::uint8_t>(number), 1, 2});
    values.push_back(static_cast<std::uint8_t>(number));
  }
  wide = cat({wide, values});
  const auto file = loads(framed(wide));
  ASSERT_EQ(shown(file), "1/1");
  EXPECT_EQ(file->activities[0].segments[0].points[0].heart_rate_bpm, 3);

  const Bytes undefined = {0x40, 0, 0, 20, 0, 1, 3, 1, 2, 0x00, 120, 0x05, 1};
  EXPECT_EQ(shown(loads(framed(undefined))), "data message uses undefined local message number 5");

  // Data sizes far beyond the bytes at hand, in the first file and in a chained one.
  Bytes huge = framed({});
  huge[4] = huge[5] = huge[6] = huge[7] = 0xF0;
  for (const Bytes& input : {huge, cat({framed(wide), huge})}) {
    EXPECT_EQ(shown(loads(input)), "file too short: needed at least 4042322176 bytes, got 16");
  }
}

}  // namespace
}  // namespace tramlix
