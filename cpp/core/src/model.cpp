#include "tramlix/model.hpp"

namespace tramlix {

std::size_t Activity::point_count() const {
  std::size_t count = 0;
  for (const Segment& segment : segments) count += segment.points.size();
  return count;
}

std::size_t ActivityFile::point_count() const {
  std::size_t count = 0;
  for (const Activity& activity : activities) count += activity.point_count();
  return count;
}

ActivityFile ActivityFile::with_device_info(const DeviceInfo& info) const {
  ActivityFile copy = *this;
  copy.device_info = info;
  return copy;
}

}  // namespace tramlix
