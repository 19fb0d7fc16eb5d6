// Real FIT files from many devices, and hostile input through loads.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "corpus.hpp"
#include "fit/framing.hpp"
#include "tramlix/io.hpp"

namespace tramlix {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_bytes(const corpus::fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string shown(const std::expected<ActivityFile, Error>& result) {
  return result ? "ok" : result.error().display();
}

std::string name_in_corpus(const corpus::fs::path& path) {
  return path.lexically_relative(corpus::kDir / "fit").string();
}

struct Expected {
  std::size_t activities;
  std::size_t points;
};

// Activities and points per file: records between sessions, as the peer decoder counts them.
// Sessions standing before their records (antfs-dump, compressed-speed-distance) or at the end
// of a multisport file (fenix2) close nothing; the records then form one activity.
const std::map<std::string, Expected> kActivities = {
    {"2013-02-06-12-11-14.fit", {1, 590}},
    {"2015-10-13-08-43-15.fit", {1, 221}},
    {"20170518-191602-1740899583.fit", {1, 1641}},
    {"2019-02-17-062644-ELEMNT-297E-195-0.fit", {1, 13471}},
    {"Activity.fit", {1, 14}},
    {"DeveloperData.fit", {1, 3}},  // records and no session
    {"Edge810-Vector-2013-08-16-15-35-10.fit", {1, 4700}},
    {"activity-large-fenxi2-multisport.fit", {1, 24239}},
    {"activity-settings.fit", {1, 14}},  // an activity chained with a settings file
    {"activity-small-fenix2-run.fit", {1, 2809}},
    {"antfs-dump.63.fit", {1, 686}},              // compressed timestamps
    {"compressed-speed-distance.fit", {1, 755}},  // compressed timestamps
    {"coros-pace-2-cycling-misaligned-fields.fit", {1, 11272}},
    {"developer-types-sample.fit", {1, 3424}},
    {"event_timestamp.fit", {1, 4376}},
    {"garmin-edge-500-activity.fit", {1, 10686}},
    {"garmin-edge-820-bike.fit", {1, 15}},
    {"garmin-fenix-5-bike.fit", {1, 19}},
    {"garmin-fenix-5-run.fit", {1, 21}},
    {"garmin-fenix-5-walk.fit", {1, 17}},
    {"null_compressed_speed_dist.fit", {1, 1808}},
    {"sample-activity-indoor-trainer.fit", {1, 2263}},
    {"sample-activity.fit", {1, 3098}},
    {"sample_mulitple_header.fit", {5, 1773}},  // chained files, a triathlon
    // Damaged where the reader does not look: the second chained file's CRC (no CRC past the
    // first file is checked), and a developer_data_id without an application id.
    {"invalid/activity-activity-filecrc.fit", {2, 28}},
    {"invalid/elemnt-bolt-no-application-id-inside-developer-data-id.fit", {1, 132}},
};

// Settings, workouts, weight scales and monitoring: well-formed, but no records.
const std::set<std::string> kNoRecords = {
    "MonitoringFile.fit",
    "Settings.fit",
    "Settings2.fit",
    "WeightScaleMultiUser.fit",
    "WeightScaleSingleUser.fit",
    "WorkoutCustomTargetValues.fit",
    "WorkoutIndividualSteps.fit",
    "WorkoutRepeatGreaterThanStep.fit",
    "WorkoutRepeatSteps.fit",
    "nametest.FIT",
};

// Broken files and the codec's word for each.
const std::map<std::string, std::string> kBroken = {
    {"invalid/activity-filecrc.fit", "file CRC mismatch: stored 0xB1D5, calculated 0xA1D5"},
    {"invalid/activity-unexpected-eof.fit", "file too short: needed at least 771 bytes, got 768"},
    // The chained second file: ".GIT" for a signature, then a header promising 68 bytes of 15.
    {"invalid/activity-settings-corruptheader.fit",
     "invalid FIT signature at offset 8..12: got [46, 71, 73, 84]"},
    {"invalid/activity-settings-nodata.fit", "file too short: needed at least 82 bytes, got 15"},
    // Activities cut short by their recorders: a stale file CRC, and a data size past the end.
    {"nick.fit", "file CRC mismatch: stored 0x0040, calculated 0x1AD2"},
    {"strava-android-app-201.10-b1218918.fit",
     "file too short: needed at least 78252 bytes, got 78233"},
};

TEST(FitCorpus, EveryFileGivesItsActivitiesOrAClearError) {
  SKIP_WITHOUT_CORPUS("fit");
  std::vector<corpus::fs::path> paths = corpus::files("fit");
  for (const auto& path : corpus::files("fit/invalid")) paths.push_back(path);
  std::size_t seen = 0;
  for (const auto& path : paths) {
    const std::string name = name_in_corpus(path);
    const auto file = load(path.string());
    if (const auto it = kActivities.find(name); it != kActivities.end()) {
      ++seen;
      ASSERT_TRUE(file) << name << ": " << shown(file);
      EXPECT_EQ(file->activities.size(), it->second.activities) << name;
      EXPECT_EQ(file->point_count(), it->second.points) << name;
      EXPECT_EQ(file->creator, "tramlix");
      for (const Activity& activity : file->activities) {
        EXPECT_EQ(activity.segments.size(), 1u) << name;
      }
    } else if (kNoRecords.contains(name)) {
      ++seen;
      EXPECT_EQ(shown(file), "invalid FIT data: no record messages found") << name;
    } else if (const auto broken = kBroken.find(name); broken != kBroken.end()) {
      ++seen;
      EXPECT_EQ(shown(file), "invalid FIT data: " + broken->second) << name;
    } else {
      ADD_FAILURE() << "a corpus file nobody has looked at: " << name << " gives " << shown(file);
    }
  }
  EXPECT_EQ(seen, kActivities.size() + kNoRecords.size() + kBroken.size());
}

// Values checked against the peer decoder by hand: a Garmin watch with five sensors, whose
// device_info messages each overwrite what they carry, down to the last one (a device named by
// number only).
TEST(FitCorpus, FenixRunValues) {
  SKIP_WITHOUT_CORPUS("fit");
  const auto file = load((corpus::kDir / "fit" / "garmin-fenix-5-run.fit").string());
  ASSERT_TRUE(file) << shown(file);
  const Activity& run = file->activities.at(0);
  EXPECT_EQ(run.sport, "running");
  EXPECT_EQ(run.sub_sport, "generic");
  EXPECT_EQ(run.name, "Run");
  EXPECT_EQ(run.start_time, parse_rfc3339("2017-06-11T14:34:09Z"));
  EXPECT_EQ(run.summary.total_elapsed_seconds, 56.887);
  EXPECT_EQ(run.summary.total_distance_meters, 157.56);
  EXPECT_EQ(run.summary.average_speed_mps, 2.77);
  EXPECT_EQ(run.summary.average_heart_rate_bpm, 90.0);
  EXPECT_EQ(run.summary.total_ascent_meters, 2.0);
  const TrackPoint& first = run.segments.at(0).points.at(0);
  EXPECT_EQ(first.time, parse_rfc3339("2017-06-11T14:34:09Z"));
  EXPECT_EQ(first.latitude, 456099128 / 11930464.711111112);
  EXPECT_EQ(first.longitude, -1463077077 / 11930464.711111112);
  EXPECT_DOUBLE_EQ(*first.elevation_m, 2511 / 5.0 - 500);
  EXPECT_EQ(first.heart_rate_bpm, 61);
  EXPECT_EQ(first.temperature_c, 25);
  ASSERT_TRUE(file->device_info);
  const DeviceInfo& device = *file->device_info;
  EXPECT_EQ(device.manufacturer, std::nullopt);
  EXPECT_EQ(device.manufacturer_id, 42768);
  EXPECT_EQ(device.product, std::nullopt);
  EXPECT_EQ(device.product_id, 8195);
  EXPECT_EQ(device.serial_number, 3944483460u);  // the heart rate strap's
  EXPECT_EQ(device.software_version, 34.0);
  EXPECT_EQ(device.device_index, 5);
  EXPECT_EQ(device.source_type, "local");
}

// A FIT file around `records`, with a 14-byte header and both CRCs.
Bytes framed(std::span<const std::uint8_t> records) {
  const auto size = static_cast<std::uint32_t>(records.size());
  Bytes out = {14, 0x20, 0xD0, 0x52};
  for (int shift = 0; shift < 32; shift += 8)
    out.push_back(static_cast<std::uint8_t>(size >> shift));
  out.insert(out.end(), {'.', 'F', 'I', 'T'});
  const std::uint16_t header_crc = fit::crc16({out.data(), 12});
  out.push_back(static_cast<std::uint8_t>(header_crc));
  out.push_back(static_cast<std::uint8_t>(header_crc >> 8));
  out.insert(out.end(), records.begin(), records.end());
  const std::uint16_t crc = fit::crc16(out);
  out.push_back(static_cast<std::uint8_t>(crc));
  out.push_back(static_cast<std::uint8_t>(crc >> 8));
  return out;
}

// The records of the first file in a corpus file.
Bytes records_of(const std::string& name) {
  const Bytes bytes = read_bytes(corpus::kDir / "fit" / name);
  const std::uint32_t size = bytes[4] | bytes[5] << 8 | bytes[6] << 16 | bytes[7] << 24;
  return Bytes(bytes.begin() + bytes[0], bytes.begin() + bytes[0] + size);
}

long peak_kilobytes() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Hostile input ends in a result or an error: never a crash, a hang or a huge allocation.
// Damage is re-framed with fresh CRCs so that it reaches the decoder.
TEST(FitHostileInput, TruncationsAndBitFlips) {
  SKIP_WITHOUT_CORPUS("fit");
  const long peak_before = peak_kilobytes();
  const Bytes whole = read_bytes(corpus::kDir / "fit" / "Activity.fit");
  for (std::size_t n = 0; n < whole.size(); ++n) {
    EXPECT_FALSE(loads({whole.data(), n}, Format::Fit)) << "a prefix of " << n << " bytes";
  }
  const Bytes records = records_of("garmin-fenix-5-run.fit");
  std::size_t loaded = 0;
  for (std::size_t n = 0; n <= records.size(); ++n) {
    loaded += loads(framed({records.data(), n})).has_value();
  }
  EXPECT_GT(loaded, 0u);
  std::mt19937 random(20240501);
  for (int round = 0; round < 3000; ++round) {
    Bytes damaged = records;
    for (int flips = 1 + round % 4; flips > 0; --flips) {
      damaged[random() % damaged.size()] ^= static_cast<std::uint8_t>(1u << random() % 8);
    }
    (void)loads(framed(damaged));
  }
  EXPECT_LT(peak_kilobytes() - peak_before, 256 * 1024);
}

TEST(FitHostileInput, CraftedFiles) {
  // A definition of 255 one-byte fields for record (20), then one data message.
  Bytes wide = {0x40, 0, 0, 20, 0, 255};
  for (int number = 0; number < 255; ++number) {
    wide.insert(wide.end(), {static_cast<std::uint8_t>(number), 1, 2});  // uint8
  }
  wide.push_back(0x00);
  for (int number = 0; number < 255; ++number) wide.push_back(static_cast<std::uint8_t>(number));
  const auto file = loads(framed(wide));
  ASSERT_TRUE(file) << shown(file);
  ASSERT_EQ(file->point_count(), 1u);
  EXPECT_EQ(file->activities[0].segments[0].points[0].heart_rate_bpm, 3);

  // A data message of a local type that was never defined.
  const Bytes undefined = {0x40, 0, 0, 20, 0, 1, 3, 1, 2, 0x00, 120, 0x05, 1};
  EXPECT_EQ(shown(loads(framed(undefined))),
            "invalid FIT data: data message uses undefined local message number 5");

  // Data sizes far beyond the bytes at hand, in the first file and in a chained one.
  Bytes huge = framed({});
  huge[4] = huge[5] = huge[6] = huge[7] = 0xF0;
  EXPECT_EQ(shown(loads(huge)),
            "invalid FIT data: file too short: needed at least 4042322176 "
            "bytes, got 16");
  Bytes chained = framed({wide.data(), wide.size()});
  const Bytes tail = huge;
  chained.insert(chained.end(), tail.begin(), tail.end());
  EXPECT_EQ(shown(loads(chained)),
            "invalid FIT data: file too short: needed at least 4042322176 "
            "bytes, got 16");
}

}  // namespace
}  // namespace tramlix
