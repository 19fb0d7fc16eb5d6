#include <gtest/gtest.h>

#include <vector>

#include "tramlix/model.hpp"

namespace tramlix {
namespace {

TEST(PointCount, CountsEveryPointOfEverySegment) {
  EXPECT_EQ(ActivityFile{}.point_count(), 0u);

  Activity first;
  // Points without time or position count like any other.
  first.segments = {Segment{{TrackPoint{}, TrackPoint{}, TrackPoint{}}}, Segment{}};
  Activity second;
  second.segments = {Segment{{TrackPoint{}}}, Segment{}, Segment{{TrackPoint{}, TrackPoint{}}}};
  EXPECT_EQ(first.point_count(), 3u);
  EXPECT_EQ(Activity{}.point_count(), 0u);

  ActivityFile file;
  file.activities = {first, Activity{}, second};
  EXPECT_EQ(file.point_count(), 6u);
}

TEST(WithDeviceInfo, ReplacesRatherThanMerges) {
  ActivityFile file;
  file.creator = "watch";
  file.activities.emplace_back();
  file.activities[0].name = "run";
  file.activities[0].segments = {Segment{{TrackPoint{}}}};
  file.device_info.emplace();
  file.device_info->manufacturer = "garmin";
  file.device_info->serial_number = 1234;
  file.device_info->device_index = 0;
  const ActivityFile before = file;

  DeviceInfo replacement;
  replacement.product_name = "Edge 530";
  replacement.software_version = 12.3;
  const ActivityFile updated = file.with_device_info(replacement);

  EXPECT_EQ(updated.device_info, replacement);
  EXPECT_FALSE(updated.device_info->manufacturer);
  EXPECT_FALSE(updated.device_info->serial_number);
  EXPECT_EQ(updated.activities, file.activities);
  EXPECT_EQ(updated.creator, file.creator);
  EXPECT_EQ(file, before);
}

}  // namespace
}  // namespace tramlix
